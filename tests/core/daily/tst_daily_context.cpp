#include "httpserver.h"
#include "testenv.h"

#include "daily/dailycontext.h"

#include <QElapsedTimer>
#include <QThread>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;
using namespace orvik;
using namespace orvik::test;

namespace {

const QString forecastPath = u"/v1/forecast"_s;
const QString newsPath = u"/index~rss2.xml"_s;
const net::Timeouts fast{2s, 5s};

// JSON written with ' for ", and T, lo and hi for the temperature keys.
QByteArray j(const char* text) {
    return QByteArray(text)
        .replace("'T'", "'temperature_2m'")
        .replace("'lo'", "'temperature_2m_min'")
        .replace("'hi'", "'temperature_2m_max'")
        .replace('\'', '"');
}

const QByteArray fullForecast =
    j("{'latitude':52.34,'longitude':10.44,'current_units':{'T':'°C'},'current':{'time':"
      "'2026-12-05T14:00','T':12.3,'weather_code':2},'daily':{'time':['2026-12-05'],'hi':[18.4],'"
      "lo':[9.1]}}");
const QString fullLine = u"Schwülper · 12 °C · teils bewölkt · Tag 9–18 °C"_s;
const QList<QByteArray> threeHeadlines{"Bundestag beschließt den Haushalt für 2027",
                                       "Sturmtief zieht über Norddeutschland",
                                       "Neue Brücke über die Elbe eröffnet"};
const QString threeBlock = u"*Tagesschau:*\n*– Bundestag beschließt den Haushalt für 2027*\n"
                           u"*– Sturmtief zieht über Norddeutschland*\n"
                           u"*– Neue Brücke über die Elbe eröffnet*"_s;

// A feed with the channel's own title and these items.
HttpServer::Reply rss(const QList<QByteArray>& titles) {
    QByteArray xml = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
                     "<rss version=\"2.0\"><channel><title>tagesschau.de - Nachrichten</title>\n";
    for (const QByteArray& t : titles)
        xml += "<item><title>" + t + "</title><link>https://example.invalid/x</link></item>\n";
    return HttpServer::ok(xml + "</channel></rss>\n", "application/rss+xml; charset=utf-8");
}

} // namespace

// The weather line, the headlines and their assembly, through the network stack to a local server.
class TestDailyContext : public QObject {
    Q_OBJECT

    HttpServer m_server;

private Q_SLOTS:
    void init() {
        m_server.clear();
        qputenv("ORVIK_WEATHER_URL", m_server.baseUrl().toUtf8());
        qputenv("ORVIK_NEWS_URL", m_server.baseUrl().toUtf8());
    }

