#include "library/library.h"
#include "safekeeping/backupmanager.h"
#include "testenv.h"

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QSaveFile>
#include <QTemporaryDir>
#include <QThread>

#include <cerrno>
#include <fcntl.h>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

using namespace orvik;
using namespace Qt::StringLiterals;

namespace {

using Status = BackupManager::RunResult::Status;
using Snapshots = QList<BackupManager::Snapshot>;

// The new snapshot's folder, if one was made.
std::optional<QString> run(BackupManager& manager) {
    const BackupManager::RunResult result = manager.runIfNeeded().result();
    return result.madeSnapshot() ? std::optional(result.snapshot) : std::nullopt;
}
QStringList relatives(const QList<BackupManager::CollectedFile>& files) {
    QStringList list;
    for (const auto& file : files)
        list.append(file.relative);
    list.sort();
    return list;
}
QStringList snapshotNames(BackupManager& manager) {
    QStringList names;
    for (const auto& snapshot : manager.snapshots().result())
        names.append(QFileInfo(snapshot.path).fileName());
    return names;
}
QDateTime local(int y, int mo, int d, int h, int mi = 30) {
    return QDateTime(QDate(y, mo, d), QTime(h, mi));
}
BackupManager::Snapshot snap(const QDateTime& date) {
    return {u"/b/"_s + library::stamp(date), date};
}
struct stat statOf(const QString& path) {
    struct stat st {};
    ::lstat(QFile::encodeName(path).constData(), &st);
    return st;
}
bool sameFile(const QString& a, const QString& b) {
    const struct stat sa = statOf(a);
    return sa.st_ino != 0 && sa.st_dev == statOf(b).st_dev && sa.st_ino == statOf(b).st_ino;
}
// Blocks in use below `folder`, each file counted once however many names it has, as du does.
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
} // namespace

class TestBackupManager : public QObject {
    Q_OBJECT
    std::optional<QTemporaryDir> m_tmp;
    QString m_root, m_lib, m_backups;
    QDateTime m_time;
    std::unique_ptr<BackupManager> m_manager;

