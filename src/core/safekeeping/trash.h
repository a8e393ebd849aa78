#pragma once

#include "library/folder.h"
#include "library/library.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <QUrl>

#include <optional>

namespace orvik {

// The hidden trash folder ".Papierkorb" inside the library, with an index
// "eintraege.json" that remembers where each trashed sheet came from.
class Trash {
public:
    struct Entry {
        QString fileName;       // name inside the trash folder
        QString originalFolder; // group folder it was deleted from
        QString originalName;   // its name there
        QDateTime deletedAt;
        friend bool operator==(const Entry&, const Entry&) = default;
    };

    static constexpr char folderName[] = ".Papierkorb";
    static constexpr char indexFileName[] = "eintraege.json";
    static constexpr char lockFileName[] = ".eintraege.lock";

    explicit Trash(const QString& libraryRoot);

    QUrl url() const { return m_url; }
    QString path() const { return m_url.toLocalFile(); }

    // The trash as the last entry of the group list.
    Folder folder() const {
        return Folder{m_url, QString::fromLatin1(library::trashDisplayName), Folder::Kind::Trash};
    }

    void ensureExists() const;
    // The trash folder or its index when it is a link or not what its name says
    // (a folder, a regular file): every operation then fails and touches nothing,
    // since it would reach whatever lies behind. Nothing when the trash is usable.
    std::optional<QString> obstacle() const;

    // Each operation holds a lock beside the index, so that operations of
    // several processes on one library never lose each other's entries or files.
    // The file's new path in the trash, or nothing if the move failed.
    std::optional<QString> move(const QString& sheetPath, const QString& fromFolder) const;
    // The file's new path in its group, or nothing if the move failed.
    std::optional<QString> restore(const QString& trashedPath, const QString& root) const;
    // False when the trash could not be used; a file that cannot be removed
    // is seen by the caller still being there.
    bool deleteForever(const QString& trashedPath) const;
    // The copy's text becomes the sheet's: the sheet's file goes into the trash,
    // restorable beside the sheet under a free name, and the copy takes the
    // sheet's name. Where no sheet is, the copy just takes its name. The
    // replaced file's path in the trash (empty when there was none), or
    // nothing when it failed and both files are as they were.
    std::optional<QString> replaceWithCopy(const QString& sheetPath, const QString& copyPath,
                                           const QString& fromFolder) const;
    // A group was renamed: what was trashed from it goes back under its new name.
    void renameOrigin(const QString& fromFolder, const QString& toFolder) const;
    bool empty() const;
    bool isEmpty() const;

    // Entries of files that are in the trash. A sync tool keeps the losing
    // side of an index two devices wrote as a conflict copy beside it: its
    // entries are merged in, the index written, the copy removed.
    QList<Entry> readIndex() const;
    bool saveIndex(const QList<Entry>& entries) const;

    // Index encoding: a pretty-printed JSON array, keys sorted, dates as seconds
    // since 2001-01-01 00:00:00 UTC. decodeIndex fails on any malformed record.
    static QByteArray encodeIndex(const QList<Entry>& entries);
    static std::optional<QList<Entry>> decodeIndex(const QByteArray& json);

private:
    QString indexPath() const;
    // The index and the readable conflict copies of it, named in `merged`.
    QList<Entry> readMerged(QStringList* merged) const;
    // The same, written back without the copies; the lock held.
    QList<Entry> indexUnderLock() const;
    QUrl m_url;
};

} // namespace orvik
