#pragma once

#include "diffview.h"
#include "safekeeping/history.h"
#include "safekeeping/worddiff.h"

#include <QDialog>
#include <QPointer>
#include <QTimer>

class QLabel;
class QListWidget;
class QPushButton;

namespace orvik {
class LibraryStore;
}

namespace orvik::ui {

class EditorPane;

// "Versionen": the earlier versions of the selected sheet from the snapshots,
// newest first, and the chosen one's text with what changed since marked word
// by word; a version is written back through the editor, so that one undo
// brings the replaced text back, or copied into a new sheet. Follows the
// selected sheet while it is open. Snapshots and diffs are read on other
// threads: a long history or a large sheet never holds the window up.
class VersionsView : public QDialog {
    Q_OBJECT
public:
    VersionsView(LibraryStore& store, EditorPane* pane, QWidget* parent = nullptr);

    struct Entry {
        history::Version version;
        worddiff::Counts change; // from this version to the next newer one
    };

    QListWidget* list() const { return m_list; }
    DiffView* textView() const { return m_text; }
    QPushButton* restoreButton() const { return m_restore; }
    QPushButton* copyButton() const { return m_copy; }
    // What the window says besides the list: none, reading, restored, …
    QString status() const;
    // Nothing is being read or computed for the list or the text.
    bool isIdle() const { return !m_listing && !m_diffing && !m_restoring; }

    // "+120 / −8"
    static QString changeText(const worddiff::Counts& counts);

public Q_SLOTS:
    void reload();
    void restoreSelected();
    void openSelectedAsSheet();

private:
    void showSelected();
    void render();
    void setStatus(const QString& text);
    const Entry* selectedEntry() const;
    void enableButtons();

    LibraryStore& m_store;
    QPointer<EditorPane> m_pane;
    QListWidget* m_list = nullptr;
    DiffView* m_text = nullptr;
    QLabel* m_status = nullptr;
    QPushButton* m_restore = nullptr;
    QPushButton* m_copy = nullptr;
    QTimer m_follow;

    QString m_relative;  // the sheet shown, below the library
    QString m_sheetPath; // empty: no sheet
    QList<Entry> m_entries;
    QList<worddiff::Piece> m_pieces; // of the selected version against the text now
    quint64 m_listGeneration = 0;
    quint64 m_diffGeneration = 0;
    bool m_listing = false;
    bool m_diffing = false;
    bool m_restoring = false;
};

} // namespace orvik::ui
