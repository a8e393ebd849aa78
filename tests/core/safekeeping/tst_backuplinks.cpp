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
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
        qWarning("cannot stat %s", qPrintable(path));
    return st;
}

bool sameFile(const QString& a, const QString& b) {
    const struct stat sa = statOf(a);
    const struct stat sb = statOf(b);
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
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

// Rewrites a file where it is, as editors without atomic saves do.
bool overwriteInPlace(const QString& path, const QByteArray& bytes) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_TRUNC);
    if (fd < 0)
        return false;
    const bool ok = ::write(fd, bytes.constData(), size_t(bytes.size())) == bytes.size();
    return ::close(fd) == 0 && ok;
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

    QString lib(const QString& relative) const { return m_lib + u'/' + relative; }

    // Runs as if an hour had passed since the previous run.
    BackupManager::RunResult runHourLater(BackupManager& manager) {
        m_time = m_time.addSecs(3600);
        return manager.runIfNeeded().result();
    }

    std::unique_ptr<BackupManager> manager() {
        auto made = std::make_unique<BackupManager>(m_lib, m_backups);
        made->setClock([this] { return m_time; });
        return made;
    }

private Q_SLOTS:
    void init() {
        m_tmp.emplace();
        QVERIFY(m_tmp->isValid());
        m_lib = m_tmp->path() + u"/Bibliothek"_s;
        m_backups = m_tmp->path() + u"/Sicherungen"_s;
        m_time = QDateTime(QDate(2026, 3, 2), QTime(8, 0));
        QVERIFY(QDir().mkpath(m_lib));
    }

    void cleanup() {
        BackupManager::setLinkFunction(nullptr);
        // QDir cannot remove names that are not UTF-8.
        QProcess::execute(u"rm"_s, {u"-rf"_s, m_tmp->path()});
    }

    void unchangedSheetsAreLinkedChangedOnesCopied() {
        QVERIFY(test::writeBytes(lib(u"Ideen/bleibt.md"_s), "bleibt"));
        QVERIFY(test::writeBytes(lib(u"Ideen/tief/auch.md"_s), "auch"));
        QVERIFY(test::writeBytes(lib(u"Ideen/leer.md"_s), ""));
        QVERIFY(test::writeBytes(lib(u"Projekte/ändert.md"_s), "alt"));
        const auto backups = manager();
        const auto first = runHourLater(*backups);
        QCOMPARE(first.status, Status::Made);

        QVERIFY(test::writeBytes(lib(u"Projekte/ändert.md"_s), "neuer Stand"));
        QVERIFY(test::writeBytes(lib(u"Projekte/neu.md"_s), "neu"));
        const auto second = runHourLater(*backups);
        QCOMPARE(second.status, Status::Made);

        for (const auto& same :
             {u"Ideen/bleibt.md"_s, u"Ideen/tief/auch.md"_s, u"Ideen/leer.md"_s}) {
            QVERIFY2(sameFile(first.snapshot + u'/' + same, second.snapshot + u'/' + same),
                     qPrintable(same));
            QCOMPARE(statOf(second.snapshot + u'/' + same).st_nlink, nlink_t(2));
            QVERIFY(!sameFile(lib(same), second.snapshot + u'/' + same));
        }
        for (const auto& copied : {u"Projekte/ändert.md"_s, u"Projekte/neu.md"_s})
            QCOMPARE(statOf(second.snapshot + u'/' + copied).st_nlink, nlink_t(1));
        QCOMPARE(test::readBytes(second.snapshot + u"/Projekte/ändert.md"_s), "neuer Stand");
        QCOMPARE(test::readBytes(first.snapshot + u"/Projekte/ändert.md"_s), "alt");

        // Copies carry the sheet's time to the nanosecond, which is what lets
        // the next snapshot link to them.
        const struct stat sheet = statOf(lib(u"Projekte/neu.md"_s));
        const struct stat copy = statOf(second.snapshot + u"/Projekte/neu.md"_s);
        QCOMPARE(copy.st_mtim.tv_sec, sheet.st_mtim.tv_sec);
        QCOMPARE(copy.st_mtim.tv_nsec, sheet.st_mtim.tv_nsec);
        QCOMPARE(copy.st_mode & 0777, sheet.st_mode & 0777);
    }

    void onlyEqualContentIsLinked() {
        QVERIFY(test::writeBytes(lib(u"a.md"_s), "Inhalt A"));
        const timespec when{1'700'000'000, 123'456'789};
        QVERIFY(setModifiedExactly(lib(u"a.md"_s), when));
        const auto backups = manager();
        const auto first = runHourLater(*backups);
        QCOMPARE(first.status, Status::Made);

        // Same size, same time to the nanosecond, other bytes: a tool that
        // restores times must not make the old text stand in for the new.
        QVERIFY(overwriteInPlace(lib(u"a.md"_s), "Inhalt B"));
        QVERIFY(setModifiedExactly(lib(u"a.md"_s), when));
        QVERIFY(test::writeBytes(lib(u"b.md"_s), "b"));
        const auto second = runHourLater(*backups);
        QCOMPARE(second.status, Status::Made);
        QCOMPARE(test::readBytes(second.snapshot + u"/a.md"_s), "Inhalt B");
        QCOMPARE(test::readBytes(first.snapshot + u"/a.md"_s), "Inhalt A");
        QVERIFY(!sameFile(first.snapshot + u"/a.md"_s, second.snapshot + u"/a.md"_s));

        // Only the time differs: linking would give the snapshot the old time.
        QVERIFY(setModifiedExactly(lib(u"a.md"_s), {1'700'000'000, 987'654'321}));
        QVERIFY(test::writeBytes(lib(u"c.md"_s), "c"));
        const auto third = runHourLater(*backups);
        QVERIFY(!sameFile(second.snapshot + u"/a.md"_s, third.snapshot + u"/a.md"_s));
        QCOMPARE(statOf(third.snapshot + u"/a.md"_s).st_mtim.tv_nsec, 987'654'321);
        QVERIFY(sameFile(second.snapshot + u"/b.md"_s, third.snapshot + u"/b.md"_s));
    }

    void editingTheLibraryNeverChangesASnapshot() {
        QVERIFY(test::writeBytes(lib(u"G/vor-ort.md"_s), "eins"));
        QVERIFY(test::writeBytes(lib(u"G/atomar.md"_s), "eins"));
        const auto backups = manager();
        const auto first = runHourLater(*backups);
        QVERIFY(test::writeBytes(lib(u"G/anderes.md"_s), "x"));
        const auto second = runHourLater(*backups);
        QVERIFY(
            sameFile(first.snapshot + u"/G/vor-ort.md"_s, second.snapshot + u"/G/vor-ort.md"_s));

        QVERIFY(overwriteInPlace(lib(u"G/vor-ort.md"_s), "zwei"));
        QSaveFile save(lib(u"G/atomar.md"_s));
        QVERIFY(save.open(QIODevice::WriteOnly));
        save.write("zwei");
        QVERIFY(save.commit());
        for (const auto& snapshot : {first.snapshot, second.snapshot}) {
            QCOMPARE(test::readBytes(snapshot + u"/G/vor-ort.md"_s), "eins");
            QCOMPARE(test::readBytes(snapshot + u"/G/atomar.md"_s), "eins");
        }
    }

    void sheetsRestoredAsLinksAreCopied() {
        QVERIFY(test::writeBytes(lib(u"a.md"_s), "eins"));
        const auto backups = manager();
        const auto first = runHourLater(*backups);
        // Restored by linking the snapshot's file back (cp -al): the sheet and
        // the snapshot file are one file now.
        QVERIFY(QFile::remove(lib(u"a.md"_s)));
        QVERIFY(::link(QFile::encodeName(first.snapshot + u"/a.md"_s).constData(),
                       QFile::encodeName(lib(u"a.md"_s)).constData()) == 0);
        QVERIFY(test::writeBytes(lib(u"b.md"_s), "b"));
        const auto second = runHourLater(*backups);
        QCOMPARE(second.status, Status::Made);
        QVERIFY(!sameFile(lib(u"a.md"_s), second.snapshot + u"/a.md"_s));
        QVERIFY(overwriteInPlace(lib(u"a.md"_s), "drei"));
        QCOMPARE(test::readBytes(second.snapshot + u"/a.md"_s), "eins");
    }

    void linksInThePreviousSnapshotAreNotFollowed() {
        QVERIFY(test::writeBytes(lib(u"G/a.md"_s), "eins"));
        const auto backups = manager();
        const auto first = runHourLater(*backups);
        // The previous snapshot's group now leads elsewhere, to an equal file.
        const QString elsewhere = m_tmp->path() + u"/anderswo"_s;
        QVERIFY(QDir().rename(first.snapshot + u"/G"_s, elsewhere));
        QVERIFY(QFile::link(elsewhere, first.snapshot + u"/G"_s));
        QVERIFY(test::writeBytes(lib(u"b.md"_s), "b"));
        const auto second = runHourLater(*backups);
        QCOMPARE(second.status, Status::Made);
        QVERIFY(!sameFile(elsewhere + u"/a.md"_s, second.snapshot + u"/G/a.md"_s));
        QCOMPARE(test::readBytes(second.snapshot + u"/G/a.md"_s), "eins");
    }

    void pruningLeavesNewerSnapshotsWhole() {
        QVERIFY(test::writeBytes(lib(u"G/a.md"_s), "aaa"));
        QVERIFY(test::writeBytes(lib(u"G/b.md"_s), "bbb"));
        const auto backups = manager();
        const auto first = runHourLater(*backups);
        QVERIFY(test::writeBytes(lib(u"G/b.md"_s), "bbbb"));
        const auto second = runHourLater(*backups);
        QVERIFY(sameFile(first.snapshot + u"/G/a.md"_s, second.snapshot + u"/G/a.md"_s));

        // Three days on: the first snapshot shares its day with the second and
        // goes; the second's linked file stays with its content.
        m_time = m_time.addDays(3);
        QVERIFY(test::writeBytes(lib(u"G/c.md"_s), "c"));
        const auto third = runHourLater(*backups);
        QCOMPARE(third.status, Status::Made);
        QVERIFY(!QFileInfo::exists(first.snapshot));
        QCOMPARE(test::readBytes(second.snapshot + u"/G/a.md"_s), "aaa");
        QCOMPARE(test::readBytes(second.snapshot + u"/G/b.md"_s), "bbbb");
        QVERIFY(sameFile(second.snapshot + u"/G/a.md"_s, third.snapshot + u"/G/a.md"_s));
        QCOMPARE(statOf(third.snapshot + u"/G/a.md"_s).st_nlink, nlink_t(2));
    }

    void aFailedLinkFallsBackToACopy() {
        QVERIFY(test::writeBytes(lib(u"a.md"_s), "eins"));
        const auto backups = manager();
        const auto first = runHourLater(*backups);
        BackupManager::setLinkFunction(failingLink);
        QVERIFY(test::writeBytes(lib(u"b.md"_s), "b"));
        const auto second = runHourLater(*backups);
        QCOMPARE(second.status, Status::Made);
        QCOMPARE(test::readBytes(second.snapshot + u"/a.md"_s), "eins");
        QCOMPARE(statOf(second.snapshot + u"/a.md"_s).st_nlink, nlink_t(1));
        QCOMPARE(statOf(lib(u"a.md"_s)).st_mtim.tv_nsec,
                 statOf(second.snapshot + u"/a.md"_s).st_mtim.tv_nsec);
    }

    void aDayOfHourlySnapshotsCostsLittleMoreThanTheLibrary() {
        // 400 sheets of 12 KB in 10 groups; folders weigh more the smaller the
        // library, so this is stricter than the 50 MB library.
        QByteArray text;
        while (text.size() < 12 * 1024)
            text += "Ein Satz über die Brücke, das Wetter und den Tag.\n";
        for (int group = 0; group < 10; ++group)
            for (int sheet = 0; sheet < 40; ++sheet)
                QVERIFY(test::writeBytes(lib(u"Gruppe %1/Blatt %2.md"_s.arg(group).arg(sheet)),
                                         QByteArray::number(sheet) + text));
        const qint64 library = blocksBelow(m_lib);

        const auto backups = manager();
        for (int hour = 0; hour < 24; ++hour) {
            const QString changed = lib(u"Gruppe %1/Blatt 7.md"_s.arg(hour % 10));
            if (hour > 0) {
                QVERIFY(test::writeBytes(changed, QByteArray::number(hour) + text));
                QVERIFY(test::setModified(changed, m_time));
            }
            QCOMPARE(runHourLater(*backups).status, Status::Made);
        }
        const qint64 used = blocksBelow(m_backups);
        qInfo("library %lld blocks, %lld snapshots %lld blocks", library,
              qlonglong(backups->snapshots().result().size()), used);
        QCOMPARE_LE(used * 2, library * 3);
    }

    void awkwardNamesAndLinksNeitherCrashNorHang() {
        QVERIFY(test::writeBytes(lib(u"G/leer.md"_s), ""));
        QVERIFY(test::writeBytes(lib(u"G/-strich.md"_s), "strich"));
        QVERIFY(test::writeBytes(lib(u"G/Schlu\u0308ssel.md"_s), "nfd"));
        QVERIFY(test::writeBytes(lib(u"G/\U0001F600 froh.md"_s), "emoji"));
        const QByteArray invalid = QFile::encodeName(lib(u"G/"_s)) + "kaputt-\xff\xfe.md";
        const int fd = ::open(invalid.constData(), O_WRONLY | O_CREAT | O_EXCL, 0644);
        QVERIFY(fd >= 0);
        QCOMPARE(::write(fd, "roh", 3), ssize_t(3));
        QCOMPARE(::close(fd), 0);
        QVERIFY(QFile::link(u"schleife.md"_s, lib(u"G/schleife.md"_s)));
        QVERIFY(QFile::link(u"fehlt.md"_s, lib(u"G/ins-leere.md"_s)));
        QVERIFY(QFile::link(lib(u"G"_s), lib(u"G/zurück"_s)));
        QCOMPARE(::mkfifo(QFile::encodeName(lib(u"G/rohr.md"_s)).constData(), 0644), 0);

        const auto backups = manager();
        const auto first = runHourLater(*backups);
        QCOMPARE(first.status, Status::Made);
        QCOMPARE(test::readBytes(first.snapshot + u"/G/leer.md"_s), "");
        QCOMPARE(test::readBytes(first.snapshot + u"/G/-strich.md"_s), "strich");
        QCOMPARE(test::readBytes(first.snapshot + u"/G/Schlu\u0308ssel.md"_s), "nfd");
        QVERIFY(!QFileInfo::exists(first.snapshot + u"/G/Schlüssel.md"_s));
        QCOMPARE(test::readBytes(first.snapshot + u"/G/\U0001F600 froh.md"_s), "emoji");
        const QByteArray copied = QFile::encodeName(first.snapshot) + "/G/kaputt-\xff\xfe.md";
        struct stat st;
        QCOMPARE(::stat(copied.constData(), &st), 0);
        QCOMPARE(st.st_size, off_t(3));
        for (const auto& absent : {u"schleife.md"_s, u"ins-leere.md"_s, u"rohr.md"_s, u"zurück"_s})
            QVERIFY2(!QFileInfo::exists(first.snapshot + u"/G/"_s + absent), qPrintable(absent));

        // The marker holds what it compares against, whatever the names.
        QCOMPARE(runHourLater(*backups).status, Status::Unchanged);
        QVERIFY(test::writeBytes(lib(u"G/leer.md"_s), "nicht mehr"));
        const auto second = runHourLater(*backups);
        QCOMPARE(second.status, Status::Made);
        const QByteArray linked = QFile::encodeName(second.snapshot) + "/G/kaputt-\xff\xfe.md";
        QCOMPARE(::stat(linked.constData(), &st), 0);
        QCOMPARE(st.st_nlink, nlink_t(2));
    }

    void aMissingBackupFolderIsCreated() {
        m_backups += u"/noch/nicht/da"_s;
        QVERIFY(test::writeBytes(lib(u"a.md"_s), "a"));
        const auto backups = manager();
        const auto result = runHourLater(*backups);
        QCOMPARE(result.status, Status::Made);
        QVERIFY(result.snapshot.startsWith(m_backups + u'/'));
        QCOMPARE(QFileInfo(result.snapshot).fileName(), u"2026-03-02-090000"_s);
    }
};

ORVIK_TEST_MAIN(TestBackupLinks)
#include "tst_backuplinks.moc"
