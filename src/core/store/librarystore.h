#pragma once

#include "library/folder.h"
#include "library/import.h"
#include "library/sheet.h"
#include "library/template.h"
#include "platform/files.h"
#include "search/searchengine.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QFileSystemWatcher>
#include <QFuture>
#include <QHash>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QTimer>
#include <QUrl>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>

namespace orvik {

class BackupManager;
class Trash;

// Another program (a sync tool, an editor) changed a sheet the store holds.
struct ExternalChange {
    enum class Kind {
        // The file changed while nothing waited to be written: its new text is shown.
        Reloaded,
        // Both changed: the user's text went into the sheet, the other
        // version into a new sheet beside it, named `keptAs`.
        KeptBoth,
        // The file was gone when the user's text was written; it is there again.
        Recreated,
    };
    Kind kind = Kind::Reloaded;
    QUrl sheet;
    QString keptAs; // file name of the other version (KeptBoth only)
};

// What becomes of a conflict copy: it goes into the trash and the sheet
// stays, or its text becomes the sheet's.
enum class ConflictChoice { KeepOriginal, TakeCopy };

// The one model of the main window: the groups, the sheets of the selected
// group, the selected sheet and its text, the search. Lives on the UI thread;
// search and backups run on their own threads and report back here.
class LibraryStore : public QObject {
    Q_OBJECT

public:
    // Fetches the diary's weather and headlines and yields their Markdown
    // block, or an empty text when nothing arrived.
    using DailyContextSource = std::function<QFuture<QString>()>;

    struct Options {
        QString root;       // empty: the configured library
        QString backupRoot; // empty: the standard backup folder
        int saveDelayMs = 600;
        int searchDelayMs = 220;
        int firstBackupDelayMs = 8000;
        // Other programs write in bursts (a sync tool replaces, renames,
        // touches, or brings a thousand sheets at once): one look at the disk
        // once they paused this long, and at least one in every
        // watchLimitMs while they go on without pause.
        int watchDelayMs = 250;
        int watchLimitMs = 1000;
        int backupIntervalMs = 3600 * 1000;
        // A sheet file larger than this is listed from its head at once; its
        // word count, which needs the whole file, follows from another
        // thread, so that no list waits for a file of gigabytes.
        qint64 headOnlyAbove = qint64(8) << 20;
        // The selected sheet is read on another thread when its file is
        // larger than this, the editor read-only until the text is there.
        // Below it the read takes about a millisecond, so the text is there
        // before the next keystroke is handled: typing right after a click
        // goes into the sheet clicked.
        qint64 readAtOnceUpTo = qint64(256) << 10;
        // False lists a group on the calling thread, done when the call
        // returns: for a caller without an event loop to wait in.
        bool listInBackground = true;
        bool backupSchedule = true;
        std::function<QDateTime()> clock; // default: the current time
        DailyContextSource dailyContext;  // default: the real services
        QString rescueFolder;             // empty: rescue::defaultFolder()
    };

    // A text that could not be written to its sheet and waits in memory.
    struct UnsavedText {
        QUrl sheet;
        QString text;
    };

    explicit LibraryStore(QObject* parent = nullptr);
    explicit LibraryStore(Options options, QObject* parent = nullptr);
    ~LibraryStore() override;

    // Published state.
    const QList<Folder>& folders() const { return m_folders; }
    const QList<Sheet>& sheets() const { return m_sheets; }
    QString searchText() const { return m_searchText; }
    SearchScope searchScope() const { return m_searchScope; }
    const QList<SearchHit>& searchHits() const { return m_searchHits; }
    bool isSearching() const { return m_isSearching; }
    QUrl selectedFolderID() const { return m_selectedFolderID; }
    QUrl selectedSheetID() const { return m_selectedSheetID; }
    QString currentText() const { return m_currentText; }
    // The words of the text being edited, counted again only around each edit.
    int currentWordCount() const { return wordsOf(m_currentText); }
    // The selected sheet's last write failed; its text waits to be written again.
    bool lastWriteFailed() const;
    // The selected group is being listed; its sheets follow.
    bool isListing() const { return m_listing != nullptr; }
    // The selected sheet's file is being read; its text follows, and nothing
    // typed meanwhile is taken.
    bool isReadingSheet() const { return m_reading != nullptr; }

