#pragma once

#include <QDateTime>
#include <QString>

#include <optional>

class QObject;

namespace orvik {
class LibraryStore;
}

namespace orvik::ui {

class NoticeBar;

// Watches the store's library for many sheets leaving it at once and offers,
// in `notice`, to bring back every missing sheet of the newest snapshot that
// holds them, never overwriting a file. Lives as long as `owner`.
void watchForLostSheets(LibraryStore& store, NoticeBar* notice, QObject* owner);

// What the notice says: how many went, and the snapshot that holds them, if any.
QString lostSheetsText(qsizetype count, const std::optional<QDateTime>& snapshot,
                       const QDateTime& now = QDateTime::currentDateTime());

} // namespace orvik::ui
