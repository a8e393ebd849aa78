#include "files.h"

#include "text.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QTemporaryFile>

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
    // The hidden name keeps a half-written file out of every listing.
    QTemporaryFile file(target.absolutePath() + QStringLiteral("/.orvik-XXXXXX"));
    if (!file.open() || file.write(bytes) != bytes.size() || !file.flush() ||
        ::fsync(file.handle()) != 0)
        return false;
    // A renamed temporary file would still be removed with its object.
    file.setAutoRemove(false);
    // Renaming never replaces an existing file.
    if (file.rename(path))
        return true;
    file.remove();
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
