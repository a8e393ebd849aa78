#include "files.h"

#include "text.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTextBoundaryFinder>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <memory>

#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace orvik::files {

namespace {

bool isEscape(char16_t c) {
    return c >= 0xDC80 && c <= 0xDCFF;
}

// Something at `path`, a dangling link included.
bool taken(const QByteArray& path) {
    struct stat st;
    return ::lstat(path.constData(), &st) == 0;
}

bool writeAll(int fd, const QByteArray& bytes) {
    for (qsizetype done = 0; done < bytes.size();) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n > 0)
            done += n;
        else if (n == 0 || errno != EINTR)
            return false;
    }
    return true;
}

// Writes `bytes` into a new hidden file in `folder` and gives its name; the
// hidden name keeps a half-written file out of every listing. Created with
// the usual 0666 so the umask gives it the permissions of any other sheet,
// not a temporary file's 0600.
std::optional<QByteArray> writeTemporary(const QByteArray& folder, const QByteArray& bytes,
                                         const struct stat* like) {
    QByteArray tempName;
    int fd = -1;
    for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
        tempName =
            folder + "/.orvik-" + QByteArray::number(QRandomGenerator::global()->generate64(), 36);
        fd = ::open(tempName.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST)
            return std::nullopt;
    }
    if (fd < 0)
        return std::nullopt;
    bool written = writeAll(fd, bytes);
    // A file that replaces another keeps its permissions.
    if (like)
        written = written && ::fchmod(fd, like->st_mode & 07777) == 0;
    // Errors some file systems report only when the data reaches the disk
    // come from fsync.
    written = written && ::fsync(fd) == 0;
    written = ::close(fd) == 0 && written;
    if (!written) {
        ::unlink(tempName.constData());
        return std::nullopt;
    }
    return tempName;
}

QByteArray folderOf(const QByteArray& path) {
    const qsizetype slash = path.lastIndexOf('/');
    return slash < 0 ? QByteArray(".") : slash == 0 ? QByteArray("/") : path.first(slash);
}

} // namespace

QString decodeName(QByteArrayView name) {
    const auto* s = reinterpret_cast<const unsigned char*>(name.data());
    const qsizetype n = name.size();
    QString out;
    qsizetype run = 0;
    for (qsizetype i = 0; i < n;) {
        if (const int length = utf8SequenceLength(s + i, n - i)) {
            i += length;
            continue;
        }
        out += QString::fromUtf8(name.sliced(run, i - run));
        out += QChar(char16_t(0xDC00 + s[i]));
        run = ++i;
    }
    if (run == 0)
        return QString::fromUtf8(name);
    out += QString::fromUtf8(name.sliced(run));
    return out;
}

QByteArray encodeName(const QString& path) {
    QByteArray out;
    qsizetype run = 0;
    for (qsizetype i = 0; i < path.size(); ++i) {
        const char16_t c = path[i].unicode();
        // The low half of a pair is a character, not an escaped byte.
        if (!isEscape(c) || (i > 0 && path[i - 1].isHighSurrogate()))
            continue;
        out += QStringView(path).sliced(run, i - run).toUtf8();
        out += char(c - 0xDC00);
        run = i + 1;
    }
    if (run == 0)
        return path.toUtf8();
    out += QStringView(path).sliced(run).toUtf8();
    return out;
}

QString displayName(const QString& name) {
    QString shown = name;
    for (qsizetype i = 0; i < shown.size(); ++i)
        if (isEscape(shown[i].unicode()) && !(i > 0 && shown[i - 1].isHighSurrogate()))
            shown[i] = QChar::ReplacementCharacter;
    return shown;
}

int openRegular(const QString& path, struct stat& st) {
    const QByteArray name = encodeName(path);
    // Looked at before opening, as opening some devices already does something.
    if (::stat(name.constData(), &st) != 0)
        return -1;
    if (!S_ISREG(st.st_mode)) {
        errno = EINVAL;
        return -1;
    }
    const int fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        return -1;
    // The name may have been given to something else since.
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        errno = EINVAL;
        return -1;
    }
    return fd;
}

bool isRegularFile(const QString& path) {
    struct stat st;
    return ::stat(encodeName(path).constData(), &st) == 0 && S_ISREG(st.st_mode);
}

