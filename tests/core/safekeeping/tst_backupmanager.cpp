#include "library/library.h"
#include "safekeeping/backupmanager.h"
#include "testenv.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>

#include <fcntl.h>
#include <sys/stat.h>

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

} // namespace

class TestBackupManager : public QObject {
    Q_OBJECT
    std::optional<QTemporaryDir> m_tmp;
    QString m_root;
    QString m_lib;
    QString m_backups;

    QString lib(const QString& relative) const { return m_lib + u'/' + relative; }
    QString backup(const QString& relative) const { return m_backups + u'/' + relative; }

private Q_SLOTS:
    void init() {
        m_tmp.emplace();
        m_root = m_tmp->path();
        m_lib = m_root + u"/Bibliothek"_s;
        m_backups = m_root + u"/Sicherungen"_s;
        QVERIFY(QDir().mkpath(m_lib));
    }

    void snapshotsOnlyWhenSomethingChanged() {
        BackupManager manager(m_lib, m_backups);
        QVERIFY(test::writeBytes(lib(u"Ideen/notiz.txt"_s), "kein Blatt"));
        QVERIFY(QDir().mkpath(lib(u"Leer"_s)));
        QCOMPARE(run(manager), std::nullopt);
        QVERIFY(!QFileInfo::exists(backup(u".letzter-stand"_s)));
        QVERIFY(test::writeBytes(lib(u"Ideen/a.md"_s), "Idee"));
        const auto first = run(manager);
        QVERIFY(first);
        QCOMPARE(test::readBytes(*first + u"/Ideen/a.md"_s), "Idee");
        QVERIFY(!QFileInfo::exists(*first + u"/Ideen/notiz.txt"_s));
        QCOMPARE(
            test::readBytes(backup(u".letzter-stand"_s)),
            BackupManager::fingerprintOf(BackupManager::collectFiles(m_lib, m_backups)).toUtf8());
        QCOMPARE(run(manager), std::nullopt);
        QCOMPARE(snapshotNames(manager), QStringList{QFileInfo(*first).fileName()});
        // A change within the same second of modification and of the same size
        // goes unseen; the next second tells.
        const QDateTime base = QDateTime::fromSecsSinceEpoch(1'700'000'000).addMSecs(200);
        QVERIFY(test::setModified(lib(u"Ideen/a.md"_s), base) && run(manager));
        QVERIFY(test::writeBytes(lib(u"Ideen/a.md"_s), "xyzw"));
        QVERIFY(test::setModified(lib(u"Ideen/a.md"_s), base.addMSecs(500)));
        QCOMPARE(run(manager), std::nullopt);
        QVERIFY(test::setModified(lib(u"Ideen/a.md"_s), base.addMSecs(1000)));
        const auto next = run(manager);
        QVERIFY(next);
        QCOMPARE(test::readBytes(*next + u"/Ideen/a.md"_s), "xyzw");
    }

    void collectFilesKeepsEverySheetButNoLink() {
        // The hidden trash included, its index not.
        for (const auto& name :
             {u"a.md"_s, u"G/B.MD"_s, u"G/.versteckt.md"_s, u"G/x.txt"_s, u"G/md"_s,
              u".h/tief/c.Md"_s, u".Papierkorb/weg.md"_s, u".Papierkorb/eintraege.json"_s})
            QVERIFY(test::writeBytes(lib(name), "x"));
        QVERIFY(QDir().mkpath(lib(u"Ordner.md"_s)));
        // Linked folders are left out, a linked sheet is copied.
        const QString outside = m_root + u"/draussen"_s;
        QVERIFY(test::writeBytes(outside + u"/fremd.md"_s, "fremd"));
        QVERIFY(QFile::link(m_lib, lib(u"G/schleife"_s)));
        QVERIFY(QFile::link(outside, lib(u"draussen"_s)));
        QVERIFY(QFile::link(lib(u"G/B.MD"_s), lib(u"verweis.md"_s)));
        QCOMPARE(relatives(BackupManager::collectFiles(m_lib + u"/./"_s, m_backups)),
                 (QStringList{u".Papierkorb/weg.md"_s, u".h/tief/c.Md"_s, u"G/.versteckt.md"_s,
                              u"G/B.MD"_s, u"a.md"_s, u"verweis.md"_s}));
    }

    // The library in the home folder holds the backup folder: never backed up itself.
    void backupsInsideTheLibraryAreSkipped() {
        QVERIFY(test::writeBytes(lib(u"G/a.md"_s), "a"));
        const QString inner = lib(u".local/share/Orvik/Backups"_s);
        BackupManager manager(m_lib, lib(u"G/../.local/share/Orvik/Backups"_s));
        QVERIFY(run(manager));
        QVERIFY(test::writeBytes(lib(u"G/a.md"_s), "geändert"));
        const auto second = run(manager);
        QVERIFY(second && second->startsWith(inner));
        QCOMPARE(relatives(BackupManager::collectFiles(*second, {})), QStringList{u"G/a.md"_s});
        QCOMPARE(test::readBytes(*second + u"/G/a.md"_s), "geändert");
    }

    void fingerprintFormat() {
        QVERIFY(test::writeBytes(lib(u"b.md"_s), "abc"));
        QVERIFY(test::setModified(lib(u"b.md"_s), QDateTime::fromMSecsSinceEpoch(1'000'900)));
        QVERIFY(test::writeBytes(lib(u"a/ä.md"_s), ""));
        // -1.5 s, which QFile::setFileTime refuses.
        const timespec times[2] = {{0, UTIME_OMIT}, {-2, 500'000'000}};
        QCOMPARE(::utimensat(AT_FDCWD, QFile::encodeName(lib(u"a/ä.md"_s)).constData(), times, 0),
                 0);
        const QList<BackupManager::CollectedFile> files{{lib(u"b.md"_s), u"b.md"_s},
                                                        {lib(u"fehlt.md"_s), u"fehlt.md"_s},
                                                        {lib(u"a/ä.md"_s), u"a/ä.md"_s}};
        QCOMPARE(BackupManager::fingerprintOf(files), u"a/ä.md|0|-1\nb.md|3|1000\nfehlt.md|0|0"_s);
    }

    void sameSecondRunsGetTheirOwnFolders() {
        BackupManager manager(m_lib, m_backups);
        QVERIFY(test::writeBytes(lib(u"a.md"_s), "eins"));
        // So that the next runs fall into the same second as the stamp taken here.
        QThread::msleep(1000 - QDateTime::currentMSecsSinceEpoch() % 1000);
        const QString taken = library::stamp(QDateTime::currentDateTime());
        QVERIFY(test::writeBytes(backup(taken + u"/a.md"_s), "fremd"));
        const auto first = run(manager);
        QVERIFY(first && QFileInfo(*first).fileName() != taken);
        QCOMPARE(test::readBytes(*first + u"/a.md"_s), "eins");
        QVERIFY(test::writeBytes(lib(u"a.md"_s), "zwei!"));
        const auto second = run(manager);
        QVERIFY(second && *second != *first);
        QVERIFY(library::parseStamp(QFileInfo(*second).fileName()) >
                library::parseStamp(QFileInfo(*first).fileName()));
        QCOMPARE(test::readBytes(*second + u"/a.md"_s), "zwei!");
    }

    void failuresAreReportedAndRetried() {
        // The sheet's path fits the system's limit, its path in the snapshot does not.
        const QString deep = (QString(200, u'x') + u'/').repeated(19) + u"a.md"_s;
        const QString backups = m_root + u'/' + QString(250, u'b');
        const QString marker = backups + u"/.letzter-stand"_s;
        QVERIFY(test::writeBytes(lib(deep), "tief"));
        QVERIFY((backups + u"/2000-01-01-000000/"_s + deep).toUtf8().size() > 4095);
        BackupManager manager(m_lib, backups);
        const auto none = manager.runIfNeeded().result();
        QVERIFY(none.status == Status::NothingCopied && !none.succeeded());
        QCOMPARE(none.failed, QStringList{deep});
        QVERIFY(snapshotNames(manager).isEmpty() && !QFileInfo::exists(marker));
        QVERIFY(test::writeBytes(lib(u"gut.md"_s), "gut"));
        const auto partial = manager.runIfNeeded().result();
        QCOMPARE(partial.status, Status::Incomplete);
        QCOMPARE(partial.failed, QStringList{deep});
        QCOMPARE(relatives(BackupManager::collectFiles(partial.snapshot, {})),
                 QStringList{u"gut.md"_s});
        // Recorded as done, the missing sheet would wait for its next change.
        QVERIFY(!QFileInfo::exists(marker));
        // The cause gone, nothing else changed: the next run makes it whole.
        QVERIFY(QDir(lib(QString(200, u'x'))).removeRecursively());
        const auto whole = manager.runIfNeeded().result();
        QVERIFY(whole.status == Status::Made && whole.succeeded());
        QCOMPARE(test::readBytes(whole.snapshot + u"/gut.md"_s), "gut");
        QVERIFY(QFileInfo::exists(marker));
        QCOMPARE(manager.runIfNeeded().result().status, Status::Unchanged);
        // A file where the folder belongs: given up at once, not waiting for a free stamp.
        QVERIFY(test::writeBytes(m_root + u"/datei"_s, "kein Ordner"));
        BackupManager blocked(m_lib, m_root + u"/datei/Backups"_s);
        QElapsedTimer timer;
        timer.start();
        const auto refused = blocked.runIfNeeded().result();
        QCOMPARE(refused.status, Status::FolderNotCreated);
        QCOMPARE(refused.folder, m_root + u"/datei/Backups"_s);
        QCOMPARE_LT(timer.elapsed(), 3000);
        BackupManager missing(m_root + u"/gibt-es-nicht"_s, m_backups);
        QCOMPARE(missing.runIfNeeded().result().status, Status::LibraryUnreadable);
        QVERIFY(!QFileInfo::exists(m_backups));
    }

    // Thinning removes old snapshots only: not what else is in the folder,
    // not a link named like one, not the snapshot a library is opened from.
    void pruneLeavesEverythingElseAlone() {
        const QString outside = m_root + u"/draussen"_s;
        QVERIFY(test::writeBytes(outside + u"/wichtig.md"_s, "bleibt"));
        for (const auto& old : {u"2000-01-01-000000"_s, u"2000-01-01-001000"_s})
            QVERIFY(test::writeBytes(backup(old + u"/a.md"_s), "alt"));
        QVERIFY(test::writeBytes(backup(u"Alt/a.md"_s), "alt"));
        QVERIFY(test::writeBytes(backup(u"notes.txt"_s), "notiz"));
        QVERIFY(QFile::link(outside, backup(u"2000-01-15-000000"_s)));
        QVERIFY(test::writeBytes(lib(u"a.md"_s), "neuer Text"));
        const QString opened = backup(u"2000-01-01-000000"_s);
        BackupManager fromSnapshot(opened, m_backups);
        fromSnapshot.setClock([] { return local(2000, 1, 1, 0, 20); });
        QVERIFY(run(fromSnapshot));
        QCOMPARE(snapshotNames(fromSnapshot).size(), 2);
        QCOMPARE(test::readBytes(opened + u"/a.md"_s), "alt");
        QVERIFY(!QFileInfo::exists(backup(u"2000-01-01-001000"_s)));

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
        const auto list = manager.snapshots().result();
        QCOMPARE(list.size(), 2);
        QCOMPARE(list[0].path, backup(u"2025-01-02-000000"_s));
        QCOMPARE(list[0].date, QDateTime(QDate(2025, 1, 2), QTime(0, 0)));
        QCOMPARE(list[1].path, backup(u"2025-01-01-000000"_s));
    }

    // Hourly for 30 days: every hour of the last 12 (exactly 12 hours old is
    // still inside), then the last of each day for a week, then of each ISO week.
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
    }

