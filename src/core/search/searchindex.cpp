#include "searchindex.h"

#include "fold.h"
#include "library/sheet.h"
#include "platform/files.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QStandardPaths>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <dirent.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <unistd.h>

namespace orvik::search {

struct SearchIndex::FolderRecord {
    quint32 path; // offset into the pool
    quint32 pathLength;
    quint32 first;
    quint32 count;
    qint64 identity[6]; // of the folder as listed, when `listed`
    quint32 listed;
    quint32 reserved;
};

namespace {

constexpr char magic[8] = {'O', 'r', 'v', 'i', 'k', 'S', 'I', 'x'};
constexpr quint32 version = 2;
constexpr quint32 flagUnreadable = 1;
constexpr quint32 flagStreamed = 2;

struct Header {
    char magic[8];
    quint32 version;
    quint32 recordSize;
    quint64 fileSize;
    quint64 tableOffset; // records, folders, pool
    quint64 records;
    quint64 folders;
    quint64 poolBytes;
    quint64 tableChecksum;
    quint64 headerChecksum; // of the bytes before it
};
static_assert(sizeof(Header) == 72);
static_assert(sizeof(SearchIndex::Record) == 112);

constexpr quint64 prime1 = 0x9E3779B185EBCA87ULL;
constexpr quint64 prime2 = 0xC2B2AE3D27D4EB4FULL;

inline quint64 load64(const char* p) {
    quint64 v;
    std::memcpy(&v, p, 8);
    return v;
}

inline quint64 mix(quint64 lane, quint64 word) {
    return std::rotl((lane ^ word) * prime1, 31);
}

bool readWhole(int file, QByteArray& bytes, qint64 size) {
    bytes.resize(qsizetype(size) + 1);
    qsizetype filled = 0;
    for (;;) {
        if (filled == bytes.size())
            return false; // grew while read
        const ssize_t got = ::read(file, bytes.data() + filled, size_t(bytes.size() - filled));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return false;
        if (got == 0)
            break;
        filled += got;
    }
    bytes.truncate(filled);
    return true;
}

bool writeAll(int fd, QByteArrayView bytes) {
    for (qsizetype done = 0; done < bytes.size();) {
        const ssize_t n = ::write(fd, bytes.data() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

} // namespace

namespace {

// library::isSheetFileName on the name as on disk, so that the names of
// files that are no sheets need not be decoded.
bool isSheetName(QByteArrayView name) {
    return name.size() > 3 && name[0] != '.' && name[name.size() - 3] == '.' &&
           (name[name.size() - 2] | 0x20) == 'm' && (name[name.size() - 1] | 0x20) == 'd';
}

} // namespace

QList<QByteArray> sheetNames(int fd, bool& stable) {
    stable = true;
    QList<QByteArray> names;
    const int copy = ::dup(fd);
    DIR* dir = copy < 0 ? nullptr : ::fdopendir(copy);
    if (!dir) {
        if (copy >= 0)
            ::close(copy);
        // Nothing seen is nothing to keep.
        stable = false;
        return names;
    }
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
    return names;
}

FileIdentity identityOf(const struct stat& st) {
    return {qint64(st.st_dev),         qint64(st.st_ino),          qint64(st.st_size),
            qint64(st.st_mtim.tv_sec), qint64(st.st_mtim.tv_nsec), qint64(st.st_ctim.tv_sec),
            qint64(st.st_ctim.tv_nsec)};
}

quint64 checksum(QByteArrayView bytes, quint64 seed) {
    // Sums of 64-bit words and sums of those sums (Fletcher's scheme), in
    // vector lanes: any changed byte changes the first, a moved one the
    // second, at the speed of reading memory.
    const char* p = bytes.data();
    qsizetype n = bytes.size();
    quint64 sum = seed;
    quint64 sums = 0;
#if defined(__SSE2__)
    __m128i a0 = _mm_setzero_si128(), a1 = a0, b0 = a0, b1 = a0;
    for (; n >= 32; p += 32, n -= 32) {
        a0 = _mm_add_epi64(a0, _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
        a1 = _mm_add_epi64(a1, _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16)));
        b0 = _mm_add_epi64(b0, a0);
        b1 = _mm_add_epi64(b1, a1);
    }
    quint64 lanes[8];
    _mm_storeu_si128(reinterpret_cast<__m128i*>(lanes), a0);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(lanes + 2), a1);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(lanes + 4), b0);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(lanes + 6), b1);
    for (int i = 0; i < 4; ++i) {
        sum = mix(sum, lanes[i]);
        sums = mix(sums, lanes[4 + i]);
    }
#endif
    for (; n >= 8; p += 8, n -= 8) {
        sum += load64(p);
        sums += sum;
    }
    quint64 tail = 0;
    std::memcpy(&tail, p, size_t(n));
    quint64 h = mix(mix(sum, tail), sums) ^ quint64(bytes.size());
    h ^= h >> 33;
    h *= prime2;
    h ^= h >> 29;
    return h;
}

