#include "httpserver.h"
#include "testenv.h"

#include "platform/http.h"
#include "updates/updatechecker.h"

#include <QDir>
#include <QElapsedTimer>
#include <QSettings>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;
using namespace orvik;
using namespace orvik::test;
using Kind = UpdateCheckResult::Kind;

static const QString feedPath = u"/orvik/appcast.json"_s;
static const QByteArray newerFeed = "{\"version\":\"99.1\",\"notes\":[\"Eins\",\"Zwei\"],"
                                    "\"downloadURL\":\"https://orvik.example/O-99.1.tar.gz\"}";
static const QString noFeed = u"Es ist keine Update-Adresse hinterlegt."_s;
static const QString unreachable = u"Die Update-Adresse war nicht erreichbar."_s;
static const QString unexpected = u"Die Update-Adresse antwortete unerwartet."_s;
static const QString unreadable = u"Die Versionsdatei ließ sich nicht lesen."_s;
static const QString lastCheckKey = u"OrvikLastUpdateCheck"_s;

// The update check against a local stand-in for the feed's server.
class TestUpdateChecker : public QObject {
    Q_OBJECT

    HttpServer m_server;
    const net::Timeouts m_fast{2s, 5s};

    UpdateCheckResult check(const HttpServer::Reply& reply, net::Timeouts limits = {2s, 5s}) {
        m_server.route(feedPath, reply);
        return await(UpdateChecker::check(limits));
    }
    std::optional<AvailableUpdate> background(const HttpServer::Reply& reply) {
        m_server.route(feedPath, reply);
        return await(UpdateChecker::checkInBackground(m_fast));
    }
    static QSettings settings() { return QSettings(u"Orvik"_s, u"Orvik"_s); }
    static QDateTime lastCheck() { return settings().value(lastCheckKey).toDateTime(); }

private Q_SLOTS:
    void init() {
        m_server.clear();
        settings().clear();
        qputenv("ORVIK_UPDATE_FEED", (m_server.baseUrl() + feedPath).toUtf8());
    }

    // Up to date, then, after the session ended, a newer version behind a redirect.
    void newerVersionIsReported() {
        const QByteArray same = QByteArray(newerFeed).replace("99.1", ORVIK_VERSION);
        QCOMPARE(check(HttpServer::ok(same)), UpdateCheckResult::upToDate());
        const QPointer<QObject> first = net::session();
        net::endSession();
        QVERIFY(first.isNull());
        net::endSession(); // nothing left to end
        m_server.route(u"/neu.json"_s, HttpServer::ok(newerFeed));
        const auto r = check(HttpServer::redirect(m_server.baseUrl() + u"/neu.json"_s, 301));
        QCOMPARE(r.kind, Kind::Available);
        QCOMPARE(r.update->version.raw, u"99.1"_s);
        QCOMPARE(r.update->current, UpdateChecker::currentVersion());
        QCOMPARE(r.update->notes, (QStringList{u"Eins"_s, u"Zwei"_s}));
        QCOMPARE(m_server.requests().size(), 3);
        QCOMPARE(m_server.requests().first().method, QByteArray("GET"));
    }

    // The address comes from the variable, even an empty one.
    void failures_data() {
        QTest::addColumn<HttpServer::Reply>("reply");
        QTest::addColumn<QByteArray>("address"); // null: the server's
        QTest::addColumn<QString>("message");
        const auto row = [](const char* name, const HttpServer::Reply& reply,
                            const QString& message, const QByteArray& address = {}) {
            QTest::newRow(name) << reply << address << message;
        };
        row("500", HttpServer::status(500, newerFeed), unexpected);
        row("204", HttpServer::status(204), unexpected);
        row("HTML", HttpServer::ok("<html></html>", "text/html"), unreadable);
        row("redirect loop", HttpServer::redirect(feedPath), unreachable);
        HttpServer::Reply huge =
            HttpServer::ok(newerFeed + QByteArray(UpdateChecker::maxFeedBytes, ' '));
        row("oversize", huge, unreadable);
        row("oversize 500", HttpServer::status(500, huge.body), unexpected);
        huge.chunked = true;
        row("oversize, chunked", huge, unreadable);
        const QString file = QDir::home().filePath(u"feed.json"_s);
        QVERIFY(writeBytes(file, newerFeed));
        row("no address", {}, noFeed, "");
        row("no URL", {}, noFeed, "http://[zerbrochen");
        row("no server", {}, unreachable, "http://127.0.0.1:1/f.json");
        row("relative", {}, unreachable, "relative/feed.json");
        row("file", {}, unexpected, QUrl::fromLocalFile(file).toEncoded());
    }
    void failures() {
        QFETCH(HttpServer::Reply, reply);
        QFETCH(QByteArray, address);
        QFETCH(QString, message);
        if (!address.isNull())
            qputenv("ORVIK_UPDATE_FEED", address);
        if (!address.isNull() && address.isEmpty()) // answered at once, asking nobody
            QVERIFY(UpdateChecker::check().isFinished());
        QCOMPARE(check(reply, m_fast), UpdateCheckResult::failed(message));
    }

