#include "testenv.h"

#include "updates/appcast.h"
#include "updates/appversion.h"
#include "updates/updatechecker.h"

#include <QSysInfo>

using namespace Qt::StringLiterals;
using orvik::Appcast;
using orvik::AppVersion;
using orvik::UpdateChecker;
using orvik::UpdateCheckResult;

namespace {

// JSON written with ' for ".
QByteArray json(const char* text) {
    return QByteArray(text).replace('\'', '"');
}

AppVersion v(const QString& s) {
    return AppVersion(s);
}

Appcast feed(const QString& version,
             const QString& download = u"https://orvik.example/Orvik.tar.gz"_s) {
    Appcast f;
    f.version = version;
    f.downloadURL = download;
    return f;
}

const QString badDownload = u"Die Ladeadresse ist ungültig oder nicht verschlüsselt."_s;

} // namespace

// Version numbers, the feed document and the decision between them.
class TestUpdateVersion : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void parsing_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QList<qint64>>("parts");
        QTest::addColumn<QString>("raw");
        QTest::newRow("plain") << u"1.4.2"_s << QList<qint64>{1, 4, 2} << u"1.4.2"_s;
        QTest::newRow("padded") << u" \t2.0 "_s << QList<qint64>{2, 0} << u"2.0"_s;
        QTest::newRow("letter") << u"1.2b"_s << QList<qint64>{1, 2} << u"1.2b"_s;
        QTest::newRow("beta") << u"1.2.3-beta4"_s << QList<qint64>{1, 2, 34} << u"1.2.3-beta4"_s;
        QTest::newRow("v prefix") << u"v2.0"_s << QList<qint64>{2, 0} << u"v2.0"_s;
        QTest::newRow("letters only") << u"abc"_s << QList<qint64>{0} << u"abc"_s;
        QTest::newRow("empty") << QString() << QList<qint64>{0} << QString();
        QTest::newRow("empty pieces") << u"1..2"_s << QList<qint64>{1, 0, 2} << u"1..2"_s;
        QTest::newRow("trailing dot") << u"3."_s << QList<qint64>{3, 0} << u"3."_s;
        QTest::newRow("no sign") << u"-5"_s << QList<qint64>{5} << u"-5"_s;
        QTest::newRow("superscript") << u"1.2\u00B2"_s << QList<qint64>{1, 0} << u"1.2\u00B2"_s;
        QTest::newRow("fraction") << u"1.\u00BD"_s << QList<qint64>{1, 0} << u"1.\u00BD"_s;
        QTest::newRow("arabic digits") << u"\u0663.1"_s << QList<qint64>{0, 1} << u"\u0663.1"_s;
        QTest::newRow("too big") << u"99999999999999999999.1"_s << QList<qint64>{0, 1}
                                 << u"99999999999999999999.1"_s;
        QTest::newRow("biggest") << u"9223372036854775807"_s << QList<qint64>{9223372036854775807}
                                 << u"9223372036854775807"_s;
        QTest::newRow("line break kept") << u"1.0\n"_s << QList<qint64>{1, 0} << u"1.0\n"_s;
    }
    void parsing() {
        QFETCH(QString, text);
        const AppVersion version(text);
        QTEST(version.parts, "parts");
        QTEST(version.raw, "raw");
        QCOMPARE(version.description(), version.raw);
    }

    void comparison() {
        QVERIFY(v(u"1.2.0"_s) == v(u"1.2"_s) && v(u"1.2"_s) <= v(u"1.2.0"_s));
        QVERIFY(v(u"1.2"_s) >= v(u"1.2.0"_s) && !(v(u"1.2"_s) < v(u"1.2.0"_s)));
        QVERIFY(v(u"1.10"_s) > v(u"1.9"_s) && v(u"2"_s) > v(u"1.99"_s));
        QVERIFY(v(u"1.0.1"_s) > v(u"1"_s) && v(u"0.9.9"_s) < v(u"1"_s));
        QVERIFY(v(u"abc"_s) == v(u"0"_s) && v(QString()) == v(u"0.0.0"_s));
        QVERIFY(v(u"v2.0"_s) == v(u"2"_s)); // numbers, not text
        QVERIFY(v(u"1.2"_s) != v(u"1.2.1"_s));
    }

    void feedDocument() {
        const auto full = Appcast::fromJson(
            json("{'version':'1.4.2','date':'12. Mai 2025','downloadURL':'https://o.example/1',"
                 "'notes':['Eins','Zwei'],'minimumSystemVersion':'11','extra':{'x':true}}"));
        QVERIFY(full);
        QCOMPARE(full->version, u"1.4.2"_s);
        QCOMPARE(full->date, std::optional<QString>(u"12. Mai 2025"_s));
        QCOMPARE(full->downloadURL, u"https://o.example/1"_s);
        QCOMPARE(full->notes, std::optional<QStringList>({u"Eins"_s, u"Zwei"_s}));
        QCOMPARE(full->minimumSystemVersion, std::optional<QString>(u"11"_s));
        const auto minimal =
            Appcast::fromJson(json("{'version':'2','downloadURL':'x','date':null}"));
        QVERIFY(minimal);
        QCOMPARE(minimal->date, std::nullopt);
        QCOMPARE(minimal->notes, std::nullopt);
    }

    void unreadableFeedDocuments_data() {
        QTest::addColumn<QByteArray>("json");
        QTest::newRow("notes a string")
            << json("{'version':'2','downloadURL':'https://a.b','notes':'neu'}");
        QTest::newRow("note a number")
            << json("{'version':'2','downloadURL':'https://a.b','notes':['a',1]}");
        QTest::newRow("version missing") << json("{'downloadURL':'https://a.b'}");
        QTest::newRow("version a number") << json("{'version':2,'downloadURL':'https://a.b'}");
        QTest::newRow("version null") << json("{'version':null,'downloadURL':'https://a.b'}");
        QTest::newRow("download missing") << json("{'version':'2'}");
        QTest::newRow("date a number")
            << json("{'version':'2','downloadURL':'https://a.b','date':2025}");
        QTest::newRow("minimum a number")
            << json("{'version':'2','downloadURL':'https://a.b','minimumSystemVersion':11}");
        QTest::newRow("a list") << json("[{'version':'2','downloadURL':'https://a.b'}]");
        QTest::newRow("not JSON") << QByteArray("version=2");
        QTest::newRow("empty") << QByteArray();
    }
    void unreadableFeedDocuments() {
        QFETCH(QByteArray, json);
        QCOMPARE(Appcast::fromJson(json), std::nullopt);
    }

    void offeredUpdateCarriesTheFeed() {
        Appcast f = feed(u"1.4.2"_s);
        f.date = u"12. Mai 2025"_s;
        f.notes = QStringList{u"Schneller"_s, u"Schöner"_s};
        const UpdateCheckResult r = UpdateChecker::evaluate(f, v(u"1.3"_s), v(u"12"_s));
        QCOMPARE(r.kind, UpdateCheckResult::Kind::Available);
        QCOMPARE(r.update->version.raw, u"1.4.2"_s);
        QCOMPARE(r.update->current.raw, u"1.3"_s);
        QCOMPARE(r.update->date, f.date);
        QCOMPARE(r.update->notes, *f.notes);
        QCOMPARE(r.update->downloadURL, QUrl(u"https://orvik.example/Orvik.tar.gz"_s));
        QCOMPARE(r.update->id(), u"1.4.2"_s);
        const UpdateCheckResult bare = UpdateChecker::evaluate(feed(u"2"_s), v(u"1"_s), {});
        QCOMPARE(bare.update->notes, QStringList());
        QCOMPARE(bare.update->date, std::nullopt);
    }

    // The running system is given as its distribution's text: one that is no
    // number says nothing about the minimum (read as 0 it would hide every update).
    // Expected: "neu", "aktuell" or the failure's message.
    void decision_data() {
        QTest::addColumn<QString>("offered");
        QTest::addColumn<QString>("download");
        QTest::addColumn<QString>("minimum"); // null: none
        QTest::addColumn<QString>("system");
        QTest::addColumn<QString>("expected");
        const QString https = u"https://orvik.example/x"_s;
        QTest::newRow("same") << u"1.3.0"_s << https << QString() << u"12"_s << u"aktuell"_s;
        QTest::newRow("older") << u"1.2.9"_s << https << QString() << u"12"_s << u"aktuell"_s;
        QTest::newRow("system too old") << u"9"_s << https << u"99"_s << u"12"_s << u"aktuell"_s;
        QTest::newRow("system new enough") << u"9"_s << https << u"12.0"_s << u"12"_s << u"neu"_s;
        for (const QString& os : {u"n/a"_s, u"unknown"_s, u"trixie/sid"_s, u""_s, u"12\n"_s})
            QTest::addRow("system %s", qPrintable(os))
                << u"9"_s << https << u"99"_s << os << u"neu"_s;
        QTest::newRow("upper-case scheme")
            << u"2"_s << u"HTTPS://Orvik.example/x"_s << QString() << u"12"_s << u"neu"_s;
        // The address is checked first: even a feed that offers nothing newer fails.
        for (const QString& address :
             {u"http://orvik.example/O.tar.gz"_s, u"https:///O.tar.gz"_s, QString(),
              u"Orvik.tar.gz"_s, u"ftp://orvik.example/x"_s, u"https://orvik example/x"_s})
            for (const QString& offered : {u"9"_s, u"0.1"_s})
                QTest::addRow("%s offering %s", qPrintable(address), qPrintable(offered))
                    << offered << address << u"99"_s << u"12"_s << badDownload;
    }
    void decision() {
        QFETCH(QString, offered);
        QFETCH(QString, download);
        QFETCH(QString, minimum);
        QFETCH(QString, system);
        QFETCH(QString, expected);
        Appcast f = feed(offered, download);
        if (!minimum.isNull())
            f.minimumSystemVersion = minimum;
        const UpdateCheckResult r =
            UpdateChecker::evaluate(f, v(u"1.3"_s), UpdateChecker::numericVersion(system));
        if (expected == u"neu")
            QCOMPARE(r.kind, UpdateCheckResult::Kind::Available);
        else if (expected == u"aktuell")
            QCOMPARE(r, UpdateCheckResult::upToDate());
        else
            QCOMPARE(r, UpdateCheckResult::failed(expected));
    }

    void runningVersions() {
        QCOMPARE(UpdateChecker::currentVersion().raw, QStringLiteral(ORVIK_VERSION));
        QCOMPARE(UpdateChecker::currentBuild(), QStringLiteral(ORVIK_BUILD_NUMBER));
        // Linux: Qt does not know the platform's version; the distribution's counts.
        QCOMPARE(UpdateChecker::runningSystemVersion(),
                 UpdateChecker::numericVersion(QSysInfo::productVersion()));
        QCOMPARE(UpdateChecker::numericVersion(u"22.04"_s), v(u"22.04"_s));
    }
};

ORVIK_TEST_MAIN(TestUpdateVersion)
#include "tst_update_version.moc"
