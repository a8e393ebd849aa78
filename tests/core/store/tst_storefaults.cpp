#include "faults.h"
#include "store/librarystore.h"
#include "storefixture.h"
#include "testenv.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>

#include <sys/stat.h>

using namespace Qt::StringLiterals;

using namespace orvik;

namespace {

QString encoded(const QString& text) {
    return QString::fromLatin1(text.toUtf8().toPercentEncoding());
}

// "failed=0|1 text=…" as the store sees it.
QString state(bool failed, const QString& text) {
    return u"failed="_s + (failed ? u'1' : u'0') + u" text="_s + encoded(text);
}

// The store in a process of its own (storeprobe.cpp), driven line by line.
struct Probe {
    QProcess process;

    ~Probe() {
        process.closeWriteChannel();
        process.waitForFinished(5000);
    }

    bool start(const QStringList& command, const QProcessEnvironment& env) {
        process.setProcessEnvironment(env);
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start(command.first(), command.mid(1));
        return process.waitForStarted(10000);
    }

    // Each line in turn; the answers joined by '|'.
    QString ask(const QStringList& lines) {
        QStringList answers;
        for (const QString& line : lines) {
            process.write(line.toUtf8() + '\n');
            while (!process.canReadLine())
                if (!process.waitForReadyRead(10000))
                    return u"(keine Antwort)"_s;
            answers.append(QString::fromUtf8(process.readLine()).chopped(1));
        }
        return answers.join(u'|');
    }
};

} // namespace

// Writes that fail for real causes: the store keeps the text, says the write failed, and
// writes it once the cause is gone. As root it runs as an unprivileged user, bound by modes.
class TestStoreFaults : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    test::StoreFixture m_fixture;

    QString root() const { return m_dir->path() + u"/Orvik"_s; }

    // The probe where the unprivileged user may run it, and a home of its own.
    QStringList probeCommand(QProcessEnvironment* env) {
        const QString probe = m_dir->path() + u"/storeprobe"_s;
        QFile::copy(QStringLiteral(ORVIK_STORE_PROBE), probe);
        *env = QProcessEnvironment::systemEnvironment();
        env->insert(u"HOME"_s, m_dir->path() + u"/home"_s);
        for (const char* name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME",
                                 "XDG_STATE_HOME", "XDG_RUNTIME_DIR"})
            env->remove(QString::fromLatin1(name));
        return {probe, u"script"_s, root()};
    }

private Q_SLOTS:
    void init() {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(QDir().mkpath(m_dir->path() + u"/home"_s));
        QVERIFY(::chmod(QFile::encodeName(m_dir->path()).constData(), 0755) == 0);
    }

    // Lets whoever runs the tests remove what the unprivileged user owns.
    void cleanup() { test::setTreeWritable(m_dir->path(), true); }

    void readOnly_data() {
        QTest::addColumn<QString>("what");
        QTest::newRow("sheet") << u"/Ideen/a.md"_s;
        QTest::newRow("group") << u"/Ideen"_s;
        QTest::newRow("library") << QString();
    }
    void readOnly() {
        QFETCH(QString, what);
        const QString sheet = root() + u"/Ideen/a.md"_s;
        QVERIFY(test::writeBytes(sheet, "# A"));
        QProcessEnvironment env;
        const QStringList command = probeCommand(&env);
        QVERIFY(test::handOver(m_dir->path()));
        QVERIFY(test::setTreeWritable(root() + what, false));
        Probe probe;
        QVERIFY(probe.start(test::unprivileged(command.first(), command.mid(1)), env));
        const QString waiting = state(true, u"# A neu"_s);
        QCOMPARE(probe.ask({u"group Ideen"_s, u"sheet a.md"_s, u"type "_s + encoded(u"# A neu"_s),
                            u"flush"_s, u"state"_s}),
                 u"ok|ok|ok|ok|"_s + waiting);
        QCOMPARE(test::readBytes(sheet), QByteArray("# A"));
        // Elsewhere the store goes on writing, while the text waits for its sheet; where
        // nothing can be made, the store stays where it was.
        if (what == u"/Ideen") {
            QVERIFY(probe.ask({u"new"_s}).startsWith(u"ok "));
            QVERIFY(probe.ask({u"state"_s}).startsWith(u"failed=0"));
            QCOMPARE(probe.ask({u"group Ideen"_s, u"sheet a.md"_s, u"state"_s}),
                     u"ok|ok|"_s + waiting);
        } else if (what.isEmpty()) {
            QCOMPARE(probe.ask({u"new"_s, u"state"_s}), u"keins|"_s + waiting);
        }
        QVERIFY(test::setTreeWritable(root() + what, true));
        QCOMPARE(probe.ask({u"flush"_s, u"state"_s}), u"ok|"_s + state(false, u"# A neu"_s));
        QCOMPARE(test::readBytes(sheet), QByteArray("# A neu"));
    }

    // A real full disk where we may mount one, else a file size limit.
    void diskFull() {
        const QString text = u"# Voll\n"_s + QString(6000, u'x');
        QVERIFY(QDir().mkpath(root()));
        QProcessEnvironment env;
        QStringList command = probeCommand(&env);
        test::SmallDisk disk(root(), 128 * 1024);
        const bool unshared = !disk.mounted() && test::canUnshareMounts();
        const QString mount = u"mount -t tmpfs -o size=128k tmpfs \"$0\" && exec \"$@\""_s;
        if (unshared)
            command =
                QStringList{u"unshare"_s, u"-rm"_s, u"sh"_s, u"-c"_s, mount, root()} + command;
        const bool limited = !disk.mounted() && !unshared;
        if (limited)
            env.insert(u"ORVIK_PROBE_FSIZE"_s, u"4096"_s);
        Probe probe;
        QVERIFY(probe.start(command, env));
        const QString created = probe.ask({u"new"_s});
        QVERIFY2(created.startsWith(u"ok "), qPrintable(created));
        const QString sheet = encoded(root() + u"/Schnelle Notiz/"_s + created.mid(3));
        const QString filler = encoded(root() + u"/Projekte/füller"_s);
        if (!limited)
            QVERIFY(probe.ask({u"fill "_s + filler}).startsWith(u"ok "));
        QCOMPARE(probe.ask({u"type "_s + encoded(text), u"flush"_s, u"state"_s}),
                 u"ok|ok|"_s + state(true, text));
        const QString before = probe.ask({u"read "_s + sheet});
        QVERIFY2(before.startsWith(u"text ") && !before.contains(u"xxxx"), qPrintable(before));
        QCOMPARE(probe.ask({limited ? u"unlimit"_s : u"remove "_s + filler, u"flush"_s, u"state"_s,
                            u"read "_s + sheet}),
                 u"ok|ok|"_s + state(false, text) + u"|text "_s + encoded(text));
    }

    // Only the trash remains, empty; nothing is written over the file.
    void libraryPathIsAFile() {
        QVERIFY(test::writeBytes(root(), "kein Ordner"));
        LibraryStore store(m_fixture.options(m_dir->path(), 600));
        QVERIFY(store.folders().size() == 1 && store.sheets().isEmpty());
        QVERIFY(!store.quickNewSheet() && !store.createFolder(u"Neu"_s));
        store.setCurrentText(u"# ins Leere"_s);
        store.flushPendingSave();
        store.backupNow();
        QVERIFY(!store.lastWriteFailed());
        QCOMPARE(test::readBytes(root()), QByteArray("kein Ordner"));
    }
};

ORVIK_TEST_MAIN(TestStoreFaults)
#include "tst_storefaults.moc"
