#include "safekeeping/backupmanager.h"
#include "testenv.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QSaveFile>
#include <QTemporaryDir>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <set>
#include <utility>

using namespace orvik;
using namespace Qt::StringLiterals;

namespace {

using Status = BackupManager::RunResult::Status;

struct stat statOf(const QString& path) {
    struct stat st {};
    ::lstat(QFile::encodeName(path).constData(), &st);
    return st;
}

bool sameFile(const QString& a, const QString& b) {
    const struct stat sa = statOf(a);
    return sa.st_ino != 0 && sa.st_dev == statOf(b).st_dev && sa.st_ino == statOf(b).st_ino;
}

// Blocks in use by everything below `folder`, each file counted once however
// many names it has, as du counts them.
qint64 blocksBelow(const QString& folder) {
    std::set<std::pair<dev_t, ino_t>> seen;
    qint64 blocks = 0;
    QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const struct stat st = statOf(it.next());
        if (seen.insert({st.st_dev, st.st_ino}).second)
            blocks += st.st_blocks;
    }
    return blocks;
}

bool setModifiedExactly(const QString& path, const timespec& when) {
    const timespec times[2] = {{0, UTIME_OMIT}, when};
    return ::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0) == 0;
}

int failingLink(int, const char*, int, const char*, int) {
    errno = EXDEV;
    return -1;
}

} // namespace

class TestBackupLinks : public QObject {
    Q_OBJECT
    std::optional<QTemporaryDir> m_tmp;
    QString m_lib;
    QString m_backups;
    QDateTime m_time;
    std::unique_ptr<BackupManager> m_manager;

    QString lib(const QString& relative) const { return m_lib + u'/' + relative; }
    // Written in place, as editors without atomic saves write.
    bool put(const QString& relative, const QByteArray& bytes) {
        return test::writeBytes(lib(relative), bytes);
    }

    // Runs as if an hour had passed since the previous run; the snapshot's folder.
    QString runHourLater(Status expected = Status::Made) {
        if (!m_manager) {
            m_manager = std::make_unique<BackupManager>(m_lib, m_backups);
            m_manager->setClock([this] { return m_time; });
        }
        m_time = m_time.addSecs(3600);
        const auto result = m_manager->runIfNeeded().result();
        if (result.status != expected)
            qWarning("run at %s: status %d", qPrintable(m_time.toString()), int(result.status));
        return result.status == expected ? result.snapshot : QString();
    }

private Q_SLOTS:
    void init() {
        m_tmp.emplace();
        m_lib = m_tmp->path() + u"/Bibliothek"_s;
        m_backups = m_tmp->path() + u"/Sicherungen"_s;
        m_time = QDateTime(QDate(2026, 3, 2), QTime(8, 0));
        m_manager.reset();
        QVERIFY(QDir().mkpath(m_lib));
    }

    void cleanup() {
        BackupManager::setLinkFunction(nullptr);
        m_manager.reset();
        // QDir cannot remove names that are not UTF-8.
        QProcess::execute(u"rm"_s, {u"-rf"_s, m_tmp->path()});
    }

    void unchangedSheetsAreLinkedChangedOnesCopied() {
        m_backups += u"/noch/nicht/da"_s; // made when missing
        for (const auto& name : {u"Ideen/bleibt.md"_s, u"Ideen/tief/auch.md"_s})
            QVERIFY(put(name, name.toUtf8()));
        QVERIFY(put(u"Ideen/leer.md"_s, "") && put(u"Projekte/ändert.md"_s, "alt"));
        const QString first = runHourLater();
        QCOMPARE(first, m_backups + u"/2026-03-02-090000"_s);
        QVERIFY(put(u"Projekte/ändert.md"_s, "neuer Stand") && put(u"Projekte/neu.md"_s, "neu"));
        const QString second = runHourLater();
        QVERIFY(!second.isEmpty());
        for (const auto& same :
             {u"Ideen/bleibt.md"_s, u"Ideen/tief/auch.md"_s, u"Ideen/leer.md"_s}) {
            QVERIFY2(sameFile(first + u'/' + same, second + u'/' + same), qPrintable(same));
            QCOMPARE(statOf(second + u'/' + same).st_nlink, nlink_t(2));
            QVERIFY(!sameFile(lib(same), second + u'/' + same));
        }
        for (const auto& copied : {u"Projekte/ändert.md"_s, u"Projekte/neu.md"_s})
            QCOMPARE(statOf(second + u'/' + copied).st_nlink, nlink_t(1));
        QCOMPARE(test::readBytes(second + u"/Projekte/ändert.md"_s), "neuer Stand");
        QCOMPARE(test::readBytes(first + u"/Projekte/ändert.md"_s), "alt");
        // Copies carry the sheet's time to the nanosecond, which is what lets
        // the next snapshot link to them.
        const struct stat sheet = statOf(lib(u"Projekte/neu.md"_s));
        const struct stat copy = statOf(second + u"/Projekte/neu.md"_s);
        QCOMPARE(copy.st_mtim.tv_sec, sheet.st_mtim.tv_sec);
        QCOMPARE(copy.st_mtim.tv_nsec, sheet.st_mtim.tv_nsec);
        QCOMPARE(copy.st_mode & 0777, sheet.st_mode & 0777);
    }

