#include "httpserver.h"
#include "testenv.h"

#include "daily/dailycontext.h"

#include <QElapsedTimer>
#include <QThread>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;
using orvik::DailyContext;
using orvik::DailyContextService;
using orvik::DailySettings;
using orvik::test::await;
using orvik::test::HttpServer;

namespace {

const QString forecastPath = u"/v1/forecast"_s;
const QString newsPath = u"/index~rss2.xml"_s;

const QByteArray fullForecast =
    R"({"latitude":52.34,"longitude":10.44,"current_units":{"temperature_2m":"°C"},
        "current":{"time":"2026-12-05T14:00","temperature_2m":12.3,"weather_code":2},
        "daily":{"time":["2026-12-05"],"temperature_2m_max":[18.4],"temperature_2m_min":[9.1]}})";
const QString fullLine = u"Schwülper · 12 °C · teils bewölkt · Tag 9–18 °C"_s;

QByteArray rss(const QList<QByteArray>& titles) {
    QByteArray xml = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
                     "<rss version=\"2.0\"><channel><title>tagesschau.de - die erste Adresse "
                     "für Nachrichten und Information</title>\n";
    for (const QByteArray& t : titles)
        xml += "<item><title>" + t + "</title><link>https://example.invalid/x</link></item>\n";
    return xml + "</channel></rss>\n";
}

HttpServer::Reply rssReply(const QList<QByteArray>& titles) {
    return HttpServer::ok(rss(titles), "application/rss+xml; charset=utf-8");
}

const QList<QByteArray> threeHeadlines{"Bundestag beschließt den Haushalt für 2027",
                                       "Sturmtief zieht über Norddeutschland",
                                       "Neue Brücke über die Elbe eröffnet"};

DailySettings settings(bool weather, bool news, int count = 4) {
    DailySettings s;
    s.includeWeather = weather;
    s.includeNews = news;
    s.headlineCount = count;
    return s;
}

} // namespace

// The daily context: the weather line, the headlines and their assembly,
// through the real network stack against a local server.
class TestDailyContext : public QObject {
    Q_OBJECT

    HttpServer m_server;
    const orvik::net::Timeouts m_fast{2s, 5s};

    std::optional<QString> weather(const HttpServer::Reply& reply,
                                   orvik::net::Timeouts limits = {2s, 5s}) {
        m_server.route(forecastPath, reply);
        return await(DailyContextService::fetchWeather(DailySettings(), limits));
    }
    QStringList headlines(const HttpServer::Reply& reply, int limit = 8,
                          orvik::net::Timeouts limits = {2s, 5s}) {
        m_server.route(newsPath, reply);
        return await(DailyContextService::fetchHeadlines(limit, limits));
    }

private Q_SLOTS:
    void initTestCase() {
        qputenv("ORVIK_WEATHER_URL", m_server.baseUrl().toUtf8());
        qputenv("ORVIK_NEWS_URL", m_server.baseUrl().toUtf8());
    }
    void init() { m_server.clear(); }

    // --- weather ---

    // Codes outside the table, also one that wraps to a known code in 32 bits.
    void unknownWeatherCodes() {
        for (qint64 code : {4LL, 50LL, 100LL, -1LL, 4294967298LL})
            QCOMPARE(DailyContextService::description(code), u"wechselhaft"_s);
        QCOMPARE(DailyContextService::description(2), u"teils bewölkt"_s);
    }

