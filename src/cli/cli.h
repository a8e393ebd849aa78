#pragma once

#include <QStringList>
#include <QTextStream>

namespace orvik::cli {

// Runs one command line (without the program name). Regular output goes to
// `out`, German error messages to `err`. Returns the process exit code.
int run(const QStringList& arguments, QTextStream& out, QTextStream& err);

} // namespace orvik::cli