    // What follows "Schwülper · ", or no line; a member of the wrong type spoils the whole answer.
    void weatherLine_data() {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<QString>("line"); // null: no line
        const auto row = [](const char* name, const char* json, const char* line) {
            QTest::newRow(name) << j(json)
                                << (line ? u"Schwülper · "_s + QString::fromUtf8(line) : QString());
        };
        QTest::newRow("full") << fullForecast << fullLine;
        row("temperature only", "{'current':{'T':11.5}}", "12 °C");
        row("-0.4", "{'current':{'T':-0.4}}", "0 °C");
        row("-0.5", "{'current':{'T':-0.5}}", "-1 °C");
        row("2.5", "{'current':{'T':2.5}}", "3 °C");
        row("code only", "{'current':{'weather_code':95}}", "Gewitter");
        row("code 3.0", "{'current':{'weather_code':3.0}}", "bedeckt");
        row("code outside the table", "{'current':{'weather_code':50}}", "wechselhaft");
        row("code -1", "{'current':{'weather_code':-1}}", "wechselhaft");
        row("code wrapping to 2 in 32 bits", "{'current':{'weather_code':4294967298}}",
            "wechselhaft");
        row("first daily entries", "{'daily':{'lo':[3.2,1.0],'hi':[9.7,8.0]}}", "Tag 3–10 °C");
        row("empty lows", "{'daily':{'lo':[],'hi':[9.7]}}", nullptr);
        row("highs missing", "{'daily':{'lo':[1.0]}}", nullptr);
        row("nulls count as absent", "{'current':null,'daily':{'lo':[1],'hi':[2]}}", "Tag 1–2 °C");
        row("null temperature", "{'current':{'T':null,'weather_code':0}}", "klar");
        row("nothing usable", "{'current':{}}", nullptr);
        row("code 3.5", "{'current':{'T':12,'weather_code':3.5}}", nullptr);
        row("code beyond 64 bits", "{'current':{'T':12,'weather_code':1e20}}", nullptr);
        row("temperature as text", "{'current':{'T':'12','weather_code':1}}", nullptr);
        row("current a list", "{'current':[12],'daily':{'lo':[1],'hi':[2]}}", nullptr);
        row("high as text", "{'current':{'T':12},'daily':{'lo':[1],'hi':['2']}}", nullptr);
        row("null in lows", "{'current':{'T':12},'daily':{'lo':[null],'hi':[2]}}", nullptr);
        row("top level a list", "[1,2]", nullptr);
        row("not JSON", "<html>", nullptr);
        QTest::newRow("cut off") << fullForecast.left(60) << QString();
    }
    void weatherLine() {
        QFETCH(QByteArray, json);
        QFETCH(QString, line);
        QCOMPARE(DailyContextService::weatherLine(json, u"Schwülper"_s),
                 line.isNull() ? std::nullopt : std::optional(line));
    }

    // The default place and a chosen one, asked for in the query; nothing cached, no cookies kept;
    // a base address may carry a path.
    void forecastRequest() {
        HttpServer::Reply reply = HttpServer::ok(fullForecast);
        reply.headers = {{"Set-Cookie", "sitzung=42; Path=/"}, {"Cache-Control", "max-age=3600"}};
        m_server.route(forecastPath, reply);
        QCOMPARE(await(DailyContextService::fetchWeather({}, fast)), std::optional(fullLine));
        const auto request = m_server.requests().first();
        QCOMPARE(request.method, QByteArray("GET"));
        QCOMPARE(request.path, forecastPath);
        QCOMPARE(request.query, u"latitude=52.3459667&longitude=10.4499328"
                                u"&current=temperature_2m,weather_code"
                                u"&daily=temperature_2m_max,temperature_2m_min"
                                u"&timezone=auto&forecast_days=1"_s);
        m_server.route(forecastPath, HttpServer::ok(j("{'current':{'T':-3}}")));
        QCOMPARE(await(DailyContextService::fetchWeather({u"Kap Horn"_s, -56.0, -67.25}, fast)),
                 std::optional(u"Kap Horn · -3 °C"_s));
        QCOMPARE(m_server.requests().last().query.section(u'&', 0, 1),
                 u"latitude=-56.0&longitude=-67.25"_s);
        QCOMPARE(m_server.requests().size(), 2); // nothing came from a cache
        QVERIFY(!m_server.requests().last().headers.contains("cookie"));
        qputenv("ORVIK_WEATHER_URL", (m_server.baseUrl() + u"/wetter/"_s).toUtf8()); // with a path
        m_server.route(u"/wetter/v1/forecast"_s, HttpServer::ok(fullForecast));
        QCOMPARE(await(DailyContextService::fetchWeather({}, fast)), std::optional(fullLine));
    }

