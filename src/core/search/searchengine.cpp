#include "searchengine.h"

#include "fold.h"
#include "library/library.h"
#include "library/text.h"
#include "snippet.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QThread>
#include <QtConcurrentMap>
#include <QtConcurrentRun>

#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <limits>
#include <numeric>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

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

// What the cache keeps of one file: the text as UTF-8 (never as UTF-16, which
// would double it), its folded form for matching, and the sheet data once the
// file has been a hit.
struct Entry {
    Stamp modified = noDate;
    QByteArray text; // byte order mark removed
    search::FoldedText folded;
    std::optional<Sheet> sheet;
};
using EntryPtr = std::shared_ptr<Entry>;
// The cached files of one folder by file name as on disk, sorted by name like
// a listing, so that the two are matched in one pass without hashing.
using FolderEntries = std::vector<std::pair<QByteArray, EntryPtr>>;

// library::isSheetFileName on the name as on disk, so that the names of
// files that are no sheets need not be decoded.
bool isSheetName(QByteArrayView name) {
    return name.size() > 3 && name[0] != '.' && name[name.size() - 3] == '.' &&
           (name[name.size() - 2] | 0x20) == 'm' && (name[name.size() - 1] | 0x20) == 'd';
}

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

    explicit OpenFolder(const QString& folder)
        : path(folder.endsWith(u'/') ? folder.chopped(1) : folder),
          fd(::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {}
    ~OpenFolder() {
        if (fd >= 0)
            ::close(fd);
    }
    OpenFolder(const OpenFolder&) = delete;
    OpenFolder& operator=(const OpenFolder&) = delete;

    QString filePath(const QByteArray& name) const { return path + u'/' + QFile::decodeName(name); }

    static Stamp stampOf(const struct stat& st) {
        return Stamp(st.st_mtim.tv_sec) * 1000 + st.st_mtim.tv_nsec / 1000000;
    }

    Stamp modificationStamp(const char* name) const {
        struct stat st;
        return ::fstatat(fd, name, &st, 0) == 0 ? stampOf(st) : noDate;
    }

    // Reads a whole file and its modification date, taken from the open file
    // so that a file without a cache entry costs no extra stat. Non-blocking
    // open, so that a FIFO named like a sheet cannot hang the search; anything
    // but a regular file counts as unreadable.
    std::optional<QByteArray> read(const char* name, Stamp& modified) const {
        const int file = ::openat(fd, name, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        if (file < 0)
            return std::nullopt;
        struct stat st;
        if (::fstat(file, &st) != 0 || !S_ISREG(st.st_mode)) {
            ::close(file);
            return std::nullopt;
        }
        modified = stampOf(st);
        // One byte more than announced, so that a file that grew meanwhile
        // shows. Sized by the constructor: resize() would round the capacity
        // up to a power of two, which the cache would keep.
        QByteArray bytes(qsizetype(st.st_size) + 1, Qt::Uninitialized);
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
                return std::nullopt;
            }
            filled += got;
            // A regular file reads short only at its end; no need to ask again.
            if (got == 0 || size_t(got) < wanted) {
                ::close(file);
                bytes.truncate(filled);
                return bytes;
            }
        }
    }

    // The sheet files directly inside: hidden ones and everything that is not
    // a regular file (or a link to one) left out, sorted by name in code point
    // order (the byte order of UTF-8) so that ties keep a stable order.
    // `previous` is the listing of an earlier search, reused when the folder
    // provably has not changed since.
    void list(const FolderListing* previous) {
        struct stat st;
        if (fd < 0 || ::fstat(fd, &st) != 0)
            return;
        if (previous && previous->identity == FolderListing::identityOf(st)) {
            names = previous->names;
            listed = Listed::Reused;
            return;
        }
        const int copy = ::dup(fd);
        DIR* dir = copy < 0 ? nullptr : ::fdopendir(copy);
        if (!dir) {
            if (copy >= 0)
                ::close(copy);
            return;
        }
        // A link can change its target without the folder changing.
        bool stable = true;
        while (const dirent* entry = ::readdir(dir)) {
            const QByteArrayView name(entry->d_name);
            if (!isSheetName(name))
                continue;
            bool regular = entry->d_type == DT_REG;
            if (entry->d_type == DT_LNK || entry->d_type == DT_UNKNOWN) {
                struct stat target;
                regular = ::fstatat(fd, entry->d_name, &target, 0) == 0 && S_ISREG(target.st_mode);
                stable = false;
            }
            if (regular)
                names.append(name.toByteArray());
        }
        ::closedir(dir);
        std::sort(names.begin(), names.end());
        if (stable && FolderListing::settled(st)) {
            listing = {FolderListing::identityOf(st), names};
            listed = Listed::Keep;
        }
    }
};

