#pragma once

#include "appearance/editorstyle.h"

#include <QWidget>

#include <memory>

class QAction;
class QLabel;

namespace orvik {
class LibraryStore;
}

namespace orvik::ui {

class FindBar;
class MarkdownEditor;
class OutlinePanel;
class PreviewPanel;
class StatusBar;
class WelcomePlaceholder;

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
    // The row under the text while a sheet is shown, else nullptr.
    StatusBar* statusBar() const;
    // The greeting while no sheet is shown, else nullptr.
    WelcomePlaceholder* placeholder() const;
    // Finding in the text, above the status bar while a sheet is shown, else nullptr.
    FindBar* findBar() const;
    // "Suchen …", "Weitersuchen", "Rückwärts suchen" and "Ersetzen …" with
    // their keys, for a menu to offer.
    QList<QAction*> findCommands() const;
    // "Fett", "Kursiv" and "Link einfügen".
    QList<QAction*> formatCommands() const;
    // "Gliederung" and "Vorschau": panels beside the text, each switched on
    // and off; they stay so for every sheet shown later.
    QList<QAction*> panelCommands() const;
    // The panels while a sheet is shown, else nullptr; hidden while off.
    OutlinePanel* outline() const;
    PreviewPanel* preview() const;

    // The notice above the text while a very large sheet is still loading,
    // else nullptr or hidden.
    QLabel* loadNotice() const;

    // Misspelt words marked while typing; on unless turned off. Holds for
    // every sheet shown later as well.
    void setSpellCheckingEnabled(bool on);
    bool spellCheckingEnabled() const;
    // Straight quotes and "--" become German typography as they are typed.
    void setTypographyEnabled(bool on);
    bool typographyEnabled() const;
    // The writing modes of the text view, holding for sheets shown later too.
    void setFocusModeEnabled(bool on);
    void setTypewriterModeEnabled(bool on);

    // Ctrl+F: opens the find bar when a sheet is shown.
    void showFindBar();

    // After a command made or opened the selected sheet: the keyboard goes to
    // its text at once, the caret where the writer continues, so that the
    // first words typed land in the sheet.
    void startWriting();

protected:
    void paintEvent(QPaintEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace orvik::ui
