#pragma once

#include "appearance/editorstyle.h"
#include "library/conflicts.h"
#include "library/folder.h"
#include "library/sheet.h"
#include "search/searchengine.h"

#include <QAbstractListModel>
#include <QListView>
#include <QPointer>
#include <QWidget>

class QLabel;
class QLineEdit;
class QMenu;
class QMimeData;
class QTimer;
class QToolButton;

namespace orvik {
class LibraryStore;
}

namespace orvik::ui {

// Sheet rows being dragged, by their files; only the window's own group rows
// take them, never the file manager.
inline constexpr char sheetsMimeType[] = "application/x-orvik-sheets";
QList<QUrl> draggedSheets(const QMimeData* data);
// Files dragged in from outside (a file manager) that can come in as sheets:
// local Markdown and text files, by path.
QStringList droppedFiles(const QMimeData* data);
// Moves the sheets into the group, the open one last, so that the group it
// opens in lists the others already.
void moveSheets(LibraryStore& store, const QList<QUrl>& sheets, const Folder& to);

// The rows of the sheet list: the store's visible sheets with their search
// excerpts and hit counts. A conflict copy follows the sheet it was made of,
// whose row would otherwise lie far from it when the copy is older.
class SheetListModel : public QAbstractListModel {
    Q_OBJECT
public:
    enum Role {
        UrlRole = Qt::UserRole + 1,
        SecondLineRole,
        MetaPartsRole,
        // "Konflikt" on a conflict copy, nothing on any other sheet.
        ConflictMarkRole,
    };

    explicit SheetListModel(LibraryStore& store, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QStringList mimeTypes() const override;
    QMimeData* mimeData(const QModelIndexList& indexes) const override;
    // Rows dragged onto a group move there; nothing outside the window takes them.
    Qt::DropActions supportedDragActions() const override { return Qt::MoveAction; }

    Sheet sheet(int row) const { return m_rows.value(row); }
    int rowOf(const QUrl& url) const;
    // Re-reads the store. Keeps the rows (and so the view's selection and
    // scroll position) when only their contents changed.
    void refresh();

    // Date, word count and, from two matches on, the hit count: "5. Dez. 2026",
    // "12 Wörter", "2 Fundstellen".
    static QStringList metaParts(const Sheet& sheet, std::optional<int> hitCount);
    // What a conflict copy is, for assistive technology:
    // "Konflikt: andere Fassung von „Titel“ vom 7. Dezember 2026, 13:05 Uhr".
    static QString conflictDescription(const QString& originalTitle,
                                       const library::ConflictName& name);

private:
    LibraryStore& m_store;
    QList<Sheet> m_rows;
    QList<std::optional<library::ConflictName>> m_conflicts; // by row
};

// The list itself; reports where a row menu was asked for, by mouse, by the
// menu key or by Shift+F10, and when Delete was pressed on a row.
class SheetListWidget : public QListView {
    Q_OBJECT
public:
    using QListView::QListView;

Q_SIGNALS:
    void rowMenuRequested(const QModelIndex& index, const QPoint& globalPos);
    void rowDeleteRequested(const QModelIndex& index);
    // Markdown or text files from outside were dropped onto the list.
    void filesDropped(const QStringList& paths);

protected:
    void contextMenuEvent(QContextMenuEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void requestMenuAtCurrentRow();
};

// Scope switch and result count, shown while a search is active.
class SearchScopeBar : public QWidget {
    Q_OBJECT
public:
    explicit SearchScopeBar(QWidget* parent = nullptr);

    void setState(SearchScope scope, bool isSearching, int resultCount, const Palette& palette);
    QString statusText() const;
    QToolButton* button(SearchScope scope) const;

Q_SIGNALS:
    void scopeChosen(SearchScope scope);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QToolButton* m_group = nullptr;
    QToolButton* m_library = nullptr;
    QWidget* m_spinner = nullptr;
    QLabel* m_status = nullptr;
    Palette m_palette = Palette::system();
    bool m_showing = false;
};

// Laid over the empty list: nothing found, an empty trash, or an empty group.
class EmptyListHint : public QWidget {
    Q_OBJECT
public:
    explicit EmptyListHint(QWidget* parent = nullptr);

    // `ownGroup`: a group of the writer's own, whose new sheets come with Ctrl+Alt+N.
    void setState(bool isSearching, bool isTrash, const Palette& palette, bool ownGroup = false);
    QString title() const;
    QString secondLine() const;
    QString iconSymbol() const { return m_symbol; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QLabel* m_icon = nullptr;
    QLabel* m_title = nullptr;
    QLabel* m_second = nullptr;
    QString m_symbol;
    Palette m_palette = Palette::system();
};

// The middle column: the group's sheets or the search hits, the search field,
// the scope bar, the empty hint and, in a filled trash, "Papierkorb leeren".
class SheetListView : public QWidget {
    Q_OBJECT
public:
    explicit SheetListView(LibraryStore& store, QWidget* parent = nullptr);

    void setEditorStyle(const MarkdownHighlighter::Style& style);
    const MarkdownHighlighter::Style& editorStyle() const { return m_style; }

    QString columnTitle() const;
    QLineEdit* searchField() const { return m_search; }
    SheetListWidget* list() const { return m_list; }
    SheetListModel* model() const { return m_model; }
    SearchScopeBar* scopeBar() const { return m_scopeBar; }
    EmptyListHint* hint() const { return m_hint; }
    QToolButton* emptyTrashButton() const { return m_emptyTrash; }

    // The menu of a row, as the context menu shows it; the caller owns it.
    // Its commands act on every selected row when the row is one of them.
    QMenu* rowMenu(const Sheet& sheet, QWidget* parent);
    QList<Sheet> selectedSheets() const;
    // Both ask first, since neither can be undone: a sheet in the trash
    // destroyed, and every sheet in the trash destroyed.
    void deleteForever(QList<Sheet> sheets);
    void emptyTrash();

    // While held, a list of thousands of rows is not filled in: measuring
    // every row takes a noticeable while, which must not hold back the
    // window's first paint. Letting go fills in what waited.
    void holdLongLists(bool hold);

Q_SIGNALS:
    // The row menu's "Versionen …": the sheet is selected, its versions wanted.
    void versionsRequested();
    // The row menu's "Vergleichen …" on a conflict copy whose original is there.
    void compareRequested(const QUrl& copy);

protected:
    void paintEvent(QPaintEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void refresh();
    void showSelection();
    bool isInTrash(const Sheet& sheet) const;
    void applyColours();

    LibraryStore& m_store;
    MarkdownHighlighter::Style m_style;
    QLabel* m_title = nullptr;
    QToolButton* m_emptyTrash = nullptr;
    QLineEdit* m_search = nullptr;
    SearchScopeBar* m_scopeBar = nullptr;
    SheetListWidget* m_list = nullptr;
    SheetListModel* m_model = nullptr;
    EmptyListHint* m_hint = nullptr;
    bool m_syncing = false;
    bool m_holdLong = false;
};

} // namespace orvik::ui
