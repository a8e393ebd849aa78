#include "appcast.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace orvik {

std::optional<Appcast> Appcast::fromJson(const QByteArray& body) {
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(body, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        return std::nullopt;
    const QJsonObject o = doc.object();
    bool ok = true;
    const auto optionalText = [&](QStringView key) -> std::optional<QString> {
        const QJsonValue v = o.value(key);
        if (v.isUndefined() || v.isNull())
            return std::nullopt;
        ok = ok && v.isString();
        return v.toString();
    };
    const auto requiredText = [&](QStringView key) {
        const QJsonValue v = o.value(key);
        ok = ok && v.isString();
        return v.toString();
    };

    Appcast feed;
    feed.version = requiredText(u"version");
    feed.downloadURL = requiredText(u"downloadURL");
    feed.date = optionalText(u"date");
    feed.minimumSystemVersion = optionalText(u"minimumSystemVersion");
    const QJsonValue notes = o.value(u"notes");
    if (notes.isArray()) {
        feed.notes.emplace();
        for (const QJsonValue& note : notes.toArray()) {
            ok = ok && note.isString();
            feed.notes->append(note.toString());
        }
    } else if (!notes.isUndefined() && !notes.isNull()) {
        ok = false;
    }
    if (!ok)
        return std::nullopt;
    return feed;
}

} // namespace orvik
