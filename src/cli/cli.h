#pragma once

#include <QStringList>
#include <QTextStream>

namespace orvik::cli {

// Runs one command line (without the program name). Regular output goes to
// `out`, German error messages to `err`. Returns the process exit code.
int run(const QStringList& arguments, QTextStream& out, QTextStream& err);

// Whether `name` is one of the commands (and no file for the window to open).
bool isCommand(const QString& name);

} // namespace orvik::cli
