#include "faults.h"
#include "store/librarystore.h"
#include "testenv.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>

using namespace Qt::StringLiterals;

using namespace orvik;

namespace {

QString encoded(const QString& text) {
    return QString::fromLatin1(text.toUtf8().toPercentEncoding());
}

// The store in a process of its own (storeprobe.cpp), driven line by line.
class Probe {
public:
    ~Probe() {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.write("quit\n");
            if (!m_process.waitForFinished(5000))
                m_process.kill();
        }
    }

    bool start(const QStringList& command, const QProcessEnvironment& env) {
        m_process.setProcessEnvironment(env);
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start(command.first(), command.mid(1));
        return m_process.waitForStarted(10000);
    }

    QString ask(const QString& line) {
        m_process.write(line.toUtf8() + '\n');
        while (!m_process.canReadLine())
            if (!m_process.waitForReadyRead(10000))
                return u"(keine Antwort)"_s;
        return QString::fromUtf8(m_process.readLine()).chopped(1);
    }

    // "failed=0|1 text=…" as the store sees it.
    QString state(bool failed, const QString& text) {
        return u"failed="_s + (failed ? u'1' : u'0') + u" text="_s + encoded(text);
    }

private:
    QProcess m_process;
};

} // namespace

// Writes that fail for real causes: the store keeps the text, says the write
// failed, and writes it once the cause is gone. As root the store runs as an
// unprivileged user, so that file modes bind it.
class TestStoreFaults : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;

    QString root() const { return m_dir->path() + u"/Orvik"_s; }
    QString backups() const { return m_dir->path() + u"/Backups"_s; }

    LibraryStore::Options inProcess() const {
        LibraryStore::Options options;
        options.root = root();
        options.backupRoot = backups();
        options.backupSchedule = false;
        options.dailyContext = [] { return QtFuture::makeReadyFuture(QString()); };
        return options;
    }

    // The probe where the unprivileged user may run it, and a home of its own.
    QStringList probeCommand(const QStringList& args, QProcessEnvironment* env) {
        const QString probe = m_dir->path() + u"/storeprobe"_s;
        if (!QFileInfo::exists(probe))
            QFile::copy(QStringLiteral(ORVIK_STORE_PROBE), probe);
        const QString home = m_dir->path() + u"/home"_s;
        QDir().mkpath(home);
        *env = QProcessEnvironment::systemEnvironment();
        env->insert(u"HOME"_s, home);
        for (const char* name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME",
                                 "XDG_STATE_HOME", "XDG_RUNTIME_DIR"})
            env->remove(QString::fromLatin1(name));
        return QStringList{probe} + args;
    }

