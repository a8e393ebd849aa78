#include "testenv.h"

#include "library/sheet.h"
#include "platform/text.h"
#include "search/fold.h"
#include "search/textfinder.h"

#include <QRandomGenerator>
#include <QStringDecoder>
#include <QTemporaryDir>

#include <unicode/ubrk.h>

using namespace Qt::StringLiterals;
namespace search = orvik::search;

namespace {

// Random text from pieces that change length when folded (ß, ẞ, marks that
// drop), keep it (umlauts, ASCII) or take the slow paths (emoji, Hangul).
QString randomText(QRandomGenerator& random, int pieces) {
    static const QStringList parts =
        u"a|Straße|ẞ|Äpfel|e\u0301| |\r\n|😀|한|İ|ǅ|\u0345|@|🇩🇪|🏽|\u200d"_s
            .split(u'|')
            .replaceInStrings(u"@"_s, u"x"_s.repeated(40));
    QString s;
    for (int i = 0; i < pieces; ++i)
        s += parts[random.bounded(int(parts.size()))];
    return s;
}

// The Unicode boundary rules as ICU implements them, step by step.
struct Boundaries {
    UBreakIterator* it = nullptr;
    qsizetype size = 0;
    explicit Boundaries(QStringView s) : size(s.size()) {
        UErrorCode error = U_ZERO_ERROR;
        it = ubrk_open(UBRK_CHARACTER, "", s.utf16(), int32_t(s.size()), &error);
    }
    ~Boundaries() { ubrk_close(it); }
    qsizetype count() {
        qsizetype n = 0;
        for (int32_t b = ubrk_first(it); (b = ubrk_next(it)) != UBRK_DONE;)
            ++n;
        return n;
    }
    // Where `steps` characters from `from` lead.
    qsizetype move(qsizetype from, qsizetype steps) {
        for (; steps != 0 && size > 0; steps += steps < 0 ? 1 : -1) {
            const int32_t next =
                steps < 0 ? ubrk_preceding(it, int32_t(from)) : ubrk_following(it, int32_t(from));
            if (next == UBRK_DONE)
                return steps < 0 ? 0 : size;
            from = next;
        }
        return from;
    }
};

} // namespace

