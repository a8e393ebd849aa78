#include "lostsheets.h"

#include "noticebar.h"
#include "platform/handover.h"
#include "safekeeping/backupmanager.h"
#include "safekeeping/disappearance.h"
#include "safekeeping/history.h"
#include "store/librarystore.h"

#include <QFuture>
#include <QFutureWatcher>
#include <QLocale>
#include <QPointer>
#include <QtConcurrentRun>

using namespace Qt::StringLiterals;

namespace orvik::ui {

namespace {

// Calls `done` with the future's result on `context`'s thread, unless
// `context` is gone by then.
template <typename T, typename Done>
void whenDone(QObject* context, const QFuture<T>& future, Done done) {
    auto* watcher = new QFutureWatcher<T>(context);
    QObject::connect(watcher, &QFutureWatcherBase::finished, context,
                     [watcher, done = std::move(done)]() mutable {
                         watcher->deleteLater();
                         done(watcher->result());
                     });
    watcher->setFuture(future);
}

} // namespace

QString lostSheetsText(qsizetype count, const std::optional<QDateTime>& snapshot,
                       const QDateTime& now) {
    QString text = count == 1 ? u"Ein Blatt ist verschwunden."_s
                              : u"%1 Blätter sind verschwunden."_s.arg(count);
    if (!snapshot)
        return text + u" Keine Sicherung enthält "_s + (count == 1 ? u"es."_s : u"sie."_s);
    const QLocale german(QLocale::German, QLocale::Germany);
    // The hour is enough for today's snapshot; an older one needs its day.
    const QString when = snapshot->date() == now.date()
                             ? german.toString(*snapshot, u"HH:mm"_s)
                             : german.toString(*snapshot, u"d. MMM yyyy, HH:mm"_s);
    return text + (count == 1 ? u" Es ist"_s : u" Sie sind"_s) + u" in der Sicherung von "_s +
           when + u'.';
}

void watchForLostSheets(LibraryStore& store, NoticeBar* notice, QObject* owner) {
    auto* watch = new DisappearanceWatch(store.rootPath(), owner);
    const QPointer<NoticeBar> shown(notice);
    const auto recover = [shown, owner](const QString& from, const QString& root,
                                        const QString& backupRoot) {
        whenDone(owner, QtConcurrent::run(handedOver([=] {
                     return history::recoverMissing(from, root, backupRoot);
                 })),
                 [shown](const QStringList& back) {
                     if (!shown)
                         return;
                     shown->showNotice(back.isEmpty() ? u"Es fehlte kein Blatt mehr."_s
                                       : back.size() == 1
                                           ? u"Ein Blatt ist wieder da."_s
                                           : u"%1 Blätter sind wieder da."_s.arg(back.size()));
                 });
    };
    const auto offer = [&store, shown, recover](const QStringList& gone,
                                                const QList<BackupManager::Snapshot>& snapshots) {
        if (!shown)
            return;
        const auto snapshot = history::newestHolding(snapshots, gone);
        if (!snapshot) {
            shown->showNotice(lostSheetsText(gone.size(), std::nullopt));
            return;
        }
        const QString from = snapshot->path, root = store.rootPath(),
                      backupRoot = store.backups().location();
        shown->showNotice(lostSheetsText(gone.size(), snapshot->date), u"Wiederherstellen"_s,
                          [recover, from, root, backupRoot] { recover(from, root, backupRoot); });
    };
    QObject::connect(watch, &DisappearanceWatch::disappeared, owner,
                     [&store, owner, offer](const QStringList& gone) {
                         whenDone(owner, store.backups().snapshots(),
                                  [offer, gone](const QList<BackupManager::Snapshot>& snapshots) {
                                      offer(gone, snapshots);
                                  });
                     });
}

} // namespace orvik::ui
