#pragma once

#include "appearance/editorstyle.h"
#include "library/folder.h"

#include <QDialog>
#include <QPointer>
#include <QWidget>

#include <optional>

class QLabel;
class QListWidget;
class QMenu;
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

    // The menu of a group row, as the context menu shows it; the caller owns
    // it. The standard groups and the trash show rename and delete disabled.
    QMenu* groupMenu(const Folder& group, QWidget* parent);
    QDialog* renameDialog() const { return m_renameDialog; }
    void openRenameDialog(const Folder& group);
    // Asks, then puts the group's sheets into the trash and removes its folder.
    void deleteGroup(const Folder& group);

Q_SIGNALS:
    // "Neues Blatt in dieser Gruppe" was chosen for a group.
    void newSheetRequested(const orvik::Folder& group);
    // Something the writer should read, not answer.
    void told(const QString& text);
    // Markdown or text files from outside were dropped onto a group.
    void filesDropped(const QStringList& paths, const orvik::Folder& group);

protected:
    void paintEvent(QPaintEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void rebuild();
    void showSelection();
    void applyColours();
    std::optional<Folder> folderAt(const QPoint& viewportPos) const;
    std::optional<Folder> currentFolder() const;

    LibraryStore& m_store;
    MarkdownHighlighter::Style m_style;
    QLabel* m_header = nullptr;
    QListWidget* m_list = nullptr;
    QToolButton* m_newGroup = nullptr;
    QPointer<QDialog> m_dialog;
    QPointer<QDialog> m_renameDialog;
    bool m_syncing = false;
};

} // namespace orvik::ui