    void rssTitles_data() {
        QTest::addColumn<QByteArray>("xml");
        QTest::addColumn<QStringList>("titles");
        QTest::newRow("titles of items only, entities and CDATA")
            << QByteArray(
                   "<rss version=\"2.0\" xmlns:media=\"http://search.yahoo.com/mrss/\">"
                   "<channel><title>Kanal</title><image><title>Logo</title></image>"
                   "<item><title>Erste Meldung</title><media:title>Medien</media:title></item>"
                   "<item><description>ohne Titel</description></item>"
                   "<item><Title>Groß geschrieben</Title><title>Zweite &amp; dritte</title></item>"
                   "<item><title><![CDATA[In CDATA <b>verpackt</b>]]></title></item>"
                   "<item><title>Teil &#x2013; <![CDATA[gemischt]]> &lt;Ende&gt;</title></item>"
                   "</channel></rss>")
            << QStringList{u"Erste Meldung"_s, u"Zweite & dritte"_s, u"In CDATA <b>verpackt</b>"_s,
                           u"Teil – gemischt <Ende>"_s};
        QTest::newRow("a fault keeps the titles before it")
            << QByteArray("<rss><channel><item><title>Vor dem Fehler eins</title></item>"
                          "<item><title>Vor dem Fehler zwei</title></item>"
                          "<item><title>Kaputt &nbsp; hier</title></item>"
                          "<item><title>Danach</title></item></channel></rss>")
            << QStringList{u"Vor dem Fehler eins"_s, u"Vor dem Fehler zwei"_s};
        QTest::newRow("no XML") << QByteArray("kein XML") << QStringList();
        QTest::newRow("unclosed") << QByteArray("<rss><item><title>Offen") << QStringList();
    }
    void rssTitles() {
        QFETCH(QByteArray, xml);
        QTEST(DailyContextService::rssTitles(xml), "titles");
    }

    // At most eight, of at least 16 characters, cleaned, without blocked words or duplicates.
    void chooseHeadlines_data() {
        QTest::addColumn<QStringList>("titles");
        QTest::addColumn<QStringList>("chosen");
        QTest::newRow("white space")
            << QStringList{u"  \n Regierung\nstellt   neue\tPläne vor \u00A0 "_s}
            << QStringList{u"Regierung stellt neue Pläne vor"_s};
        QTest::newRow("16 taken, 15 dropped")
            << QStringList{u"abcdefghijklmnop"_s, u"abcdefghijklmno"_s}
            << QStringList{u"abcdefghijklmnop"_s};
        QTest::newRow("characters, not code units")
            << QStringList{u"abcdefghijklmne\u0301"_s, u"abcdefghijklmnoe\u0301"_s}
            << QStringList{u"abcdefghijklmnoe\u0301"_s};
        QTest::newRow("blocked words") << QStringList{u"PODCAST: Die Woche in Berlin"_s,
                                                      u"Videoschiedsrichter in der Kritik"_s,
                                                      u"Meldung ohne jedes Sperrwort"_s}
                                       << QStringList{u"Meldung ohne jedes Sperrwort"_s};
        QTest::newRow("duplicates after cleaning")
            << QStringList{u"Gleiche Meldung zweimal"_s, u" Gleiche  Meldung zweimal"_s,
                           u"gleiche Meldung zweimal"_s}
            << QStringList{u"Gleiche Meldung zweimal"_s, u"gleiche Meldung zweimal"_s};
        QStringList ten;
        for (int i = 0; i < 10; ++i)
            ten.append(u"Annehmbare Schlagzeile Nummer %1"_s.arg(i));
        QTest::newRow("8 of 10") << ten << ten.mid(0, 8);
        QTest::newRow("empty and short")
            << QStringList{QString(), u"   "_s, u"kurz"_s} << QStringList();
    }
    void chooseHeadlines() {
        QFETCH(QStringList, titles);
        QTEST(DailyContextService::chooseHeadlines(titles, 8), "chosen");
    }

