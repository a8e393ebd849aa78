#include "cli.h"

#include "command.h"
#include "library/library.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonObject>
#include <QLocale>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace orvik::cli {

namespace {

struct UsageError {
    QString message;
};

// `path` as a shell word that can be pasted back.
QString shellWord(const QString& path) {
    static const QString special = u" \t\n'\"\\$`!*?[]{}()<>|&;#~"_s;
    if (std::none_of(path.begin(), path.end(), [](QChar ch) { return special.contains(ch); }))
        return path;
    return u'\'' + QString(path).replace(u'\'', u"'\\''"_s) + u'\'';
}

// Whether a command may use `root` as its library and create what is missing
// there. A folder of other things (the home folder given by mistake) never
// turns into a library on the way; a library shows itself by its trash or
// by two of its standard groups, so a lone "Projekte" is not enough.
bool mayOpenAsLibrary(const QString& root) {
    const QFileInfo info(root);
    if (!info.isDir())
        return true; // nothing there yet, or reported as no folder below
    const QDir dir(root);
    if (dir.isEmpty(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot))
        return true;
    if (QFileInfo(dir.filePath(QLatin1String(Trash::folderName))).isDir())
        return true;
    const QStringList names = library::standardGroupNames();
    return std::count_if(names.begin(), names.end(), [&](const QString& name) {
               return QFileInfo(dir.filePath(name)).isDir();
           }) >= 2;
}

int openLibrary(const QString& root, QTextStream& err) {
    library::bootstrapIfNeeded(root);
    if (!QFileInfo(root).isDir()) {
        err << "orvik: Die Bibliothek " << quoted(root) << " ist kein Ordner.\n";
        return Failed;
    }
    return Success;
}

int cmdInit(const Context& c) {
    const QString root = libraryRoot(c.invocation);
    if (const int code = openLibrary(root, c.err); code != Success)
        return code;
    Trash(root).ensureExists();
    if (c.json())
        c.print(QJsonDocument(QJsonObject{{u"library"_s, root}}));
    else
        c.out << "Bibliothek: " << root << '\n';
    return Success;
}

QString helpText(const QList<Command>& commands) {
    QString text = QStringLiteral(
        "Aufruf: orvik [--library ORDNER] BEFEHL [ARGUMENTE] [--json]\n"
        "\n"
        "Orvik – ruhiges Schreiben in Markdown.\n"
        "Ohne Befehl öffnet orvik das Fenster (mit --json: die Bibliothek im Überblick).\n"
        "\n"
        "Befehle:\n");
    for (const Command& c : commands) {
        if (c.name.isEmpty())
            continue;
        text += u"  "_s + c.synopsis.leftJustified(30) + u' ';
        if (c.synopsis.size() > 30)
            text += u'\n' + QString(33, u' ');
        text += c.summary + u'\n';
    }
    text += QStringLiteral("\n"
                           "Optionen:\n"
                           "  --library ORDNER               diese Bibliothek statt der "
                           "eingestellten verwenden\n"
                           "  --json                         Ausgabe als ein JSON-Dokument\n"
                           "  --help                         diese Hilfe zeigen\n"
                           "  --version                      Version zeigen\n"
                           "  --                             alles Folgende sind Argumente, "
                           "keine Optionen\n");
    return text;
}

// Options may stand anywhere; "--" ends them. Value options are collected for
// every command here and checked against the chosen command afterwards.
Invocation parse(const QStringList& arguments, const QSet<QString>& valueOptions,
                 const QSet<QString>& flags) {
    Invocation inv;
    bool optionsEnded = false;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& arg = arguments[i];
        if (optionsEnded || !arg.startsWith(u'-') || arg == u"-") {
            inv.positional.append(arg);
            continue;
        }
        if (arg == u"--") {
            optionsEnded = true;
            continue;
        }
        if (arg == u"--json") {
            inv.json = true;
            continue;
        }
        if (flags.contains(arg)) {
            inv.flags.insert(arg);
            continue;
        }
        const qsizetype eq = arg.indexOf(u'=');
        const QString name = eq < 0 ? arg : arg.left(eq);
        if (name != u"--library" && !valueOptions.contains(name))
            throw UsageError{QStringLiteral("Unbekannte Option %1.").arg(quoted(name))};
        QString value;
        if (eq >= 0) {
            value = arg.mid(eq + 1);
        } else {
            if (i + 1 >= arguments.size())
                throw UsageError{QStringLiteral("Nach %1 fehlt ein Wert.").arg(name)};
            value = arguments[++i];
        }
        if (value.isEmpty())
            throw UsageError{QStringLiteral("%1 braucht einen Wert.").arg(name)};
        if (name == u"--library")
            inv.library = value;
        else
            inv.options.insert(name, value);
    }
    return inv;
}

} // namespace

