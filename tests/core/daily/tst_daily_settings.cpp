#include "testenv.h"

#include "daily/dailysettings.h"

#include <QDateTime>
#include <QSettings>

using namespace Qt::StringLiterals;
using orvik::DailySettings;

// The daily-context preferences as the diary reads them.
class TestDailySettings : public QObject {
    Q_OBJECT

    static void store(const QVariantHash& values) {
        QSettings settings(u"Orvik"_s, u"Orvik"_s);
        for (auto it = values.cbegin(); it != values.cend(); ++it)
            settings.setValue(it.key(), it.value());
    }
    static QString configFile() { return QSettings(u"Orvik"_s, u"Orvik"_s).fileName(); }

private Q_SLOTS:
    void init() { QSettings(u"Orvik"_s, u"Orvik"_s).clear(); }

    void emptyStoreGivesTheDefaults() { QCOMPARE(DailySettings::current(), DailySettings()); }

    // What another process wrote comes back from the INI file as text.
    void fileKeysAreReadAndWritten() {
        QSettings(u"Orvik"_s, u"Orvik"_s).sync();
        QVERIFY(orvik::test::writeBytes(configFile(), "[General]\n"
                                                      "OrvikLocationName=Wolfsburg\n"
                                                      "OrvikLatitude=52.42\n"
                                                      "OrvikLongitude=-10.5\n"
                                                      "OrvikIncludeWeather=false\n"
                                                      "OrvikIncludeNews=true\n"
                                                      "OrvikHeadlineCount=2\n"));
        QSettings(u"Orvik"_s, u"Orvik"_s).sync(); // drop the cached state
        const DailySettings s = DailySettings::current();
        QCOMPARE(s.locationName, u"Wolfsburg"_s);
        QCOMPARE(s.latitude, 52.42);
        QCOMPARE(s.longitude, -10.5);
        QCOMPARE(s.includeWeather, false);
        QCOMPARE(s.includeNews, true);
        QCOMPARE(s.headlineCount, 2);

        // What the settings window stores goes under the same keys.
        DailySettings::storePlace(u"Celle"_s, 52.6, -10.1);
        DailySettings::storeHeadlineCount(7);
        DailySettings::weatherFlag.write(true);
        DailySettings::newsFlag.write(false);
        const QByteArray file = orvik::test::readBytes(configFile());
        for (const char* key :
             {"OrvikLocationName=Celle", "OrvikLatitude=52.6", "OrvikLongitude=-10.1",
              "OrvikHeadlineCount=7", "OrvikIncludeWeather=true", "OrvikIncludeNews=false"})
            QVERIFY2(file.contains(key), key);
    }

    void coordinates_data() {
        QTest::addColumn<QVariant>("latitude"); // invalid QVariant: key absent
        QTest::addColumn<QVariant>("longitude");
        QTest::addColumn<double>("expectedLatitude");
        QTest::addColumn<double>("expectedLongitude");
        const double dLat = DailySettings::defaultLatitude;
        const double dLon = DailySettings::defaultLongitude;
        QTest::newRow("latitude 95") << QVariant(95.0) << QVariant(13.0) << dLat << dLon;
        QTest::newRow("latitude -90.5") << QVariant(-90.5) << QVariant(13.0) << dLat << dLon;
        QTest::newRow("longitude 181") << QVariant(48.0) << QVariant(181.0) << dLat << dLon;
        QTest::newRow("latitude only") << QVariant(48.0) << QVariant() << dLat << dLon;
        QTest::newRow("longitude only") << QVariant() << QVariant(13.0) << dLat << dLon;
        QTest::newRow("90 and 180") << QVariant(90.0) << QVariant(180.0) << 90.0 << 180.0;
        QTest::newRow("-90 and -180") << QVariant(-90.0) << QVariant(-180.0) << -90.0 << -180.0;
        QTest::newRow("0 and 0") << QVariant(0.0) << QVariant(0.0) << 0.0 << 0.0;
        QTest::newRow("as text") << QVariant(u"48.5"_s) << QVariant(u"-3.25"_s) << 48.5 << -3.25;
        QTest::newRow("whole numbers") << QVariant(48) << QVariant(11) << 48.0 << 11.0;
        QTest::newRow("not a number") << QVariant(u"Nord"_s) << QVariant(13.0) << dLat << dLon;
        QTest::newRow("nan") << QVariant(u"nan"_s) << QVariant(13.0) << dLat << dLon;
        QTest::newRow("inf") << QVariant(48.0) << QVariant(u"inf"_s) << dLat << dLon;
        QTest::newRow("a list") << QVariant(QStringList{u"1"_s, u"2"_s}) << QVariant(13.0) << dLat
                                << dLon;
    }
    void coordinates() {
        QFETCH(QVariant, latitude);
        QFETCH(QVariant, longitude);
        store({{u"OrvikLocationName"_s, u"Irgendwo"_s}});
        if (latitude.isValid())
            store({{u"OrvikLatitude"_s, latitude}});
        if (longitude.isValid())
            store({{u"OrvikLongitude"_s, longitude}});
        const DailySettings s = DailySettings::current();
        QTEST(s.latitude, "expectedLatitude");
        QTEST(s.longitude, "expectedLongitude");
        // The stored name stays, even with the default coordinates.
        QCOMPARE(s.locationName, u"Irgendwo"_s);
    }

