// A library store in a process of its own, for what a test cannot do to its
// own process: kill it in the middle of a write, or run it as another user,
// in another mount namespace or under a file size limit.
//
//   storeprobe stress ROOT    rewrites three sheets of "Ideen" with whole
//                             versions (probetext.h) until it is killed;
//                             prints "bereit" after the first write
//   storeprobe script ROOT    answers one line per command read from stdin
//
// Texts and paths in the script are percent-encoded, so that a line stays a line.
// With ORVIK_PROBE_FSIZE set, files cannot grow beyond that many bytes.

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
    o.dailyContext = [] { return QtFuture::makeReadyFuture(QString()); };
    return o;
}

std::optional<Folder> groupNamed(const LibraryStore& store, const QString& name) {
    for (const Folder& f : store.folders())
        if (f.name == name)
            return f;
    return std::nullopt;
}

QString decoded(const QString& arg) {
    return QString::fromUtf8(QByteArray::fromPercentEncoding(arg.toUtf8()));
}

QByteArray encoded(const QString& text) {
    return text.toUtf8().toPercentEncoding();
}

int stress(const QString& root) {
    LibraryStore store(probeOptions(root));
    const auto ideas = groupNamed(store, u"Ideen"_s);
    if (!ideas)
        return 2;
    QList<QUrl> sheets;
    for (int i = 0; i < 3; ++i) {
        const QString path = ideas->path() + u"/blatt-"_s + QString::number(i) + u".md"_s;
        if (!QFileInfo::exists(path))
            files::writeAtomically(path, probe::versionText(0, 0));
        sheets.append(QUrl::fromLocalFile(path));
    }
    store.setSelectedFolderID(ideas->url);

    std::mt19937 random(std::random_device{}());
    std::uniform_int_distribution<int> length(0, 96 * 1024);
    int turn = 0;
    bool told = false;
    QTimer loop;
    QObject::connect(&loop, &QTimer::timeout, [&] {
        // Changing the sheet writes the previous one; the flush writes this one.
        store.setSelectedSheetID(sheets[turn++ % sheets.size()]);
        const auto version = probe::wholeVersion(store.currentText().toUtf8());
        if (!version) {
            std::fputs("kaputt\n", stdout);
            std::fflush(stdout);
            QCoreApplication::exit(3);
            return;
        }
        store.setCurrentText(QString::fromUtf8(probe::versionText(*version + 1, length(random))));
        store.flushPendingSave();
        if (!told) {
            told = true;
            std::fputs("bereit\n", stdout);
            std::fflush(stdout);
        }
    });
    loop.start(0);
    return QCoreApplication::exec();
}

QString answer(LibraryStore& store, const QString& line) {
    const qsizetype space = line.indexOf(u' ');
    const QString command = line.left(space);
    const QString arg = space < 0 ? QString() : decoded(line.mid(space + 1));
    if (command == u"group") {
        const auto group = groupNamed(store, arg);
        if (!group)
            return u"fehlt"_s;
        store.setSelectedFolderID(group->url);
        return u"ok"_s;
    }
    if (command == u"sheet") {
        const auto group = store.selectedFolder();
        if (!group)
            return u"fehlt"_s;
        store.setSelectedSheetID(QUrl::fromLocalFile(group->path() + u'/' + arg));
        return store.selectedSheet() ? u"ok"_s : u"fehlt"_s;
    }
    if (command == u"type") {
        store.setCurrentText(arg);
        return u"ok"_s;
    }
    if (command == u"flush") {
        store.flushPendingSave();
        return u"ok"_s;
    }
    if (command == u"state") {
        return u"failed="_s + (store.lastWriteFailed() ? u'1' : u'0') + u" text="_s +
               QString::fromLatin1(encoded(store.currentText()));
    }
    if (command == u"new") {
        const auto sheet = store.quickNewSheet();
        return sheet ? u"ok "_s + QFileInfo(sheet->path()).fileName() : u"keins"_s;
    }
    if (command == u"backup") {
        store.backupNow();
        return u"ok"_s;
    }
    if (command == u"fill")
        return u"ok "_s + QString::number(test::fillDisk(arg));
    if (command == u"remove")
        return QFile::remove(arg) ? u"ok"_s : u"fehlt"_s;
    if (command == u"read") {
        const auto bytes = files::readBytes(arg);
        return bytes ? u"text "_s + QString::fromLatin1(bytes->toPercentEncoding()) : u"fehlt"_s;
    }
    if (command == u"unlimit") {
        rlimit limit{};
        getrlimit(RLIMIT_FSIZE, &limit);
        limit.rlim_cur = limit.rlim_max;
        return setrlimit(RLIMIT_FSIZE, &limit) == 0 ? u"ok"_s : u"fehlt"_s;
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
        const QByteArray reply = answer(store, line).toUtf8() + '\n';
        std::fwrite(reply.constData(), 1, size_t(reply.size()), stdout);
        std::fflush(stdout);
    });
    return QCoreApplication::exec();
}

} // namespace

int main(int argc, char** argv) {
    if (const QByteArray limit = qgetenv("ORVIK_PROBE_FSIZE"); !limit.isEmpty()) {
        // A write past the limit then fails with EFBIG instead of killing us.
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit fsize{};
        getrlimit(RLIMIT_FSIZE, &fsize);
        fsize.rlim_cur = rlim_t(limit.toLongLong());
        setrlimit(RLIMIT_FSIZE, &fsize);
    }
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 3)
        return 2;
    const QString root = QDir(args[2]).absolutePath();
    if (args[1] == u"stress")
        return stress(root);
    if (args[1] == u"script")
        return script(root);
    return 2;
}
