#include "files.h"

#include "text.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSaveFile>

#include <cerrno>

#include <fcntl.h>
#include <stdio.h>
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

QString firstFreeName(const QString& folder, const QString& stem, const QString& ext) {
    const QString suffix = ext.isEmpty() ? QString() : QLatin1Char('.') + ext;
    const QDir dir(folder);
    QString name = stem + suffix;
    for (int n = 1;
         QFileInfo::exists(dir.filePath(name)) || QFileInfo(dir.filePath(name)).isSymLink(); ++n)
        name = stem + QLatin1Char('-') + QString::number(n) + suffix;
    return name;
}

bool isPlainName(const QString& name) {
    return !name.isEmpty() && name != QLatin1String(".") && name != QLatin1String("..") &&
           !name.contains(u'/') && !name.contains(QChar(0));
}

} // namespace orvik::files
