#include "markdown/outline.h"

#include <QTest>

using namespace Qt::StringLiterals;
using namespace orvik::outline;

class TestOutline : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // Each row: a sheet and its headings as "level:position:text", joined by "|".
    void headings_data() {
        QTest::addColumn<QString>("sheet");
        QTest::addColumn<QString>("expected");
        QTest::newRow("levels") << u"# Eins\nText\n## Zwei\n###### Sechs"_s
                                << u"1:0:Eins|2:12:Zwei|6:20:Sechs"_s;
        QTest::newRow("not headings")
            << u"#Kein\n####### sieben\n #eingerückt\n# \nText # x"_s << QString();
        QTest::newRow("closing marks and blanks")
            << u"##\tTitel ##  \n# C# lernen\n# ###"_s << u"2:0:Titel|1:14:C# lernen"_s;
        // A fence never closed starts no code, as in the editor.
        QTest::newRow("fenced code")
            << u"```\n# Kommentar\n```\n# Danach\n```\n# offen"_s << u"1:20:Danach|1:33:offen"_s;
    }
    void headings() {
        QFETCH(QString, sheet);
        QFETCH(QString, expected);
        QStringList got;
        for (const Heading& h : orvik::outline::headings(sheet))
            got.append(u"%1:%2:%3"_s.arg(h.level).arg(h.position).arg(h.text));
        QCOMPARE(got.join(u'|'), expected);
    }

    void sectionAt() {
        const QList<Heading> list = orvik::outline::headings(u"Vorwort\n# A\nx\n## B\ny"_s);
        QCOMPARE(orvik::outline::sectionAt(list, 3), -1);
        QCOMPARE(orvik::outline::sectionAt(list, 8), 0);
        QCOMPARE(orvik::outline::sectionAt(list, 14), 1);
        QCOMPARE(orvik::outline::sectionAt(list, 19), 1);
    }
};

QTEST_APPLESS_MAIN(TestOutline)
#include "tst_outline.moc"
