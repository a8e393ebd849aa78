#include "searchengine.h"

#include "fold.h"
#include "library/library.h"
#include "platform/files.h"
#include "platform/handover.h"
#include "platform/text.h"
#include "searchindex.h"
#include "snippet.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QMutex>
#include <QThread>
#include <QtConcurrentMap>
#include <QtConcurrentRun>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <limits>
#include <numeric>
#include <utility>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sched.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#if defined(__SANITIZE_THREAD__)
#include <sanitizer/tsan_interface.h>
#endif

namespace orvik {

QString rawValue(SearchScope scope) {
    switch (scope) {
    case SearchScope::Group:
        return QStringLiteral("group");
    case SearchScope::Library:
        return QStringLiteral("library");
    }
    return {};
}

std::optional<SearchScope> searchScopeFromRawValue(const QString& raw) {
    if (raw == u"group")
        return SearchScope::Group;
    if (raw == u"library")
        return SearchScope::Library;
    return std::nullopt;
}

namespace {

constexpr int maxCount = 100;

// Modification dates are kept as milliseconds since the epoch, the precision
// QFileInfo reports, so that a date restored through Qt compares equal.
using Stamp = qint64;
constexpr Stamp noDate = std::numeric_limits<Stamp>::min();

QDateTime dateOf(Stamp stamp) {
    return stamp == noDate ? distantPast() : QDateTime::fromMSecsSinceEpoch(stamp);
}

// What identifies the content of a file as of one read: any write changes the
// inode's change time, even when the modification date is set back.
using FileIdentity = std::array<qint64, 7>;

FileIdentity identityOf(const struct stat& st) {
    return {qint64(st.st_dev),         qint64(st.st_ino),          qint64(st.st_size),
            qint64(st.st_mtim.tv_sec), qint64(st.st_mtim.tv_nsec), qint64(st.st_ctim.tv_sec),
            qint64(st.st_ctim.tv_nsec)};
}

// What the cache keeps of one file: the text as UTF-8 (never as UTF-16, which
// would double it), its folded form for matching, and the sheet data once the
// file has been a hit.
struct Entry {
    Stamp modified = noDate;
    QByteArray text;           // byte order mark removed; valid unless textPending
    search::FoldedText folded; // valid unless foldPending
    bool foldPending = false;  // read by a search, folded after its answer
    // Read by a search into memory it reused, kept after its answer; until
    // then, `identity` tells whether the file still has the bytes it read.
    bool textPending = false;
    FileIdentity identity{};
    std::optional<Sheet> sheet;
};
using EntryPtr = std::shared_ptr<Entry>;
// The cached files of one folder by file name as on disk, sorted by name like
// a listing, so that the two are matched in one pass without hashing.
using FolderEntries = std::vector<std::pair<QByteArray, EntryPtr>>;

// The sheet file names of a folder as of one listing, with what identifies
// the folder's state then. Creating, removing or renaming an entry changes the
// folder's modification time, so an unchanged identity means an unchanged
// listing; changes to the files themselves are caught by their own dates.
struct FolderListing {
    using Identity = std::array<qint64, 6>; // device, inode, mtime, ctime (s and ns)
    Identity identity{};
    QList<QByteArray> names;

    static Identity identityOf(const struct stat& st) {
        return {qint64(st.st_dev),          qint64(st.st_ino),         qint64(st.st_mtim.tv_sec),
                qint64(st.st_mtim.tv_nsec), qint64(st.st_ctim.tv_sec), qint64(st.st_ctim.tv_nsec)};
    }
    // File systems stamp changes with a coarse clock: a folder changed within
    // the last seconds may change again without a new time, so its listing is
    // not kept. (The reasoning behind racy entries in version control.)
    static bool settled(const struct stat& st) {
        timespec now;
        ::clock_gettime(CLOCK_REALTIME, &now);
        return now.tv_sec - st.st_mtim.tv_sec > 2 && now.tv_sec - st.st_ctim.tv_sec > 2;
    }
};

// A group folder held open for the length of one search. Listing, stat and
// open go through plain system calls relative to it: with thousands of files
// per search, QDir, QFileInfo and QFile cost more than the work they wrap.
struct OpenFolder {
    QString path;
    int fd = -1;
    QList<QByteArray> names; // its sheet files, see list()
    enum class Listed { Afresh, Keep, Reused } listed = Listed::Afresh;
    FolderListing listing;                 // with Keep: to be kept for later searches
    const FolderEntries* cached = nullptr; // read-only until the workers are done
    search::SearchIndex::Range indexed;    // its records in the index