bool readChunks(const QString& path, qsizetype chunkBytes,
                const std::function<bool(QByteArrayView)>& piece, struct stat* status) {
    struct stat st;
    const int fd = openRegular(path, st);
    if (fd < 0)
        return false;
    if (status)
        *status = st;
    qint64 left = st.st_size;
    QByteArray buffer(qsizetype(std::clamp<qint64>(left, 1, chunkBytes)), Qt::Uninitialized);
    bool ok = true;
    for (bool more = true; more && left > 0;) {
        const ssize_t got =
            ::read(fd, buffer.data(), size_t(std::min<qint64>(buffer.size(), left)));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            // Shorter than at opening: what is there has been read.
            ok = got == 0;
            break;
        }
        left -= got;
        more = piece(QByteArrayView(buffer.constData(), got));
    }
    ::close(fd);
    return ok;
}

std::optional<QByteArray> readBytes(const QString& path) {
    struct stat st;
    const int fd = openRegular(path, st);
    if (fd < 0)
        return std::nullopt;
    QByteArray bytes(qsizetype(st.st_size), Qt::Uninitialized);
    qsizetype filled = 0;
    bool ok = true;
    while (filled < bytes.size()) {
        const ssize_t got = ::read(fd, bytes.data() + filled, size_t(bytes.size() - filled));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            ok = got == 0;
            break;
        }
        filled += got;
    }
    ::close(fd);
    if (!ok)
        return std::nullopt;
    bytes.truncate(filled);
    return bytes;
}

std::optional<QString> readText(const QString& path) {
    const auto bytes = readBytes(path);
    if (!bytes)
        return std::nullopt;
    return text::decodeUtf8(*bytes);
}

bool writeAtomically(const QString& path, const QByteArray& bytes) {
    QByteArray target = encodeName(QFileInfo(path).absoluteFilePath());
    // A link is written through: the link stays, its target gets the text.
    struct stat st;
    if (::lstat(target.constData(), &st) == 0 && S_ISLNK(st.st_mode)) {
        const std::unique_ptr<char, decltype(&std::free)> real(
            ::realpath(target.constData(), nullptr), &std::free);
        if (!real)
            return false;
        target = real.get();
    }
    const bool exists = ::stat(target.constData(), &st) == 0;
    // A file the user made read-only is not replaced behind its back.
    if (exists && (!S_ISREG(st.st_mode) || ::access(target.constData(), W_OK) != 0))
        return false;
    const auto temp = writeTemporary(folderOf(target), bytes, exists ? &st : nullptr);
    if (!temp)
        return false;
    if (::rename(temp->constData(), target.constData()) == 0)
        return true;
    ::unlink(temp->constData());
    return false;
}

bool writeTextAtomically(const QString& path, const QString& text) {
    return writeAtomically(path, text.toUtf8());
}

bool writeNewAtomically(const QString& path, const QByteArray& bytes) {
    const QByteArray finalName = encodeName(QFileInfo(path).absoluteFilePath());
    if (taken(finalName))
        return false;
    const auto temp = writeTemporary(folderOf(finalName), bytes, nullptr);
    if (!temp)
        return false;
    const QByteArray& tempName = *temp;
    // Never replaces a file that appeared meanwhile; where the file system
    // cannot rename that way, a hard link is just as exclusive.
    if (::renameat2(AT_FDCWD, tempName.constData(), AT_FDCWD, finalName.constData(),
                    RENAME_NOREPLACE) == 0)
        return true;
    if ((errno == EINVAL || errno == ENOSYS) &&
        ::link(tempName.constData(), finalName.constData()) == 0) {
        ::unlink(tempName.constData());
        return true;
    }
    ::unlink(tempName.constData());
    return false;
}