    // A silent server and one that trickles are cut off by the time-outs.
    void timeouts() {
        HttpServer::Reply stalled;
        stalled.stall = true;
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(check(stalled, {200ms, 200ms}), UpdateCheckResult::failed(unreachable));
        HttpServer::Reply trickle = HttpServer::ok(newerFeed);
        trickle.trickleBytes = 4;
        trickle.trickleInterval = 30ms;
        QCOMPARE(check(trickle, {200ms, 300ms}), UpdateCheckResult::failed(unreachable));
        QVERIFY2(clock.elapsed() < 4000, qPrintable(QString::number(clock.elapsed())));
    }

    // Switched off it asks nobody and stores nothing; a last check of the wrong kind is none.
    void backgroundCheckOffersANewerVersion() {
        settings().setValue(u"OrvikCheckForUpdates"_s, false);
        const auto off = UpdateChecker::checkInBackground(m_fast);
        QVERIFY(off.isFinished() && !off.result() && !lastCheck().isValid());
        QVERIFY(m_server.requests().isEmpty());
        settings().setValue(u"OrvikCheckForUpdates"_s, true);
        settings().setValue(lastCheckKey, u"gestern"_s);
        const QDateTime before = QDateTime::currentDateTimeUtc().addSecs(-1);
        const auto update = background(HttpServer::ok(newerFeed));
        QVERIFY(update && lastCheck() >= before);
        QCOMPARE(update->version.raw, u"99.1"_s);
    }

    // Every check counts, a failed one and one without an address too, and is kept in the file;
    // the next one waits a day, also after a time in the future.
    void backgroundCheckKeepsADay() {
        m_server.route(feedPath, HttpServer::status(500));
        const QDateTime now = QDateTime::currentDateTime();
        for (int hours : {-23, 1}) {
            settings().setValue(lastCheckKey, now.addSecs(hours * 3600));
            QCOMPARE(await(UpdateChecker::checkInBackground(m_fast)), std::nullopt);
        }
        QVERIFY(m_server.requests().isEmpty());
        settings().setValue(lastCheckKey, now.addSecs(-25 * 3600));
        QCOMPARE(await(UpdateChecker::checkInBackground(m_fast)), std::nullopt);
        QCOMPARE(m_server.requests().size(), 1);
        QVERIFY(lastCheck() >= now.addSecs(-1));
        QVERIFY(readBytes(settings().fileName()).contains("OrvikLastUpdateCheck"));
        QCOMPARE(await(UpdateChecker::checkInBackground(m_fast)), std::nullopt);
        QCOMPARE(m_server.requests().size(), 1);
        settings().clear();
        qputenv("ORVIK_UPDATE_FEED", "");
        QCOMPARE(await(UpdateChecker::checkInBackground(m_fast)), std::nullopt);
        QVERIFY(lastCheck().isValid());
    }

    // The background check hides a skipped version, compared as text: "99.1" does not hide
    // "99.1.0", a feed's " 99.1" is trimmed. The manual check asks even when switched off or just
    // done, shows the skipped version and writes nothing.
    void skippedVersion() {
        settings().setValue(u"OrvikSkippedVersion"_s, u"99.1"_s);
        QCOMPARE(background(HttpServer::ok(newerFeed)), std::nullopt);
        settings().remove(lastCheckKey);
        QVERIFY(background(HttpServer::ok(QByteArray(newerFeed).replace("99.1", "99.1.0"))));
        settings().remove(lastCheckKey);
        QCOMPARE(background(HttpServer::ok(QByteArray(newerFeed).replace("\"99.1\"", "\" 99.1\""))),
                 std::nullopt);
        settings().setValue(u"OrvikCheckForUpdates"_s, false);
        const QDateTime done = lastCheck();
        QCOMPARE(check(HttpServer::ok(newerFeed)).kind, Kind::Available);
        QCOMPARE(m_server.requests().size(), 4);
        QCOMPARE(lastCheck(), done);
    }
};

ORVIK_TEST_MAIN(TestUpdateChecker)
#include "tst_update_checker.moc"