    void setSearchText(const QString& text);
    void setSearchScope(SearchScope scope);
    // Searches from the library's index on disk from now on, and brings it up
    // to date and into memory in the background, at idle priority.
    void warmSearch();
    void setSelectedFolderID(const QUrl& id);
    void setSelectedSheetID(const QUrl& id);
    void setCurrentText(const QString& text);

    // Derived.
    QString rootPath() const { return m_root; }
    std::optional<Folder> selectedFolder() const;
    std::optional<Sheet> selectedSheet() const;
    bool isViewingTrash() const;
    QList<Sheet> visibleSheets() const;
    std::optional<Folder> folder(Folder::Kind kind) const;
    std::optional<QString> snippet(const Sheet& sheet) const;
    std::optional<int> hitCount(const Sheet& sheet) const;
    const Trash& trash() const { return *m_trash; }
    BackupManager& backups() const { return *m_backups; }

    void reloadFolders();
    void reloadSheets();

    // Saving.
    void flushPendingSave();
    bool hasPendingSave() const { return m_pendingSave.has_value(); }
    // What a flush could not write, in no particular order.
    QList<UnsavedText> unsavedTexts() const;
    // Where texts go that cannot be written when the app ends.
    QString rescueFolder() const;
    // Writes every text that could not be written into the rescue folder,
    // each text once; they still wait for their sheets. False when one could
    // not be kept there either.
    bool rescueUnsaved();
    // The user let the texts that could not be written go: nothing writes
    // them any more, here or on the way out.
    void abandonUnsaved();

