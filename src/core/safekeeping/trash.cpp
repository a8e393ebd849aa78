#include "trash.h"

#include "library/conflicts.h"
#include "library/library.h"
#include "platform/files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>

#include <cerrno>
#include <cstdio>
#include <memory>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

namespace orvik {

namespace {
const QDateTime& referenceDate() {
    static const QDateTime reference(QDate(2001, 1, 1), QTime(0, 0), Qt::UTC);
    return reference;
}

QByteArray jsonString(const QString& s) {
    const QByteArray compact = QJsonDocument(QJsonArray{s}).toJson(QJsonDocument::Compact);
    return compact.mid(1, compact.size() - 2);
}

QByteArray jsonNumber(double v) {
    const QByteArray compact = QJsonDocument(QJsonArray{v}).toJson(QJsonDocument::Compact);
    return compact.mid(1, compact.size() - 2);
}

bool hasExtensionMd(const QString& name) {
    return QFileInfo(name).suffix().toLower() == u"md";
}

// An entry that could place a file outside the library, or nowhere, is no guide.
bool isSafe(const Trash::Entry& entry) {
    return files::isPlainName(entry.originalFolder) && files::isPlainName(entry.originalName);
}

enum class Type { Missing, Folder, File, Other };

// The entry itself, never what a link points to.
Type typeOf(const QString& path) {
    struct stat st;
    if (::lstat(files::encodeName(path).constData(), &st) != 0)
        return errno == ENOENT ? Type::Missing : Type::Other;
    return S_ISDIR(st.st_mode) ? Type::Folder : S_ISREG(st.st_mode) ? Type::File : Type::Other;
}

// The trash's lock, held only while the trash is one that operations may touch.
std::unique_ptr<files::FileLock> lockUsable(const Trash& trash) {
    if (trash.obstacle())
        return nullptr;
    auto lock = std::make_unique<files::FileLock>(
        QDir(trash.path()).filePath(QLatin1String(Trash::lockFileName)));
    // Again under the lock: another process may have changed it meanwhile.
    if (!lock->isHeld() || trash.obstacle())
        return nullptr;
    return lock;
}

// The paths of what lies in the trash with a sheet's extension, read as bytes:
// Qt's listing would give a name that is no UTF-8 replaced, naming nothing.
QStringList trashedSheets(const QString& path) {
    QStringList paths;
    DIR* dir = ::opendir(files::encodeName(path).constData());
    if (!dir)
        return paths;
    while (const dirent* entry = ::readdir(dir)) {
        const QString name = files::decodeName(entry->d_name);
        if (name != u"." && name != u".." && hasExtensionMd(name))
            paths.append(path + u'/' + name);
    }
    ::closedir(dir);
    return paths;
}

// A sync tool's conflict copy of the index, made when two devices trashed
// something before they met: "eintraege.sync-conflict-….json",
// "eintraege (conflicted copy ….json". Its names follow those of sheets.
bool isIndexCopy(const QString& name) {
    if (!name.endsWith(u".json") || name == QLatin1String(Trash::indexFileName))
        return false;
    const auto parsed = library::parseConflictName(name.chopped(5) + QStringLiteral(".md"));
    return parsed && parsed->originalName == u"eintraege.md";
}

QStringList indexCopies(const QString& folder) {
    QStringList paths;
    for (const QString& name :
         QDir(folder).entryList({QStringLiteral("eintraege*.json")}, QDir::Files, QDir::Name))
        if (isIndexCopy(name))
            paths.append(folder + u'/' + name);
    return paths;
}

// A second name in `folder` for the file at `path`, so that its bytes and
// dates stay as they were; a copy where the file system has no such names.
std::optional<QString> keepAlso(const QString& path, const QString& folder) {
    const QFileInfo info(path);
    std::optional<QByteArray> bytes;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QString target = QDir(folder).filePath(
            files::firstFreeName(folder, info.completeBaseName(), info.suffix()));
        if (!bytes) {
            if (::link(files::encodeName(path).constData(),
                       files::encodeName(target).constData()) == 0)
                return target;
            if (errno == EEXIST)
                continue;
            bytes = files::readBytes(path);
            if (!bytes)
                return std::nullopt;
        }
        if (files::writeNewAtomically(target, *bytes))
            return target;
        // Taken meanwhile: the next free name.
        if (typeOf(target) == Type::Missing)
            return std::nullopt;
    }
    return std::nullopt;
}
} // namespace

Trash::Trash(const QString& libraryRoot)
    : m_url(QUrl::fromLocalFile(QDir(libraryRoot).filePath(QLatin1String(folderName)))) {}

QString Trash::indexPath() const {
    return QDir(path()).filePath(QLatin1String(indexFileName));
}

