#pragma once

#include "library/folder.h"
#include "safekeeping/trash.h"

#include <QDateTime>
#include <QHash>
#include <QJsonDocument>
#include <QSet>
#include <QStringList>
#include <QTextStream>

#include <functional>
#include <optional>

namespace orvik::cli {

enum ExitCode { Success = 0, Failed = 1, Usage = 2 };

struct Invocation {
    QString library;
    bool json = false;
    QHash<QString, QString> options; // "--group" -> value
    QSet<QString> flags;             // options without a value, "--dry-run"
    QStringList positional;          // the command first
};

// What a command gets to work with. `root` is bootstrapped as the app does at
// start, for commands that use the library.
struct Context {
    const Invocation& invocation;
    QString root;
    Trash trash;
    QTextStream& out;
    QTextStream& err;

    bool json() const { return invocation.json; }
    QString argument(qsizetype i) const { return invocation.positional.value(i + 1); }
    qsizetype argumentCount() const { return invocation.positional.size() - 1; }
    std::optional<QString> option(const QString& name) const;
    bool flag(const QString& name) const { return invocation.flags.contains(name); }

    // The group list in display order, trash last.
    QList<Folder> groups() const;
    // A group by the name it is listed under ("Papierkorb" for the trash).
    std::optional<Folder> group(const QString& name) const;

    void print(const QJsonDocument& doc) const;
    // Writes "orvik: message" to stderr; returns the exit code of a failed operation.
    int fail(const QString& message) const;
};

struct Command {
    QString name;
    QString synopsis; // as shown in the help, e.g. "sheets GRUPPE"
    QString summary;  // German, one line
    qsizetype minArguments = 0;
    qsizetype maxArguments = 0;
    QStringList valueOptions; // options taking a value that this command accepts
    bool usesLibrary = true;
    std::function<int(const Context&)> run;
    QStringList flags = {}; // options without a value that this command accepts
    // Whether the library is set up (standard groups, a welcome sheet in a new
    // folder) before the command runs.
    bool setsUpLibrary = true;
};

// Runs one command line with the given commands; cli::run() with all of them.
int runWith(const QList<Command>& commands, const QStringList& arguments, QTextStream& out,
            QTextStream& err);

// The trash's own state when that is why an operation did nothing, else `message`.
int trashFailure(const Context& c, const QString& message);

// The library named by --library, else the one the window opens.
QString libraryRoot(const Invocation& invocation);

QList<Command> libraryCommands();
Command searchCommand();
Command initCommand();
QList<Command> dailyCommands(); // context, places, check-update
QList<Command> exportCommands();
QList<Command> historyCommands(); // history, show, restore-version, recover

// Shared formatting.
QString isoDate(const QDateTime& date);    // ISO 8601 with the local offset
QString germanDate(const QDateTime& date); // "5. Dez. 2026, 14:03"
QString quoted(const QString& s);          // „s“

} // namespace orvik::cli
