#include "dailysettings.h"

#include "platform/preferences.h"

#include <QLocale>

#include <algorithm>
#include <cmath>

namespace orvik {

DailySettings DailySettings::current() {
    DailySettings s;

    const auto latitude = prefs::value(QStringLiteral("OrvikLatitude"));
    const auto longitude = prefs::value(QStringLiteral("OrvikLongitude"));
    if (latitude && longitude) {
        const auto lat = prefs::toDouble(*latitude);
        const auto lon = prefs::toDouble(*longitude);
        // NaN fails both comparisons and so counts as out of range.
        if (lat && lon && std::fabs(*lat) <= 90.0 && std::fabs(*lon) <= 180.0) {
            s.latitude = *lat;
            s.longitude = *lon;
        }
    }

    if (const auto name = prefs::value(QStringLiteral("OrvikLocationName")))
        s.locationName = prefs::toText(*name).value_or(defaultLocationName());

    const auto flag = [](const QString& key) {
        const auto stored = prefs::value(key);
        return stored ? prefs::toBool(*stored).value_or(true) : true;
    };
    s.includeWeather = flag(QStringLiteral("OrvikIncludeWeather"));
    s.includeNews = flag(QStringLiteral("OrvikIncludeNews"));

    if (const auto count = prefs::value(QStringLiteral("OrvikHeadlineCount"))) {
        const qint64 n = prefs::toInteger(*count).value_or(defaultHeadlineCount);
        s.headlineCount = int(std::clamp<qint64>(n, minHeadlineCount, maxHeadlineCount));
    }
    return s;
}

QString decimalText(double value) {
    if (value == 0.0)
        return QStringLiteral("0.0");
    QString text = QString::number(value, 'f', QLocale::FloatingPointShortest);
    if (std::isfinite(value) && !text.contains(u'.'))
        text += QStringLiteral(".0");
    return text;
}

} // namespace orvik
