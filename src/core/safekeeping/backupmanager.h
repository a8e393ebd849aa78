#pragma once

#include <QDateTime>
#include <QFuture>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>
#include <QThreadPool>

#include <optional>

namespace orvik {

// Copies the library's sheets into timestamped snapshot folders outside the
// library when something changed, and thins old snapshots out. Every call
// except location() runs serialized on the manager's own thread.
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

    static constexpr char markerName[] = ".letzter-stand";

    // `backupRoot` empty: defaultBackupRoot().
    explicit BackupManager(const QString& source, const QString& backupRoot = {},
                           QObject* parent = nullptr);
    ~BackupManager() override;

    // GenericDataLocation/Orvik/Backups, or ~/Orvik/Backups when there is none.
    static QString defaultBackupRoot();

    QString source() const { return m_source; }
    QString location() const { return m_backupRoot; }

    // Makes a snapshot if the library changed since the last one; the result is
    // the new snapshot's folder, or nothing when none was made.
    QFuture<std::optional<QString>> runIfNeeded();
    // Existing snapshots, newest first.
    QFuture<QList<Snapshot>> snapshots();

    // The retention rule: newest per clock hour within 12 hours, per day within
    // 7 days, per ISO week within 183 days, and the newest overall.
    static QSet<QString> snapshotsToKeep(const QList<Snapshot>& snapshots, const QDateTime& now);

    // Steps of a run, public for tests; they run on the caller's thread.
    static QList<CollectedFile> collectFiles(const QString& source, const QString& backupRoot);
    static QString fingerprintOf(const QList<CollectedFile>& files);

private:
    std::optional<QString> runIfNeededNow();
    std::optional<QString> makeSnapshot(const QList<CollectedFile>& files);
    void prune();
    QList<Snapshot> listSnapshots() const;

    QString m_source;
    QString m_backupRoot;
    QString m_lastStamp; // stamp of the last snapshot this manager made
    QThreadPool m_executor;
};

} // namespace orvik
