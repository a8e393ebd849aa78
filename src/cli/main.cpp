#include "cli.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Orvik"));
    QCoreApplication::setOrganizationName(QStringLiteral("Orvik"));
    QCoreApplication::setApplicationVersion(QStringLiteral(ORVIK_VERSION));

    QTextStream out(stdout);
    QTextStream err(stderr);
    QStringList arguments = QCoreApplication::arguments();
    arguments.removeFirst();
    const int code = orvik::cli::run(arguments, out, err);
    out.flush();
    err.flush();
    return code;
}
