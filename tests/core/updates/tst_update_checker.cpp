#include "httpserver.h"
#include "testenv.h"

#include "platform/http.h"
#include "updates/updatechecker.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QPointer>
#include <QSettings>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;
using orvik::AvailableUpdate;
using orvik::UpdateChecker;
using orvik::UpdateCheckResult;
using orvik::test::await;
using orvik::test::HttpServer;

namespace {

const QString feedPath = u"/orvik/appcast.json"_s;
// JSON written with ' for ".
QByteArray json(const char* text) {
    return QByteArray(text).replace('\'', '"');
}

const QByteArray newerFeed =
    json("{'version':'99.1','date':'12. Mai 2025','notes':['Eins','Zwei','Drei'],"
         "'downloadURL':'https://orvik.example/Orvik-99.1.tar.gz'}");
const QByteArray sameFeed =
    json("{'version':'" ORVIK_VERSION "','downloadURL':'https://orvik.example/x'}");

const QString noFeed = u"Es ist keine Update-Adresse hinterlegt."_s;
const QString unreachable = u"Die Update-Adresse war nicht erreichbar."_s;
const QString unexpected = u"Die Update-Adresse antwortete unerwartet."_s;
const QString unreadable = u"Die Versionsdatei ließ sich nicht lesen."_s;

QSettings prefs() {
    return QSettings(u"Orvik"_s, u"Orvik"_s);
}

} // namespace

// The update check against a local stand-in for the feed's server.
class TestUpdateChecker : public QObject {
    Q_OBJECT

    HttpServer m_server;
    const orvik::net::Timeouts m_fast{2s, 5s};

    UpdateCheckResult check(const HttpServer::Reply& reply,
                            orvik::net::Timeouts limits = {2s, 5s}) {
        m_server.route(feedPath, reply);
        return await(UpdateChecker::check(limits));
    }
    std::optional<AvailableUpdate> background(const HttpServer::Reply& reply) {
        m_server.route(feedPath, reply);
        return await(UpdateChecker::checkInBackground(m_fast));
    }
    static std::optional<QDateTime> lastCheck() {
        const QVariant v = prefs().value(u"OrvikLastUpdateCheck"_s);
        return v.isValid() ? std::optional<QDateTime>(v.toDateTime()) : std::nullopt;
    }

private Q_SLOTS:
    void init() {
        m_server.clear();
        prefs().clear();
        qputenv("ORVIK_UPDATE_FEED", (m_server.baseUrl() + feedPath).toUtf8());
    }

    void feedAddress() {
        QCOMPARE(UpdateChecker::feedURL(), std::optional<QUrl>(m_server.url(feedPath)));
        for (const char* unusable : {"", "http://[zerbrochen"}) {
            qputenv("ORVIK_UPDATE_FEED", unusable);
            QCOMPARE(UpdateChecker::feedURL(), std::nullopt);
        }
        qputenv("ORVIK_UPDATE_FEED", "ftp://any.scheme/is/fine");
        QCOMPARE(UpdateChecker::feedURL(),
                 std::optional<QUrl>(QUrl(u"ftp://any.scheme/is/fine"_s)));
        // Without the variable, the build's address: empty by default.
        qunsetenv("ORVIK_UPDATE_FEED");
        const QString built = QStringLiteral(ORVIK_UPDATE_FEED_FOR_TESTS);
        if (built.isEmpty())
            QCOMPARE(UpdateChecker::feedURL(), std::nullopt);
        else
            QCOMPARE(UpdateChecker::feedURL(), std::optional<QUrl>(QUrl(built)));
    }

    void newerVersionIsReported() {
        const UpdateCheckResult r = check(HttpServer::ok(newerFeed));
        QCOMPARE(r.kind, UpdateCheckResult::Kind::Available);
        QCOMPARE(r.update->version.raw, u"99.1"_s);
        QCOMPARE(r.update->current, UpdateChecker::currentVersion());
        QCOMPARE(r.update->notes, (QStringList{u"Eins"_s, u"Zwei"_s, u"Drei"_s}));
        QCOMPARE(m_server.requests().size(), 1);
        QCOMPARE(m_server.requests().first().method, QByteArray("GET"));
    }

