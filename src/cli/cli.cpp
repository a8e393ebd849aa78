#include "cli.h"

#include "library/files.h"
#include "library/library.h"
#include "safekeeping/backupmanager.h"
#include "safekeeping/trash.h"
#include "search/searchengine.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>

#include <functional>
#include <optional>

namespace orvik::cli {

namespace {

QString helpText() {
    return QStringLiteral(
        "Aufruf: orvik [--library ORDNER] BEFEHL [ARGUMENTE] [--json]\n"
        "\n"
        "Orvik – ruhiges Schreiben in Markdown.\n"
        "Ohne Befehl zeigt orvik die Bibliothek im Überblick.\n"
        "\n"
        "Befehle:\n"
        "  groups                       Gruppen in Anzeigereihenfolge, Papierkorb zuletzt\n"
        "  sheets GRUPPE                Blätter einer Gruppe, neueste zuerst\n"
        "                               (\u201EPapierkorb\u201C ist der Papierkorb)\n"
        "  search SUCHE [--group GRUPPE]\n"
        "                               Volltextsuche; ohne --group in allen Gruppen\n"
        "                               außer dem Papierkorb\n"
        "  trash DATEI                  Blatt in den Papierkorb legen\n"
        "  restore NAME                 Blatt aus dem Papierkorb zurücklegen\n"
        "  delete-forever NAME          Blatt im Papierkorb endgültig löschen\n"
        "  empty-trash                  Papierkorb leeren\n"
        "  backup                       Jetzt sichern, wenn sich etwas geändert hat\n"
        "  backups                      Sicherungen auflisten, neueste zuerst\n"
        "\n"
        "Optionen:\n"
        "  --library ORDNER             diese Bibliothek statt der eingestellten verwenden\n"
        "  --json                       Ausgabe als ein JSON-Dokument\n"
        "  --help                       diese Hilfe zeigen\n"
        "  --version                    Version zeigen\n"
        "  --                           alles Folgende sind Argumente, keine Optionen\n");
}

QString isoDate(const QDateTime& date) {
    // A fixed offset, so that the text carries it ("+01:00").
    const QDateTime local = date.toLocalTime();
    return local.toOffsetFromUtc(local.offsetFromUtc()).toString(Qt::ISODate);
}

QString germanDate(const QDateTime& date) {
    return QLocale(QLocale::German, QLocale::Germany)
        .toString(date.toLocalTime(), QStringLiteral("d. MMM yyyy, HH:mm"));
}

struct Invocation {
    QString library;
    bool json = false;
    std::optional<QString> group;
    QStringList positional;
};

struct UsageError {
    QString message;
};

// Everything a command needs: the library, bootstrapped as the app does at start.
struct Context {
    QString root;
    Trash trash;
    bool json;
    QTextStream& out;
    QTextStream& err;

    QList<Folder> groups() const {
        trash.ensureExists();
        QList<Folder> list = library::readGroups(root);
        list.append(trash.folder());
        return list;
    }

    std::optional<Folder> group(const QString& name) const {
        for (const Folder& folder : groups())
            if (folder.name == name)
                return folder;
        return std::nullopt;
    }

    void print(const QJsonDocument& doc) const {
        out << QString::fromUtf8(doc.toJson(QJsonDocument::Indented));
    }

