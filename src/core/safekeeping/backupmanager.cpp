#include "backupmanager.h"

#include "library/files.h"
#include "library/library.h"

#include <QByteArrayList>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QStandardPaths>
#include <QThread>
#include <QtConcurrentRun>

#include <algorithm>

namespace orvik {

namespace {

// How many further seconds makeSnapshot tries when its stamp is taken. Only a
// clock set back onto a run of old snapshots needs more than one; after that the
// run gives up and the next one tries again.
constexpr int maxStampWaits = 5;

QString absoluteClean(const QString& path) {
    return QDir::cleanPath(QFileInfo(path).absoluteFilePath());
}

// Whether `path` is `folder` or lies below it, under either spelling: the one
// given and the one with all symbolic links resolved.
bool isSameOrInside(const QString& path, const QString& folder) {
    const auto inside = [](const QString& p, const QString& f) {
        if (p.isEmpty() || f.isEmpty())
            return false;
        return p == f || p.startsWith(f.endsWith(QLatin1Char('/')) ? f : f + QLatin1Char('/'));
    };
    return inside(absoluteClean(path), absoluteClean(folder)) ||
           inside(QFileInfo(path).canonicalFilePath(), QFileInfo(folder).canonicalFilePath());
}

bool isTaken(const QString& path) {
    const QFileInfo info(path);
    return info.exists() || info.isSymLink();
}

// Sleeps into the next second and returns its stamp, which differs from `previous`
// unless the clock stands still.
QString stampAfter(const QString& previous) {
    QString next = previous;
    while (next == previous) {
        const qint64 msecs = QDateTime::currentMSecsSinceEpoch();
        QThread::msleep(static_cast<unsigned long>(1000 - msecs % 1000 + 1));
        next = library::stamp(QDateTime::currentDateTime());
    }
    return next;
}

struct Walk {
    QString backupRoot;          // clean absolute
    QString canonicalBackupRoot; // empty while it does not exist
    QList<BackupManager::CollectedFile> found;

    bool isBackupRoot(const QFileInfo& dir) const {
        if (dir.filePath() == backupRoot)
            return true;
        return !canonicalBackupRoot.isEmpty() && dir.canonicalFilePath() == canonicalBackupRoot;
    }