class TestFold : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Folding into a reused buffer gives what a fresh fold gives, whatever the
    // buffer held before: longer or shorter texts, with or without changed
    // lengths, invalid UTF-8 that failed.
    void findFoldedGivesWholeCharacters_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("query");
        QTest::addColumn<QList<qsizetype>>("bounds"); // start, end, start, end, …
        QTest::newRow("case and umlaut")
            << u"Äpfel und apfel"_s << u"APFEL"_s << QList<qsizetype>{0, 5, 10, 15};
        QTest::newRow("combining accent")
            << u"cafe\u0301 café"_s << u"Cafe"_s << QList<qsizetype>{0, 5, 6, 10};
        QTest::newRow("ss in ß, once") << u"Straße"_s << u"s"_s << QList<qsizetype>{0, 1, 4, 5};
        QTest::newRow("after emoji") << u"😀 Maß"_s << u"mass"_s << QList<qsizetype>{3, 6};
        QTest::newRow("lone surrogate")
            << QChar(0xd800) + u"ab"_s << u"b"_s << QList<qsizetype>{2, 3};
        QTest::newRow("lone accent") << u"e\u0301"_s << u"\u0301"_s << QList<qsizetype>{};
        QTest::newRow("empty query") << u"abc"_s << QString() << QList<qsizetype>{};
    }

    void findFoldedGivesWholeCharacters() {
        QFETCH(QString, text);
        QFETCH(QString, query);
        QFETCH(QList<qsizetype>, bounds);
        QList<qsizetype> found;
        for (const search::TextRange& hit : search::findFolded(text, query))
            found << hit.start << hit.end;
        QCOMPARE(found, bounds);
    }

    void foldIntoReusedBufferEqualsFreshFold() {
        QRandomGenerator random(7);
        search::FoldedText reused;
        const auto same = [](const search::Checkpoint& a, const search::Checkpoint& b) {
            return a.original == b.original && a.folded == b.folded;
        };
        for (int n = 0; n < 300; ++n) {
            const QByteArray text = randomText(random, int(random.bounded(400))).toUtf8();
            const auto fresh = search::foldUtf8(text);
            QVERIFY(fresh && search::foldUtf8Into(text, reused));
            QCOMPARE(reused.bytes, fresh->bytes);
            QVERIFY(std::equal(reused.checkpoints.begin(), reused.checkpoints.end(),
                               fresh->checkpoints.begin(), fresh->checkpoints.end(), same));
            if (n % 100 == 0)
                QVERIFY(!search::foldUtf8Into("\xC3", reused));
        }
        for (const QByteArray& bad : {QByteArray("ab\xFF"), QByteArray("\xC3"),
                                      QByteArray("\xED\xA0\x80"), QByteArray("\xC0\xAF")}) {
            QVERIFY2(!search::foldUtf8Into(bad, reused), bad.toHex().constData());
            QVERIFY(!search::foldUtf8(bad));
        }
        QVERIFY(search::foldUtf8Into(QByteArray("ÜBER Straße"), reused));
        QCOMPARE(reused.bytes, QByteArray("uber strasse"));
    }

    // A text told apart without folding lacks the phrase: whatever the
    // phrase, never Absent for a text whose fold holds it or for invalid
    // UTF-8. Pieces that fold into the phrase's letters (ý, ſ, K, ẞ, marks
    // between letters, decomposed letters), the pair across the sixteen-byte
    // blocks and around characters beyond ASCII; and Absent where it is.
    void presenceWithoutFoldingNeverMissesTheFold() {
        QRandomGenerator random(11);
        const QStringList parts =
            u"xy|XY|Xy|x|y|Y|ý|Ÿ|ẏ|ỹ|ÿ|x́|́|ſ|s|ẞ|ß|K|K|ol|lo|ö|„|–|"
            u"😀|한| |\n|abcdefghijklmno|Straße|kl|Kaffee|x‍y"_s.split(u'|');
        const QStringList queries =
            u"Xylophon|xy|fuß|STRASSE|kaffee|ko|x-y|😀x|ÿx|lös"_s.split(u'|');
        int absent = 0;
        for (int n = 0; n < 4000; ++n) {
            QString text;
            for (int k = int(random.bounded(40)); k > 0; --k)
                text += parts[random.bounded(int(parts.size()))];
            const QString query = queries[n % queries.size()];
            const search::PhraseFinder finder(search::foldQuery(query));
            QByteArray bytes = text.toUtf8();
            if (n % 7 == 0)
                bytes.insert(random.bounded(bytes.size() + 1), "\xC3");
            const auto folded = search::foldUtf8(bytes);
            const auto presence = finder.presenceIn(bytes);
            const QByteArray shown = text.toUtf8().toHex();
            if (!folded)
                QVERIFY2(presence != search::PhraseFinder::Presence::Absent, shown.constData());
            else if (finder.indexIn(folded->bytes, 0) >= 0)
                QVERIFY2(presence == search::PhraseFinder::Presence::Possible,
                         qPrintable(query + u" in "_s + text));
            absent += presence == search::PhraseFinder::Presence::Absent;
        }
        QVERIFY(absent > 300); // it does rule texts out
        const search::PhraseFinder xylophon(search::foldQuery(u"Xylophon"_s));
        QCOMPARE(xylophon.presenceIn("\xE2\x80\x9EKl\xC3\xA4nge\xE2\x80\x9C im Garten"),
                 search::PhraseFinder::Presence::Absent);
        QCOMPARE(xylophon.presenceIn("ein Xylophon"), search::PhraseFinder::Presence::Possible);
        QCOMPARE(xylophon.presenceIn("Hallo \xFF"), search::PhraseFinder::Presence::Invalid);
    }

    // A sheet loads exactly when Qt's decoder takes its bytes without error:
    // random bytes around every length and range edge of UTF-8.
    void sheetLoadsExactlyValidUtf8() {
        QTemporaryDir dir;
        const QString path = dir.filePath(u"x.md"_s);
        const QList<QByteArray> pieces =
            QByteArray(
                "a|bbbbbbbbbbbbbbbbbbbb|\xC2\x80|\xC1\xBF|\xDF\xBF|\xE0\x9F\x80|\xE0\xA0\x80|"
                "\xED\x9F\xBF|\xED\xA0\x80|\xEF\xBF\xBF|\xF0\x8F\x80\x80|\xF0\x90\x80\x80|"
                "\xF4\x8F\xBF\xBF|\xF4\x90\x80\x80|\xF5|\x80|\xC3|\xE2\x82|\xFF|\n")
                .split('|');
        QRandomGenerator random(5);
        for (int n = 0; n < 500; ++n) {
            QByteArray bytes;
            for (int k = 0, count = int(random.bounded(1, 8)); k < count; ++k)
                bytes += pieces[random.bounded(int(pieces.size()))];
            QVERIFY(orvik::test::writeBytes(path, bytes));
            QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
            const QString decoded = decoder.decode(bytes);
            QCOMPARE(orvik::Sheet::load(path).has_value(), !decoder.hasError());
        }
    }

    // The shortcut for text whose characters are clusters of their own must
    // agree with the Unicode boundary rules everywhere.
    void graphemeShortcutsFollowTheBoundaryRules() {
        // Each one character, whatever follows (Qt 6.4's own rules split a flag after an emoji).
        for (const QString& one : {u"😀"_s, u"👍🏽"_s, u"🇩🇪"_s, u"👨‍👩‍👧‍👦"_s,
                                   u"e\u0301\u0308"_s, u"\r\n"_s}) {
            const QString s = one + u"😀🇩🇪👍🏽🇩🇪🇦🇹"_s;
            QCOMPARE(orvik::text::graphemeCount(s), 6);
            QCOMPARE(orvik::text::leftGraphemes(s, 3), one + u"😀🇩🇪"_s);
            QCOMPARE(orvik::text::moveByGraphemes(s, s.size(), -5), one.size());
        }
        QRandomGenerator random(11);
        for (int n = 0; n < 400; ++n) {
            const QString s = randomText(random, int(random.bounded(12)));
            Boundaries rules(s);
            QCOMPARE(orvik::text::graphemeCount(s), rules.count());
            const qsizetype from = s.isEmpty() ? 0 : random.bounded(int(s.size()) + 1);
            const qsizetype steps = random.bounded(-30, 30);
            QCOMPARE(orvik::text::moveByGraphemes(s, from, steps), rules.move(from, steps));
            const int keep = random.bounded(0, 20);
            QCOMPARE(orvik::text::leftGraphemes(s, keep),
                     s.left(orvik::text::moveByGraphemes(s, 0, keep)));
        }
    }
};

ORVIK_TEST_MAIN(TestFold)
#include "tst_fold.moc"