QString SearchIndex::pathFor(const QString& root) {
    const QString canonical = QFileInfo(root).canonicalFilePath();
    const QByteArray hash =
        QCryptographicHash::hash(
            (canonical.isEmpty() ? QDir(root).absolutePath() : canonical).toUtf8(),
            QCryptographicHash::Sha256)
            .toHex()
            .left(24);
    return QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) +
           QStringLiteral("/Orvik/search-") + QString::fromLatin1(hash) + QStringLiteral(".index");
}

SearchIndex::~SearchIndex() {
    if (m_data)
        ::munmap(const_cast<char*>(m_data), size_t(m_size));
}

std::shared_ptr<const SearchIndex> SearchIndex::open(const QString& path) {
    const int fd = ::open(files::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return nullptr;
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < qint64(sizeof(Header))) {
        ::close(fd);
        return nullptr;
    }
    void* map = ::mmap(nullptr, size_t(st.st_size), PROT_READ, MAP_SHARED, fd, 0);
    ::close(fd);
    if (map == MAP_FAILED)
        return nullptr;
    std::shared_ptr<SearchIndex> index(new SearchIndex);
    index->m_data = static_cast<const char*>(map);
    index->m_size = qsizetype(st.st_size);
    index->m_identity = identityOf(st);

    Header h;
    std::memcpy(&h, index->m_data, sizeof h);
    if (std::memcmp(h.magic, magic, sizeof magic) != 0 || h.version != version ||
        h.recordSize != sizeof(Record) ||
        h.headerChecksum !=
            checksum(QByteArrayView(index->m_data, offsetof(Header, headerChecksum))) ||
        h.fileSize != quint64(st.st_size) || h.tableOffset < sizeof(Header) ||
        h.tableOffset > h.fileSize || h.records > h.fileSize / sizeof(Record) ||
        h.folders > h.fileSize / sizeof(FolderRecord) ||
        h.tableOffset + h.records * sizeof(Record) + h.folders * sizeof(FolderRecord) +
                h.poolBytes !=
            h.fileSize ||
        h.tableOffset % 8 != 0)
        return nullptr;
    const QByteArrayView table(index->m_data + h.tableOffset,
                               qsizetype(h.fileSize - h.tableOffset));
    if (checksum(table) != h.tableChecksum)
        return nullptr;
    index->m_records = reinterpret_cast<const Record*>(table.data());
    index->m_recordCount = qsizetype(h.records);
    const auto* folders =
        reinterpret_cast<const FolderRecord*>(table.data() + h.records * sizeof(Record));
    index->m_pool = reinterpret_cast<const char*>(folders + h.folders);
    // The checksum makes damage unlikely; these make it harmless.
    for (qsizetype i = 0; i < index->m_recordCount; ++i) {
        const Record& r = index->m_records[i];
        const quint64 bytes = quint64(r.folded) + r.exceptions + r.title + r.preview;
        if (r.data < sizeof(Header) || r.data > h.tableOffset || bytes > h.tableOffset - r.data ||
            quint64(r.name) + r.nameLength >= h.poolBytes ||
            index->m_pool[r.name + r.nameLength] != '\0')
            return nullptr;
    }
    for (quint64 i = 0; i < h.folders; ++i) {
        const FolderRecord& f = folders[i];
        if (quint64(f.path) + f.pathLength > h.poolBytes || quint64(f.first) + f.count > h.records)
            return nullptr;
        Range range{index->m_records + f.first, qsizetype(f.count), f.listed != 0, {}};
        std::memcpy(range.listing.data(), f.identity, sizeof f.identity);
        index->m_folders.insert(QString::fromUtf8(index->m_pool + f.path, f.pathLength), range);
    }
    index->m_checked.reset(
        new std::atomic<quint8>[size_t(std::max<qsizetype>(1, index->m_recordCount))] {});
    return index;
}

SearchIndex::Range SearchIndex::folder(const QString& path) const {
    return m_folders.value(path);
}

QByteArrayView SearchIndex::name(const Record& r) const {
    return {m_pool + r.name, qsizetype(r.nameLength)};
}

bool SearchIndex::matches(const Record& r, const FileIdentity& identity) const {
    return std::memcmp(r.identity, identity.data(), sizeof r.identity) == 0;
}

bool SearchIndex::intact(const Record& r) const {
    auto& state = m_checked[size_t(&r - m_records)];
    const quint8 known = state.load(std::memory_order_relaxed);
    if (known != 0)
        return known == 1;
    const qsizetype bytes = qsizetype(r.folded) + r.exceptions + r.title + r.preview;
    const bool ok = checksum(QByteArrayView(m_data + r.data, bytes)) == r.checksum;
    state.store(ok ? 1 : 2, std::memory_order_relaxed);
    return ok;
}

