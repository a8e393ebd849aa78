#include "command.h"

#include "platform/files.h"
#include "safekeeping/backupmanager.h"
#include "safekeeping/history.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonObject>

using namespace Qt::StringLiterals;

// The snapshots as a history: earlier versions of a sheet, one of them written
// back, and the sheets a library lost brought back.
namespace orvik::cli {

namespace {

QString below(const QString& path, const QString& root) {
    const QString prefix = root.endsWith(u'/') ? root : root + u'/';
    return path.startsWith(prefix) ? path.mid(prefix.size()) : QString();
}

// The sheet's path relative to the library. Named as a path from here, or,
// when that leads outside, from the library; it need not exist any longer,
// so a linked folder on the way is resolved through the part that does.
std::optional<QString> relativeInLibrary(const Context& c, const QString& file) {
    const QString absolute = QDir::cleanPath(QDir::current().absoluteFilePath(file));
    QString relative = below(absolute, QDir::cleanPath(c.root));
    if (relative.isEmpty()) {
        QString existing = absolute;
        while (!QFileInfo::exists(existing) && existing != QDir::rootPath())
            existing = QFileInfo(existing).absolutePath();
        const QString canonical =
            QFileInfo(existing).canonicalFilePath() + absolute.mid(existing.size());
        relative = below(canonical, QFileInfo(c.root).canonicalFilePath());
    }
    if (relative.isEmpty() && QDir::isRelativePath(file)) {
        const QString clean = QDir::cleanPath(file);
        if (clean != u".." && !clean.startsWith(u"../"_s) && clean != u".")
            relative = clean;
    }
    if (relative.isEmpty())
        return std::nullopt;
    return relative;
}

int notInLibrary(const Context& c, const QString& file) {
    return c.fail(
        QStringLiteral("%1 liegt nicht in der Bibliothek %2.").arg(quoted(file), quoted(c.root)));
}

int usage(const Context& c, const QString& synopsis) {
    c.err << "orvik: Aufruf: orvik " << synopsis << "\nHilfe: orvik --help\n";
    return Usage;
}

// The snapshot named by --at, or the newest; reported when there is none.
std::optional<BackupManager::Snapshot> chosenSnapshot(const Context& c,
                                                      const QList<BackupManager::Snapshot>& all,
                                                      const QString& location) {
    const std::optional<QString> name = c.option(u"--at"_s);
    if (!name) {
        if (all.isEmpty())
            c.fail(QStringLiteral("Noch keine Sicherungen in %1.").arg(quoted(location)));
        return all.isEmpty() ? std::nullopt : std::optional(all.first());
    }
    const auto snapshot = history::snapshotNamed(all, *name);
    if (!snapshot)
        c.fail(QStringLiteral("Die Sicherung %1 gibt es nicht; orvik backups listet die "
                              "vorhandenen.")
                   .arg(quoted(*name)));
    return snapshot;
}

// The version of `relative` in the snapshot named by --at.
std::optional<QString> versionAt(const Context& c, const QString& relative) {
    BackupManager manager(c.root);
    const auto snapshot = chosenSnapshot(c, manager.snapshots().result(), manager.location());
    if (!snapshot)
        return std::nullopt;
    const auto file = history::fileIn(*snapshot, relative);
    if (!file)
        c.fail(QStringLiteral("In der Sicherung %1 gibt es kein Blatt %2.")
                   .arg(quoted(QFileInfo(snapshot->path).fileName()), quoted(relative)));
    return file;
}

int cmdHistory(const Context& c) {
    const auto relative = relativeInLibrary(c, c.argument(0));
    if (!relative)
        return notInLibrary(c, c.argument(0));
    BackupManager manager(c.root);
    const QList<history::Version> versions = history::versionsOf(
        manager.snapshots().result(), *relative, QDir::cleanPath(c.root) + u'/' + *relative);
    if (c.json()) {
        QJsonArray array;
        for (const history::Version& v : versions)
            array.append(QJsonObject{{u"snapshot"_s, v.snapshot},
                                     {u"date"_s, isoDate(v.date)},
                                     {u"size"_s, v.size},
                                     {u"words"_s, v.words},
                                     {u"path"_s, v.path}});
        c.print(QJsonDocument(array));
        return Success;
    }
    if (versions.isEmpty())
        c.out << "Keine früheren Fassungen von " << quoted(*relative) << " in den Sicherungen.\n";
    for (const history::Version& v : versions)
        c.out << germanDate(v.date) << " · " << v.words << (v.words == 1 ? " Wort" : " Wörter")
              << '\n';
    return Success;
}

int cmdShow(const Context& c) {
    if (!c.option(u"--at"_s))
        return usage(c, u"show DATEI --at SICHERUNG"_s);
    const auto relative = relativeInLibrary(c, c.argument(0));
    if (!relative)
        return notInLibrary(c, c.argument(0));
    const auto file = versionAt(c, *relative);
    if (!file)
        return Failed;
    const std::optional<QByteArray> bytes = files::readBytes(*file);
    if (!bytes)
        return c.fail(QStringLiteral("%1 lässt sich nicht lesen.").arg(quoted(*file)));
    // The bytes as they are: the stream would re-encode them as text.
    c.out.flush();
    QIODevice* device = c.out.device();
    if (!device)
        c.out << QString::fromUtf8(*bytes);
    else if (device->write(*bytes) != bytes->size())
        return c.fail(QStringLiteral("Die Ausgabe ließ sich nicht schreiben."));
    return Success;
}

int cmdRestoreVersion(const Context& c) {
    if (!c.option(u"--at"_s))
        return usage(c, u"restore-version DATEI --at SICHERUNG"_s);
    const auto relative = relativeInLibrary(c, c.argument(0));
    if (!relative)
        return notInLibrary(c, c.argument(0));
    const auto file = versionAt(c, *relative);
    if (!file)
        return Failed;
    BackupManager manager(c.root);
    const history::Restored restored = history::restoreVersion(manager, *relative, *file);
    switch (restored.status) {
    case history::Restored::Status::Restored:
        break;
    case history::Restored::Status::NotBackedUp:
        return c.fail(QStringLiteral("Der jetzige Stand von %1 ließ sich nicht sichern; das Blatt "
                                     "bleibt, wie es ist.")
                          .arg(quoted(restored.path)));
    case history::Restored::Status::Unreadable:
        return c.fail(QStringLiteral("%1 lässt sich nicht lesen.").arg(quoted(*file)));
    case history::Restored::Status::NotWritten:
        return c.fail(QStringLiteral("%1 ließ sich nicht schreiben.").arg(quoted(restored.path)));
    }
    if (c.json())
        c.print(QJsonDocument(QJsonObject{{u"path"_s, restored.path}}));
    else
        c.out << "Wiederhergestellt: " << restored.path << '\n';
    return Success;
}

int cmdRecover(const Context& c) {
    BackupManager manager(c.root);
    const auto snapshot = chosenSnapshot(c, manager.snapshots().result(), manager.location());
    if (!snapshot)
        return Failed;
    const bool dryRun = c.flag(u"--dry-run"_s);
    const QString root = QDir::cleanPath(c.root);
    QJsonArray array;
    bool failed = false;
    bool any = false;
    for (const QString& relative :
         history::missingSheets(snapshot->path, root, manager.location())) {
        const QString target = root + u'/' + relative;
        if (!dryRun && !history::copyBack(snapshot->path + u'/' + relative, target)) {
            failed = true;
            c.fail(QStringLiteral("%1 ließ sich nicht zurückholen.").arg(quoted(target)));
            continue;
        }
        any = true;
        if (c.json())
            array.append(target);
        else
            c.out << (dryRun ? "Fehlt: " : "Zurückgeholt: ") << target << '\n';
    }
    if (c.json())
        c.print(QJsonDocument(array));
    else if (!any && !failed)
        c.out << "In der Bibliothek fehlt kein Blatt der Sicherung "
              << quoted(QFileInfo(snapshot->path).fileName()) << ".\n";
    return failed ? Failed : Success;
}

} // namespace

QList<Command> historyCommands() {
    return {
        {u"history"_s,
         u"history DATEI"_s,
         u"Frühere Fassungen eines Blatts aus den Sicherungen, neueste zuerst"_s,
         1,
         1,
         {},
         true,
         cmdHistory},
        {u"show"_s,
         u"show DATEI --at SICHERUNG"_s,
         u"Die Fassung eines Blatts aus einer Sicherung ausgeben"_s,
         1,
         1,
         {u"--at"_s},
         true,
         cmdShow},
        {u"restore-version"_s,
         u"restore-version DATEI --at SICHERUNG"_s,
         u"Eine frühere Fassung zurückholen; der jetzige Stand wird vorher gesichert"_s,
         1,
         1,
         {u"--at"_s},
         true,
         cmdRestoreVersion},
        {u"recover"_s,
         u"recover [--at SICHERUNG] [--dry-run]"_s,
         u"Fehlende Blätter aus der (neuesten) Sicherung zurückholen, nichts überschreiben"_s,
         0,
         0,
         {u"--at"_s},
         true,
         cmdRecover,
         {u"--dry-run"_s},
         // A welcome sheet set up in a library folder that went missing would
         // keep the one in the snapshot from coming back.
         false},
    };
}

} // namespace orvik::cli
