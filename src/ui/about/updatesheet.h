#pragma once

#include "updates/appcast.h"

#include <QDialog>
#include <QUrl>

#include <functional>

class QPushButton;
class QScrollArea;

namespace orvik::ui {

// Hands an address to the desktop's web browser. Replaceable, so that tests
// can see what would have been opened without a browser behind them.
std::function<void(const QUrl&)>& downloadOpener();

// Only an encrypted address with a host may leave the application; the feed
// is read over any scheme, so its download address is checked once more here.
bool isSafeDownloadAddress(const QUrl& url);

// One available update with its notes, window-modal over its parent: skip this
// version, postpone, or open the download address.
class UpdateSheet : public QDialog {
    Q_OBJECT
public:
    UpdateSheet(AvailableUpdate update, std::function<void()> onClose, QWidget* parent = nullptr);

    const AvailableUpdate& update() const { return m_update; }
    QString title() const;
    QString untertitel() const;

    QPushButton* skipButton() const { return m_skip; }
    QPushButton* laterButton() const { return m_later; }
    QPushButton* downloadButton() const { return m_download; }
    // Nothing when the update has no notes.
    QScrollArea* notesArea() const { return m_notes; }
    QStringList shownNotes() const;

    // Every way the dialog ends (buttons, Escape, the window's close button)
    // tells the presenter exactly once.
    void done(int result) override;

private:
    void skipVersion();
    void openDownload();

    AvailableUpdate m_update;
    std::function<void()> m_onClose;
    QPushButton* m_skip = nullptr;
    QPushButton* m_later = nullptr;
    QPushButton* m_download = nullptr;
    QScrollArea* m_notes = nullptr;
};

} // namespace orvik::ui
