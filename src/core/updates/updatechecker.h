#pragma once

#include "platform/http.h"
#include "platform/preferences.h"
#include "updates/appcast.h"
#include "updates/appversion.h"

#include <QFuture>
#include <QUrl>

#include <optional>

namespace orvik {

// What the update check remembers between starts.
struct UpdatePreferences {
    static constexpr prefs::Flag automaticChecks{u"OrvikCheckForUpdates", true};
    static constexpr QStringView lastCheckKey = u"OrvikLastUpdateCheck";
    static constexpr QStringView skippedVersionKey = u"OrvikSkippedVersion";

    // Nothing when absent or no valid date and time.
    static std::optional<QDateTime> lastCheck();
    static void storeLastCheck(const QDateTime& when);
    // Nothing when absent or no text.
    static std::optional<QString> skippedVersion();
    static void storeSkippedVersion(const QString& version);
};

// Asks the update feed for a newer version. Stateless: what it remembers lives
// in UpdatePreferences. The checks finish on the calling thread, which needs
// an event loop.
class UpdateChecker {
public:
    // 15 s for the whole transfer (and so for any silence in it).
    static constexpr net::Timeouts timeouts{std::chrono::seconds(15), std::chrono::seconds(15)};
    static constexpr qint64 maxFeedBytes = 1 << 20;
    static constexpr qint64 backgroundInterval = 86400; // seconds between automatic checks

    // The build's version (CMake project version), "0" when the build has none.
    static AppVersion currentVersion();
    // The build number (CMake ORVIK_BUILD_NUMBER), "–" when the build has none.
    static QString currentBuild();
    // The running operating system's version: major.minor.patch where Qt knows
    // the platform, otherwise the distribution's version ("12" on Debian 12).
    // Nothing when the distribution's version is not numeric ("n/a" on a
    // rolling release).
    static std::optional<AppVersion> runningSystemVersion();
    // `text` when it is dotted decimal numbers only, such as "12" or "22.04".
    static std::optional<AppVersion> numericVersion(const QString& text);

    // The environment variable ORVIK_UPDATE_FEED when set (even empty), otherwise
    // the build's ORVIK_UPDATE_FEED; nothing when that is empty or no URL.
    static std::optional<QUrl> feedURL();
    // True when absent or not a boolean.
    static bool automaticChecksEnabled();

    // The decision for a feed document. Without a known system version the
    // feed's minimum system version is not checked: read as 0, it would hide
    // every update.
    static UpdateCheckResult evaluate(const Appcast& feed, const AppVersion& current,
                                      const std::optional<AppVersion>& runningOS);

    // The manual check: always asks the server, reports every outcome, touches
    // no preference.
    static QFuture<UpdateCheckResult> check(const net::Timeouts& limits = timeouts);
    // The automatic check: at most once in 24 hours and only when allowed; stores
    // the time of every check it makes; silent on failure; hides a skipped
    // version. Gives the update to offer, or nothing.
    static QFuture<std::optional<AvailableUpdate>>
    checkInBackground(const net::Timeouts& limits = timeouts);

    // The result of the feed's answer; public for tests.
    static UpdateCheckResult interpret(const net::Response& response, const AppVersion& current,
                                       const std::optional<AppVersion>& runningOS);
};

} // namespace orvik
