#include "httpserver.h"
#include "testenv.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

using namespace Qt::StringLiterals;
using orvik::test::HttpServer;

namespace {

const QByteArray forecast =
    "{\"current\":{\"temperature_2m\":21.6,\"weather_code\":0},"
    "\"daily\":{\"temperature_2m_max\":[24.5],\"temperature_2m_min\":[11.2]}}";

QByteArray feed(const QList<QByteArray>& titles) {
    QByteArray xml = "<?xml version=\"1.0\"?><rss version=\"2.0\"><channel><title>Kanal</title>";
    for (const QByteArray& t : titles)
        xml += "<item><title>" + t + "</title></item>";
    return xml + "</channel></rss>";
}

} // namespace

// The network commands of the built binary, pointed at a server in this process.
class TestCliDaily : public QObject {
    Q_OBJECT

    HttpServer m_server;
    QTemporaryDir m_home;

    struct Result {
        int code = -1;
        QByteArray out;
        QString err;
        QString text() const { return QString::fromUtf8(out); }
        QJsonValue json() const {
            QJsonParseError error;
            const QJsonDocument doc = QJsonDocument::fromJson(out, &error);
            if (error.error != QJsonParseError::NoError)
                qWarning("not JSON: %s", out.constData());
            return doc.isArray() ? QJsonValue(doc.array()) : QJsonValue(doc.object());
        }
    };

    // Runs orvik without blocking this thread's event loop, which the server needs.
    Result orvik(const QStringList& args, const QHash<QString, QString>& env = {}) {
        QProcess p;
        QProcessEnvironment e = orvik::test::environmentWithHome(m_home.path());
        e.insert(u"ORVIK_WEATHER_URL"_s, m_server.baseUrl());
        e.insert(u"ORVIK_NEWS_URL"_s, m_server.baseUrl());
        e.insert(u"ORVIK_GEOCODER_URL"_s, m_server.baseUrl());
        e.insert(u"ORVIK_UPDATE_FEED"_s, m_server.baseUrl() + u"/feed.json"_s);
        for (auto it = env.cbegin(); it != env.cend(); ++it)
            e.insert(it.key(), it.value());
        p.setProcessEnvironment(e);
        p.start(QStringLiteral(ORVIK_BINARY), args);
        if (!p.waitForStarted(10000) ||
            !QTest::qWaitFor([&] { return p.state() == QProcess::NotRunning; }, 60000))
            qFatal("orvik did not finish");
        return {p.exitCode(), p.readAllStandardOutput(),
                QString::fromUtf8(p.readAllStandardError())};
    }

    void writeSettings(const QByteArray& ini) {
        QVERIFY(orvik::test::writeBytes(m_home.path() + u"/.config/Orvik/Orvik.conf"_s, ini));
    }

private Q_SLOTS:
    void init() {
        m_server.clear();
        QFile::remove(m_home.path() + u"/.config/Orvik/Orvik.conf"_s);
    }

    void contextWithTheDefaultPlace() {
        m_server.route(u"/v1/forecast"_s, HttpServer::ok(forecast));
        m_server.route(u"/index~rss2.xml"_s,
                       HttpServer::ok(feed({"Erste Schlagzeile des Tages hier",
                                            "Video: Zweite Schlagzeile des Tages",
                                            "Dritte Schlagzeile &amp; mehr davon"}),
                                      "application/rss+xml"));
        const Result r = orvik({u"context"_s});
        QVERIFY2(r.code == 0, qPrintable(r.err));
        QCOMPARE(r.text(), u"---\n\n"
                           u"*Schwülper · 22 °C · klar · Tag 11–25 °C*\n\n"
                           u"*Tagesschau:*\n"
                           u"*– Erste Schlagzeile des Tages hier*\n"
                           u"*– Dritte Schlagzeile & mehr davon*\n"_s);
        QCOMPARE(m_server.requests(u"/v1/forecast"_s).first().query.section(u'&', 0, 1),
                 u"latitude=52.3459667&longitude=10.4499328"_s);
    }

