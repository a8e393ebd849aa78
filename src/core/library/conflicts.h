#pragma once

#include <QDateTime>
#include <QList>
#include <QString>

#include <optional>

// Conflict copies: when two devices (or the editor and another program)
// changed a sheet at once, the losing side is kept as a file beside it,
// named after the original by whoever made it.
namespace orvik::library {

enum class ConflictEngine { Syncthing, Nextcloud, Orvik };

// "syncthing", "nextcloud" or "orvik", as the command line reports it.
QString engineKey(ConflictEngine engine);

struct ConflictName {
    QString originalName; // the sheet's file name the copy was made of
    ConflictEngine engine;
    QDateTime date; // local time, as the engine writes it into the name
};

// Recognises the names the engines give a conflict copy of a sheet:
//   Syncthing  "NAME.sync-conflict-YYYYMMDD-HHMMSS-DEVICE.md"
//   Nextcloud  "NAME (conflicted copy [USER ]YYYY-MM-DD HHMMSS).md",
//              older clients "NAME_conflict-YYYYMMDD-HHMMSS.md"
//   Orvik      "NAME (extern geändert YYYY-MM-DD HHMMSS)[-N].md"
// A copy of a copy names the sheet they were all made of. Nothing for any
// other name.
std::optional<ConflictName> parseConflictName(const QString& fileName);

struct ConflictCopy {
    QString path;
    QString original; // the original's path; empty when it is gone
    ConflictEngine engine;
    QDateTime date;
};

// The conflict copies among the sheets of every group of the library,
// by group and name.
QList<ConflictCopy> findConflicts(const QString& root);

// The conflict copies among the sheets of one group folder.
QList<ConflictCopy> findConflictsIn(const QString& folderPath);

} // namespace orvik::library
