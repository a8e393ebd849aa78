#pragma once

#include <QDateTime>
#include <QFuture>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QThreadPool>

#include <functional>

namespace orvik {

// Copies the library's sheets into timestamped snapshot folders outside the
// library when something changed, and thins old snapshots out. A sheet that is
// unchanged since the previous snapshot shares that snapshot's file through a
// hard link instead of taking up space again; snapshot files are therefore never
// opened for writing once they exist. Thinning keeps, besides what the
// retention rule keeps, the newest snapshot holding each sheet that is gone
// from the library, and those made before a restore. Every call except location() runs serialized
// on the manager's own thread.
class BackupManager : public QObject {
    Q_OBJECT
public:
    struct Snapshot {
        QString path;
        QDateTime date;
        friend bool operator==(const Snapshot&, const Snapshot&) = default;
    };
    struct CollectedFile {
        QString path;     // absolute
        QString relative; // below the library root, no leading "/"
    };

    struct RunResult {
        enum class Status {
            Unchanged,         // no sheets, or none changed since the last snapshot
            Made,              // every sheet is in the new snapshot
            Incomplete,        // a snapshot was made, but `failed` are missing from it
            LibraryUnreadable, // `folder` (the library) could not be read
            FolderNotCreated,  // `folder` could not be created: no snapshot
            NothingCopied,     // no sheet could be copied: no snapshot
        };
        Status status = Status::Unchanged;
        QString snapshot;   // the new snapshot's folder (Made, Incomplete)
        QString folder;     // the folder that stood in the way
        QStringList failed; // sheets, relative to the library, that were not copied
        // Snapshots dated ahead of the clock (set back since they were made):
        // kept, and left out of thinning, which would otherwise take them for
        // the newest and everything else for old.
        QStringList future;

        bool madeSnapshot() const { return status == Status::Made || status == Status::Incomplete; }
        bool succeeded() const { return status == Status::Unchanged || status == Status::Made; }
    };

    static constexpr char markerName[] = ".letzter-stand";
    // The snapshots' names in the order they were made, one a line, appended
    // by each run: the clock that names them may have jumped.
    static constexpr char orderName[] = ".reihenfolge";
    // Put into a snapshot made before a version is restored: it holds the text
    // the restore replaced, and thinning keeps it while the rule reaches.
    static constexpr char beforeRestoreName[] = ".vor-wiederherstellung";
    // How far ahead of the clock a snapshot may be dated before it counts as
    // made under a wrong clock.
    static constexpr qint64 futureToleranceSeconds = 5 * 60;

    // `backupRoot` empty: defaultBackupRoot().
    explicit BackupManager(const QString& source, const QString& backupRoot = {},
                           QObject* parent = nullptr);
    ~BackupManager() override;

    // GenericDataLocation/Orvik/Backups, or ~/Orvik/Backups when there is none.
    static QString defaultBackupRoot();

    QString source() const { return m_source; }
    QString location() const { return m_backupRoot; }

    // Makes a snapshot if the library changed since the last complete one. After
    // an incomplete snapshot the next run tries again even if nothing changed.
    QFuture<RunResult> runIfNeeded();
    // Existing snapshots, the last made first.
    QFuture<QList<Snapshot>> snapshots();

    // The retention rule over snapshots in the order they were made: newest per
    // clock hour within 12 hours, per day within 7 days, per ISO week within 183
    // days, and the newest overall. A snapshot dated ahead of `now` is kept
    // and takes no part. Age counts the time between one snapshot and the next,
    // except a step longer than the whole rule: that is a clock set ahead (or a
    // library left alone that long), and must not age every snapshot at once.
    static QSet<QString> snapshotsToKeep(const QList<Snapshot>& snapshots, const QDateTime& now);

    // Steps of a run, public for tests; they run on the caller's thread.
    static QList<CollectedFile> collectFiles(const QString& source, const QString& backupRoot);
    static QString fingerprintOf(const QList<CollectedFile>& files);

    // For tests: the clock that names snapshots and ages them, set before the
    // first run; and a stand-in for linkat(2), nullptr for the real one.
    void setClock(std::function<QDateTime()> clock);
    using LinkFunction = int (*)(int, const char*, int, const char*, int);
    static void setLinkFunction(LinkFunction link);

private:
    RunResult runIfNeededNow();
    // `present`: the library's sheets now, relative to it. Returns the
    // snapshots dated in the future.
    QStringList prune(const QSet<QByteArray>& present);
    // The newest snapshot within the rule's reach of each sheet that is no
    // longer in `present`, over snapshots in the order they were made.
    QSet<QString> lastCopiesOfMissing(const QList<Snapshot>& snapshots,
                                      const QSet<QByteArray>& present, const QList<qint64>& age,
                                      const QDateTime& now) const;
    QList<Snapshot> listSnapshots() const;
    QDateTime now() const;

    QString m_source;
    QString m_backupRoot;
    QString m_lastStamp; // stamp of the last snapshot this manager made
    std::function<QDateTime()> m_clock;
    QThreadPool m_executor;
};

} // namespace orvik
