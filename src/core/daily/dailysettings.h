#pragma once

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

    QString locationName = defaultLocationName();
    double latitude = defaultLatitude;   // degrees north
    double longitude = defaultLongitude; // degrees east
    bool includeWeather = true;
    bool includeNews = true;
    int headlineCount = defaultHeadlineCount; // 1 to 8

    // Reads "OrvikLocationName", "OrvikLatitude", "OrvikLongitude",
    // "OrvikIncludeWeather", "OrvikIncludeNews" and "OrvikHeadlineCount" anew.
    // Absent or unusable values fall back to the defaults above; a coordinate
    // pair with one value missing, unreadable or out of range falls back as a pair.
    static DailySettings current();

    friend bool operator==(const DailySettings&, const DailySettings&) = default;
};

// The shortest decimal text that reads back to the same double, with a point
// and at least one decimal: 52.3459667, 52.0, -0.5.
QString decimalText(double value);

} // namespace orvik
