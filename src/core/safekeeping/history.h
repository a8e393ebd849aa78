#pragma once

#include "safekeeping/backupmanager.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// The snapshots read as a history: the earlier versions of one sheet, one of
// them written back, and a library's missing sheets brought back.
namespace orvik::history {

struct Version {
    QString snapshot; // the snapshot's name, its stamp
    QDateTime date;
    QString path; // the file in the snapshot
    qint64 size = 0;
    int words = 0;
};

// The versions of the sheet at `relative` (below the library root) in
// `snapshots`, given newest first: one for each run of equal content, the
// newest snapshot of the run standing for it. The sheet as it is now, at
// `current`, heads the runs and is no version of its own: the newest
// snapshots that hold its text are left out.
QList<Version> versionsOf(const QList<BackupManager::Snapshot>& snapshots, const QString& relative,
                          const QString& current = {});

// A snapshot by its name or its folder's path.
std::optional<BackupManager::Snapshot>
snapshotNamed(const QList<BackupManager::Snapshot>& snapshots, const QString& name);

// The sheet at `relative` in `snapshot`, if it holds one.
std::optional<QString> fileIn(const BackupManager::Snapshot& snapshot, const QString& relative);

struct Restored {
    enum class Status {
        Restored,
        NotBackedUp, // the text it would replace could not be put into a snapshot: left alone
        Unreadable,  // the version could not be read
        NotWritten,
    };
    Status status = Status::NotWritten;
    QString path; // the sheet
    BackupManager::RunResult backup;
};

// Writes the version at `versionPath` into the sheet at `relative` below the
// manager's library, after a snapshot of the library as it is now, so that
// the text being replaced stays in the history.
Restored restoreVersion(BackupManager& manager, const QString& relative,
                        const QString& versionPath);

// The sheets of `snapshot`, relative to the library, that have nothing at
// their path in `library`; the trash's own folder left out, since emptying it
// was asked for.
QStringList missingSheets(const QString& snapshot, const QString& library,
                          const QString& backupRoot);

// The newest of `snapshots`, given newest first, that holds any of `sheets`.
std::optional<BackupManager::Snapshot>
newestHolding(const QList<BackupManager::Snapshot>& snapshots, const QStringList& sheets);

// Copies back every sheet of `snapshot` that is missing from `library`; the
// paths of those that came back.
QStringList recoverMissing(const QString& snapshot, const QString& library,
                           const QString& backupRoot);

// Copies a snapshot's file to `target`, never replacing anything there; the
// copy keeps the file's modification time, so that the sheet is listed where
// it was. Missing folders on the way are made.
bool copyBack(const QString& from, const QString& target);

} // namespace orvik::history