    explicit OpenFolder(const QString& folder)
        : path(folder.endsWith(u'/') ? folder.chopped(1) : folder),
          fd(::open(files::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {}
    ~OpenFolder() {
        if (fd >= 0)
            ::close(fd);
    }
    OpenFolder(const OpenFolder&) = delete;
    OpenFolder& operator=(const OpenFolder&) = delete;

    QString filePath(const QByteArray& name) const { return path + u'/' + files::decodeName(name); }

    static Stamp stampOf(const struct stat& st) {
        return Stamp(st.st_mtim.tv_sec) * 1000 + st.st_mtim.tv_nsec / 1000000;
    }

    Stamp modificationStamp(const char* name) const {
        struct stat st;
        return ::fstatat(fd, name, &st, 0) == 0 ? stampOf(st) : noDate;
    }

    // Reads a whole file opened with O_NONBLOCK, so that a FIFO named like a
    // sheet cannot hang the search, into `bytes` and gives its status, taken
    // from the open file so that a file without a cache entry costs no extra
    // stat; anything but a regular file counts as unreadable. `bytes` keeps
    // its capacity when it has room: a buffer reused from file to file costs
    // no fresh memory. Closes the file.
    static bool readFile(const int file, QByteArray& bytes, struct stat& st) {
        if (file < 0)
            return false;
        if (::fstat(file, &st) != 0 || !S_ISREG(st.st_mode)) {
            ::close(file);
            return false;
        }
        return readOpened(file, bytes, st);
    }

    // The same for a regular file whose status `st` was just taken.
    static bool readOpened(const int file, QByteArray& bytes, const struct stat& st) {
        // One byte more than announced, so that a file that grew meanwhile
        // shows. A new buffer is sized by the constructor: resize() would
        // round the capacity up, and a cached text would keep that.
        const qsizetype expected = qsizetype(st.st_size) + 1;
        if (bytes.capacity() >= expected && bytes.isDetached())
            bytes.resize(expected);
        else
            bytes = QByteArray(expected, Qt::Uninitialized);
        qsizetype filled = 0;
        for (;;) {
            if (filled == bytes.size())
                bytes.resize(bytes.size() * 2);
            const auto wanted = size_t(bytes.size() - filled);
            const ssize_t got = ::read(file, bytes.data() + filled, wanted);
            if (got < 0 && errno == EINTR)
                continue;
            if (got < 0) {
                ::close(file);
                return false;
            }
            filled += got;
            // A regular file reads short only at its end; no need to ask again.
            if (got == 0 || size_t(got) < wanted) {
                ::close(file);
                bytes.truncate(filled);
                return true;
            }
        }
    }

    // The sheet files directly inside (search::sheetNames()). `previous` is
    // the listing of an earlier search, reused when the folder provably has
    // not changed since.
    void list(const FolderListing* previous) {
        struct stat st;
        if (fd < 0 || ::fstat(fd, &st) != 0)
            return;
        if (previous && previous->identity == FolderListing::identityOf(st)) {
            names = previous->names;
            listed = Listed::Reused;
            return;
        }
        bool stable = false;
        names = search::sheetNames(fd, stable);
        if (stable && FolderListing::settled(st)) {
            listing = {FolderListing::identityOf(st), names};
            listed = Listed::Keep;
        }
    }
};

constexpr QByteArrayView byteOrderMark("\xEF\xBB\xBF");

// One sheet file of one search, filled in on a worker thread.
struct Candidate {
    const OpenFolder* folder = nullptr;
    const QByteArray* name = nullptr; // in folder->names
    const EntryPtr* cached = nullptr; // the cache's entry for the file, if any
    EntryPtr entry;                   // the cached one if still valid, or freshly read
    bool fresh = false;               // read in this search; goes into the cache
    bool deferred = false;            // fresh, its text still to be kept
    bool unreadable = false;          // leaves the cache
    bool newSheet = false;            // hit.sheet was computed now; goes into the cache
    bool uncached = false;            // too large to keep: read in pieces, no entry
    Stamp streamed = noDate;          // its date then
    const search::SearchIndex::Record* indexed = nullptr; // its record, if any
    bool fromIndex = false;                               // answered from the index: no cache entry
    SearchHit hit;                                        // count 0: no occurrence
};

// Where a piece of a file searched in pieces starts, in the text (without a
// byte order mark) and in its folded form.
struct PieceStart {
    qint64 original;
    qint64 folded;
};

// The end of a piece cut from `bytes`: before its last ASCII character near
// the end, so that no character is cut and no mark is parted from the
// letter it belongs to; else after the last whole character.
qsizetype pieceEnd(QByteArrayView bytes) {
    for (qsizetype i = bytes.size() - 1; i > 0 && i >= bytes.size() - 256; --i)
        if (static_cast<unsigned char>(bytes[i]) < 0x80)
            return i;
    return files::utf8CompletePrefix(bytes);
}

bool readAt(int file, QByteArray& into, qint64 offset) {
    for (qsizetype filled = 0; filled < into.size();) {
        const ssize_t got =
            ::pread(file, into.data() + filled, size_t(into.size() - filled), offset + filled);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        filled += got;
    }
    return true;
}

// Bytes of context read around the occurrence in a file searched in pieces:
// far more than the snippet's characters take.
constexpr qint64 snippetReach = 16 * 1024;

// Bytes of the original restored around an occurrence in an indexed text:
// an eighth is enough for a snippet of simple characters, the whole for the
// walk by grapheme boundaries in nearly every text; the snippet's walk says
// when not.
constexpr qsizetype restoreReach = 2048 + 64;

// A needle no folded text holds (no UTF-8 has these bytes): a search for it
// visits every sheet and finds nothing.
const QByteArray nowhere("\xFF\xFF");

} // namespace

struct SearchEngine::Cache {
    // By folder path, then file name: together the file's path.
    QHash<QString, FolderEntries> entries;
    QHash<QString, FolderListing> listings;
    // Texts the last search read, whose folded form fill() adds after the answer.
    std::vector<EntryPtr> toFold;
    // Files the last search read without keeping their texts, for fill() to
    // read again.
    struct Unkept {
        EntryPtr entry;
        QString folder;
        QByteArray name;
    };
    std::vector<Unkept> toRead;
    // Held by search() and fill(): a caller waiting for a result may run a
    // queued task on its own thread, beside the executor.
    QMutex lock;
    // Set when the engine goes: a fill still waiting has no one to serve.
    std::atomic<bool> closing = false;
    // Reading, folding and matching thousands of files is spread over these;
    // the serialized executor waits meanwhile, so searches stay one at a time.
    QThreadPool workers;

