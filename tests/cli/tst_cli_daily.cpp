#include "httpserver.h"
#include "orvikrun.h"

#include <QTemporaryDir>

using namespace Qt::StringLiterals;
using orvik::test::HttpServer;
using orvik::test::Run;

namespace {

const QByteArray forecast = "{\"current\":{\"temperature_2m\":21.6,\"weather_code\":0},\"daily\":"
                            "{\"temperature_2m_max\":[24.5],\"temperature_2m_min\":[11.2]}}";

HttpServer::Reply feed(const QList<QByteArray>& titles) {
    QByteArray xml = "<?xml version=\"1.0\"?><rss version=\"2.0\"><channel><title>Kanal</title>";
    for (const QByteArray& t : titles)
        xml += "<item><title>" + t + "</title></item>";
    return HttpServer::ok(xml + "</channel></rss>", "application/rss+xml");
}

} // namespace

// The network commands of the built binary, pointed at a server in this process.
class TestCliDaily : public QObject {
    Q_OBJECT

    HttpServer m_server;
    QTemporaryDir m_home;

    // `line` split at spaces, then `more`; with `feed` false no update address is set.
    Run orvik(const QString& line, const QStringList& more = {}, bool feed = true) {
        QProcessEnvironment env = orvik::test::environmentWithHome(m_home.path());
        for (const char* name : {"ORVIK_WEATHER_URL", "ORVIK_NEWS_URL", "ORVIK_GEOCODER_URL"})
            env.insert(QString::fromLatin1(name), m_server.baseUrl());
        env.insert(u"ORVIK_UPDATE_FEED"_s, feed ? m_server.baseUrl() + u"/feed.json"_s : QString());
        const QStringList args = QStringList{QStringLiteral(ORVIK_BINARY)} + line.split(u' ');
        return orvik::test::run(args + more, m_home.path(), env);
    }
    // Its output if it ended with code 0, otherwise the code and what it said.
    static QString done(const Run& r) { return r.code ? u"%1: "_s.arg(r.code) + r.err : r.text(); }
    // Its JSON in compact form (keys sorted) if it ended with code 0, otherwise what it said.
    static QByteArray compact(const Run& r) {
        return r.code ? r.err.toUtf8()
                      : QJsonDocument::fromJson(r.out).toJson(QJsonDocument::Compact);
    }

private Q_SLOTS:
    void init() {
        m_server.clear();
        QFile::remove(m_home.path() + u"/.config/Orvik/Orvik.conf"_s);
    }

    // Also guards against a diary entry written before its weather and headlines arrived.
    void contextWithTheDefaultPlaceAndTheDiaryEntryWaitingForIt() {
        m_server.route(u"/v1/forecast"_s, HttpServer::ok(forecast));
        m_server.route(u"/index~rss2.xml"_s, feed({"Erste Schlagzeile des Tages hier",
                                                   "Video: Zweite Schlagzeile des Tages",
                                                   "Dritte Schlagzeile &amp; mehr davon"}));
        const QString context =
            u"---\n\n*Schwülper · 22 °C · klar · Tag 11–25 °C*\n\n*Tagesschau:*\n"
            u"*– Erste Schlagzeile des Tages hier*\n*– Dritte Schlagzeile & mehr davon*"_s;
        QCOMPARE(done(orvik(u"context"_s)), context + u'\n');
        QCOMPARE(m_server.requests(u"/v1/forecast"_s).first().query.section(u'&', 0, 1),
                 u"latitude=52.3459667&longitude=10.4499328"_s);

        const QString library = m_home.path() + u"/Bibliothek"_s;
        const QString path = orvik(u"--library "_s + library +
                                   u" new --template Tagebucheintrag --json"_s)[u"path"_s]
                                 .toString();
        QVERIFY2(path.startsWith(library + u"/Tagebuch/"_s), qPrintable(path));
        QVERIFY(
            QString::fromUtf8(orvik::test::readBytes(path)).endsWith(u"\n\n\n\n\n"_s + context));
    }

