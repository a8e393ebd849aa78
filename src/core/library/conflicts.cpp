#include "conflicts.h"

#include "library.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

namespace orvik::library {

QString engineKey(ConflictEngine engine) {
    switch (engine) {
    case ConflictEngine::Syncthing:
        return QStringLiteral("syncthing");
    case ConflictEngine::Nextcloud:
        return QStringLiteral("nextcloud");
    case ConflictEngine::Orvik:
        break;
    }
    return QStringLiteral("orvik");
}

namespace {

struct Pattern {
    ConflictEngine engine;
    QRegularExpression stem; // captures: original stem, day, time
    QString dayFormat;
};

const QList<Pattern>& patterns() {
    static const QList<Pattern> all = [] {
        const auto re = [](const char* pattern) {
            return QRegularExpression(QString::fromUtf8(pattern),
                                      QRegularExpression::UseUnicodePropertiesOption);
        };
        return QList<Pattern>{
            {ConflictEngine::Syncthing, re(R"(^(.+)\.sync-conflict-(\d{8})-(\d{6})-[A-Z0-9]{7}$)"),
             QStringLiteral("yyyyMMdd")},
            {ConflictEngine::Nextcloud,
             re(R"(^(.+) \(conflicted copy (?:.+ )?(\d{4}-\d{2}-\d{2}) (\d{6})\)$)"),
             QStringLiteral("yyyy-MM-dd")},
            {ConflictEngine::Nextcloud, re(R"(^(.+)_conflict-(\d{8})-(\d{6})$)"),
             QStringLiteral("yyyyMMdd")},
            {ConflictEngine::Orvik,
             re("^(.+) \\(extern ge\xC3\xA4ndert (\\d{4}-\\d{2}-\\d{2}) (\\d{6})\\)(?:-\\d+)?$"),
             QStringLiteral("yyyy-MM-dd")},
        };
    }();
    return all;
}

// One tag taken off the stem; nothing when the stem carries none.
std::optional<ConflictName> peel(const QString& stem) {
    for (const Pattern& pattern : patterns()) {
        const QRegularExpressionMatch match = pattern.stem.match(stem);
        if (!match.hasMatch())
            continue;
        const QDateTime date = QDateTime::fromString(match.captured(2) + match.captured(3),
                                                     pattern.dayFormat + QStringLiteral("HHmmss"));
        if (!date.isValid())
            continue;
        return ConflictName{match.captured(1), pattern.engine, date};
    }
    return std::nullopt;
}

} // namespace

std::optional<ConflictName> parseConflictName(const QString& fileName) {
    if (!isSheetFileName(fileName))
        return std::nullopt;
    const qsizetype dot = fileName.size() - 3;
    const QString extension = fileName.mid(dot);
    std::optional<ConflictName> found = peel(fileName.left(dot));
    if (!found)
        return std::nullopt;
    // The engine and date are the outermost copy's; the original is the
    // innermost name, the sheet all of them were made of.
    QString stem = found->originalName;
    while (const std::optional<ConflictName> inner = peel(stem))
        stem = inner->originalName;
    found->originalName = stem + extension;
    return found;
}

QList<ConflictCopy> findConflictsIn(const QString& folderPath) {
    QList<ConflictCopy> copies;
    const QDir folder(folderPath);
    for (const QString& path : sheetFiles(folderPath)) {
        const std::optional<ConflictName> name = parseConflictName(QFileInfo(path).fileName());
        if (!name)
            continue;
        const QString original = folder.filePath(name->originalName);
        copies.append(ConflictCopy{path, QFileInfo(original).isFile() ? original : QString(),
                                   name->engine, name->date});
    }
    return copies;
}

QList<ConflictCopy> findConflicts(const QString& root) {
    QList<ConflictCopy> copies;
    for (const Folder& group : readGroups(root))
        copies.append(findConflictsIn(group.path()));
    return copies;
}

} // namespace orvik::library