    // The index on disk, if used: as mapped by the last search, whether that
    // found it out of date, and the folders searched so far (for the next
    // writing).
    QString indexPath;
    SearchEngine::IndexWrites indexWrites = SearchEngine::IndexWrites::Background;
    std::shared_ptr<const search::SearchIndex> index;
    std::vector<std::optional<Sheet>> indexSheets; // by record, once a hit
    bool indexStale = false;
    QStringList indexFolders;
    // Writes the index after a search, never delaying one.
    QThreadPool writer;
    std::atomic<bool> writing = false;

    Cache() {
        workers.setMaxThreadCount(QThread::idealThreadCount());
        writer.setMaxThreadCount(1);
    }
    ~Cache() {
        closing = true;
        writer.waitForDone();
    }

    QList<SearchHit> search(const QString& query, const QList<QUrl>& folders);
    QList<SearchHit> run(const search::PhraseFinder& finder, const QList<QUrl>& folders);
    void fill();
    void foldPending(); // with the lock held
    void refreshIndex();
    void writeIndexInBackground();
    Limits limits;

    // `sheets`: the sheet data of the index's hits so far, by record.
    static void examine(Candidate& c, const search::PhraseFinder& finder, bool deferTexts,
                        const Limits& limits, const search::SearchIndex* index,
                        std::optional<Sheet>* sheets);
    static bool examineIndexed(Candidate& c, const search::PhraseFinder& finder,
                               const search::SearchIndex& index, const struct stat& st,
                               std::optional<Sheet>& sheet);
    static void examineInPieces(Candidate& c, const search::PhraseFinder& finder, int file,
                                const struct stat& st, const Limits& limits);

