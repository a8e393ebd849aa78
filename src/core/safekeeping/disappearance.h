#pragma once

#include <QDateTime>
#include <QFileSystemWatcher>
#include <QHash>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <functional>
#include <utility>

namespace orvik {

// Notices many sheets leaving the library within a minute while the window
// runs: a sync tool gone wrong, another program, a mistaken rm. A sheet whose
// file is still in the library under another name (moved to the trash or to
// another group, its group renamed) has not gone, so Orvik's own operations
// stay silent without telling the watch; nor does anything count that leaves
// the trash.
class DisappearanceWatch : public QObject {
    Q_OBJECT
public:
    static constexpr int sheetsAtOnce = 10;
    static constexpr int wholeGroup = 3; // sheets a group held to count when it empties
    static constexpr qint64 windowMs = 60 * 1000;
    // How long after the first change the library is looked at again.
    static constexpr int settleMs = 1000;

    using FileKey = std::pair<quint64, quint64>; // device, inode
    struct Listing {
        QHash<QString, FileKey> sheets; // below the root, "Gruppe/Blatt.md"
        QSet<FileKey> files;            // the sheets' and the trash's files
        QStringList folders;            // the groups and the trash
    };

    // Looks at the library at once, and again after each change on disk; the
    // looks run off the interface thread.
    explicit DisappearanceWatch(const QString& root, QObject* parent = nullptr);

    static Listing list(const QString& root);
    // Whether the library was looked at once: what leaves before is not seen.
    bool hasLooked() const { return m_looked; }
    // Compares a look with the one before; public for tests, which give the
    // clock.
    void take(const Listing& listing, const QDateTime& now);

Q_SIGNALS:
    // The sheets gone within the last minute, relative to the root; once for
    // each such loss.
    void disappeared(const QStringList& sheets);

private:
    void look();

    struct Gone {
        QString sheet;
        QDateTime when;
    };
    QString m_root;
    QHash<QString, FileKey> m_known;
    QList<Gone> m_gone;
    QFileSystemWatcher m_watcher;
    QTimer m_settle;
    bool m_looking = false;
    bool m_lookAgain = false;
    bool m_looked = false;
};

} // namespace orvik
