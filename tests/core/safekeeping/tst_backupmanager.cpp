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

// The new snapshot's folder, if one was made.
std::optional<QString> run(BackupManager& manager) {
    const BackupManager::RunResult result = manager.runIfNeeded().result();
    if (!result.madeSnapshot())
        return std::nullopt;
    return result.snapshot;
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

// QFile::setFileTime refuses times before 1970.
bool setModifiedRaw(const QString& path, time_t seconds, long nanoseconds) {
    const timespec times[2] = {{0, UTIME_OMIT}, {seconds, nanoseconds}};
    return ::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0) == 0;
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

private Q_SLOTS:
    void init() {
        m_tmp.emplace();
        QVERIFY(m_tmp->isValid());
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
        QVERIFY(!QFileInfo::exists(m_backups + u"/.letzter-stand"_s));

        QVERIFY(test::writeBytes(lib(u"Ideen/a.md"_s), "Idee"));
        const auto first = run(manager);
        QVERIFY(first);
        QCOMPARE(test::readBytes(*first + u"/Ideen/a.md"_s), "Idee");
        QVERIFY(!QFileInfo::exists(*first + u"/Ideen/notiz.txt"_s));
        const QString fingerprint =
            BackupManager::fingerprintOf(BackupManager::collectFiles(m_lib, m_backups));
        QCOMPARE(test::readBytes(m_backups + u"/.letzter-stand"_s), fingerprint.toUtf8());

        QCOMPARE(run(manager), std::nullopt);
        QCOMPARE(snapshotNames(manager), QStringList{QFileInfo(*first).fileName()});
    }

    void modificationSecondAndSizeDecide() {
        BackupManager manager(m_lib, m_backups);
        const QString sheet = lib(u"Tagebuch/heute.md"_s);
        const QDateTime base = QDateTime::fromSecsSinceEpoch(1'700'000'000).addMSecs(200);
        QVERIFY(test::writeBytes(sheet, "abc"));
        QVERIFY(test::setModified(sheet, base));
        QVERIFY(run(manager));

        QVERIFY(test::writeBytes(sheet, "xyz"));
        QVERIFY(test::setModified(sheet, base.addMSecs(500)));
        QCOMPARE(run(manager), std::nullopt);

        QVERIFY(test::setModified(sheet, base.addMSecs(1000)));
        const auto next = run(manager);
        QVERIFY(next);
        QCOMPARE(test::readBytes(*next + u"/Tagebuch/heute.md"_s), "xyz");
    }

    void collectFilesKeepsEverySheet() {
        // The hidden trash included, its index not.
        for (const auto& name :
             {u"a.md"_s, u"G/B.MD"_s, u"G/.versteckt.md"_s, u"G/x.txt"_s, u"G/md"_s,
              u".h/tief/c.Md"_s, u".Papierkorb/weg.md"_s, u".Papierkorb/eintraege.json"_s})
            QVERIFY(test::writeBytes(lib(name), "x"));
        QVERIFY(QDir().mkpath(lib(u"Ordner.md"_s)));
        QCOMPARE(relatives(BackupManager::collectFiles(m_lib + u"/./"_s, m_backups)),
                 (QStringList{u".Papierkorb/weg.md"_s, u".h/tief/c.Md"_s, u"G/.versteckt.md"_s,
                              u"G/B.MD"_s, u"a.md"_s}));
    }

    void collectFilesSkipsBackupsAndLinkedFolders() {
        const QString outside = m_root + u"/draussen"_s;
        QVERIFY(test::writeBytes(outside + u"/fremd.md"_s, "fremd"));
        QVERIFY(test::writeBytes(lib(u"G/a.md"_s), "a"));
        QVERIFY(QFile::link(m_lib, lib(u"G/schleife"_s)));
        QVERIFY(QFile::link(outside, lib(u"draussen"_s)));
        QVERIFY(QFile::link(lib(u"G/a.md"_s), lib(u"verweis.md"_s)));
        QCOMPARE(relatives(BackupManager::collectFiles(m_lib, m_backups)),
                 (QStringList{u"G/a.md"_s, u"verweis.md"_s}));

        // The library in the home folder holds the backup folder.
        const QString inner = lib(u".local/share/Orvik/Backups"_s);
        BackupManager manager(m_lib, lib(u"G/../.local/share/Orvik/Backups"_s));
        QVERIFY(run(manager));
        QVERIFY(test::writeBytes(lib(u"G/a.md"_s), "geändert"));
        const auto second = run(manager);
        QVERIFY(second);
        QVERIFY(second->startsWith(inner));
        QCOMPARE(relatives(BackupManager::collectFiles(*second, {})),
                 (QStringList{u"G/a.md"_s, u"verweis.md"_s}));
        QCOMPARE(test::readBytes(*second + u"/verweis.md"_s), "geändert");
    }

    void fingerprintFormat() {
        QVERIFY(test::writeBytes(lib(u"b.md"_s), "abc"));
        QVERIFY(test::setModified(lib(u"b.md"_s), QDateTime::fromMSecsSinceEpoch(1'000'900)));
        QVERIFY(test::writeBytes(lib(u"a/ä.md"_s), ""));
        QVERIFY(setModifiedRaw(lib(u"a/ä.md"_s), -2, 500'000'000)); // -1.5 s
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
        QVERIFY(test::writeBytes(m_backups + u'/' + taken + u"/a.md"_s, "fremd"));

        const auto first = run(manager);
        QVERIFY(first);
        QVERIFY(QFileInfo(*first).fileName() != taken);
        QCOMPARE(test::readBytes(*first + u"/a.md"_s), "eins");

        QVERIFY(test::writeBytes(lib(u"a.md"_s), "zwei!"));
        const auto second = run(manager);
        QVERIFY(second);
        QVERIFY(*second != *first);
        QVERIFY(library::parseStamp(QFileInfo(*second).fileName()) >
                library::parseStamp(QFileInfo(*first).fileName()));
        QCOMPARE(test::readBytes(*second + u"/a.md"_s), "zwei!");
    }

    void failuresAreReportedAndRetried() {
        // The sheet's path fits the system's limit, its path in the snapshot does not.
        const QString deep = (QString(200, u'x') + u'/').repeated(19) + u"a.md"_s;
        const QString backups = m_root + u'/' + QString(250, u'b');
        QVERIFY(test::writeBytes(lib(deep), "tief"));
        QVERIFY((backups + u"/2000-01-01-000000/"_s + deep).toUtf8().size() > 4095);
        BackupManager manager(m_lib, backups);
        const auto none = manager.runIfNeeded().result();
        QCOMPARE(none.status, Status::NothingCopied);
        QCOMPARE(none.failed, QStringList{deep});
        QVERIFY(!none.succeeded());
        QCOMPARE(snapshotNames(manager), QStringList());
        QVERIFY(!QFileInfo::exists(backups + u"/.letzter-stand"_s));

        QVERIFY(test::writeBytes(lib(u"gut.md"_s), "gut"));
        const auto partial = manager.runIfNeeded().result();
        QCOMPARE(partial.status, Status::Incomplete);
        QCOMPARE(partial.failed, QStringList{deep});
        QCOMPARE(relatives(BackupManager::collectFiles(partial.snapshot, {})),
                 QStringList{u"gut.md"_s});
        // Recorded as done, the missing sheet would wait for its next change.
        QVERIFY(!QFileInfo::exists(backups + u"/.letzter-stand"_s));

        // The cause gone, nothing else changed: the next run makes it whole.
        QVERIFY(QDir(lib(QString(200, u'x'))).removeRecursively());
        const auto whole = manager.runIfNeeded().result();
        QCOMPARE(whole.status, Status::Made);
        QVERIFY(whole.succeeded());
        QCOMPARE(test::readBytes(whole.snapshot + u"/gut.md"_s), "gut");
        QVERIFY(QFileInfo::exists(backups + u"/.letzter-stand"_s));
        QCOMPARE(manager.runIfNeeded().result().status, Status::Unchanged);

        QVERIFY(test::writeBytes(m_root + u"/datei"_s, "kein Ordner"));
        // Gives up at once rather than waiting for a free stamp.
        BackupManager blocked(m_lib, m_root + u"/datei/Backups"_s);
        QElapsedTimer timer;
        timer.start();
        const auto refused = blocked.runIfNeeded().result();
        QCOMPARE(refused.status, Status::FolderNotCreated);
        QCOMPARE(refused.folder, m_root + u"/datei/Backups"_s);
        QCOMPARE_LT(timer.elapsed(), 3000);

        BackupManager missing(m_root + u"/gibt-es-nicht"_s, m_backups);
        const auto unreadable = missing.runIfNeeded().result();
        QCOMPARE(unreadable.status, Status::LibraryUnreadable);
        QVERIFY(!QFileInfo::exists(m_backups));
    }

    void pruneLeavesEverythingElseAlone() {
        const QString outside = m_root + u"/draussen"_s;
        QVERIFY(test::writeBytes(outside + u"/wichtig.md"_s, "bleibt"));
        for (const auto& old : {u"2000-01-01-000000"_s, u"2000-01-01-001000"_s})
            QVERIFY(test::writeBytes(m_backups + u'/' + old + u"/a.md"_s, "alt"));
        QVERIFY(test::writeBytes(m_backups + u"/Alt/a.md"_s, "alt"));
        QVERIFY(test::writeBytes(m_backups + u"/notes.txt"_s, "notiz"));
        QVERIFY(test::writeBytes(m_backups + u"/.letzter-stand"_s, "veraltet"));
        QVERIFY(QFile::link(outside, m_backups + u"/2000-01-15-000000"_s));
        QVERIFY(test::writeBytes(lib(u"a.md"_s), "neu"));

        BackupManager manager(m_lib, m_backups);
        manager.setClock([] { return local(2000, 1, 1, 0, 20); });
        const auto snapshot = run(manager);
        QVERIFY(snapshot);
        QCOMPARE(snapshotNames(manager), QStringList{QFileInfo(*snapshot).fileName()});
        QVERIFY(QFileInfo::exists(m_backups + u"/Alt/a.md"_s));
        QVERIFY(QFileInfo::exists(m_backups + u"/notes.txt"_s));
        QVERIFY(QFileInfo::exists(m_backups + u"/.letzter-stand"_s));
        QVERIFY(QFileInfo::exists(m_backups + u"/2000-01-15-000000/wichtig.md"_s));
    }

    void libraryOpenedFromAnOldSnapshotSurvives() {
        const QString opened = m_backups + u"/2000-01-01-000000"_s;
        QVERIFY(test::writeBytes(opened + u"/a.md"_s, "wiederhergestellt"));
        QVERIFY(test::writeBytes(m_backups + u"/2000-01-01-001000/a.md"_s, "alt"));
        BackupManager manager(opened, m_backups);
        manager.setClock([] { return local(2000, 1, 1, 0, 20); });
        QVERIFY(run(manager));
        QCOMPARE(snapshotNames(manager).size(), 2);
        QCOMPARE(test::readBytes(opened + u"/a.md"_s), "wiederhergestellt");
        QVERIFY(!QFileInfo::exists(m_backups + u"/2000-01-01-001000"_s));
    }

    void snapshotsListsNewestFirst() {
        for (const auto& dir : {u"2025-01-01-000000"_s, u"2025-01-02-000000"_s, u"Alt"_s,
                                u"2025-13-01-000000"_s, u"2025-01-01-000000-1"_s})
            QVERIFY(QDir().mkpath(m_backups + u'/' + dir));
        QVERIFY(test::writeBytes(m_backups + u"/2025-01-03-000000"_s, "Datei"));
        BackupManager manager(m_lib, m_backups);
        const auto list = manager.snapshots().result();
        QCOMPARE(list.size(), 2);
        QCOMPARE(list[0].path, m_backups + u"/2025-01-02-000000"_s);
        QCOMPARE(list[0].date, QDateTime(QDate(2025, 1, 2), QTime(0, 0)));
        QCOMPARE(list[1].path, m_backups + u"/2025-01-01-000000"_s);
    }

    void retentionOverThirtyDaysOfHourlySnapshots() {
        const QDateTime now = local(2025, 3, 20, 12);
        QList<BackupManager::Snapshot> all;
        for (int hoursAgo = 30 * 24 - 1; hoursAgo >= 0; --hoursAgo)
            all.append(snap(now.addSecs(-3600 * hoursAgo)));

        QSet<QString> expected;
        for (int hour = 0; hour <= 12; ++hour) // exactly 12 hours old is still inside
            expected.insert(snap(local(2025, 3, 20, hour)).path);
        for (int day = 13; day <= 19; ++day)
            expected.insert(snap(local(2025, 3, day, 23)).path);
        for (const auto& sunday :
             {local(2025, 3, 9, 23), local(2025, 3, 2, 23), local(2025, 2, 23, 23)})
            expected.insert(snap(sunday).path);
        QCOMPARE(expected.size(), 23);
        QCOMPARE(BackupManager::snapshotsToKeep(all, now), expected);
    }

    void retentionEdges() {
        const QDateTime now = local(2025, 3, 1, 12);
        // 30 Dec 2024 and 5 Jan 2025 share ISO week 1 of 2025; 29 Dec is week 52.
        const QList<BackupManager::Snapshot> weeks{snap(local(2024, 12, 30, 10)),
                                                   snap(local(2025, 1, 5, 10)),
                                                   snap(local(2024, 12, 29, 10)), snap(now)};
        QCOMPARE(BackupManager::snapshotsToKeep(weeks, now),
                 (QSet<QString>{weeks[1].path, weeks[2].path, weeks[3].path}));

        // A clock set ahead: both are inside every window, in different weeks.
        const QList<BackupManager::Snapshot> future{snap(now.addDays(200)), snap(now.addDays(210))};
        QCOMPARE(BackupManager::snapshotsToKeep(future, now),
                 (QSet<QString>{future[0].path, future[1].path}));

        // Nine hourly snapshots and a tenth made with the clock a year ahead.
        QList<BackupManager::Snapshot> jump;
        for (int hour = 0; hour < 9; ++hour)
            jump.append(snap(local(2025, 3, 1, hour)));
        jump.append(snap(local(2026, 3, 1, 9)));
        QCOMPARE(BackupManager::snapshotsToKeep(jump, local(2026, 3, 1, 9)).size(), 10);

        const QList<BackupManager::Snapshot> twins{{u"/b/erster"_s, now}, {u"/b/zweiter"_s, now}};
        QCOMPARE(BackupManager::snapshotsToKeep(twins, now), QSet<QString>{u"/b/erster"_s});
    }

    void aClockSetAheadThinsNothing() {
        // Nine snapshots an hour apart, then one run a year ahead, then the
        // clock set right again.
        QList<QDateTime> clocks;
        for (int hour = 0; hour < 9; ++hour)
            clocks.append(local(2025, 3, 1, hour));
        clocks.append(local(2026, 3, 1, 9));
        clocks.append(local(2025, 3, 1, 10));
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

    void defaultRootIsBelowTheDataFolder() {
        const QString dataHome = qEnvironmentVariable("XDG_DATA_HOME");
        QVERIFY(dataHome.startsWith(QDir::homePath()));
        BackupManager manager(m_lib);
        QCOMPARE(manager.location(), dataHome + u"/Orvik/Backups"_s);
        QVERIFY(test::writeBytes(lib(u"a.md"_s), "a"));
        const auto snapshot = run(manager);
        QVERIFY(snapshot);
        QCOMPARE(QFileInfo(*snapshot).path(), dataHome + u"/Orvik/Backups"_s);
    }
};

ORVIK_TEST_MAIN(TestBackupManager)
#include "tst_backupmanager.moc"
