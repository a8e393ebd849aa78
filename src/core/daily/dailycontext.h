#pragma once

#include "daily/dailysettings.h"
#include "platform/http.h"

#include <QByteArray>
#include <QFuture>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <optional>

namespace orvik {

// The day's weather line and headlines for a diary entry.
struct DailyContext {
    std::optional<QString> weather; // absent when switched off or not obtainable
    QStringList headlines;          // in feed order; empty when off or not obtainable

    bool isEmpty() const { return !weather && headlines.isEmpty(); }

    // The Markdown block: "---", an empty line, the italic weather line, and the
    // headlines under "*Tagesschau:*". Meant for a context that is not empty.
    QString markdownBlock() const;

    friend bool operator==(const DailyContext&, const DailyContext&) = default;
};

// Fetches the weather (Open-Meteo forecast) and the headlines (Tagesschau RSS)
// over one network session per thread that keeps no cookies or cache. Every
// operation finishes on the calling thread, which needs an event loop; none
// ever fails: what cannot be had is absent or empty. The environment variables
// ORVIK_WEATHER_URL and ORVIK_NEWS_URL replace the services' base addresses.
class DailyContextService {
public:
    // 12 s without data, 20 s for the whole transfer.
    static constexpr net::Timeouts timeouts{std::chrono::seconds(12), std::chrono::seconds(20)};
    static constexpr qint64 maxWeatherBytes = 1 << 20; // an answer is about 1 KiB
    static constexpr qint64 maxNewsBytes = 4 << 20;    // the feed is about 100 KiB

    // Weather and headlines, as the settings ask, both requests in flight at once;
    // with both switched off, an empty context at once and no request.
    static QFuture<DailyContext> fetch(const DailySettings& settings,
                                       const net::Timeouts& limits = timeouts);
    // "Schwülper · 12 °C · teils bewölkt · Tag 9–18 °C", or nothing.
    static QFuture<std::optional<QString>> fetchWeather(const DailySettings& settings,
                                                        const net::Timeouts& limits = timeouts);
    // 0 to `limit` cleaned headlines.
    static QFuture<QStringList> fetchHeadlines(int limit, const net::Timeouts& limits = timeouts);

    // German text of a WMO weather code; "wechselhaft" for every unknown code.
    static QString description(qint64 wmoCode);

    // Steps of the fetches, public for tests.
    static QUrl forecastUrl(const DailySettings& settings);
    static QUrl newsUrl();
    // The weather line from a forecast answer (JSON); nothing when it does not
    // decode or yields nothing besides the place name.
    static std::optional<QString> weatherLine(const QByteArray& body, const QString& locationName);
    // The raw item titles of an RSS document, up to the first XML error.
    static QStringList rssTitles(const QByteArray& body);
    // Cleans, filters and de-duplicates titles; at most `limit`.
    static QStringList chooseHeadlines(const QStringList& titles, int limit);
};

} // namespace orvik
