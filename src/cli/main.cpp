#include "cli.h"

#include <QCoreApplication>
#include <QGuiApplication>

#include <algorithm>
#include <cstdio>
#include <memory>

int main(int argc, char** argv) {
    // Exports lay text out with Qt's fonts, which need a QGuiApplication. The
    // command line never shows a window, so it takes the offscreen platform:
    // the same fonts through fontconfig, and no display to be reached.
    const bool exporting =
        std::any_of(argv + 1, argv + argc, [](const char* a) { return qstrcmp(a, "export") == 0; });
    if (exporting)
        qputenv("QT_QPA_PLATFORM", "offscreen");
    const std::unique_ptr<QCoreApplication> app =
        exporting ? std::make_unique<QGuiApplication>(argc, argv)
                  : std::make_unique<QCoreApplication>(argc, argv);
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