    void retentionEdges() {
        const QDateTime now = local(2025, 3, 1, 12);
        // 30 Dec 2024 and 5 Jan 2025 share ISO week 1 of 2025; 29 Dec is week 52.
        const Snapshots weeks{snap(local(2024, 12, 30, 10)), snap(local(2025, 1, 5, 10)),
                              snap(local(2024, 12, 29, 10)), snap(now)};
        QCOMPARE(BackupManager::snapshotsToKeep(weeks, now),
                 (QSet<QString>{weeks[1].path, weeks[2].path, weeks[3].path}));
        // A clock set ahead: both are inside every window, in different weeks.
        const Snapshots ahead{snap(now.addDays(200)), snap(now.addDays(210))};
        QCOMPARE(BackupManager::snapshotsToKeep(ahead, now).size(), 2);
        // Nine hourly snapshots and a tenth made with the clock a year ahead.
        Snapshots jump;
        for (int hour = 0; hour < 9; ++hour)
            jump.append(snap(local(2025, 3, 1, hour)));
        jump.append(snap(local(2026, 3, 1, 9)));
        QCOMPARE(BackupManager::snapshotsToKeep(jump, local(2026, 3, 1, 9)).size(), 10);
        const Snapshots twins{{u"/b/erster"_s, now}, {u"/b/zweiter"_s, now}};
        QCOMPARE(BackupManager::snapshotsToKeep(twins, now), QSet<QString>{u"/b/erster"_s});
    }

