#pragma once

#include "platform/preferences.h"

#include <QString>

namespace orvik {

// What the diary's daily context contains and for which place: a snapshot of
// the preferences, taken when a diary entry is filled.
struct DailySettings {
    static constexpr double defaultLatitude = 52.3459667;
    static constexpr double defaultLongitude = 10.4499328;
    static constexpr int defaultHeadlineCount = 4;
    static constexpr int minHeadlineCount = 1;
    static constexpr int maxHeadlineCount = 8;
    static QString defaultLocationName() { return QStringLiteral("Schwülper"); }

    static constexpr QStringView locationNameKey = u"OrvikLocationName";
    static constexpr QStringView latitudeKey = u"OrvikLatitude";
    static constexpr QStringView longitudeKey = u"OrvikLongitude";
    static constexpr QStringView headlineCountKey = u"OrvikHeadlineCount";
    static constexpr prefs::Flag weatherFlag{u"OrvikIncludeWeather", true};
    static constexpr prefs::Flag newsFlag{u"OrvikIncludeNews", true};

    QString locationName = defaultLocationName();
    double latitude = defaultLatitude;   // degrees north
    double longitude = defaultLongitude; // degrees east
    bool includeWeather = true;
    bool includeNews = true;
    int headlineCount = defaultHeadlineCount; // 1 to 8

    // Reads the six preferences anew.
    // Absent or unusable values fall back to the defaults above; a coordinate
    // pair with one value missing, unreadable or out of range falls back as a pair.
    static DailySettings current();

    // The place is stored as one: a name never goes with another place's
    // coordinates.
    static void storePlace(const QString& name, double latitude, double longitude);
    static void storeHeadlineCount(int count);

    friend bool operator==(const DailySettings&, const DailySettings&) = default;
};

// The shortest decimal text that reads back to the same double, with a point
// and at least one decimal: 52.3459667, 52.0, -0.5.
QString decimalText(double value);

} // namespace orvik