    void headlineCount_data() {
        QTest::addColumn<QVariant>("stored");
        QTest::addColumn<int>("expected");
        QTest::newRow("0") << QVariant(0) << 1;
        QTest::newRow("-3") << QVariant(-3) << 1;
        QTest::newRow("1") << QVariant(1) << 1;
        QTest::newRow("8") << QVariant(8) << 8;
        QTest::newRow("20") << QVariant(20) << 8;
        QTest::newRow("huge") << QVariant(u"99999999999999"_s) << 8;
        QTest::newRow("text 6") << QVariant(u"6"_s) << 6;
        QTest::newRow("text five") << QVariant(u"fünf"_s) << 4;
        QTest::newRow("fraction") << QVariant(u"2.5"_s) << 4;
        QTest::newRow("double 3.0") << QVariant(3.0) << 3;
        QTest::newRow("double 3.5") << QVariant(3.5) << 4;
        QTest::newRow("bool") << QVariant(true) << 4;
        QTest::newRow("date") << QVariant(QDateTime::currentDateTime()) << 4;
    }
    void headlineCount() {
        QFETCH(QVariant, stored);
        store({{u"OrvikHeadlineCount"_s, stored}});
        QTEST(DailySettings::current().headlineCount, "expected");
    }

    void switches_data() {
        QTest::addColumn<QVariant>("stored");
        QTest::addColumn<bool>("expected");
        QTest::newRow("false") << QVariant(false) << false;
        QTest::newRow("true") << QVariant(true) << true;
        QTest::newRow("text false") << QVariant(u"false"_s) << false;
        QTest::newRow("text FALSE") << QVariant(u"FALSE"_s) << false;
        QTest::newRow("text 0") << QVariant(u"0"_s) << false;
        QTest::newRow("number 0") << QVariant(0) << false;
        QTest::newRow("number 1") << QVariant(1) << true;
        // The wrong kind gives the default, true.
        QTest::newRow("number 2") << QVariant(2) << true;
        QTest::newRow("text nein") << QVariant(u"nein"_s) << true;
        QTest::newRow("empty text") << QVariant(u""_s) << true;
        QTest::newRow("list") << QVariant(QStringList{u"false"_s}) << true;
    }
    void switches() {
        QFETCH(QVariant, stored);
        store({{u"OrvikIncludeWeather"_s, stored}, {u"OrvikIncludeNews"_s, stored}});
        const DailySettings s = DailySettings::current();
        QTEST(s.includeWeather, "expected");
        QTEST(s.includeNews, "expected");
    }

    void placeNameOfTheWrongKindGivesTheDefault() {
        store({{u"OrvikLocationName"_s, QStringList{u"a"_s, u"b"_s}}});
        QCOMPARE(DailySettings::current().locationName, u"Schwülper"_s);
        store({{u"OrvikLocationName"_s, QString()}});
        QCOMPARE(DailySettings::current().locationName, QString()); // empty, but stored
    }

    void decimalText_data() {
        QTest::addColumn<double>("value");
        QTest::addColumn<QString>("text");
        QTest::newRow("default latitude") << 52.3459667 << u"52.3459667"_s;
        QTest::newRow("whole") << 52.0 << u"52.0"_s;
        QTest::newRow("negative") << -0.5 << u"-0.5"_s;
        QTest::newRow("zero") << 0.0 << u"0.0"_s;
        QTest::newRow("small") << 0.00001 << u"0.00001"_s;
        QTest::newRow("a third") << 1.0 / 3 << u"0.3333333333333333"_s;
    }
    void decimalText() {
        QFETCH(double, value);
        QTEST(orvik::decimalText(value), "text");
        QCOMPARE(orvik::decimalText(value).toDouble(), value);
    }
};

ORVIK_TEST_MAIN(TestDailySettings)
#include "tst_daily_settings.moc"