    void markdownBlocks() {
        QCOMPARE((DailyContext{u"Schwülper · 12 °C"_s, {}}).markdownBlock(),
                 u"---\n\n*Schwülper · 12 °C*"_s);
        QCOMPARE((DailyContext{std::nullopt, {u"Eins"_s, u"Zwei *fett*"_s}}).markdownBlock(),
                 u"---\n\n*Tagesschau:*\n*– Eins*\n*– Zwei *fett**"_s);
        QCOMPARE(DailyContext().markdownBlock(), u"---\n"_s);
        QVERIFY(DailyContext().isEmpty() && !(DailyContext{std::nullopt, {u"x"_s}}).isEmpty());
        // Without a place name the line still starts with the separator.
        QCOMPARE(DailyContextService::weatherLine(j("{'current':{'T':7}}"), {}),
                 std::optional(u" · 7 °C"_s));
    }

    // What arrived of what is switched on; the rest is never asked for. A half fails on a bad
    // status or body, an answer over the size limit, silence (without a retry), a trickle past the
    // whole transfer's time-out, or an unusable address.
    void halves_data() {
        QTest::addColumn<DailySettings>("settings");
        QTest::addColumn<HttpServer::Reply>("weatherReply");
        QTest::addColumn<HttpServer::Reply>("newsReply");
        QTest::addColumn<QString>("block");
        QTest::addColumn<net::Timeouts>("limits");
        QTest::addColumn<QByteArray>("address"); // of the weather; null: the server's
        const auto wOk = HttpServer::ok(fullForecast), nOk = rss(threeHeadlines);
        const QString wOnly = u"---\n\n*"_s + fullLine + u'*', nOnly = u"---\n\n"_s + threeBlock;
        const QString both = wOnly + u"\n\n"_s + threeBlock;
        using R = HttpServer::Reply;
        const auto row = [](const char* name, const R& w, const R& n, const QString& block,
                            net::Timeouts limits = fast, const QByteArray& address = {},
                            const DailySettings& settings = {}) {
            QTest::newRow(name) << settings << w << n << block << limits << address;
        };
        row("news only", wOk, nOk, nOnly, fast, {}, {.includeWeather = false});
        row("weather only", wOk, nOk, wOnly, fast, {}, {.includeNews = false});
        row("both off", wOk, nOk, u"---\n"_s, fast, {},
            {.includeWeather = false, .includeNews = false});
        row("weather 500 with a body", HttpServer::status(500, fullForecast), nOk, nOnly);
        row("weather 304", HttpServer::status(304), nOk, nOnly);
        row("weather 201", HttpServer::status(201, fullForecast), nOk, nOnly);
        row("weather malformed", HttpServer::ok(j("{'current':{'T':12")), nOk, nOnly);
        row("weather redirect loop", HttpServer::redirect(forecastPath), nOk, nOnly);
        row("weather redirect", HttpServer::redirect(u"/neu"_s, 301), nOk, both);
        HttpServer::Reply reply = wOk;
        reply.declaredLength = fullForecast.size() + 100; // the connection ends early
        row("weather body cut short", reply, nOk, nOnly);
        // Valid JSON all the same: padding after the object.
        reply =
            HttpServer::ok(fullForecast + QByteArray(DailyContextService::maxWeatherBytes, ' '));
        row("weather oversize", reply, nOk, nOnly);
        reply.chunked = true;
        row("weather oversize, chunked", reply, nOk, nOnly);
        reply.body.chop(fullForecast.size());
        row("weather exactly the limit, chunked", reply, nOk, both);
        reply.chunked = false;
        row("weather exactly the limit", reply, nOk, both);
        reply = HttpServer::Reply();
        reply.stall = true;
        row("weather silence", reply, nOk, nOnly, {150ms, 20s});
        row("news silence", wOk, reply, wOnly, {150ms, 20s});
        reply = wOk;
        reply.trickleBytes = 16;
        reply.trickleInterval = 40ms; // about 1.1 s for the whole body
        row("weather trickle", reply, nOk, both, {300ms, 10s});
        reply.body += QByteArray(2000, ' '); // about 5 s
        row("weather long trickle", reply, nOk, nOnly, {300ms, 400ms});
        row("weather no server", wOk, nOk, nOnly, fast, "http://127.0.0.1:1");
        row("weather no URL", wOk, nOk, nOnly, fast, "kein url");
        row("weather broken URL", wOk, nOk, nOnly, fast, "http://[::1");
        row("news 500", wOk, HttpServer::status(500, nOk.body), wOnly);
        row("news not XML", wOk, HttpServer::ok("{}", "application/json"), wOnly);
        QByteArray padding; // after the first title, which must not arrive either
        while (padding.size() <= DailyContextService::maxNewsBytes)
            padding += "<item><title>Lange Liste von Meldungen im Feed</title></item>\n";
        reply = rss({threeHeadlines[0] + "</title></item>" + padding + "<item><title>Danach"});
        row("news oversize", wOk, reply, wOnly);
        reply.chunked = true;
        row("news oversize, chunked", wOk, reply, wOnly);
    }
    void halves() {
        QFETCH(DailySettings, settings);
        QFETCH(HttpServer::Reply, weatherReply);
        QFETCH(HttpServer::Reply, newsReply);
        QFETCH(net::Timeouts, limits);
        QFETCH(QByteArray, address);
        m_server.route(forecastPath, weatherReply);
        m_server.route(newsPath, newsReply);
        m_server.route(u"/neu"_s, HttpServer::ok(fullForecast));
        if (!address.isNull())
            qputenv("ORVIK_WEATHER_URL", address);
        if (!settings.includeWeather && !settings.includeNews)
            QVERIFY(DailyContextService::fetch(settings, fast).isFinished());
        QElapsedTimer clock;
        clock.start();
        QTEST(await(DailyContextService::fetch(settings, limits)).markdownBlock(), "block");
        if (limits != fast) // cut off by the short time-outs
            QVERIFY2(clock.elapsed() < 3000, qPrintable(QString::number(clock.elapsed())));
        if (!settings.includeWeather || !address.isNull() || weatherReply.stall)
            QCOMPARE(m_server.requests(forecastPath).size(), weatherReply.stall ? 1 : 0);
        if (!settings.includeNews || newsReply.stall)
            QCOMPARE(m_server.requests(newsPath).size(), newsReply.stall ? 1 : 0);
    }

