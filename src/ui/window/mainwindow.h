#pragma once

#include "appearance/editorstyle.h"
#include "library/sheet.h"
#include "library/template.h"
#include "updates/appcast.h"

#include <QMainWindow>

#include <optional>

class QAction;
class QActionGroup;
class QMenu;
class QToolBar;
class QToolButton;

namespace orvik {
class LibraryStore;
}

namespace orvik::ui {

class EditorPane;
class ExportMenuContent;
class NoticeBar;
class SheetListView;
class SidebarView;

// The single main window: groups, sheets and the editor side by side, the
// toolbar, the menus with their shortcuts and the look derived from the
// appearance preferences.
class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    explicit MainWindow(LibraryStore& store, QWidget* parent = nullptr);
    ~MainWindow() override;

    const MarkdownHighlighter::Style& editorStyle() const { return m_style; }
    SidebarView* sidebar() const { return m_sidebar; }
    SheetListView* sheetList() const { return m_sheetList; }
    EditorPane* editorPane() const { return m_pane; }
    // Above the editor: what other programs did to the sheets.
    NoticeBar* notice() const { return m_notice; }
    QToolBar* toolbar() const { return m_toolbar; }
    // The toolbar item with this text.
    QToolButton* toolbarButton(const QString& text) const;
    ExportMenuContent* toolbarExportMenu() const { return m_toolbarExport; }
    ExportMenuContent* fileExportMenu() const { return m_fileExport; }
    // The menu bar's command of this object name, searched through all
    // menus; entries made from data (templates, fonts) go by their text.
    QAction* command(const QString& name) const;

    bool showingAbout() const { return m_showingAbout; }
    const std::optional<AvailableUpdate>& pendingUpdate() const { return m_pendingUpdate; }

    // Shows files named from outside (the command line, the desktop): a sheet
    // of the library is selected in its group; for any other file a notice
    // offers to bring a copy into "Schnelle Notiz", never editing it in place.
    void openFiles(const QStringList& paths);
    // Opens the comparison of a conflict copy with its sheet; one at a time.
    void compareConflict(const QUrl& copy);

public Q_SLOTS:
    // Derives the style from the preferences again and hands it on when it
    // changed; other windows that write the preferences call this.
    void refreshStyle();
    void setAppearance(AppearanceMode mode);
    void setFontFamily(const QString& family);
    void enlargeFont();
    void reduceFont();
    void resetFontSize();
    void aboutClosed() { m_showingAbout = false; }
    void updateClosed() { m_pendingUpdate.reset(); }

Q_SIGNALS:
    void aboutRequested();
    void updateAvailable(const orvik::AvailableUpdate& update);
    // Once, after the window painted itself the first time: work over the
    // whole library waits for it, since on two cores it would delay that paint.
    void firstPainted();

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void changeEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void requestAbout();
    void buildMenus();
    void buildToolbar();
    void applyStyle(const MarkdownHighlighter::Style& style);
    void refreshFontMenu();
    void setFontSize(double size);
    void startUpdateCheck();
    // Hides the group column and the sheet list, or shows them again.
    void showEditorOnly(bool on);
    // Text that could not be written is let go only when the user says so;
    // false when the window has to stay.
    bool mayLeaveUnsavedText();
    // A command made a sheet (none when it failed): the writer types into it next.
    void startWriting(const std::optional<Sheet>& created);
    // Brings outside files into the shown group or `into`; says which were refused.
    void importFiles(const QStringList& paths);
    void importFiles(const QStringList& paths, const Folder& into);

    LibraryStore& m_store;
    MarkdownHighlighter::Style m_style;
    bool m_styled = false;
    SidebarView* m_sidebar = nullptr;
    SheetListView* m_sheetList = nullptr;
    EditorPane* m_pane = nullptr;
    NoticeBar* m_notice = nullptr;
    QToolBar* m_toolbar = nullptr;
    QToolButton* m_modeButton = nullptr;
    QActionGroup* m_modeGroup = nullptr;
    QMenu* m_fontMenu = nullptr;
    QActionGroup* m_fontGroup = nullptr;
    QAction* m_resetSizeEntry = nullptr;
    QAction* m_fullScreen = nullptr;
    ExportMenuContent* m_toolbarExport = nullptr;
    ExportMenuContent* m_fileExport = nullptr;
    bool m_showingAbout = false;
    std::optional<AvailableUpdate> m_pendingUpdate;
    bool m_awaitingFirstPaint = false;
};

} // namespace orvik::ui