    // Expected: what follows "Schwülper · ", or nothing at all.
    void weatherLine_data() {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<QString>("place");
        QTest::addColumn<QString>("line"); // null: no line
        const auto row = [](const char* name, const QByteArray& json, const QString& line) {
            QTest::newRow(name) << json << u"Schwülper"_s
                                << (line.isNull() ? line : u"Schwülper · "_s + line);
        };
        const QString none;
        row("full", fullForecast, u"12 °C · teils bewölkt · Tag 9–18 °C"_s);
        row("temperature only", R"({"current":{"temperature_2m":11.5}})", u"12 °C"_s);
        row("-0.4", R"({"current":{"temperature_2m":-0.4}})", u"0 °C"_s);
        row("-0.5", R"({"current":{"temperature_2m":-0.5}})", u"-1 °C"_s);
        row("2.5", R"({"current":{"temperature_2m":2.5}})", u"3 °C"_s);
        row("code only", R"({"current":{"weather_code":95}})", u"Gewitter"_s);
        row("code 3.0", R"({"current":{"weather_code":3.0}})", u"bedeckt"_s);
        row("first daily entries",
            R"({"daily":{"temperature_2m_min":[3.2,1.0],"temperature_2m_max":[9.7,8.0]}})",
            u"Tag 3–10 °C"_s);
        row("empty lows", R"({"daily":{"temperature_2m_min":[],"temperature_2m_max":[9.7]}})",
            none);
        row("highs missing", R"({"daily":{"temperature_2m_min":[1.0]}})", none);
        row("nulls count as absent",
            R"({"current":null,"daily":{"temperature_2m_min":[1],"temperature_2m_max":[2]}})",
            u"Tag 1–2 °C"_s);
        row("null temperature", R"({"current":{"temperature_2m":null,"weather_code":0}})",
            u"klar"_s);
        row("nothing usable", R"({"current":{}})", none);
        // A member of the wrong type spoils the whole answer.
        row("code 3.5", R"({"current":{"temperature_2m":12,"weather_code":3.5}})", none);
        row("code beyond 64 bits", R"({"current":{"temperature_2m":12,"weather_code":1e20}})",
            none);
        row("temperature as text", R"({"current":{"temperature_2m":"12","weather_code":1}})", none);
        row("current a list",
            R"({"current":[12],"daily":{"temperature_2m_min":[1],"temperature_2m_max":[2]}})",
            none);
        row("high as text",
            R"({"current":{"temperature_2m":12},"daily":{"temperature_2m_min":[1],"temperature_2m_max":["2"]}})",
            none);
        row("null in lows",
            R"({"current":{"temperature_2m":12},"daily":{"temperature_2m_min":[null],"temperature_2m_max":[2]}})",
            none);
        row("top level a list", "[1,2]", none);
        row("not JSON", "<html>", none);
        row("cut off", fullForecast.left(60), none);
        QTest::newRow("empty place")
            << QByteArray(R"({"current":{"temperature_2m":7}})") << QString() << u" · 7 °C"_s;
    }
    void weatherLine() {
        QFETCH(QByteArray, json);
        QFETCH(QString, place);
        QFETCH(QString, line);
        const auto result = DailyContextService::weatherLine(json, place);
        QCOMPARE(result, line.isNull() ? std::nullopt : std::optional<QString>(line));
    }

    void forecastRequestForTheDefaultPlace() {
        QCOMPARE(weather(HttpServer::ok(fullForecast)), std::optional<QString>(fullLine));
        QCOMPARE(m_server.requests().size(), 1);
        const auto request = m_server.requests().first();
        QCOMPARE(request.method, QByteArray("GET"));
        QCOMPARE(request.path, forecastPath);
        QCOMPARE(request.query, u"latitude=52.3459667&longitude=10.4499328"
                                u"&current=temperature_2m,weather_code"
                                u"&daily=temperature_2m_max,temperature_2m_min"
                                u"&timezone=auto&forecast_days=1"_s);

        m_server.clear();
        m_server.route(forecastPath, HttpServer::ok(R"({"current":{"temperature_2m":-3}})"));
        DailySettings s;
        s.locationName = u"Kap Horn"_s;
        s.latitude = -56.0;
        s.longitude = -67.25;
        QCOMPARE(await(DailyContextService::fetchWeather(s, m_fast)),
                 std::optional<QString>(u"Kap Horn · -3 °C"_s));
        QCOMPARE(m_server.requests().first().query.section(u'&', 0, 1),
                 u"latitude=-56.0&longitude=-67.25"_s);
    }

    void sessionKeepsNoCookiesAndNoCache() {
        HttpServer::Reply reply = HttpServer::ok(fullForecast);
        reply.headers = {{"Set-Cookie", "sitzung=42; Path=/"},
                         {"Cache-Control", "public, max-age=3600"}};
        QVERIFY(weather(reply));
        QVERIFY(weather(reply));
        m_server.route(newsPath, rssReply(threeHeadlines));
        await(DailyContextService::fetchHeadlines(4, m_fast));
        const auto requests = m_server.requests();
        QCOMPARE(requests.size(), 3); // nothing came from a cache
        for (const auto& r : requests)
            QVERIFY2(!r.headers.contains("cookie"), r.headers.value("cookie").constData());
    }

