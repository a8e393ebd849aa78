#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace orvik::files {

// Reads a whole file as strict UTF-8 text; nothing if it cannot be read or decoded.
std::optional<QString> readText(const QString& path);
// Reads a whole file; nothing if it cannot be read.
std::optional<QByteArray> readBytes(const QString& path);

// Writes through a temporary file in the same folder that then replaces the target,
// so the target always holds either the old or the new content. True on success.
bool writeAtomically(const QString& path, const QByteArray& bytes);
bool writeTextAtomically(const QString& path, const QString& text);

// The first name "stem.ext", "stem-1.ext", "stem-2.ext", ... with nothing at that path
// inside `folder`. Without an extension the dot is left out.
QString firstFreeName(const QString& folder, const QString& stem, const QString& ext);

// A single path component that cannot leave its folder: not empty, not "." or "..",
// no path separator, no NUL.
bool isPlainName(const QString& name);

} // namespace orvik::files
