#pragma once

#include <QString>

// Bringing Markdown and text files from outside into a group of the library.
namespace orvik::library {

// The largest file taken in: one the editor still opens whole and at once.
inline constexpr qint64 importLimitBytes = 50LL * 1024 * 1024;

// Whether a file's name says Markdown or plain text (".md", ".markdown",
// ".txt", any case).
bool isImportableName(const QString& name);

struct Imported {
    QString from;
    QString path;    // the new sheet; empty when refused
    QString refusal; // German, naming the file; empty when imported

    bool ok() const { return refusal.isEmpty(); }
};

// Copies `source` into the group folder as a sheet: under its own name with
// ".md", or the next free copy name ("notiz 2.md"), never replacing anything;
// bytes and modification time as they were. A file that is no UTF-8 text,
// larger than importLimitBytes or no regular file is refused.
Imported importFile(const QString& source, const QString& folderPath);

} // namespace orvik::library
