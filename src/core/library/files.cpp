#include "files.h"

#include "text.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSaveFile>
#include <QTextBoundaryFinder>

#include <cerrno>

#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace orvik::files {

std::optional<QByteArray> readBytes(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return std::nullopt;
    return bytes;
}

std::optional<QString> readText(const QString& path) {
    const auto bytes = readBytes(path);
    if (!bytes)
        return std::nullopt;
    return text::decodeUtf8(*bytes);
}

bool writeAtomically(const QString& path, const QByteArray& bytes) {
    QSaveFile file(path);
    // Unbuffered: QSaveFile misses an error of its final flush and would put a
    // cut-off file in place of the old one, reporting success (a full disk).
    // Errors some file systems report only when the data reaches the disk
    // come from fsync, which QSaveFile ignores.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return false;
    if (file.write(bytes) != bytes.size() || ::fsync(file.handle()) != 0) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

bool writeTextAtomically(const QString& path, const QString& text) {
    return writeAtomically(path, text.toUtf8());
}

bool writeNewAtomically(const QString& path, const QByteArray& bytes) {
    const QFileInfo target(path);
    if (target.exists() || target.isSymLink())
        return false;
    const QByteArray finalName = QFile::encodeName(target.absoluteFilePath());
    // The hidden name keeps a half-written file out of every listing. Created
    // with the usual 0666 so the umask gives it the permissions of any other
    // sheet, not a temporary file's 0600.
    QByteArray tempName;
    int fd = -1;
    for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
        tempName = QFile::encodeName(target.absolutePath()) + "/.orvik-" +
                   QByteArray::number(QRandomGenerator::global()->generate64(), 36);
        fd = ::open(tempName.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST)
            return false;
    }
    if (fd < 0)
        return false;
    bool written = true;
    for (qsizetype done = 0; written && done < bytes.size();) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n > 0)
            done += n;
        else if (n == 0 || errno != EINTR)
            written = false;
    }
    written = written && ::fsync(fd) == 0;
    written = ::close(fd) == 0 && written;
    // Never replaces a file that appeared meanwhile; where the file system
    // cannot rename that way, a hard link is just as exclusive.
    if (written && ::renameat2(AT_FDCWD, tempName.constData(), AT_FDCWD, finalName.constData(),
                               RENAME_NOREPLACE) == 0)
        return true;
    if (written && (errno == EINVAL || errno == ENOSYS) &&
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
    const QByteArray source = QFile::encodeName(from);
    const QByteArray target = QFile::encodeName(to);
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
    const QByteArray source = QFile::encodeName(from);
    const QByteArray target = QFile::encodeName(to);
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
    const QByteArray name = QFile::encodeName(path);
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
    return stamp(QFileInfo(path));
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
    if (QFile::encodeName(stem).size() <= room)
        return stem;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, stem);
    qsizetype end = 0;
    qsizetype used = 0;
    for (qsizetype next = finder.toNextBoundary(); next > end; next = finder.toNextBoundary()) {
        used += QFile::encodeName(stem.mid(end, next - end)).size();
        if (used > room)
            break;
        end = next;
    }
    return stem.left(end);
}

qsizetype nameMax(const QString& folder) {
    const long max = ::pathconf(QFile::encodeName(folder).constData(), _PC_NAME_MAX);
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
        name = cutToBytes(stem, max - QFile::encodeName(rest).size()) + rest;
        const QFileInfo at(dir.filePath(name));
        if (!at.exists() && !at.isSymLink())
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
    const QByteArray name = QFile::encodeName(target.absoluteFilePath());
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
        const QByteArray tempName = QFile::encodeName(temp);
        if (::chmod(tempName.constData(), st.st_mode & 0777) == 0 &&
            ::rename(tempName.constData(), name.constData()) == 0)
            return TargetWrite::Written;
        ::unlink(tempName.constData());
        return TargetWrite::Failed;
    }
    return TargetWrite::Failed;
}

} // namespace orvik::files
