#include "backupmanager.h"

#include "library/library.h"
#include "platform/files.h"
#include "platform/handover.h"

#include <QByteArrayList>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QStandardPaths>
#include <QThread>
#include <QtConcurrentRun>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <optional>
#include <unordered_set>
#include <utility>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

namespace orvik {

namespace {

// How many further seconds a snapshot tries when its stamp is taken. Only a
// clock set back onto a run of old snapshots needs more than one; after that the
// run gives up and the next one tries again.
constexpr int maxStampWaits = 5;

std::atomic<BackupManager::LinkFunction> linkOverride{nullptr};

QString absoluteClean(const QString& path) {
    return QDir::cleanPath(QFileInfo(path).absoluteFilePath());
}

// Whether `path` is `folder` or lies below it, under either spelling: the one
// given and the one with all symbolic links resolved.
bool isSameOrInside(const QString& path, const QString& folder) {
    const auto inside = [](const QString& p, const QString& f) {
        if (p.isEmpty() || f.isEmpty())
            return false;
        return p == f || p.startsWith(f.endsWith(QLatin1Char('/')) ? f : f + QLatin1Char('/'));
    };
    return inside(absoluteClean(path), absoluteClean(folder)) ||
           inside(QFileInfo(path).canonicalFilePath(), QFileInfo(folder).canonicalFilePath());
}

bool isTaken(const QString& path) {
    struct stat st;
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0;
}

class Fd {
public:
    explicit Fd(int fd = -1) : m_fd(fd) {}
    Fd(Fd&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}
    Fd& operator=(Fd&& other) noexcept {
        reset(std::exchange(other.m_fd, -1));
        return *this;
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() { reset(); }

    int get() const { return m_fd; }
    bool valid() const { return m_fd >= 0; }
    void reset(int fd = -1) {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = fd;
    }
    // Closes and reports whether the last writes really reached the file.
    bool close() { return ::close(std::exchange(m_fd, -1)) == 0; }

private:
    int m_fd;
};

struct FileId {
    dev_t device;
    ino_t inode;
    explicit FileId(const struct stat& st) : device(st.st_dev), inode(st.st_ino) {}
    friend bool operator==(const FileId&, const FileId&) = default;
};

struct FileIdHash {
    size_t operator()(const FileId& id) const noexcept {
        return std::hash<ino_t>()(id.inode) ^ (std::hash<dev_t>()(id.device) << 1);
    }
};

// As QFileInfo::lastModified() counts it: milliseconds first, then whole seconds
// truncated toward zero, also before 1970.
qint64 modifiedSeconds(const struct stat& st) {
    const qint64 msecs = qint64(st.st_mtim.tv_sec) * 1000 + st.st_mtim.tv_nsec / 1'000'000;
    return msecs / 1000;
}

// Names that do not decode are spelled with replacement characters, as Qt
// spells them everywhere else, so that the marker stays valid UTF-8.
QByteArray fingerprintLine(const QString& relative, qint64 size, qint64 seconds) {
    QByteArray line = relative.toUtf8();
    line += '|';
    line += QByteArray::number(size);
    line += '|';
    line += QByteArray::number(seconds);
    return line;
}

QString joinLines(QByteArrayList& lines) {
    // Sorted as UTF-8 bytes, which is code point order; UTF-16 code units would
    // put characters beyond U+FFFF before U+E000..U+FFFF.
    std::sort(lines.begin(), lines.end());
    return QString::fromUtf8(lines.join('\n'));
}

bool hasSheetSuffix(const char* name) {
    const char* dot = std::strrchr(name, '.');
    return dot && (dot[1] == 'm' || dot[1] == 'M') && (dot[2] == 'd' || dot[2] == 'D') &&
           dot[3] == '\0';
}

// Syncthing's own folders: its marker, and the old versions it keeps of
// every file it replaced, which would make each snapshot grow with them.
bool isSyncToolsFolder(const char* name) {
    return std::strcmp(name, ".stversions") == 0 || std::strcmp(name, ".stfolder") == 0;
}

struct SheetFile {
    QByteArray relative; // file system bytes, so that any name can be opened again
    struct stat st;      // of the file itself, links followed
};

// Walks the library with the file system's own calls: the stat data of the walk
// is all the fingerprint needs, and no name goes through QString and back.
struct Walk {
    QByteArray backupRoot; // clean absolute
    std::optional<FileId> backupRootId;
    std::vector<SheetFile> sheets;

