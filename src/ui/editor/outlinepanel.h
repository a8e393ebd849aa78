#pragma once

#include "markdown/outline.h"

#include <QListWidget>
#include <QPointer>
#include <QTimer>

namespace orvik::ui {

class MarkdownEditor;

// "Gliederung": the headings of the shown sheet beside its text, each level
// indented further. Enter or a click puts the caret on a heading and scrolls
// it to the top; the heading whose section holds the caret is the current row.
//
// The text is read again once typing pauses, never on each key, and only while
// the panel is shown: a large sheet keeps typing fluid.
class OutlinePanel : public QListWidget {
    Q_OBJECT
public:
    explicit OutlinePanel(MarkdownEditor* editor, QWidget* parent = nullptr);

    // The headings as last read from the text.
    const QList<outline::Heading>& headings() const { return m_headings; }
    // Reads the headings now rather than after the pause.
    void refresh();
    // Colours from the editor's look, which the window hands on.
    void restyle();

protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void markCaret();
    void jump(const QListWidgetItem* item);

    QPointer<MarkdownEditor> m_editor;
    QList<outline::Heading> m_headings;
    QTimer m_pause;
};

} // namespace orvik::ui
