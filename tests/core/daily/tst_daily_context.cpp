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
QByteArray j(QByteArray text) {
    return text.replace("'T'", "'temperature_2m'")
        .replace("'lo'", "'temperature_2m_min'")
        .replace("'hi'", "'temperature_2m_max'")
        .replace('\'', '"');
}

const QByteArray fullForecast =
    j("{'latitude':52.34,'longitude':10.44,'current_units':{'T':'°C'},'current':{'time':"
      "'2026-12-05T14:00','T':12.3,'weather_code':2},'daily':{'time':['2026-12-05'],'hi':[18.4],'"
      "lo':[9.1]}}");
const QString fullLine = u"Schwülper · 12 °C · teils bewölkt · Tag 9–18 °C"_s;
const QList<QByteArray> threeHeadlines{"Haushalt für 2027 steht", "Sturmtief über dem Norden",
                                       "Neue Brücke über die Elbe"};
const QString threeBlock = u"*Tagesschau:*\n*– Haushalt für 2027 steht*\n"
                           u"*– Sturmtief über dem Norden*\n*– Neue Brücke über die Elbe*"_s;

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

    // JSON=>what follows "Schwülper · ", nothing for no line: rounded half away from zero, codes
    // whole and in the table, only first daily entries; a member of the wrong type spoils it all.
    void weatherLine_data() {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<QString>("line"); // null: no line
        QTest::newRow("full") << fullForecast << fullLine;
        QTest::newRow("cut off") << fullForecast.left(60) << QString();
        const QString rows =
            u"{'current':{'T':11.5}}=>12 °C|{'current':{'T':-0.4}}=>0 °C|{'current':{'T':2.5}}=>3 "
            u"°C|"
            u"{'current':{'T':-0.5}}=>-1 °C|{'current':{'weather_code':95}}=>Gewitter|"
            u"{'current':{'weather_code':3.0}}=>bedeckt|{'current':{'weather_code':50}}=>"
            u"wechselhaft|"
            u"{'current':{'weather_code':-1}}=>wechselhaft|{'current':{'weather_code':4294967298}}="
            u">"
            u"wechselhaft|{'daily':{'lo':[3.2,1.0],'hi':[9.7,8.0]}}=>Tag 3–10 °C|"
            u"{'current':null,'daily':{'lo':[1],'hi':[2]}}=>Tag 1–2 °C|"
            u"{'current':{'T':null,'weather_code':0}}=>klar|{'daily':{'lo':[],'hi':[9.7]}}=>|"
            u"{'daily':{'lo':[1.0]}}=>|{'current':{}}=>|[1,2]=>|<html>=>|"
            u"{'current':{'T':12,'weather_code':3.5}}=>|{'current':{'T':12,'weather_code':1e20}}=>|"
            u"{'current':{'T':'12','weather_code':1}}=>|{'current':[12],'daily':{'lo':[1],'hi':[2]}"
            u"}=>|"
            u"{'current':{'T':12},'daily':{'lo':[1],'hi':['2']}}=>|"
            u"{'current':{'T':12},'daily':{'lo':[null],'hi':[2]}}=>"_s;
        for (const QString& row : rows.split(u'|')) {
            const QString line = row.section(u"=>"_s, 1);
            QTest::newRow(qPrintable(row))
                << j(row.section(u"=>"_s, 0, 0).toUtf8())
                << (line.isEmpty() ? QString() : u"Schwülper · "_s + line);
        }
    }
    void weatherLine() {
        QFETCH(QByteArray, json);
        QFETCH(QString, line);
        QCOMPARE(DailyContextService::weatherLine(json, u"Schwülper"_s),
                 line.isNull() ? std::nullopt : std::optional(line));
    }

    // The default place and a chosen one, asked for in the query under a base address with a path;
    // nothing cached, no cookies kept. Without a name the line still starts with the separator.
    void forecastRequest() {
        qputenv("ORVIK_WEATHER_URL", (m_server.baseUrl() + u"/wetter/"_s).toUtf8());
        HttpServer::Reply reply = HttpServer::ok(fullForecast);
        reply.headers = {{"Set-Cookie", "sitzung=42; Path=/"}, {"Cache-Control", "max-age=3600"}};
        m_server.route(u"/wetter/v1/forecast"_s, reply);
        QCOMPARE(await(DailyContextService::fetchWeather({}, fast)), std::optional(fullLine));
        QCOMPARE(m_server.requests().first().method, QByteArray("GET"));
        QCOMPARE(m_server.requests().first().query, u"latitude=52.3459667&longitude=10.4499328"
                                                    u"&current=temperature_2m,weather_code"
                                                    u"&daily=temperature_2m_max,temperature_2m_min"
                                                    u"&timezone=auto&forecast_days=1"_s);
        m_server.route(u"/wetter/v1/forecast"_s, HttpServer::ok(j("{'current':{'T':-3}}")));
        QCOMPARE(await(DailyContextService::fetchWeather({}, fast)),
                 std::optional(u"Schwülper · -3 °C"_s));
        QVERIFY(!m_server.requests().last().headers.contains("cookie"));
        QCOMPARE(await(DailyContextService::fetchWeather({QString(), -56.0, -67.25}, fast)),
                 std::optional(u" · -3 °C"_s));
        QVERIFY(m_server.requests().last().query.startsWith(u"latitude=-56.0&longitude=-67.25&"));
    }

    // Titles of items only, entities and CDATA; a fault keeps the titles before it.
    void rssTitles() {
        QCOMPARE(
            DailyContextService::rssTitles(
                "<rss version=\"2.0\" xmlns:media=\"http://search.yahoo.com/mrss/\">"
                "<channel><title>Kanal</title><image><title>Logo</title></image>"
                "<item><title>Erste Meldung</title><media:title>Medien</media:title></item>"
                "<item><description>ohne Titel</description></item>"
                "<item><Title>Groß geschrieben</Title><title>Zweite &amp; dritte</title></item>"
                "<item><title><![CDATA[In CDATA <b>verpackt</b>]]></title></item>"
                "<item><title>Teil &#x2013; <![CDATA[gemischt]]> &lt;Ende&gt;</title></item>"
                "</channel></rss>"),
            (QStringList{u"Erste Meldung"_s, u"Zweite & dritte"_s, u"In CDATA <b>verpackt</b>"_s,
                         u"Teil – gemischt <Ende>"_s}));
        QCOMPARE(DailyContextService::rssTitles(
                     "<rss><channel><item><title>Vor dem Fehler eins</title></item>"
                     "<item><title>Vor dem Fehler zwei</title></item>"
                     "<item><title>Kaputt &nbsp; hier</title></item>"
                     "<item><title>Danach</title></item></channel></rss>"),
                 (QStringList{u"Vor dem Fehler eins"_s, u"Vor dem Fehler zwei"_s}));
        QCOMPARE(DailyContextService::rssTitles("<rss><item><title>Offen"), QStringList());
    }

    // At most eight, of at least 16 characters (not code units), cleaned of white space, without
    // blocked words or duplicates after cleaning.
    void chooseHeadlines() {
        const QStringList titles =
            u"  \n Regierung\nstellt   neue\tPläne vor \u00A0 |abcdefghijklmnop|abcdefghijklmno|"
            u"abcdefghijklmne\u0301|abcdefghijklmnoe\u0301|PODCAST: Die Woche in Berlin|"
            u"Videoschiedsrichter in der Kritik|Gleiche Meldung zweimal| Gleiche  Meldung zweimal|"
            u"gleiche Meldung zweimal||   |kurz|Nummer 1 ist annehmbar|Nummer 2 ist annehmbar|"
            u"Nummer 3 ist annehmbar|Nummer 4 ist annehmbar"_s.split(u'|');
        QCOMPARE(DailyContextService::chooseHeadlines(titles, 8),
                 u"Regierung stellt neue Pläne vor|abcdefghijklmnop|abcdefghijklmnoe\u0301|"
                 u"Gleiche Meldung zweimal|gleiche Meldung zweimal|Nummer 1 ist annehmbar|"
                 u"Nummer 2 ist annehmbar|Nummer 3 ist annehmbar"_s.split(u'|'));
    }

    // What arrived of what is switched on; the rest is never asked for. A failed half leaves the
    // other; limits exactly met pass. Statuses, redirects, bad addresses, chunked oversize and slow
    // trickles fail in the shared network code, shown by the update checker.
    void halves_data() {
        QTest::addColumn<DailySettings>("settings");
        QTest::addColumn<HttpServer::Reply>("weatherReply");
        QTest::addColumn<HttpServer::Reply>("newsReply");
        QTest::addColumn<QString>("block");
        QTest::addColumn<net::Timeouts>("limits");
        const auto wOk = HttpServer::ok(fullForecast), nOk = rss(threeHeadlines);
        const QString wOnly = u"---\n\n*"_s + fullLine + u'*', nOnly = u"---\n\n"_s + threeBlock;
        const QString both = wOnly + u"\n\n"_s + threeBlock;
        using R = HttpServer::Reply;
        const auto row = [](const char* name, const R& w, const R& n, const QString& block,
                            net::Timeouts limits = fast, const DailySettings& settings = {}) {
            QTest::newRow(name) << settings << w << n << block << limits;
        };
        row("news only", wOk, nOk, nOnly, fast, {.includeWeather = false});
        row("weather only", wOk, nOk, wOnly, fast, {.includeNews = false});
        row("both off", wOk, nOk, u"---\n"_s, fast,
            {.includeWeather = false, .includeNews = false});
        row("weather 201", HttpServer::status(201, fullForecast), nOk, nOnly);
        HttpServer::Reply reply = wOk;
        reply.declaredLength = fullForecast.size() + 100; // the connection ends early
        row("weather body cut short", reply, nOk, nOnly);
        reply =
            HttpServer::ok(fullForecast + QByteArray(DailyContextService::maxWeatherBytes, ' '));
        row("weather oversize", reply, nOk, nOnly);
        reply.chunked = true;
        reply.body.chop(fullForecast.size());
        row("weather exactly the limit, chunked", reply, nOk, both);
        reply.chunked = false;
        row("weather exactly the limit", reply, nOk, both);
        reply = HttpServer::Reply();
        reply.stall = true;
        row("weather silence", reply, nOk, nOnly, {150ms, 20s});
        reply = wOk;
        reply.trickleBytes = 16;
        reply.trickleInterval = 40ms; // about 1.1 s for the whole body
        row("weather trickle", reply, nOk, both, {300ms, 10s});
        QByteArray padding; // after the first title, which must not arrive either
        while (padding.size() <= DailyContextService::maxNewsBytes)
            padding += "<item><title>Lange Liste von Meldungen im Feed</title></item>\n";
        reply = rss({threeHeadlines[0] + "</title></item>" + padding + "<item><title>Danach"});
        row("news oversize", wOk, reply, wOnly);
    }
    void halves() {
        QFETCH(DailySettings, settings);
        QFETCH(HttpServer::Reply, weatherReply);
        QFETCH(HttpServer::Reply, newsReply);
        QFETCH(net::Timeouts, limits);
        m_server.route(forecastPath, weatherReply);
        m_server.route(newsPath, newsReply);
        if (!settings.includeWeather && !settings.includeNews)
            QVERIFY(DailyContextService::fetch(settings, fast).isFinished());
        QElapsedTimer clock;
        clock.start();
        QTEST(await(DailyContextService::fetch(settings, limits)).markdownBlock(), "block");
        if (limits != fast) // cut off by the short time-outs
            QVERIFY2(clock.elapsed() < 3000, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(m_server.requests(forecastPath).size(),
                 settings.includeWeather ? 1 : 0); // no retry
        QCOMPARE(m_server.requests(newsPath).size(), settings.includeNews ? 1 : 0);
    }

    // Each answer waits until both requests have arrived: a fetch that awaited one request before
    // sending the other would run into the time-out. The fetch waits for the slower half.
    void bothRequestsAreInFlightAtOnce() {
        HttpServer::Reply weather = HttpServer::ok(fullForecast), news = rss(threeHeadlines);
        weather.holdUntilRequests = news.holdUntilRequests = 2;
        news.delay = 300ms;
        m_server.route(forecastPath, weather);
        m_server.route(newsPath, news);
        QCOMPARE(await(DailyContextService::fetch({.headlineCount = 2}, {3s, 3s})).markdownBlock(),
                 u"---\n\n*"_s + fullLine + u"*\n\n"_s + threeBlock.section(u'\n', 0, 2));
        QCOMPARE(m_server.requests(newsPath).first().query, QString());
    }

    // On a worker thread with an event loop of its own, not on the network's.
    void resultsArriveOnTheCallingThread() {
        m_server.route(forecastPath, HttpServer::ok(fullForecast));
        m_server.route(newsPath, rss(threeHeadlines));
        QThread worker;
        worker.start();
        QObject anchor;
        anchor.moveToThread(&worker);
        std::atomic<QThread*> seen = nullptr;
        QMetaObject::invokeMethod(&anchor, [&] {
            DailyContextService::fetch({}, fast).then([&](const DailyContext& c) {
                if (c.weather && c.headlines.size() == 3)
                    seen = QThread::currentThread();
            });
        });
        QTRY_COMPARE_WITH_TIMEOUT(seen.load(), &worker, 10000);
        worker.quit();
        worker.wait();
    }
};

ORVIK_TEST_MAIN(TestDailyContext)
#include "tst_daily_context.moc"