    // Each answer waits until both requests have arrived: a fetch that awaited one request before
    // sending the other would run into the time-out. The fetch waits for the slower half.
    void bothRequestsAreInFlightAtOnce() {
        HttpServer::Reply weatherReply = HttpServer::ok(fullForecast),
                          newsReply = rss(threeHeadlines);
        weatherReply.holdUntilRequests = newsReply.holdUntilRequests = 2;
        newsReply.delay = 300ms;
        m_server.route(forecastPath, weatherReply);
        m_server.route(newsPath, newsReply);
        const DailySettings settings{.headlineCount = 2};
        QCOMPARE(await(DailyContextService::fetch(settings, {3s, 3s})).markdownBlock(),
                 u"---\n\n*"_s + fullLine + u"*\n\n"_s + threeBlock.section(u'\n', 0, 2));
        QCOMPARE(m_server.requests(newsPath).first().query, QString());
    }

    // Also on a worker thread with an event loop of its own.
    void resultsArriveOnTheCallingThread() {
        m_server.route(forecastPath, HttpServer::ok(fullForecast));
        m_server.route(newsPath, rss(threeHeadlines));
        QThread* seen = nullptr;
        await(DailyContextService::fetch({}, fast).then(
            [&](const DailyContext&) { seen = QThread::currentThread(); }));
        QCOMPARE(seen, QThread::currentThread());
        QThread worker;
        worker.start();
        QObject anchor;
        anchor.moveToThread(&worker);
        std::atomic<QThread*> seenByWorker = nullptr;
        std::atomic<bool> complete = false;
        QMetaObject::invokeMethod(&anchor, [&] {
            DailyContextService::fetch({}, fast).then([&](const DailyContext& c) {
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