    void anEndedSessionIsOpenedAnew() {
        QCOMPARE(check(HttpServer::ok(sameFeed)), UpdateCheckResult::upToDate());
        const QPointer<QObject> first = orvik::net::session();
        orvik::net::endSession();
        QVERIFY(first.isNull());
        orvik::net::endSession(); // nothing left to end
        QCOMPARE(check(HttpServer::ok(newerFeed)).kind, UpdateCheckResult::Kind::Available);
        QCOMPARE(m_server.requests().size(), 2);
    }

    void failures_data() {
        QTest::addColumn<HttpServer::Reply>("reply");
        QTest::addColumn<QString>("message");
        QTest::newRow("500") << HttpServer::status(500, newerFeed) << unexpected;
        QTest::newRow("404") << HttpServer::status(404) << unexpected;
        QTest::newRow("204") << HttpServer::status(204) << unexpected;
        QTest::newRow("HTML") << HttpServer::ok("<html></html>", "text/html") << unreadable;
        QTest::newRow("redirect loop") << HttpServer::redirect(feedPath) << unreachable;
        HttpServer::Reply huge =
            HttpServer::ok(newerFeed + QByteArray(UpdateChecker::maxFeedBytes, ' '));
        QTest::newRow("oversize") << huge << unreadable;
        huge.chunked = true;
        QTest::newRow("oversize, chunked") << huge << unreadable;
        HttpServer::Reply hugeError = HttpServer::status(500, huge.body);
        QTest::newRow("oversize 500") << hugeError << unexpected;
    }
    void failures() {
        QFETCH(HttpServer::Reply, reply);
        QFETCH(QString, message);
        QCOMPARE(check(reply), UpdateCheckResult::failed(message));
    }

    void redirectIsFollowed() {
        m_server.route(u"/neu.json"_s, HttpServer::ok(newerFeed));
        QCOMPARE(check(HttpServer::redirect(m_server.baseUrl() + u"/neu.json"_s, 301)).kind,
                 UpdateCheckResult::Kind::Available);
    }

    void feedsNoServerAnswers() {
        qputenv("ORVIK_UPDATE_FEED", "");
        const auto future = UpdateChecker::check();
        QVERIFY(future.isFinished());
        QCOMPARE(future.result(), UpdateCheckResult::failed(noFeed));
        const QString file = QDir::home().filePath(u"feed.json"_s);
        QVERIFY(orvik::test::writeBytes(file, newerFeed));
        const std::pair<QByteArray, QString> cases[] = {
            {"http://127.0.0.1:1/feed.json", unreachable},
            {"relative/feed.json", unreachable},
            {QUrl::fromLocalFile(file).toEncoded(), unexpected}};
        for (const auto& [address, message] : cases) {
            qputenv("ORVIK_UPDATE_FEED", address);
            QCOMPARE(await(UpdateChecker::check(m_fast)), UpdateCheckResult::failed(message));
        }
    }

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

    void manualCheckIgnoresThePreferences() {
        auto s = prefs();
        s.setValue(u"OrvikCheckForUpdates"_s, false);
        s.setValue(u"OrvikSkippedVersion"_s, u"99.1"_s);
        s.setValue(u"OrvikLastUpdateCheck"_s, QDateTime::currentDateTime());
        s.sync();
        QCOMPARE(check(HttpServer::ok(newerFeed)).kind, UpdateCheckResult::Kind::Available);
        QCOMPARE(m_server.requests().size(), 1);
        // And writes none.
        QCOMPARE(lastCheck(), prefs().value(u"OrvikLastUpdateCheck"_s).toDateTime());
    }

    void automaticChecksSwitch_data() {
        QTest::addColumn<QVariant>("stored");
        QTest::addColumn<bool>("enabled");
        QTest::newRow("absent") << QVariant() << true;
        QTest::newRow("false") << QVariant(false) << false;
        QTest::newRow("text false") << QVariant(u"false"_s) << false;
        QTest::newRow("true") << QVariant(true) << true;
        QTest::newRow("not a boolean") << QVariant(u"vielleicht"_s) << true;
    }
    void automaticChecksSwitch() {
        QFETCH(QVariant, stored);
        if (stored.isValid())
            prefs().setValue(u"OrvikCheckForUpdates"_s, stored);
        QTEST(UpdateChecker::automaticChecksEnabled(), "enabled");
    }