    void below(const QString& dirPath, const QString& relativeDir) {
        const QFileInfoList entries = QDir(dirPath).entryInfoList(
            QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
        for (const QFileInfo& entry : entries) {
            const QString relative = relativeDir.isEmpty()
                                         ? entry.fileName()
                                         : relativeDir + QLatin1Char('/') + entry.fileName();
            if (entry.isDir()) {
                // A linked folder may point back up the tree or out of the
                // library; the folder it points to is walked where it really is.
                // The backup folder inside a library (library in the home folder)
                // would otherwise copy every old snapshot into each new one.
                if (!entry.isSymLink() && !isBackupRoot(entry))
                    below(entry.filePath(), relative);
            } else if (entry.isFile() && entry.suffix().toLower() == QLatin1String("md")) {
                found.append({entry.filePath(), relative});
            }
        }
    }
};

} // namespace

BackupManager::BackupManager(const QString& source, const QString& backupRoot, QObject* parent)
    : QObject(parent), m_source(source),
      m_backupRoot(backupRoot.isEmpty() ? defaultBackupRoot() : QDir::cleanPath(backupRoot)) {
    m_executor.setMaxThreadCount(1);
}

BackupManager::~BackupManager() {
    // Running jobs use the members; they must end before any of them goes.
    m_executor.waitForDone();
}

QString BackupManager::defaultBackupRoot() {
    QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (base.isEmpty())
        base = QDir::homePath();
    return base + QStringLiteral("/Orvik/Backups");
}

QFuture<std::optional<QString>> BackupManager::runIfNeeded() {
    return QtConcurrent::run(&m_executor, [this] { return runIfNeededNow(); });
}

QFuture<QList<BackupManager::Snapshot>> BackupManager::snapshots() {
    return QtConcurrent::run(&m_executor, [this] { return listSnapshots(); });
}

std::optional<QString> BackupManager::runIfNeededNow() {
    const QList<CollectedFile> files = collectFiles(m_source, m_backupRoot);
    if (files.isEmpty())
        return std::nullopt;
    const QString fingerprint = fingerprintOf(files);
    const QString markerPath = m_backupRoot + QLatin1Char('/') + QLatin1String(markerName);
    if (files::readText(markerPath) == fingerprint)
        return std::nullopt;

    const std::optional<QString> snapshot = makeSnapshot(files);
    if (!snapshot)
        return std::nullopt;
    // A failed write only means the next run copies the library once more.
    files::writeTextAtomically(markerPath, fingerprint);
    prune();
    return snapshot;
}

QList<BackupManager::CollectedFile> BackupManager::collectFiles(const QString& source,
                                                                const QString& backupRoot) {
    Walk walk;
    walk.backupRoot = absoluteClean(backupRoot);
    walk.canonicalBackupRoot = QFileInfo(backupRoot).canonicalFilePath();
    walk.below(absoluteClean(source), {});
    return walk.found;
}

QString BackupManager::fingerprintOf(const QList<CollectedFile>& files) {
    QByteArrayList lines;
    lines.reserve(files.size());
    for (const CollectedFile& file : files) {
        const QFileInfo info(file.path);
        qint64 size = 0;
        qint64 seconds = 0;
        if (info.exists()) {
            size = info.size();
            const QDateTime modified = info.lastModified();
            // Integer division truncates toward zero, also before 1970.
            if (modified.isValid())
                seconds = modified.toMSecsSinceEpoch() / 1000;
        }
        lines.append((file.relative + QLatin1Char('|') + QString::number(size) + QLatin1Char('|') +
                      QString::number(seconds))
                         .toUtf8());
    }
    // Sorted as UTF-8 bytes, which is code point order; UTF-16 code units would
    // put characters beyond U+FFFF before U+E000..U+FFFF.
    std::sort(lines.begin(), lines.end());
    return QString::fromUtf8(lines.join('\n'));
}

std::optional<QString> BackupManager::makeSnapshot(const QList<CollectedFile>& files) {
    QDir().mkpath(m_backupRoot);
    const QDir root(m_backupRoot);

    // Two runs within one second get the same stamp. Copying into the older
    // snapshot would mix the two and, with nothing copied, remove it; waiting
    // for the next second keeps every snapshot apart under a parseable name.
    // mkdir, unlike mkpath, fails on an existing folder, which is what tells us.
    QString stamp = library::stamp(QDateTime::currentDateTime());
    for (int waits = 0;; ++waits) {
        if (stamp != m_lastStamp) {
            if (root.mkdir(stamp))
                break;
            if (!isTaken(root.filePath(stamp)))
                return std::nullopt;
        }
        if (waits == maxStampWaits)
            return std::nullopt;
        stamp = stampAfter(stamp);
    }
    const QString folder = root.filePath(stamp);

    int copied = 0;
    for (const CollectedFile& file : files) {
        const QString target = folder + QLatin1Char('/') + file.relative;
        QDir().mkpath(QFileInfo(target).path());
        if (QFile::copy(file.path, target))
            ++copied;
    }
    if (copied == 0) {
        QDir(folder).removeRecursively();
        return std::nullopt;
    }
    m_lastStamp = stamp;
    return folder;
}

void BackupManager::prune() {
    const QList<Snapshot> all = listSnapshots();
    if (all.isEmpty())
        return;
    const QSet<QString> keep = snapshotsToKeep(all, QDateTime::currentDateTime());
    for (const Snapshot& snapshot : all) {
        // A library opened straight from an old snapshot must not be thinned away.
        if (keep.contains(snapshot.path) || isSameOrInside(m_source, snapshot.path))
            continue;
        QDir(snapshot.path).removeRecursively();
    }
}

QList<BackupManager::Snapshot> BackupManager::listSnapshots() const {
    QList<Snapshot> result;
    // Without NoSymLinks a link named like a stamp would have the folder it
    // points to emptied by pruning.
    const QFileInfoList entries =
        QDir(m_backupRoot)
            .entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::NoSymLinks, QDir::Name);
    for (const QFileInfo& entry : entries) {
        const QDateTime date = library::parseStamp(entry.fileName());
        if (date.isValid())
            result.append({entry.filePath(), date});
    }
    std::stable_sort(result.begin(), result.end(),
                     [](const Snapshot& a, const Snapshot& b) { return a.date > b.date; });
    return result;
}

QSet<QString> BackupManager::snapshotsToKeep(const QList<Snapshot>& snapshots,
                                             const QDateTime& now) {
    QSet<QString> keep;

    const auto keepNewestPerBucket = [&](qint64 windowSeconds, auto bucketOf) {
        QHash<QString, qsizetype> chosen;
        for (qsizetype i = 0; i < snapshots.size(); ++i) {
            const Snapshot& snapshot = snapshots[i];
            // In milliseconds, so that a snapshot 12 hours and a fraction of a
            // second old is outside; a future one has a negative age and is inside.
            if (snapshot.date.msecsTo(now) > windowSeconds * 1000)
                continue;
            const QString key = bucketOf(snapshot.date.toLocalTime());
            const auto it = chosen.find(key);
            if (it == chosen.end())
                chosen.insert(key, i);
            else if (snapshots[*it].date < snapshot.date)
                *it = i;
        }
        for (const qsizetype i : std::as_const(chosen))
            keep.insert(snapshots[i].path);
    };

    keepNewestPerBucket(43200, [](const QDateTime& d) {
        return QStringLiteral("h%1-%2-%3-%4")
            .arg(d.date().year())
            .arg(d.date().month())
            .arg(d.date().day())
            .arg(d.time().hour());
    });
    keepNewestPerBucket(604800, [](const QDateTime& d) {
        return QStringLiteral("d%1-%2-%3")
            .arg(d.date().year())
            .arg(d.date().month())
            .arg(d.date().day());
    });
    keepNewestPerBucket(15811200, [](const QDateTime& d) {
        int weekYear = 0;
        const int week = d.date().weekNumber(&weekYear);
        return QStringLiteral("w%1-%2").arg(weekYear).arg(week);
    });

    const Snapshot* newest = nullptr;
    for (const Snapshot& snapshot : snapshots) {
        if (!newest || newest->date < snapshot.date)
            newest = &snapshot;
    }
    if (newest)
        keep.insert(newest->path);
    return keep;
}

} // namespace orvik
