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

    // Reads the file as UTF-8; nothing if it is missing, unreadable, not a
    // regular file or not UTF-8. The file is read in pieces of `pieceBytes`:
    // the word count covers all of it, title and preview come from its first
    // headBytes, so a sheet of gigabytes costs no more memory than a piece
    // and the head.
    static std::optional<Sheet> load(const QString& path, qsizetype pieceBytes = 1 << 20);
    static constexpr qsizetype headBytes = 1 << 20;
    // The same from the first headBytes only, for a list that must not wait
    // for a large file: its word count covers that head, and text after it
    // that is no UTF-8 goes unnoticed.
    static std::optional<Sheet> loadHead(const QString& path);
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
    // countWords(after), given that `before` holds `beforeWords`: only the
    // words around what differs are counted, so that a keystroke in a long
    // sheet costs a comparison of the texts, not a count of all its words.
    static int countWordsAfterEdit(const QString& before, int beforeWords, const QString& after);

    friend bool operator==(const Sheet&, const Sheet&) = default;
};

size_t qHash(const Sheet& sheet, size_t seed = 0) noexcept;

// Builds a sheet from a file's bytes handed over piece by piece, in order, so
// that a file of any size is read in bounded memory: the word count covers
// the whole text, title and preview come from its first Sheet::headBytes.
class SheetReader {
public:
    // False once the bytes so far are no UTF-8; the reader is done then.
    bool add(QByteArrayView bytes);
    // Whether the head of title and preview is complete.
    bool hasHead() const { return m_head.size() >= Sheet::headBytes; }
    // Nothing if the text ended inside a character; with `cutShort`, the
    // bytes were a head of the text, and a character cut off at their end is
    // left out.
    std::optional<Sheet> finish(const QString& path, const QDateTime& modified,
                                bool cutShort = false);

private:
    bool take(QByteArrayView bytes, bool last);

    QByteArray m_head;
    // Bytes held back for the next piece: a character cut in two, or a
    // carriage return whose line feed may follow.
    QByteArray m_carry;
    qsizetype m_words = 0;
    bool m_inWord = false;
    bool m_atStart = true;
};

// The date used for a file whose modification date cannot be read: 1 January of year 1, UTC.
QDateTime distantPast();

// A file's modification date, or distantPast() if it cannot be read.
QDateTime modificationDate(const QString& path);

} // namespace orvik