namespace {
bool isTaken(const QByteArray& path) {
    struct stat st;
    return ::lstat(path.constData(), &st) == 0;
}

// Where the file system cannot move a file by name (another device, no
// hard links), a copy that never replaces anything, then the original goes.
MoveResult copyThenRemove(const QString& from, const QString& to) {
    const QByteArray source = encodeName(from);
    const QByteArray target = encodeName(to);
    struct stat st;
    if (::lstat(source.constData(), &st) != 0 || !S_ISREG(st.st_mode))
        return MoveResult::Failed;
    if (isTaken(target))
        return MoveResult::Taken;
    const auto bytes = readBytes(from);
    if (!bytes)
        return MoveResult::Failed;
    if (!writeNewAtomically(to, *bytes))
        return isTaken(target) ? MoveResult::Taken : MoveResult::Failed;
    if (::unlink(source.constData()) == 0)
        return MoveResult::Moved;
    ::unlink(target.constData());
    return MoveResult::Failed;
}
} // namespace

MoveResult moveNoReplace(const QString& from, const QString& to) {
    const QByteArray source = encodeName(from);
    const QByteArray target = encodeName(to);
    if (::renameat2(AT_FDCWD, source.constData(), AT_FDCWD, target.constData(), RENAME_NOREPLACE) ==
        0)
        return MoveResult::Moved;
    if (errno == EEXIST)
        return MoveResult::Taken;
    if (errno == EXDEV)
        return copyThenRemove(from, to);
    if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP)
        return MoveResult::Failed;
    // A file system without the flag: a hard link is just as exclusive.
    if (::link(source.constData(), target.constData()) == 0) {
        if (::unlink(source.constData()) == 0)
            return MoveResult::Moved;
        ::unlink(target.constData());
        return MoveResult::Failed;
    }
    if (errno == EEXIST)
        return MoveResult::Taken;
    if (errno == EPERM || errno == EOPNOTSUPP || errno == EXDEV)
        return copyThenRemove(from, to);
    return MoveResult::Failed;
}

std::optional<QString> moveToFreeName(const QString& from, const QString& folder,
                                      const QString& stem, const QString& ext) {
    // Each name found taken was free a moment ago, so another program is busy
    // in the folder; the bound only stops a folder that fills without end.
    for (int attempt = 0; attempt < 1000; ++attempt) {
        const QString target = QDir(folder).filePath(firstFreeName(folder, stem, ext));
        switch (moveNoReplace(from, target)) {
        case MoveResult::Moved:
            return target;
        case MoveResult::Failed:
            return std::nullopt;
        case MoveResult::Taken:
            break;
        }
    }
    return std::nullopt;
}

FileLock::FileLock(const QString& path, int timeoutMs) {
    const QByteArray name = encodeName(path);
    constexpr int flags = O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY;
    int fd = ::open(name.constData(), O_RDWR | flags, 0666);
    if (fd < 0 && errno == EACCES)
        fd = ::open(name.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    struct stat st;
    if (fd < 0)
        return;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return;
    }
    // Polled rather than blocking, so that a holder that hangs costs a failed
    // operation, never a frozen window.
    const QDeadlineTimer deadline(timeoutMs);
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if ((errno != EWOULDBLOCK && errno != EINTR) || deadline.hasExpired()) {
            ::close(fd);
            return;
        }
        ::usleep(2000);
    }
    m_fd = fd;
}

FileLock::~FileLock() {
    if (m_fd >= 0)
        ::close(m_fd);
}

QByteArray contentHash(const QByteArray& bytes) {
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha1);
}

FileVersion stamp(const QString& path) {
    struct stat st;
    if (::stat(encodeName(path).constData(), &st) != 0)
        return {};
    return stamp(st);
}

FileVersion stamp(const struct stat& st) {
    FileVersion v;
    v.exists = true;
    v.size = st.st_size;
    // Milliseconds, as QFileInfo gives them.
    v.modified = QDateTime::fromMSecsSinceEpoch(qint64(st.st_mtim.tv_sec) * 1000 +
                                                st.st_mtim.tv_nsec / 1000000);
    return v;
}

FileVersion stamp(const QFileInfo& info) {
    FileVersion v;
    v.exists = info.exists();
    if (v.exists) {
        v.size = info.size();
        v.modified = info.lastModified();
    }
    return v;
}

FileVersion version(const QString& path, QByteArray* bytes) {
    FileVersion v = stamp(path);
    if (!v.exists)
        return v;
    const auto content = readBytes(path);
    if (!content) {
        // Unreadable: an existing file whose content is unknown.
        v.hash.clear();
        return v;
    }
    v.size = content->size();
    v.hash = contentHash(*content);
    if (bytes)
        *bytes = *content;
    return v;
}