    void contextFollowsTheSettings() {
        QVERIFY(
            orvik::test::writeBytes(m_home.path() + u"/.config/Orvik/Orvik.conf"_s,
                                    "[General]\nOrvikLocationName=M\xc3\xbcnchen\nOrvikLatitude="
                                    "48.137\nOrvikLongitude=11.575\nOrvikIncludeNews=false\n"));
        m_server.route(u"/v1/forecast"_s, HttpServer::ok(forecast));
        QCOMPARE(compact(orvik(u"context --json"_s)),
                 R"({"headlines":[],"weather":"München · 22 °C · klar · Tag 11–25 °C"})");
        QCOMPARE(m_server.requests().size(), 1);
        QCOMPARE(m_server.requests().first().query.section(u'&', 0, 1),
                 u"latitude=48.137&longitude=11.575"_s);
    }

    void places() {
        m_server.route(
            u"/v1/search"_s,
            HttpServer::ok(
                R"({"results":[{"name":"Braunschweig","latitude":52.26594,)"
                R"("longitude":10.52673,"admin1":"Niedersachsen","country":"Deutschland"}]})"));
        QCOMPARE(compact(orvik(u"places --json"_s, {u" Braunschweig "_s})),
                 R"([{"id":"52.26594,10.52673","latitude":52.26594,"longitude":10.52673,)"
                 R"("name":"Braunschweig","region":"Niedersachsen, Deutschland"}])");
        QCOMPARE(done(orvik(u"places Braunschweig"_s)),
                 u"Braunschweig\n  Niedersachsen, Deutschland\n  52.26594,10.52673\n"_s);
        QCOMPARE(orvik(u"places --json"_s, {u"   "_s}).json().toArray(), QJsonArray());
        QCOMPARE(m_server.requests().size(), 2); // the blank query asked nobody
    }

    // Every path answers 404, the update feed 500: each command still ends well and says so.
    void nothingAnswers() {
        m_server.route(u"/feed.json"_s, HttpServer::status(500));
        QCOMPARE(done(orvik(u"context"_s)),
                 u"---\n\n*Wetter und Nachrichten waren nicht abrufbar.*\n"_s);
        QCOMPARE(m_server.requests().size(), 2);
        QCOMPARE(compact(orvik(u"--json context"_s)), R"({"headlines":[],"weather":null})");
        QCOMPARE(done(orvik(u"places Atlantis"_s)),
                 u"Kein Ort gefunden. Versuch es mit einem größeren Ort in der Nähe.\n"_s);
        QCOMPARE(compact(orvik(u"check-update --json"_s)),
                 R"({"message":"Die Update-Adresse antwortete unerwartet.","result":"failed"})");
        QCOMPARE(done(orvik(u"check-update"_s, {}, false)),
                 u"Es ist keine Update-Adresse hinterlegt.\n"_s);
    }

    void checkUpdate_data() {
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<QString>("text");
        // Not raw: moc takes a "//" inside a raw string for a comment.
        const QByteArray offer =
            "\"date\":\"12. Mai 2025\",\"downloadURL\":\"https://orvik.example/99.1\","
            "\"notes\":[\"Schneller\",\"Ruhiger\"]";
        QTest::newRow("available")
            << "{" + offer + R"(,"version":"99.1"})"
            << "{" + offer + R"(,"result":"available","version":"99.1"})"
            << u"Orvik 99.1 ist verfügbar\nDu hast " ORVIK_VERSION u" · erschienen 12. Mai 2025\n"
               u"  · Schneller\n  · Ruhiger\nLaden: https://orvik.example/99.1\n"_s;
        QTest::newRow("up to date")
            << QByteArray("{\"version\":\"0.0.1\",\"downloadURL\":\"https://o.example/x\"}")
            << QByteArray(R"({"result":"upToDate"})") << u"Du hast die neueste Fassung.\n"_s;
    }
    void checkUpdate() {
        QFETCH(QByteArray, answer);
        m_server.route(u"/feed.json"_s, HttpServer::ok(answer));
        QTEST(compact(orvik(u"check-update --json"_s)), "json");
        QTEST(done(orvik(u"check-update"_s)), "text");
    }

    void usage() {
        const Run help = orvik(u"--help"_s);
        for (const char* name : {"context", "places ORT", "check-update"})
            QVERIFY2(help.out.contains(name), name);
        for (const QString& wrong : {u"places"_s, u"context heute"_s, u"check-update --group x"_s})
            QCOMPARE(orvik(wrong).code, 2);
        QVERIFY(m_server.requests().isEmpty());
    }
};

ORVIK_TEST_MAIN(TestCliDaily)
#include "tst_cli_daily.moc"
