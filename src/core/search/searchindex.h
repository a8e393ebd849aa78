#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

#include <array>
#include <atomic>
#include <memory>

#include <sys/stat.h>

// The search index on disk: per sheet file what the search derives from it
// (the folded text, what it takes to restore the original from that, title,
// preview and word count), keyed by the file's identity, so that a new process
// searches without reading the sheets. One file per library, memory-mapped
// for reading and only ever replaced whole, so that any number of processes
// can read and write it at once. Everything in it is checked before use: a
// file that fails a check is ignored and written anew.
namespace orvik::search {

// What identifies a file's content as of one read: device, inode, size,
// modification and change time (seconds, nanoseconds). Any write changes the
// change time, even when the modification time is set back.
using FileIdentity = std::array<qint64, 7>;
FileIdentity identityOf(const struct stat& st);

// The sheet files directly inside the open folder `fd` (hidden ones and
// anything but regular files and links to them left out), sorted by name in
// code point order, the byte order of UTF-8, so that ties keep a stable
// order. `stable` is false when a link's target decided: it can change
// without the folder changing.
QList<QByteArray> sheetNames(int fd, bool& stable);

// A 64-bit checksum against damage, not against intent.
quint64 checksum(QByteArrayView bytes, quint64 seed = 0);

class SearchIndex {
public:
    // The file: a header, then per record its bytes (folded text, exceptions,
    // title, preview), then the records, the folders and a pool of names and
    // paths. Offsets are from the start of the file, numbers in the machine's
    // byte order (a file from another byte order fails the checks).
    struct Record {
        qint64 identity[7];
        quint64 data;
        quint32 folded;
        quint32 exceptions;
        quint32 title;
        quint32 preview;
        quint32 original;
        quint32 words;
        quint32 name; // offset into the pool
        quint32 nameLength;
        quint32 flags;
        quint32 reserved;
        quint64 checksum; // of the record's bytes
    };
    struct FolderRecord;

    // The index file of the library at `root`, in the user's cache folder.
    static QString pathFor(const QString& root);

    // The index at `path`, or nothing when it is missing, damaged or of
    // another version.
    static std::shared_ptr<const SearchIndex> open(const QString& path);
    ~SearchIndex();
    SearchIndex(const SearchIndex&) = delete;
    SearchIndex& operator=(const SearchIndex&) = delete;

    // The identity of the file as opened: a changed one was replaced since.
    const FileIdentity& fileIdentity() const { return m_identity; }

    // The records of one folder, sorted by file name; nullptr/0 when none.
    struct Range {
        const Record* first = nullptr;
        qsizetype count = 0;
        // Whether the records are the folder's whole listing while it has
        // this identity (device, inode, modification and change time).
        bool listed = false;
        std::array<qint64, 6> listing{};
    };
    Range folder(const QString& path) const;
    QStringList folders() const { return m_folders.keys(); }

    QByteArrayView name(const Record& r) const;
    qsizetype recordCount() const { return m_recordCount; }
    qsizetype recordNumber(const Record& r) const { return &r - m_records; }
    bool matches(const Record& r, const FileIdentity& identity) const;
    // Whether the record's bytes are as written; checked once per record.
    bool intact(const Record& r) const;
    bool unreadable(const Record& r) const;
    bool streamed(const Record& r) const; // too large to hold: searched in pieces
    QByteArrayView folded(const Record& r) const;
    QByteArrayView exceptions(const Record& r) const;
    QByteArrayView title(const Record& r) const;
    QByteArrayView preview(const Record& r) const;
    qsizetype originalSize(const Record& r) const;
    int wordCount(const Record& r) const;

    // Writes the index at `path` anew for the sheet files of `folders` and of
    // the folders `previous` holds that still exist; only files of `folders`
    // are read, the others' records are kept while their identity holds.
    // Records whose files are gone are dropped. Takes `previous`'s record for
    // every file whose identity still matches. Writes a temporary file
    // beside it and renames it over the old one; gives up, leaving the old
    // one, when `stop` is set. `holdBytes`: larger files are only noted.
    static bool write(const QString& path, const QStringList& folders, const SearchIndex* previous,
                      qint64 holdBytes, const std::atomic<bool>* stop = nullptr);

    // A lock beside the index, held by the process writing it; -1 when
    // another process holds it. Released by closing the descriptor.
    static int tryLockForWriting(const QString& path);

private:
    SearchIndex() = default;

    const char* m_data = nullptr;
    qsizetype m_size = 0;
    const Record* m_records = nullptr;
    qsizetype m_recordCount = 0;
    const char* m_pool = nullptr;
    FileIdentity m_identity{};
    QHash<QString, Range> m_folders;
    std::unique_ptr<std::atomic<quint8>[]> m_checked; // 0 unknown, 1 intact, 2 damaged
};

} // namespace orvik::search
