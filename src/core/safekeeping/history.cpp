#include "history.h"

#include "library/sheet.h"
#include "platform/files.h"
#include "safekeeping/trash.h"

#include <QDir>
#include <QFileInfo>

#include <fcntl.h>
#include <sys/stat.h>

namespace orvik::history {

namespace {

bool lstatOf(const QString& path, struct stat& st) {
    return ::lstat(files::encodeName(path).constData(), &st) == 0;
}

} // namespace

QList<Version> versionsOf(const QList<BackupManager::Snapshot>& snapshots, const QString& relative,
                          const QString& current) {
    QList<Version> versions;
    // The next newer version seen: a file shared through a hard link is the
    // same version without reading it; another one is read once, for its
    // words and to compare.
    bool haveNewer = false;
    dev_t newerDevice = 0;
    ino_t newerInode = 0;
    QByteArray newerBytes;
    struct stat now;
    if (!current.isEmpty() && lstatOf(current, now) && S_ISREG(now.st_mode)) {
        if (const std::optional<QByteArray> bytes = files::readBytes(current)) {
            haveNewer = true;
            newerDevice = now.st_dev;
            newerInode = now.st_ino;
            newerBytes = *bytes;
        }
    }
    for (const BackupManager::Snapshot& snapshot : snapshots) {
        const QString path = snapshot.path + QLatin1Char('/') + relative;
        struct stat st;
        if (!lstatOf(path, st) || !S_ISREG(st.st_mode))
            continue;
        if (haveNewer && st.st_dev == newerDevice && st.st_ino == newerInode)
            continue;
        const std::optional<QByteArray> bytes = files::readBytes(path);
        if (!bytes)
            continue;
        const bool same = haveNewer && *bytes == newerBytes;
        haveNewer = true;
        newerDevice = st.st_dev;
        newerInode = st.st_ino;
        newerBytes = *bytes;
        if (same)
            continue;
        versions.append({QFileInfo(snapshot.path).fileName(), snapshot.date, path,
                         qint64(bytes->size()), Sheet::countWords(QByteArrayView(*bytes))});
    }
    return versions;
}

std::optional<BackupManager::Snapshot>
snapshotNamed(const QList<BackupManager::Snapshot>& snapshots, const QString& name) {
    const QString wanted = QDir::cleanPath(name);
    for (const BackupManager::Snapshot& snapshot : snapshots) {
        if (QFileInfo(snapshot.path).fileName() == wanted ||
            QDir::cleanPath(snapshot.path) == QDir::cleanPath(QFileInfo(name).absoluteFilePath()))
            return snapshot;
    }
    return std::nullopt;
}

std::optional<QString> fileIn(const BackupManager::Snapshot& snapshot, const QString& relative) {
    const QString path = snapshot.path + QLatin1Char('/') + relative;
    struct stat st;
    if (!lstatOf(path, st) || !S_ISREG(st.st_mode))
        return std::nullopt;
    return path;
}

Restored restoreVersion(BackupManager& manager, const QString& relative,
                        const QString& versionPath) {
    using Status = BackupManager::RunResult::Status;
    Restored restored;
    restored.path = QDir::cleanPath(manager.source() + QLatin1Char('/') + relative);
    const std::optional<QByteArray> bytes = files::readBytes(versionPath);
    if (!bytes) {
        restored.status = Restored::Status::Unreadable;
        return restored;
    }
    restored.backup = manager.runIfNeeded().result();
    const BackupManager::RunResult& backup = restored.backup;
    struct stat st;
    const bool covered = backup.status == Status::Unchanged || backup.status == Status::Made ||
                         (backup.status == Status::Incomplete && !backup.failed.contains(relative));
    if (lstatOf(restored.path, st)) {
        if (!covered) {
            restored.status = Restored::Status::NotBackedUp;
            return restored;
        }
        // The next snapshot within the hour would otherwise thin away the text
        // being replaced.
        const QString holding =
            backup.madeSnapshot() ? backup.snapshot : manager.snapshots().result().value(0).path;
        if (!holding.isEmpty())
            files::writeNewAtomically(
                holding + QLatin1Char('/') + QLatin1String(BackupManager::beforeRestoreName), {});
    }
    QDir().mkpath(QFileInfo(restored.path).absolutePath());
    restored.status = files::writeAtomically(restored.path, *bytes) ? Restored::Status::Restored
                                                                    : Restored::Status::NotWritten;
    return restored;
}

QStringList missingSheets(const QString& snapshot, const QString& library,
                          const QString& backupRoot) {
    const QString trash = QLatin1String(Trash::folderName) + QLatin1Char('/');
    QStringList missing;
    for (const BackupManager::CollectedFile& file :
         BackupManager::collectFiles(snapshot, backupRoot)) {
        struct stat st;
        if (!file.relative.startsWith(trash) &&
            !lstatOf(library + QLatin1Char('/') + file.relative, st))
            missing.append(file.relative);
    }
    missing.sort();
    return missing;
}

std::optional<BackupManager::Snapshot>
newestHolding(const QList<BackupManager::Snapshot>& snapshots, const QStringList& sheets) {
    for (const BackupManager::Snapshot& snapshot : snapshots) {
        for (const QString& sheet : sheets)
            if (fileIn(snapshot, sheet))
                return snapshot;
    }
    return std::nullopt;
}

QStringList recoverMissing(const QString& snapshot, const QString& library,
                           const QString& backupRoot) {
    QStringList back;
    for (const QString& relative : missingSheets(snapshot, library, backupRoot)) {
        const QString target = library + QLatin1Char('/') + relative;
        if (copyBack(snapshot + QLatin1Char('/') + relative, target))
            back.append(target);
    }
    return back;
}

bool copyBack(const QString& from, const QString& target) {
    struct stat st;
    if (::stat(files::encodeName(from).constData(), &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    const std::optional<QByteArray> bytes = files::readBytes(from);
    if (!bytes || !QDir().mkpath(QFileInfo(target).absolutePath()) ||
        !files::writeNewAtomically(target, *bytes))
        return false;
    const timespec times[2] = {{0, UTIME_OMIT}, st.st_mtim};
    ::utimensat(AT_FDCWD, files::encodeName(target).constData(), times, 0);
    return true;
}

} // namespace orvik::history