bool SearchIndex::unreadable(const Record& r) const {
    return r.flags & flagUnreadable;
}

bool SearchIndex::streamed(const Record& r) const {
    return r.flags & flagStreamed;
}

QByteArrayView SearchIndex::folded(const Record& r) const {
    return {m_data + r.data, qsizetype(r.folded)};
}

QByteArrayView SearchIndex::exceptions(const Record& r) const {
    return {m_data + r.data + r.folded, qsizetype(r.exceptions)};
}

QByteArrayView SearchIndex::title(const Record& r) const {
    return {m_data + r.data + r.folded + r.exceptions, qsizetype(r.title)};
}

QByteArrayView SearchIndex::preview(const Record& r) const {
    return {m_data + r.data + r.folded + r.exceptions + r.title, qsizetype(r.preview)};
}

qsizetype SearchIndex::originalSize(const Record& r) const {
    return r.original;
}

int SearchIndex::wordCount(const Record& r) const {
    return int(r.words);
}

int SearchIndex::tryLockForWriting(const QString& path) {
    // The cache folder is the user's alone: the index holds the sheets' text.
    const QString dirPath = QFileInfo(path).absolutePath();
    QDir().mkpath(dirPath);
    ::chmod(files::encodeName(dirPath).constData(), 0700);
    const int fd = ::open(files::encodeName(path + QStringLiteral(".lock")).constData(),
                          O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return -1;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool SearchIndex::write(const QString& path, const QStringList& folders,
                        const SearchIndex* previous, qint64 holdBytes,
                        const std::atomic<bool>* stop) {
    const QString dirPath = QFileInfo(path).absolutePath();
    if (!QDir().mkpath(dirPath))
        return false;
    QByteArray tempName = files::encodeName(path) + ".XXXXXX";
    const int out = ::mkstemp(tempName.data());
    if (out < 0)
        return false;
    ::fchmod(out, 0600);
    const auto fail = [&] {
        ::close(out);
        ::unlink(tempName.constData());
        return false;
    };

    // Every folder asked for, and those of the previous index still there.
    QStringList all = folders;
    if (previous)
        for (const QString& f : previous->folders())
            if (!all.contains(f))
                all.append(f);
    std::sort(all.begin(), all.end());

    std::vector<Record> records;
    std::vector<FolderRecord> folderRecords;
    QByteArray pool;
    QByteArray buffer; // one record's bytes
    quint64 offset = sizeof(Header);
    QByteArray header(sizeof(Header), '\0');
    // Written in large pieces, which the page cache keeps in large pages:
    // fewer to map for every process that reads the index.
    QByteArray pending = header;
    const auto put = [&](QByteArrayView bytes) {
        pending.append(bytes);
        if (pending.size() < (qsizetype(4) << 20))
            return true;
        const bool written = writeAll(out, pending);
        pending.clear();
        return written;
    };
    QByteArray text;
    QByteArray folded;
    QByteArray exceptions;
    for (const QString& folderPath : std::as_const(all)) {
        if (stop && stop->load())
            return fail();
        const bool fresh = folders.contains(folderPath);
        const int dir =
            ::open(files::encodeName(folderPath).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (dir < 0)
            continue;
        // The listing is kept when nothing can change it unseen: no links, and
        // the folder's times old enough that a change gets a new one.
        struct stat before, after;
        bool stable = false;
        const bool statted = ::fstat(dir, &before) == 0;
        const QList<QByteArray> names = sheetNames(dir, stable);
        timespec now;
        ::clock_gettime(CLOCK_REALTIME, &now);
        const auto folderIdentity = [](const struct stat& st) {
            return std::array<qint64, 6>{qint64(st.st_dev),         qint64(st.st_ino),
                                         qint64(st.st_mtim.tv_sec), qint64(st.st_mtim.tv_nsec),
                                         qint64(st.st_ctim.tv_sec), qint64(st.st_ctim.tv_nsec)};
        };
        const Range old = previous ? previous->folder(folderPath) : Range{};
        const Record* o = old.first;
        const Record* const oEnd = old.first + old.count;
        FolderRecord fr{quint32(pool.size()), 0, quint32(records.size()), 0, {}, 0, 0};
        if (statted && stable && ::fstat(dir, &after) == 0 &&
            folderIdentity(before) == folderIdentity(after) &&
            now.tv_sec - before.st_mtim.tv_sec > 2 && now.tv_sec - before.st_ctim.tv_sec > 2) {
            const auto id = folderIdentity(before);
            std::memcpy(fr.identity, id.data(), sizeof fr.identity);
            fr.listed = 1;
        }
        const QByteArray pathBytes = folderPath.toUtf8();
        pool.append(pathBytes);
        fr.pathLength = quint32(pathBytes.size());
        for (const QByteArray& name : names) {
            if (stop && stop->load())
                break;
            while (o != oEnd && previous->name(*o) < QByteArrayView(name))
                ++o;
            const Record* same =
                o != oEnd && previous->name(*o) == QByteArrayView(name) ? o : nullptr;
            struct stat st;
            if (::fstatat(dir, name.constData(), &st, 0) != 0 || !S_ISREG(st.st_mode))
                continue;
            Record r{};
            const FileIdentity id = identityOf(st);
            std::memcpy(r.identity, id.data(), sizeof r.identity);
            buffer.clear();
            if (same && previous->matches(*same, id) && previous->intact(*same)) {
                r.folded = same->folded;
                r.exceptions = same->exceptions;
                r.title = same->title;
                r.preview = same->preview;
                r.original = same->original;
                r.words = same->words;
                r.flags = same->flags;
                r.checksum = same->checksum;
                buffer.append(previous->m_data + same->data,
                              qsizetype(r.folded) + r.exceptions + r.title + r.preview);
            } else if (!fresh) {
                continue;
            } else if (st.st_size > holdBytes) {
                r.flags = flagStreamed;
                r.checksum = checksum({});
            } else {
                const int file = ::openat(dir, name.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
                if (file < 0)
                    continue;
                struct stat before, after;
                const bool read = ::fstat(file, &before) == 0 && S_ISREG(before.st_mode) &&
                                  readWhole(file, text, before.st_size) &&
                                  ::fstat(file, &after) == 0;
                ::close(file);
                // Changed meanwhile: its next search reads it, and a later
                // index keeps it.
                if (!read || identityOf(before) != identityOf(after) || identityOf(before) != id)
                    continue;
                QByteArrayView body(text);
                if (body.startsWith("\xEF\xBB\xBF"))
                    body = body.sliced(3);
                folded.clear();
                exceptions.clear();
                if (!foldWithExceptions(body, folded, exceptions)) {
                    r.flags = flagUnreadable;
                    r.checksum = checksum({});
                } else {
                    const Sheet sheet = Sheet::fromValidUtf8(
                        folderPath + u'/' + files::decodeName(name), body, QDateTime());
                    const QByteArray title = sheet.title.toUtf8();
                    const QByteArray preview = sheet.preview.toUtf8();
                    r.folded = quint32(folded.size());
                    r.exceptions = quint32(exceptions.size());
                    r.title = quint32(title.size());
                    r.preview = quint32(preview.size());
                    r.original = quint32(body.size());
                    r.words = quint32(sheet.wordCount);
                    buffer = folded + exceptions + title + preview;
                    r.checksum = checksum(buffer);
                }
            }
            r.data = offset;
            r.name = quint32(pool.size());
            r.nameLength = quint32(name.size());
            pool.append(name);
            pool.append('\0'); // for the system calls that take it in place
            if (!put(buffer))
                return fail();
            offset += quint64(buffer.size());
            records.push_back(r);
            ++fr.count;
        }
        ::close(dir);
        folderRecords.push_back(fr);
    }
    if (stop && stop->load())
        return fail();
    // The table starts 8-aligned, so that the records can be read in place.
    const quint64 padding = (8 - offset % 8) % 8;
    if (!put(QByteArray(qsizetype(padding), '\0')) || !writeAll(out, pending))
        return fail();
    offset += padding;
    QByteArray table;
    table.append(reinterpret_cast<const char*>(records.data()),
                 qsizetype(records.size() * sizeof(Record)));
    table.append(reinterpret_cast<const char*>(folderRecords.data()),
                 qsizetype(folderRecords.size() * sizeof(FolderRecord)));
    table.append(pool);
    if (!writeAll(out, table))
        return fail();
    Header h{};
    std::memcpy(h.magic, magic, sizeof magic);
    h.version = version;
    h.recordSize = sizeof(Record);
    h.fileSize = offset + quint64(table.size());
    h.tableOffset = offset;
    h.records = records.size();
    h.folders = folderRecords.size();
    h.poolBytes = quint64(pool.size());
    h.tableChecksum = checksum(table);
    h.headerChecksum = checksum(
        QByteArrayView(reinterpret_cast<const char*>(&h), offsetof(Header, headerChecksum)));
    if (::pwrite(out, &h, sizeof h, 0) != qsizetype(sizeof h) || ::fsync(out) != 0)
        return fail();
    ::close(out);
    if (::rename(tempName.constData(), files::encodeName(path).constData()) != 0) {
        ::unlink(tempName.constData());
        return false;
    }
    const int dirFd =
        ::open(files::encodeName(dirPath).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
    return true;
}

} // namespace orvik::search
