#include "geocoder.h"

#include "daily/dailysettings.h"
#include "platform/text.h"

#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>

using namespace Qt::StringLiterals;

namespace orvik {

namespace {

// A text field of a result, or nothing when it is missing, not text or blank.
std::optional<QString> field(const QJsonObject& place, QStringView key) {
    const QJsonValue v = place.value(key);
    if (!v.isString() || v.toString().trimmed().isEmpty())
        return std::nullopt;
    return v.toString();
}

} // namespace

QString GeoResult::id() const {
    return decimalText(latitude) + u',' + decimalText(longitude);
}

size_t qHash(const GeoResult& r, size_t seed) noexcept {
    return qHashMulti(seed, r.name, r.region, r.latitude, r.longitude);
}

QUrl Geocoder::requestUrl(const QString& trimmedQuery) {
    QUrl url =
        net::endpoint("ORVIK_GEOCODER_URL", QStringLiteral("https://geocoding-api.open-meteo.com"),
                      QStringLiteral("/v1/search"));
    if (url.isValid())
        // Encoded by hand: QUrlQuery would leave "+" alone, which servers read as a space.
        url.setQuery(u"name="_s + QString::fromLatin1(QUrl::toPercentEncoding(trimmedQuery)) +
                         u"&count="_s + QString::number(requestedResults) +
                         u"&language=de&format=json"_s,
                     QUrl::StrictMode);
    return url;
}

QList<GeoResult> Geocoder::results(const QByteArray& body, const QString& trimmedQuery) {
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(body, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        return {};
    QList<GeoResult> list;
    QSet<QString> seen;
    for (const QJsonValue& entry : doc.object().value(u"results").toArray()) {
        const QJsonObject place = entry.toObject();
        const QJsonValue latitude = place.value(u"latitude");
        const QJsonValue longitude = place.value(u"longitude");
        if (!latitude.isDouble() || !longitude.isDouble())
            continue; // no location
        // The service's "name" is the locality, "admin1" the state.
        const auto locality = field(place, u"name");
        const auto state = field(place, u"admin1");
        const auto country = field(place, u"country");
        GeoResult result;
        result.name = locality ? *locality : state ? *state : trimmedQuery;
        QStringList region;
        if (state)
            region.append(*state);
        if (country)
            region.append(*country);
        result.region = region.join(u", ");
        result.latitude = latitude.toDouble();
        result.longitude = longitude.toDouble();
        const QString key = result.name + u'|' + result.region;
        if (seen.contains(key))
            continue;
        seen.insert(key);
        list.append(result);
        if (list.size() == maxResults)
            break;
    }
    return list;
}

QFuture<QList<GeoResult>> Geocoder::search(const QString& query, const net::Timeouts& limits) {
    const QString trimmed = text::trimmedHorizontal(query);
    if (trimmed.isEmpty())
        return net::readyFuture(QList<GeoResult>());
    return net::interpretOffThread(net::get(requestUrl(trimmed), limits, maxBodyBytes),
                                   [trimmed](const net::Response& response) {
                                       if (!response.isOk())
                                           return QList<GeoResult>();
                                       return results(response.body, trimmed);
                                   });
}

} // namespace orvik
