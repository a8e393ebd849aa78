#include "httpserver.h"
#include "testenv.h"

#include "daily/geocoder.h"

#include <QUrlQuery>

using namespace Qt::StringLiterals;
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
    QList<GeoResult> search(const QString& query, const HttpServer::Reply& reply) {
        m_server.route(u"/v1/search"_s, reply);
        return await(Geocoder::search(query));
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
            search(typed, answer("[]"));
            const QString query = m_server.requests().last().query;
            QCOMPARE(QUrlQuery(query).queryItemValue(u"name"_s, QUrl::FullyDecoded), sent);
            QVERIFY(!query.contains(u'+'));
        }
        for (const QString& blank : {QString(), u"   "_s, u"\t \t"_s})
            QVERIFY(Geocoder::search(blank).isFinished() &&
                    await(Geocoder::search(blank)).isEmpty());
        QCOMPARE(m_server.requests().size(), 3); // none for the blank queries
        const auto request = m_server.requests().last();
        QCOMPARE(request.method + ' ' + request.path.toUtf8() + '?' + request.query.toUtf8(),
                 "GET /v1/search?name=Braunschweig&count=10&language=de&format=json");
    }

    // The region joins state and country; the name falls back to the state, then to the query;
    // places without a location are skipped and do not count towards the six; the first of equal
    // name and region stays; the id is the coordinates, shortest text with a decimal; an unusable
    // answer gives none (statuses, stalls, no server: the update checker's shared network code).
    void answersBecomeRows_data() {
        QTest::addColumn<HttpServer::Reply>("reply");
        QTest::addColumn<QStringList>("rows");
        QTest::newRow("region")
            << answer("[{'name':'A','latitude':1,'longitude':1,'admin1':'Bayern','country':'DE'},"
                      "{'name':'B','latitude':2,'longitude':2,'admin1':'Bayern'},{'name':'C',"
                      "'latitude':3,'longitude':3,'country':'AT'},{'name':'D','latitude':4,"
                      "'longitude':4},{'name':'E','latitude':-0.5,'longitude':-7.25,'admin1':'',"
                      "'country':''}]")
            << u"A / Bayern, DE @ 1.0,1.0|B / Bayern @ 2.0,2.0|C / AT @ 3.0,3.0|D /  @ 4.0,4.0|"
               u"E /  @ -0.5,-7.25"_s.split(u'|');
        QTest::newRow("without name")
            << answer("[{'latitude':1,'longitude':2,'admin1':'Hessen','country':'Deutschland'},"
                      "{'latitude':3,'longitude':4,'name':17}]")
            << QStringList{u"Hessen / Hessen, Deutschland @ 1.0,2.0"_s, u"Gießen /  @ 3.0,4.0"_s};
        QByteArray twelve = "[{'name':'ohne'},{'name':'halb','latitude':1},"
                            "{'name':'Text','latitude':'1','longitude':2},'kein Objekt'";
        for (int i = 0; i < 12; ++i)
            twelve += ",{'name':'P" + QByteArray::number(i) + "','latitude':0,'longitude':0}";
        QTest::newRow("without location, and twelve")
            << answer(twelve + "]")
            << u"P0 /  @ 0.0,0.0|P1 /  @ 0.0,0.0|P2 /  @ 0.0,0.0|P3 /  @ 0.0,0.0|P4 /  @ 0.0,0.0|"
               u"P5 /  @ 0.0,0.0"_s.split(u'|');
        QTest::newRow("duplicates keep the first")
            << answer("[{'name':'N','latitude':1,'longitude':1,'admin1':'H'},{'name':'N',"
                      "'latitude':2,'longitude':2,'admin1':'H'},{'name':'N','latitude':0.00001,"
                      "'longitude':0.3333333333333333}]")
            << QStringList{u"N / H @ 1.0,1.0"_s, u"N /  @ 0.00001,0.3333333333333333"_s};
        const QByteArray valid = answer("[{'name':'X','latitude':1,'longitude':1}]").body;
        for (const QByteArray& body :
             QByteArray("{'generationtime_ms':0.3}|<html>Fehler</html>|{'results':{'name':'X'}}|"
                        "[{'name':'X'}]|{'results':[{'name':'X','latitude':1,'lo")
                 .replace('\'', '"')
                 .split('|'))
            QTest::newRow(body.constData()) << HttpServer::ok(body) << QStringList();
        QTest::newRow("oversize") << HttpServer::ok(valid + QByteArray(Geocoder::maxBodyBytes, ' '))
                                  << QStringList();
    }
    void answersBecomeRows() {
        QFETCH(HttpServer::Reply, reply);
        QStringList rows;
        for (const GeoResult& r : search(u" Gießen "_s, reply))
            rows.append(r.name + u" / "_s + r.region + u" @ "_s + r.id());
        QTEST(rows, "rows");
    }
};

ORVIK_TEST_MAIN(TestDailyPlaces)
#include "tst_daily_places.moc"
