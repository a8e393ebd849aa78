#include "command.h"

#include "library/conflicts.h"
#include "library/import.h"
#include "library/library.h"
#include "library/template.h"
#include "platform/files.h"
#include "safekeeping/backupmanager.h"
#include "store/librarystore.h"

#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonObject>

#include <limits>

using namespace Qt::StringLiterals;

// The commands over the library: groups, sheets, search, trash and backups.
namespace orvik::cli {

namespace {

int cmdOverview(const Context& c) {
    const QList<Folder> groups = c.groups();
    if (c.json()) {
        QJsonArray array;
        for (const Folder& g : groups)
            array.append(QJsonObject{{u"name"_s, g.name},
                                     {u"kind"_s, rawValue(g.kind)},
                                     {u"path"_s, g.path()},
                                     {u"sheets"_s, library::readSheets(g.path()).size()}});
        c.print(QJsonDocument(QJsonObject{{u"library"_s, c.root}, {u"groups"_s, array}}));
        return Success;
    }
    c.out << "Bibliothek: " << c.root << "\n\n";
    for (const Folder& g : groups) {
        const qsizetype n = library::readSheets(g.path()).size();
        c.out << g.name << " – " << n << (n == 1 ? " Blatt" : " Blätter") << '\n';
    }
    c.out << "\nMehr mit: orvik --help\n";
    return Success;
}

int cmdGroups(const Context& c) {
    const QList<Folder> groups = c.groups();
    if (c.json()) {
        QJsonArray array;
        for (const Folder& g : groups)
            array.append(QJsonObject{
                {u"name"_s, g.name}, {u"kind"_s, rawValue(g.kind)}, {u"path"_s, g.path()}});
        c.print(QJsonDocument(array));
        return Success;
    }
    for (const Folder& g : groups)
        c.out << g.name << '\n';
    return Success;
}

int cmdSheets(const Context& c, const QString& name) {
    const auto group = c.group(name);
    if (!group)
        return c.fail(QStringLiteral("Die Gruppe %1 gibt es nicht.").arg(quoted(name)));
    if (group->kind == Folder::Kind::Trash && c.trash.obstacle())
        return trashFailure(c, QString());
    const QList<Sheet> sheets = library::readSheets(group->path());
    if (c.json()) {
        QJsonArray array;
        for (const Sheet& s : sheets)
            array.append(QJsonObject{{u"path"_s, s.path()},
                                     {u"title"_s, s.title},
                                     {u"preview"_s, s.preview},
                                     {u"wordCount"_s, s.wordCount},
                                     {u"modified"_s, isoDate(s.modified)}});
        c.print(QJsonDocument(array));
        return Success;
    }
    if (sheets.isEmpty())
        c.out << "Keine Blätter in " << quoted(group->name) << ".\n";
    for (const Sheet& s : sheets) {
        c.out << s.title << '\n'
              << "  " << germanDate(s.modified) << " · " << s.wordCount
              << (s.wordCount == 1 ? " Wort" : " Wörter") << '\n'
              << "  " << s.preview << '\n'
              << "  " << s.path() << '\n';
    }
    return Success;
}

int printPath(const Context& c, const QString& label, const QString& path) {
    if (c.json())
        c.print(QJsonDocument(QJsonObject{{u"path"_s, path}}));
    else
        c.out << label << path << '\n';
    return Success;
}

int cmdTrash(const Context& c, const QString& file) {
    const QFileInfo info(file);
    const QString groupPath = info.absolutePath();
    const bool inGroup = QFileInfo(QFileInfo(groupPath).absolutePath()) == QFileInfo(c.root) &&
                         !QFileInfo(groupPath).fileName().startsWith(u'.');
    if (!info.exists() || !info.isFile())
        return c.fail(QStringLiteral("Die Datei %1 gibt es nicht.").arg(quoted(file)));
    if (!inGroup || !library::isSheetFileName(info.fileName()))
        return c.fail(
            QStringLiteral("%1 ist kein Blatt einer Gruppe dieser Bibliothek.").arg(quoted(file)));
    const auto moved = c.trash.move(info.absoluteFilePath(), QFileInfo(groupPath).fileName());
    if (!moved)
        return trashFailure(
            c,
            QStringLiteral("%1 konnte nicht in den Papierkorb gelegt werden.").arg(quoted(file)));
    return printPath(c, QStringLiteral("Im Papierkorb: "), *moved);
}

// A trashed file named by its name, or by a path inside the trash folder.
std::optional<QString> trashedFile(const Context& c, const QString& nameOrPath) {
    const QString name = QFileInfo(nameOrPath).fileName();
    if (nameOrPath.contains(u'/') &&
        QFileInfo(QFileInfo(nameOrPath).absolutePath()) != QFileInfo(c.trash.path()))
        return std::nullopt;
    // Only sheets: the index and the lock beside it are the trash's own.
    if (!files::isPlainName(name) || !library::isSheetFileName(name))
        return std::nullopt;
    const QString path = QDir(c.trash.path()).filePath(name);
    if (!QFileInfo(path).isFile())
        return std::nullopt;
    return path;
}

int cmdRestore(const Context& c, const QString& name) {
    const auto path = trashedFile(c, name);
    if (!path)
        return c.fail(QStringLiteral("Im Papierkorb liegt kein Blatt %1.").arg(quoted(name)));
    const auto restored = c.trash.restore(*path, c.root);
    if (!restored)
        return trashFailure(
            c, QStringLiteral("%1 konnte nicht zurückgelegt werden.").arg(quoted(name)));
    return printPath(c, QStringLiteral("Zurückgelegt: "), *restored);
}

int cmdDeleteForever(const Context& c, const QString& name) {
    const auto path = trashedFile(c, name);
    if (!path)
        return c.fail(QStringLiteral("Im Papierkorb liegt kein Blatt %1.").arg(quoted(name)));
    if (!c.trash.deleteForever(*path) || QFileInfo::exists(*path))
        return trashFailure(c,
                            QStringLiteral("%1 konnte nicht gelöscht werden.").arg(quoted(name)));
    return printPath(c, QStringLiteral("Endgültig gelöscht: "), *path);
}

int cmdEmptyTrash(const Context& c) {
    if (!c.trash.empty() || !c.trash.isEmpty())
        return trashFailure(c, QStringLiteral("Der Papierkorb konnte nicht ganz geleert werden."));
    if (c.json())
        c.print(QJsonDocument(QJsonObject{{u"path"_s, c.trash.path()}}));
    else
        c.out << "Der Papierkorb ist leer.\n";
    return Success;
}

int cmdBackup(const Context& c) {
    using Status = BackupManager::RunResult::Status;
    BackupManager manager(c.root);
    const BackupManager::RunResult result = manager.runIfNeeded().result();
    switch (result.status) {
    case Status::LibraryUnreadable:
        return c.fail(QStringLiteral("Die Bibliothek %1 lässt sich nicht lesen; keine Sicherung.")
                          .arg(quoted(result.folder)));
    case Status::FolderNotCreated:
        return c.fail(QStringLiteral("Der Sicherungsordner %1 lässt sich nicht anlegen; "
                                     "keine Sicherung.")
                          .arg(quoted(result.folder)));
    case Status::NothingCopied:
        return c.fail(QStringLiteral("Kein Blatt ließ sich nach %1 kopieren; keine Sicherung.")
                          .arg(quoted(manager.location())));
    case Status::Unchanged:
    case Status::Made:
    case Status::Incomplete:
        break;
    }
    if (c.json()) {
        QJsonObject object{{u"snapshot"_s, result.madeSnapshot() ? QJsonValue(result.snapshot)
                                                                 : QJsonValue(QJsonValue::Null)}};
        if (!result.failed.isEmpty())
            object.insert(u"failed"_s, QJsonArray::fromStringList(result.failed));
        c.print(QJsonDocument(object));
    } else if (result.madeSnapshot()) {
        c.out << "Sicherung angelegt: " << result.snapshot << '\n';
    } else {
        c.out << "Nichts geändert seit der letzten Sicherung.\n";
    }
    for (const QString& ahead : result.future)
        c.err << "orvik: Die Sicherung " << quoted(ahead)
              << " trägt ein Datum nach der jetzigen Uhrzeit; sie bleibt erhalten, zählt beim "
                 "Ausdünnen aber nicht mit.\n";
    if (result.status == Status::Incomplete) {
        // A whole unreadable group would otherwise fill the terminal.
        constexpr qsizetype shown = 10;
        QStringList names;
        for (const QString& name : result.failed.mid(0, shown))
            names.append(quoted(name));
        if (result.failed.size() > shown)
            names.append(QStringLiteral("und %1 weitere").arg(result.failed.size() - shown));
        return c.fail(result.failed.size() == 1
                          ? QStringLiteral("Ein Blatt fehlt in der Sicherung: %1; der nächste "
                                           "Lauf versucht es wieder.")
                                .arg(names.first())
                          : QStringLiteral("%1 Blätter fehlen in der Sicherung: %2; der nächste "
                                           "Lauf versucht es wieder.")
                                .arg(result.failed.size())
                                .arg(names.join(u", "_s)));
    }
    return Success;
}

int cmdBackups(const Context& c) {
    BackupManager manager(c.root);
    const QList<BackupManager::Snapshot> snapshots = manager.snapshots().result();
    if (c.json()) {
        QJsonArray array;
        for (const auto& s : snapshots)
            array.append(QJsonObject{{u"path"_s, s.path}, {u"date"_s, isoDate(s.date)}});
        c.print(QJsonDocument(array));
        return Success;
    }
    if (snapshots.isEmpty())
        c.out << "Noch keine Sicherungen in " << manager.location() << ".\n";
    for (const auto& s : snapshots)
        c.out << germanDate(s.date) << "  " << s.path << '\n';
    return Success;
}

// The store as the window would have it, without the backup schedule.
std::unique_ptr<LibraryStore> openStore(const Context& c) {
    LibraryStore::Options options;
    options.root = c.root;
    options.backupSchedule = false;
    return std::make_unique<LibraryStore>(options);
}

int cmdNew(const Context& c) {
    const QString templateTitle = c.option(u"--template"_s).value_or(QString());
    std::optional<Template> chosen;
    if (!templateTitle.isEmpty()) {
        chosen = Template::named(templateTitle);
        if (!chosen) {
            QStringList titles;
            for (const Template& t : Template::all())
                titles.append(quoted(t.title));
            return c.fail(QStringLiteral("Die Vorlage %1 gibt es nicht. Vorlagen: %2.")
                              .arg(quoted(templateTitle), titles.join(u", ")));
        }
    }
    auto store = openStore(c);
    std::optional<Folder> target;
    if (const auto groupName = c.option(u"--group"_s)) {
        for (const Folder& f : store->folders())
            if (f.name == *groupName && f.kind != Folder::Kind::Trash)
                target = f;
        if (!target)
            return c.fail(QStringLiteral("Die Gruppe %1 gibt es nicht.").arg(quoted(*groupName)));
    }

    QEventLoop loop;
    bool waiting = false;
    QObject::connect(store.get(), &LibraryStore::dailyContextDone, &loop, &QEventLoop::quit);
    std::optional<Sheet> sheet;
    if (!chosen && !target) {
        sheet = store->quickNewSheet();
    } else {
        const Template t =
            chosen.value_or(Template::named(u"Schnelle Notiz"_s).value_or(Template::blank()));
        sheet = target ? store->createSheet(t, *target, QDateTime::currentDateTime())
                       : store->createSheet(t);
        waiting = sheet && t.wantsDailyContext;
    }
    if (!sheet)
        return c.fail(QStringLiteral("Das Blatt konnte nicht angelegt werden."));
    // The weather and headlines are part of the new sheet: wait for them.
    if (waiting)
        loop.exec();
    return printPath(c, QStringLiteral("Neues Blatt: "), sheet->path());
}

int cmdNewGroup(const Context& c, const QString& name) {
    if (library::isReservedGroupName(name))
        return c.fail(QStringLiteral("%1 ist der Name des Papierkorbs und kann keine Gruppe sein.")
                          .arg(quoted(QString::fromLatin1(library::trashDisplayName))));
    auto store = openStore(c);
    const auto folder = store->createFolder(name);
    if (!folder)
        return c.fail(
            QStringLiteral("Die Gruppe %1 konnte nicht angelegt werden.").arg(quoted(name)));
    return printPath(c, QStringLiteral("Gruppe: "), folder->path());
}

// The standard groups and the trash keep their names and stay.
std::optional<int> refuseFixed(const Context& c, const Folder& group) {
    if (group.kind == Folder::Kind::Custom)
        return std::nullopt;
    return c.fail(QStringLiteral("%1 gehört zu den festen Gruppen und lässt sich weder "
                                 "umbenennen noch löschen.")
                      .arg(quoted(group.name)));
}

int noSuchGroup(const Context& c, const QString& name) {
    return c.fail(QStringLiteral("Die Gruppe %1 gibt es nicht.").arg(quoted(name)));
}

int cmdMove(const Context& c) {
    const QString file = c.argument(0);
    const QString groupName = c.argument(1);
    const QFileInfo info(file);
    if (!info.exists() || !info.isFile())
        return c.fail(QStringLiteral("Die Datei %1 gibt es nicht.").arg(quoted(file)));
    const auto group = c.group(groupName);
    if (!group)
        return noSuchGroup(c, groupName);
    if (group->kind == Folder::Kind::Trash)
        return c.fail(QStringLiteral("In den Papierkorb legt ein Blatt „orvik trash“."));
    auto store = openStore(c);
    const auto moved = store->moveSheet(QUrl::fromLocalFile(info.absoluteFilePath()), *group);
    if (!moved) {
        const bool inGroup = QFileInfo(info.absolutePath()).absolutePath() == c.root &&
                             !QFileInfo(info.absolutePath()).fileName().startsWith(u'.') &&
                             library::isSheetFileName(info.fileName());
        return c.fail(inGroup ? QStringLiteral("%1 konnte nicht nach %2 verschoben werden.")
                                    .arg(quoted(file), quoted(groupName))
                              : QStringLiteral("%1 ist kein Blatt einer Gruppe dieser Bibliothek.")
                                    .arg(quoted(file)));
    }
    return printPath(c, QStringLiteral("Verschoben: "), *moved);
}

int cmdRenameGroup(const Context& c) {
    const QString oldName = c.argument(0);
    const QString newName = c.argument(1);
    const auto group = c.group(oldName);
    if (!group)
        return noSuchGroup(c, oldName);
    if (const auto refused = refuseFixed(c, *group))
        return *refused;
    auto store = openStore(c);
    if (const auto renamed = store->renameFolder(*group, newName))
        return printPath(c, QStringLiteral("Gruppe: "), renamed->path());
    const QString trimmed = newName.trimmed();
    const QFileInfo taken(QDir(c.root).filePath(trimmed));
    if (files::isPlainName(trimmed) && (taken.exists() || taken.isSymLink()))
        return c.fail(QStringLiteral("Eine Gruppe %1 gibt es schon.").arg(quoted(trimmed)));
    return c.fail(QStringLiteral("%1 kann keine Gruppe heißen.").arg(quoted(newName)));
}

int cmdDeleteGroup(const Context& c, const QString& name) {
    const auto group = c.group(name);
    if (!group)
        return noSuchGroup(c, name);
    if (const auto refused = refuseFixed(c, *group))
        return *refused;
    auto store = openStore(c);
    const LibraryStore::FolderDeletion deletion = store->deleteFolder(*group);
    if (!deletion.removed()) {
        QStringList names;
        for (const QString& left : deletion.left)
            names.append(quoted(left));
        const QString kept = QStringLiteral("Der Ordner %1 bleibt, denn darin liegt noch: %2.")
                                 .arg(quoted(group->path()), names.join(u", "_s));
        return c.fail(deletion.trashed.isEmpty()
                          ? kept
                          : QStringLiteral("Die Blätter liegen im Papierkorb. ") + kept);
    }
    return printPath(c, QStringLiteral("Gruppe gelöscht: "), group->path());
}

QString engineName(library::ConflictEngine engine) {
    switch (engine) {
    case library::ConflictEngine::Syncthing:
        return u"Syncthing"_s;
    case library::ConflictEngine::Nextcloud:
        return u"Nextcloud"_s;
    case library::ConflictEngine::Orvik:
        break;
    }
    return u"Orvik"_s;
}

int cmdConflicts(const Context& c) {
    const QList<library::ConflictCopy> copies = library::findConflicts(c.root);
    if (c.json()) {
        QJsonArray array;
        for (const library::ConflictCopy& copy : copies)
            array.append(
                QJsonObject{{u"path"_s, copy.path},
                            {u"original"_s, copy.original.isEmpty() ? QJsonValue(QJsonValue::Null)
                                                                    : QJsonValue(copy.original)},
                            {u"engine"_s, library::engineKey(copy.engine)},
                            {u"date"_s, isoDate(copy.date)}});
        c.print(QJsonDocument(array));
        return Success;
    }
    if (copies.isEmpty())
        c.out << "Keine Konfliktkopien.\n";
    for (const library::ConflictCopy& copy : copies) {
        c.out << copy.path << '\n'
              << "  " << engineName(copy.engine) << " · " << germanDate(copy.date) << '\n'
              << "  Original: " << (copy.original.isEmpty() ? u"fehlt"_s : copy.original) << '\n';
    }
    return Success;
}

int cmdResolve(const Context& c, const QString& file) {
    const bool keep = c.flag(u"--keep"_s), take = c.flag(u"--take"_s);
    if (keep == take) {
        c.err << "orvik: Mit --keep (dieses Blatt bleibt) oder --take (die Kopie wird das Blatt) "
                 "angeben, welche Fassung gilt.\nHilfe: orvik --help\n";
        return Usage;
    }
    const QFileInfo info(file);
    if (!info.isFile())
        return c.fail(QStringLiteral("Die Datei %1 gibt es nicht.").arg(quoted(file)));
    const auto name = library::parseConflictName(info.fileName());
    if (!name)
        return c.fail(QStringLiteral("%1 ist keine Konfliktkopie.").arg(quoted(file)));
    const QString sheet = info.absoluteDir().filePath(name->originalName);
    const bool sheetThere = QFileInfo(sheet).isFile();
    if (keep && !sheetThere)
        return c.fail(QStringLiteral("Das Blatt %1 gibt es nicht mehr; mit --take wird die Kopie "
                                     "wieder zum Blatt.")
                          .arg(quoted(sheet)));
    auto store = openStore(c);
    if (!store->resolveConflict(QUrl::fromLocalFile(info.absoluteFilePath()),
                                keep ? ConflictChoice::KeepOriginal : ConflictChoice::TakeCopy)) {
        const bool inGroup = QFileInfo(info.absolutePath()).absolutePath() == c.root &&
                             !QFileInfo(info.absolutePath()).fileName().startsWith(u'.');
        if (!inGroup)
            return c.fail(QStringLiteral("%1 ist kein Blatt einer Gruppe dieser Bibliothek.")
                              .arg(quoted(file)));
        return trashFailure(c, QStringLiteral("%1 konnte nicht aufgelöst werden; beide Fassungen "
                                              "sind unverändert.")
                                   .arg(quoted(file)));
    }
    return printPath(c,
                     keep         ? QStringLiteral("Die Kopie liegt im Papierkorb; es bleibt: ")
                     : sheetThere ? QStringLiteral("Übernommen, die ersetzte Fassung liegt im "
                                                   "Papierkorb: ")
                                  : QStringLiteral("Übernommen: "),
                     sheet);
}

} // namespace

int cmdImport(const Context& c) {
    std::optional<Folder> target;
    if (const auto name = c.option(u"--group"_s)) {
        target = c.group(*name);
        if (!target || target->kind == Folder::Kind::Trash)
            return c.fail(QStringLiteral("Die Gruppe %1 gibt es nicht.").arg(quoted(*name)));
    } else {
        for (const Folder& g : c.groups())
            if (g.kind == Folder::Kind::Quick)
                target = g;
        if (!target)
            return c.fail(QStringLiteral("Die Gruppe „Schnelle Notiz“ fehlt."));
    }
    QJsonArray array;
    bool refused = false;
    for (qsizetype i = 0; i < c.argumentCount(); ++i) {
        const QString from = QFileInfo(c.argument(i)).absoluteFilePath();
        const library::Imported imported = library::importFile(from, target->path());
        if (!imported.ok()) {
            refused = true;
            c.fail(imported.refusal);
        } else if (c.json()) {
            array.append(QJsonObject{{u"path"_s, imported.path}, {u"from"_s, from}});
        } else {
            c.out << "Übernommen: " << imported.path << '\n';
        }
    }
    if (c.json())
        c.print(QJsonDocument(array));
    return refused ? Failed : Success;
}

QList<Command> libraryCommands() {
    const auto one = [](int (*f)(const Context&, const QString&)) {
        return [f](const Context& c) { return f(c, c.argument(0)); };
    };
    return {
        {QString(), QString(), QString(), 0, 0, {}, true, cmdOverview},
        {u"groups"_s,
         u"groups"_s,
         u"Gruppen in Anzeigereihenfolge, Papierkorb zuletzt"_s,
         0,
         0,
         {},
         true,
         cmdGroups},
        {u"sheets"_s,
         u"sheets GRUPPE"_s,
         u"Blätter einer Gruppe, neueste zuerst (\u201EPapierkorb\u201C ist der Papierkorb)"_s,
         1,
         1,
         {},
         true,
         one(cmdSheets)},
        searchCommand(),
        {u"trash"_s,
         u"trash DATEI"_s,
         u"Blatt in den Papierkorb legen"_s,
         1,
         1,
         {},
         true,
         one(cmdTrash)},
        {u"restore"_s,
         u"restore NAME"_s,
         u"Blatt aus dem Papierkorb zurücklegen"_s,
         1,
         1,
         {},
         true,
         one(cmdRestore)},
        {u"delete-forever"_s,
         u"delete-forever NAME"_s,
         u"Blatt im Papierkorb endgültig löschen"_s,
         1,
         1,
         {},
         true,
         one(cmdDeleteForever)},
        {u"empty-trash"_s, u"empty-trash"_s, u"Papierkorb leeren"_s, 0, 0, {}, true, cmdEmptyTrash},
        {u"backup"_s,
         u"backup"_s,
         u"Jetzt sichern, wenn sich etwas geändert hat"_s,
         0,
         0,
         {},
         true,
         cmdBackup},
        {u"new"_s,
         u"new [--template VORLAGE] [--group GRUPPE]"_s,
         u"Neues Blatt anlegen; ohne Vorlage eine schnelle Notiz"_s,
         0,
         0,
         {u"--template"_s, u"--group"_s},
         true,
         cmdNew},
        {u"new-group"_s,
         u"new-group NAME"_s,
         u"Neue Gruppe anlegen"_s,
         1,
         1,
         {},
         true,
         one(cmdNewGroup)},
        {u"import"_s,
         u"import DATEI… [--group GRUPPE]"_s,
         u"Dateien als Blätter übernehmen (ohne --group in \u201ESchnelle Notiz\u201C)"_s,
         1,
         std::numeric_limits<qsizetype>::max(),
         {u"--group"_s},
         true,
         cmdImport},
        {u"move"_s,
         u"move DATEI GRUPPE"_s,
         u"Blatt in eine andere Gruppe verschieben"_s,
         2,
         2,
         {},
         true,
         cmdMove},
        {u"rename-group"_s,
         u"rename-group ALT NEU"_s,
         u"Eigene Gruppe umbenennen"_s,
         2,
         2,
         {},
         true,
         cmdRenameGroup},
        {u"delete-group"_s,
         u"delete-group NAME"_s,
         u"Eigene Gruppe mit ihren Blättern in den Papierkorb legen"_s,
         1,
         1,
         {},
         true,
         one(cmdDeleteGroup)},
        {u"conflicts"_s,
         u"conflicts"_s,
         u"Konfliktkopien der Blätter (von Syncthing, Nextcloud oder Orvik) mit ihrem Original"_s,
         0,
         0,
         {},
         true,
         cmdConflicts},
        {u"resolve"_s,
         u"resolve KOPIE --keep|--take"_s,
         u"Konflikt lösen: Kopie in den Papierkorb (--keep) oder als Blatt übernehmen (--take)"_s,
         1,
         1,
         {},
         true,
         one(cmdResolve),
         {u"--keep"_s, u"--take"_s}},
        {u"backups"_s,
         u"backups"_s,
         u"Sicherungen auflisten, neueste zuerst"_s,
         0,
         0,
         {},
         true,
         cmdBackups},
    };
}

} // namespace orvik::cli
