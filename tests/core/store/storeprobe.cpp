// The store in a process of its own: killed mid-write ("stress ROOT" rewrites three sheets
// until then), or as another user, in a mount namespace or under ORVIK_PROBE_FSIZE ("script
// ROOT" answers one line per percent-encoded command).

#include "faults.h"
#include "platform/files.h"
#include "probetext.h"
#include "store/librarystore.h"

#include <QCoreApplication>
#include <QDir>
#include <QRandomGenerator>
#include <QTextStream>

#include <csignal>
#include <cstdio>

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

bool show(LibraryStore& store, const QString& group) {
    store.setSelectedFolderID(QUrl::fromLocalFile(store.rootPath() + u'/' + group));
    return store.selectedFolder() && store.selectedFolder()->name == group;
}

// A write past `bytes` fails with EFBIG instead of killing us.
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
    for (int turn = 0;; ++turn) {
        // Changing the sheet writes the previous one; the flush writes this one.
        store.setSelectedSheetID(sheets[turn % sheets.size()]);
        const auto version = probe::wholeVersion(store.currentText().toUtf8());
        if (!version)
            return say("kaputt\n"), 3;
        const int length = int(QRandomGenerator::global()->bounded(96 * 1024 + 1));
        store.setCurrentText(QString::fromUtf8(probe::versionText(*version + 1, length)));
        store.flushPendingSave();
        if (turn == 0)
            say("bereit\n");
        QCoreApplication::processEvents();
    }
}

QString answer(LibraryStore& store, const QString& line) {
    const qsizetype space = line.indexOf(u' ');
    const QString command = line.left(space);
    const QString arg =
        QString::fromUtf8(QByteArray::fromPercentEncoding(line.mid(space + 1).toUtf8()));
    const auto ok = [](bool done) { return done ? u"ok"_s : u"fehlt"_s; };
    const auto group = store.selectedFolder();
    if (command == u"group")
        return ok(show(store, arg));
    if (command == u"sheet" && group)
        store.setSelectedSheetID(QUrl::fromLocalFile(group->path() + u'/' + arg));
    if (command == u"sheet")
        return ok(bool(store.selectedSheet()));
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
    const auto bytes = files::readBytes(arg); // "read"
    return bytes ? u"text "_s + QString::fromLatin1(bytes->toPercentEncoding()) : u"fehlt"_s;
}

int script(const QString& root) {
    LibraryStore store(probeOptions(root));
    QTextStream in(stdin);
    for (QString line; !(line = in.readLine()).isNull() && line != u"quit";) {
        QCoreApplication::processEvents();
        say(answer(store, line).toUtf8() + '\n');
    }
    return 0;
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
