#include "testenv.h"

#include "daily/dailysettings.h"

#include <QSettings>

using namespace Qt::StringLiterals;
using orvik::DailySettings;
using namespace orvik::test;

// The daily-context preferences as the diary reads them.
class TestDailySettings : public QObject {
    Q_OBJECT

    static QSettings settings() { return QSettings(u"Orvik"_s, u"Orvik"_s); }
    static QString shown(const QVariant& v) {
        return QString::fromLatin1(v.typeName()) + u' ' + v.toString();
    }

private Q_SLOTS:
    void init() { settings().clear(); }

    // Read from the INI file as another process wrote it, and written back under the same keys.
    void fileKeysAreReadAndWritten() {
        settings().sync();
        const QString file = settings().fileName();
        QVERIFY(writeBytes(file, "[General]\nOrvikLocationName=Wolfsburg\nOrvikLatitude=52.42\n"
                                 "OrvikLongitude=-10.5\nOrvikIncludeWeather=false\n"
                                 "OrvikIncludeNews=false\nOrvikHeadlineCount=2\n"));
        settings().sync(); // drops the cached state
        QCOMPARE(DailySettings::current(),
                 (DailySettings{u"Wolfsburg"_s, 52.42, -10.5, false, false, 2}));
        DailySettings::storePlace(u"Celle"_s, 52.6, -10.1);
        DailySettings::storeHeadlineCount(7);
        DailySettings::weatherFlag.write(true);
        DailySettings::newsFlag.write(true);
        QCOMPARE(readBytes(file), "[General]\nOrvikHeadlineCount=7\nOrvikIncludeNews=true\n"
                                  "OrvikIncludeWeather=true\nOrvikLatitude=52.6\n"
                                  "OrvikLocationName=Celle\nOrvikLongitude=-10.1\n");
    }

    // Unusable values give the defaults: the first nine places (out of range, half a pair, not
    // finite) keep only the name; limits are included, zero is not absent, text is taken.
    void storedValues_data() {
        QTest::addColumn<QVariantHash>("stored"); // invalid values: absent
        QTest::addColumn<DailySettings>("expected");
        const QVariant none, list = QStringList{u"1"_s, u"2"_s}, inf = u"inf"_s;
        const QVariantList lats{95.0, -90.5, 48.0, 48.0,  none, u"Nord"_s, u"nan"_s,
                                48.0, list,  90.0, -90.0, 0.0,  u"48.5"_s, 48};
        const QVariantList lons{13.0, 13.0, 181.0, none,   13.0, 13.0,       13.0,
                                inf,  13.0, 180.0, -180.0, 0.0,  u"-3.25"_s, 11};
        for (qsizetype i = 0; i < lats.size(); ++i)
            QTest::newRow(qPrintable(shown(lats[i]) + u", "_s + shown(lons[i])))
                << QVariantHash{{u"OrvikLocationName"_s, u"Irgendwo"_s},
                                {u"OrvikLatitude"_s, lats[i]},
                                {u"OrvikLongitude"_s, lons[i]}}
                << DailySettings{u"Irgendwo"_s,
                                 i < 9 ? DailySettings::defaultLatitude : lats[i].toDouble(),
                                 i < 9 ? DailySettings::defaultLongitude : lons[i].toDouble()};
        const auto row = [](const QString& key, const QVariant& stored, const DailySettings& e) {
            QTest::newRow(qPrintable(key + u' ' + shown(stored)))
                << QVariantHash{{key, stored}} << e;
        };
        // Clamped to 1…8, whole numbers of any kind; fractions and flags give the default, 4.
        const QVariantList counts{0, 20, u"99999999999999"_s, u"6"_s, u"2.5"_s, 3.0, 3.5, true};
        const QList<int> countsRead{1, 8, 8, 6, 4, 3, 4, 4};
        for (qsizetype i = 0; i < counts.size(); ++i)
            row(u"OrvikHeadlineCount"_s, counts[i], {.headlineCount = countsRead[i]});
        // Off in any spelling of false; the wrong kind gives the default, on.
        const QVariantList switches{false, u"false"_s, u"FALSE"_s, u"0"_s,
                                    0,     2,          u"nein"_s,  QStringList{u"false"_s}};
        for (qsizetype i = 0; i < switches.size(); ++i)
            row(u"OrvikIncludeWeather"_s, switches[i], {.includeWeather = i > 4});
        row(u"OrvikLocationName"_s, QStringList{u"a"_s, u"b"_s}, {});
        row(u"OrvikLocationName"_s, QString(), {.locationName = QString()});
    }
    void storedValues() {
        QFETCH(QVariantHash, stored);
        for (auto it = stored.cbegin(); it != stored.cend(); ++it)
            if (it.value().isValid())
                settings().setValue(it.key(), it.value());
        QTEST(DailySettings::current(), "expected");
    }
};

ORVIK_TEST_MAIN(TestDailySettings)
#include "tst_daily_settings.moc"