Command initCommand() {
    return {
        u"init"_s, u"init"_s, u"Ordner zur Bibliothek machen (Gruppen und Papierkorb anlegen)"_s,
        0,         0,         {},
        false,     cmdInit};
}

int trashFailure(const Context& c, const QString& message) {
    if (const auto obstacle = c.trash.obstacle())
        return c.fail(QStringLiteral("%1 ist ein Verweis oder nicht von der erwarteten Art; am "
                                     "Papierkorb wurde nichts verändert.")
                          .arg(quoted(*obstacle)));
    return c.fail(message);
}

QString libraryRoot(const Invocation& invocation) {
    return invocation.library.isEmpty() ? library::chooseRoot()
                                        : QDir::cleanPath(QDir(invocation.library).absolutePath());
}

std::optional<QString> Context::option(const QString& name) const {
    const auto it = invocation.options.constFind(name);
    if (it == invocation.options.constEnd())
        return std::nullopt;
    return *it;
}

QList<Folder> Context::groups() const {
    trash.ensureExists();
    QList<Folder> list = library::readGroups(root);
    list.append(trash.folder());
    return list;
}

std::optional<Folder> Context::group(const QString& name) const {
    // From the end: the trash answers to its name even beside a folder of
    // that name made by hand.
    const QList<Folder> all = groups();
    for (auto it = all.crbegin(); it != all.crend(); ++it)
        if (it->name == name)
            return *it;
    return std::nullopt;
}

void Context::print(const QJsonDocument& doc) const {
    out << QString::fromUtf8(doc.toJson(QJsonDocument::Indented));
}

int Context::fail(const QString& message) const {
    err << "orvik: " << message << '\n';
    return Failed;
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

QString quoted(const QString& s) {
    return u'\u201E' + s + u'\u201C';
}

int runWith(const QList<Command>& commands, const QStringList& arguments, QTextStream& out,
            QTextStream& err) {
    const qsizetype end = arguments.indexOf(u"--"_s);
    const QStringList options = end < 0 ? arguments : arguments.mid(0, end);
    if (options.contains(u"--help"_s) || options.contains(u"-h"_s)) {
        out << helpText(commands);
        return Success;
    }
    if (options.contains(u"--version"_s)) {
        out << "orvik " << ORVIK_VERSION << " (Build " << ORVIK_BUILD_NUMBER << ")\n";
        return Success;
    }

    const auto usage = [&](const QString& message) {
        err << "orvik: " << message << "\nHilfe: orvik --help\n";
        return int(Usage);
    };
    QSet<QString> valueOptions;
    QSet<QString> flags;
    for (const Command& c : commands) {
        for (const QString& o : c.valueOptions)
            valueOptions.insert(o);
        for (const QString& f : c.flags)
            flags.insert(f);
    }

    Invocation inv;
    try {
        inv = parse(arguments, valueOptions, flags);
    } catch (const UsageError& e) {
        return usage(e.message);
    }

    const QString name = inv.positional.value(0);
    const auto it = std::find_if(commands.begin(), commands.end(),
                                 [&](const Command& c) { return c.name == name; });
    if (it == commands.end())
        return usage(QStringLiteral("Unbekannter Befehl %1.").arg(quoted(name)));
    const qsizetype count = std::max<qsizetype>(0, inv.positional.size() - 1);
    if (count < it->minArguments || count > it->maxArguments) {
        if (it->maxArguments == 0)
            return usage(QStringLiteral("%1 erwartet keine Argumente.").arg(name));
        return usage(QStringLiteral("Aufruf: orvik %1").arg(it->synopsis));
    }
    for (auto o = inv.options.cbegin(); o != inv.options.cend(); ++o) {
        if (!it->valueOptions.contains(o.key()))
            return usage(QStringLiteral("%1 gilt nicht für %2.").arg(o.key(), quoted(name)));
    }
    for (const QString& f : std::as_const(inv.flags)) {
        if (!it->flags.contains(f))
            return usage(QStringLiteral("%1 gilt nicht für %2.").arg(f, quoted(name)));
    }

    QString root;
    if (it->usesLibrary) {
        root = libraryRoot(inv);
        if (!mayOpenAsLibrary(root)) {
            err << "orvik: " << quoted(root) << " ist keine Orvik-Bibliothek. Mit "
                << quoted(u"orvik init --library "_s + shellWord(root)) << " wird sie eine.\n";
            return Failed;
        }
        if (it->setsUpLibrary) {
            if (const int code = openLibrary(root, err); code != Success)
                return code;
        } else if (QFileInfo::exists(root) && !QFileInfo(root).isDir()) {
            err << "orvik: Die Bibliothek " << quoted(root) << " ist kein Ordner.\n";
            return Failed;
        }
    }
    const Context context{inv, root, Trash(root), out, err};
    return it->run(context);
}

} // namespace orvik::cli