    QString lib(const QString& relative) const { return m_lib + u'/' + relative; }
    QString backup(const QString& relative) const { return m_backups + u'/' + relative; }
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
        m_root = m_tmp->path();
        m_lib = m_root + u"/Bibliothek"_s;
        m_backups = m_root + u"/Sicherungen"_s;
        m_time = QDateTime(QDate(2026, 3, 2), QTime(8, 0));
        QVERIFY(QDir().mkpath(m_lib));
    }
    void cleanup() {
        BackupManager::setLinkFunction(nullptr);
        m_manager.reset();
        test::removeTree(m_root);
    }

    // A change within the same second of modification and of the same size goes unseen; the
    // next second tells.
    void snapshotsOnlyWhenSomethingChanged() {
        BackupManager manager(m_lib, m_backups);
        QVERIFY(put(u"Ideen/notiz.txt"_s, "kein Blatt") && QDir().mkpath(lib(u"Leer"_s)));
        QCOMPARE(run(manager), std::nullopt);
        QVERIFY(!QFileInfo::exists(backup(u".letzter-stand"_s)));
        QVERIFY(put(u"Ideen/a.md"_s, "Idee"));
        const auto first = run(manager);
        QVERIFY(first && !QFileInfo::exists(*first + u"/Ideen/notiz.txt"_s));
        QCOMPARE(test::readBytes(*first + u"/Ideen/a.md"_s), "Idee");
        QCOMPARE(run(manager), std::nullopt);
        const QDateTime base = QDateTime::fromSecsSinceEpoch(1'700'000'000).addMSecs(200);
        QVERIFY(test::setModified(lib(u"Ideen/a.md"_s), base) && run(manager));
        QVERIFY(put(u"Ideen/a.md"_s, "xyzw"));
        QVERIFY(test::setModified(lib(u"Ideen/a.md"_s), base.addMSecs(500)));
        QCOMPARE(run(manager), std::nullopt);
        QVERIFY(test::setModified(lib(u"Ideen/a.md"_s), base.addMSecs(1000)));
        const auto next = run(manager);
        QVERIFY(next);
        QCOMPARE(test::readBytes(*next + u"/Ideen/a.md"_s), "xyzw");
    }

    // The hidden trash included, its index not; linked folders left out, a linked sheet copied;
    // the backup folder inside the library (it is in the home folder) never backed up itself.
    void collectFilesKeepsEverySheetButNoLink() {
        for (const auto& name :
             {u"a.md"_s, u"G/B.MD"_s, u"G/.versteckt.md"_s, u"G/x.txt"_s, u"G/md"_s,
              u".h/tief/c.Md"_s, u".Papierkorb/weg.md"_s, u".Papierkorb/eintraege.json"_s,
              u".local/share/Orvik/Backups/2000-01-01-000000/a.md"_s})
            QVERIFY(put(name, "x"));
        QVERIFY(QDir().mkpath(lib(u"Ordner.md"_s)));
        const QString outside = m_root + u"/draussen"_s;
        QVERIFY(test::writeBytes(outside + u"/fremd.md"_s, "fremd"));
        QVERIFY(QFile::link(m_lib, lib(u"G/schleife"_s)));
        QVERIFY(QFile::link(outside, lib(u"draussen"_s)));
        QVERIFY(QFile::link(lib(u"G/B.MD"_s), lib(u"verweis.md"_s)));
        QCOMPARE(relatives(BackupManager::collectFiles(m_lib + u"/./"_s,
                                                       lib(u"G/../.local/share/Orvik/Backups"_s))),
                 (QStringList{u".Papierkorb/weg.md"_s, u".h/tief/c.Md"_s, u"G/.versteckt.md"_s,
                              u"G/B.MD"_s, u"a.md"_s, u"verweis.md"_s}));
    }

    void fingerprintFormat() {
        QVERIFY(put(u"b.md"_s, "abc") && put(u"a/ä.md"_s, ""));
        QVERIFY(test::setModified(lib(u"b.md"_s), QDateTime::fromMSecsSinceEpoch(1'000'900)));
        QVERIFY(setModifiedExactly(lib(u"a/ä.md"_s), {-2, 500'000'000})); // QFile refuses -1.5 s
        const QList<BackupManager::CollectedFile> files{{lib(u"b.md"_s), u"b.md"_s},
                                                        {lib(u"fehlt.md"_s), u"fehlt.md"_s},
                                                        {lib(u"a/ä.md"_s), u"a/ä.md"_s}};
        QCOMPARE(BackupManager::fingerprintOf(files), u"a/ä.md|0|-1\nb.md|3|1000\nfehlt.md|0|0"_s);
    }

    void sameSecondRunsGetTheirOwnFolders() {
        BackupManager manager(m_lib, m_backups);
        QVERIFY(put(u"a.md"_s, "eins"));
        // So that the next runs fall into the same second as the stamp taken here.
        QThread::msleep(1000 - QDateTime::currentMSecsSinceEpoch() % 1000);
        const QString taken = library::stamp(QDateTime::currentDateTime());
        QVERIFY(test::writeBytes(backup(taken + u"/a.md"_s), "fremd"));
        const auto first = run(manager);
        QVERIFY(first && QFileInfo(*first).fileName() != taken);
        QCOMPARE(test::readBytes(*first + u"/a.md"_s), "eins");
        QVERIFY(put(u"a.md"_s, "zwei!"));
        const auto second = run(manager);
        QVERIFY(second && library::parseStamp(QFileInfo(*second).fileName()) >
                              library::parseStamp(QFileInfo(*first).fileName()));
    }

    void failuresAreReportedAndRetried() {
        // The sheet's path fits the system's limit, its path in the snapshot does not.
        const QString deep = (QString(200, u'x') + u'/').repeated(19) + u"a.md"_s,
                      backups = m_root + u'/' + QString(250, u'b'),
                      marker = backups + u"/.letzter-stand"_s;
        QVERIFY(put(deep, "tief"));
        QVERIFY((backups + u"/2000-01-01-000000/"_s + deep).toUtf8().size() > 4095);
        BackupManager manager(m_lib, backups);
        const auto none = manager.runIfNeeded().result();
        QVERIFY(none.status == Status::NothingCopied && !none.succeeded());
        QCOMPARE(none.failed, QStringList{deep});
        QVERIFY(snapshotNames(manager).isEmpty() && !QFileInfo::exists(marker));
        QVERIFY(put(u"gut.md"_s, "gut"));
        const auto partial = manager.runIfNeeded().result();
        QVERIFY(partial.status == Status::Incomplete && partial.failed == QStringList{deep});
        QCOMPARE(relatives(BackupManager::collectFiles(partial.snapshot, {})),
                 QStringList{u"gut.md"_s});
        // Recorded as done, the missing sheet would wait for its next change.
        QVERIFY(!QFileInfo::exists(marker));
        QVERIFY(QDir(lib(QString(200, u'x'))).removeRecursively());
        const auto whole = manager.runIfNeeded().result();
        QVERIFY(whole.status == Status::Made && whole.succeeded() && QFileInfo::exists(marker));
        QCOMPARE(manager.runIfNeeded().result().status, Status::Unchanged);
        // A file where the folder belongs: given up at once, not waiting for a free stamp.
        QVERIFY(test::writeBytes(m_backups, "kein Ordner"));
        BackupManager blocked(m_lib, m_backups + u"/Backups"_s);
        QElapsedTimer timer;
        timer.start();
        const auto refused = blocked.runIfNeeded().result();
        QVERIFY(refused.status == Status::FolderNotCreated &&
                refused.folder == m_backups + u"/Backups"_s);
        QCOMPARE_LT(timer.elapsed(), 3000);
        BackupManager missing(m_root + u"/gibt-es-nicht"_s, backups + u"/neu"_s);
        QCOMPARE(missing.runIfNeeded().result().status, Status::LibraryUnreadable);
        QVERIFY(!QFileInfo::exists(backups + u"/neu"_s));
    }

    // Thinning removes old snapshots only: not what else is in the folder, not a link named like
    // one, not the snapshot a library is opened from.
    void pruneLeavesEverythingElseAlone() {
        const QString outside = m_root + u"/draussen"_s;
        QVERIFY(test::writeBytes(outside + u"/wichtig.md"_s, "bleibt"));
        for (const auto& old : {u"2000-01-01-000000/a.md"_s, u"2000-01-01-001000/a.md"_s,
                                u"Alt/a.md"_s, u"notes.txt"_s})
            QVERIFY(test::writeBytes(backup(old), "alt"));
        QVERIFY(QFile::link(outside, backup(u"2000-01-15-000000"_s)));
        QVERIFY(put(u"a.md"_s, "neuer Text"));
        const QString opened = backup(u"2000-01-01-000000"_s);
        BackupManager fromSnapshot(opened, m_backups);
        fromSnapshot.setClock([] { return local(2000, 1, 1, 0, 20); });
        QVERIFY(run(fromSnapshot));
        QCOMPARE(snapshotNames(fromSnapshot).size(), 2);
        QVERIFY(test::readBytes(opened + u"/a.md"_s) == "alt" &&
                !QFileInfo::exists(backup(u"2000-01-01-001000"_s)));
        BackupManager manager(m_lib, m_backups);
        manager.setClock([] { return local(2000, 1, 1, 0, 40); });
        const auto snapshot = run(manager);
        QVERIFY(snapshot);
        QCOMPARE(snapshotNames(manager), QStringList{QFileInfo(*snapshot).fileName()});
        for (const auto& kept : {u"Alt/a.md"_s, u"notes.txt"_s, u".letzter-stand"_s,
                                 u"2000-01-15-000000/wichtig.md"_s})
            QVERIFY2(QFileInfo::exists(backup(kept)), qPrintable(kept));
    }

    void snapshotsListsNewestFirst() {
        for (const auto& dir : {u"2025-01-01-000000"_s, u"2025-01-02-000000"_s, u"Alt"_s,
                                u"2025-13-01-000000"_s, u"2025-01-01-000000-1"_s})
            QVERIFY(QDir().mkpath(backup(dir)));
        QVERIFY(test::writeBytes(backup(u"2025-01-03-000000"_s), "Datei"));
        BackupManager manager(m_lib, m_backups);
        QCOMPARE(snapshotNames(manager),
                 (QStringList{u"2025-01-02-000000"_s, u"2025-01-01-000000"_s}));
        QCOMPARE(manager.snapshots().result()[0].date, QDateTime(QDate(2025, 1, 2), QTime(0, 0)));
    }

    // Hourly for 30 days: every hour of the last 12 (exactly 12 hours old is still inside), then
    // the last of each day for a week, then of each ISO week.
    void retention() {
        const QDateTime now = local(2025, 3, 20, 12);
        Snapshots all;
        for (int hoursAgo = 30 * 24 - 1; hoursAgo >= 0; --hoursAgo)
            all.append(snap(now.addSecs(-3600 * hoursAgo)));
        QSet<QString> kept;
        for (int hour = 0; hour <= 12; ++hour)
            kept.insert(snap(local(2025, 3, 20, hour)).path);
        for (int daysBack : {1, 2, 3, 4, 5, 6, 7, 11, 18, 25}) // the last three are Sundays
            kept.insert(snap(local(2025, 3, 20, 23).addDays(-daysBack)).path);
        QCOMPARE(BackupManager::snapshotsToKeep(all, now), kept);
        // 30 Dec 2024 and 5 Jan 2025 share ISO week 1 of 2025; 29 Dec is week 52.
        const QDateTime march = local(2025, 3, 1, 12);
        const Snapshots weeks{snap(local(2024, 12, 30, 10)), snap(local(2025, 1, 5, 10)),
                              snap(local(2024, 12, 29, 10)), snap(march)};
        QCOMPARE(BackupManager::snapshotsToKeep(weeks, march),
                 (QSet<QString>{weeks[1].path, weeks[2].path, weeks[3].path}));
        const Snapshots twins{{u"/b/erster"_s, march}, {u"/b/zweiter"_s, march}};
        QCOMPARE(BackupManager::snapshotsToKeep(twins, march), QSet<QString>{u"/b/erster"_s});
    }

    // Nine snapshots an hour apart, one run a year ahead, then the clock set right again: nothing
    // is thinned, the one ahead is reported and listed after the last run.
    void aClockSetAheadThinsNothing() {
        QList<QDateTime> clocks;
        for (int hour = 0; hour < 9; ++hour)
            clocks.append(local(2025, 3, 1, hour));
        clocks << local(2026, 3, 1, 9) << local(2025, 3, 1, 10);
        QDateTime clock;
        BackupManager manager(m_lib, m_backups);
        manager.setClock([&] { return clock; });
        QString ahead;
        for (qsizetype step = 0; step < clocks.size(); ++step) {
            clock = clocks[step];
            QVERIFY(put(u"a.md"_s, QByteArray(step + 1, 'x')));
            const BackupManager::RunResult result = manager.runIfNeeded().result();
            QVERIFY(result.madeSnapshot() && snapshotNames(manager).size() == step + 1);
            QCOMPARE(result.future, step == 10 ? QStringList{ahead} : QStringList{});
            ahead = step == 9 ? result.snapshot : ahead;
        }
        QCOMPARE(snapshotNames(manager).mid(0, 2),
                 (QStringList{library::stamp(clock), QFileInfo(ahead).fileName()}));
    }

    void unchangedSheetsAreLinkedChangedOnesCopied() {
        m_backups += u"/noch/nicht/da"_s; // made when missing
        const QStringList same{u"Ideen/bleibt.md"_s, u"Ideen/tief/auch.md"_s, u"Ideen/leer.md"_s};
        for (const auto& name : same)
            QVERIFY(put(name, name.endsWith(u"leer.md") ? "" : name.toUtf8()));
        QVERIFY(put(u"Projekte/ändert.md"_s, "alt"));
        const QString first = runHourLater();
        QCOMPARE(first, m_backups + u"/2026-03-02-090000"_s);
        QVERIFY(put(u"Projekte/ändert.md"_s, "neuer Stand") && put(u"Projekte/neu.md"_s, "neu"));
        const QString second = runHourLater();
        for (const auto& name : same) {
            QVERIFY2(sameFile(first + u'/' + name, second + u'/' + name), qPrintable(name));
            QCOMPARE(statOf(second + u'/' + name).st_nlink, nlink_t(2));
        }
        QCOMPARE(statOf(second + u"/Projekte/ändert.md"_s).st_nlink, nlink_t(1));
        QCOMPARE(test::readBytes(second + u"/Projekte/ändert.md"_s), "neuer Stand");
        QCOMPARE(test::readBytes(first + u"/Projekte/ändert.md"_s), "alt");
        // Copies carry the sheet's mode and time to the nanosecond, which lets the next snapshot
        // link them.
        const struct stat sheet = statOf(lib(u"Projekte/neu.md"_s));
        const struct stat copy = statOf(second + u"/Projekte/neu.md"_s);
        QVERIFY(copy.st_mtim.tv_sec == sheet.st_mtim.tv_sec && copy.st_mode == sheet.st_mode);
        QCOMPARE(copy.st_mtim.tv_nsec, sheet.st_mtim.tv_nsec);
    }

    // Same size and time to the nanosecond, other bytes (a tool that restores times): the old
    // text must not stand in for the new. Only the time differs: linking would keep the old time.
    void onlyEqualContentIsLinked() {
        const timespec when{1'700'000'000, 123'456'789};
        QVERIFY(put(u"a.md"_s, "Inhalt A") && setModifiedExactly(lib(u"a.md"_s), when));
        const QString first = runHourLater();
        QVERIFY(put(u"a.md"_s, "Inhalt B") && setModifiedExactly(lib(u"a.md"_s), when));
        QVERIFY(put(u"b.md"_s, "b"));
        const QString second = runHourLater();
        QCOMPARE(test::readBytes(second + u"/a.md"_s), "Inhalt B");
        QCOMPARE(test::readBytes(first + u"/a.md"_s), "Inhalt A");
        QVERIFY(setModifiedExactly(lib(u"a.md"_s), {1'700'000'000, 987'654'321}));
        QVERIFY(put(u"c.md"_s, "c"));
        const QString third = runHourLater();
        QVERIFY(!sameFile(second + u"/a.md"_s, third + u"/a.md"_s));
        QCOMPARE(statOf(third + u"/a.md"_s).st_mtim.tv_nsec, 987'654'321);
        QVERIFY(sameFile(second + u"/b.md"_s, third + u"/b.md"_s));
    }

    // Written in place, saved atomically, or restored as a link to the snapshot's file (cp -al):
    // no write to a sheet ever reaches a snapshot.
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
        QVERIFY(put(u"G/vor-ort.md"_s, "zwei") && put(u"a.md"_s, "zwei"));
        QSaveFile save(lib(u"G/atomar.md"_s));
        QVERIFY(save.open(QIODevice::WriteOnly) && save.write("zwei") == 4 && save.commit());
        for (const auto& name : {u"/G/vor-ort.md"_s, u"/G/atomar.md"_s})
            QVERIFY(test::readBytes(first + name) == "eins" &&
                    test::readBytes(second + name) == "eins");
        QCOMPARE(test::readBytes(second + u"/a.md"_s), "eins");
    }

    // The previous snapshot's group now leads elsewhere, to an equal file.
    void linksInThePreviousSnapshotAreNotFollowed() {
        QVERIFY(put(u"G/a.md"_s, "eins"));
        const QString first = runHourLater(), elsewhere = m_root + u"/anderswo"_s;
        QVERIFY(QDir().rename(first + u"/G"_s, elsewhere));
        QVERIFY(QFile::link(elsewhere, first + u"/G"_s) && put(u"b.md"_s, "b"));
        const QString second = runHourLater();
        QVERIFY(!sameFile(elsewhere + u"/a.md"_s, second + u"/G/a.md"_s));
        QCOMPARE(test::readBytes(second + u"/G/a.md"_s), "eins");
    }

    // Three days on, the first snapshot shares its day with the second and goes; the second's
    // linked file stays with its content.
    void pruningLeavesNewerSnapshotsWhole() {
        QVERIFY(put(u"G/a.md"_s, "aaa") && put(u"G/b.md"_s, "bbb"));
        const QString first = runHourLater();
        QVERIFY(put(u"G/b.md"_s, "bbbb"));
        const QString second = runHourLater();
        m_time = m_time.addDays(3);
        QVERIFY(put(u"G/c.md"_s, "c"));
        const QString third = runHourLater();
        QVERIFY(!third.isEmpty() && !QFileInfo::exists(first));
        QCOMPARE(test::readBytes(second + u"/G/a.md"_s), "aaa");
        QVERIFY(sameFile(second + u"/G/a.md"_s, third + u"/G/a.md"_s));
        QCOMPARE(statOf(third + u"/G/a.md"_s).st_nlink, nlink_t(2));
    }

    void aFailedLinkFallsBackToACopy() {
        QVERIFY(put(u"a.md"_s, "eins"));
        runHourLater();
        BackupManager::setLinkFunction([](int, const char*, int, const char*, int) {
            errno = EXDEV;
            return -1;
        });
        QVERIFY(put(u"b.md"_s, "b"));
        const QString second = runHourLater();
        QCOMPARE(test::readBytes(second + u"/a.md"_s), "eins");
        QCOMPARE(statOf(second + u"/a.md"_s).st_nlink, nlink_t(1));
    }

    // 400 sheets of 12 KB in 10 groups; folders weigh more the smaller the library, so this is
    // stricter than the 50 MB library.
    void aDayOfHourlySnapshotsCostsLittleMoreThanTheLibrary() {
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
            if (hour > 0)
                QVERIFY(test::writeBytes(changed, QByteArray::number(hour) + text) &&
                        test::setModified(changed, m_time));
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
        QVERIFY(fd >= 0 && ::write(fd, "roh", 3) == 3 && ::close(fd) == 0);
        QVERIFY(QFile::link(u"schleife.md"_s, lib(u"G/schleife.md"_s)));
        QVERIFY(QFile::link(u"fehlt.md"_s, lib(u"G/ins-leere.md"_s)));
        QVERIFY(QFile::link(lib(u"G"_s), lib(u"G/zurück"_s)));
        QCOMPARE(::mkfifo(QFile::encodeName(lib(u"G/rohr.md"_s)).constData(), 0644), 0);
        const QString first = runHourLater();
        for (const auto& name : names)
            QCOMPARE(test::readBytes(first + u"/G/"_s + name),
                     test::readBytes(lib(u"G/"_s + name)));
        QVERIFY(!QFileInfo::exists(first + u"/G/Schlüssel.md"_s)); // not normalized
        const auto rawStat = [](const QString& snapshot) {
            struct stat st {};
            ::lstat((QFile::encodeName(snapshot) + "/G/kaputt-\xff\xfe.md").constData(), &st);
            return st;
        };
        QCOMPARE(rawStat(first).st_size, off_t(3));
        for (const auto& absent : {u"schleife.md"_s, u"ins-leere.md"_s, u"rohr.md"_s, u"zurück"_s})
            QVERIFY2(!QFileInfo::exists(first + u"/G/"_s + absent), qPrintable(absent));
        // The marker holds what it compares against, whatever the names.
        QVERIFY(runHourLater(Status::Unchanged).isEmpty());
        QVERIFY(put(u"G/leer.md"_s, "nicht mehr"));
        QCOMPARE(rawStat(runHourLater()).st_nlink, nlink_t(2));
    }
};

ORVIK_TEST_MAIN(TestBackupManager)
#include "tst_backupmanager.moc"