namespace {

// The longest start of `stem`, whole user-perceived characters only, that
// takes at most `room` bytes as a file name.
QString cutToBytes(const QString& stem, qsizetype room) {
    if (encodeName(stem).size() <= room)
        return stem;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, stem);
    qsizetype end = 0;
    qsizetype used = 0;
    for (qsizetype next = finder.toNextBoundary(); next > end; next = finder.toNextBoundary()) {
        used += encodeName(stem.mid(end, next - end)).size();
        if (used > room)
            break;
        end = next;
    }
    return stem.left(end);
}

qsizetype nameMax(const QString& folder) {
    const long max = ::pathconf(encodeName(folder).constData(), _PC_NAME_MAX);
    return max > 0 ? qsizetype(max) : 255;
}

// The first of stem + tail(0), stem + tail(1), ... with nothing at that path;
// an empty tail(n) means n is not used.
template <typename Tail>
QString firstFree(const QString& folder, const QString& stem, const Tail& tail) {
    const QDir dir(folder);
    const qsizetype max = nameMax(folder);
    QString name;
    for (int n = 0;; ++n) {
        const QString rest = tail(n);
        if (n > 0 && rest.isEmpty())
            continue;
        name = cutToBytes(stem, max - encodeName(rest).size()) + rest;
        if (!taken(encodeName(dir.filePath(name))))
            return name;
    }
}

} // namespace

QString firstFreeName(const QString& folder, const QString& stem, const QString& ext,
                      const QString& tag) {
    const QString suffix = ext.isEmpty() ? QString() : QLatin1Char('.') + ext;
    return firstFree(folder, stem, [&](int n) -> QString {
        if (n == 0)
            return tag + suffix;
        return tag + QLatin1Char('-') + QString::number(n) + suffix;
    });
}

QString firstFreeCopyName(const QString& folder, const QString& stem, const QString& ext) {
    const QString suffix = ext.isEmpty() ? QString() : QLatin1Char('.') + ext;
    return firstFree(folder, stem, [&](int n) -> QString {
        if (n == 1)
            return {}; // the original is the first
        if (n == 0)
            return suffix;
        return QLatin1Char(' ') + QString::number(n) + suffix;
    });
}

bool isPlainName(const QString& name) {
    return !name.isEmpty() && name != QLatin1String(".") && name != QLatin1String("..") &&
           !name.contains(u'/') && !name.contains(QChar(0));
}

TargetWrite writeTarget(const QString& path, const QByteArray& bytes, bool replace) {
    const QFileInfo target(path);
    const QByteArray name = encodeName(target.absoluteFilePath());
    struct stat st {};
    if (::lstat(name.constData(), &st) != 0) {
        if (errno != ENOENT)
            return TargetWrite::Failed;
        if (writeNewAtomically(path, bytes))
            return TargetWrite::Written;
        return ::lstat(name.constData(), &st) == 0 ? TargetWrite::Exists : TargetWrite::Failed;
    }
    // Writing through a link reaches a file the user did not name (a sheet,
    // say); a FIFO's reader or a device would get nothing, since the rename
    // below takes their name away.
    if (!S_ISREG(st.st_mode))
        return TargetWrite::NotARegularFile;
    if (!replace)
        return TargetWrite::Exists;
    // A hidden new file beside it, then one rename over it: readers see the old
    // or the new content, and whatever took the name meanwhile is replaced
    // rather than followed.
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QString temp = target.absolutePath() + QStringLiteral("/.orvik-") +
                             QString::number(QRandomGenerator::global()->generate64(), 36);
        if (!writeNewAtomically(temp, bytes)) {
            if (QFileInfo(temp).isSymLink() || QFileInfo::exists(temp))
                continue;
            return TargetWrite::Failed;
        }
        const QByteArray tempName = encodeName(temp);
        if (::chmod(tempName.constData(), st.st_mode & 0777) == 0 &&
            ::rename(tempName.constData(), name.constData()) == 0)
            return TargetWrite::Written;
        ::unlink(tempName.constData());
        return TargetWrite::Failed;
    }
    return TargetWrite::Failed;
}

} // namespace orvik::files
