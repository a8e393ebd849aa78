// Candidate places from a geocoder answer of any shape.

#include "fuzzcheck.h"

#include "daily/geocoder.h"

#include <QSet>

#include <cmath>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString query = QStringLiteral("Braunschweig");
    const QList<orvik::GeoResult> results =
        orvik::Geocoder::results(orvik::fuzz::bytes(data, size), query);
    FUZZ_CHECK(results.size() <= orvik::Geocoder::maxResults);
    QSet<QString> seen;
    for (const orvik::GeoResult& r : results) {
        FUZZ_CHECK(!r.name.isEmpty());
        FUZZ_CHECK(std::isfinite(r.latitude) && std::isfinite(r.longitude));
        FUZZ_CHECK(!r.id().isEmpty());
        const QString key = r.name + u'|' + r.region;
        FUZZ_CHECK(!seen.contains(key));
        seen.insert(key);
    }
    return 0;
}