    void onlyEqualContentIsLinked() {
        QVERIFY(put(u"a.md"_s, "Inhalt A"));
        const timespec when{1'700'000'000, 123'456'789};
        QVERIFY(setModifiedExactly(lib(u"a.md"_s), when));
        const QString first = runHourLater();
        // Same size, same time to the nanosecond, other bytes: a tool that
        // restores times must not make the old text stand in for the new.
        QVERIFY(put(u"a.md"_s, "Inhalt B"));
        QVERIFY(setModifiedExactly(lib(u"a.md"_s), when) && put(u"b.md"_s, "b"));
        const QString second = runHourLater();
        QCOMPARE(test::readBytes(second + u"/a.md"_s), "Inhalt B");
        QCOMPARE(test::readBytes(first + u"/a.md"_s), "Inhalt A");
        QVERIFY(!sameFile(first + u"/a.md"_s, second + u"/a.md"_s));
        // Only the time differs: linking would give the snapshot the old time.
        QVERIFY(setModifiedExactly(lib(u"a.md"_s), {1'700'000'000, 987'654'321}));
        QVERIFY(put(u"c.md"_s, "c"));
        const QString third = runHourLater();
        QVERIFY(!sameFile(second + u"/a.md"_s, third + u"/a.md"_s));
        QCOMPARE(statOf(third + u"/a.md"_s).st_mtim.tv_nsec, 987'654'321);
        QVERIFY(sameFile(second + u"/b.md"_s, third + u"/b.md"_s));
    }

    // Written in place, saved atomically, or restored as a link to the
    // snapshot's file (cp -al): no write to a sheet ever reaches a snapshot.
    void editingTheLibraryNeverChangesASnapshot() {
        for (const auto& name : {u"G/vor-ort.md"_s, u"G/atomar.md"_s, u"a.md"_s})
            QVERIFY(put(name, "eins"));
        const QString first = runHourLater();
        QVERIFY(QFile::remove(lib(u"a.md"_s)));
        QCOMPARE(::link(QFile::encodeName(first + u"/a.md"_s).constData(),
                        QFile::encodeName(lib(u"a.md"_s)).constData()),
                 0);
        QVERIFY(put(u"G/anderes.md"_s, "x"));
        const QString second = runHourLater();
        QVERIFY(sameFile(first + u"/G/vor-ort.md"_s, second + u"/G/vor-ort.md"_s));
        QVERIFY(!sameFile(lib(u"a.md"_s), second + u"/a.md"_s));
        QVERIFY(put(u"G/vor-ort.md"_s, "zwei") && put(u"a.md"_s, "zwei"));
        QSaveFile save(lib(u"G/atomar.md"_s));
        QVERIFY(save.open(QIODevice::WriteOnly));
        save.write("zwei");
        QVERIFY(save.commit());
        for (const auto& name : {u"/G/vor-ort.md"_s, u"/G/atomar.md"_s})
            QVERIFY(test::readBytes(first + name) == "eins" &&
                    test::readBytes(second + name) == "eins");
        QCOMPARE(test::readBytes(second + u"/a.md"_s), "eins");
    }

    // The previous snapshot's group now leads elsewhere, to an equal file.
    void linksInThePreviousSnapshotAreNotFollowed() {
        QVERIFY(put(u"G/a.md"_s, "eins"));
        const QString first = runHourLater();
        const QString elsewhere = m_tmp->path() + u"/anderswo"_s;
        QVERIFY(QDir().rename(first + u"/G"_s, elsewhere));
        QVERIFY(QFile::link(elsewhere, first + u"/G"_s));
        QVERIFY(put(u"b.md"_s, "b"));
        const QString second = runHourLater();
        QVERIFY(!sameFile(elsewhere + u"/a.md"_s, second + u"/G/a.md"_s));
        QCOMPARE(test::readBytes(second + u"/G/a.md"_s), "eins");
    }

    void pruningLeavesNewerSnapshotsWhole() {
        QVERIFY(put(u"G/a.md"_s, "aaa") && put(u"G/b.md"_s, "bbb"));
        const QString first = runHourLater();
        QVERIFY(put(u"G/b.md"_s, "bbbb"));
        const QString second = runHourLater();
        QVERIFY(sameFile(first + u"/G/a.md"_s, second + u"/G/a.md"_s));
        // Three days on: the first snapshot shares its day with the second and
        // goes; the second's linked file stays with its content.
        m_time = m_time.addDays(3);
        QVERIFY(put(u"G/c.md"_s, "c"));
        const QString third = runHourLater();
        QVERIFY(!third.isEmpty() && !QFileInfo::exists(first));
        QCOMPARE(test::readBytes(second + u"/G/a.md"_s), "aaa");
        QCOMPARE(test::readBytes(second + u"/G/b.md"_s), "bbbb");
        QVERIFY(sameFile(second + u"/G/a.md"_s, third + u"/G/a.md"_s));
        QCOMPARE(statOf(third + u"/G/a.md"_s).st_nlink, nlink_t(2));
    }

    void aFailedLinkFallsBackToACopy() {
        QVERIFY(put(u"a.md"_s, "eins"));
        runHourLater();
        BackupManager::setLinkFunction(failingLink);
        QVERIFY(put(u"b.md"_s, "b"));
        const QString second = runHourLater();
        QCOMPARE(test::readBytes(second + u"/a.md"_s), "eins");
        QCOMPARE(statOf(second + u"/a.md"_s).st_nlink, nlink_t(1));
        QCOMPARE(statOf(lib(u"a.md"_s)).st_mtim.tv_nsec,
                 statOf(second + u"/a.md"_s).st_mtim.tv_nsec);
    }

    void aDayOfHourlySnapshotsCostsLittleMoreThanTheLibrary() {
        // 400 sheets of 12 KB in 10 groups; folders weigh more the smaller the
        // library, so this is stricter than the 50 MB library.
        QByteArray text;
        while (text.size() < 12 * 1024)
            text += "Ein Satz über die Brücke, das Wetter und den Tag.\n";
        for (int group = 0; group < 10; ++group)
            for (int sheet = 0; sheet < 40; ++sheet)
                QVERIFY(put(u"Gruppe %1/Blatt %2.md"_s.arg(group).arg(sheet),
                            QByteArray::number(sheet) + text));
        const qint64 library = blocksBelow(m_lib);
        for (int hour = 0; hour < 24; ++hour) {
            const QString changed = lib(u"Gruppe %1/Blatt 7.md"_s.arg(hour % 10));
            if (hour > 0) {
                QVERIFY(test::writeBytes(changed, QByteArray::number(hour) + text));
                QVERIFY(test::setModified(changed, m_time));
            }
            QVERIFY(!runHourLater().isEmpty());
        }
        const qint64 used = blocksBelow(m_backups);
        qInfo("library %lld blocks, snapshots %lld blocks", library, used);
        QCOMPARE_LE(used * 2, library * 3);
    }

    void awkwardNamesAndLinksNeitherCrashNorHang() {
        const QStringList names{u"leer.md"_s, u"-strich.md"_s, u"Schlu\u0308ssel.md"_s,
                                u"\U0001F600 froh.md"_s};
        for (const auto& name : names)
            QVERIFY(put(u"G/"_s + name, name.startsWith(u"leer") ? "" : name.toUtf8()));
        const QByteArray invalid = QFile::encodeName(lib(u"G/"_s)) + "kaputt-\xff\xfe.md";
        const int fd = ::open(invalid.constData(), O_WRONLY | O_CREAT | O_EXCL, 0644);
        QVERIFY(fd >= 0);
        QCOMPARE(::write(fd, "roh", 3), ssize_t(3));
        QCOMPARE(::close(fd), 0);
        QVERIFY(QFile::link(u"schleife.md"_s, lib(u"G/schleife.md"_s)));
        QVERIFY(QFile::link(u"fehlt.md"_s, lib(u"G/ins-leere.md"_s)));
        QVERIFY(QFile::link(lib(u"G"_s), lib(u"G/zurück"_s)));
        QCOMPARE(::mkfifo(QFile::encodeName(lib(u"G/rohr.md"_s)).constData(), 0644), 0);

        const QString first = runHourLater();
        for (const auto& name : names)
            QCOMPARE(test::readBytes(first + u"/G/"_s + name),
                     test::readBytes(lib(u"G/"_s + name)));
        QVERIFY(!QFileInfo::exists(first + u"/G/Schlüssel.md"_s)); // not normalized
        const QByteArray copied = QFile::encodeName(first) + "/G/kaputt-\xff\xfe.md";
        struct stat st;
        QCOMPARE(::stat(copied.constData(), &st), 0);
        QCOMPARE(st.st_size, off_t(3));
        for (const auto& absent : {u"schleife.md"_s, u"ins-leere.md"_s, u"rohr.md"_s, u"zurück"_s})
            QVERIFY2(!QFileInfo::exists(first + u"/G/"_s + absent), qPrintable(absent));
        // The marker holds what it compares against, whatever the names.
        QVERIFY(runHourLater(Status::Unchanged).isEmpty());
        QVERIFY(put(u"G/leer.md"_s, "nicht mehr"));
        const QString second = runHourLater();
        const QByteArray linked = QFile::encodeName(second) + "/G/kaputt-\xff\xfe.md";
        QCOMPARE(::stat(linked.constData(), &st), 0);
        QCOMPARE(st.st_nlink, nlink_t(2));
    }
};

ORVIK_TEST_MAIN(TestBackupLinks)
#include "tst_backuplinks.moc"
