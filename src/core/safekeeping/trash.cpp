#include "trash.h"

#include "library/files.h"
#include "library/library.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

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

QFileInfoList trashContents(const QString& path) {
    return QDir(path).entryInfoList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}
} // namespace

Trash::Trash(const QString& libraryRoot)
    : m_url(QUrl::fromLocalFile(QDir(libraryRoot).filePath(QLatin1String(folderName)))) {}

void Trash::ensureExists() const {
    QDir().mkpath(path());
}

std::optional<QString> Trash::move(const QString& sheetPath, const QString& fromFolder) const {
    ensureExists();
    const QFileInfo source(sheetPath);
    const QString name = source.fileName();
    const QString target = QDir(path()).filePath(
        files::firstFreeName(path(), source.completeBaseName(), source.suffix()));
    if (!QFile::rename(sheetPath, target))
        return std::nullopt;
    QList<Entry> entries = readIndex();
    entries.append(
        Entry{QFileInfo(target).fileName(), fromFolder, name, QDateTime::currentDateTimeUtc()});
    saveIndex(entries);
    return target;
}

std::optional<QString> Trash::restore(const QString& trashedPath, const QString& root) const {
    QList<Entry> entries = readIndex();
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
    const QString target = QDir(group).filePath(
        files::firstFreeName(group, wanted.completeBaseName(), wanted.suffix()));
    if (!QFile::rename(trashedPath, target))
        return std::nullopt;
    entries.removeIf([&](const Entry& e) { return e.fileName == name; });
    saveIndex(entries);
    return target;
}

void Trash::deleteForever(const QString& trashedPath) const {
    QFile::remove(trashedPath);
    const QString name = QFileInfo(trashedPath).fileName();
    QList<Entry> entries = readIndex();
    entries.removeIf([&](const Entry& e) { return e.fileName == name; });
    saveIndex(entries);
}

void Trash::empty() const {
    for (const QFileInfo& item : trashContents(path())) {
        if (hasExtensionMd(item.fileName()))
            QFile::remove(item.absoluteFilePath());
    }
    saveIndex({});
}

bool Trash::isEmpty() const {
    const QFileInfoList items = trashContents(path());
    return std::none_of(items.begin(), items.end(),
                        [](const QFileInfo& item) { return hasExtensionMd(item.fileName()); });
}

QList<Trash::Entry> Trash::readIndex() const {
    const auto bytes = files::readBytes(QDir(path()).filePath(QLatin1String(indexFileName)));
    if (!bytes)
        return {};
    return decodeIndex(*bytes).value_or(QList<Entry>{});
}

void Trash::saveIndex(const QList<Entry>& entries) const {
    const QString indexPath = QDir(path()).filePath(QLatin1String(indexFileName));
    // An index we cannot read may still be the only record of where trashed sheets
    // came from: keep it aside instead of overwriting it.
    if (const auto old = files::readBytes(indexPath);
        old && !old->trimmed().isEmpty() && !decodeIndex(*old)) {
        const QString aside = files::firstFreeName(path(),
                                                   QStringLiteral(".eintraege-unlesbar-") +
                                                       library::stamp(QDateTime::currentDateTime()),
                                                   QStringLiteral("json"));
        QFile::rename(indexPath, QDir(path()).filePath(aside));
    }
    files::writeAtomically(indexPath, encodeIndex(entries));
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