    void diaryEntryWaitsForItsContext() {
        m_server.route(u"/v1/forecast"_s, HttpServer::ok(forecast));
        m_server.route(
            u"/index~rss2.xml"_s,
            HttpServer::ok(feed({"Erste Schlagzeile des Tages hier"}), "application/rss+xml"));
        const QString library = m_home.path() + u"/Bibliothek"_s;
        const Result r = orvik({u"--library"_s, library, u"new"_s, u"--template"_s,
                                u"Tagebucheintrag"_s, u"--json"_s});
        QVERIFY2(r.code == 0, qPrintable(r.err));
        const QString path = r.json()[u"path"_s].toString();
        QVERIFY2(path.startsWith(library + u"/Tagebuch/"_s), qPrintable(path));
        const QString text = QString::fromUtf8(orvik::test::readBytes(path));
        QVERIFY2(text.endsWith(u"\n\n\n\n\n---\n\n*Schwülper · 22 °C · klar · Tag 11–25 °C*\n\n"
                               u"*Tagesschau:*\n*– Erste Schlagzeile des Tages hier*"_s),
                 qPrintable(text));
    }

    void contextFollowsTheSettings() {
        writeSettings("[General]\nOrvikLocationName=M\xc3\xbcnchen\nOrvikLatitude=48.137\n"
                      "OrvikLongitude=11.575\nOrvikIncludeNews=false\n");
        m_server.route(u"/v1/forecast"_s, HttpServer::ok(forecast));
        const Result r = orvik({u"context"_s, u"--json"_s});
        QVERIFY2(r.code == 0, qPrintable(r.err));
        QCOMPARE(r.json()[u"weather"_s].toString(), u"München · 22 °C · klar · Tag 11–25 °C"_s);
        QCOMPARE(r.json()[u"headlines"_s].toArray(), QJsonArray());
        QCOMPARE(m_server.requests().size(), 1);
        QCOMPARE(m_server.requests().first().query.section(u'&', 0, 1),
                 u"latitude=48.137&longitude=11.575"_s);
    }

    void contextThatStaysEmpty() {
        const Result r = orvik({u"context"_s}); // every path answers 404
        QVERIFY2(r.code == 0, qPrintable(r.err));
        QCOMPARE(r.text(), u"---\n\n*Wetter und Nachrichten waren nicht abrufbar.*\n"_s);
        QCOMPARE(m_server.requests().size(), 2);

        const Result json = orvik({u"--json"_s, u"context"_s});
        QVERIFY2(json.code == 0, qPrintable(json.err));
        QVERIFY(json.json()[u"weather"_s].isNull());
        QCOMPARE(json.json()[u"headlines"_s].toArray(), QJsonArray());

        writeSettings("[General]\nOrvikIncludeWeather=false\nOrvikIncludeNews=false\n");
        m_server.clear();
        QCOMPARE(orvik({u"context"_s}).text(),
                 u"---\n\n*Wetter und Nachrichten waren nicht abrufbar.*\n"_s);
        QVERIFY(m_server.requests().isEmpty());
    }

    void places() {
        m_server.route(
            u"/v1/search"_s,
            HttpServer::ok("{\"results\":[{\"name\":\"Braunschweig\",\"latitude\":52.26594,"
                           "\"longitude\":10.52673,\"admin1\":\"Niedersachsen\","
                           "\"country\":\"Deutschland\"},"
                           "{\"name\":\"Brunsbüttel\",\"latitude\":53.9,\"longitude\":9.13}]}"));
        const Result json = orvik({u"places"_s, u"--json"_s, u" Braunschweig "_s});
        QVERIFY2(json.code == 0, qPrintable(json.err));
        const QJsonArray places = json.json().toArray();
        QCOMPARE(places.size(), 2);
        QCOMPARE(places[0].toObject(), (QJsonObject{{u"name"_s, u"Braunschweig"_s},
                                                    {u"region"_s, u"Niedersachsen, Deutschland"_s},
                                                    {u"latitude"_s, 52.26594},
                                                    {u"longitude"_s, 10.52673},
                                                    {u"id"_s, u"52.26594,10.52673"_s}}));
        QCOMPARE(places[1][u"region"_s].toString(), QString());
        QCOMPARE(m_server.requests().first().query,
                 u"name=Braunschweig&count=10&language=de&format=json"_s);

        const Result text = orvik({u"places"_s, u"Braunschweig"_s});
        QVERIFY2(text.code == 0, qPrintable(text.err));
        QVERIFY(text.text().startsWith(
            u"Braunschweig\n  Niedersachsen, Deutschland\n  52.26594,10.52673\n"_s));
    }

