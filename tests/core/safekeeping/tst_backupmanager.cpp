#include "library/library.h"
#include "safekeeping/backupmanager.h"
#include "safekeeping/disappearance.h"
#include "safekeeping/trash.h"
#include "safekeeping/worddiff.h"
#include "testenv.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSaveFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <set>
#include <utility>

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
    std::ranges::transform(files, std::back_inserter(list),
                           &BackupManager::CollectedFile::relative);
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
struct stat statOf(const QByteArray& path) {
    struct stat st {};
    ::lstat(path.constData(), &st);
    return st;
}
struct stat statOf(const QString& path) {
    return statOf(QFile::encodeName(path));
}
bool sameFile(const QString& a, const QString& b) {
    const struct stat sa = statOf(a);
    return sa.st_ino != 0 && sa.st_dev == statOf(b).st_dev && sa.st_ino == statOf(b).st_ino;
}
// Bytes in use below `folder`, each file counted once however many names it
// has, as du counts them. No child process: forking a threaded test is not
// allowed under ThreadSanitizer.
qint64 diskUse(const QString& folder) {
    static std::set<std::pair<dev_t, ino_t>> seen;
    static qint64 blocks = 0;
    seen.clear();
    blocks = 0;
    ::nftw(
        QFile::encodeName(folder).constData(),
        [](const char*, const struct stat* st, int, struct FTW*) {
            if (seen.insert({st->st_dev, st->st_ino}).second)
                blocks += st->st_blocks;
            return 0;
        },
        32, FTW_PHYS);
    return blocks * 512;
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

    // No sheet makes no snapshot and no marker; a change within the same second of modification
    // and of the same size goes unseen, the next second tells. A folder of the taken stamp already
    // there: the run takes a name of its own, and so does the next one in the same second.
    void snapshotsOnlyWhenSomethingChanged() {
        BackupManager manager(m_lib, m_backups);
        QVERIFY(put(u"notiz.txt"_s, "kein Blatt") && QDir().mkpath(lib(u"Leer"_s)));
        QVERIFY(!run(manager) && !QFileInfo::exists(backup(u".letzter-stand"_s)));
        const QString a = lib(u"Ideen/a.md"_s);
        const QDateTime base = QDateTime::fromSecsSinceEpoch(1'700'000'000).addMSecs(200);
        QVERIFY(put(u"Ideen/a.md"_s, "Idee") && test::setModified(a, base) && run(manager));
        QVERIFY(!run(manager) && put(u"Ideen/a.md"_s, "xyzw"));
        QVERIFY(test::setModified(a, base.addMSecs(500)) && !run(manager));
        QVERIFY(test::setModified(a, base.addMSecs(1000)));
        const auto next = run(manager);
        QVERIFY(next && test::readBytes(*next + u"/Ideen/a.md"_s) == "xyzw");
        QThread::msleep(1000 - QDateTime::currentMSecsSinceEpoch() % 1000); // runs in one second
        const QString taken = library::stamp(QDateTime::currentDateTime());
        QVERIFY(test::writeBytes(backup(taken + u"/a.md"_s), "fremd") &&
                put(u"Ideen/a.md"_s, "eins"));
        const auto first = run(manager);
        QVERIFY(first && QFileInfo(*first).fileName() != taken &&
                test::readBytes(*first + u"/Ideen/a.md"_s) == "eins");
        QVERIFY(put(u"Ideen/a.md"_s, "zwei!"));
        const auto second = run(manager);
        QVERIFY(second && library::parseStamp(QFileInfo(*second).fileName()) >
                              library::parseStamp(QFileInfo(*first).fileName()));
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
        QVERIFY(QFile::link(m_lib, lib(u"G/schleife"_s)) &&
                QFile::link(outside, lib(u"draussen"_s)) &&
                QFile::link(lib(u"G/B.MD"_s), lib(u"verweis.md"_s)));
        QCOMPARE(relatives(BackupManager::collectFiles(m_lib + u"/./"_s,
                                                       lib(u"G/../.local/share/Orvik/Backups"_s))),
                 (QStringList{u".Papierkorb/weg.md"_s, u".h/tief/c.Md"_s, u"G/.versteckt.md"_s,
                              u"G/B.MD"_s, u"a.md"_s, u"verweis.md"_s}));
    }

    // A sheet whose path in the snapshot is too long is reported, the rest kept, and no marker
    // written, so that the next run tries again. A file where the folder belongs fails at once,
    // not waiting for a free stamp; a missing library makes no folder.
    void failuresAreReportedAndRetried() {
        const QString deep = (QString(200, u'x') + u'/').repeated(19) + u"a.md"_s,
                      backups = m_root + u'/' + QString(250, u'b'),
                      marker = backups + u"/.letzter-stand"_s;
        QVERIFY(put(deep, "tief") &&
                (backups + u"/2000-01-01-000000/"_s + deep).toUtf8().size() > 4095);
        BackupManager manager(m_lib, backups);
        const auto none = manager.runIfNeeded().result();
        QVERIFY(none.status == Status::NothingCopied && none.failed == QStringList{deep});
        QVERIFY(snapshotNames(manager).isEmpty() && !QFileInfo::exists(marker));
        QVERIFY(put(u"gut.md"_s, "gut"));
        const auto partial = manager.runIfNeeded().result();
        QVERIFY(partial.status == Status::Incomplete && partial.failed == QStringList{deep});
        QCOMPARE(relatives(BackupManager::collectFiles(partial.snapshot, {})),
                 QStringList{u"gut.md"_s});
        QVERIFY(!QFileInfo::exists(marker) && QDir(lib(QString(200, u'x'))).removeRecursively());
        QVERIFY(manager.runIfNeeded().result().status == Status::Made && QFileInfo::exists(marker));
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

    // Only snapshots are listed, newest first, and thinned: not what else is in the folder (other
    // folders and files, names like a stamp but not one), not a link named like one, not the
    // snapshot a library is opened from.
    void pruneLeavesEverythingElseAlone() {
        const QString outside = m_root + u"/draussen"_s, opened = backup(u"2000-01-01-000000"_s);
        QVERIFY(test::writeBytes(outside + u"/wichtig.md"_s, "bleibt"));
        const QStringList others{u"Alt/a.md"_s, u"notes.txt"_s, u"2000-13-01-000000/a.md"_s,
                                 u"2000-01-01-000000-1/a.md"_s, u"2000-01-03-000000"_s};
        for (const auto& old : others + QStringList{opened, backup(u"2000-01-01-001000"_s)})
            QVERIFY(test::writeBytes(old.startsWith(u'/') ? old + u"/a.md"_s : backup(old), "alt"));
        QVERIFY(QFile::link(outside, backup(u"2000-01-15-000000"_s)) &&
                put(u"a.md"_s, "neuer Text"));
        BackupManager fromSnapshot(opened, m_backups);
        fromSnapshot.setClock([] { return local(2000, 1, 1, 0, 20); });
        QVERIFY(run(fromSnapshot));
        QCOMPARE(snapshotNames(fromSnapshot),
                 (QStringList{u"2000-01-01-002000"_s, u"2000-01-01-000000"_s}));
        QCOMPARE(fromSnapshot.snapshots().result().last().date, local(2000, 1, 1, 0, 0));
        QVERIFY(test::readBytes(opened + u"/a.md"_s) == "alt" &&
                !QFileInfo::exists(backup(u"2000-01-01-001000"_s)));
        BackupManager manager(m_lib, m_backups);
        manager.setClock([] { return local(2000, 1, 1, 0, 40); });
        const auto snapshot = run(manager);
        QVERIFY(snapshot);
        QCOMPARE(snapshotNames(manager), QStringList{QFileInfo(*snapshot).fileName()});
        for (const auto& kept :
             others + QStringList{u".letzter-stand"_s, u"2000-01-15-000000/wichtig.md"_s})
            QVERIFY2(QFileInfo::exists(backup(kept)), qPrintable(kept));
    }

    // Hourly for 30 days: every hour of the last 12 (exactly 12 hours old is still inside), then
    // the last of each day for a week, then of each ISO week; of two at one time the first.
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
        Snapshots weeks{snap(local(2024, 12, 30, 10)), snap(local(2025, 1, 5, 10)),
                        snap(local(2024, 12, 29, 10)), snap(march)};
        weeks.append({u"/b/zwilling"_s, march}); // at the same time as the last: not kept
        QCOMPARE(BackupManager::snapshotsToKeep(weeks, march),
                 (QSet<QString>{weeks[1].path, weeks[2].path, weeks[3].path}));
    }

    // Nine snapshots an hour apart, one run a year ahead, then the clock set right again: nothing
    // is thinned, the one ahead is reported and listed after the last run.
    void aClockSetAheadThinsNothing() {
        QDateTime clock;
        BackupManager manager(m_lib, m_backups);
        manager.setClock([&] { return clock; });
        QString ahead;
        for (int step = 0; step < 11; ++step) {
            clock = step == 9 ? local(2026, 3, 1, 9) : local(2025, 3, 1, std::min(step, 10));
            QVERIFY(put(u"a.md"_s, QByteArray(step + 1, 'x')));
            const BackupManager::RunResult result = manager.runIfNeeded().result();
            QVERIFY(result.madeSnapshot() && snapshotNames(manager).size() == step + 1);
            QCOMPARE(result.future, step == 10 ? QStringList{ahead} : QStringList{});
            ahead = step == 9 ? result.snapshot : ahead;
        }
        QCOMPARE(snapshotNames(manager).mid(0, 2),
                 (QStringList{library::stamp(clock), QFileInfo(ahead).fileName()}));
    }

    // Unchanged sheets are linked to the previous snapshot, changed ones copied with their mode and
    // time to the nanosecond, which lets the next snapshot link them; a missing folder is made. No
    // write to a sheet reaches a snapshot: in place, saved atomically, or to a sheet restored as a
    // link to the snapshot's file (cp -al). Three days on, the first snapshot shares its day with
    // the second and is thinned away, leaving the second's files whole; a failed link copies.
    void unchangedSheetsAreLinkedChangedOnesCopied() {
        m_backups += u"/noch/nicht/da"_s;
        const QStringList same{u"Ideen/bleibt.md"_s, u"Ideen/tief/auch.md"_s, u"Ideen/leer.md"_s};
        const auto text = [](const QString& n) { return n.endsWith(u"leer.md") ? "" : n.toUtf8(); };
        for (const auto& name : same)
            QVERIFY(put(name, text(name)));
        QVERIFY(put(u"Projekte/ändert.md"_s, "alt") && put(u"Projekte/zurück.md"_s, "eins"));
        const QString first = runHourLater(), restored = u"/Projekte/zurück.md"_s;
        QCOMPARE(first, m_backups + u"/2026-03-02-090000"_s);
        QVERIFY(QFile::remove(m_lib + restored) &&
                ::link(QFile::encodeName(first + restored).constData(),
                       QFile::encodeName(m_lib + restored).constData()) == 0);
        QVERIFY(put(u"Projekte/ändert.md"_s, "neuer Stand") && put(u"Projekte/neu.md"_s, "neu"));
        const QString second = runHourLater();
        for (const auto& name : same)
            QVERIFY2(sameFile(first + u'/' + name, second + u'/' + name), qPrintable(name));
        QVERIFY(test::readBytes(second + u"/Projekte/ändert.md"_s) == "neuer Stand" &&
                test::readBytes(first + u"/Projekte/ändert.md"_s) == "alt");
        const struct stat sheet = statOf(lib(u"Projekte/neu.md"_s)),
                          copy = statOf(second + u"/Projekte/neu.md"_s);
        QVERIFY(copy.st_mtim.tv_sec == sheet.st_mtim.tv_sec && copy.st_mode == sheet.st_mode);
        QCOMPARE(copy.st_mtim.tv_nsec, sheet.st_mtim.tv_nsec);
        QVERIFY(put(u"Ideen/bleibt.md"_s, "zwei") && put(u"Projekte/zurück.md"_s, "zwei"));
        QSaveFile save(lib(u"Ideen/leer.md"_s));
        QVERIFY(save.open(QIODevice::WriteOnly) && save.write("zwei") == 4 && save.commit());
        for (const auto& name : same)
            QVERIFY2(test::readBytes(second + u'/' + name) == text(name), qPrintable(name));
        QCOMPARE(test::readBytes(second + restored), "eins");
        m_time = m_time.addDays(3);
        BackupManager::setLinkFunction([](int, const char*, int, const char*, int) {
            errno = EXDEV;
            return -1;
        });
        const QString third = runHourLater(), kept = u"/Ideen/tief/auch.md"_s;
        QVERIFY(!third.isEmpty() && !QFileInfo::exists(first));
        QVERIFY(test::readBytes(second + kept) == text(kept.mid(1)) &&
                test::readBytes(third + kept) == text(kept.mid(1)) &&
                statOf(third + kept).st_nlink == 1);
    }

    // Same size and time to the nanosecond, other bytes (a tool that restores times): the old
    // text must not stand in for the new. Only the time differs: linking would keep the old time.
    // A link in the previous snapshot leading elsewhere, to an equal file, is not followed.
    void onlyEqualContentIsLinked() {
        const QString a = lib(u"a.md"_s), elsewhere = m_root + u"/anderswo"_s;
        QVERIFY(put(u"a.md"_s, "Inhalt A") && setModifiedExactly(a, {1'700'000'000, 123'456'789}));
        QVERIFY(put(u"G/g.md"_s, "eins"));
        const QString first = runHourLater();
        QVERIFY(QDir().rename(first + u"/G"_s, elsewhere) &&
                QFile::link(elsewhere, first + u"/G"_s));
        QVERIFY(put(u"a.md"_s, "Inhalt B") && setModifiedExactly(a, {1'700'000'000, 123'456'789}));
        QVERIFY(put(u"b.md"_s, "b"));
        const QString second = runHourLater();
        QVERIFY(test::readBytes(second + u"/a.md"_s) == "Inhalt B" &&
                test::readBytes(first + u"/a.md"_s) == "Inhalt A");
        QVERIFY(!sameFile(elsewhere + u"/g.md"_s, second + u"/G/g.md"_s) &&
                test::readBytes(second + u"/G/g.md"_s) == "eins");
        QVERIFY(setModifiedExactly(a, {1'700'000'000, 987'654'321}) && put(u"c.md"_s, "c"));
        const QString third = runHourLater();
        QVERIFY(!sameFile(second + u"/a.md"_s, third + u"/a.md"_s));
        QCOMPARE(statOf(third + u"/a.md"_s).st_mtim.tv_nsec, 987'654'321);
        QVERIFY(sameFile(second + u"/b.md"_s, third + u"/b.md"_s));
    }

    // A sheet deleted after 10:00 lives on in the 09:00 and 10:00 snapshots; three days on,
    // thinning keeps the newest of them beside the day's last, but no older copy.
    void theLastCopyOfADeletedSheetIsKept() {
        QVERIFY(put(u"a.md"_s, "a") && put(u"G/weg.md"_s, "weg"));
        const QString older = runHourLater();
        QVERIFY(put(u"a.md"_s, "aa"));
        const QString last = runHourLater();
        QVERIFY(QFile::remove(lib(u"G/weg.md"_s)) && put(u"a.md"_s, "aaa"));
        const QString dayEnd = runHourLater();
        m_time = m_time.addDays(3);
        QVERIFY(put(u"a.md"_s, "aaaa"));
        QVERIFY(!runHourLater().isEmpty());
        QVERIFY(QFileInfo::exists(dayEnd) && !QFileInfo::exists(older));
        QCOMPARE(test::readBytes(last + u"/G/weg.md"_s), "weg");
    }

    // Ten sheets or a group of three gone within a minute are told once; one sheet, sheets moved
    // within the library (Orvik's trash, a renamed group), the trash emptied, or ten gone over
    // more than a minute are not.
    void manySheetsGoneAreNoticedMovesAreNot() {
        using Step =
            std::pair<std::function<bool()>, qint64>; // the change, then a look so much later
        const auto removeDiary = [this](int from, int to) {
            bool ok = true;
            for (int i = from; i < to; ++i)
                ok = QFile::remove(lib(u"Tagebuch/%1.md"_s.arg(i))) && ok;
            return ok;
        };
        const Trash trash(m_lib);
        const QList<std::tuple<const char*, QList<Step>, int>> rows{
            {"one sheet", {{[&] { return removeDiary(0, 1); }, 1000}}, 0},
            {"ten sheets", {{[&] { return removeDiary(0, 10); }, 1000}}, 10},
            {"a group of three",
             {{[&] { return QDir(lib(u"Ideen"_s)).removeRecursively(); }, 1000}},
             3},
            {"into the trash and emptied",
             {{[&] {
                   bool ok = true;
                   for (int i = 0; i < 12; ++i)
                       ok = trash.move(lib(u"Tagebuch/%1.md"_s.arg(i)), u"Tagebuch"_s) && ok;
                   return ok;
               },
               1000},
              {[&] { return trash.empty(); }, 2000}},
             0},
            {"a renamed group",
             {{[&] { return QDir().rename(lib(u"Tagebuch"_s), lib(u"Journal"_s)); }, 1000}},
             0},
            {"ten over two minutes",
             {{[&] { return removeDiary(0, 5); }, 1000},
              {[&] { return removeDiary(5, 10); }, 121000}},
             0},
        };
        for (const auto& [name, steps, expected] : rows) {
            test::removeTree(m_lib);
            QVERIFY(QDir().mkpath(m_lib));
            for (int i = 0; i < 12; ++i)
                QVERIFY(put(u"Tagebuch/%1.md"_s.arg(i), "Tag"));
            for (int i = 0; i < 3; ++i)
                QVERIFY(put(u"Ideen/%1.md"_s.arg(i), "Idee"));
            trash.ensureExists();
            DisappearanceWatch watch(m_lib);
            QSignalSpy told(&watch, &DisappearanceWatch::disappeared);
            const QDateTime start = QDateTime::currentDateTime();
            watch.take(DisappearanceWatch::list(m_lib), start);
            for (const auto& [change, later] : steps) {
                QVERIFY2(change(), name);
                watch.take(DisappearanceWatch::list(m_lib), start.addMSecs(later));
            }
            QCOMPARE(told.size(), expected ? 1 : 0);
            if (expected)
                QCOMPARE(told[0][0].toStringList().size(), expected);
        }
    }

    // Marked as "[-removed-]" and "{+inserted+}"; the same pieces spell both texts.
    void wordDiffMarksWholeWordsAndParagraphs() {
        const QList<std::tuple<QString, QString, QString, int, int>> rows{
            {u"Ein Tag am See.\n"_s, u"Ein schöner Tag am See.\n"_s,
             u"Ein {+schöner +}Tag am See.\n"_s, 1, 0},
            {u"Wir gingen heute früh los.\nDann Regen.\n"_s, u"Wir gingen los.\nDann Regen.\n"_s,
             u"Wir gingen [-heute früh -]los.\nDann Regen.\n"_s, 0, 2},
            {u"A eins.\nB zwei.\nC drei.\n"_s, u"B zwei.\nC drei.\nA eins.\n"_s,
             u"[-A eins.\n-]B zwei.\nC drei.\n{+A eins.\n+}"_s, 2, 2},
            // A combining umlaut against a precomposed one, and two families of three code points
            // that share all but the last.
            {u"Die Tu\u0308r \U0001F469\u200D\U0001F467 bleibt.\n"_s,
             u"Die Tür \U0001F469\u200D\U0001F466 bleibt.\n"_s,
             u"Die [-Tu\u0308r-]{+Tür+} "
             u"[-\U0001F469\u200D\U0001F467-]{+\U0001F469\u200D\U0001F466+} "
             u"bleibt.\n"_s,
             2, 2},
            {u"Gleich.\n"_s, u"Gleich.\n"_s, u"Gleich.\n"_s, 0, 0},
        };
        for (const auto& [older, newer, marked, inserted, removed] : rows) {
            const QList<worddiff::Piece> pieces = worddiff::diff(older, newer);
            QString shown, before, after;
            for (const worddiff::Piece& p : pieces) {
                using Kind = worddiff::Piece::Kind;
                shown += p.kind == Kind::Same      ? p.text
                         : p.kind == Kind::Removed ? u"[-"_s + p.text + u"-]"_s
                                                   : u"{+"_s + p.text + u"+}"_s;
                before += p.kind == Kind::Inserted ? QString() : p.text;
                after += p.kind == Kind::Removed ? QString() : p.text;
            }
            QCOMPARE(shown, marked);
            QVERIFY(before == older && after == newer);
            const worddiff::Counts counts = worddiff::countWords(pieces);
            QVERIFY2(counts.inserted == inserted && counts.removed == removed, qPrintable(marked));
        }
    }

    // 400 sheets of 12 KB in 10 groups, one changed each hour: a day of snapshots takes at most
    // half the library again (folders weigh more in a small library than in one of 50 MB).
    void aDayOfHourlySnapshotsCostsLittleMoreThanTheLibrary() {
        const QByteArray text =
            QByteArray("Ein Satz über die Brücke, das Wetter und den Tag.\n").repeated(237);
        for (int n = 0; n < 400; ++n)
            QVERIFY(put(u"Gruppe %1/Blatt %2.md"_s.arg(n / 40).arg(n % 40),
                        QByteArray::number(n % 40) + text));
        const qint64 library = diskUse(m_lib);
        for (int hour = 0; hour < 24; ++hour) {
            const QString changed = lib(u"Gruppe %1/Blatt 7.md"_s.arg(hour % 10));
            QVERIFY(hour == 0 || (test::writeBytes(changed, QByteArray::number(hour) + text) &&
                                  test::setModified(changed, m_time)));
            QVERIFY(!runHourLater().isEmpty());
        }
        const qint64 used = diskUse(m_backups);
        QVERIFY(library > 400 * 12 * 1024 && used * 2 <= library * 3);
    }

    // Names not normalized, not UTF-8, with a dash, beyond the BMP; links in a loop, to nowhere,
    // to the folder above, and a FIFO: copied as they are or left out, without a hang. The marker
    // holds what it compares against, whatever the names.
    void awkwardNamesAndLinksNeitherCrashNorHang() {
        const QStringList names{u"G/leer.md"_s, u"G/-strich.md"_s, u"G/Schlu\u0308ssel.md"_s,
                                u"G/\U0001F600 froh.md"_s};
        for (const auto& name : names)
            QVERIFY(put(name, name.endsWith(u"leer.md") ? "" : name.toUtf8()));
        const QByteArray raw = "/G/kaputt-\xff\xfe.md";
        const int fd =
            ::open((QFile::encodeName(m_lib) + raw).constData(), O_WRONLY | O_CREAT | O_EXCL, 0644);
        QVERIFY(fd >= 0 && ::write(fd, "roh", 3) == 3 && ::close(fd) == 0);
        QVERIFY(QFile::link(u"schleife.md"_s, lib(u"G/schleife.md"_s)) &&
                QFile::link(u"fehlt.md"_s, lib(u"G/ins-leere.md"_s)) &&
                QFile::link(lib(u"G"_s), lib(u"G/zurück"_s)));
        QCOMPARE(::mkfifo(QFile::encodeName(lib(u"G/rohr.md"_s)).constData(), 0644), 0);
        const QString first = runHourLater();
        for (const auto& name : names)
            QCOMPARE(test::readBytes(first + u'/' + name), test::readBytes(lib(name)));
        QVERIFY(!QFileInfo::exists(first + u"/G/Schlüssel.md"_s)); // not normalized
        QCOMPARE(statOf(QFile::encodeName(first) + raw).st_size, off_t(3));
        for (const auto& absent : {u"schleife.md"_s, u"ins-leere.md"_s, u"rohr.md"_s, u"zurück"_s})
            QVERIFY2(!QFileInfo::exists(first + u"/G/"_s + absent), qPrintable(absent));
        QVERIFY(runHourLater(Status::Unchanged).isEmpty() && put(u"G/leer.md"_s, "nicht mehr"));
        QCOMPARE(statOf(QFile::encodeName(runHourLater()) + raw).st_nlink, nlink_t(2));
    }
};

ORVIK_TEST_MAIN(TestBackupManager)
#include "tst_backupmanager.moc"
