#pragma once

#include "platform/http.h"

#include <QByteArray>
#include <QFuture>
#include <QList>
#include <QString>

namespace orvik {

// A candidate place for the weather.
struct GeoResult {
    QString name;   // the place's own name
    QString region; // state and country joined with ", "; may be empty
    double latitude = 0;
    double longitude = 0;

    // "latitude,longitude" in shortest decimal form: 52.3459667,10.4499328.
    QString id() const;

    friend bool operator==(const GeoResult&, const GeoResult&) = default;
};

size_t qHash(const GeoResult& result, size_t seed = 0) noexcept;

// Turns a typed place name into up to six candidate places with coordinates,
// through the Open-Meteo geocoding service (base address replaced by the
// environment variable ORVIK_GEOCODER_URL when set).
class Geocoder {
public:
    static constexpr int maxResults = 6;
    static constexpr int requestedResults = 10; // asked of the service, before duplicates go
    static constexpr qint64 maxBodyBytes = 1 << 20;
    static constexpr net::Timeouts timeouts{std::chrono::seconds(12), std::chrono::seconds(20)};

    // 0 to 6 results in the service's order; empty on every failure, and at once
    // (no request) when the query holds only spaces and tabs. Finishes on the
    // calling thread, which needs an event loop.
    static QFuture<QList<GeoResult>> search(const QString& query,
                                            const net::Timeouts& limits = timeouts);

    // Steps of a search, public for tests.
    static QUrl requestUrl(const QString& trimmedQuery);
    // The results of a service answer (JSON); `trimmedQuery` names a place that has no name.
    static QList<GeoResult> results(const QByteArray& body, const QString& trimmedQuery);
};

} // namespace orvik
