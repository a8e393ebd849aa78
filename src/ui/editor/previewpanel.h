#pragma once

#include <QPointer>
#include <QTextBrowser>
#include <QTimer>

namespace orvik::ui {

class MarkdownEditor;

// "Vorschau": the shown sheet as the export's HTML renders it, in the
// editor's own font, size and colours, read-only beside the text. Drawn anew a
// moment after typing pauses, and only while shown; scrolled along with the
// editor, by the same share of its height.
class PreviewPanel : public QTextBrowser {
    Q_OBJECT
public:
    explicit PreviewPanel(MarkdownEditor* editor, QWidget* parent = nullptr);

    // Renders the text now rather than after the pause.
    void refresh();
    // The editor's look changed: colours and font follow.
    void restyle();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void followEditor();

    QPointer<MarkdownEditor> m_editor;
    QTimer m_pause;
};

} // namespace orvik::ui