EntryPtr readEntry(const OpenFolder& folder, const char* name) {
    Stamp modified = noDate;
    auto bytes = folder.read(name, modified);
    if (!bytes)
        return nullptr;
    if (bytes->startsWith("\xEF\xBB\xBF"))
        bytes->remove(0, 3);
    auto folded = search::foldUtf8(*bytes);
    if (!folded)
        return nullptr;
    auto entry = std::make_shared<Entry>();
    entry->modified = modified;
    entry->text = std::move(*bytes);
    entry->folded = std::move(*folded);
    return entry;
}

// Sheet::countWords on the UTF-8 bytes, which saves decoding the whole text:
// separators are space, tab and a line feed that does not end a CR LF pair.
int countWords(QByteArrayView text) {
    const auto* s = reinterpret_cast<const unsigned char*>(text.data());
    const qsizetype n = text.size();
    const auto separates = [s](qsizetype k) {
        return s[k] == ' ' || s[k] == '\t' || (s[k] == '\n' && !(k > 0 && s[k - 1] == '\r'));
    };
    qsizetype words = 0;
    bool afterSeparator = true;
    qsizetype i = 0;
#if defined(__SSE2__)
    if (n > 0) {
        afterSeparator = separates(0);
        words += !afterSeparator;
        i = 1;
    }
    for (; i + 16 <= n; i += 16) {
        const __m128i cur = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
        const __m128i prev = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i - 1));
        const __m128i lineFeed = _mm_andnot_si128(_mm_cmpeq_epi8(prev, _mm_set1_epi8('\r')),
                                                  _mm_cmpeq_epi8(cur, _mm_set1_epi8('\n')));
        const __m128i sep = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(cur, _mm_set1_epi8(' ')),
                                                      _mm_cmpeq_epi8(cur, _mm_set1_epi8('\t'))),
                                         lineFeed);
        const auto mask = unsigned(_mm_movemask_epi8(sep));
        const unsigned before = (mask << 1) | unsigned(afterSeparator);
        words += std::popcount(~mask & before & 0xFFFFu);
        afterSeparator = (mask >> 15) & 1;
    }
#endif
    for (; i < n; ++i) {
        const bool sep = separates(i);
        words += !sep && afterSeparator;
        afterSeparator = sep;
    }
    return int(words);
}

// Sheet::fromText without decoding the whole file: title and preview only
// read the first lines, so they come from a head of the text whenever that
// provably gives the same result.
Sheet sheetOf(const QString& path, const Entry& e) {
    Sheet sheet;
    sheet.url = QUrl::fromLocalFile(path);
    sheet.modified = dateOf(e.modified);
    sheet.wordCount = countWords(e.text);
    const QString fallback = QFileInfo(path).completeBaseName();

    // The head ends right after a line break, so that all its lines are whole;
    // it grows until it provably holds everything title and preview look at.
    for (qsizetype headBytes = 512;; headBytes *= 4) {
        qsizetype cut = e.text.size();
        for (qsizetype at = headBytes; (at = e.text.indexOf('\n', at)) >= 0; ++at) {
            if (e.text[at - 1] != '\r') {
                cut = at + 1;
                break;
            }
        }
        const QString head = QString::fromUtf8(QByteArrayView(e.text).first(cut));
        sheet.title = Sheet::deriveTitle(head, fallback);
        sheet.preview = Sheet::derivePreview(head);
        if (cut == e.text.size())
            return sheet;
        // The preview stops collecting once its parts exceed 140 characters,
        // after the title line; if that happened within the head, the rest of
        // the text cannot change title or preview.
        if (sheet.preview.size() > 140 && text::graphemeCount(sheet.preview) > 140)
            return sheet;
    }
}

