#include "librarystore.h"

#include "daily/dailycontext.h"
#include "library/conflicts.h"
#include "library/library.h"
#include "library/rescue.h"
#include "platform/files.h"
#include "platform/handover.h"
#include "platform/text.h"
#include "safekeeping/backupmanager.h"
#include "safekeeping/trash.h"
#include "search/searchindex.h"

#include <QDir>
#include <QFileInfo>
#include <QFutureWatcher>
#include <QtConcurrentRun>

#include <sys/stat.h>

using namespace Qt::StringLiterals;

namespace orvik {

namespace {

QString cleanRoot(const QString& root) {
    return QDir::cleanPath(QDir(root.isEmpty() ? library::chooseRoot() : root).absolutePath());
}

QFuture<QString> fetchDailyContext() {
    return DailyContextService::fetch(DailySettings::current())
        .then([](const DailyContext& context) {
            return context.isEmpty() ? QString() : context.markdownBlock();
        });
}

// Runs `work` on another thread and hands its result to `done` on the
// thread of `context`, unless `context` is gone by then (a continuation
// would find its context gone and abort).
template <typename Work, typename Done> void runThen(QObject* context, Work work, Done done) {
    using Result = std::invoke_result_t<Work>;
    auto* watcher = new QFutureWatcher<Result>(context);
    QObject::connect(watcher, &QFutureWatcherBase::finished, context,
                     [watcher, done = std::move(done)]() mutable {
                         watcher->deleteLater();
                         done(watcher->result());
                     });
    watcher->setFuture(QtConcurrent::run(handedOver(std::move(work))));
}

} // namespace

LibraryStore::LibraryStore(QObject* parent) : LibraryStore(Options{}, parent) {}

LibraryStore::LibraryStore(Options options, QObject* parent)
    : QObject(parent), m_options(std::move(options)), m_root(cleanRoot(m_options.root)),
      m_trash(std::make_unique<Trash>(m_root)),
      m_backups(std::make_unique<BackupManager>(m_root, m_options.backupRoot)),
      m_searchEngine(std::make_unique<SearchEngine>()) {
    if (!m_options.dailyContext)
        m_options.dailyContext = fetchDailyContext;

    m_saveTimer.setSingleShot(true);
    m_saveTimer.setInterval(m_options.saveDelayMs);
    connect(&m_saveTimer, &QTimer::timeout, this, [this] {
        if (!m_pendingSave)
            return;
        const SaveJob job = *std::exchange(m_pendingSave, std::nullopt);
        runSave(job);
    });
    m_watchTimer.setSingleShot(true);
    m_watchTimer.setInterval(m_options.watchDelayMs);
    connect(&m_watchTimer, &QTimer::timeout, this, [this] {
        m_watchedSince.invalidate();
        diskChanged();
    });
    // Each change puts the look off until the changes pause, so that a burst
    // is listed in a few steps rather than one per watch delay; never beyond
    // the limit, so that a tool writing without pause is still followed.
    const auto noticed = [this] {
        if (!m_watchTimer.isActive() || !m_watchedSince.isValid())
            m_watchedSince.start();
        const qint64 left = m_options.watchLimitMs - m_watchedSince.elapsed();
        m_watchTimer.start(int(std::clamp<qint64>(left, 0, m_options.watchDelayMs)));
    };
    connect(&m_watcher, &QFileSystemWatcher::directoryChanged, this, noticed);
    connect(&m_watcher, &QFileSystemWatcher::fileChanged, this, noticed);
    connect(this, &LibraryStore::foldersChanged, this, &LibraryStore::rememberGroups);
    m_searchTimer.setSingleShot(true);
    m_searchTimer.setInterval(m_options.searchDelayMs);
    connect(&m_searchTimer, &QTimer::timeout, this, &LibraryStore::runSearch);

    library::bootstrapIfNeeded(m_root);
    reloadFolders();
    if (!m_folders.isEmpty())
        setSelectedFolderID(m_folders.first().url);

    if (m_options.backupSchedule) {
        connect(&m_backupTimer, &QTimer::timeout, this, [this] {
            m_backupTimer.setInterval(m_options.backupIntervalMs);
            m_backups->runIfNeeded();
        });
        m_backupTimer.start(m_options.firstBackupDelayMs);
    }
}

LibraryStore::~LibraryStore() {
    // Nobody waits for their results any more.
    for (const Stop& work : {m_listing, m_reading, m_checking})
        if (work)
            work->store(true);
    // Whatever the user typed last reaches the disk, even if the window
    // forgot to flush.
    flushPendingSave();
}

QDateTime LibraryStore::now() const {
    return m_options.clock ? m_options.clock() : QDateTime::currentDateTime();
}

// --- published state -------------------------------------------------------

bool LibraryStore::lastWriteFailed() const {
    return m_lastWriteFailed;
}

void LibraryStore::setWriteFailed(bool failed) {
    if (failed == m_lastWriteFailed)
        return;
    m_lastWriteFailed = failed;
    Q_EMIT lastWriteFailedChanged();
}

void LibraryStore::setFolders(QList<Folder> folders) {
    m_folders = std::move(folders);
    Q_EMIT foldersChanged();
}

void LibraryStore::setSheets(QList<Sheet> sheets) {
    m_sheets = std::move(sheets);
    Q_EMIT sheetsChanged();
}

void LibraryStore::setSearchHits(QList<SearchHit> hits) {
    m_searchHits = std::move(hits);
    Q_EMIT searchHitsChanged();
}

void LibraryStore::setSearching(bool searching) {
    if (m_isSearching == searching)
        return;
    m_isSearching = searching;
    Q_EMIT isSearchingChanged();
}

void LibraryStore::setSearchText(const QString& text) {
    if (text == m_searchText)
        return;
    m_searchText = text;
    Q_EMIT searchTextChanged();
    scheduleSearch();
}

void LibraryStore::setSearchScope(SearchScope scope) {
    if (scope == m_searchScope)
        return;
    m_searchScope = scope;
    Q_EMIT searchScopeChanged();
    scheduleSearch();
}

void LibraryStore::setSelectedFolderID(const QUrl& id) {
    if (id == m_selectedFolderID)
        return;
    m_selectedFolderID = id;
    Q_EMIT selectedFolderIDChanged();
    flushPendingSave();
    if (m_options.listInBackground) {
        // Nothing of the previous group stays shown, or takes typing, while
        // this one is read.
        setSelectedSheetID(QUrl());
        setSheets({});
    }
    m_selectFirst = true;
    reloadSheets();
}

void LibraryStore::setSelectedSheetID(const QUrl& id) {
    m_selectFirst = false;
    if (id == m_selectedSheetID)
        return;
    const QUrl previous = std::exchange(m_selectedSheetID, id);
    Q_EMIT selectedSheetIDChanged();
    flushPendingSave();
    loadCurrentSheet();
    // A sheet deleted elsewhere stayed listed while it was open.
    if (!previous.isEmpty() && !files::stamp(previous.toLocalFile()).exists)
        refreshListing();
}

void LibraryStore::setCurrentText(const QString& text) {
    // Until the sheet's text is there, an edit of what is shown would write
    // a part of it over the whole.
    if (m_reading && !m_isLoading)
        return;
    if (text != m_currentText) {
        m_currentText = text;
        Q_EMIT currentTextChanged();
    }
    if (!m_isLoading)
        scheduleSave();
}

void LibraryStore::setLoadedText(const QString& text) {
    m_isLoading = true;
    setCurrentText(text);
    m_isLoading = false;
}

// --- derived ---------------------------------------------------------------

std::optional<Folder> LibraryStore::selectedFolder() const {
    for (const Folder& f : m_folders)
        if (f.url == m_selectedFolderID)
            return f;
    return std::nullopt;
}

std::optional<Sheet> LibraryStore::selectedSheet() const {
    if (m_selectedSheetID.isEmpty())
        return std::nullopt;
    for (const Sheet& s : m_sheets)
        if (s.url == m_selectedSheetID)
            return s;
    for (const SearchHit& h : m_searchHits)
        if (h.sheet.url == m_selectedSheetID)
            return h.sheet;
    return std::nullopt;
}

bool LibraryStore::isViewingTrash() const {
    const auto folder = selectedFolder();
    return folder && folder->kind == Folder::Kind::Trash;
}

QList<Sheet> LibraryStore::visibleSheets() const {
    if (text::graphemeCount(m_searchText.trimmed()) < 2)
        return m_sheets;
    QList<Sheet> hits;
    hits.reserve(m_searchHits.size());
    for (const SearchHit& h : m_searchHits)
        hits.append(h.sheet);
    return hits;
}

std::optional<Folder> LibraryStore::folder(Folder::Kind kind) const {
    for (const Folder& f : m_folders)
        if (f.kind == kind)
            return f;
    return std::nullopt;
}

std::optional<QString> LibraryStore::snippet(const Sheet& sheet) const {
    for (const SearchHit& h : m_searchHits)
        if (h.sheet.url == sheet.url)
            return h.snippet;
    return std::nullopt;
}

std::optional<int> LibraryStore::hitCount(const Sheet& sheet) const {
    for (const SearchHit& h : m_searchHits)
        if (h.sheet.url == sheet.url)
            return h.count;
    return std::nullopt;
}

// --- reading ---------------------------------------------------------------

void LibraryStore::reloadFolders() {
    QList<Folder> folders = library::readGroups(m_root);
    m_trash->ensureExists();
    folders.append(m_trash->folder());
    setFolders(std::move(folders));
}

void LibraryStore::reloadSheets() {
    startListing(true);
}

void LibraryStore::refreshListing() {
    startListing(false);
}

void LibraryStore::relistIfListing() {
    // A look begun before the list changed here would undo the change.
    if (m_listing)
        refreshListing();
}

void LibraryStore::startListing(bool fresh) {
    const auto folder = selectedFolder();
    if (!folder) {
        if (!fresh)
            return;
        m_listed.clear();
        setSheets({});
        watchSelection();
        return;
    }
    if (fresh)
        m_listed.clear();
    // Entries still true to their files are not read again; the open
    // sheet's follows the editor.
    QHash<QString, files::FileVersion> reuse;
    QString keep;
    if (!fresh) {
        for (const Sheet& s : std::as_const(m_sheets))
            if (const auto it = m_listed.constFind(s.path()); it != m_listed.constEnd())
                reuse.insert(it.key(), *it);
        if (std::any_of(m_sheets.cbegin(), m_sheets.cend(),
                        [&](const Sheet& s) { return s.url == m_selectedSheetID; }))
            keep = m_selectedSheetID.toLocalFile();
    }
    const Stop stop = std::make_shared<std::atomic_bool>(false);
    const bool wasListing = m_listing != nullptr;
    if (m_listing)
        m_listing->store(true);
    const QHash<QString, files::FileVersion> before = m_listed;
    auto look = [path = folder->path(), reuse, keep, above = m_options.headOnlyAbove, stop] {
        return listGroup(path, reuse, keep, above, stop);
    };
    if (!m_options.listInBackground) {
        m_listing = nullptr;
        applyListing(look(), before);
        return;
    }
    m_listing = stop;
    if (!wasListing)
        Q_EMIT isListingChanged();
    runThen(this, std::move(look), [this, stop, before](const Listing& listing) {
        // Superseded by a newer look, another group, or a change here.
        if (m_listing != stop)
            return;
        m_listing = nullptr;
        applyListing(listing, before);
        Q_EMIT isListingChanged();
    });
}

LibraryStore::Listing LibraryStore::listGroup(const QString& folder,
                                              const QHash<QString, files::FileVersion>& reuse,
                                              const QString& keep, qint64 headOnlyAbove,
                                              const Stop& stop) {
    Listing listing;
    listing.folder = folder;
    for (const QString& path : library::sheetFiles(folder)) {
        if (stop->load())
            break;
        const files::FileVersion now = files::stamp(path);
        listing.paths.append(path);
        listing.stamps.insert(path, now);
        const auto before = reuse.constFind(path);
        if (path == keep || (before != reuse.constEnd() && before->sameStamp(now)))
            continue;
        if (now.size <= headOnlyAbove) {
            listing.read.insert(path, Sheet::load(path));
        } else {
            listing.read.insert(path, Sheet::loadHead(path));
            listing.headOnly.insert(path);
        }
    }
    return listing;
}

void LibraryStore::applyListing(Listing listing, const QHash<QString, files::FileVersion>& before) {
    QHash<QString, Sheet> shown;
    for (const Sheet& s : std::as_const(m_sheets))
        shown.insert(s.path(), s);
    const QString selectedPath = m_selectedSheetID.toLocalFile();
    QList<Sheet> fresh;
    QStringList countLater;
    for (const QString& path : std::as_const(listing.paths)) {
        const auto kept = shown.constFind(path);
        const auto read = listing.read.constFind(path);
        // Written while the folder was looked at: the entry knows the newer file.
        const auto was = before.constFind(path);
        const auto now = m_listed.constFind(path);
        const bool written =
            now != m_listed.constEnd() && (was == before.constEnd() || !was->sameStamp(*now));
        if (written)
            listing.stamps.insert(path, *now);
        if (kept != shown.constEnd() &&
            (written || path == selectedPath || read == listing.read.constEnd())) {
            fresh.append(*kept);
        } else if (read != listing.read.constEnd() && *read) {
            fresh.append(**read);
            if (listing.headOnly.contains(path))
                countLater.append(path);
        }
    }
    // The open sheet stays listed when another program deleted it: its text
    // is in the editor, and the next edit writes it again.
    if (!listing.stamps.contains(selectedPath) && shown.contains(selectedPath) &&
        QFileInfo(selectedPath).absolutePath() == listing.folder)
        fresh.append(shown.value(selectedPath));
    std::stable_sort(fresh.begin(), fresh.end(),
                     [](const Sheet& a, const Sheet& b) { return a.modified > b.modified; });
    m_listed = std::move(listing.stamps);
    if (fresh != m_sheets)
        setSheets(std::move(fresh));
    for (const QString& path : std::as_const(countLater))
        countWordsLater(path, m_listed.value(path));
    watchSelection();
    if (std::exchange(m_selectFirst, false))
        setSelectedSheetID(m_sheets.isEmpty() ? QUrl() : m_sheets.first().url);
}

void LibraryStore::countWordsLater(const QString& path, const files::FileVersion& listed) {
    runThen(
        this, [path] { return Sheet::load(path); },
        [this, path, listed](const std::optional<Sheet>& whole) {
            // Listed again since, or written: that brought its own entry.
            const auto now = m_listed.constFind(path);
            if (now == m_listed.constEnd() || !now->sameStamp(listed))
                return;
            const QUrl url = QUrl::fromLocalFile(path);
            // The entry of a sheet being edited follows the editor's text.
            if (hasWaitingEdits(url))
                return;
            for (qsizetype i = 0; i < m_sheets.size(); ++i) {
                if (m_sheets[i].url != url)
                    continue;
                // Past its head the file is no UTF-8 after all: no sheet.
                if (!whole)
                    m_sheets.removeAt(i);
                else
                    m_sheets[i].wordCount = whole->wordCount;
                Q_EMIT sheetsChanged();
                return;
            }
        });
}

void LibraryStore::loadCurrentSheet() {
    stopReading();
    if (m_checking)
        m_checking->store(true);
    m_checking = nullptr;
    QString text;
    // Read whether or not the list holds it yet: a sheet opened from outside
    // is selected while its group is still being listed, and an editor left
    // empty then would write the typing over the whole file.
    if (const QUrl url = m_selectedSheetID; !url.isEmpty()) {
        const QString path = url.toLocalFile();
        // A text that could not be written is newer than the file.
        const auto unsaved = m_unsaved.constFind(url);
        if (unsaved != m_unsaved.constEnd()) {
            text = *unsaved;
        } else if (const Seen before = seen(path); before.size > m_options.readAtOnceUpTo) {
            startReading(url);
        } else {
            QByteArray bytes;
            files::FileVersion read = files::version(path, &bytes);
            const std::optional<QString> decoded = text::decodeUtf8(bytes);
            text = adoptLineEnds(url, decoded.value_or(QString()));
            // What could not be shown must not be replaced unseen: to the
            // next write it looks changed, so it is kept beside.
            if (!decoded)
                read.hash.clear();
            m_known.insert(url, read);
            m_seen.insert(url, before);
        }
    }
    setLoadedText(text);
    setWriteFailed(m_unsaved.contains(m_selectedSheetID));
    watchSelection();
}

void LibraryStore::startReading(const QUrl& url) {
    const Stop stop = std::make_shared<std::atomic_bool>(false);
    m_reading = stop;
    Q_EMIT isReadingSheetChanged();
    runThen(
        this, [path = url.toLocalFile(), stop] { return readSheet(path, stop); },
        [this, url, stop](const SheetRead& read) {
            // Another sheet was selected meanwhile.
            if (m_reading != stop)
                return;
            m_reading = nullptr;
            takeRead(url, read);
            Q_EMIT isReadingSheetChanged();
        });
}

void LibraryStore::stopReading() {
    if (!m_reading)
        return;
    m_reading->store(true);
    m_reading = nullptr;
    Q_EMIT isReadingSheetChanged();
}

LibraryStore::SheetRead LibraryStore::readSheet(const QString& path, const Stop& stop) {
    SheetRead result;
    QByteArray bytes;
    struct stat st = {};
    const bool whole = files::readChunks(
        path, qsizetype(1) << 20,
        [&](QByteArrayView piece) {
            if (bytes.isEmpty())
                bytes.reserve(qsizetype(st.st_size));
            bytes.append(piece);
            return !stop->load();
        },
        &st);
    if (stop->load())
        return result;
    if (!whole) {
        // Unreadable: an existing file whose content is unknown.
        result.version = files::stamp(path);
        result.version.hash.clear();
        return result;
    }
    files::FileVersion version = files::stamp(st);
    version.size = bytes.size();
    version.hash = files::contentHash(bytes);
    return decoded(version, seen(st), bytes);
}

LibraryStore::SheetRead LibraryStore::decoded(const files::FileVersion& version, const Seen& seen,
                                              const QByteArray& bytes) {
    SheetRead result{version, seen, text::decodeUtf8(bytes), false};
    // The editor works in line feeds; a sheet written with CR LF (on another
    // system) is written back with CR LF.
    if (result.text && text::endsLinesWithCrLf(*result.text)) {
        result.crlf = true;
        result.text = text::withLineFeeds(*result.text);
    }
    return result;
}

void LibraryStore::takeRead(const QUrl& url, const SheetRead& read) {
    if (read.crlf)
        m_crlf.insert(url);
    else
        m_crlf.remove(url);
    files::FileVersion version = read.version;
    // What could not be shown must not be replaced unseen: to the next
    // write it looks changed, so it is kept beside.
    if (!read.text)
        version.hash.clear();
    m_known.insert(url, version);
    m_seen.insert(url, read.seen);
    setLoadedText(read.text.value_or(QString()));
}

// --- other programs --------------------------------------------------------

void LibraryStore::watchSelection() {
    // The root, for groups that other programs rename, make or remove.
    QStringList wanted{m_root};
    if (const auto folder = selectedFolder())
        wanted.append(folder->path());
    if (!m_selectedSheetID.isEmpty()) {
        const QString sheet = m_selectedSheetID.toLocalFile();
        wanted.append(sheet);
        if (const NodeId id = nodeId(sheet); id.isValid()) {
            m_sheetIdPath = sheet;
            m_sheetId = id;
        }
    }
    const QStringList watched = m_watcher.files() + m_watcher.directories();
    for (const QString& path : watched)
        if (!wanted.contains(path))
            m_watcher.removePath(path);
    for (const QString& path : wanted)
        if (!watched.contains(path) && QFileInfo::exists(path))
            m_watcher.addPath(path);
}

LibraryStore::Seen LibraryStore::seen(const QString& path) {
    struct stat st = {};
    if (::stat(files::encodeName(path).constData(), &st) != 0)
        return {};
    return seen(st);
}

LibraryStore::Seen LibraryStore::seen(const struct stat& st) {
    const auto ns = [](const timespec& t) { return qint64(t.tv_sec) * 1000000000 + t.tv_nsec; };
    // The change time, which no program can set, gives away a rewrite that
    // kept size and modification time.
    return {{quint64(st.st_dev), quint64(st.st_ino)},
            qint64(st.st_size),
            ns(st.st_mtim),
            ns(st.st_ctim)};
}

LibraryStore::NodeId LibraryStore::nodeId(const QString& path) {
    struct stat st = {};
    if (::stat(files::encodeName(path).constData(), &st) != 0)
        return {};
    return {quint64(st.st_dev), quint64(st.st_ino)};
}

void LibraryStore::rememberGroups() {
    for (const Folder& f : m_folders)
        if (f.kind != Folder::Kind::Trash)
            if (const NodeId id = nodeId(f.path()); id.isValid())
                m_groupIds.insert(f.path(), id);
}

std::optional<QString> LibraryStore::followMovedGroup(const QString& from) {
    const QFileInfo gone(from);
    if (gone.isDir() || gone.absolutePath() != m_root)
        return std::nullopt;
    const NodeId group = m_groupIds.value(from);
    const QString sheet = m_selectedSheetID.toLocalFile();
    const bool sheetWasThere =
        m_sheetId.isValid() && m_sheetIdPath == sheet && QFileInfo(sheet).absolutePath() == from;
    for (const Folder& f : library::readGroups(m_root)) {
        const QString to = f.path();
        const bool same =
            (group.isValid() && nodeId(to) == group) ||
            (sheetWasThere && nodeId(to + u'/' + QFileInfo(sheet).fileName()) == m_sheetId);
        if (same && to != from) {
            moveGroup(from, to);
            return to;
        }
    }
    return std::nullopt;
}

void LibraryStore::retarget(const std::function<QUrl(const QUrl&)>& moved) {
    const auto rekey = [&](auto& hash) {
        std::remove_cvref_t<decltype(hash)> renamed;
        for (auto it = hash.cbegin(); it != hash.cend(); ++it)
            renamed.insert(moved(it.key()), it.value());
        hash = std::move(renamed);
    };
    rekey(m_unsaved);
    rekey(m_rescued);
    rekey(m_known);
    rekey(m_seen);
    rekey(m_untold);
    for (ExternalChange& change : m_untold)
        change.sheet = moved(change.sheet);
    QSet<QUrl> crlf;
    for (const QUrl& url : std::as_const(m_crlf))
        crlf.insert(moved(url));
    m_crlf = std::move(crlf);
    QHash<QString, files::FileVersion> listed;
    for (auto it = m_listed.cbegin(); it != m_listed.cend(); ++it)
        listed.insert(moved(QUrl::fromLocalFile(it.key())).toLocalFile(), it.value());
    m_listed = std::move(listed);
    if (m_pendingSave)
        m_pendingSave->target = moved(m_pendingSave->target);
    for (Sheet& s : m_sheets)
        s.url = moved(s.url);
    for (SearchHit& h : m_searchHits)
        h.sheet.url = moved(h.sheet.url);
    m_sheetIdPath = moved(QUrl::fromLocalFile(m_sheetIdPath)).toLocalFile();
}

void LibraryStore::moveGroup(const QString& from, const QString& to) {
    const QString prefix = from + u'/';
    const auto moved = [&](const QUrl& url) {
        const QString path = url.toLocalFile();
        return path.startsWith(prefix) ? QUrl::fromLocalFile(to + path.mid(from.size())) : url;
    };
    retarget(moved);
    if (m_groupIds.contains(from))
        m_groupIds.insert(to, m_groupIds.value(from));

    const bool groupShown = m_selectedFolderID == QUrl::fromLocalFile(from);
    if (groupShown)
        m_selectedFolderID = QUrl::fromLocalFile(to);
    relistIfListing();
    const QUrl sheet = moved(m_selectedSheetID);
    const QUrl wasShown = std::exchange(m_selectedSheetID, sheet);
    const bool sheetShown = sheet != wasShown;
    if (sheetShown)
        Q_EMIT sheetMoved(wasShown, sheet);
    reloadFolders();
    Q_EMIT sheetsChanged();
    Q_EMIT searchHitsChanged();
    if (groupShown)
        Q_EMIT selectedFolderIDChanged();
    if (sheetShown)
        Q_EMIT selectedSheetIDChanged();
    watchSelection();
}

void LibraryStore::diskChanged() {
    // Looked for even when the list no longer holds it: the group list may
    // have been read again since the rename.
    if (!m_selectedFolderID.isEmpty())
        followMovedGroup(m_selectedFolderID.toLocalFile());
    QList<Folder> groups = library::readGroups(m_root);
    groups.append(m_trash->folder());
    if (groups != m_folders)
        reloadFolders();
    refreshListing();
    checkSelectedSheet();
    // A file replaced by renaming another onto it is a new file: the watch
    // stayed with the old one, which is gone.
    if (!m_selectedSheetID.isEmpty())
        m_watcher.removePath(m_selectedSheetID.toLocalFile());
    watchSelection();
}

void LibraryStore::checkSelectedSheet() {
    const QUrl url = m_selectedSheetID;
    const auto known = m_known.constFind(url);
    // A read under way brings the newest text anyway.
    if (url.isEmpty() || known == m_known.constEnd() || m_reading)
        return;
    const QString path = url.toLocalFile();
    const files::FileVersion stamped = files::stamp(path);
    if (stamped.sameStamp(*known))
        return;
    // The waiting write keeps both versions; loading now would drop the user's.
    if (hasWaitingEdits(url))
        return;
    if (stamped.size > m_options.readAtOnceUpTo) {
        if (m_checking)
            m_checking->store(true);
        const Stop stop = std::make_shared<std::atomic_bool>(false);
        m_checking = stop;
        runThen(
            this, [path, stop] { return readSheet(path, stop); },
            [this, url, stop](const SheetRead& read) {
                if (m_checking != stop)
                    return;
                m_checking = nullptr;
                // Typed into meanwhile: that write keeps both versions.
                if (url == m_selectedSheetID && !hasWaitingEdits(url))
                    takeOutsideVersion(url, read);
            });
        return;
    }
    const Seen before = seen(path);
    QByteArray bytes;
    const files::FileVersion now = files::version(path, &bytes);
    takeOutsideVersion(url, decoded(now, before, bytes));
}

void LibraryStore::takeOutsideVersion(const QUrl& url, const SheetRead& read) {
    const auto known = m_known.constFind(url);
    // Gone (written again with the next edit) or unreadable: nothing to show.
    if (known == m_known.constEnd() || !read.version.exists || read.version.hash.isEmpty())
        return;
    if (read.version.hash == known->hash) {
        m_known.insert(url, read.version);
        m_seen.insert(url, read.seen);
        return;
    }
    // Half-written by a tool that writes in place: the next event brings the rest.
    if (!read.text)
        return;
    if (read.crlf)
        m_crlf.insert(url);
    else
        m_crlf.remove(url);
    m_known.insert(url, read.version);
    m_seen.insert(url, read.seen);
    setLoadedText(*read.text);
    for (Sheet& s : m_sheets) {
        if (s.url == url) {
            s = Sheet::fromText(url.toLocalFile(), *read.text, read.version.modified);
            Q_EMIT sheetsChanged();
            break;
        }
    }
    Q_EMIT changedOutside(ExternalChange{ExternalChange::Kind::Reloaded, url, QString()});
}

QString LibraryStore::adoptLineEnds(const QUrl& url, const QString& text) {
    // The editor works in line feeds; a sheet written with CR LF (on another
    // system) is written back with CR LF.
    if (!text::endsLinesWithCrLf(text)) {
        m_crlf.remove(url);
        return text;
    }
    m_crlf.insert(url);
    return text::withLineFeeds(text);
}

void LibraryStore::forget(const QUrl& url) {
    m_unsaved.remove(url);
    m_rescued.remove(url);
    m_known.remove(url);
    m_seen.remove(url);
    m_untold.remove(url);
    m_crlf.remove(url);
}

bool LibraryStore::isInTrash(const QUrl& sheet) const {
    return QFileInfo(sheet.toLocalFile()).absolutePath() == QDir::cleanPath(m_trash->path());
}

bool LibraryStore::hasWaitingEdits(const QUrl& url) const {
    return (m_pendingSave && m_pendingSave->target == url) || m_unsaved.contains(url);
}

// --- saving ----------------------------------------------------------------

int LibraryStore::wordsOf(const QString& text) const {
    if (text.isSharedWith(m_countedText))
        return m_countedWords;
    m_countedWords = m_countedText.isNull()
                         ? Sheet::countWords(text)
                         : Sheet::countWordsAfterEdit(m_countedText, m_countedWords, text);
    m_countedText = text.isNull() ? u""_s : text;
    return m_countedWords;
}

void LibraryStore::updateEntry(const QUrl& url, const QString& text) {
    for (Sheet& s : m_sheets) {
        if (s.url != url)
            continue;
        s.title =
            Sheet::deriveTitle(text, files::displayName(QFileInfo(s.path()).completeBaseName()));
        s.preview = Sheet::derivePreview(text);
        s.wordCount = wordsOf(text);
        s.modified = now();
        Q_EMIT sheetsChanged();
        return;
    }
}

void LibraryStore::recordSaved(const QUrl& url, const QString& text) {
    const QDateTime when = now();
    const auto refresh = [&](Sheet& s) {
        s.title =
            Sheet::deriveTitle(text, files::displayName(QFileInfo(s.path()).completeBaseName()));
        s.preview = Sheet::derivePreview(text);
        s.wordCount = wordsOf(text);
        s.modified = when;
    };
    bool inSheets = false;
    for (Sheet& s : m_sheets) {
        if (s.url == url) {
            refresh(s);
            inSheets = true;
            break;
        }
    }
    // A hit shows the sheet as it was when searched; after a write it shows
    // what is on disk now.
    bool inHits = false;
    for (SearchHit& h : m_searchHits) {
        if (h.sheet.url == url) {
            refresh(h.sheet);
            inHits = true;
            break;
        }
    }
    // Told once the call that wrote has returned: a write flushed by a
    // selection change comes before the new sheet's text is read, and the
    // views must not meet the new sheet with the old text.
    if (inSheets || inHits)
        QMetaObject::invokeMethod(
            this,
            [this, inSheets, inHits] {
                if (inSheets)
                    Q_EMIT sheetsChanged();
                if (inHits)
                    Q_EMIT searchHitsChanged();
            },
            Qt::QueuedConnection);
}

void LibraryStore::scheduleSave() {
    updateEntry(m_selectedSheetID, m_currentText);
    m_saveTimer.stop();
    const auto sheet = selectedSheet();
    m_pendingSave = SaveJob{sheet ? sheet->url : QUrl(), m_currentText};
    m_saveTimer.start();
}

void LibraryStore::runSave(const SaveJob& job, bool resort) {
    if (job.target.isEmpty())
        return;
    QUrl target = job.target;
    bool ok = writeSheet(target, job.text);
    // The group may have been renamed a moment ago, before the watcher said so.
    if (!ok) {
        const QFileInfo sheet(target.toLocalFile());
        if (const auto group = followMovedGroup(sheet.absolutePath())) {
            target = QUrl::fromLocalFile(*group + u'/' + sheet.fileName());
            ok = writeSheet(target, job.text);
        }
    }
    if (ok) {
        m_unsaved.remove(target);
        m_rescued.remove(target);
        recordSaved(target, job.text);
    } else {
        m_unsaved.insert(target, job.text);
    }
    setWriteFailed(m_unsaved.contains(m_selectedSheetID));
    Q_EMIT saved(target, ok);
    // Told only once the user's text is in the sheet, as the message says.
    if (ok && m_untold.contains(target))
        Q_EMIT changedOutside(m_untold.take(target));
    if (resort)
        QMetaObject::invokeMethod(this, &LibraryStore::resortSheets, Qt::QueuedConnection);
}

bool LibraryStore::writeSheet(const QUrl& url, const QString& text) {
    const QString path = url.toLocalFile();
    const QByteArray bytes = (m_crlf.contains(url) ? text::withCrLf(text) : text).toUtf8();
    const auto known = m_known.constFind(url);
    const auto last = m_seen.constFind(url);
    // The file as it was last read or written: nothing to read to know it.
    const bool untouched = known != m_known.constEnd() && !known->hash.isEmpty() &&
                           last != m_seen.constEnd() && last->node.isValid() && *last == seen(path);
    // A file this store never read is as good as changed by another
    // program: whatever it holds is kept beside, never written over unseen.
    const files::FileVersion neverRead;
    const files::FileVersion& was = known != m_known.constEnd() ? *known : neverRead;
    if (!untouched) {
        QByteArray theirs;
        const files::FileVersion onDisk = files::version(path, &theirs);
        if (!onDisk.exists) {
            if (was.exists && !m_untold.contains(url))
                m_untold.insert(url, ExternalChange{ExternalChange::Kind::Recreated, url, {}});
        } else if (onDisk.hash.isEmpty() && (!was.hash.isEmpty() || !was.exists)) {
            // Readable before, or never read, and unreadable now: what it
            // holds is unknown, so it is not replaced.
            return false;
        } else if (onDisk.hash != was.hash && onDisk.hash != files::contentHash(bytes)) {
            const QFileInfo info(path);
            const QString tag = u" (extern geändert "_s +
                                now().toLocalTime().toString(u"yyyy-MM-dd HHmmss"_s) + u')';
            QString name;
            bool kept = false;
            // Another program may take the free name first.
            for (int attempt = 0; attempt < 3 && !kept; ++attempt) {
                name = files::firstFreeName(info.absolutePath(), info.completeBaseName(),
                                            QStringLiteral("md"), tag);
                kept = files::writeNewAtomically(info.dir().filePath(name), theirs);
            }
            if (!kept)
                return false;
            // That version is safe now: a retry after a failed write below
            // must not keep it a second time.
            m_known.insert(url, onDisk);
            m_seen.remove(url);
            m_untold.insert(url, ExternalChange{ExternalChange::Kind::KeptBoth, url, name});
            m_watchTimer.start(m_options.watchDelayMs);
        }
    }
    if (!files::writeAtomically(path, bytes))
        return false;
    const Seen now = seen(path);
    files::FileVersion written = files::stamp(path);
    written.hash = files::contentHash(bytes);
    m_known.insert(url, written);
    m_seen.insert(url, now);
    if (const auto folder = selectedFolder();
        folder && QFileInfo(path).absolutePath() == folder->path())
        m_listed.insert(path, written);
    if (url == m_selectedSheetID) {
        // The new file is another file to the watcher.
        m_watcher.removePath(path);
        watchSelection();
    }
    return true;
}

void LibraryStore::flushPendingSave() {
    if (m_pendingSave) {
        m_saveTimer.stop();
        const SaveJob job = *std::exchange(m_pendingSave, std::nullopt);
        runSave(job);
    }
    // Writes that failed before are tried again, so a cause that went away
    // (a full disk, a read-only mount) costs no text. A write may find its
    // group renamed and move every waiting text along: each is tried by its
    // present name, once.
    QSet<QUrl> tried;
    for (;;) {
        const QList<QUrl> waiting = m_unsaved.keys();
        const auto next = std::find_if(waiting.begin(), waiting.end(),
                                       [&](const QUrl& url) { return !tried.contains(url); });
        if (next == waiting.end())
            break;
        tried.insert(*next);
        runSave(SaveJob{*next, m_unsaved.value(*next)});
    }
}

QList<LibraryStore::UnsavedText> LibraryStore::unsavedTexts() const {
    QList<UnsavedText> texts;
    for (auto it = m_unsaved.cbegin(); it != m_unsaved.cend(); ++it)
        texts.append(UnsavedText{it.key(), it.value()});
    return texts;
}

QString LibraryStore::rescueFolder() const {
    return m_options.rescueFolder.isEmpty() ? rescue::defaultFolder() : m_options.rescueFolder;
}

bool LibraryStore::rescueUnsaved() {
    flushPendingSave();
    bool kept = true;
    for (auto it = m_unsaved.cbegin(); it != m_unsaved.cend(); ++it) {
        const auto done = m_rescued.constFind(it.key());
        if (done != m_rescued.cend() && *done == it.value())
            continue;
        const QString name =
            Sheet::deriveTitle(it.value(), QFileInfo(it.key().toLocalFile()).completeBaseName());
        if (rescue::keep(rescueFolder(), name, it.value(), now()))
            m_rescued.insert(it.key(), it.value());
        else
            kept = false;
    }
    return kept;
}

void LibraryStore::abandonUnsaved() {
    m_unsaved.clear();
    m_rescued.clear();
    setWriteFailed(false);
}

void LibraryStore::resortSheets() {
    std::stable_sort(m_sheets.begin(), m_sheets.end(),
                     [](const Sheet& a, const Sheet& b) { return a.modified > b.modified; });
    Q_EMIT sheetsChanged();
}

// --- search ----------------------------------------------------------------

void LibraryStore::scheduleSearch() {
    m_searchTimer.stop();
    if (text::graphemeCount(m_searchText.trimmed()) < 2) {
        setSearchHits({});
        setSearching(false);
        return;
    }
    setSearching(true);
    m_searchTimer.start();
}

void LibraryStore::warmSearch() {
    m_searchEngine->useIndex(search::SearchIndex::pathFor(m_root),
                             SearchEngine::IndexWrites::Background);
    QList<QUrl> folders;
    for (const Folder& f : m_folders)
        if (f.kind != Folder::Kind::Trash)
            folders.append(f.url);
    m_searchEngine->warmIndex(folders);
}

void LibraryStore::runSearch() {
    flushPendingSave();
    const QString query = m_searchText;
    const SearchScope scope = m_searchScope;
    QList<QUrl> folders;
    if (scope == SearchScope::Library) {
        for (const Folder& f : m_folders)
            if (f.kind != Folder::Kind::Trash)
                folders.append(f.url);
    } else if (const auto folder = selectedFolder()) {
        folders.append(folder->url);
    }
    m_searchEngine->search(query, folders).then(this, [this, query, scope](QList<SearchHit> hits) {
        // A newer query or scope is on its way: this result is stale.
        if (m_searchText != query || m_searchScope != scope)
            return;
        setSearchHits(std::move(hits));
        setSearching(false);
    });
}

// --- operations ------------------------------------------------------------

std::optional<Sheet> LibraryStore::createSheet(const Template& from, const Folder& in,
                                               const QDateTime& date) {
    flushPendingSave();
    const auto path = library::createSheetFile(in.path(), date, from.render(date).toUtf8());
    if (!path)
        return std::nullopt;
    auto sheet = Sheet::load(*path);
    if (!sheet)
        return std::nullopt;
    sheet->modified = now();
    if (m_selectedFolderID != in.url)
        setSelectedFolderID(in.url);
    const bool listed = std::any_of(m_sheets.begin(), m_sheets.end(),
                                    [&](const Sheet& s) { return s.url == sheet->url; });
    if (!listed) {
        m_sheets.prepend(*sheet);
        Q_EMIT sheetsChanged();
        relistIfListing();
    }
    resortSheets();
    setSelectedSheetID(sheet->url);
    if (from.wantsDailyContext) {
        const QUrl url = sheet->url;
        QMetaObject::invokeMethod(
            this, [this, url] { fillDailyContext(url); }, Qt::QueuedConnection);
    }
    return sheet;
}

QList<library::Imported> LibraryStore::importFiles(const QStringList& paths, const Folder& into) {
    QList<library::Imported> results;
    if (into.kind == Folder::Kind::Trash)
        return results;
    flushPendingSave();
    QList<Sheet> brought;
    for (const QString& path : paths) {
        results.append(library::importFile(path, into.path()));
        if (results.last().ok())
            if (auto sheet = Sheet::load(results.last().path))
                brought.append(*sheet);
    }
    if (brought.isEmpty())
        return results;
    if (m_selectedFolderID != into.url)
        setSelectedFolderID(into.url);
    for (const Sheet& sheet : std::as_const(brought))
        if (std::none_of(m_sheets.begin(), m_sheets.end(),
                         [&](const Sheet& s) { return s.url == sheet.url; }))
            m_sheets.prepend(sheet);
    Q_EMIT sheetsChanged();
    relistIfListing();
    resortSheets();
    setSelectedSheetID(brought.last().url);
    return results;
}

std::optional<Folder> LibraryStore::templateTarget(const Template& from) const {
    if (auto preferred = folder(from.preferredKind))
        return preferred;
    if (auto selected = selectedFolder())
        return selected;
    if (!m_folders.isEmpty())
        return m_folders.first();
    return std::nullopt;
}

std::optional<Sheet> LibraryStore::createSheet(const Template& from) {
    const auto target = templateTarget(from);
    if (!target)
        return std::nullopt;
    return createSheet(from, *target, now());
}

std::optional<Sheet> LibraryStore::quickNewSheet() {
    std::optional<Folder> target = folder(Folder::Kind::Quick);
    if (!target)
        target = selectedFolder();
    if (!target)
        target = folder(Folder::Kind::Ideas);
    if (!target && !m_folders.isEmpty())
        target = m_folders.first();
    if (!target)
        return std::nullopt;
    return createSheet(Template::named(u"Schnelle Notiz"_s).value_or(Template::blank()), *target,
                       now());
}

std::optional<Sheet> LibraryStore::newSheetIn(const Folder& group) {
    if (group.kind == Folder::Kind::Trash)
        return std::nullopt;
    return createSheet(Template::named(u"Schnelle Notiz"_s).value_or(Template::blank()), group,
                       now());
}

std::optional<Sheet> LibraryStore::newDiaryEntry(const Template& from) {
    const auto diary = folder(Folder::Kind::Diary);
    if (!diary)
        return std::nullopt;
    return createSheet(from, *diary, now());
}

std::optional<Folder> LibraryStore::createFolder(const QString& named) {
    const QString name = text::trimmedHorizontal(named);
    // A typed name is one folder directly in the library, never a path.
    if (!files::isPlainName(name) || library::isReservedGroupName(name))
        return std::nullopt;
    const QString path = QDir(m_root).filePath(name);
    QDir().mkpath(path);
    reloadFolders();
    const QUrl url = QUrl::fromLocalFile(path);
    for (const Folder& f : m_folders) {
        if (f.url == url) {
            setSelectedFolderID(url);
            return f;
        }
    }
    return std::nullopt;
}

bool LibraryStore::isGroupFolder(const QString& path) const {
    const QFileInfo info(path);
    return info.absolutePath() == m_root && !info.fileName().startsWith(u'.') && info.isDir();
}

std::optional<QString> LibraryStore::moveSheet(const QUrl& sheet, const Folder& to) {
    const QString from = sheet.toLocalFile();
    const QFileInfo info(from);
    // Out of the trash a sheet goes by restoring, which keeps its record right.
    if (to.kind == Folder::Kind::Trash || !isGroupFolder(info.absolutePath()) ||
        !isGroupFolder(to.path()) || !library::isSheetFileName(info.fileName()))
        return std::nullopt;
    if (info.absolutePath() == to.path())
        return from;
    // The text typed last is in the file that moves, not written after it
    // to a name that is gone.
    flushPendingSave();
    const auto moved =
        files::moveToFreeName(from, to.path(), info.completeBaseName(), info.suffix());
    if (!moved)
        return std::nullopt;
    const QUrl target = QUrl::fromLocalFile(*moved);
    retarget([&](const QUrl& url) { return url == sheet ? target : url; });
    // A rename changes the file's change time, not what it holds.
    if (m_seen.contains(target))
        m_seen.insert(target, seen(*moved));
    m_listed.remove(*moved);
    const auto entry = std::find_if(m_sheets.cbegin(), m_sheets.cend(),
                                    [&](const Sheet& s) { return s.url == target; });
    std::optional<Sheet> listed;
    if (entry != m_sheets.cend())
        listed = *entry;
    if (m_selectedSheetID != sheet) {
        if (listed) {
            m_sheets.removeIf([&](const Sheet& s) { return s.url == target; });
            Q_EMIT sheetsChanged();
        }
        refreshListing();
        Q_EMIT searchHitsChanged();
        return moved;
    }
    // The open sheet goes on in its new group: the same text, nothing read
    // again, the group shown with it.
    if (!listed)
        listed = Sheet::load(*moved);
    m_selectedSheetID = target;
    Q_EMIT sheetMoved(sheet, target);
    const bool groupChanged = std::exchange(m_selectedFolderID, to.url) != to.url;
    m_selectFirst = false;
    m_listed.clear();
    if (listed) {
        listed->url = target;
        m_sheets = {*listed};
    } else {
        m_sheets.clear();
    }
    Q_EMIT sheetsChanged();
    Q_EMIT searchHitsChanged();
    if (groupChanged)
        Q_EMIT selectedFolderIDChanged();
    Q_EMIT selectedSheetIDChanged();
    startListing(false);
    watchSelection();
    return moved;
}

std::optional<Folder> LibraryStore::renameFolder(const Folder& group, const QString& named) {
    const QString name = text::trimmedHorizontal(named);
    const QString from = group.path();
    if (group.kind != Folder::Kind::Custom || !isGroupFolder(from))
        return std::nullopt;
    // A leading dot would hide the group, and its sheets with it.
    if (!files::isPlainName(name) || name.startsWith(u'.') || library::isReservedGroupName(name))
        return std::nullopt;
    const QString to = QDir(m_root).filePath(name);
    if (to != from) {
        flushPendingSave();
        if (files::moveNoReplace(from, to) != files::MoveResult::Moved)
            return std::nullopt;
        // Sheets trashed from the group go back to it under its new name.
        m_trash->renameOrigin(QFileInfo(from).fileName(), name);
        moveGroup(from, to);
    }
    const QUrl url = QUrl::fromLocalFile(to);
    for (const Folder& f : std::as_const(m_folders))
        if (f.url == url)
            return f;
    return std::nullopt;
}

LibraryStore::FolderDeletion LibraryStore::deleteFolder(const Folder& group) {
    FolderDeletion result;
    const QString path = group.path();
    if (group.kind != Folder::Kind::Custom || !isGroupFolder(path)) {
        result.refused = true;
        return result;
    }
    flushPendingSave();
    const QString name = QFileInfo(path).fileName();
    const QString prefix = path + u'/';
    if (m_selectedSheetID.toLocalFile().startsWith(prefix))
        setSelectedSheetID(QUrl());
    for (const QString& sheet : library::sheetFiles(path)) {
        if (const auto trashed = m_trash->move(sheet, name)) {
            result.trashed.append(*trashed);
            forget(QUrl::fromLocalFile(sheet));
        }
    }
    setWriteFailed(m_unsaved.contains(m_selectedSheetID));
    // Only an empty folder goes: what else lies there is not the trash's to take.
    if (QDir().rmdir(path)) {
        m_groupIds.remove(path);
    } else {
        result.left = QDir(path).entryList(
            QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
        if (result.left.isEmpty())
            result.left.append(name);
    }
    reloadFolders();
    if (m_selectedFolderID == group.url && !result.left.isEmpty()) {
        m_sheets.clear();
        Q_EMIT sheetsChanged();
        reloadSheets();
    } else if (m_selectedFolderID == group.url && !m_folders.isEmpty()) {
        setSelectedFolderID(m_folders.first().url);
    }
    return result;
}

void LibraryStore::deleteSheet(const Sheet& sheet) {
    flushPendingSave();
    const QString path = sheet.path();
    // Only what lies in the trash goes for good; a hit from another group,
    // shown in the trash view by a library-wide search, goes into the trash.
    if (QFileInfo(path).absolutePath() == QFileInfo(m_trash->path()).absoluteFilePath())
        m_trash->deleteForever(path);
    else
        m_trash->move(path, QFileInfo(path).dir().dirName());
    // A write still waiting for this sheet would bring the deleted file back.
    forget(sheet.url);
    setWriteFailed(m_unsaved.contains(m_selectedSheetID));
    removeFromList(sheet);
}

void LibraryStore::removeFromList(const Sheet& sheet) {
    const qsizetype removed = m_sheets.removeIf([&](const Sheet& s) { return s.url == sheet.url; });
    if (removed > 0) {
        Q_EMIT sheetsChanged();
        relistIfListing();
    }
    if (m_selectedSheetID == sheet.url)
        setSelectedSheetID(m_sheets.isEmpty() ? QUrl() : m_sheets.first().url);
}

bool LibraryStore::restore(const Sheet& sheet) {
    if (!isInTrash(sheet.url))
        return false;
    flushPendingSave();
    const auto restored = m_trash->restore(sheet.path(), m_root);
    if (!restored)
        return false;
    // A text still waiting to be written goes with the sheet: written into
    // the trash it would bring the sheet back there.
    const QUrl to = QUrl::fromLocalFile(*restored);
    const auto kept = m_unsaved.constFind(sheet.url);
    if (kept != m_unsaved.constEnd()) {
        m_unsaved.insert(to, *kept);
        if (const auto known = m_known.constFind(sheet.url); known != m_known.constEnd())
            m_known.insert(to, *known);
        if (m_crlf.contains(sheet.url))
            m_crlf.insert(to);
    }
    forget(sheet.url);
    setWriteFailed(m_unsaved.contains(m_selectedSheetID));
    removeFromList(sheet);
    reloadFolders();
    return true;
}

bool LibraryStore::resolveConflict(const QUrl& copy, ConflictChoice choice) {
    const QString copyPath = copy.toLocalFile();
    const QFileInfo info(copyPath);
    const auto name = library::parseConflictName(info.fileName());
    if (!name || !isGroupFolder(info.absolutePath()) || !info.isFile())
        return false;
    const QString sheetPath = info.dir().filePath(name->originalName);
    const QUrl sheet = QUrl::fromLocalFile(sheetPath);
    // What goes into the trash is what the writer saw, and the copy
    // taken holds the last edits made to it.
    flushPendingSave();
    // A text that could not be written would still land on the result later.
    if (m_unsaved.contains(copy) || m_unsaved.contains(sheet))
        return false;
    const QString group = info.dir().dirName();
    if (choice == ConflictChoice::KeepOriginal) {
        if (!QFileInfo(sheetPath).isFile() || !m_trash->move(copyPath, group))
            return false;
    } else {
        if (!m_trash->replaceWithCopy(sheetPath, copyPath, group))
            return false;
        // The sheet's file is another one now; nothing known of the old holds.
        forget(sheet);
    }
    forget(copy);
    m_listed.remove(copyPath);
    m_listed.remove(sheetPath);
    bool changed = m_sheets.removeIf([&](const Sheet& s) { return s.url == copy; }) > 0;
    if (const auto shown = selectedFolder(); shown && shown->path() == info.absolutePath()) {
        if (const auto entry = Sheet::load(sheetPath)) {
            m_sheets.removeIf([&](const Sheet& s) { return s.url == sheet; });
            m_sheets.append(*entry);
            changed = true;
        }
    }
    if (changed) {
        resortSheets();
        relistIfListing();
    }
    if (m_searchHits.removeIf([&](const SearchHit& h) { return h.sheet.url == copy; }) > 0)
        Q_EMIT searchHitsChanged();
    if (m_selectedSheetID == copy) {
        const bool listed = std::any_of(m_sheets.cbegin(), m_sheets.cend(),
                                        [&](const Sheet& s) { return s.url == sheet; }) ||
                            std::any_of(m_searchHits.cbegin(), m_searchHits.cend(),
                                        [&](const SearchHit& h) { return h.sheet.url == sheet; });
        setSelectedSheetID(listed ? sheet : QUrl());
    } else if (m_selectedSheetID == sheet && choice == ConflictChoice::TakeCopy) {
        loadCurrentSheet();
    }
    if (!m_searchHits.isEmpty())
        scheduleSearch();
    return true;
}

void LibraryStore::emptyTrash() {
    flushPendingSave();
    m_trash->empty();
    // Nothing waiting for a sheet that was in the trash is written any more.
    QSet<QUrl> trashed;
    for (const QUrl& url : m_unsaved.keys() + m_known.keys() + m_untold.keys() + m_crlf.values())
        if (isInTrash(url))
            trashed.insert(url);
    for (const QUrl& url : trashed)
        forget(url);
    setWriteFailed(m_unsaved.contains(m_selectedSheetID));
    if (isViewingTrash()) {
        setSheets({});
        relistIfListing();
        setSelectedSheetID(QUrl());
        setLoadedText(QString());
    }
}

void LibraryStore::backupNow() {
    flushPendingSave();
    m_backups->runIfNeeded();
}

QFuture<QString> LibraryStore::backupsFolder() {
    return QtConcurrent::run(handedOver([location = m_backups->location()] {
        QDir().mkpath(location);
        return location;
    }));
}

void LibraryStore::fillDailyContext(const QUrl& url) {
    m_options.dailyContext().then(this, [this, url](const QString& fetched) {
        const QString block = fetched.isEmpty() ? dailytext::fallbackBlock() : fetched;
        const bool fromEditor = m_selectedSheetID == url;
        // Shown, but its text not there yet: what the editor will get is left.
        if (fromEditor && m_reading) {
            Q_EMIT dailyContextDone(url);
            return;
        }
        std::optional<QString> sheetText;
        files::FileVersion read;
        if (fromEditor) {
            sheetText = m_currentText;
        } else if (const auto kept = m_unsaved.constFind(url); kept != m_unsaved.constEnd()) {
            // The text that could not be written is newer than the file.
            sheetText = *kept;
        } else {
            QByteArray bytes;
            read = files::version(url.toLocalFile(), &bytes);
            if (read.exists && !read.hash.isEmpty())
                if (const auto decoded = text::decodeUtf8(bytes))
                    sheetText = adoptLineEnds(url, *decoded);
        }
        const QString loading = dailytext::loadingBlock();
        if (!sheetText || !sheetText->contains(loading)) {
            Q_EMIT dailyContextDone(url);
            return;
        }
        QString replaced = *sheetText;
        replaced.replace(loading, block);
        if (fromEditor) {
            // The new text holds every edit; it is written below.
            m_saveTimer.stop();
            m_pendingSave.reset();
            setLoadedText(replaced);
            updateEntry(url, replaced);
        }
        // The text just read is the base of this write, not one read earlier.
        if (!fromEditor && !m_unsaved.contains(url)) {
            m_known.insert(url, read);
            m_seen.remove(url);
        }
        // The entry keeps its place in the list until the next edit is written.
        runSave(SaveJob{url, replaced}, false);
        Q_EMIT dailyContextDone(url);
    });
}

} // namespace orvik