void Trash::ensureExists() const {
    // mkpath would also take a dangling link for a place to create the folder.
    if (typeOf(path()) == Type::Missing)
        QDir().mkpath(path());
}

std::optional<QString> Trash::obstacle() const {
    const Type folder = typeOf(path());
    if (folder != Type::Missing && folder != Type::Folder)
        return path();
    for (const QString& file : {indexPath(), QDir(path()).filePath(QLatin1String(lockFileName))}) {
        const Type type = typeOf(file);
        if (type != Type::Missing && type != Type::File)
            return file;
    }
    return std::nullopt;
}

std::optional<QString> Trash::move(const QString& sheetPath, const QString& fromFolder) const {
    ensureExists();
    const auto lock = lockUsable(*this);
    if (!lock)
        return std::nullopt;
    const QFileInfo source(sheetPath);
    const QString name = source.fileName();
    const auto target =
        files::moveToFreeName(sheetPath, path(), source.completeBaseName(), source.suffix());
    if (!target)
        return std::nullopt;
    QList<Entry> entries = indexUnderLock();
    entries.append(
        Entry{QFileInfo(*target).fileName(), fromFolder, name, QDateTime::currentDateTimeUtc()});
    saveIndex(entries);
    return target;
}

std::optional<QString> Trash::restore(const QString& trashedPath, const QString& root) const {
    const auto lock = lockUsable(*this);
    if (!lock)
        return std::nullopt;
    QList<Entry> entries = indexUnderLock();
    const QString name = QFileInfo(trashedPath).fileName();
    QString groupName = QStringLiteral("Ideen");
    QString targetName = name;
    for (const Entry& entry : std::as_const(entries)) {
        if (entry.fileName == name && isSafe(entry)) {
            groupName = entry.originalFolder;
            targetName = entry.originalName;
            break;
        }
    }
    const QString group = QDir(root).filePath(groupName);
    QDir().mkpath(group);
    const QFileInfo wanted(targetName);
    const auto target =
        files::moveToFreeName(trashedPath, group, wanted.completeBaseName(), wanted.suffix());
    if (!target)
        return std::nullopt;
    entries.removeIf([&](const Entry& e) { return e.fileName == name; });
    saveIndex(entries);
    return target;
}

bool Trash::deleteForever(const QString& trashedPath) const {
    ensureExists();
    const auto lock = lockUsable(*this);
    if (!lock)
        return false;
    ::unlink(files::encodeName(trashedPath).constData());
    const QString name = QFileInfo(trashedPath).fileName();
    QList<Entry> entries = indexUnderLock();
    entries.removeIf([&](const Entry& e) { return e.fileName == name; });
    saveIndex(entries);
    return true;
}

std::optional<QString> Trash::replaceWithCopy(const QString& sheetPath, const QString& copyPath,
                                              const QString& fromFolder) const {
    ensureExists();
    const auto lock = lockUsable(*this);
    if (!lock || typeOf(copyPath) != Type::File)
        return std::nullopt;
    const Type sheet = typeOf(sheetPath);
    if (sheet == Type::Missing) {
        if (files::moveNoReplace(copyPath, sheetPath) != files::MoveResult::Moved)
            return std::nullopt;
        return QString();
    }
    if (sheet != Type::File)
        return std::nullopt;
    const auto kept = keepAlso(sheetPath, path());
    if (!kept)
        return std::nullopt;
    // One rename: the sheet's name never names nothing, and a sync tool sees
    // the sheet changed rather than deleted and made again.
    if (::rename(files::encodeName(copyPath).constData(),
                 files::encodeName(sheetPath).constData()) != 0) {
        ::unlink(files::encodeName(*kept).constData());
        return std::nullopt;
    }
    QList<Entry> entries = indexUnderLock();
    entries.append(Entry{QFileInfo(*kept).fileName(), fromFolder, QFileInfo(sheetPath).fileName(),
                         QDateTime::currentDateTimeUtc()});
    saveIndex(entries);
    return kept;
}

void Trash::renameOrigin(const QString& fromFolder, const QString& toFolder) const {
    const auto lock = lockUsable(*this);
    if (!lock)
        return;
    QList<Entry> entries = indexUnderLock();
    bool changed = false;
    for (Entry& entry : entries) {
        if (entry.originalFolder == fromFolder) {
            entry.originalFolder = toFolder;
            changed = true;
        }
    }
    if (changed)
        saveIndex(entries);
}

bool Trash::empty() const {
    ensureExists();
    const auto lock = lockUsable(*this);
    if (!lock)
        return false;
    // Copies of the index from other devices go with it.
    indexUnderLock();
    for (const QString& item : trashedSheets(path()))
        ::unlink(files::encodeName(item).constData());
    saveIndex({});
    return true;
}

bool Trash::isEmpty() const {
    return trashedSheets(path()).isEmpty();
}

