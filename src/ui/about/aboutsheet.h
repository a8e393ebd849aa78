#pragma once

#include "updates/appcast.h"

#include <QDialog>
#include <QPointer>

#include <functional>
#include <optional>

class QCheckBox;
class QLabel;
class QPushButton;

namespace orvik::ui {

class UpdateSheet;

// The application's name and version, the switch for automatic update checks
// and the manual check, window-modal over its parent. An update the manual
// check finds opens in an update sheet over this one.
class AboutSheet : public QDialog {
    Q_OBJECT
public:
    explicit AboutSheet(std::function<void()> onClose, QWidget* parent = nullptr);

    // "Version 1.4 (27)"
    static QString versionLine();

    const std::optional<QString>& status() const { return m_status; }
    bool isChecking() const { return m_isChecking; }
    const std::optional<AvailableUpdate>& found() const { return m_found; }
    UpdateSheet* updateSheet() const { return m_updateSheet; }

    QLabel* versionLabel() const { return m_version; }
    QLabel* statusLabel() const { return m_statusLabel; }
    QCheckBox* autoCheckBox() const { return m_autoCheck; }
    QPushButton* checkButton() const { return m_check; }
    QPushButton* doneButton() const { return m_done; }

    // Every way the dialog ends (buttons, Escape, the window's close button)
    // tells the presenter exactly once.
    void done(int result) override;

public Q_SLOTS:
    void runCheck();

private:
    void finishCheck(const UpdateCheckResult& result);
    void presentUpdate();
    void refresh();

    std::function<void()> m_onClose;
    std::optional<QString> m_status;
    bool m_isChecking = false;
    std::optional<AvailableUpdate> m_found;
    QPointer<UpdateSheet> m_updateSheet;

    QLabel* m_version = nullptr;
    QLabel* m_statusLabel = nullptr;
    QCheckBox* m_autoCheck = nullptr;
    QPushButton* m_check = nullptr;
    QPushButton* m_done = nullptr;
};

} // namespace orvik::ui
