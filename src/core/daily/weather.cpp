#include "dailycontext.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>

// The weather line: the forecast request, the strict decoding of its answer and
// the German words for the WMO weather codes.
namespace orvik {

namespace {

// Reads optional members of the forecast answer. An absent or null member is
// no error; a member of the wrong type makes the whole answer undecodable.
struct Decoder {
    bool ok = true;

    std::optional<QJsonObject> object(const QJsonObject& o, QStringView key) {
        const QJsonValue v = o.value(key);
        if (v.isUndefined() || v.isNull())
            return std::nullopt;
        if (!v.isObject())
            return fail<QJsonObject>();
        return v.toObject();
    }
    std::optional<double> number(const QJsonObject& o, QStringView key) {
        const QJsonValue v = o.value(key);
        if (v.isUndefined() || v.isNull())
            return std::nullopt;
        if (!v.isDouble())
            return fail<double>();
        return v.toDouble();
    }
    // A whole number: 3 and 3.0 decode, 3.5 does not.
    std::optional<qint64> integer(const QJsonObject& o, QStringView key) {
        const auto d = number(o, key);
        if (!d)
            return std::nullopt;
        if (*d != std::trunc(*d) || std::fabs(*d) >= 9223372036854775808.0)
            return fail<qint64>();
        return qint64(*d);
    }
    std::optional<QList<double>> numbers(const QJsonObject& o, QStringView key) {
        const QJsonValue v = o.value(key);
        if (v.isUndefined() || v.isNull())
            return std::nullopt;
        if (!v.isArray())
            return fail<QList<double>>();
        QList<double> list;
        for (const QJsonValue& element : v.toArray()) {
            if (!element.isDouble())
                return fail<QList<double>>();
            list.append(element.toDouble());
        }
        return list;
    }

private:
    template <typename T> std::optional<T> fail() {
        ok = false;
        return std::nullopt;
    }
};

// Rounded half away from zero, as a plain integer ("-0.4" gives "0").
QString degrees(double celsius) {
    const double r = std::round(celsius);
    if (r == 0)
        return QStringLiteral("0");
    if (std::fabs(r) < 1e15)
        return QString::number(qint64(r));
    return QString::number(r, 'f', 0);
}

} // namespace

QUrl DailyContextService::forecastUrl(const DailySettings& settings) {
    QUrl url = net::endpoint("ORVIK_WEATHER_URL", QStringLiteral("https://api.open-meteo.com"),
                             QStringLiteral("/v1/forecast"));
    if (url.isValid())
        url.setQuery(QStringLiteral("latitude=%1&longitude=%2"
                                    "&current=temperature_2m,weather_code"
                                    "&daily=temperature_2m_max,temperature_2m_min"
                                    "&timezone=auto&forecast_days=1")
                         .arg(decimalText(settings.latitude), decimalText(settings.longitude)),
                     QUrl::StrictMode);
    return url;
}

std::optional<QString> DailyContextService::weatherLine(const QByteArray& body,
                                                        const QString& locationName) {
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(body, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        return std::nullopt;
    const QJsonObject root = doc.object();

    Decoder d;
    std::optional<double> temperature;
    std::optional<qint64> code;
    if (const auto current = d.object(root, u"current")) {
        temperature = d.number(*current, u"temperature_2m");
        code = d.integer(*current, u"weather_code");
    }
    std::optional<QList<double>> highs;
    std::optional<QList<double>> lows;
    if (const auto daily = d.object(root, u"daily")) {
        highs = d.numbers(*daily, u"temperature_2m_max");
        lows = d.numbers(*daily, u"temperature_2m_min");
    }
    if (!d.ok)
        return std::nullopt;

    QStringList parts{locationName};
    if (temperature)
        parts.append(degrees(*temperature) + QStringLiteral(" °C"));
    if (code)
        parts.append(description(*code));
    if (highs && lows && !highs->isEmpty() && !lows->isEmpty())
        parts.append(QStringLiteral("Tag ") + degrees(lows->first()) + u'\u2013' +
                     degrees(highs->first()) + QStringLiteral(" °C"));
    if (parts.size() < 2)
        return std::nullopt;
    return parts.join(QStringLiteral(" \u00B7 "));
}

QFuture<std::optional<QString>> DailyContextService::fetchWeather(const DailySettings& settings,
                                                                  const net::Timeouts& limits) {
    return net::interpretOffThread(
        net::get(forecastUrl(settings), limits, maxWeatherBytes),
        [name = settings.locationName](const net::Response& response) -> std::optional<QString> {
            if (!response.isOk())
                return std::nullopt;
            return weatherLine(response.body, name);
        });
}

QString DailyContextService::description(qint64 code) {
    switch (code) {
    case 0:
        return QStringLiteral("klar");
    case 1:
        return QStringLiteral("überwiegend klar");
    case 2:
        return QStringLiteral("teils bewölkt");
    case 3:
        return QStringLiteral("bedeckt");
    case 45:
    case 48:
        return QStringLiteral("neblig");
    case 51:
    case 53:
    case 55:
        return QStringLiteral("Nieselregen");
    case 56:
    case 57:
        return QStringLiteral("gefrierender Nieselregen");
    case 61:
        return QStringLiteral("leichter Regen");
    case 63:
        return QStringLiteral("Regen");
    case 65:
        return QStringLiteral("starker Regen");
    case 66:
    case 67:
        return QStringLiteral("gefrierender Regen");
    case 71:
        return QStringLiteral("leichter Schneefall");
    case 73:
        return QStringLiteral("Schneefall");
    case 75:
        return QStringLiteral("starker Schneefall");
    case 77:
        return QStringLiteral("Schneegriesel");
    case 80:
        return QStringLiteral("leichte Schauer");
    case 81:
        return QStringLiteral("Schauer");
    case 82:
        return QStringLiteral("heftige Schauer");
    case 85:
    case 86:
        return QStringLiteral("Schneeschauer");
    case 95:
        return QStringLiteral("Gewitter");
    case 96:
    case 99:
        return QStringLiteral("Gewitter mit Hagel");
    default:
        return QStringLiteral("wechselhaft");
    }
}

} // namespace orvik
