#pragma once

#include "appearance/palette.h"
#include "store/librarystore.h"

#include <QFrame>

#include <functional>

class QLabel;
class QPushButton;
class QToolButton;

namespace orvik::ui {

// A calm line above the editor for what happened to the sheets without the
// user's doing. It never blocks typing: it stays until it is closed, replaced
// or the selection moves on, and screen readers hear it once when it appears.
class NoticeBar : public QFrame {
    Q_OBJECT
public:
    explicit NoticeBar(QWidget* parent = nullptr);

    void showNotice(const QString& text);
    // With a button offering what can be done about it; the notice goes
    // once the button did it.
    void showNotice(const QString& text, const QString& actionText, std::function<void()> action);
    void dismiss();
    QString text() const;
    QToolButton* closeButton() const { return m_close; }
    QPushButton* actionButton() const { return m_actionButton; }
    void setEditorPalette(const Palette& editorPalette);

    // What to tell about a change; `shown` when the changed sheet is the one
    // in the editor.
    static QString textFor(const ExternalChange& change, bool shown);

Q_SIGNALS:
    // Closed while the focus was inside: it should go somewhere useful.
    void focusReleased();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    QLabel* m_label;
    QPushButton* m_actionButton;
    QToolButton* m_close;
    std::function<void()> m_action;
    Palette m_palette = Palette::system();
};

} // namespace orvik::ui
