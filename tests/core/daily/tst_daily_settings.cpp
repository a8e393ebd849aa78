#include "testenv.h"

#include "daily/dailysettings.h"

#include <QSettings>

using namespace Qt::StringLiterals;
using orvik::DailySettings;

// The daily-context preferences as the diary reads them.
class TestDailySettings : public QObject {
    Q_OBJECT

    static QSettings settings() { return QSettings(u"Orvik"_s, u"Orvik"_s); }

private Q_SLOTS:
    void init() { settings().clear(); }

    // Read from the INI file as another process wrote it, and written back under the same keys.
    void fileKeysAreReadAndWritten() {
        settings().sync();
        QVERIFY(orvik::test::writeBytes(
            settings().fileName(), "[General]\nOrvikLocationName=Wolfsburg\nOrvikLatitude=52.42\n"
                                   "OrvikLongitude=-10.5\nOrvikIncludeWeather=false\n"
                                   "OrvikIncludeNews=false\nOrvikHeadlineCount=2\n"));
        settings().sync(); // drops the cached state
        QCOMPARE(DailySettings::current(),
                 (DailySettings{u"Wolfsburg"_s, 52.42, -10.5, false, false, 2}));
        DailySettings::storePlace(u"Celle"_s, 52.6, -10.1);
        DailySettings::storeHeadlineCount(7);
        DailySettings::weatherFlag.write(true);
        DailySettings::newsFlag.write(true);
        const QByteArray file = orvik::test::readBytes(settings().fileName());
        for (const char* key :
             {"OrvikLocationName=Celle", "OrvikLatitude=52.6", "OrvikLongitude=-10.1",
              "OrvikHeadlineCount=7", "OrvikIncludeWeather=true", "OrvikIncludeNews=true"})
            QVERIFY2(file.contains(key), key);
    }

    // Unusable values give the defaults, a coordinate pair as a pair; the stored name stays.
    void storedValues_data() {
        QTest::addColumn<QVariantHash>("stored"); // invalid values: absent
        QTest::addColumn<DailySettings>("expected");
        const auto place = [](const char* name, QVariant lat, QVariant lon, DailySettings e) {
            QTest::newRow(name) << QVariantHash{{u"OrvikLocationName"_s, u"Irgendwo"_s},
                                                {u"OrvikLatitude"_s, lat},
                                                {u"OrvikLongitude"_s, lon}}
                                << e;
        };
        place("latitude 95", 95.0, 13.0, {u"Irgendwo"_s});
        place("latitude -90.5", -90.5, 13.0, {u"Irgendwo"_s});
        place("longitude 181", 48.0, 181.0, {u"Irgendwo"_s});
        place("latitude only", 48.0, {}, {u"Irgendwo"_s});
        place("longitude only", {}, 13.0, {u"Irgendwo"_s});
        place("90 and 180", 90.0, 180.0, {u"Irgendwo"_s, 90, 180});
        place("-90 and -180", -90.0, -180.0, {u"Irgendwo"_s, -90, -180});
        place("0 and 0", 0.0, 0.0, {u"Irgendwo"_s, 0, 0});
        place("as text", u"48.5"_s, u"-3.25"_s, {u"Irgendwo"_s, 48.5, -3.25});
        place("whole numbers", 48, 11, {u"Irgendwo"_s, 48, 11});
        place("not a number", u"Nord"_s, 13.0, {u"Irgendwo"_s});
        place("nan", u"nan"_s, 13.0, {u"Irgendwo"_s});
        place("inf", 48.0, u"inf"_s, {u"Irgendwo"_s});
        place("a list", QStringList{u"1"_s, u"2"_s}, 13.0, {u"Irgendwo"_s});
        const auto row = [](const char* name, const QString& key, QVariant stored,
                            const DailySettings& expected) {
            QTest::newRow(name) << QVariantHash{{key, stored}} << expected;
        };
        const QString count = u"OrvikHeadlineCount"_s, weather = u"OrvikIncludeWeather"_s;
        row("count 0", count, 0, {.headlineCount = 1});
        row("count 8", count, 8, {.headlineCount = 8});
        row("count 20", count, 20, {.headlineCount = 8});
        row("count huge", count, u"99999999999999"_s, {.headlineCount = 8});
        row("count text 6", count, u"6"_s, {.headlineCount = 6});
        row("count fraction", count, u"2.5"_s, {});
        row("count double 3.0", count, 3.0, {.headlineCount = 3});
        row("count double 3.5", count, 3.5, {});
        row("count bool", count, true, {});
        row("switch false", weather, false, {.includeWeather = false});
        row("switch text false", weather, u"false"_s, {.includeWeather = false});
        row("switch text FALSE", weather, u"FALSE"_s, {.includeWeather = false});
        row("switch text 0", weather, u"0"_s, {.includeWeather = false});
        row("switch number 0", weather, 0, {.includeWeather = false});
        row("switch number 2", weather, 2, {}); // the wrong kind gives the default, true
        row("switch text nein", weather, u"nein"_s, {});
        row("switch list", weather, QStringList{u"false"_s}, {});
        row("name a list", u"OrvikLocationName"_s, QStringList{u"a"_s, u"b"_s}, {});
        row("name empty", u"OrvikLocationName"_s, QString(), {.locationName = QString()});
    }
    void storedValues() {
        QFETCH(QVariantHash, stored);
        for (auto it = stored.cbegin(); it != stored.cend(); ++it)
            if (it.value().isValid())
                settings().setValue(it.key(), it.value());
        QTEST(DailySettings::current(), "expected");
    }

    // The shortest text that reads back to the same double, with a point and a decimal.
    void decimalText() {
        for (const auto& [value, text] : {std::pair{52.3459667, u"52.3459667"_s},
                                          {52.0, u"52.0"_s},
                                          {-0.5, u"-0.5"_s},
                                          {0.0, u"0.0"_s},
                                          {0.00001, u"0.00001"_s},
                                          {1.0 / 3, u"0.3333333333333333"_s}}) {
            QCOMPARE(orvik::decimalText(value), text);
            QCOMPARE(orvik::decimalText(value).toDouble(), value);
        }
    }
};

ORVIK_TEST_MAIN(TestDailySettings)
#include "tst_daily_settings.moc"