    void placesFindingNothing() {
        const Result r = orvik({u"places"_s, u"Atlantis"_s}); // 404
        QVERIFY2(r.code == 0, qPrintable(r.err));
        QCOMPARE(r.text(),
                 u"Kein Ort gefunden. Versuch es mit einem größeren Ort in der Nähe.\n"_s);
        QCOMPARE(orvik({u"places"_s, u"   "_s, u"--json"_s}).json().toArray(), QJsonArray());
        QCOMPARE(m_server.requests().size(), 1); // the blank query asked nobody
    }

    void checkUpdate_data() {
        QTest::addColumn<QByteArray>("answer"); // empty: the server fails
        QTest::addColumn<QJsonObject>("json");
        QTest::addColumn<QString>("text");
        QTest::newRow("available")
            << QByteArray("{\"version\":\"99.1\",\"date\":\"12. Mai 2025\",\"downloadURL\":"
                          "\"https://orvik.example/99.1\",\"notes\":[\"Schneller\",\"Ruhiger\"]}")
            << QJsonObject{{u"result"_s, u"available"_s},
                           {u"version"_s, u"99.1"_s},
                           {u"date"_s, u"12. Mai 2025"_s},
                           {u"notes"_s, QJsonArray{u"Schneller"_s, u"Ruhiger"_s}},
                           {u"downloadURL"_s, u"https://orvik.example/99.1"_s}}
            << u"Orvik 99.1 ist verfügbar\nDu hast " ORVIK_VERSION u" · erschienen 12. Mai 2025\n"
               u"  · Schneller\n  · Ruhiger\nLaden: https://orvik.example/99.1\n"_s;
        QTest::newRow("up to date")
            << QByteArray("{\"version\":\"0.0.1\",\"downloadURL\":\"https://o.example/x\"}")
            << QJsonObject{{u"result"_s, u"upToDate"_s}} << u"Du hast die neueste Fassung.\n"_s;
        QTest::newRow("failing") << QByteArray()
                                 << QJsonObject{{u"result"_s, u"failed"_s},
                                                {u"message"_s,
                                                 u"Die Update-Adresse antwortete unerwartet."_s}}
                                 << QString();
    }
    void checkUpdate() {
        QFETCH(QByteArray, answer);
        QFETCH(QString, text);
        m_server.route(u"/feed.json"_s,
                       answer.isEmpty() ? HttpServer::status(500) : HttpServer::ok(answer));
        const Result json = orvik({u"check-update"_s, u"--json"_s});
        QVERIFY2(json.code == 0, qPrintable(json.err));
        QTEST(json.json().toObject(), "json");
        if (!text.isEmpty()) {
            QCOMPARE(orvik({u"check-update"_s}).text(), text);
        } else { // nor does a missing address fail the command
            const Result none = orvik({u"check-update"_s}, {{u"ORVIK_UPDATE_FEED"_s, QString()}});
            QVERIFY2(none.code == 0, qPrintable(none.err));
            QCOMPARE(none.text(), u"Es ist keine Update-Adresse hinterlegt.\n"_s);
        }
    }

    void usage() {
        const Result help = orvik({u"--help"_s});
        for (const char* name : {"context", "places ORT", "check-update"})
            QVERIFY2(help.out.contains(name), name);
        QCOMPARE(orvik({u"places"_s}).code, 2);
        QCOMPARE(orvik({u"context"_s, u"heute"_s}).code, 2);
        QCOMPARE(orvik({u"check-update"_s, u"--group"_s, u"x"_s}).code, 2);
        QVERIFY(m_server.requests().isEmpty());
    }
};

ORVIK_TEST_MAIN(TestCliDaily)
#include "tst_cli_daily.moc"