    int fail(const QString& message) const {
        err << "orvik: " << message << '\n';
        return Failed;
    }
};

QString quoted(const QString& s) {
    return u'\u201E' + s + u'\u201C';
}

int cmdOverview(const Context& c) {
    const QList<Folder> groups = c.groups();
    if (c.json) {
        QJsonArray array;
        for (const Folder& g : groups)
            array.append(QJsonObject{{u"name"_qs, g.name},
                                     {u"kind"_qs, rawValue(g.kind)},
                                     {u"path"_qs, g.path()},
                                     {u"sheets"_qs, library::readSheets(g.path()).size()}});
        c.print(QJsonDocument(QJsonObject{{u"library"_qs, c.root}, {u"groups"_qs, array}}));
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
    if (c.json) {
        QJsonArray array;
        for (const Folder& g : groups)
            array.append(QJsonObject{
                {u"name"_qs, g.name}, {u"kind"_qs, rawValue(g.kind)}, {u"path"_qs, g.path()}});
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
    const QList<Sheet> sheets = library::readSheets(group->path());
    if (c.json) {
        QJsonArray array;
        for (const Sheet& s : sheets)
            array.append(QJsonObject{{u"path"_qs, s.path()},
                                     {u"title"_qs, s.title},
                                     {u"preview"_qs, s.preview},
                                     {u"wordCount"_qs, s.wordCount},
                                     {u"modified"_qs, isoDate(s.modified)}});
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

int cmdSearch(const Context& c, const QString& query, const std::optional<QString>& groupName) {
    QList<QUrl> folders;
    if (groupName) {
        const auto group = c.group(*groupName);
        if (!group)
            return c.fail(QStringLiteral("Die Gruppe %1 gibt es nicht.").arg(quoted(*groupName)));
        folders.append(group->url);
    } else {
        for (const Folder& g : c.groups())
            if (g.kind != Folder::Kind::Trash)
                folders.append(g.url);
    }
    SearchEngine engine;
    const QList<SearchHit> hits = engine.search(query, folders).result();
    if (c.json) {
        QJsonArray array;
        for (const SearchHit& h : hits)
            array.append(QJsonObject{{u"path"_qs, h.sheet.path()},
                                     {u"title"_qs, h.sheet.title},
                                     {u"snippet"_qs, h.snippet},
                                     {u"count"_qs, h.count},
                                     {u"modified"_qs, isoDate(h.sheet.modified)}});
        c.print(QJsonDocument(array));
        return Success;
    }
    if (hits.isEmpty())
        c.out << "Keine Treffer.\n";
    for (const SearchHit& h : hits) {
        c.out << h.sheet.title << " – " << h.count
              << (h.count == 1 ? " Fundstelle" : " Fundstellen") << '\n'
              << "  " << h.snippet << '\n'
              << "  " << h.sheet.path() << '\n';
    }
    return Success;
}

int printPath(const Context& c, const QString& label, const QString& path) {
    if (c.json)
        c.print(QJsonDocument(QJsonObject{{u"path"_qs, path}}));
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
        return c.fail(
            QStringLiteral("%1 konnte nicht in den Papierkorb gelegt werden.").arg(quoted(file)));
    return printPath(c, QStringLiteral("Im Papierkorb: "), *moved);
}

// A trashed file named by its name, or by a path inside the trash folder.
std::optional<QString> trashedFile(const Context& c, const QString& nameOrPath) {
    const QString name = QFileInfo(nameOrPath).fileName();
    if (nameOrPath.contains(u'/') &&
        QFileInfo(QFileInfo(nameOrPath).absolutePath()) != QFileInfo(c.trash.path()))
        return std::nullopt;
    if (!files::isPlainName(name))
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
        return c.fail(QStringLiteral("%1 konnte nicht zurückgelegt werden.").arg(quoted(name)));
    return printPath(c, QStringLiteral("Zurückgelegt: "), *restored);
}

int cmdDeleteForever(const Context& c, const QString& name) {
    const auto path = trashedFile(c, name);
    if (!path)
        return c.fail(QStringLiteral("Im Papierkorb liegt kein Blatt %1.").arg(quoted(name)));
    c.trash.deleteForever(*path);
    if (QFileInfo::exists(*path))
        return c.fail(QStringLiteral("%1 konnte nicht gelöscht werden.").arg(quoted(name)));
    return printPath(c, QStringLiteral("Endgültig gelöscht: "), *path);
}

int cmdEmptyTrash(const Context& c) {
    c.trash.empty();
    if (!c.trash.isEmpty())
        return c.fail(QStringLiteral("Der Papierkorb konnte nicht ganz geleert werden."));
    if (c.json)
        c.print(QJsonDocument(QJsonObject{{u"path"_qs, c.trash.path()}}));
    else
        c.out << "Der Papierkorb ist leer.\n";
    return Success;
}

int cmdBackup(const Context& c) {
    BackupManager manager(c.root);
    const std::optional<QString> snapshot = manager.runIfNeeded().result();
    if (c.json) {
        c.print(QJsonDocument(QJsonObject{
            {u"snapshot"_qs, snapshot ? QJsonValue(*snapshot) : QJsonValue(QJsonValue::Null)}}));
        return Success;
    }
    if (snapshot)
        c.out << "Sicherung angelegt: " << *snapshot << '\n';
    else
        c.out << "Nichts geändert seit der letzten Sicherung.\n";
    return Success;
}

int cmdBackups(const Context& c) {
    BackupManager manager(c.root);
    const QList<BackupManager::Snapshot> snapshots = manager.snapshots().result();
    if (c.json) {
        QJsonArray array;
        for (const auto& s : snapshots)
            array.append(QJsonObject{{u"path"_qs, s.path}, {u"date"_qs, isoDate(s.date)}});
        c.print(QJsonDocument(array));
        return Success;
    }
    if (snapshots.isEmpty())
        c.out << "Noch keine Sicherungen in " << manager.location() << ".\n";
    for (const auto& s : snapshots)
        c.out << germanDate(s.date) << "  " << s.path << '\n';
    return Success;
}

Invocation parse(const QStringList& arguments) {
    Invocation inv;
    bool optionsEnded = false;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& arg = arguments[i];
        const auto value = [&](const QString& option) {
            if (i + 1 >= arguments.size())
                throw UsageError{QStringLiteral("Nach %1 fehlt ein Wert.").arg(option)};
            return arguments[++i];
        };
        if (optionsEnded || !arg.startsWith(u'-') || arg == u"-") {
            inv.positional.append(arg);
        } else if (arg == u"--") {
            optionsEnded = true;
        } else if (arg == u"--json") {
            inv.json = true;
        } else if (arg == u"--library") {
            inv.library = value(arg);
        } else if (arg.startsWith(u"--library=")) {
            inv.library = arg.mid(10);
        } else if (arg == u"--group") {
            inv.group = value(arg);
        } else if (arg.startsWith(u"--group=")) {
            inv.group = arg.mid(8);
        } else {
            throw UsageError{QStringLiteral("Unbekannte Option %1.").arg(quoted(arg))};
        }
    }
    if (inv.library.isEmpty() && arguments.contains(u"--library"_qs))
        throw UsageError{QStringLiteral("--library braucht einen Ordner.")};
    return inv;
}

} // namespace

int run(const QStringList& arguments, QTextStream& out, QTextStream& err) {
    const qsizetype end = arguments.indexOf(u"--"_qs);
    const QStringList options = end < 0 ? arguments : arguments.mid(0, end);
    if (options.contains(u"--help"_qs) || options.contains(u"-h"_qs)) {
        out << helpText();
        return Success;
    }
    if (options.contains(u"--version"_qs)) {
        out << "orvik " << ORVIK_VERSION << " (Build " << ORVIK_BUILD_NUMBER << ")\n";
        return Success;
    }

    Invocation inv;
    try {
        inv = parse(arguments);
    } catch (const UsageError& e) {
        err << "orvik: " << e.message << "\nHilfe: orvik --help\n";
        return Usage;
    }

    const QString command = inv.positional.value(0);
    const QStringList args = inv.positional.mid(1);

    struct Command {
        QString name;
        qsizetype argumentCount;
        bool takesGroup;
        std::function<int(const Context&)> action;
    };
    const QList<Command> commands = {
        {QString(), 0, false, cmdOverview},
        {u"groups"_qs, 0, false, cmdGroups},
        {u"sheets"_qs, 1, false, [&](const Context& c) { return cmdSheets(c, args[0]); }},
        {u"search"_qs, 1, true, [&](const Context& c) { return cmdSearch(c, args[0], inv.group); }},
        {u"trash"_qs, 1, false, [&](const Context& c) { return cmdTrash(c, args[0]); }},
        {u"restore"_qs, 1, false, [&](const Context& c) { return cmdRestore(c, args[0]); }},
        {u"delete-forever"_qs, 1, false,
         [&](const Context& c) { return cmdDeleteForever(c, args[0]); }},
        {u"empty-trash"_qs, 0, false, cmdEmptyTrash},
        {u"backup"_qs, 0, false, cmdBackup},
        {u"backups"_qs, 0, false, cmdBackups},
    };
    const auto it = std::find_if(commands.begin(), commands.end(),
                                 [&](const Command& c) { return c.name == command; });
    const auto usage = [&](const QString& message) {
        err << "orvik: " << message << "\nHilfe: orvik --help\n";
        return int(Usage);
    };
    if (it == commands.end())
        return usage(QStringLiteral("Unbekannter Befehl %1.").arg(quoted(command)));
    if (args.size() != it->argumentCount)
        return usage(it->argumentCount == 0
                         ? QStringLiteral("%1 erwartet keine Argumente.").arg(command)
                         : QStringLiteral("%1 erwartet genau ein Argument.").arg(command));
    if (inv.group && !it->takesGroup)
        return usage(QStringLiteral("--group gilt nur für search."));

    const QString root = inv.library.isEmpty() ? library::chooseRoot()
                                               : QDir::cleanPath(QDir(inv.library).absolutePath());
    library::bootstrapIfNeeded(root);
    if (!QFileInfo(root).isDir()) {
        err << "orvik: Die Bibliothek " << quoted(root) << " ist kein Ordner.\n";
        return Failed;
    }
    const Context context{root, Trash(root), inv.json, out, err};
    return it->action(context);
}

} // namespace orvik::cli