    // Operations on groups and sheets.
    std::optional<Sheet> createSheet(const Template& from, const Folder& in, const QDateTime& date);
    std::optional<Sheet> createSheet(const Template& from); // into the template's group
    std::optional<Sheet> quickNewSheet();
    // A quick note in the given group; nothing in the trash.
    std::optional<Sheet> newSheetIn(const Folder& group);
    std::optional<Sheet> newDiaryEntry(const Template& from = Template::diaryDefault());
    std::optional<Folder> createFolder(const QString& named);
    // Copies outside files into a group (never the trash) as new sheets and
    // selects the last one brought in; one result per file, refusals included.
    QList<library::Imported> importFiles(const QStringList& paths, const Folder& into);
    // Moves a sheet's file into another group by renaming it: bytes and
    // modification date stay, the name too unless the group holds it (then
    // the next free one). A waiting text is written first and goes along;
    // the open sheet stays open, in its new group. The new path; nothing for
    // the trash, a file outside the library's groups, or a failed move.
    std::optional<QString> moveSheet(const QUrl& sheet, const Folder& to);
    // Gives a group of the writer's own another name, as "Neue Gruppe" takes
    // it; the standard groups and the trash keep theirs. Nothing when the
    // name is no possible group or is taken.
    std::optional<Folder> renameFolder(const Folder& group, const QString& named);
    struct FolderDeletion {
        bool refused = false; // a standard group, the trash, no group at all
        QStringList trashed;  // the sheets' paths in the trash
        QStringList left;     // what kept the folder, by name
        bool removed() const { return !refused && left.isEmpty(); }
    };
    // Puts every sheet of a group of the writer's own into the trash, each
    // restorable, and removes the folder when nothing else is left in it.
    FolderDeletion deleteFolder(const Folder& group);
    void deleteSheet(const Sheet& sheet);
    // Puts a trashed sheet back into its group; false for a sheet outside the
    // trash, which stays where it is, and when the move fails.
    bool restore(const Sheet& sheet);
    // Settles a conflict copy beside its sheet; nothing is deleted outright.
    // KeepOriginal puts the copy into the trash. TakeCopy puts the sheet's
    // text into the trash as a copy and gives the copy's file the sheet's
    // name (just that, when the sheet is gone). Waiting edits are written
    // first. False, both files as they were, for a file that is no conflict
    // copy in a group, a KeepOriginal without its sheet, or a failed step.
    bool resolveConflict(const QUrl& copy, ConflictChoice choice);
    void emptyTrash();
    void backupNow();
    // Where the backups are, created when missing (off this thread); the
    // window shows it in the file manager.
    QFuture<QString> backupsFolder();

Q_SIGNALS:
    void foldersChanged();
    void sheetsChanged();
    void searchTextChanged();
    void searchScopeChanged();
    void searchHitsChanged();
    void isSearchingChanged();
    void selectedFolderIDChanged();
    void selectedSheetIDChanged();
    void currentTextChanged();
    void lastWriteFailedChanged();
    void isListingChanged();
    void isReadingSheetChanged();
    // A diary sheet's loading block was dealt with (replaced, or left because
    // the user changed it or the sheet is gone).
    void dailyContextDone(const QUrl& sheet);
    // A write finished: `ok` false when the file could not be written.
    void saved(const QUrl& sheet, bool ok);
    // The open sheet is known by another path now, its group renamed by
    // another program: the same sheet with the same text, no new selection.
    // Sent before any other notice of the move.
    void sheetMoved(const QUrl& from, const QUrl& to);
    // Another program changed a sheet; sent once per event.
    void changedOutside(const orvik::ExternalChange& change);

private:
    struct SaveJob {
        QUrl target;
        QString text;
    };
    // Which file or folder a path named, however it is called now.
    struct NodeId {
        quint64 device = 0;
        quint64 inode = 0;
        bool isValid() const { return inode != 0; }
        friend bool operator==(const NodeId&, const NodeId&) = default;
    };
    static NodeId nodeId(const QString& path);
    // A file's identity and the moments it last changed: while they are the
    // same, so is the content, and nothing needs to be read to know it.
    struct Seen {
        NodeId node;
        qint64 size = -1;
        qint64 modifiedNs = 0;
        qint64 changedNs = 0;
        friend bool operator==(const Seen&, const Seen&) = default;
    };
    static Seen seen(const QString& path);
    static Seen seen(const struct stat& st);
    // What a look at a group folder found, made on another thread.
    struct Listing {
        QString folder;
        QStringList paths;
        QHash<QString, files::FileVersion> stamps;
        // Entries read anew; a path without one kept its entry, or is no sheet.
        QHash<QString, std::optional<Sheet>> read;
        QSet<QString> headOnly;
    };
    using Stop = std::shared_ptr<std::atomic_bool>;
    static Listing listGroup(const QString& folder, const QHash<QString, files::FileVersion>& reuse,
                             const QString& keep, qint64 headOnlyAbove, const Stop& stop);
    // A sheet's file read in full, on another thread.
    struct SheetRead {
        files::FileVersion version;
        Seen seen;
        std::optional<QString> text; // line feeds only; nothing when no UTF-8
        bool crlf = false;
    };
    static SheetRead readSheet(const QString& path, const Stop& stop);
    static SheetRead decoded(const files::FileVersion& version, const Seen& seen,
                             const QByteArray& bytes);
    // Shows the selected sheet's file as another program left it.
    void takeOutsideVersion(const QUrl& url, const SheetRead& read);

