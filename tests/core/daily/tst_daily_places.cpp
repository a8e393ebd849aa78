#include "httpserver.h"
#include "testenv.h"

#include "daily/geocoder.h"

#include <QUrlQuery>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;
using namespace orvik;
using namespace orvik::test;

// The place lookup against a local stand-in for the geocoding service.
class TestDailyPlaces : public QObject {
    Q_OBJECT

    HttpServer m_server;

    // The service's answer listing `places`, JSON written with ' for ".
    static HttpServer::Reply answer(const QByteArray& places) {
        return HttpServer::ok(QByteArray("{'results':" + places + "}").replace('\'', '"'));
    }
    QList<GeoResult> search(const QString& query, const HttpServer::Reply& reply,
                            orvik::net::Timeouts limits = Geocoder::timeouts) {
        m_server.route(u"/v1/search"_s, reply);
        return await(Geocoder::search(query, limits));
    }

private Q_SLOTS:
    void initTestCase() { qputenv("ORVIK_GEOCODER_URL", m_server.baseUrl().toUtf8()); }
    void init() { m_server.clear(); }

    // Encoded so that the server reads it back; only blanks are trimmed; a blank asks nobody.
    void requestCarriesTheTrimmedQuery() {
        const QString odd = u"Bad Homburg v. d. Höhe + 1&2=3 #4 ?100%"_s;
        for (const auto& [typed, sent] : {std::pair{odd, odd},
                                          {u"  Berlin\n"_s, u"Berlin\n"_s},
                                          {u" \tBraunschweig\t "_s, u"Braunschweig"_s}}) {
            m_server.clear();
            search(typed, answer("[]"));
            const QString query = m_server.requests().first().query;
            QCOMPARE(QUrlQuery(query).queryItemValue(u"name"_s, QUrl::FullyDecoded), sent);
            QVERIFY(!query.contains(u'+'));
        }
        for (const QString& blank : {QString(), u"   "_s, u"\t \t"_s}) {
            const auto future = Geocoder::search(blank);
            QVERIFY(future.isFinished() && future.result().isEmpty());
        }
        QCOMPARE(m_server.requests().size(), 1); // none for the blank queries
        const auto request = m_server.requests().first();
        QCOMPARE(request.method, QByteArray("GET"));
        QCOMPARE(request.path, u"/v1/search"_s);
        QCOMPARE(request.query, u"name=Braunschweig&count=10&language=de&format=json"_s);
    }

    // The region joins state and country; the name falls back to the state, then to the query;
    // places without a location are skipped and do not count towards the six.
    void answersBecomeRows_data() {
        QTest::addColumn<QByteArray>("places");
        QTest::addColumn<QStringList>("rows");
        QTest::newRow("region")
            << QByteArray(
                   "[{'name':'A','latitude':1,'longitude':1,'admin1':'Bayern','country':'DE'},"
                   "{'name':'B','latitude':2,'longitude':2,'admin1':'Bayern'},{'name':'C',"
                   "'latitude':3,'longitude':3,'country':'AT'},{'name':'D','latitude':4,"
                   "'longitude':4},{'name':'E','latitude':5,'longitude':5,'admin1':'','country':''}"
                   "]")
            << QStringList{u"A / Bayern, DE"_s, u"B / Bayern"_s, u"C / AT"_s, u"D / "_s, u"E / "_s};
        QTest::newRow("without name")
            << QByteArray("[{'latitude':1,'longitude':2,'admin1':'Hessen','country':'Deutschland'},"
                          "{'latitude':3,'longitude':4,'name':17}]")
            << QStringList{u"Hessen / Hessen, Deutschland"_s, u"Gießen / "_s};
        QByteArray twelve = "[{'name':'ohne'},{'name':'halb','latitude':1},"
                            "{'name':'Text','latitude':'1','longitude':2},'kein Objekt'";
        QStringList six;
        for (int i = 0; i < 12; ++i) {
            twelve += ",{'name':'P" + QByteArray::number(i) + "','latitude':0,'longitude':0}";
            if (i < 6)
                six.append(u"P%1 / "_s.arg(i));
        }
        QTest::newRow("without location, and twelve") << twelve + "]" << six;
    }
    void answersBecomeRows() {
        QFETCH(QByteArray, places);
        QStringList rows;
        for (const GeoResult& r : search(u" Gießen "_s, answer(places)))
            rows.append(r.name + u" / "_s + r.region);
        QTEST(rows, "rows");
    }

    // Same name and region keep the first; the id is the coordinates in shortest form.
    void duplicatesKeepTheFirst() {
        const auto results =
            search(u"N"_s, answer("[{'name':'N','latitude':1,'longitude':1,'admin1':'H'},"
                                  "{'name':'N','latitude':2,'longitude':2,'admin1':'H'},"
                                  "{'name':'N','latitude':3,'longitude':-7.25}]"));
        QCOMPARE(results, (QList<GeoResult>{{u"N"_s, u"H"_s, 1, 1}, {u"N"_s, {}, 3, -7.25}}));
        QCOMPARE(results.last().id(), u"3.0,-7.25"_s);
    }

    void everyFailureGivesAnEmptyList_data() {
        QTest::addColumn<HttpServer::Reply>("reply");
        const QByteArray valid = answer("[{'name':'X','latitude':1,'longitude':1}]").body;
        QTest::newRow("no match") << HttpServer::ok(R"({"generationtime_ms":0.3})");
        QTest::newRow("status 500") << HttpServer::status(500, valid);
        QTest::newRow("not JSON") << HttpServer::ok("<html>Fehler</html>", "text/html");
        QTest::newRow("cut JSON") << HttpServer::ok(valid.chopped(12));
        QTest::newRow("results not a list") << HttpServer::ok(R"({"results":{"name":"X"}})");
        QTest::newRow("top level a list") << HttpServer::ok(R"([{"name":"X"}])");
        QTest::newRow("oversize") << HttpServer::ok(valid +
                                                    QByteArray(Geocoder::maxBodyBytes, ' '));
        HttpServer::Reply stalled;
        stalled.stall = true;
        QTest::newRow("stalled") << stalled;
        QTest::newRow("unreachable") << HttpServer::redirect(u"http://127.0.0.1:1/v1/search"_s);
    }
    void everyFailureGivesAnEmptyList() {
        QFETCH(HttpServer::Reply, reply);
        QElapsedTimer clock;
        clock.start();
        QVERIFY(search(u"X"_s, reply, {200ms, 5s}).isEmpty());
        QVERIFY(clock.elapsed() < 4000);
    }
};

ORVIK_TEST_MAIN(TestDailyPlaces)
#include "tst_daily_places.moc"