    void baseAddressMayCarryAPath() {
        qputenv("ORVIK_WEATHER_URL", (m_server.baseUrl() + u"/wetter/"_s).toUtf8());
        m_server.route(u"/wetter/v1/forecast"_s, HttpServer::ok(fullForecast));
        const auto line = await(DailyContextService::fetchWeather(DailySettings(), m_fast));
        qputenv("ORVIK_WEATHER_URL", m_server.baseUrl().toUtf8());
        QCOMPARE(line, std::optional<QString>(fullLine));
    }

    void weatherFailuresGiveNothing_data() {
        QTest::addColumn<HttpServer::Reply>("reply");
        QTest::newRow("status 500 with a valid body") << HttpServer::status(500, fullForecast);
        QTest::newRow("status 304") << HttpServer::status(304);
        QTest::newRow("status 201") << HttpServer::status(201, fullForecast);
        QTest::newRow("malformed JSON") << HttpServer::ok(R"({"current":{"temperature_2m":12)");
        QTest::newRow("redirect loop") << HttpServer::redirect(forecastPath);
        HttpServer::Reply cut = HttpServer::ok(fullForecast);
        cut.declaredLength = fullForecast.size() + 100; // the connection ends early
        QTest::newRow("body cut short") << cut;
    }
    void weatherFailuresGiveNothing() {
        QFETCH(HttpServer::Reply, reply);
        QCOMPARE(weather(reply), std::nullopt);
    }

    void redirectIsFollowed() {
        m_server.route(u"/neu"_s, HttpServer::ok(fullForecast));
        QCOMPARE(weather(HttpServer::redirect(m_server.baseUrl() + u"/neu"_s, 301)),
                 std::optional<QString>(fullLine));
        QCOMPARE(m_server.requests().size(), 2);
    }

    void unusableAddressesGiveNothing() {
        for (const QByteArray& base : {QByteArray("http://127.0.0.1:1"), QByteArray("kein url"),
                                       QByteArray("http://[::1")}) {
            qputenv("ORVIK_WEATHER_URL", base);
            const auto line = await(DailyContextService::fetchWeather(DailySettings(), m_fast));
            QCOMPARE(line, std::nullopt);
        }
        qputenv("ORVIK_WEATHER_URL", m_server.baseUrl().toUtf8());
        QVERIFY(m_server.requests().isEmpty());
    }

    // --- limits ---

    void oversizeBodyFails_data() {
        QTest::addColumn<bool>("chunked");
        QTest::newRow("with a length") << false;
        QTest::newRow("chunked, no length") << true;
    }
    void oversizeBodyFails() {
        QFETCH(bool, chunked);
        // Valid JSON all the same: padding after the object.
        HttpServer::Reply big =
            HttpServer::ok(fullForecast + QByteArray(DailyContextService::maxWeatherBytes, ' '));
        big.chunked = chunked;
        QCOMPARE(weather(big), std::nullopt);
        HttpServer::Reply fits = HttpServer::ok(
            fullForecast +
            QByteArray(DailyContextService::maxWeatherBytes - fullForecast.size(), ' '));
        fits.chunked = chunked;
        QCOMPARE(weather(fits), std::optional<QString>(fullLine));
    }

    void oversizeFeedFails() {
        QByteArray padding;
        while (padding.size() <= DailyContextService::maxNewsBytes)
            padding += "<item><title>Lange Liste von Meldungen im Feed</title></item>\n";
        HttpServer::Reply big = rssReply({threeHeadlines[0] + "</title></item>" + padding +
                                          "<item><title>" + threeHeadlines[1]});
        big.chunked = true;
        QCOMPARE(headlines(big), QStringList());
        big.chunked = false;
        QCOMPARE(headlines(big), QStringList());
    }