    bool isBackupRoot(int dirFd, const char* name, const QByteArray& path) const {
        if (path == backupRoot)
            return true;
        struct stat st;
        return backupRootId && ::fstatat(dirFd, name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
               FileId(st) == *backupRootId;
    }

    // False if `dirPath` cannot be read; folders below that cannot are skipped.
    bool below(const QByteArray& dirPath, const QByteArray& relativeDir) {
        DIR* dir = ::opendir(dirPath.constData());
        if (!dir)
            return false;
        const int dirFd = ::dirfd(dir);
        const QByteArray prefix = dirPath.endsWith('/') ? dirPath : dirPath + '/';
        QByteArrayList folders;
        while (const dirent* entry = ::readdir(dir)) {
            const char* name = entry->d_name;
            if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0')))
                continue;
            unsigned char type = entry->d_type;
            struct stat st;
            if (type == DT_UNKNOWN) {
                if (::fstatat(dirFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0)
                    continue;
                type = S_ISDIR(st.st_mode)   ? DT_DIR
                       : S_ISLNK(st.st_mode) ? DT_LNK
                       : S_ISREG(st.st_mode) ? DT_REG
                                             : DT_UNKNOWN;
            }
            if (type == DT_DIR) {
                // A linked folder (type DT_LNK) may point back up the tree or out
                // of the library; the folder it points to is walked where it really
                // is. The backup folder inside a library (library in the home
                // folder) would otherwise copy every old snapshot into each new one.
                if (!isBackupRoot(dirFd, name, prefix + name) && !isSyncToolsFolder(name))
                    folders.append(QByteArray(name));
                continue;
            }
            if ((type != DT_REG && type != DT_LNK) || !hasSheetSuffix(name))
                continue;
            // Following links: a linked sheet is copied with its content. Loops,
            // dangling links, pipes and devices are no sheets.
            if (::fstatat(dirFd, name, &st, 0) != 0 || !S_ISREG(st.st_mode))
                continue;
            sheets.push_back({relativeDir + name, st});
        }
        ::closedir(dir);
        for (const QByteArray& folder : std::as_const(folders))
            below(prefix + folder, relativeDir + folder + '/');
        return true;
    }
};

std::optional<std::vector<SheetFile>> walkLibrary(const QString& source,
                                                  const QString& backupRoot) {
    Walk walk;
    walk.backupRoot = QFile::encodeName(absoluteClean(backupRoot));
    struct stat st;
    if (::stat(walk.backupRoot.constData(), &st) == 0)
        walk.backupRootId = FileId(st);
    if (!walk.below(QFile::encodeName(absoluteClean(source)), {}))
        return std::nullopt;
    return std::move(walk.sheets);
}

bool fullRead(int fd, char* buffer, size_t size, off_t offset, size_t& got) {
    got = 0;
    while (got < size) {
        const ssize_t n = ::pread(fd, buffer + got, size - got, offset + off_t(got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0)
            break;
        got += size_t(n);
    }
    return true;
}

bool fullWrite(int fd, const char* data, size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= size_t(n);
    }
    return true;
}

bool sameTime(const timespec& a, const timespec& b) {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

// Puts the sheets into a fresh snapshot folder: each one either as a hard link
// to the same file of the previous snapshot, or as a copy that carries the
// sheet's modification time, so that the next snapshot can link to it.
class SnapshotWriter {
public:
    SnapshotWriter(QByteArray folder, const std::vector<SheetFile>& sheets) : m_folder(folder) {
        m_libraryFiles.reserve(sheets.size());
        for (const SheetFile& sheet : sheets)
            m_libraryFiles.insert(FileId(sheet.st));
        m_buffer.resize(2 * bufferSize);
    }

    void linkFrom(const QByteArray& previousFolder) {
        m_previousRoot.reset(
            ::open(previousFolder.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    }

    bool store(const QByteArray& source, const QByteArray& relative) {
        const qsizetype slash = relative.lastIndexOf('/');
        const QByteArray dir = relative.left(slash + 1);
        const QByteArray name = relative.mid(slash + 1);
        if (!makeFolder(dir))
            return false;
        const QByteArray target = m_folder + '/' + relative;

        const Fd in(::open(source.constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
        struct stat st;
        if (!in.valid() || ::fstat(in.get(), &st) != 0 || !S_ISREG(st.st_mode))
            return false;
        if (linkUnchanged(in.get(), st, dir, name, target))
            return true;
        return copy(in.get(), st, target);
    }

private:
    static constexpr size_t bufferSize = 64 * 1024;

    bool makeFolder(const QByteArray& dir) {
        if (dir.isEmpty() || m_made.contains(dir))
            return true;
        // Parents first; each folder is created once per snapshot.
        if (!makeFolder(dir.left(dir.lastIndexOf('/', dir.size() - 2) + 1)))
            return false;
        const QByteArray path = m_folder + '/' + dir.chopped(1);
        if (::mkdir(path.constData(), 0777) != 0) {
            struct stat st;
            if (errno != EEXIST || ::lstat(path.constData(), &st) != 0 || !S_ISDIR(st.st_mode))
                return false;
        }
        m_made.insert(dir);
        return true;
    }

    // The previous snapshot's folder `dir`, reached without following any link,
    // so that a link never leads out of the snapshot.
    int previousFolder(const QByteArray& dir) {
        if (!m_previousRoot.valid())
            return -1;
        if (dir.isEmpty())
            return m_previousRoot.get();
        if (dir != m_previousDir) {
            m_previousDir = dir;
            m_previousDirFd.reset();
            Fd current(::dup(m_previousRoot.get()));
            for (const QByteArray& part : dir.chopped(1).split('/')) {
                if (!current.valid())
                    break;
                current.reset(::openat(current.get(), part.constData(),
                                       O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
            }
            m_previousDirFd = std::move(current);
        }
        return m_previousDirFd.get();
    }

    bool sameContent(int a, int b) {
        char* const bufferA = m_buffer.data();
        char* const bufferB = m_buffer.data() + bufferSize;
        for (off_t offset = 0;; offset += off_t(bufferSize)) {
            size_t gotA = 0;
            size_t gotB = 0;
            if (!fullRead(a, bufferA, bufferSize, offset, gotA) ||
                !fullRead(b, bufferB, bufferSize, offset, gotB) || gotA != gotB ||
                std::memcmp(bufferA, bufferB, gotA) != 0)
                return false;
            if (gotA < bufferSize)
                return true;
        }
    }

    bool linkUnchanged(int in, const struct stat& st, const QByteArray& dir, const QByteArray& name,
                       const QByteArray& target) {
        const int previousDir = previousFolder(dir);
        if (previousDir < 0)
            return false;
        const Fd previous(::openat(previousDir, name.constData(),
                                   O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
        struct stat old;
        if (!previous.valid() || ::fstat(previous.get(), &old) != 0 || !S_ISREG(old.st_mode))
            return false;
        // A file of the library itself, hard-linked into a snapshot by hand or by
        // restoring with links, would let an edit of the sheet alter snapshots.
        if (m_libraryFiles.contains(FileId(old)) || FileId(old) == FileId(st))
            return false;
        if (old.st_size != st.st_size || !sameTime(old.st_mtim, st.st_mtim) ||
            (old.st_mode & 0777) != (st.st_mode & 0777) || !sameContent(in, previous.get()))
            return false;
        const BackupManager::LinkFunction linkAt = linkOverride.load();
        if ((linkAt ? linkAt : ::linkat)(previousDir, name.constData(), AT_FDCWD,
                                         target.constData(), 0) != 0)
            return false;
        // The name may have been replaced between the comparison and the link.
        struct stat linked;
        if (::lstat(target.constData(), &linked) == 0 && FileId(linked) == FileId(old))
            return true;
        ::unlink(target.constData());
        return false;
    }

    bool copyBytes(int in, int out) {
        off_t offset = 0;
        for (;;) {
            const ssize_t n = ::copy_file_range(in, &offset, out, nullptr, 1 << 30, 0);
            if (n > 0)
                continue;
            if (n == 0)
                return true;
            if (errno == EINTR)
                continue;
            // Older kernels and some file systems cannot; the plain way from the
            // start.
            if (offset == 0 && (errno == EXDEV || errno == EINVAL || errno == ENOSYS ||
                                errno == EOPNOTSUPP || errno == EBADF))
                break;
            return false;
        }
        char* const buffer = m_buffer.data();
        for (;;) {
            size_t got = 0;
            if (!fullRead(in, buffer, bufferSize, offset, got) || !fullWrite(out, buffer, got))
                return false;
            if (got < bufferSize)
                return true;
            offset += off_t(got);
        }
    }

    bool copy(int in, const struct stat& st, const QByteArray& target) {
        // O_EXCL: an existing file may be another snapshot's through a link and
        // must never be written to.
        Fd out(
            ::open(target.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (!out.valid())
            return false;
        const timespec times[2] = {st.st_atim, st.st_mtim};
        const bool written = copyBytes(in, out.get()) &&
                             ::fchmod(out.get(), st.st_mode & 0777) == 0 &&
                             ::futimens(out.get(), times) == 0;
        if (out.close() && written)
            return true;
        ::unlink(target.constData());
        return false;
    }

    QByteArray m_folder;
    std::unordered_set<FileId, FileIdHash> m_libraryFiles;
    QSet<QByteArray> m_made;
    Fd m_previousRoot;
    QByteArray m_previousDir;
    Fd m_previousDirFd;
    std::vector<char> m_buffer;
};

bool isAhead(const BackupManager::Snapshot& snapshot, const QDateTime& now) {
    return now.secsTo(snapshot.date) > BackupManager::futureToleranceSeconds;
}

// How long the retention rule reaches back, in seconds: 183 days.
constexpr qint64 longestWindow = 15811200;

// Each snapshot's age in milliseconds, over snapshots in the order they were
// made, summed from the last one backwards step by step; 0 for one dated ahead.
QList<qint64> agesOf(const QList<BackupManager::Snapshot>& snapshots, const QDateTime& now) {
    QList<qint64> age(snapshots.size(), 0);
    QDateTime later = now;
    qint64 elapsed = 0;
    for (qsizetype i = snapshots.size() - 1; i >= 0; --i) {
        const BackupManager::Snapshot& snapshot = snapshots[i];
        if (isAhead(snapshot, now))
            continue;
        // A step back in time (the clock set back between the two) adds nothing,
        // nor does one longer than the whole rule (a clock set far ahead, or a
        // library left alone for half a year): it would age all before it at once.
        const qint64 step = snapshot.date.msecsTo(later);
        if (step > 0 && step <= longestWindow * 1000)
            elapsed += step;
        age[i] = elapsed;
        later = snapshot.date;
    }
    return age;
}

// Appended, never rewritten: two processes that back up one library at once
// each add their line whole, and no line is lost to the other's write.
void recordMade(const QString& backupRoot, const QString& stamp) {
    const QByteArray path =
        QFile::encodeName(backupRoot + QLatin1Char('/') + QLatin1String(BackupManager::orderName));
    const Fd fd(
        ::open(path.constData(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0666));
    if (fd.valid()) {
        const QByteArray line = stamp.toUtf8() + '\n';
        fullWrite(fd.get(), line.constData(), size_t(line.size()));
    }
}

// Removes a snapshot name by name; linked files live on in the other snapshots
// that share them. Links inside are removed, never followed.
void removeTree(const QString& path) {
    const auto remove = [](const char* entry, const struct stat*, int type, FTW*) {
        if (type == FTW_DP)
            ::rmdir(entry);
        else
            ::unlink(entry);
        return 0;
    };
    ::nftw(QFile::encodeName(path).constData(), remove, 16, FTW_DEPTH | FTW_PHYS);
}

} // namespace

BackupManager::BackupManager(const QString& source, const QString& backupRoot, QObject* parent)
    : QObject(parent), m_source(source),
      m_backupRoot(backupRoot.isEmpty() ? defaultBackupRoot() : QDir::cleanPath(backupRoot)) {
    m_executor.setMaxThreadCount(1);
}

BackupManager::~BackupManager() {
    // Running jobs use the members; they must end before any of them goes.
    m_executor.waitForDone();
}

QString BackupManager::defaultBackupRoot() {
    QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (base.isEmpty())
        base = QDir::homePath();
    return base + QStringLiteral("/Orvik/Backups");
}

void BackupManager::setClock(std::function<QDateTime()> clock) {
    m_clock = std::move(clock);
}

void BackupManager::setLinkFunction(LinkFunction link) {
    linkOverride.store(link);
}

QDateTime BackupManager::now() const {
    return m_clock ? m_clock() : QDateTime::currentDateTime();
}

QFuture<BackupManager::RunResult> BackupManager::runIfNeeded() {
    return QtConcurrent::run(&m_executor, handedOver([this] { return runIfNeededNow(); }));
}

QFuture<QList<BackupManager::Snapshot>> BackupManager::snapshots() {
    return QtConcurrent::run(&m_executor, handedOver([this] { return listSnapshots(); }));
}

BackupManager::RunResult BackupManager::runIfNeededNow() {
    using Status = RunResult::Status;
    RunResult result;
    const std::optional<std::vector<SheetFile>> sheets = walkLibrary(m_source, m_backupRoot);
    if (!sheets) {
        result.status = Status::LibraryUnreadable;
        result.folder = m_source;
        return result;
    }
    if (sheets->empty())
        return result;

    QByteArrayList lines;
    lines.reserve(qsizetype(sheets->size()));
    for (const SheetFile& sheet : *sheets)
        lines.append(fingerprintLine(QFile::decodeName(sheet.relative), sheet.st.st_size,
                                     modifiedSeconds(sheet.st)));
    const QString fingerprint = joinLines(lines);
    const QString markerPath = m_backupRoot + QLatin1Char('/') + QLatin1String(markerName);
    if (files::readText(markerPath) == fingerprint)
        return result;

    QDir().mkpath(m_backupRoot);
    const QDir root(m_backupRoot);
    if (!root.exists()) {
        result.status = Status::FolderNotCreated;
        result.folder = m_backupRoot;
        return result;
    }
    const QList<Snapshot> earlier = listSnapshots();

    // Two runs within one second get the same stamp. Copying into the older
    // snapshot would mix the two and, with nothing copied, remove it; waiting
    // for the next second keeps every snapshot apart under a parseable name.
    // mkdir, unlike mkpath, fails on an existing folder, which is what tells us.
    QString stamp = library::stamp(now());
    for (int waits = 0;; ++waits) {
        if (stamp != m_lastStamp) {
            if (root.mkdir(stamp))
                break;
            if (!isTaken(root.filePath(stamp))) {
                result.status = Status::FolderNotCreated;
                result.folder = root.filePath(stamp);
                return result;
            }
        }
        if (waits == maxStampWaits) {
            result.status = Status::FolderNotCreated;
            result.folder = root.filePath(stamp);
            return result;
        }
        const qint64 msecs = QDateTime::currentMSecsSinceEpoch();
        QThread::msleep(static_cast<unsigned long>(1000 - msecs % 1000 + 1));
        stamp = library::stamp(now());
    }
    const QString folder = root.filePath(stamp);

    SnapshotWriter writer(QFile::encodeName(folder), *sheets);
    if (!earlier.isEmpty())
        writer.linkFrom(QFile::encodeName(earlier.first().path));
    QByteArray sourceRoot = QFile::encodeName(absoluteClean(m_source));
    if (!sourceRoot.endsWith('/'))
        sourceRoot += '/';
    for (const SheetFile& sheet : *sheets) {
        if (!writer.store(sourceRoot + sheet.relative, sheet.relative))
            result.failed.append(QFile::decodeName(sheet.relative));
    }
    if (result.failed.size() == qsizetype(sheets->size())) {
        removeTree(folder);
        result.status = Status::NothingCopied;
        return result;
    }
    m_lastStamp = stamp;
    result.snapshot = folder;
    recordMade(m_backupRoot, stamp);
    if (result.failed.isEmpty()) {
        result.status = Status::Made;
        // A failed write only means the next run copies the library once more.
        files::writeTextAtomically(markerPath, fingerprint);
    } else {
        // Without the marker the next run tries again, also when nothing changed.
        result.status = Status::Incomplete;
        result.failed.sort();
    }
    QSet<QByteArray> present;
    present.reserve(qsizetype(sheets->size()));
    for (const SheetFile& sheet : *sheets)
        present.insert(sheet.relative);
    result.future = prune(present);
    return result;
}

QList<BackupManager::CollectedFile> BackupManager::collectFiles(const QString& source,
                                                                const QString& backupRoot) {
    QList<CollectedFile> files;
    const std::optional<std::vector<SheetFile>> sheets = walkLibrary(source, backupRoot);
    if (!sheets)
        return files;
    QString root = absoluteClean(source);
    if (!root.endsWith(QLatin1Char('/')))
        root += QLatin1Char('/');
    files.reserve(qsizetype(sheets->size()));
    for (const SheetFile& sheet : *sheets) {
        const QString relative = QFile::decodeName(sheet.relative);
        files.append({root + relative, relative});
    }
    return files;
}

QString BackupManager::fingerprintOf(const QList<CollectedFile>& files) {
    QByteArrayList lines;
    lines.reserve(files.size());
    for (const CollectedFile& file : files) {
        struct stat st;
        if (::stat(QFile::encodeName(file.path).constData(), &st) == 0)
            lines.append(fingerprintLine(file.relative, st.st_size, modifiedSeconds(st)));
        else
            lines.append(fingerprintLine(file.relative, 0, 0));
    }
    return joinLines(lines);
}

QStringList BackupManager::prune(const QSet<QByteArray>& present) {
    QList<Snapshot> all = listSnapshots();
    if (all.isEmpty())
        return {};
    std::reverse(all.begin(), all.end());
    const QDateTime clock = now();
    QSet<QString> keep = snapshotsToKeep(all, clock);
    // A library opened straight from an old snapshot must not be thinned away.
    const auto goes = [&](const Snapshot& snapshot) {
        return !keep.contains(snapshot.path) && !isSameOrInside(m_source, snapshot.path);
    };
    if (std::any_of(all.cbegin(), all.cend(), goes)) {
        const QList<qint64> age = agesOf(all, clock);
        keep.unite(lastCopiesOfMissing(all, present, age, clock));
        for (qsizetype i = 0; i < all.size(); ++i) {
            if (!isAhead(all[i], clock) && age[i] <= longestWindow * 1000 &&
                isTaken(all[i].path + QLatin1Char('/') + QLatin1String(beforeRestoreName)))
                keep.insert(all[i].path);
        }
    }
    QStringList future;
    for (const Snapshot& snapshot : all) {
        if (goes(snapshot))
            removeTree(snapshot.path);
    }
    for (const Snapshot& snapshot : std::as_const(all)) {
        if (isAhead(snapshot, clock))
            future.append(snapshot.path);
    }
    return future;
}

QSet<QString> BackupManager::lastCopiesOfMissing(const QList<Snapshot>& snapshots,
                                                 const QSet<QByteArray>& present,
                                                 const QList<qint64>& age,
                                                 const QDateTime& now) const {
    // A sheet deleted, by hand or by a sync tool gone wrong, lives on only in
    // the snapshots: the newest one that holds it stays while the rule reaches.
    QSet<QString> keep;
    QSet<QByteArray> seen;
    for (qsizetype i = snapshots.size() - 1; i >= 0; --i) {
        const Snapshot& snapshot = snapshots[i];
        if (isAhead(snapshot, now))
            continue;
        if (age[i] > longestWindow * 1000)
            break;
        const std::optional<std::vector<SheetFile>> sheets =
            walkLibrary(snapshot.path, m_backupRoot);
        if (!sheets)
            continue;
        for (const SheetFile& sheet : *sheets) {
            if (present.contains(sheet.relative) || seen.contains(sheet.relative))
                continue;
            seen.insert(sheet.relative);
            keep.insert(snapshot.path);
        }
    }
    return keep;
}

QList<BackupManager::Snapshot> BackupManager::listSnapshots() const {
    QList<Snapshot> result;
    // Without NoSymLinks a link named like a stamp would have the folder it
    // points to emptied by pruning.
    const QFileInfoList entries =
        QDir(m_backupRoot)
            .entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::NoSymLinks, QDir::Name);
    for (const QFileInfo& entry : entries) {
        const QDateTime date = library::parseStamp(entry.fileName());
        if (date.isValid())
            result.append({entry.filePath(), date});
    }
    // Those made before the order was recorded come first, by date; the
    // recorded ones follow in the order they were made.
    QHash<QString, qsizetype> made;
    const QByteArrayList names =
        files::readBytes(m_backupRoot + QLatin1Char('/') + QLatin1String(orderName))
            .value_or(QByteArray())
            .split('\n');
    for (const QByteArray& name : names) {
        if (!name.isEmpty())
            made.insert(QString::fromUtf8(name), made.size());
    }
    const auto rank = [&](const Snapshot& s) {
        return made.value(QFileInfo(s.path).fileName(), -1);
    };
    std::stable_sort(result.begin(), result.end(), [&](const Snapshot& a, const Snapshot& b) {
        const qsizetype ra = rank(a);
        const qsizetype rb = rank(b);
        if (ra < 0 && rb < 0)
            return a.date > b.date;
        return ra > rb;
    });
    return result;
}

QSet<QString> BackupManager::snapshotsToKeep(const QList<Snapshot>& snapshots,
                                             const QDateTime& now) {
    QSet<QString> keep;
    const QList<qint64> age = agesOf(snapshots, now);
    for (const Snapshot& snapshot : snapshots) {
        if (isAhead(snapshot, now))
            keep.insert(snapshot.path);
    }

    const auto keepNewestPerBucket = [&](qint64 windowSeconds, auto bucketOf) {
        QHash<QString, qsizetype> chosen;
        for (qsizetype i = 0; i < snapshots.size(); ++i) {
            const Snapshot& snapshot = snapshots[i];
            // In milliseconds, so that a snapshot 12 hours and a fraction of a
            // second old is outside.
            if (isAhead(snapshot, now) || age[i] > windowSeconds * 1000)
                continue;
            const QString key = bucketOf(snapshot.date.toLocalTime());
            const auto it = chosen.find(key);
            if (it == chosen.end())
                chosen.insert(key, i);
            else if (snapshots[*it].date < snapshot.date)
                *it = i;
        }
        for (const qsizetype i : std::as_const(chosen))
            keep.insert(snapshots[i].path);
    };

    keepNewestPerBucket(43200, [](const QDateTime& d) {
        return QStringLiteral("h%1-%2-%3-%4")
            .arg(d.date().year())
            .arg(d.date().month())
            .arg(d.date().day())
            .arg(d.time().hour());
    });
    keepNewestPerBucket(604800, [](const QDateTime& d) {
        return QStringLiteral("d%1-%2-%3")
            .arg(d.date().year())
            .arg(d.date().month())
            .arg(d.date().day());
    });
    keepNewestPerBucket(longestWindow, [](const QDateTime& d) {
        int weekYear = 0;
        const int week = d.date().weekNumber(&weekYear);
        return QStringLiteral("w%1-%2").arg(weekYear).arg(week);
    });

    const Snapshot* newest = nullptr;
    for (const Snapshot& snapshot : snapshots) {
        if (!isAhead(snapshot, now) && (!newest || newest->date < snapshot.date))
            newest = &snapshot;
    }
    if (newest)
        keep.insert(newest->path);
    return keep;
}

} // namespace orvik
