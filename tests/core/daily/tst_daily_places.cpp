#include "httpserver.h"
#include "testenv.h"

#include "daily/geocoder.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>
#include <QUrlQuery>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;
using orvik::Geocoder;
using orvik::GeoResult;
using orvik::test::await;
using orvik::test::HttpServer;

// The place lookup against a local stand-in for the geocoding service.
class TestDailyPlaces : public QObject {
    Q_OBJECT

    HttpServer m_server;

    static QJsonObject place(const QString& name, double lat, double lon,
                             const QString& admin1 = {}, const QString& country = {}) {
        QJsonObject o{{u"name"_s, name}, {u"latitude"_s, lat}, {u"longitude"_s, lon}};
        if (!admin1.isNull())
            o.insert(u"admin1"_s, admin1);
        if (!country.isNull())
            o.insert(u"country"_s, country);
        return o;
    }
    static QByteArray answer(const QJsonArray& places) {
        return QJsonDocument(QJsonObject{{u"results"_s, places}, {u"generationtime_ms"_s, 0.5}})
            .toJson();
    }
    static QStringList names(const QList<GeoResult>& results) {
        QStringList list;
        for (const GeoResult& r : results)
            list.append(r.name + u" / "_s + r.region);
        return list;
    }
    QList<GeoResult> search(const QString& query, const HttpServer::Reply& reply,
                            orvik::net::Timeouts limits = Geocoder::timeouts) {
        m_server.route(u"/v1/search"_s, reply);
        return await(Geocoder::search(query, limits));
    }

private Q_SLOTS:
    void initTestCase() { qputenv("ORVIK_GEOCODER_URL", m_server.baseUrl().toUtf8()); }
    void init() { m_server.clear(); }

    void requestCarriesTheTrimmedQuery() {
        const auto results =
            search(u" \tBraunschweig\t "_s,
                   HttpServer::ok(answer({place(u"Braunschweig"_s, 52.26594, 10.52673,
                                                u"Niedersachsen"_s, u"Deutschland"_s)})));
        QCOMPARE(m_server.requests().size(), 1);
        const auto request = m_server.requests().first();
        QCOMPARE(request.method, QByteArray("GET"));
        QCOMPARE(request.path, u"/v1/search"_s);
        QCOMPARE(request.query, u"name=Braunschweig&count=10&language=de&format=json"_s);
        QCOMPARE(results.size(), 1);
        QCOMPARE(results[0].name, u"Braunschweig"_s);
        QCOMPARE(results[0].region, u"Niedersachsen, Deutschland"_s);
        QCOMPARE(results[0].latitude, 52.26594);
        QCOMPARE(results[0].longitude, 10.52673);
        QCOMPARE(results[0].id(), u"52.26594,10.52673"_s);

        // Encoded so that the server reads it back; only spaces and tabs are trimmed.
        const std::pair<QString, QString> typed[] = {{u"Bad Homburg v. d. Höhe + 1&2=3 #4 ?100%"_s,
                                                      u"Bad Homburg v. d. Höhe + 1&2=3 #4 ?100%"_s},
                                                     {u"  Berlin\n"_s, u"Berlin\n"_s}};
        for (const auto& [text, sent] : typed) {
            m_server.clear();
            search(text, HttpServer::ok(answer({})));
            const QString query = m_server.requests().first().query;
            QCOMPARE(QUrlQuery(query).queryItemValue(u"name"_s, QUrl::FullyDecoded), sent);
            QVERIFY(!query.contains(u'+'));
        }
    }

    void blankQueryAsksNobody() {
        for (const QString& blank : {QString(), u"   "_s, u"\t \t"_s}) {
            const auto future = Geocoder::search(blank);
            QVERIFY(future.isFinished());
            QVERIFY(future.result().isEmpty());
        }
        QVERIFY(m_server.requests().isEmpty());
    }

