#include "testenv.h"

#include "updates/updatechecker.h"

using namespace Qt::StringLiterals;
using namespace orvik;

namespace {

// JSON written with ' for "; a readable feed document with `extra` members.
QByteArray json(const QByteArray& text) {
    return QByteArray(text).replace('\'', '"');
}
QByteArray feedJson(const char* extra = "") {
    return json("{'version':'2','downloadURL':'https://a.b'" + QByteArray(extra) + "}");
}

using V = AppVersion;

} // namespace

// Version numbers, the feed document and the decision between them.
class TestUpdateVersion : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void parsing_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QList<qint64>>("parts");
        QTest::newRow("plain") << u"1.4.2"_s << QList<qint64>{1, 4, 2};
        QTest::newRow("padded") << u" \t2.0 "_s << QList<qint64>{2, 0};
        QTest::newRow("letter") << u"1.2b"_s << QList<qint64>{1, 2};
        QTest::newRow("beta") << u"1.2.3-beta4"_s << QList<qint64>{1, 2, 34};
        QTest::newRow("v prefix") << u"v2.0"_s << QList<qint64>{2, 0};
        QTest::newRow("letters only") << u"abc"_s << QList<qint64>{0};
        QTest::newRow("empty") << QString() << QList<qint64>{0};
        QTest::newRow("empty pieces") << u"1..2"_s << QList<qint64>{1, 0, 2};
        QTest::newRow("no sign") << u"-5"_s << QList<qint64>{5};
        QTest::newRow("superscript") << u"1.\u00B2"_s << QList<qint64>{1, 0};
        QTest::newRow("arabic digits") << u"\u0663.1"_s << QList<qint64>{0, 1};
        QTest::newRow("too big") << u"99999999999999999999.1"_s << QList<qint64>{0, 1};
        QTest::newRow("biggest") << u"9223372036854775807"_s << QList<qint64>{9223372036854775807};
        QTest::newRow("line break") << u"1.0\n"_s << QList<qint64>{1, 0};
    }
    void parsing() {
        QFETCH(QString, text);
        QTEST(V(text).parts, "parts");
    }

    void comparison() {
        QVERIFY(V(u"1.2.0"_s) == V(u"1.2"_s) && V(u"1.2"_s) <= V(u"1.2.0"_s));
        QVERIFY(V(u"1.2"_s) >= V(u"1.2.0"_s) && !(V(u"1.2"_s) < V(u"1.2.0"_s)));
        QVERIFY(V(u"1.10"_s) > V(u"1.9"_s) && V(u"2"_s) > V(u"1.99"_s));
        QVERIFY(V(u"1.0.1"_s) > V(u"1"_s) && V(u"0.9.9"_s) < V(u"1"_s));
        QVERIFY(V(u"abc"_s) == V(u"0"_s) && V(QString()) == V(u"0.0.0"_s));
        QVERIFY(V(u"v2.0"_s) == V(u"2"_s) && V(u"1.2"_s) != V(u"1.2.1"_s)); // numbers, not text
        QCOMPARE(V(u" \t2.0\n"_s).description(), u"2.0\n"_s); // only blanks and tabs dropped
    }

    // Unknown members are ignored, null is absent, a member of the wrong type spoils it all.
    void feedDocuments_data() {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<std::optional<Appcast>>("expected");
        const QString url = u"https://a.b"_s;
        QTest::newRow("full")
            << feedJson(",'date':'D','notes':['a'],'minimumSystemVersion':'1','x':0")
            << std::optional(Appcast{u"2"_s, u"D"_s, url, QStringList{u"a"_s}, u"1"_s});
        QTest::newRow("null date")
            << feedJson(",'date':null") << std::optional(Appcast{u"2"_s, {}, url, {}, {}});
        const auto bad = [](const char* name, const QByteArray& json) {
            QTest::newRow(name) << json << std::optional<Appcast>();
        };
        bad("notes a string", feedJson(",'notes':'neu'"));
        bad("note a number", feedJson(",'notes':['a',1]"));
        bad("date a number", feedJson(",'date':2025"));
        bad("minimum a number", feedJson(",'minimumSystemVersion':11"));
        bad("version missing", json("{'downloadURL':'https://a.b'}"));
        bad("version a number", json("{'version':2,'downloadURL':'https://a.b'}"));
        bad("version null", json("{'version':null,'downloadURL':'https://a.b'}"));
        bad("download missing", json("{'version':'2'}"));
        bad("a list", "[" + feedJson() + "]");
        bad("not JSON", "version=2");
        bad("empty", {});
    }
    void feedDocuments() {
        QFETCH(QByteArray, json);
        QFETCH(std::optional<Appcast>, expected);
        QCOMPARE(Appcast::fromJson(json), expected);
    }

    // A running system whose version is no number says nothing about the minimum (read as 0 it
    // would hide every update). The address is checked first: even a feed that offers nothing
    // newer fails.
    void decision_data() {
        using K = UpdateCheckResult::Kind;
        QTest::addColumn<Appcast>("feed");
        QTest::addColumn<QString>("system");
        QTest::addColumn<K>("kind");
        const auto row = [](const QString& name, const QString& offered, const QString& download,
                            const QString& minimum, const QString& system, K kind) {
            const auto min = minimum.isNull() ? std::nullopt : std::optional(minimum);
            QTest::newRow(qPrintable(name))
                << Appcast{offered, {}, download, {}, min} << system << kind;
        };
        const QString https = u"https://orvik.example/x"_s;
        row(u"same"_s, u"1.3.0"_s, https, {}, u"12"_s, K::UpToDate);
        row(u"older"_s, u"1.2.9"_s, https, {}, u"12"_s, K::UpToDate);
        row(u"system too old"_s, u"9"_s, https, u"99"_s, u"12"_s, K::UpToDate);
        row(u"system new enough"_s, u"9"_s, https, u"12.0"_s, u"12"_s, K::Available);
        for (const QString& os : {u"n/a"_s, u"unknown"_s, u"trixie/sid"_s, u""_s, u"12\n"_s})
            row(u"system "_s + os, u"9"_s, https, u"99"_s, os, K::Available);
        row(u"upper-case scheme"_s, u"2"_s, u"HTTPS://O.example/x"_s, {}, u"12"_s, K::Available);
        for (const QString& address :
             {u"http://orvik.example/O.tar.gz"_s, u"https:///O.tar.gz"_s, QString(),
              u"Orvik.tar.gz"_s, u"ftp://orvik.example/x"_s, u"https://orvik example/x"_s})
            for (const QString& offered : {u"9"_s, u"0.1"_s})
                row(address + u' ' + offered, offered, address, u"99"_s, u"12"_s, K::Failed);
    }
    void decision() {
        QFETCH(Appcast, feed);
        QFETCH(QString, system);
        QFETCH(UpdateCheckResult::Kind, kind);
        const auto r =
            UpdateChecker::evaluate(feed, V(u"1.3"_s), UpdateChecker::numericVersion(system));
        QCOMPARE(r.kind, kind);
        if (kind == UpdateCheckResult::Kind::Failed)
            QCOMPARE(r.message, u"Die Ladeadresse ist ungültig oder nicht verschlüsselt."_s);
    }
};

ORVIK_TEST_MAIN(TestUpdateVersion)
#include "tst_update_version.moc"
