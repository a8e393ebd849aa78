#include "cli.h"
#include "platform/files.h"
#include "platform/http.h"
#include "platform/timezone.h"
#include "store/librarystore.h"
#include "ui/window/mainwindow.h"
#include "ui/window/quitting.h"
#include "ui/window/services.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QGuiApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QStyleFactory>
#include <QTranslator>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <optional>

namespace {

void nameApplication() {
    QCoreApplication::setApplicationName(QStringLiteral("Orvik"));
    QCoreApplication::setOrganizationName(QStringLiteral("Orvik"));
    QCoreApplication::setApplicationVersion(QStringLiteral(ORVIK_VERSION));
}

// The window opens when the command line names no command: nothing at all,
// or only the library to open.
std::optional<QString> windowLibrary(int argc, char** argv) {
    const QStringList args = [&] {
        QStringList list;
        for (int i = 1; i < argc; ++i)
            list.append(QString::fromLocal8Bit(argv[i]));
        return list;
    }();
    if (args.isEmpty())
        return QString();
    if (args.size() == 2 && args[0] == u"--library" && !args[1].isEmpty())
        return args[1];
    if (args.size() == 1 && args[0].startsWith(u"--library=") && args[0].size() > 10)
        return args[0].mid(10);
    return std::nullopt;
}

int runCommandLine(int argc, char** argv) {
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
    nameApplication();

    QTextStream out(stdout);
    QTextStream err(stderr);
    // Decoded as file names are, so that a path that is no UTF-8 still names
    // its file; Qt's decoding would replace its bytes. What Qt took for
    // itself is gone from argv by now.
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments.append(orvik::files::decodeName(argv[i]));
    const int code = orvik::cli::run(arguments, out, err);
    out.flush();
    err.flush();
    orvik::net::endSession();
    return code;
}

int runWindow(int argc, char** argv, const QString& library) {
    QApplication app(argc, argv);
    nameApplication();
    QGuiApplication::setDesktopFileName(QStringLiteral("de.orvik.Orvik"));

    // Qt's own dialogs and key names in German, before the first window.
    QTranslator qtTranslator;
    if (qtTranslator.load(QLocale(QLocale::German, QLocale::Germany), QStringLiteral("qtbase"),
                          QStringLiteral("_"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(&qtTranslator);
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));

    // Fusion draws the forced light and dark palettes faithfully on every desktop.
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    orvik::ui::setUpIconTheme();

    orvik::LibraryStore::Options options;
    if (!library.isEmpty())
        options.root = QDir::cleanPath(QDir(library).absolutePath());
    orvik::LibraryStore store(options);

    orvik::ui::keepTextWhenEnding(app, store);

    orvik::ui::MainWindow window(store);
    window.show();
    return QApplication::exec();
}

} // namespace

int main(int argc, char** argv) {
    orvik::platform::pinSystemTimeZone();
    if (const auto library = windowLibrary(argc, argv))
        return runWindow(argc, argv, *library);
    return runCommandLine(argc, argv);
}
