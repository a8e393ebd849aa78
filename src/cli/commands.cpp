#include "cli.h"
#include "command.h"

#include <algorithm>

// Every command of the command line, as the full program knows them.
namespace orvik::cli {

namespace {

QList<Command> allCommands() {
    return libraryCommands() + QList<Command>{initCommand()} + dailyCommands() + exportCommands() +
           historyCommands();
}

} // namespace

bool isCommand(const QString& name) {
    const QList<Command> commands = allCommands();
    return !name.isEmpty() && std::any_of(commands.begin(), commands.end(),
                                          [&](const Command& c) { return c.name == name; });
}

int run(const QStringList& arguments, QTextStream& out, QTextStream& err) {
    return runWith(allCommands(), arguments, out, err);
}

} // namespace orvik::cli
