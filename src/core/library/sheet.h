#pragma once

#include <QByteArrayView>
#include <QDateTime>
#include <QString>
#include <QUrl>

#include <optional>

namespace orvik {

// One Markdown file of a group.
struct Sheet {
    QUrl url; // the sheet file; also its identity
    QString title;
    QString preview;
    QDateTime modified;
    int wordCount = 0;
    bool matched = false; // set on sheets returned as search hits

    QUrl id() const { return url; }
    QString path() const { return url.toLocalFile(); }

    // Reads the file as UTF-8; nothing if it is missing, unreadable or not UTF-8.
    static std::optional<Sheet> load(const QString& path);
    // Builds a sheet from text already read; `modified` is taken as given.
    static Sheet fromText(const QString& path, const QString& text, const QDateTime& modified);

    // Builds a sheet from the UTF-8 bytes of a file (valid, no byte order mark),
    // decoding only the head that title and preview depend on.
    static Sheet fromValidUtf8(const QString& path, QByteArrayView text, const QDateTime& modified);

    static QString deriveTitle(const QString& text, const QString& fallback);
    static QString derivePreview(const QString& text);
    static int countWords(const QString& text);
    // The same count on UTF-8 bytes.
    static int countWords(QByteArrayView utf8);

    friend bool operator==(const Sheet&, const Sheet&) = default;
};

size_t qHash(const Sheet& sheet, size_t seed = 0) noexcept;

// The date used for a file whose modification date cannot be read: 1 January of year 1, UTC.
QDateTime distantPast();

// A file's modification date, or distantPast() if it cannot be read.
QDateTime modificationDate(const QString& path);

} // namespace orvik
