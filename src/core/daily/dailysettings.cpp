#include "dailysettings.h"

#include "platform/preferences.h"

#include <QLocale>

#include <algorithm>
#include <cmath>

namespace orvik {

DailySettings DailySettings::current() {
    DailySettings s;

    const auto latitude = prefs::value(latitudeKey.toString());
    const auto longitude = prefs::value(longitudeKey.toString());
    if (latitude && longitude) {
        const auto lat = prefs::toDouble(*latitude);
        const auto lon = prefs::toDouble(*longitude);
        // NaN fails both comparisons and so counts as out of range.
        if (lat && lon && std::fabs(*lat) <= 90.0 && std::fabs(*lon) <= 180.0) {
            s.latitude = *lat;
            s.longitude = *lon;
        }
    }

    if (const auto name = prefs::value(locationNameKey.toString()))
        s.locationName = prefs::toText(*name).value_or(defaultLocationName());

    s.includeWeather = weatherFlag.read();
    s.includeNews = newsFlag.read();

    if (const auto count = prefs::value(headlineCountKey.toString())) {
        const qint64 n = prefs::toInteger(*count).value_or(defaultHeadlineCount);
        s.headlineCount = int(std::clamp<qint64>(n, minHeadlineCount, maxHeadlineCount));
    }
    return s;
}

void DailySettings::storePlace(const QString& name, double latitude, double longitude) {
    prefs::setValue(locationNameKey.toString(), name);
    prefs::setValue(latitudeKey.toString(), latitude);
    prefs::setValue(longitudeKey.toString(), longitude);
}

void DailySettings::storeHeadlineCount(int count) {
    prefs::setValue(headlineCountKey.toString(), count);
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