    // Nine snapshots an hour apart, then one run a year ahead, then the clock
    // set right again: nothing is thinned, and the one ahead is reported.
    void aClockSetAheadThinsNothing() {
        QList<QDateTime> clocks;
        for (int hour = 0; hour < 9; ++hour)
            clocks.append(local(2025, 3, 1, hour));
        clocks << local(2026, 3, 1, 9) << local(2025, 3, 1, 10);
        QDateTime clock;
        BackupManager manager(m_lib, m_backups);
        manager.setClock([&] { return clock; });
        QString aheadName;
        for (qsizetype step = 0; step < clocks.size(); ++step) {
            clock = clocks[step];
            QVERIFY(test::writeBytes(lib(u"a.md"_s), QByteArray(step + 1, 'x')));
            const BackupManager::RunResult result = manager.runIfNeeded().result();
            QVERIFY(result.madeSnapshot());
            if (step == 9)
                aheadName = result.snapshot;
            QCOMPARE(snapshotNames(manager).size(), step + 1);
            QCOMPARE(result.future, step == 10 ? QStringList{aheadName} : QStringList{});
        }
        // Listed in the order made: the last run first, the one dated ahead next.
        const QStringList names = snapshotNames(manager);
        QCOMPARE(names.first(), library::stamp(local(2025, 3, 1, 10)));
        QCOMPARE(names[1], QFileInfo(aheadName).fileName());
    }
};

ORVIK_TEST_MAIN(TestBackupManager)
#include "tst_backupmanager.moc"
