#pragma once

#include "updates/appversion.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <optional>

namespace orvik {

// The update feed document, a JSON object.
struct Appcast {
    QString version;                             // "version", required
    std::optional<QString> date;                 // "date", free text
    QString downloadURL;                         // "downloadURL", required
    std::optional<QStringList> notes;            // "notes", one line each
    std::optional<QString> minimumSystemVersion; // "minimumSystemVersion"

    // Nothing when the text is no JSON object, a required key is missing, or a
    // listed key holds a value of the wrong type (null counts as absent for the
    // optional keys). Other keys are ignored.
    static std::optional<Appcast> fromJson(const QByteArray& body);

    friend bool operator==(const Appcast&, const Appcast&) = default;
};

// An update newer than the running version, identified by `version.raw`.
struct AvailableUpdate {
    AppVersion version; // offered
    AppVersion current; // running
    std::optional<QString> date;
    QStringList notes; // empty when the feed has none
    QUrl downloadURL;  // https with a host

    QString id() const { return version.raw; }
    friend bool operator==(const AvailableUpdate&, const AvailableUpdate&) = default;
};

// The outcome of one update check.
struct UpdateCheckResult {
    enum class Kind { Available, UpToDate, Failed };
    Kind kind = Kind::UpToDate;
    std::optional<AvailableUpdate> update; // with Available
    QString message;                       // with Failed: German, shown to the user

    static UpdateCheckResult available(AvailableUpdate update) {
        return {Kind::Available, std::move(update), {}};
    }
    static UpdateCheckResult upToDate() { return {}; }
    static UpdateCheckResult failed(QString message) {
        return {Kind::Failed, std::nullopt, std::move(message)};
    }

    friend bool operator==(const UpdateCheckResult&, const UpdateCheckResult&) = default;
};

} // namespace orvik
