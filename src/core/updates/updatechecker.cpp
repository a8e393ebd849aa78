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

const QString lastCheckKey = QStringLiteral("OrvikLastUpdateCheck");

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

bool UpdateChecker::automaticChecksEnabled() {
    const auto stored = prefs::value(QStringLiteral("OrvikCheckForUpdates"));
    return stored ? prefs::toBool(*stored).value_or(true) : true;
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
    const auto stored = prefs::value(lastCheckKey);
    if (const auto last = stored ? prefs::toDateTime(*stored) : std::nullopt) {
        // A date in the future gives a negative span and so waits, too.
        if (last->secsTo(QDateTime::currentDateTimeUtc()) < backgroundInterval)
            return net::readyFuture(std::optional<AvailableUpdate>());
    }
    return check(limits).then(
        net::session(), [](const UpdateCheckResult& result) -> std::optional<AvailableUpdate> {
            prefs::setValue(lastCheckKey, QDateTime::currentDateTimeUtc());
            if (result.kind != UpdateCheckResult::Kind::Available)
                return std::nullopt;
            const auto skipped = prefs::value(QStringLiteral("OrvikSkippedVersion"));
            if (skipped && skipped->typeId() == QMetaType::QString &&
                skipped->toString() == result.update->version.raw)
                return std::nullopt;
            return result.update;
        });
}

} // namespace orvik