    void answersBecomeRows_data() {
        QTest::addColumn<QJsonArray>("places");
        QTest::addColumn<QStringList>("rows");
        QTest::newRow("region joins state and country")
            << QJsonArray{place(u"A"_s, 1, 1, u"Bayern"_s, u"Deutschland"_s),
                          place(u"B"_s, 2, 2, u"Bayern"_s),
                          place(u"C"_s, 3, 3, {}, u"Österreich"_s), place(u"D"_s, 4, 4),
                          place(u"E"_s, 5, 5, u""_s, u""_s)}
            << QStringList{u"A / Bayern, Deutschland"_s, u"B / Bayern"_s, u"C / Österreich"_s,
                           u"D / "_s, u"E / "_s};
        // The name falls back to the state, then to the query.
        QTest::newRow("without name")
            << QJsonArray{QJsonObject{{u"latitude"_s, 1.0},
                                      {u"longitude"_s, 2.0},
                                      {u"admin1"_s, u"Hessen"_s},
                                      {u"country"_s, u"Deutschland"_s}},
                          QJsonObject{{u"latitude"_s, 3.0}, {u"longitude"_s, 4.0}, {u"name"_s, 17}}}
            << QStringList{u"Hessen / Hessen, Deutschland"_s, u"Gießen / "_s};
        // Skipped places do not count towards the six.
        QJsonArray skipped{
            QJsonObject{{u"name"_s, u"ohne"_s}},
            QJsonObject{{u"name"_s, u"halb"_s}, {u"latitude"_s, 1.0}},
            QJsonObject{{u"name"_s, u"Text"_s}, {u"latitude"_s, u"1"_s}, {u"longitude"_s, 2.0}},
            u"kein Objekt"_s};
        QStringList six;
        for (int i = 0; i < 12; ++i) {
            skipped.append(place(u"P%1"_s.arg(i), i, i));
            if (i < 6)
                six.append(u"P%1 / "_s.arg(i));
        }
        QTest::newRow("without location, and twelve") << skipped << six;
    }
    void answersBecomeRows() {
        QFETCH(QJsonArray, places);
        QTEST(names(search(u" Gießen "_s, HttpServer::ok(answer(places)))), "rows");
    }

    void duplicatesByNameAndRegionKeepTheFirst() {
        const auto results = search(
            u"Neustadt"_s,
            HttpServer::ok(answer({place(u"Neustadt"_s, 1, 1, u"Hessen"_s, u"Deutschland"_s),
                                   place(u"Neustadt"_s, 2, 2, u"Hessen"_s, u"Deutschland"_s),
                                   place(u"Neustadt"_s, 3, 3, u"Sachsen"_s, u"Deutschland"_s)})));
        QCOMPARE(results.size(), 2);
        QCOMPARE(results[0].latitude, 1.0);
        QCOMPARE(results[1].region, u"Sachsen, Deutschland"_s);
    }

    void everyFailureGivesAnEmptyList_data() {
        QTest::addColumn<HttpServer::Reply>("reply");
        QTest::newRow("no match") << HttpServer::ok(R"({"generationtime_ms":0.3})");
        QTest::newRow("status 500") << HttpServer::status(500, answer({place(u"X"_s, 1, 1)}));
        QTest::newRow("status 404") << HttpServer::status(404);
        QTest::newRow("not JSON") << HttpServer::ok("<html>Fehler</html>", "text/html");
        QTest::newRow("cut JSON") << HttpServer::ok(R"({"results":[{"name":"X","lat)");
        QTest::newRow("results not a list") << HttpServer::ok(R"({"results":{"name":"X"}})");
        QTest::newRow("top level a list") << HttpServer::ok(R"([{"name":"X"}])");
        HttpServer::Reply huge =
            HttpServer::ok(answer({place(u"X"_s, 1, 1)}) + QByteArray(Geocoder::maxBodyBytes, ' '));
        QTest::newRow("oversize") << huge;
        HttpServer::Reply stalled;
        stalled.stall = true;
        QTest::newRow("stalled") << stalled;
    }
    void everyFailureGivesAnEmptyList() {
        QFETCH(HttpServer::Reply, reply);
        QElapsedTimer clock;
        clock.start();
        QVERIFY(search(u"X"_s, reply, {200ms, 5s}).isEmpty());
        QVERIFY(clock.elapsed() < 4000);
    }

    void unreachableServiceGivesAnEmptyList() {
        qputenv("ORVIK_GEOCODER_URL", "http://127.0.0.1:1");
        const auto results = await(Geocoder::search(u"Berlin"_s));
        qputenv("ORVIK_GEOCODER_URL", m_server.baseUrl().toUtf8());
        QVERIFY(results.isEmpty());
    }

    void redirectIsFollowed() {
        m_server.route(u"/v2/search"_s, HttpServer::ok(answer({place(u"Celle"_s, 52.6, 10.1)})));
        const auto results =
            search(u"Celle"_s, HttpServer::redirect(m_server.baseUrl() + u"/v2/search"_s));
        QCOMPARE(names(results), QStringList{u"Celle / "_s});
    }

    void resultIdentityAndEquality() {
        const GeoResult a{u"A"_s, u"R"_s, 52.0, -7.25};
        QCOMPARE(a.id(), u"52.0,-7.25"_s);
        GeoResult b = a;
        QCOMPARE(a, b);
        QCOMPARE(qHash(a), qHash(b));
        b.region = u"S"_s;
        QVERIFY(a != b);
        QCOMPARE(QSet<GeoResult>({a, b, a}).size(), 2);
    }
};

ORVIK_TEST_MAIN(TestDailyPlaces)
#include "tst_daily_places.moc"
