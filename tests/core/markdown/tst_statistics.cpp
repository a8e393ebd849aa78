#include "markdown/statistics.h"

#include <QTest>

using namespace Qt::StringLiterals;
using namespace orvik::statistics;

class TestStatistics : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // Hand-counted syllables, including the vowel pairs the rule must keep
    // together or apart.
    void syllables_data() {
        QTest::addColumn<QString>("word");
        QTest::addColumn<int>("expected");
        const std::pair<const char16_t*, int> rows[] = {
            {u"Hund", 1},        {u"läuft", 1},          {u"Wiese", 2}, {u"schreiben", 2},
            {u"Bäume", 2},       {u"Feuer", 2},          {u"Mauer", 2}, {u"Theater", 3},
            {u"Nation", 3},      {u"Quelle", 2},         {u"See", 1},   {u"Schifffahrt", 2},
            {u"Übersetzung", 4}, {u"Zusammenarbeit", 5}, {u"Typ", 1},   {u"BMW", 1},
        };
        for (const auto& [word, count] : rows)
            QTest::newRow(QString::fromUtf16(word).toUtf8()) << QString::fromUtf16(word) << count;
    }
    void syllables() {
        QFETCH(QString, word);
        QFETCH(int, expected);
        QCOMPARE(germanSyllables(word), expected);
    }

    // A hand-counted sheet: the markup, the rule, the link target and the code
    // block are no text; "3." and "z. B." end no sentence.
    void handCountedSheet() {
        const QString sheet = u"# Ein Tag am See\n\n"
                              "Der Hund läuft schnell über die Wiese. Am 3. Mai kam z. B. der "
                              "**Regen**!\n\n---\n\n"
                              "- Ein [kurzer Weg](https://example.org/weg) zum Haus\n\n"
                              "```sh\necho nicht gezählt\n```\n"_s;
        QCOMPARE(prose(sheet), u"Ein Tag am See\nDer Hund läuft schnell über die Wiese. Am 3. Mai "
                               "kam z. B. der Regen!\nEin kurzer Weg zum Haus"_s);
        const TextStatistics s = measure(sheet);
        QCOMPARE(s.words, 24);
        QCOMPARE(s.sentences, 4);
        QCOMPARE(s.paragraphs, 3);
        QCOMPARE(s.charactersWithSpaces, 106);
        QCOMPARE(s.charactersWithoutSpaces, 85);
        QCOMPARE(s.syllables, 28);
        QCOMPARE(s.monosyllables, 20);
        QCOMPARE(s.polysyllables, 0);
        QCOMPARE(s.longWords, 1);
        QCOMPARE(s.averageSentenceLength(), 6.0);
        QVERIFY(qAbs(*s.fleschAmstad() - 105.75) < 1e-9);
        QVERIFY(qAbs(*s.wienerSachtextformel() -
                     (0.1672 * 6 + 0.1297 * 100.0 / 24 - 0.0327 * 2000.0 / 24 - 0.875)) < 1e-9);
        QCOMPARE(s.readingMinutes(), 1);
        QCOMPARE(s.speakingMinutes(), 1);
    }

    void emptyAndLong() {
        const TextStatistics none = measure(u"# \n\n---\n"_s);
        QCOMPARE(none.words, 0);
        QVERIFY(!none.fleschAmstad() && !none.wienerSachtextformel());
        QString text;
        for (int i = 0; i < 130 * 3; ++i)
            text += u"Wort "_s;
        const TextStatistics three = measure(text);
        QCOMPARE(three.sentences, 1);
        QCOMPARE(three.speakingMinutes(), 3);
        QCOMPARE(three.readingMinutes(), 1);
    }
};

QTEST_GUILESS_MAIN(TestStatistics)
#include "tst_statistics.moc"
