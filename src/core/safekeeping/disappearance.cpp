#include "disappearance.h"

#include "library/folder.h"
#include "library/library.h"
#include "platform/files.h"
#include "platform/handover.h"
#include "safekeeping/trash.h"

#include <QDir>
#include <QFileInfo>
#include <QFuture>
#include <QFutureWatcher>
#include <QtConcurrentRun>

#include <sys/stat.h>

namespace orvik {

namespace {

std::optional<DisappearanceWatch::FileKey> keyOf(const QString& path) {
    struct stat st;
    if (::stat(files::encodeName(path).constData(), &st) != 0)
        return std::nullopt;
    return DisappearanceWatch::FileKey{quint64(st.st_dev), quint64(st.st_ino)};
}

QString groupOf(const QString& sheet) {
    return sheet.section(QLatin1Char('/'), 0, 0);
}

} // namespace

DisappearanceWatch::DisappearanceWatch(const QString& root, QObject* parent)
    : QObject(parent), m_root(QDir::cleanPath(root)) {
    m_settle.setSingleShot(true);
    m_settle.setInterval(settleMs);
    connect(&m_settle, &QTimer::timeout, this, &DisappearanceWatch::look);
    // Not restarted by later changes: a tool deleting without pause is still
    // looked at every second.
    connect(&m_watcher, &QFileSystemWatcher::directoryChanged, this, [this] {
        if (!m_settle.isActive())
            m_settle.start();
    });
    look();
}

DisappearanceWatch::Listing DisappearanceWatch::list(const QString& root) {
    Listing listing;
    for (const Folder& group : library::readGroups(root)) {
        const QString folder = group.path();
        listing.folders.append(folder);
        for (const QString& path : library::sheetFiles(folder)) {
            if (const auto key = keyOf(path)) {
                listing.sheets.insert(group.name + QLatin1Char('/') + QFileInfo(path).fileName(),
                                      *key);
                listing.files.insert(*key);
            }
        }
    }
    const QString trash = root + QLatin1Char('/') + QLatin1String(Trash::folderName);
    listing.folders.append(trash);
    for (const QString& path : library::sheetFiles(trash)) {
        if (const auto key = keyOf(path))
            listing.files.insert(*key);
    }
    return listing;
}

void DisappearanceWatch::look() {
    if (m_looking) {
        m_lookAgain = true;
        return;
    }
    m_looking = true;
    // A watcher owned by this object: a look that ends after it is gone
    // reaches nobody.
    auto* watcher = new QFutureWatcher<Listing>(this);
    connect(watcher, &QFutureWatcherBase::finished, this, [this, watcher] {
        watcher->deleteLater();
        m_looking = false;
        take(watcher->result(), QDateTime::currentDateTime());
        if (std::exchange(m_lookAgain, false))
            look();
    });
    watcher->setFuture(QtConcurrent::run(handedOver([root = m_root] { return list(root); })));
}

void DisappearanceWatch::take(const Listing& listing, const QDateTime& now) {
    m_looked = true;
    for (auto it = m_known.cbegin(); it != m_known.cend(); ++it) {
        if (!listing.sheets.contains(it.key()) && !listing.files.contains(it.value()))
            m_gone.append({it.key(), now});
    }
    m_known = listing.sheets;
    m_gone.removeIf([&](const Gone& gone) { return gone.when.msecsTo(now) > windowMs; });

    QHash<QString, int> perGroup;
    for (const Gone& gone : std::as_const(m_gone))
        ++perGroup[groupOf(gone.sheet)];
    QSet<QString> groupsHolding;
    for (auto it = m_known.cbegin(); it != m_known.cend(); ++it)
        groupsHolding.insert(groupOf(it.key()));
    bool groupEmptied = false;
    for (auto it = perGroup.cbegin(); it != perGroup.cend(); ++it)
        groupEmptied =
            groupEmptied || (it.value() >= wholeGroup && !groupsHolding.contains(it.key()));

    const QStringList watched = m_watcher.directories();
    QStringList wanted = listing.folders;
    wanted.append(m_root);
    for (const QString& folder : watched)
        if (!wanted.contains(folder))
            m_watcher.removePath(folder);
    for (const QString& folder : std::as_const(wanted))
        if (!watched.contains(folder) && QFileInfo(folder).isDir())
            m_watcher.addPath(folder);

    if (m_gone.size() < sheetsAtOnce && !groupEmptied)
        return;
    QStringList sheets;
    for (const Gone& gone : std::as_const(m_gone))
        sheets.append(gone.sheet);
    sheets.sort();
    m_gone.clear();
    Q_EMIT disappeared(sheets);
}

} // namespace orvik
