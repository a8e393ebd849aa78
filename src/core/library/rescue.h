#pragma once

#include <QDateTime>
#include <QString>

#include <optional>

namespace orvik::rescue {

// Where texts go that could not be written to their sheet when the app had to
// end: "Gerettet" beside the backups, outside the library, so that whatever
// broke the library's folders cannot take these too.
QString defaultFolder();

// Writes `text` into `folder` as a new file named after `name` and `when`
// ("Titel 2026-12-07 034512.md"); an existing file is never replaced, the next
// free name is taken instead. The path written, or nothing when it failed.
std::optional<QString> keep(const QString& folder, const QString& name, const QString& text,
                            const QDateTime& when);

} // namespace orvik::rescue
