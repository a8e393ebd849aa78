#include "updatechecker.h"

#include "platform/preferences.h"

#include <QDateTime>
#include <QOperatingSystemVersion>
#include <QRegularExpression>
#include <QSysInfo>

#ifndef ORVIK_UPDATE_FEED
#define ORVIK_UPDATE_FEED ""
#endif

namespace orvik {

namespace {

QString noFeed() {
    return QStringLiteral("Es ist keine Update-Adresse hinterlegt.");
}
QString unreachable() {
    return QStringLiteral("Die Update-Adresse war nicht erreichbar.");
}
QString unexpectedAnswer() {
    return QStringLiteral("Die Update-Adresse antwortete unerwartet.");
}
QString unreadable() {
    return QStringLiteral("Die Versionsdatei ließ sich nicht lesen.");
}
QString badDownload() {
    return QStringLiteral("Die Ladeadresse ist ungültig oder nicht verschlüsselt.");
}

} // namespace

AppVersion UpdateChecker::currentVersion() {
    const QString version = QStringLiteral(ORVIK_VERSION);
    return AppVersion(version.isEmpty() ? QStringLiteral("0") : version);
}

QString UpdateChecker::currentBuild() {
    const QString build = QStringLiteral(ORVIK_BUILD_NUMBER);
    return build.isEmpty() ? QStringLiteral("\u2013") : build;
}

std::optional<AppVersion> UpdateChecker::runningSystemVersion() {
    const QOperatingSystemVersion os = QOperatingSystemVersion::current();
    if (os.type() != QOperatingSystemVersion::Unknown)
        return AppVersion(QStringLiteral("%1.%2.%3")
                              .arg(std::max(0, os.majorVersion()))
                              .arg(std::max(0, os.minorVersion()))
                              .arg(std::max(0, os.microVersion())));
    return numericVersion(QSysInfo::productVersion());
}

std::optional<AppVersion> UpdateChecker::numericVersion(const QString& text) {
    static const QRegularExpression dotted(QStringLiteral("\\A[0-9]+(?:\\.[0-9]+)*\\z"));
    if (!dotted.match(text).hasMatch())
        return std::nullopt;
    return AppVersion(text);
}

std::optional<QUrl> UpdateChecker::feedURL() {
    const QString address = qEnvironmentVariableIsSet("ORVIK_UPDATE_FEED")
                                ? qEnvironmentVariable("ORVIK_UPDATE_FEED")
                                : QStringLiteral(ORVIK_UPDATE_FEED);
    if (address.isEmpty())
        return std::nullopt;
    const QUrl url(address, QUrl::StrictMode);
    if (!url.isValid())
        return std::nullopt;
    return url;
}

std::optional<QDateTime> UpdatePreferences::lastCheck() {
    const auto stored = prefs::value(lastCheckKey.toString());
    return stored ? prefs::toDateTime(*stored) : std::nullopt;
}

void UpdatePreferences::storeLastCheck(const QDateTime& when) {
    prefs::setValue(lastCheckKey.toString(), when);
}

std::optional<QString> UpdatePreferences::skippedVersion() {
    // Only text: a number would compare by its own spelling, not the feed's.
    const auto stored = prefs::value(skippedVersionKey.toString());
    if (stored && stored->typeId() == QMetaType::QString)
        return stored->toString();
    return std::nullopt;
}

void UpdatePreferences::storeSkippedVersion(const QString& version) {
    prefs::setValue(skippedVersionKey.toString(), version);
}

bool UpdateChecker::automaticChecksEnabled() {
    return UpdatePreferences::automaticChecks.read();
}

UpdateCheckResult UpdateChecker::evaluate(const Appcast& feed, const AppVersion& current,
                                          const std::optional<AppVersion>& runningOS) {
    const QUrl download(feed.downloadURL, QUrl::StrictMode);
    if (feed.downloadURL.isEmpty() || !download.isValid() ||
        download.scheme().toLower() != u"https" || download.host().isEmpty())
        return UpdateCheckResult::failed(badDownload());
    if (feed.minimumSystemVersion && runningOS &&
        *runningOS < AppVersion(*feed.minimumSystemVersion))
        return UpdateCheckResult::upToDate();
    const AppVersion offered(feed.version);
    if (current < offered)
        return UpdateCheckResult::available(
            {offered, current, feed.date, feed.notes.value_or(QStringList()), download});
    return UpdateCheckResult::upToDate();
}

UpdateCheckResult UpdateChecker::interpret(const net::Response& response, const AppVersion& current,
                                           const std::optional<AppVersion>& runningOS) {
    using Outcome = net::Response::Outcome;
    if (response.outcome == Outcome::Failed || response.outcome == Outcome::TimedOut)
        return UpdateCheckResult::failed(unreachable());
    if (response.status != 200)
        return UpdateCheckResult::failed(unexpectedAnswer());
    const auto feed =
        response.outcome == Outcome::Completed ? Appcast::fromJson(response.body) : std::nullopt;
    if (!feed)
        return UpdateCheckResult::failed(unreadable());
    return evaluate(*feed, current, runningOS);
}

QFuture<UpdateCheckResult> UpdateChecker::check(const net::Timeouts& limits) {
    const auto feed = feedURL();
    if (!feed)
        return net::readyFuture(UpdateCheckResult::failed(noFeed()));
    return net::interpretOffThread(
        net::get(*feed, limits, maxFeedBytes),
        [current = currentVersion(), os = runningSystemVersion()](const net::Response& response) {
            return interpret(response, current, os);
        });
}

QFuture<std::optional<AvailableUpdate>>
UpdateChecker::checkInBackground(const net::Timeouts& limits) {
    if (!automaticChecksEnabled())
        return net::readyFuture(std::optional<AvailableUpdate>());
    if (const auto last = UpdatePreferences::lastCheck()) {
        // A date in the future gives a negative span and so waits, too.
        if (last->secsTo(QDateTime::currentDateTimeUtc()) < backgroundInterval)
            return net::readyFuture(std::optional<AvailableUpdate>());
    }
    return check(limits).then(
        net::session(), [](const UpdateCheckResult& result) -> std::optional<AvailableUpdate> {
            UpdatePreferences::storeLastCheck(QDateTime::currentDateTimeUtc());
            if (result.kind != UpdateCheckResult::Kind::Available)
                return std::nullopt;
            if (UpdatePreferences::skippedVersion() == result.update->version.raw)
                return std::nullopt;
            return result.update;
        });
}

} // namespace orvik
