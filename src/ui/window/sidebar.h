#pragma once

#include "appearance/editorstyle.h"

#include <QDialog>
#include <QPointer>
#include <QWidget>

class QLabel;
class QListWidget;
class QToolButton;

namespace orvik {
class LibraryStore;
}

namespace orvik::ui {

// The first column: the groups under "Bibliothek" and the "Neue Gruppe" button.
// Choosing a row selects the group in the store; everything else follows there.
class SidebarView : public QWidget {
    Q_OBJECT
public:
    explicit SidebarView(LibraryStore& store, QWidget* parent = nullptr);

    void setEditorStyle(const MarkdownHighlighter::Style& style);
    const MarkdownHighlighter::Style& editorStyle() const { return m_style; }

    QListWidget* list() const { return m_list; }
    QToolButton* newGroupButton() const { return m_newGroup; }
    // The open new-group dialog, if any.
    QDialog* newGroupDialog() const { return m_dialog; }

    void openNewGroupDialog();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void rebuild();
    void showSelection();
    void applyColours();

    LibraryStore& m_store;
    MarkdownHighlighter::Style m_style;
    QLabel* m_header = nullptr;
    QListWidget* m_list = nullptr;
    QToolButton* m_newGroup = nullptr;
    QPointer<QDialog> m_dialog;
    bool m_syncing = false;
};

} // namespace orvik::ui