    void silenceTripsTheInactivityTimeout() {
        HttpServer::Reply stalled;
        stalled.stall = true;
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(weather(stalled, {150ms, 20s}), std::nullopt);
        QVERIFY2(clock.elapsed() < 3000, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(m_server.requests().size(), 1);

        HttpServer::Reply late = HttpServer::ok(fullForecast);
        late.delay = 600ms;
        QCOMPARE(weather(late, {150ms, 20s}), std::nullopt);
    }

    // A trickle keeps the inactivity time-out from firing; only the bound on
    // the whole transfer ends it.
    void trickleTripsOnlyTheWholeTransferTimeout() {
        HttpServer::Reply trickle = HttpServer::ok(fullForecast);
        trickle.trickleBytes = 16;
        trickle.trickleInterval = 40ms; // about 1.1 s for the whole body
        QCOMPARE(weather(trickle, {300ms, 10s}), std::optional<QString>(fullLine));

        HttpServer::Reply longTrickle = trickle; // about 5 s for the whole body
        longTrickle.body += QByteArray(2000, ' ');
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(weather(longTrickle, {300ms, 400ms}), std::nullopt);
        QVERIFY2(clock.elapsed() < 2500, qPrintable(QString::number(clock.elapsed())));
    }

    void headlineTimeouts() {
        HttpServer::Reply stalled;
        stalled.stall = true;
        QCOMPARE(headlines(stalled, 4, {150ms, 20s}), QStringList());
        HttpServer::Reply trickle = rssReply(threeHeadlines);
        trickle.trickleBytes = 10;
        trickle.trickleInterval = 30ms;
        QCOMPARE(headlines(trickle, 4, {300ms, 300ms}), QStringList());
    }

    // --- headlines ---

    void rssTitlesOfItemsOnly() {
        const QByteArray xml =
            "<?xml version=\"1.0\"?><rss version=\"2.0\" "
            "xmlns:media=\"http://search.yahoo.com/mrss/\">"
            "<channel><title>Kanal</title><image><title>Logo</title></image>"
            "<item><title>Erste Meldung</title><media:title>Medien</media:title></item>"
            "<item><description>ohne Titel</description></item>"
            "<item><Title>Groß geschrieben</Title><title>Zweite &amp; dritte</title></item>"
            "<item><title><![CDATA[In CDATA <b>verpackt</b>]]></title></item>"
            "<item><title>Teil &#x2013; <![CDATA[gemischt]]> &lt;Ende&gt;</title></item>"
            "</channel></rss>";
        QCOMPARE(DailyContextService::rssTitles(xml),
                 (QStringList{u"Erste Meldung"_s, u"Zweite & dritte"_s,
                              u"In CDATA <b>verpackt</b>"_s, u"Teil – gemischt <Ende>"_s}));
    }

    void malformedFeedKeepsTheTitlesBeforeTheFault() {
        const QByteArray xml = "<rss><channel>"
                               "<item><title>Vor dem Fehler eins</title></item>"
                               "<item><title>Vor dem Fehler zwei</title></item>"
                               "<item><title>Kaputt &nbsp; hier</title></item>"
                               "<item><title>Danach</title></item></channel></rss>";
        QCOMPARE(DailyContextService::rssTitles(xml),
                 (QStringList{u"Vor dem Fehler eins"_s, u"Vor dem Fehler zwei"_s}));
        QCOMPARE(DailyContextService::rssTitles("kein XML"), QStringList());
        QCOMPARE(DailyContextService::rssTitles("<rss><item><title>Offen"), QStringList());
    }

    void chooseHeadlines_data() {
        QTest::addColumn<QStringList>("titles");
        QTest::addColumn<int>("limit");
        QTest::addColumn<QStringList>("chosen");
        QTest::newRow("white space")
            << QStringList{u"  \n Regierung\nstellt   neue\tPläne vor \u00A0 "_s} << 8
            << QStringList{u"Regierung stellt neue Pläne vor"_s};
        QTest::newRow("16 taken, 15 dropped")
            << QStringList{u"abcdefghijklmnop"_s, u"abcdefghijklmno"_s} << 8
            << QStringList{u"abcdefghijklmnop"_s};
        // "e" with a combining accent is one character, two UTF-16 units.
        QTest::newRow("characters, not code units")
            << QStringList{u"abcdefghijklmne\u0301"_s, u"abcdefghijklmnoe\u0301"_s} << 8
            << QStringList{u"abcdefghijklmnoe\u0301"_s};
        QTest::newRow("blocked words") << QStringList{u"PODCAST: Die Woche in Berlin"_s,
                                                      u"Videoschiedsrichter in der Kritik"_s,
                                                      u"Gewöhnliche Meldung ohne Sperrwort"_s}
                                       << 8 << QStringList{u"Gewöhnliche Meldung ohne Sperrwort"_s};
        QTest::newRow("duplicates after cleaning")
            << QStringList{u"Gleiche Meldung zweimal im Feed"_s,
                           u" Gleiche  Meldung zweimal im Feed"_s,
                           u"gleiche Meldung zweimal im Feed"_s}
            << 8
            << QStringList{u"Gleiche Meldung zweimal im Feed"_s,
                           u"gleiche Meldung zweimal im Feed"_s};
        QStringList ten;
        for (int i = 0; i < 10; ++i)
            ten.append(u"Annehmbare Schlagzeile Nummer %1"_s.arg(i));
        QTest::newRow("limit 4 of 10") << ten << 4 << ten.mid(0, 4);
        QTest::newRow("limit 0") << ten << 0 << QStringList();
        QTest::newRow("empty and short")
            << QStringList{QString(), u"   "_s, u"kurz"_s} << 8 << QStringList();
    }
    void chooseHeadlines() {
        QFETCH(QStringList, titles);
        QFETCH(int, limit);
        QTEST(DailyContextService::chooseHeadlines(titles, limit), "chosen");
    }

    void headlinesFromTheFeed() {
        QStringList expected;
        for (const QByteArray& h : threeHeadlines)
            expected.append(QString::fromUtf8(h));
        QCOMPARE(headlines(rssReply(threeHeadlines + QList<QByteArray>{"Zu kurz"}), 8), expected);
        const auto request = m_server.requests().first();
        QCOMPARE(request.path, newsPath);
        QCOMPARE(request.query, QString());
        QCOMPARE(headlines(rssReply(threeHeadlines), 2), expected.mid(0, 2));
        // Titles the reader gets in pieces (entities, CDATA) are one headline each,
        // and a fault after them keeps them.
        QCOMPARE(headlines(HttpServer::ok(
                     rss({"Forschung &amp; Lehre: Universit&#228;ten &quot;im Wandel&quot;",
                          "<![CDATA[  Zwei   Teile ]]> <![CDATA[in CDATA]]>"})
                         .replace("</channel></rss>", "<item><title>&bogus;"))),
                 (QStringList{u"Forschung & Lehre: Universitäten \"im Wandel\""_s,
                              u"Zwei Teile in CDATA"_s}));
    }

    void feedFailuresGiveNoHeadlines_data() {
        QTest::addColumn<HttpServer::Reply>("reply");
        const QByteArray valid = rss(threeHeadlines);
        QTest::newRow("304") << HttpServer::status(304, valid);
        QTest::newRow("404") << HttpServer::status(404, valid);
        QTest::newRow("500") << HttpServer::status(500, valid);
        QTest::newRow("not XML") << HttpServer::ok("{}", "application/json");
    }
    void feedFailuresGiveNoHeadlines() {
        QFETCH(HttpServer::Reply, reply);
        QCOMPARE(headlines(reply), QStringList());
    }

    // --- assembly ---

    void markdownBlocks() {
        const QString w = u"Schwülper · 12 °C"_s;
        QCOMPARE((DailyContext{w, {}}).markdownBlock(), u"---\n\n*Schwülper · 12 °C*"_s);
        QCOMPARE((DailyContext{std::nullopt, {u"Eins"_s, u"Zwei *fett*"_s}}).markdownBlock(),
                 u"---\n\n*Tagesschau:*\n*– Eins*\n*– Zwei *fett**"_s);
        QCOMPARE((DailyContext{w, {u"Eins"_s, u"Zwei"_s}}).markdownBlock(),
                 u"---\n\n*Schwülper · 12 °C*\n\n*Tagesschau:*\n*– Eins*\n*– Zwei*"_s);
        QCOMPARE(DailyContext().markdownBlock(), u"---\n"_s);
        QVERIFY(DailyContext().isEmpty());
        QVERIFY(!(DailyContext{std::nullopt, {u"x"_s}}).isEmpty());
    }

    void bothOffAsksNobody() {
        const auto future = DailyContextService::fetch(settings(false, false));
        QVERIFY(future.isFinished());
        QVERIFY(future.result().isEmpty());
        QVERIFY(m_server.requests().isEmpty());
    }

    // The block holds what arrived of what is switched on; the other half is
    // never asked for.
    void halves_data() {
        QTest::addColumn<bool>("weather");
        QTest::addColumn<bool>("news");
        QTest::addColumn<HttpServer::Reply>("weatherReply");
        QTest::addColumn<HttpServer::Reply>("newsReply");
        QTest::addColumn<QString>("block");
        const auto forecast = HttpServer::ok(fullForecast);
        const auto news = rssReply(threeHeadlines);
        const auto failed = HttpServer::status(404);
        const QString weatherBlock = u"---\n\n*"_s + fullLine + u'*';
        const QString newsBlock = u"---\n\n*Tagesschau:*\n"
                                  u"*– Bundestag beschließt den Haushalt für 2027*\n"
                                  u"*– Sturmtief zieht über Norddeutschland*\n"
                                  u"*– Neue Brücke über die Elbe eröffnet*"_s;
        QTest::newRow("news only") << false << true << forecast << news << newsBlock;
        QTest::newRow("weather only") << true << false << forecast << news << weatherBlock;
        QTest::newRow("weather failing")
            << true << true << HttpServer::status(500, fullForecast) << news << newsBlock;
        QTest::newRow("news failing") << true << true << forecast << failed << weatherBlock;
        QTest::newRow("both failing") << true << true << failed << failed << u"---\n"_s;
    }
    void halves() {
        QFETCH(bool, weather);
        QFETCH(bool, news);
        QFETCH(HttpServer::Reply, weatherReply);
        QFETCH(HttpServer::Reply, newsReply);
        m_server.route(forecastPath, weatherReply);
        m_server.route(newsPath, newsReply);
        const DailyContext c = await(DailyContextService::fetch(settings(weather, news), m_fast));
        QTEST(c.markdownBlock(), "block");
        QCOMPARE(m_server.requests(forecastPath).size(), weather ? 1 : 0);
        QCOMPARE(m_server.requests(newsPath).size(), news ? 1 : 0);
    }

    // Each answer waits until both requests have arrived: a fetch that awaited
    // one request before sending the other would run into the time-out.
    void bothRequestsAreInFlightAtOnce() {
        HttpServer::Reply weatherReply = HttpServer::ok(fullForecast);
        weatherReply.holdUntilRequests = 2;
        HttpServer::Reply newsReply = rssReply(threeHeadlines);
        newsReply.holdUntilRequests = 2;
        newsReply.delay = 300ms; // and the fetch waits for the slower half
        m_server.route(forecastPath, weatherReply);
        m_server.route(newsPath, newsReply);
        const DailyContext c = await(DailyContextService::fetch(settings(true, true, 2), {3s, 3s}));
        QCOMPARE(c.weather, std::optional<QString>(fullLine));
        QCOMPARE(c.headlines.size(), 2);
        QCOMPARE(c.markdownBlock(), u"---\n\n*"_s + fullLine +
                                        u"*\n\n*Tagesschau:*\n"
                                        u"*– Bundestag beschließt den Haushalt für 2027*\n"
                                        u"*– Sturmtief zieht über Norddeutschland*"_s);
    }

    void resultsArriveOnTheCallingThread() {
        m_server.route(forecastPath, HttpServer::ok(fullForecast));
        m_server.route(newsPath, rssReply(threeHeadlines));

        QThread* seen = nullptr;
        auto done =
            DailyContextService::fetch(settings(true, true), m_fast).then([&](const DailyContext&) {
                seen = QThread::currentThread();
            });
        await(done);
        QCOMPARE(seen, QThread::currentThread());

        // From a worker thread with an event loop of its own.
        QThread worker;
        worker.start();
        QObject anchor;
        anchor.moveToThread(&worker);
        std::atomic<QThread*> seenByWorker = nullptr;
        std::atomic<bool> complete = false;
        QMetaObject::invokeMethod(&anchor, [&] {
            DailyContextService::fetch(settings(true, true), m_fast)
                .then([&](const DailyContext& c) {
                    seenByWorker = QThread::currentThread();
                    complete = c.weather.has_value() && c.headlines.size() == 3;
                });
        });
        QTRY_VERIFY_WITH_TIMEOUT(seenByWorker.load() != nullptr, 10000);
        QCOMPARE(seenByWorker.load(), &worker);
        QVERIFY(complete);
        worker.quit();
        worker.wait();
    }
};

ORVIK_TEST_MAIN(TestDailyContext)
#include "tst_daily_context.moc"