private Q_SLOTS:
    void init() {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        // The unprivileged user must reach into it.
        QVERIFY(QFile::setPermissions(m_dir->path(), QFile::permissions(m_dir->path()) |
                                                         QFileDevice::ExeOther |
                                                         QFileDevice::ReadOther));
    }

    void cleanup() {
        // Let whoever runs the tests remove what the unprivileged user owns.
        test::setTreeWritable(m_dir->path(), true);
        m_dir.reset();
    }

    void readOnly_data() {
        QTest::addColumn<QString>("what");
        QTest::newRow("sheet") << u"sheet"_s;
        QTest::newRow("group") << u"group"_s;
        QTest::newRow("library") << u"library"_s;
    }

    void readOnly() {
        QFETCH(QString, what);
        for (const QString& group :
             {u"Schnelle Notiz"_s, u"Ideen"_s, u"Projekte"_s, u"Tagebuch"_s, u".Papierkorb"_s})
            QVERIFY(QDir().mkpath(root() + u'/' + group));
        const QString sheet = root() + u"/Ideen/a.md"_s;
        QVERIFY(test::writeBytes(sheet, "# A"));
        QProcessEnvironment env;
        const QStringList command = probeCommand({u"script"_s, root()}, &env);
        QVERIFY(test::handOver(m_dir->path()));
        const QString readOnly = what == u"sheet"   ? sheet
                                 : what == u"group" ? root() + u"/Ideen"_s
                                                    : root();
        QVERIFY(test::setTreeWritable(readOnly, false));

        Probe probe;
        QVERIFY(probe.start(test::unprivileged(command.first(), command.mid(1)), env));
        QCOMPARE(probe.ask(u"group Ideen"_s), u"ok"_s);
        QCOMPARE(probe.ask(u"sheet a.md"_s), u"ok"_s);
        QCOMPARE(probe.ask(u"type "_s + encoded(u"# A neu"_s)), u"ok"_s);
        QCOMPARE(probe.ask(u"flush"_s), u"ok"_s);
        QCOMPARE(probe.ask(u"state"_s), probe.state(true, u"# A neu"_s));
        QCOMPARE(test::readBytes(sheet), QByteArray("# A"));
        if (what == u"group") {
            // Elsewhere the store goes on writing; the text waits for its sheet.
            QVERIFY(probe.ask(u"new"_s).startsWith(u"ok "));
            QCOMPARE(probe.ask(u"state"_s).left(8), u"failed=0"_s);
            QCOMPARE(probe.ask(u"group Ideen"_s), u"ok"_s);
            QCOMPARE(probe.ask(u"sheet a.md"_s), u"ok"_s);
            QCOMPARE(probe.ask(u"state"_s), probe.state(true, u"# A neu"_s));
        } else if (what == u"library") {
            // Nothing can be created; the store stays where it was.
            QCOMPARE(probe.ask(u"new"_s), u"keins"_s);
            QCOMPARE(probe.ask(u"state"_s), probe.state(true, u"# A neu"_s));
        }

        QVERIFY(test::setTreeWritable(readOnly, true));
        QCOMPARE(probe.ask(u"flush"_s), u"ok"_s);
        QCOMPARE(probe.ask(u"state"_s), probe.state(false, u"# A neu"_s));
        QCOMPARE(test::readBytes(sheet), QByteArray("# A neu"));
    }

    void diskFull() {
        const QString text = u"# Voll\n"_s + QString(6000, u'x');
        QVERIFY(QDir().mkpath(root()));
        QProcessEnvironment env;
        QStringList command = probeCommand({u"script"_s, root()}, &env);
        // A real full disk where we may mount one, else a file size limit.
        std::unique_ptr<test::SmallDisk> disk;
        QString how;
        if (test::isRoot()) {
            disk = std::make_unique<test::SmallDisk>(root(), 128 * 1024);
            if (disk->mounted())
                how = u"tmpfs"_s;
        }
        if (how.isEmpty() && test::canUnshareMounts()) {
            how = u"tmpfs in a mount namespace"_s;
            command = QStringList{u"unshare"_s,
                                  u"-rm"_s,
                                  u"sh"_s,
                                  u"-c"_s,
                                  u"mount -t tmpfs -o size=128k tmpfs \"$0\" && exec \"$@\""_s,
                                  root()} +
                      command;
        }
        if (how.isEmpty()) {
            how = u"file size limit"_s;
            env.insert(u"ORVIK_PROBE_FSIZE"_s, u"4096"_s);
        }
        qInfo("full disk: %s", qPrintable(how));
        const bool limited = how == u"file size limit";

        Probe probe;
        QVERIFY(probe.start(command, env));
        const QString created = probe.ask(u"new"_s);
        QVERIFY2(created.startsWith(u"ok "), qPrintable(created));
        const QString sheet = root() + u"/Schnelle Notiz/"_s + created.mid(3);
        const QString filler = root() + u"/Projekte/füller"_s;
        if (!limited)
            QVERIFY(probe.ask(u"fill "_s + encoded(filler)).startsWith(u"ok "));
        QCOMPARE(probe.ask(u"type "_s + encoded(text)), u"ok"_s);
        QCOMPARE(probe.ask(u"flush"_s), u"ok"_s);
        QCOMPARE(probe.ask(u"state"_s), probe.state(true, text));
        const QString before = probe.ask(u"read "_s + encoded(sheet));
        QVERIFY2(before.startsWith(u"text ") && !before.contains(u"xxxx"), qPrintable(before));

        QCOMPARE(probe.ask(limited ? u"unlimit"_s : u"remove "_s + encoded(filler)), u"ok"_s);
        QCOMPARE(probe.ask(u"flush"_s), u"ok"_s);
        QCOMPARE(probe.ask(u"state"_s), probe.state(false, text));
        QCOMPARE(probe.ask(u"read "_s + encoded(sheet)), u"text "_s + encoded(text));
    }

    void libraryPathIsAFile() {
        QVERIFY(test::writeBytes(root(), "kein Ordner"));
        LibraryStore store(inProcess());
        // Only the trash remains, and it is empty.
        QCOMPARE(store.folders().size(), 1);
        QVERIFY(store.sheets().isEmpty());
        QVERIFY(!store.quickNewSheet());
        QVERIFY(!store.createFolder(u"Neu"_s));
        store.setCurrentText(u"# ins Leere"_s);
        store.flushPendingSave();
        store.backupNow();
        QVERIFY(!store.lastWriteFailed());
        QCOMPARE(test::readBytes(root()), QByteArray("kein Ordner"));
    }

    void unusableBackupFolder() {
        QVERIFY(test::writeBytes(backups(), "kein Ordner"));
        QVERIFY(test::writeBytes(root() + u"/Ideen/a.md"_s, "# A"));
        LibraryStore store(inProcess());
        for (const Folder& f : store.folders())
            if (f.name == u"Ideen")
                store.setSelectedFolderID(f.url);
        store.setCurrentText(u"# A weiter"_s);
        store.backupNow();
        QCOMPARE(test::readBytes(root() + u"/Ideen/a.md"_s), QByteArray("# A weiter"));
        QVERIFY(!store.lastWriteFailed());
        QCOMPARE(test::readBytes(backups()), QByteArray("kein Ordner"));
    }
};

ORVIK_TEST_MAIN(TestStoreFaults)
#include "tst_storefaults.moc"
