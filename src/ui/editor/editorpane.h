#pragma once

#include "markdown/highlighter.h"

#include <QWidget>

namespace orvik {
class LibraryStore;
}

namespace orvik::ui {

class MarkdownEditor;

// The right-hand column: the Markdown text view over a slim status bar while a
// sheet is selected, a welcome placeholder otherwise. Binds itself to the
// store's selection and current text.
class EditorPane : public QWidget {
    Q_OBJECT
public:
    explicit EditorPane(LibraryStore& store, QWidget* parent = nullptr);
    ~EditorPane() override;

    // The style derived from the appearance preferences; the window hands on every change.
    void setEditorStyle(const MarkdownHighlighter::Style& style);
    MarkdownHighlighter::Style editorStyle() const;

    // The text view while a sheet is shown, else nullptr.
    MarkdownEditor* editor() const;

private:
    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace orvik::ui