// One sheet file of one search, filled in on a worker thread.
struct Candidate {
    const OpenFolder* folder = nullptr;
    const QByteArray* name = nullptr; // in folder->names
    const EntryPtr* cached = nullptr; // the cache's entry for the file, if any
    EntryPtr entry;                   // the cached one if still valid, or freshly read
    bool fresh = false;               // read in this search; goes into the cache
    bool unreadable = false;          // leaves the cache
    bool newSheet = false;            // hit.sheet was computed now; goes into the cache
    SearchHit hit;                    // count 0: no occurrence
};

} // namespace

struct SearchEngine::Cache {
    // By folder path, then file name: together the file's path.
    QHash<QString, FolderEntries> entries;
    QHash<QString, FolderListing> listings;
    // Reading, folding and matching thousands of files is spread over these;
    // the serialized executor waits meanwhile, so searches stay one at a time.
    QThreadPool workers;

    Cache() { workers.setMaxThreadCount(QThread::idealThreadCount()); }

    QList<SearchHit> search(const QString& query, const QList<QUrl>& folders);
    static void examine(Candidate& c, const search::PhraseFinder& finder);

    template <typename Sequence, typename Fn> void forEach(Sequence& items, Fn&& fn) {
        // Below a few dozen items the hand-off costs more than it saves.
        if (items.size() < 32)
            std::for_each(items.begin(), items.end(), fn);
        else
            QtConcurrent::blockingMap(&workers, items, fn);
    }
};

void SearchEngine::Cache::examine(Candidate& c, const search::PhraseFinder& finder) {
    const OpenFolder& folder = *c.folder;
    const char* name = c.name->constData();
    if (c.cached && (*c.cached)->modified == folder.modificationStamp(name)) {
        c.entry = *c.cached;
    } else {
        c.entry = readEntry(folder, name);
        c.fresh = c.entry != nullptr;
        c.unreadable = !c.fresh;
        if (c.unreadable)
            return;
    }

    const Entry& e = *c.entry;
    const QByteArrayView folded(e.folded.bytes);
    const qsizetype first = finder.indexIn(folded, 0);
    if (first < 0)
        return;
    int count = 1;
    for (qsizetype at = first + finder.size(); count < maxCount; ++count) {
        const qsizetype next = finder.indexIn(folded, at);
        if (next < 0)
            break;
        at = next + finder.size();
    }

    c.newSheet = !e.sheet;
    c.hit.sheet = e.sheet ? *e.sheet : sheetOf(folder.filePath(*c.name), e);
    c.hit.sheet.matched = true;
    const qsizetype begin = search::originalStart(e.folded, e.text, first);
    const qsizetype end = search::originalEnd(e.folded, e.text, first + finder.size());
    c.hit.snippet = search::snippetAround(e.text, begin, end);
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

    std::vector<std::unique_ptr<OpenFolder>> open;
    for (const QUrl& url : folders) {
        if (!url.isLocalFile())
            continue;
        auto& folder = *open.emplace_back(
            std::make_unique<OpenFolder>(QDir::cleanPath(QDir(url.toLocalFile()).absolutePath())));
        if (const auto it = entries.constFind(folder.path); it != entries.constEnd())
            folder.cached = &*it;
    }
    forEach(open, [this](const std::unique_ptr<OpenFolder>& folder) {
        const auto it = listings.constFind(folder->path);
        folder->list(it == listings.constEnd() ? nullptr : &*it);
    });
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
        for (const QByteArray& name : std::as_const(folder->names)) {
            Candidate& c = candidates.emplace_back();
            c.folder = folder.get();
            c.name = &name;
            while (cached != cachedEnd && cached->first < name)
                ++cached;
            if (cached != cachedEnd && cached->first == name)
                c.cached = &cached->second;
        }
    }
    forEach(candidates, [&finder](Candidate& c) { examine(c, finder); });

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
            if (c->unreadable)
                continue;
            merged.emplace_back(*c->name, c->entry);
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
    return hits;
}

SearchEngine::SearchEngine(QObject* parent) : QObject(parent), m_cache(std::make_unique<Cache>()) {
    m_executor.setMaxThreadCount(1);
}

SearchEngine::~SearchEngine() {
    // Running searches use the cache; it must outlive them.
    m_executor.waitForDone();
}

QFuture<QList<SearchHit>> SearchEngine::search(const QString& query, const QList<QUrl>& folders) {
    return QtConcurrent::run(&m_executor, [cache = m_cache.get(), query, folders] {
        return cache->search(query, folders);
    });
}

} // namespace orvik