    QDateTime now() const;
    void setFolders(QList<Folder> folders);
    void setSheets(QList<Sheet> sheets);
    void setSearchHits(QList<SearchHit> hits);
    void setSearching(bool searching);
    void setLoadedText(const QString& text);
    void loadCurrentSheet();
    void scheduleSave();
    void runSave(const SaveJob& job, bool resort = true);
    bool writeSheet(const QUrl& url, const QString& text);
    bool hasWaitingEdits(const QUrl& url) const;
    QString adoptLineEnds(const QUrl& url, const QString& text);
    void forget(const QUrl& url);
    bool isInTrash(const QUrl& sheet) const;
    void recordSaved(const QUrl& url, const QString& text);
    void setWriteFailed(bool failed);
    void watchSelection();
    void rememberGroups();
    // The group folder at `from` is gone: finds it renamed within the library
    // and moves everything the store holds there along. Its new path, if found.
    std::optional<QString> followMovedGroup(const QString& from);
    void moveGroup(const QString& from, const QString& to);
    // Everything the store holds of a sheet by its path, known by another.
    void retarget(const std::function<QUrl(const QUrl&)>& moved);
    bool isGroupFolder(const QString& path) const;
    void diskChanged();
    void refreshListing();
    void startListing(bool fresh);
    void applyListing(Listing listing, const QHash<QString, files::FileVersion>& before);
    void relistIfListing();
    void startReading(const QUrl& url);
    void stopReading();
    void takeRead(const QUrl& url, const SheetRead& read);
    void checkSelectedSheet();
    void countWordsLater(const QString& path, const files::FileVersion& listed);
    void resortSheets();
    void scheduleSearch();
    void runSearch();
    void removeFromList(const Sheet& sheet);
    void fillDailyContext(const QUrl& sheet);
    void updateEntry(const QUrl& url, const QString& text);
    std::optional<Folder> templateTarget(const Template& from) const;

    Options m_options;
    QString m_root;
    std::unique_ptr<Trash> m_trash;
    std::unique_ptr<BackupManager> m_backups;
    std::unique_ptr<SearchEngine> m_searchEngine;

    QList<Folder> m_folders;
    QList<Sheet> m_sheets;
    QString m_searchText;
    SearchScope m_searchScope = SearchScope::Group;
    QList<SearchHit> m_searchHits;
    bool m_isSearching = false;
    QUrl m_selectedFolderID;
    QUrl m_selectedSheetID;
    QString m_currentText;
    // The last text whose words were counted, and their number.
    mutable QString m_countedText;
    mutable int m_countedWords = 0;
    int wordsOf(const QString& text) const;
    bool m_isLoading = false;
    // Set while a listing is on its way or the selected sheet is read; set to
    // true to stop it, as its result is not wanted any more.
    Stop m_listing;
    Stop m_reading;
    // The selected sheet's file, changed by another program, is read again.
    Stop m_checking;
    // A new group was selected: its first sheet is once its list is there.
    bool m_selectFirst = false;
    bool m_lastWriteFailed = false;

    std::optional<SaveJob> m_pendingSave;
    QTimer m_saveTimer;
    QTimer m_searchTimer;
    QTimer m_backupTimer;
    // Texts whose write failed, by sheet; written again on every flush.
    QHash<QUrl, QString> m_unsaved;
    // What of them was written to the rescue folder already.
    QHash<QUrl, QString> m_rescued;

    // Each sheet's file as the store last read or wrote it: a write first
    // checks that nobody else wrote the file since.
    QHash<QUrl, files::FileVersion> m_known;
    // Their files as last read or written: unchanged, they need no reading
    // before the next write.
    QHash<QUrl, Seen> m_seen;
    // Sheets whose file ends its lines in CR LF; the text in memory uses line feeds.
    QSet<QUrl> m_crlf;
    // What another program's change will be reported as once the user's text is written.
    QHash<QUrl, ExternalChange> m_untold;
    // The shown group's sheet files as last listed, by path.
    QHash<QString, files::FileVersion> m_listed;
    // Each group folder's identity as last listed, by path, kept after the
    // folder went: what another program renamed is found again by it.
    QHash<QString, NodeId> m_groupIds;
    // The open sheet's file identity: a sync tool renames a folder by making
    // the new one, moving the files over and removing the old one.
    QString m_sheetIdPath;
    NodeId m_sheetId;
    QFileSystemWatcher m_watcher;
    QTimer m_watchTimer;
    QElapsedTimer m_watchedSince; // the first change the next look answers
};

} // namespace orvik
