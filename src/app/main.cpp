#include "appname.h"
#include "cli.h"
#include "library/library.h"
#include "onewindow.h"
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
#include <QFileInfo>
#include <QGuiApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QLockFile>
#include <QStyleFactory>
#include <QThread>
#include <QTimer>
#include <QTranslator>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <optional>

namespace {

struct WindowLaunch {
    QString library; // empty: the one of the preferences
    QStringList files;
};

// The window opens when the command line names no command: nothing at all,
// the library to open, files to show (as the desktop passes them), or both.
std::optional<WindowLaunch> windowLaunch(int argc, char** argv) {
    WindowLaunch launch;
    for (int i = 1; i < argc; ++i) {
        const QString arg = orvik::files::decodeName(argv[i]);
        if (arg == u"--library" && i + 1 < argc && argv[i + 1][0] != '\0') {
            launch.library = orvik::files::decodeName(argv[++i]);
        } else if (arg.startsWith(u"--library=") && arg.size() > 10) {
            launch.library = arg.mid(10);
        } else if (!arg.startsWith(u'-') && !orvik::cli::isCommand(arg) &&
                   QFileInfo(arg).isFile()) {
            launch.files.append(QFileInfo(arg).absoluteFilePath());
        } else {
            return std::nullopt;
        }
    }
    return launch;
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
    orvik::app::nameApplication();

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

int runWindow(int argc, char** argv, const WindowLaunch& launch) {
    QApplication app(argc, argv);
    orvik::app::nameApplication();
    QGuiApplication::setDesktopFileName(QStringLiteral("de.orvik.Orvik"));

    orvik::LibraryStore::Options options;
    if (!launch.library.isEmpty())
        options.root = QDir::cleanPath(QDir(launch.library).absolutePath());
    const QString root = options.root.isEmpty() ? orvik::library::chooseRoot() : options.root;

    // A second window on the library would save over the first one's text.
    QLockFile lock(orvik::app::lockPath(root));
    if (!orvik::app::lockLibrary(lock)) {
        // The first window may still be on its way to the bus.
        for (int attempt = 0; attempt < 20; ++attempt) {
            if (orvik::app::handOver(root, launch.files))
                return 0;
            QThread::msleep(100);
        }
        std::fputs("Orvik läuft bereits für diese Bibliothek.\n", stderr);
        return 1;
    }

    // Qt's own dialogs and key names in German, before the first window.
    QTranslator qtTranslator;
    if (qtTranslator.load(QLocale(QLocale::German, QLocale::Germany), QStringLiteral("qtbase"),
                          QStringLiteral("_"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(&qtTranslator);
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));

    // Fusion draws the forced light and dark palettes faithfully on every desktop.
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    orvik::ui::setUpIconTheme();

    orvik::LibraryStore store(options);

    orvik::ui::keepTextWhenEnding(app, store);

    orvik::ui::MainWindow window(store);
    orvik::app::WindowHandover handover(root);
    QObject::connect(&handover, &orvik::app::WindowHandover::openRequested, &window,
                     &orvik::ui::MainWindow::openFiles);
    handover.announce();
    // Once the window is up: the first search is then as fast as a later one.
    QObject::connect(&window, &orvik::ui::MainWindow::firstPainted, &store,
                     &orvik::LibraryStore::warmSearch);
    window.show();
    if (!launch.files.isEmpty())
        window.openFiles(launch.files);
    return QApplication::exec();
}

} // namespace

int main(int argc, char** argv) {
    orvik::platform::pinSystemTimeZone();
    if (const auto launch = windowLaunch(argc, argv))
        return runWindow(argc, argv, *launch);
    return runCommandLine(argc, argv);
}