    // Below a few dozen items the hand-off costs more than it saves, unless
    // each item is much work of its own.
    template <typename Sequence, typename Fn>
    void forEach(Sequence& items, Fn&& fn, size_t worthSharing = 32) {
        if (size_t(items.size()) < worthSharing) {
            std::for_each(items.begin(), items.end(), fn);
            return;
        }
#if defined(__SANITIZE_THREAD__)
        // The pool hands the items over and back inside Qt, which ThreadSanitizer
        // cannot see into; tell it, or every item reads as a data race.
        __tsan_release(&items);
        QtConcurrent::blockingMap(&workers, items, [&](auto& item) {
            __tsan_acquire(&items);
            fn(item);
            __tsan_release(&items);
        });
        __tsan_acquire(&items);
#else
        QtConcurrent::blockingMap(&workers, items, fn);
#endif
    }
};

void SearchEngine::Cache::examineInPieces(Candidate& c, const search::PhraseFinder& finder,
                                          int file, const struct stat& st, const Limits& limits) {
    thread_local search::FoldedText folded;
    thread_local QByteArray window;
    SheetReader reader;
    std::vector<PieceStart> starts;
    QByteArray buffer(qsizetype(std::clamp<qint64>(st.st_size, 1, limits.pieceBytes)),
                      Qt::Uninitialized);
    QByteArray pending;
    qint64 bom = -1; // unknown until the first bytes are in
    qint64 original = 0;
    qint64 foldedTotal = 0;
    qint64 nextAllowed = 0;
    qint64 firstFolded = -1;
    int count = 0;
    const qsizetype overlap = finder.size() - 1;
    // Folds a piece and finds the occurrences that end in it: the end of the
    // folded text before is searched along, for those that start there.
    const auto scan = [&](QByteArrayView piece) {
        if (piece.isEmpty())
            return true;
        if (!search::foldUtf8Into(piece, folded))
            return false;
        starts.push_back({original, foldedTotal});
        const qsizetype tail = std::min<qsizetype>(overlap, window.size());
        window = window.right(tail);
        window += folded.bytes;
        const qint64 windowStart = foldedTotal - tail;
        for (qsizetype from = qsizetype(std::max<qint64>(0, nextAllowed - windowStart));
             count < maxCount;) {
            const qsizetype at = finder.indexIn(window, from);
            if (at < 0)
                break;
            if (count++ == 0)
                firstFolded = windowStart + at;
            from = at + finder.size();
            nextAllowed = windowStart + from;
        }
        foldedTotal += folded.bytes.size();
        original += piece.size();
        return true;
    };
    bool ok = true;
    for (qint64 left = st.st_size; ok;) {
        ssize_t got = 0;
        if (left > 0) {
            got = ::read(file, buffer.data(), size_t(std::min<qint64>(buffer.size(), left)));
            if (got < 0 && errno == EINTR)
                continue;
            if (got < 0) {
                ok = false;
                break;
            }
            left -= got;
        }
        const bool last = got == 0;
        const QByteArrayView raw(buffer.constData(), got);
        ok = reader.add(raw);
        pending += raw;
        if (bom < 0 && (pending.size() >= byteOrderMark.size() || last)) {
            bom = pending.startsWith(byteOrderMark) ? byteOrderMark.size() : 0;
            pending.remove(0, bom);
        }
        if (bom < 0)
            continue;
        const qsizetype cut = last ? pending.size() : pieceEnd(pending);
        ok = ok && scan(QByteArrayView(pending).first(cut));
        pending.remove(0, cut);
        if (last)
            break;
    }
    window.clear();
    const Stamp modified = OpenFolder::stampOf(st);
    const auto sheet =
        ok ? reader.finish(c.folder->filePath(*c.name), dateOf(modified)) : std::nullopt;
    if (!sheet) {
        c.unreadable = true;
        return;
    }
    c.uncached = true;
    c.streamed = modified;
    if (count == 0)
        return;

    // The occurrence's place in the text, by folding the piece it lies in
    // once more.
    const auto locate = [&](qint64 at, bool isEnd) -> std::optional<qint64> {
        auto it = std::upper_bound(starts.begin(), starts.end(), at,
                                   [isEnd](qint64 v, const PieceStart& p) {
                                       return isEnd ? v <= p.folded : v < p.folded;
                                   });
        --it;
        const qint64 end = std::next(it) == starts.end() ? original : std::next(it)->original;
        QByteArray bytes(qsizetype(end - it->original), Qt::Uninitialized);
        if (!readAt(file, bytes, bom + it->original) || !search::foldUtf8Into(bytes, folded))
            return std::nullopt;
        const qsizetype inPiece = qsizetype(at - it->folded);
        return it->original + (isEnd ? search::originalEnd(folded, bytes, inPiece)
                                     : search::originalStart(folded, bytes, inPiece));
    };
    const auto begin = locate(firstFolded, false);
    const auto end = locate(firstFolded + finder.size(), true);
    if (!begin || !end) {
        c.unreadable = true;
        return;
    }
    qint64 from = std::max<qint64>(0, *begin - snippetReach);
    qint64 to = std::min(original, *end + snippetReach);
    QByteArray around(qsizetype(to - from), Qt::Uninitialized);
    if (!readAt(file, around, bom + from)) {
        c.unreadable = true;
        return;
    }
    // Whole characters only.
    qsizetype lead = 0;
    while (lead < around.size() && (static_cast<unsigned char>(around[lead]) & 0xC0) == 0x80)
        ++lead;
    const qsizetype kept =
        to == original ? around.size() : lead + pieceEnd(QByteArrayView(around).sliced(lead));
    const qsizetype dropped = around.size() - kept;
    c.hit.sheet = *sheet;
    c.hit.sheet.matched = true;
    c.hit.snippet = search::snippetAround(
        QByteArrayView(around).sliced(lead, kept - lead), qsizetype(*begin - from) - lead,
        qsizetype(*end - from) - lead, from + lead > 0, to - dropped < original);
    c.hit.count = count;
}

bool SearchEngine::Cache::examineIndexed(Candidate& c, const search::PhraseFinder& finder,
                                         const search::SearchIndex& index, const struct stat& st,
                                         std::optional<Sheet>& sheet) {
    const auto& record = *c.indexed;
    c.fromIndex = true;
    c.streamed = OpenFolder::stampOf(st);
    if (index.unreadable(record)) {
        c.unreadable = true;
        return true;
    }
    const QByteArrayView folded = index.folded(record);
    const qsizetype first = finder.indexIn(folded, 0);
    if (first < 0)
        return true;
    int count = 1;
    for (qsizetype at = first + finder.size(); count < maxCount; ++count) {
        const qsizetype next = finder.indexIn(folded, at);
        if (next < 0)
            break;
        at = next + finder.size();
    }

    // The original around the occurrence, restored and folded once more
    // for the offsets the snippet takes; the whole text only when that
    // stretch does not tell.
    const QByteArrayView exceptions = index.exceptions(record);
    const qsizetype size = index.originalSize(record);
    std::array<qsizetype, 2> around{first, first + finder.size() - 1};
    if (!search::originalOffsetsOf(folded, exceptions, around))
        return false;
    const auto [at, last] = around;
    thread_local QByteArray window;
    thread_local search::FoldedText refolded;
    std::optional<QString> snippet;
    for (const qsizetype reach : {restoreReach / 8, restoreReach, size}) {
        const qsizetype from = std::max<qsizetype>(0, at - reach);
        const qsizetype to = std::min(size, last + 4 + reach);
        qsizetype foldedFrom = 0;
        window.clear();
        if (!search::restoreOriginal(folded, exceptions, from, to, window, &foldedFrom) ||
            foldedFrom > first || !search::foldUtf8Into(window, refolded))
            return false;
        const qsizetype begin = search::originalStart(refolded, window, first - foldedFrom);
        const qsizetype end =
            search::originalEnd(refolded, window, first + finder.size() - foldedFrom);
        snippet = search::snippetInWindow(window, begin, end, from > 0, to < size);
        if (snippet)
            break;
    }
    if (!snippet)
        return false;
    if (!sheet) {
        sheet.emplace();
        sheet->url = QUrl::fromLocalFile(c.folder->filePath(*c.name));
        sheet->title = QString::fromUtf8(index.title(record));
        sheet->preview = QString::fromUtf8(index.preview(record));
        sheet->wordCount = index.wordCount(record);
        sheet->modified = dateOf(c.streamed);
    }
    c.hit.sheet = *sheet;
    c.hit.sheet.matched = true;
    c.hit.snippet = std::move(*snippet);
    c.hit.count = count;
    return true;
}

void SearchEngine::Cache::examine(Candidate& c, const search::PhraseFinder& finder, bool deferTexts,
                                  const Limits& limits, const search::SearchIndex* index,
                                  std::optional<Sheet>* sheets) {
    const OpenFolder& folder = *c.folder;
    const char* name = c.name->constData();
    // A file whose identity matches its record is not opened at all.
    if (c.indexed) {
        struct stat st;
        if (::fstatat(folder.fd, name, &st, 0) == 0 && S_ISREG(st.st_mode) &&
            index->matches(*c.indexed, search::identityOf(st))) {
            if (index->streamed(*c.indexed)) {
                const int file = ::openat(folder.fd, name, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
                struct stat opened;
                if (file >= 0 && ::fstat(file, &opened) == 0 &&
                    search::identityOf(opened) == search::identityOf(st)) {
                    examineInPieces(c, finder, file, opened, limits);
                    ::close(file);
                    c.fromIndex = true;
                    c.streamed = OpenFolder::stampOf(opened);
                    return;
                }
                if (file >= 0)
                    ::close(file);
            } else if (index->intact(*c.indexed) &&
                       examineIndexed(c, finder, *index, st,
                                      sheets[size_t(index->recordNumber(*c.indexed))])) {
                return;
            }
            // Damaged: read afresh, and the index is written anew.
            c.hit = {};
            c.fromIndex = false;
            c.unreadable = false;
        }
    }
    const search::FoldedText* folded = nullptr;
    // The folded form of a text read now goes into the cache only after the
    // answer: the search folds into a buffer this worker reuses, since the
    // fresh memory for a second copy of every text would cost the first search
    // more than folding and matching do. A search reading most of a library
    // keeps even the texts only after its answer, for the same reason: they
    // are read into a buffer reused here, and once more by fill().
    thread_local search::FoldedText scratch;
    thread_local QByteArray reused;
    QByteArrayView text;
    if (c.cached && !(*c.cached)->textPending &&
        (*c.cached)->modified == folder.modificationStamp(name)) {
        c.entry = *c.cached;
        folded = &c.entry->folded;
        // Left unfolded by a fill that was cut short; shared, so not changed here.
        if (c.entry->foldPending) {
            if (!search::foldUtf8Into(c.entry->text, scratch)) {
                c.unreadable = true;
                return;
            }
            folded = &scratch;
            c.fresh = true;
        }
    } else {
        struct stat st;
        const int file = ::openat(folder.fd, name, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        if (file < 0 || ::fstat(file, &st) != 0 || !S_ISREG(st.st_mode)) {
            if (file >= 0)
                ::close(file);
            c.unreadable = true;
            return;
        }
        if (st.st_size > limits.holdBytes) {
            examineInPieces(c, finder, file, st, limits);
            ::close(file);
            return;
        }
        auto entry = std::make_shared<Entry>();
        entry->foldPending = true;
        QByteArray& bytes = deferTexts ? reused : entry->text;
        if (!OpenFolder::readOpened(file, bytes, st)) {
            c.unreadable = true;
            return;
        }
        entry->modified = OpenFolder::stampOf(st);
        if (deferTexts) {
            entry->textPending = true;
            entry->identity = identityOf(st);
            text = bytes;
            if (text.startsWith(byteOrderMark))
                text = text.sliced(byteOrderMark.size());
        } else if (bytes.startsWith(byteOrderMark)) {
            bytes.remove(0, byteOrderMark.size());
        }
        const QByteArrayView original = deferTexts ? text : QByteArrayView(bytes);
        // Most texts lack a rare word: told apart without folding them.
        const auto presence = finder.presenceIn(original);
        if (presence == search::PhraseFinder::Presence::Invalid ||
            (presence == search::PhraseFinder::Presence::Possible &&
             !search::foldUtf8Into(original, scratch))) {
            c.unreadable = true;
            return;
        }
        c.entry = std::move(entry);
        c.fresh = true;
        c.deferred = deferTexts;
        if (presence == search::PhraseFinder::Presence::Absent)
            return;
        folded = &scratch;
    }
    const Entry& e = *c.entry;
    if (!c.deferred)
        text = e.text;

    const QByteArrayView haystack(folded->bytes);
    const qsizetype first = finder.indexIn(haystack, 0);
    if (first < 0)
        return;
    int count = 1;
    for (qsizetype at = first + finder.size(); count < maxCount; ++count) {
        const qsizetype next = finder.indexIn(haystack, at);
        if (next < 0)
            break;
        at = next + finder.size();
    }

    c.newSheet = !e.sheet;
    c.hit.sheet = e.sheet
                      ? *e.sheet
                      : Sheet::fromValidUtf8(folder.filePath(*c.name), text, dateOf(e.modified));
    c.hit.sheet.matched = true;
    const qsizetype begin = search::originalStart(*folded, text, first);
    const qsizetype end = search::originalEnd(*folded, text, first + finder.size());
    c.hit.snippet = search::snippetAround(text, begin, end);
    c.hit.count = count;
}

QList<SearchHit> SearchEngine::Cache::search(const QString& query, const QList<QUrl>& folders) {
    const QString trimmed = query.trimmed();
    if (text::graphemeCount(trimmed) < 2)
        return {};
    // A query of nothing but marks folds to nothing and would match anywhere.
    const search::PhraseFinder finder(search::foldQuery(trimmed));
    if (finder.size() == 0)
        return {};
    return run(finder, folders);
}

void SearchEngine::Cache::refreshIndex() {
    if (indexPath.isEmpty())
        return;
    struct stat st;
    if (::stat(files::encodeName(indexPath).constData(), &st) != 0) {
        index.reset();
        indexSheets.clear();
        return;
    }
    if (!index || index->fileIdentity() != search::identityOf(st)) {
        index = search::SearchIndex::open(indexPath);
        indexSheets.assign(index ? size_t(index->recordCount()) : 0, std::nullopt);
    }
}

void SearchEngine::Cache::writeIndexInBackground() {
    if (writing.exchange(true))
        return;
    writer.start(handedOver([this, path = indexPath, folders = indexFolders, previous = index,
                             hold = limits.holdBytes] {
        QThread::currentThread()->setPriority(QThread::IdlePriority);
        const int lock = search::SearchIndex::tryLockForWriting(path);
        if (lock >= 0) {
            search::SearchIndex::write(path, folders, previous.get(), hold, &closing);
            ::close(lock);
        }
        writing = false;
    }));
}

QList<SearchHit> SearchEngine::Cache::run(const search::PhraseFinder& finder,
                                          const QList<QUrl>& folders) {
    // The fill after the previous search may not have run yet: the pool does
    // not promise to keep the order of its tasks.
    const QMutexLocker locker(&lock);
    foldPending();
    refreshIndex();

    std::vector<std::unique_ptr<OpenFolder>> open;
    for (const QUrl& url : folders) {
        if (!url.isLocalFile())
            continue;
        auto& folder = *open.emplace_back(
            std::make_unique<OpenFolder>(QDir::cleanPath(QDir(url.toLocalFile()).absolutePath())));
        if (const auto it = entries.constFind(folder.path); it != entries.constEnd())
            folder.cached = &*it;
        if (index)
            folder.indexed = index->folder(folder.path);
        if (!indexPath.isEmpty() && !indexFolders.contains(folder.path))
            indexFolders.append(folder.path);
    }
    // Listing a folder of a thousand files takes as long as reading dozens.
    forEach(
        open,
        [this](const std::unique_ptr<OpenFolder>& folder) {
            const auto it = listings.constFind(folder->path);
            if (it != listings.constEnd() || !folder->indexed.listed) {
                folder->list(it == listings.constEnd() ? nullptr : &*it);
                return;
            }
            // The index's listing, named in place.
            FolderListing indexed{folder->indexed.listing, {}};
            indexed.names.reserve(folder->indexed.count);
            for (qsizetype i = 0; i < folder->indexed.count; ++i) {
                const QByteArrayView name = index->name(folder->indexed.first[i]);
                indexed.names.append(QByteArray::fromRawData(name.data(), name.size()));
            }
            folder->list(&indexed);
        },
        2);
    for (const auto& folder : open) {
        if (folder->listed == OpenFolder::Listed::Keep)
            listings.insert(folder->path, folder->listing);
        else if (folder->listed == OpenFolder::Listed::Afresh)
            listings.remove(folder->path);
    }

    std::vector<Candidate> candidates;
    candidates.reserve(
        std::accumulate(open.begin(), open.end(), size_t(0),
                        [](size_t n, const auto& f) { return n + f->names.size(); }));
    for (const auto& folder : open) {
        auto cached = folder->cached ? folder->cached->begin() : FolderEntries::const_iterator();
        const auto cachedEnd = folder->cached ? folder->cached->end() : cached;
        const auto* record = folder->indexed.first;
        const auto* const recordsEnd = record + folder->indexed.count;
        for (const QByteArray& name : std::as_const(folder->names)) {
            Candidate& c = candidates.emplace_back();
            c.folder = folder.get();
            c.name = &name;
            while (cached != cachedEnd && cached->first < name)
                ++cached;
            if (cached != cachedEnd && cached->first == name)
                c.cached = &cached->second;
            while (record != recordsEnd && index->name(*record) < QByteArrayView(name))
                ++record;
            if (record != recordsEnd && index->name(*record) == QByteArrayView(name))
                c.indexed = record;
        }
    }
    // For a few files, reading them twice would cost more than it saves.
    const auto unknown = std::count_if(candidates.begin(), candidates.end(),
                                       [](const Candidate& c) { return !c.cached; });
    const bool deferTexts = unknown >= 256;
    forEach(candidates,
            [this, &finder, deferTexts, index = index.get(), sheets = indexSheets.data()](
                Candidate& c) { examine(c, finder, deferTexts, limits, index, sheets); });
    // Out of date when a sheet was not answered from it, or it holds a
    // sheet that is gone.
    if (!indexPath.isEmpty()) {
        for (const auto& folder : open) {
            if (folder->indexed.count != folder->names.size())
                indexStale = true;
        }
        for (const Candidate& c : candidates)
            if (!c.fromIndex)
                indexStale = true;
    }

    // The cache changes only here, after the workers, so the outcome does not
    // depend on how they interleaved. Each folder's entries are merged with its
    // listing; entries of files no longer listed stay, as only a failed read
    // evicts.
    struct Ranked {
        int count;
        Stamp modified;
        SearchHit* hit;
    };
    std::vector<Ranked> ranked;
    for (auto c = candidates.begin(); c != candidates.end();) {
        const auto folderEnd =
            std::find_if(c, candidates.end(),
                         [folder = c->folder](const Candidate& d) { return d.folder != folder; });
        FolderEntries& cache = entries[c->folder->path];
        FolderEntries merged;
        merged.reserve(cache.size() + size_t(folderEnd - c));
        auto old = std::make_move_iterator(cache.begin());
        const auto oldEnd = std::make_move_iterator(cache.end());
        for (; c != folderEnd; ++c) {
            for (; old != oldEnd && old->first < *c->name; ++old)
                merged.push_back(*old);
            if (old != oldEnd && old->first == *c->name)
                ++old;
            if (c->fromIndex) {
                if (c->hit.count > 0)
                    ranked.push_back({c->hit.count, c->streamed, &c->hit});
                continue;
            }
            if (c->unreadable)
                continue;
            if (c->uncached) {
                if (c->hit.count > 0)
                    ranked.push_back({c->hit.count, c->streamed, &c->hit});
                continue;
            }
            // A name may lie in the mapped index, which a later search unmaps.
            QByteArray name = *c->name;
            name.detach();
            merged.emplace_back(name, c->entry);
            if (c->deferred)
                toRead.push_back({c->entry, c->folder->path, name});
            else if (c->fresh)
                toFold.push_back(c->entry);
            if (c->hit.count == 0)
                continue;
            if (c->newSheet) {
                c->entry->sheet = c->hit.sheet;
                c->entry->sheet->matched = false;
            }
            ranked.push_back({c->hit.count, c->entry->modified, &c->hit});
        }
        std::move(old, oldEnd, std::back_inserter(merged));
        cache = std::move(merged);
    }

    std::stable_sort(ranked.begin(), ranked.end(), [](const Ranked& a, const Ranked& b) {
        if (a.count != b.count)
            return a.count > b.count;
        return a.modified > b.modified;
    });
    QList<SearchHit> hits;
    hits.reserve(qsizetype(ranked.size()));
    for (const Ranked& r : ranked)
        hits.append(std::move(*r.hit));
    if (indexStale && indexWrites == SearchEngine::IndexWrites::Background) {
        indexStale = false;
        writeIndexInBackground();
    }
    return hits;
}

void SearchEngine::Cache::fill() {
    const QMutexLocker locker(&lock);
    foldPending();
}

void SearchEngine::Cache::foldPending() {
    // No later search to serve.
    if (closing) {
        toRead.clear();
        toFold.clear();
        return;
    }
    auto unkept = std::exchange(toRead, {});
    forEach(unkept, [this](const Unkept& u) {
        if (closing)
            return;
        Entry& e = *u.entry;
        QByteArray bytes;
        struct stat st;
        const QByteArray path = files::encodeName(u.folder) + '/' + u.name;
        const bool same =
            OpenFolder::readFile(::open(path.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK), bytes,
                                 st) &&
            identityOf(st) == e.identity;
        // Changed since the search read it: the entry no longer matches any
        // date, so the next search reads the file anew.
        if (!same) {
            e.modified = noDate;
            return;
        }
        if (bytes.startsWith(byteOrderMark))
            bytes.remove(0, byteOrderMark.size());
        e.text = std::move(bytes);
        e.textPending = false;
    });
    // Folded in a pass of their own, as for texts read with their search:
    // folded forms side by side in memory scan faster in later searches.
    for (const Unkept& u : unkept) {
        if (!u.entry->textPending)
            toFold.push_back(u.entry);
    }
    auto work = std::exchange(toFold, {});
    forEach(work, [this](const EntryPtr& e) {
        // An engine on its way out need not finish; a later search folds
        // what is left for itself.
        if (closing)
            return;
        // The search folded the same bytes, so they are valid UTF-8.
        if (auto folded = search::foldUtf8(e->text)) {
            e->folded = std::move(*folded);
            e->foldPending = false;
        }
    });
}

SearchEngine::SearchEngine(QObject* parent) : SearchEngine(Limits{}, parent) {}

SearchEngine::SearchEngine(Limits limits, QObject* parent)
    : QObject(parent), m_cache(std::make_unique<Cache>()) {
    m_cache->limits = limits;
    m_executor.setMaxThreadCount(1);
}

SearchEngine::~SearchEngine() {
    // Running searches use the cache; it must outlive them.
    m_cache->closing = true;
    m_executor.waitForDone();
}

void SearchEngine::useIndex(const QString& path, IndexWrites writes) {
    // A search may be running: it holds the lock throughout.
    const QMutexLocker locker(&m_cache->lock);
    m_cache->indexPath = path;
    m_cache->indexWrites = writes;
}

void SearchEngine::warmIndex(const QList<QUrl>& folders) {
    m_executor.start(handedOver([cache = m_cache.get(), folders] {
        QThread::currentThread()->setPriority(QThread::IdlePriority);
        cache->run(search::PhraseFinder(nowhere), folders);
        QThread::currentThread()->setPriority(QThread::NormalPriority);
    }));
    m_executor.start(handedOver([cache = m_cache.get()] { cache->fill(); }));
}

void SearchEngine::writeIndexDetached() {
    Cache& cache = *m_cache;
    // What is left to fold in memory serves no later search.
    cache.closing = true;
    m_executor.waitForDone();
    if (!cache.indexStale || cache.indexPath.isEmpty())
        return;
    // Another process writing it meanwhile writes what this one would.
    const int lock = search::SearchIndex::tryLockForWriting(cache.indexPath);
    if (lock < 0)
        return;
    // Freed now, not after the fork: every page freed then would first be
    // copied for the child, which shares them and needs none of this.
    cache.entries.clear();
    cache.listings.clear();
    cache.toRead.clear();
    cache.toFold.clear();
    cache.indexSheets.clear();
    // The child has only this thread: it writes with plain system calls and
    // owns the lock until it ends.
    if (::fork() == 0) {
        const int null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
        if (null >= 0) {
            ::dup2(null, STDIN_FILENO);
            ::dup2(null, STDOUT_FILENO);
            ::dup2(null, STDERR_FILENO);
        }
        ::setsid();
        // Background work: never in the way of what the user waits for.
        const sched_param idle{};
        ::sched_setscheduler(0, SCHED_IDLE, &idle);
        const bool written = search::SearchIndex::write(cache.indexPath, cache.indexFolders,
                                                        cache.index.get(), cache.limits.holdBytes);
        ::_exit(written ? 0 : 1);
    }
    ::close(lock);
}

QFuture<QList<SearchHit>> SearchEngine::search(const QString& query, const QList<QUrl>& folders) {
    auto answer =
        QtConcurrent::run(&m_executor, handedOver([cache = m_cache.get(), query, folders] {
            return cache->search(query, folders);
        }));
    // The folded forms of the texts the search read follow after the answer,
    // before the next search uses them.
    m_executor.start(handedOver([cache = m_cache.get()] { cache->fill(); }));
    return answer;
}

} // namespace orvik
