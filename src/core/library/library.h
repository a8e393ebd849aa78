#pragma once

#include "folder.h"
#include "sheet.h"

#include <QDateTime>
#include <QFileInfoList>
#include <QList>
#include <QString>

#include <optional>

namespace orvik::library {

// The standard groups, created at every start when missing, in this order.
QStringList standardGroupNames();

// Name of the welcome sheet in the ideas group, and its exact text.
inline constexpr char welcomeFileName[] = "willkommen.md";

// The trash as the lists name it; its name is reserved for it.
inline constexpr char trashDisplayName[] = "Papierkorb";
QString welcomeText();

// The library root: the "OrvikLibraryPath" preference when it holds a path,
// else "Orvik" in the documents folder, else "Orvik" in the home folder.
QString chooseRoot();

// Creates the root and the missing standard groups; on the very first start
// (nothing at the root path) also the welcome sheet in "Ideen".
void bootstrapIfNeeded(const QString& root);

// Whether a group name, as typed, is the trash's own (in any case): a group of
// that name would be taken for the trash, or hide it.
bool isReservedGroupName(const QString& name);

// The groups of the root in display order, without the trash.
QList<Folder> readGroups(const QString& root);

// The paths of the files directly inside a group folder that are sheets, by
// name: regular files (or links to one) with a sheet's name. Temporary files
// of interrupted writes are never among them; names that are no UTF-8 are
// kept as files::decodeName() gives them.
QStringList sheetFiles(const QString& folderPath);

// The sheets directly inside a group folder, newest first.
QList<Sheet> readSheets(const QString& folderPath);

// Whether a file name names a sheet (extension "md", any case, not hidden).
bool isSheetFileName(const QString& name);

// The name of a new sheet created at `moment` in `folderPath`:
// "yyyy-MM-dd-HHmmss.md", or with "-1", "-2", ... when taken.
QString newSheetFileName(const QString& folderPath, const QDateTime& moment);

// Writes a new sheet file named as newSheetFileName() says and returns its
// path; nothing if it cannot be written. A name another program takes
// meanwhile is never replaced: the next free one is used.
std::optional<QString> createSheetFile(const QString& folderPath, const QDateTime& moment,
                                       const QByteArray& bytes);

// "yyyy-MM-dd-HHmmss" in local time, independent of the user's locale.
QString stamp(const QDateTime& moment);
// Parses a stamp as local time; invalid QDateTime if it does not parse.
QDateTime parseStamp(const QString& stamp);

} // namespace orvik::library
