// A library store in a process of its own, for what a test cannot do to its
// own process: kill it in the middle of a write, or run it as another user,
// in another mount namespace or under a file size limit (ORVIK_PROBE_FSIZE).
//   storeprobe stress ROOT   rewrites three sheets of "Ideen" with whole versions
//                            until it is killed; prints "bereit" after the first
//   storeprobe script ROOT   answers one line per command read from stdin;
//                            texts and paths are percent-encoded

#include "faults.h"
#include "platform/files.h"
#include "probetext.h"
#include "store/librarystore.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSocketNotifier>
#include <QTextStream>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <random>

#include <sys/resource.h>

using namespace Qt::StringLiterals;

using namespace orvik;

namespace {

LibraryStore::Options probeOptions(const QString& root) {
    LibraryStore::Options o;
    o.root = root;
    o.backupRoot = root + u".sicherungen"_s;
    o.saveDelayMs = 1;
    o.watchDelayMs = 20;
    o.backupSchedule = false;
    o.listInBackground = false;
    o.dailyContext = [] { return QtFuture::makeReadyFuture(QString()); };
    return o;
}

// Shows the group of that name, if there is one.
bool show(LibraryStore& store, const QString& group) {
    store.setSelectedFolderID(QUrl::fromLocalFile(store.rootPath() + u'/' + group));
    return store.selectedFolder() && store.selectedFolder()->name == group;
}

// Files cannot grow beyond `bytes`; a write past that fails with EFBIG
// instead of killing us.
bool limitFileSize(rlim_t bytes) {
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit{};
    getrlimit(RLIMIT_FSIZE, &limit);
    limit.rlim_cur = std::min(bytes, limit.rlim_max);
    return setrlimit(RLIMIT_FSIZE, &limit) == 0;
}

void say(const QByteArray& line) {
    std::fputs(line.constData(), stdout);
    std::fflush(stdout);
}

int stress(const QString& root) {
    LibraryStore store(probeOptions(root));
    if (!show(store, u"Ideen"_s))
        return 2;
    QList<QUrl> sheets;
    for (int i = 0; i < 3; ++i) {
        const QString path = store.selectedFolder()->path() + u"/blatt-%1.md"_s.arg(i);
        if (!QFileInfo::exists(path))
            files::writeAtomically(path, probe::versionText(0, 0));
        sheets.append(QUrl::fromLocalFile(path));
    }
    store.reloadSheets();
    std::mt19937 random(std::random_device{}());
    std::uniform_int_distribution<int> length(0, 96 * 1024);
    int turn = 0;
    QTimer loop;
    QObject::connect(&loop, &QTimer::timeout, [&] {
        // Changing the sheet writes the previous one; the flush writes this one.
        store.setSelectedSheetID(sheets[turn++ % sheets.size()]);
        const auto version = probe::wholeVersion(store.currentText().toUtf8());
        if (!version) {
            say("kaputt\n");
            QCoreApplication::exit(3);
            return;
        }
        store.setCurrentText(QString::fromUtf8(probe::versionText(*version + 1, length(random))));
        store.flushPendingSave();
        if (turn == 1)
            say("bereit\n");
    });
    loop.start(0);
    return QCoreApplication::exec();
}

QString answer(LibraryStore& store, const QString& line) {
    const qsizetype space = line.indexOf(u' ');
    const QString command = line.left(space);
    const QString arg =
        QString::fromUtf8(QByteArray::fromPercentEncoding(line.mid(space + 1).toUtf8()));
    const auto ok = [](bool done) { return done ? u"ok"_s : u"fehlt"_s; };
    if (command == u"group")
        return ok(show(store, arg));
    if (command == u"sheet") {
        if (const auto group = store.selectedFolder())
            store.setSelectedSheetID(QUrl::fromLocalFile(group->path() + u'/' + arg));
        return ok(bool(store.selectedSheet()));
    }
    if (command == u"type")
        store.setCurrentText(arg);
    if (command == u"flush")
        store.flushPendingSave();
    if (command == u"type" || command == u"flush")
        return u"ok"_s;
    if (command == u"state")
        return u"failed="_s + (store.lastWriteFailed() ? u'1' : u'0') + u" text="_s +
               QString::fromLatin1(store.currentText().toUtf8().toPercentEncoding());
    if (command == u"new") {
        const auto sheet = store.quickNewSheet();
        return sheet ? u"ok "_s + QFileInfo(sheet->path()).fileName() : u"keins"_s;
    }
    if (command == u"fill")
        return u"ok "_s + QString::number(test::fillDisk(arg));
    if (command == u"remove")
        return ok(QFile::remove(arg));
    if (command == u"unlimit")
        return ok(limitFileSize(RLIM_INFINITY));
    if (command == u"read") {
        const auto bytes = files::readBytes(arg);
        return bytes ? u"text "_s + QString::fromLatin1(bytes->toPercentEncoding()) : u"fehlt"_s;
    }
    return u"unbekannt"_s;
}

int script(const QString& root) {
    LibraryStore store(probeOptions(root));
    QSocketNotifier input(fileno(stdin), QSocketNotifier::Read);
    QTextStream in(stdin);
    QObject::connect(&input, &QSocketNotifier::activated, [&] {
        const QString line = in.readLine();
        if (line.isNull() || line == u"quit") {
            input.setEnabled(false);
            QCoreApplication::quit();
            return;
        }
        say(answer(store, line).toUtf8() + '\n');
    });
    return QCoreApplication::exec();
}

} // namespace

int main(int argc, char** argv) {
    if (const QByteArray limit = qgetenv("ORVIK_PROBE_FSIZE"); !limit.isEmpty())
        limitFileSize(rlim_t(limit.toLongLong()));
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 3)
        return 2;
    const QString root = QDir(args[2]).absolutePath();
    return args[1] == u"stress" ? stress(root) : args[1] == u"script" ? script(root) : 2;
}