    void backgroundCheckOffersANewerVersion() {
        // A last check of the wrong kind counts as none.
        prefs().setValue(u"OrvikLastUpdateCheck"_s, u"gestern"_s);
        const QDateTime before = QDateTime::currentDateTimeUtc().addSecs(-1);
        const auto update = background(HttpServer::ok(newerFeed));
        QVERIFY(update);
        QCOMPARE(update->version.raw, u"99.1"_s);
        QVERIFY(lastCheck());
        QVERIFY(*lastCheck() >= before);
    }

    void backgroundCheckSwitchedOffAsksNobody() {
        prefs().setValue(u"OrvikCheckForUpdates"_s, false);
        const auto future = UpdateChecker::checkInBackground(m_fast);
        QVERIFY(future.isFinished());
        QCOMPARE(future.result(), std::nullopt);
        QVERIFY(m_server.requests().isEmpty());
        QCOMPARE(lastCheck(), std::nullopt);
    }

    void backgroundCheckKeepsADay() {
        m_server.route(feedPath, HttpServer::status(404));
        const QDateTime now = QDateTime::currentDateTime();
        prefs().setValue(u"OrvikLastUpdateCheck"_s, now.addSecs(-23 * 3600));
        QCOMPARE(await(UpdateChecker::checkInBackground(m_fast)), std::nullopt);
        QVERIFY(m_server.requests().isEmpty());

        prefs().setValue(u"OrvikLastUpdateCheck"_s, now.addSecs(3600)); // in the future
        QCOMPARE(await(UpdateChecker::checkInBackground(m_fast)), std::nullopt);
        QVERIFY(m_server.requests().isEmpty());

        // 25 hours later the server is asked, and even its 404 counts as a check.
        prefs().setValue(u"OrvikLastUpdateCheck"_s, now.addSecs(-25 * 3600));
        QCOMPARE(await(UpdateChecker::checkInBackground(m_fast)), std::nullopt);
        QCOMPARE(m_server.requests().size(), 1);
        QVERIFY(*lastCheck() >= now.addSecs(-1));

        // And now the next one waits a day.
        QCOMPARE(await(UpdateChecker::checkInBackground(m_fast)), std::nullopt);
        QCOMPARE(m_server.requests().size(), 1);
    }

    void skippedVersion() {
        prefs().setValue(u"OrvikSkippedVersion"_s, u"99.1"_s);
        QCOMPARE(background(HttpServer::ok(newerFeed)), std::nullopt);
        QCOMPARE(m_server.requests().size(), 1);
        QCOMPARE(check(HttpServer::ok(newerFeed)).kind, UpdateCheckResult::Kind::Available);

        // Text, not numbers: "99.1" does not hide "99.1.0" ...
        prefs().remove(u"OrvikLastUpdateCheck"_s);
        auto other = background(HttpServer::ok(QByteArray(newerFeed).replace("99.1", "99.1.0")));
        QVERIFY(other);
        // ... but a feed's " 99.1" is trimmed to "99.1".
        prefs().remove(u"OrvikLastUpdateCheck"_s);
        QCOMPARE(background(HttpServer::ok(QByteArray(newerFeed).replace("\"99.1\"", "\" 99.1\""))),
                 std::nullopt);
    }

    // Each counts as a check, kept in the file for the next start.
    void failedBackgroundCheckIsSilentAndStoresTheTime() {
        QCOMPARE(background(HttpServer::status(500)), std::nullopt);
        QVERIFY(lastCheck());
        QVERIFY(orvik::test::readBytes(prefs().fileName()).contains("OrvikLastUpdateCheck"));
        prefs().clear();
        qputenv("ORVIK_UPDATE_FEED", "");
        QCOMPARE(await(UpdateChecker::checkInBackground(m_fast)), std::nullopt);
        QVERIFY(lastCheck());
    }
};

ORVIK_TEST_MAIN(TestUpdateChecker)
#include "tst_update_checker.moc"