QList<Trash::Entry> Trash::readIndex() const {
    QStringList copies;
    QList<Entry> entries = readMerged(&copies);
    if (copies.isEmpty())
        return entries;
    const auto lock = lockUsable(*this);
    return lock ? indexUnderLock() : entries;
}

QList<Trash::Entry> Trash::readMerged(QStringList* merged) const {
    QList<Entry> entries;
    if (typeOf(indexPath()) == Type::File)
        if (const auto bytes = files::readBytes(indexPath()))
            entries = decodeIndex(*bytes).value_or(QList<Entry>{});
    for (const QString& copy : indexCopies(path())) {
        const auto bytes = files::readBytes(copy);
        const auto theirs = bytes ? decodeIndex(*bytes) : std::nullopt;
        // One that cannot be read may be the only record of an origin: left as it is.
        if (!theirs)
            continue;
        for (const Entry& entry : *theirs)
            if (!entries.contains(entry))
                entries.append(entry);
        merged->append(copy);
    }
    // Restored or deleted for good on another device: an entry left behind
    // would give the next file trashed under that name the wrong origin.
    const QDir folder(path());
    entries.removeIf([&](const Entry& entry) {
        return !files::isPlainName(entry.fileName) ||
               typeOf(folder.filePath(entry.fileName)) != Type::File;
    });
    return entries;
}

QList<Trash::Entry> Trash::indexUnderLock() const {
    QStringList copies;
    const QList<Entry> entries = readMerged(&copies);
    // The copies hold no text, only entries, and go once the index holds them.
    if (!copies.isEmpty() && saveIndex(entries))
        for (const QString& copy : std::as_const(copies))
            ::unlink(files::encodeName(copy).constData());
    return entries;
}

bool Trash::saveIndex(const QList<Entry>& entries) const {
    if (obstacle())
        return false;
    const QString index = indexPath();
    // An index we cannot read may still be the only record of where trashed sheets
    // came from: keep it aside instead of overwriting it.
    if (const auto old = files::readBytes(index);
        old && !old->trimmed().isEmpty() && !decodeIndex(*old)) {
        files::moveToFreeName(index, path(),
                              QStringLiteral(".eintraege-unlesbar-") +
                                  library::stamp(QDateTime::currentDateTime()),
                              QStringLiteral("json"));
    }
    // Written beside it and renamed over it: a rename replaces the name itself,
    // where writing through the name would follow a link placed there meanwhile.
    const QString fresh = QDir(path()).filePath(
        QStringLiteral(".eintraege-") +
        QString::number(QRandomGenerator::global()->generate64(), 36) + QStringLiteral(".neu"));
    if (!files::writeNewAtomically(fresh, encodeIndex(entries)))
        return false;
    if (::rename(files::encodeName(fresh).constData(), files::encodeName(index).constData()) != 0) {
        QFile::remove(fresh);
        return false;
    }
    return true;
}

QByteArray Trash::encodeIndex(const QList<Entry>& entries) {
    if (entries.isEmpty())
        return QByteArrayLiteral("[\n\n]");
    QByteArray out = "[\n";
    for (qsizetype i = 0; i < entries.size(); ++i) {
        const Entry& e = entries[i];
        const double seconds = referenceDate().msecsTo(e.deletedAt) / 1000.0;
        out += "  {\n";
        out += "    \"deletedAt\" : " + jsonNumber(seconds) + ",\n";
        out += "    \"fileName\" : " + jsonString(e.fileName) + ",\n";
        out += "    \"originalFolder\" : " + jsonString(e.originalFolder) + ",\n";
        out += "    \"originalName\" : " + jsonString(e.originalName) + "\n";
        out += i + 1 < entries.size() ? "  },\n" : "  }\n";
    }
    out += "]";
    return out;
}

std::optional<QList<Trash::Entry>> Trash::decodeIndex(const QByteArray& json) {
    if (json.trimmed().isEmpty())
        return QList<Entry>{};
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError || !doc.isArray())
        return std::nullopt;
    QList<Entry> entries;
    for (const QJsonValue& value : doc.array()) {
        if (!value.isObject())
            return std::nullopt;
        const QJsonObject o = value.toObject();
        const QJsonValue deletedAt = o.value(u"deletedAt");
        const QJsonValue fileName = o.value(u"fileName");
        const QJsonValue folder = o.value(u"originalFolder");
        const QJsonValue original = o.value(u"originalName");
        if (!deletedAt.isDouble() || !fileName.isString() || !folder.isString() ||
            !original.isString())
            return std::nullopt;
        const auto msecs = static_cast<qint64>(std::llround(deletedAt.toDouble() * 1000.0));
        entries.append(Entry{fileName.toString(), folder.toString(), original.toString(),
                             referenceDate().addMSecs(msecs)});
    }
    return entries;
}

} // namespace orvik
