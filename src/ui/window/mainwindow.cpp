#include "mainwindow.h"

#include "conflictview.h"
#include "exportmenu.h"
#include "library/library.h"
#include "lostsheets.h"
#include "noticebar.h"
#include "platform/files.h"
#include "platform/preferences.h"
#include "safekeeping/trash.h"
#include "services.h"
#include "sheetlist.h"
#include "sidebar.h"
#include "statisticsview.h"
#include "store/librarystore.h"
#include "ui/about/presenter.h"
#include "ui/editor/editorpane.h"
#include "ui/editor/markdowneditor.h"
#include "ui/settings/settingsview.h"
#include "updates/updatechecker.h"
#include "versionsview.h"
#include "windowstyler.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QIcon>
#include <QKeyEvent>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QSet>
#include <QSplitter>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWindow>

#include <algorithm>
#include <cmath>

using namespace Qt::StringLiterals;

namespace orvik::ui {

namespace {

constexpr int updateCheckDelayMs = 4000;

QString modeSymbol(AppearanceMode mode) {
    switch (mode) {
    case AppearanceMode::System:
        return u"circle.lefthalf.filled"_s;
    case AppearanceMode::Hell:
        return u"sun.max"_s;
    case AppearanceMode::Dunkel:
        return u"moon"_s;
    case AppearanceMode::SepiaHell:
        return u"sun.haze"_s;
    case AppearanceMode::SepiaDunkel:
        return u"moon.haze"_s;
    }
    return u"circle.lefthalf.filled"_s;
}

// The desktop's own palette, taken before any mode replaced it, so that the
// system mode can return to it.
const QPalette& desktopPalette() {
    static const QPalette palette = QApplication::palette();
    return palette;
}

// The toolbar that, in the looks with their own chrome, shows the palette's
// toolbar colour and a hairline towards the content.
class ChromeToolBar : public QToolBar {
public:
    using QToolBar::QToolBar;

    void setChrome(std::optional<QColor> background, QColor hairline) {
        m_background = background;
        m_hairline = hairline;
        update();
    }

protected:
    void paintEvent(QPaintEvent* event) override {
        if (!m_background) {
            QToolBar::paintEvent(event);
            return;
        }
        QPainter painter(this);
        painter.fillRect(rect(), *m_background);
        painter.fillRect(QRectF(0, height() - 0.5, width(), 0.5), m_hairline);
    }

private:
    std::optional<QColor> m_background;
    QColor m_hairline;
};

QString withoutMnemonic(QString text) {
    // "&&" stands for a literal "&".
    for (qsizetype i = text.indexOf(u'&'); i >= 0 && i < text.size(); i = text.indexOf(u'&', i + 1))
        text.remove(i, 1);
    return text;
}

// Alt and a letter reach every command of a menu, one letter each: a marked
// letter stays, the others take the first free initial of a word, else the
// first free plain letter, else any free one. Template and format names
// come from elsewhere, so the letters are chosen here rather than written
// into each text.
void giveMnemonics(QMenu* menu) {
    if (!menu)
        return;
    const auto marked = [](const QString& text) -> qsizetype {
        for (qsizetype i = 0; i + 1 < text.size(); ++i) {
            if (text[i] != u'&')
                continue;
            if (text[i + 1] != u'&')
                return i + 1;
            ++i;
        }
        return -1;
    };
    QSet<QChar> used;
    QList<QAction*> pending;
    for (QAction* action : menu->actions()) {
        if (action->isSeparator() || action->text().isEmpty())
            continue;
        giveMnemonics(action->menu());
        const qsizetype at = marked(action->text());
        if (at >= 0)
            used.insert(action->text()[at].toCaseFolded());
        else
            pending.append(action);
    }
    // The entries with the fewest letters choose first, so that a short
    // word still finds a letter of its own in a long menu.
    const auto letters = [](const QAction* action) {
        QSet<QChar> distinct;
        for (const QChar c : action->text())
            if (c.isLetterOrNumber())
                distinct.insert(c.toCaseFolded());
        return distinct.size();
    };
    std::stable_sort(pending.begin(), pending.end(),
                     [&](const QAction* a, const QAction* b) { return letters(a) < letters(b); });
    for (QAction* action : std::as_const(pending)) {
        const QString text = action->text();
        qsizetype chosen = -1;
        // Word initials first, then letters every keyboard layout has.
        for (const int pass : {0, 1, 2}) {
            for (qsizetype i = 0; i < text.size() && chosen < 0; ++i) {
                const bool initial = i == 0 || !text[i - 1].isLetterOrNumber();
                const bool fits = pass == 0 ? initial : pass == 1 ? text[i].unicode() < 128 : true;
                if (text[i].isLetterOrNumber() && fits && !used.contains(text[i].toCaseFolded()))
                    chosen = i;
            }
        }
        if (chosen < 0)
            continue;
        used.insert(text[chosen].toCaseFolded());
        QString withMark = text;
        withMark.replace(u"&"_s, u"&&"_s);
        withMark.insert(chosen + text.left(chosen).count(u'&'), u'&');
        action->setText(withMark);
    }
}

} // namespace

MainWindow::MainWindow(LibraryStore& store, QWidget* parent) : QMainWindow(parent), m_store(store) {
    desktopPalette();
    setWindowTitle(u"Orvik"_s);
    setObjectName(u"mainWindow"_s);
    resize(1180, 760);
    setMinimumSize(900, 560);

    auto* split = new QSplitter(Qt::Horizontal, this);
    split->setObjectName(u"columns"_s);
    split->setChildrenCollapsible(false);
    split->setHandleWidth(1);
    m_sidebar = new SidebarView(m_store, split);
    m_sidebar->setMinimumWidth(180);
    m_sidebar->setMaximumWidth(300);
    m_sheetList = new SheetListView(m_store, split);
    m_sheetList->setMinimumWidth(240);
    m_sheetList->setMaximumWidth(420);
    auto* editorColumn = new QWidget(split);
    editorColumn->setObjectName(u"editorColumn"_s);
    auto* stack = new QVBoxLayout(editorColumn);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(0);
    m_notice = new NoticeBar(editorColumn);
    m_pane = new EditorPane(m_store, editorColumn);
    stack->addWidget(m_notice);
    stack->addWidget(m_pane, 1);
    split->addWidget(m_sidebar);
    split->addWidget(m_sheetList);
    split->addWidget(editorColumn);
    split->setStretchFactor(0, 0);
    split->setStretchFactor(1, 0);
    split->setStretchFactor(2, 1);
    split->setSizes({210, 290, 1180 - 500});
    setCentralWidget(split);

    buildToolbar();
    buildMenus();

    connect(&m_store, &LibraryStore::changedOutside, this, [this](const ExternalChange& change) {
        const QString text = NoticeBar::textFor(change, change.sheet == m_store.selectedSheetID());
        if (change.kind != ExternalChange::Kind::KeptBoth) {
            m_notice->showNotice(text);
            return;
        }
        const QUrl copy = QUrl::fromLocalFile(
            QFileInfo(change.sheet.toLocalFile()).dir().filePath(change.keptAs));
        m_notice->showNotice(text, u"Vergleichen \u2026"_s,
                             [this, copy] { compareConflict(copy); });
    });
    connect(m_sheetList, &SheetListView::compareRequested, this, &MainWindow::compareConflict);
    // A notice speaks of the sheet it came with.
    connect(&m_store, &LibraryStore::selectedSheetIDChanged, m_notice, &NoticeBar::dismiss);
    connect(m_notice, &NoticeBar::focusReleased, this, [this] {
        if (QWidget* editor = m_pane->editor())
            editor->setFocus();
    });
    // A group of thousands of sheets listed before the window first painted
    // is shown right after.
    m_sheetList->holdLongLists(true);
    connect(this, &MainWindow::firstPainted, this, [this] {
        m_sheetList->holdLongLists(false);
        watchForLostSheets(m_store, m_notice, this);
    });

    presentSheets(*this);
    refreshStyle();
}

MainWindow::~MainWindow() = default;

void MainWindow::buildMenus() {
    if (auto* more = menuBar()->findChild<QToolButton*>(u"qt_menubar_ext_button"_s))
        more->setAccessibleName(u"Weitere Menüs"_s);
    QMenu* file = menuBar()->addMenu(u"&Datei"_s);
    QAction* newSheet =
        file->addAction(u"Neues Blatt"_s, this, [this] { startWriting(m_store.quickNewSheet()); });
    newSheet->setObjectName(u"newSheet"_s);
    newSheet->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_N));
    // New sheets where the writer is, and what the group rows' menu asks of the window.
    QAction* newInGroup = file->addAction(u"Neues Blatt in dieser Gruppe"_s, this, [this] {
        if (const auto group = m_store.selectedFolder())
            startWriting(m_store.newSheetIn(*group));
    });
    newInGroup->setObjectName(u"newSheetInGroup"_s);
    newInGroup->setShortcut(QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_N));
    const auto enableNewInGroup = [this, newInGroup] {
        newInGroup->setEnabled(m_store.selectedFolder() && !m_store.isViewingTrash());
    };
    enableNewInGroup();
    connect(&m_store, &LibraryStore::selectedFolderIDChanged, newInGroup, enableNewInGroup);
    connect(m_sidebar, &SidebarView::newSheetRequested, this,
            [this](const Folder& group) { startWriting(m_store.newSheetIn(group)); });
    connect(m_sidebar, &SidebarView::filesDropped, this,
            [this](const QStringList& paths, const Folder& group) { importFiles(paths, group); });
    // Enter on a sheet (or a double click) goes on writing in it: in the
    // sheet just chosen, even when the editor has not shown it yet.
    connect(m_sheetList->list(), &QAbstractItemView::activated, this, [this] {
        if (m_store.selectedSheet())
            m_pane->startWriting();
    });
    connect(m_sheetList->list(), &SheetListWidget::filesDropped, this,
            [this](const QStringList& paths) {
                const auto group = m_store.selectedFolder();
                if (group && group->kind != Folder::Kind::Trash)
                    importFiles(paths, *group);
            });
    connect(m_sidebar, &SidebarView::told, m_notice,
            [this](const QString& text) { m_notice->showNotice(text); });
    QAction* diary = file->addAction(u"Neuer Tagebucheintrag"_s, this, [this] {
        startWriting(m_store.newDiaryEntry(Template::diaryDefault()));
    });
    diary->setObjectName(u"newDiaryEntry"_s);
    diary->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_D));
    QMenu* fromTemplate = file->addMenu(u"Neu aus Vorlage"_s);
    for (const Template& t : Template::all())
        fromTemplate->addAction(t.title, this, [this, t] { startWriting(m_store.createSheet(t)); });
    file->addSeparator();
    QAction* save = file->addAction(u"Sichern"_s, this, [this] { m_store.flushPendingSave(); });
    save->setObjectName(u"save"_s);
    save->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
    file->addSeparator();
    QAction* importing = file->addAction(
        u"Importieren \u2026"_s, this, [this] { importFiles(services().chooseImportFiles(this)); });
    importing->setObjectName(u"import"_s);
    // Into the shown group; the trash takes no new sheets.
    const auto followGroup = [this, importing] {
        const auto group = m_store.selectedFolder();
        importing->setEnabled(group && group->kind != Folder::Kind::Trash);
    };
    connect(&m_store, &LibraryStore::selectedFolderIDChanged, importing, followGroup);
    followGroup();
    QMenu* exportMenu = file->addMenu(u"Exportieren"_s);
    m_fileExport = new ExportMenuContent(m_store, exportMenu, this);
    QAction* statistics = file->addAction(u"Statistik \u2026"_s, this, [this] {
        // One at a time; asking again brings it to the front.
        if (auto* open = findChild<StatisticsView*>(QString(), Qt::FindDirectChildrenOnly)) {
            open->raise();
            open->activateWindow();
            return;
        }
        auto* window = new StatisticsView(this);
        window->setAttribute(Qt::WA_DeleteOnClose);
        window->setEditor(m_pane->editor());
        // Another sheet: the pane has its editor once the selection settled.
        connect(&m_store, &LibraryStore::selectedSheetIDChanged, window, [this, window] {
            QTimer::singleShot(0, window, [this, window] { window->setEditor(m_pane->editor()); });
        });
        window->show();
    });
    statistics->setObjectName(u"statistics"_s);
    statistics->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_I));
    // The selected sheet's earlier versions, beside the window; one at a time.
    QAction* versions = file->addAction(u"Versionen \u2026"_s, this, [this] {
        if (auto* open = findChild<VersionsView*>(QString(), Qt::FindDirectChildrenOnly)) {
            open->raise();
            open->activateWindow();
            return;
        }
        auto* window = new VersionsView(m_store, m_pane, this);
        window->setAttribute(Qt::WA_DeleteOnClose);
        const QRect main = frameGeometry();
        const QRect screen = this->screen()->availableGeometry();
        if (main.right() + window->width() < screen.right())
            window->move(main.right() + 8, main.top());
        window->show();
    });
    versions->setObjectName(u"versions"_s);
    versions->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_V));
    const auto enableVersions = [this, versions] {
        const auto sheet = m_store.selectedSheet();
        versions->setEnabled(sheet && QFileInfo(sheet->path()).absolutePath() !=
                                          QFileInfo(m_store.trash().path()).absoluteFilePath());
    };
    enableVersions();
    connect(&m_store, &LibraryStore::selectedSheetIDChanged, versions, enableVersions);
    connect(m_sheetList, &SheetListView::versionsRequested, versions, &QAction::trigger);
    file->addSeparator();
    QAction* reveal = file->addAction(u"Bibliothek im Dateimanager zeigen"_s, this,
                                      [this] { services().reveal(m_store.rootPath()); });
    reveal->setObjectName(u"revealLibrary"_s);
    reveal->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_O));
    file->addSeparator();
    file->addAction(u"Jetzt sichern"_s, this, [this] { m_store.backupNow(); })
        ->setObjectName(u"backupNow"_s);
    file->addAction(u"Sicherungen im Dateimanager zeigen"_s, this,
                    [this] {
                        m_store.backupsFolder().then(
                            this, [](const QString& folder) { services().reveal(folder); });
                    })
        ->setObjectName(u"revealBackups"_s);
    file->addSeparator();
    QAction* quit = file->addAction(u"Beenden"_s, this, [this] {
        // Closing first writes the waiting save; then the last window is gone.
        if (close())
            QApplication::quit();
    });
    quit->setObjectName(u"quit"_s);
    quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));

    // The editing commands go to whichever text field has the focus; text
    // fields answer the same keys themselves, so the shortcuts only label them.
    QMenu* edit = menuBar()->addMenu(u"&Bearbeiten"_s);
    const auto forward = [](const char* slot) {
        return [slot] {
            if (QWidget* target = QApplication::focusWidget())
                QMetaObject::invokeMethod(target, slot);
        };
    };
    const struct {
        const char16_t* title;
        const char* slot;
        QKeySequence::StandardKey key;
    } editing[] = {
        {u"Rückgängig", "undo", QKeySequence::Undo},
        {u"Wiederholen", "redo", QKeySequence::Redo},
        {nullptr, nullptr, QKeySequence::UnknownKey},
        {u"Ausschneiden", "cut", QKeySequence::Cut},
        {u"Kopieren", "copy", QKeySequence::Copy},
        {u"Einfügen", "paste", QKeySequence::Paste},
        {u"Alles auswählen", "selectAll", QKeySequence::SelectAll},
    };
    for (const auto& item : editing) {
        if (!item.title) {
            edit->addSeparator();
            continue;
        }
        QAction* action = edit->addAction(QString::fromUtf16(item.title), this, forward(item.slot));
        action->setObjectName(QString::fromLatin1(item.slot));
        action->setShortcuts(item.key);
    }
    edit->addSeparator();
    edit->addActions(m_pane->findCommands());
    edit->addSeparator();
    edit->addActions(m_pane->formatCommands());
    edit->addSeparator();
    // Writing aids, each remembered for the next start.
    const auto aid = [edit, pane = m_pane](const QString& name, const QString& title,
                                           prefs::Flag preference,
                                           void (EditorPane::*apply)(bool)) {
        QAction* toggle = edit->addAction(title);
        toggle->setObjectName(name);
        toggle->setCheckable(true);
        const bool on = preference.read();
        toggle->setChecked(on);
        (pane->*apply)(on);
        connect(toggle, &QAction::toggled, pane, [pane, preference, apply](bool checked) {
            preference.write(checked);
            (pane->*apply)(checked);
        });
    };
    aid(u"spellChecking"_s, u"Rechtschreibung beim Schreiben prüfen"_s,
        WritingAidPreferences::spellChecking, &EditorPane::setSpellCheckingEnabled);
    aid(u"typography"_s, u"Typografische Anführungszeichen und Striche"_s,
        WritingAidPreferences::typography, &EditorPane::setTypographyEnabled);
    edit->addSeparator();
    // One settings window at a time; asking again brings it to the front.
    QAction* settings = edit->addAction(u"Einstellungen \u2026"_s, this, [this] {
        for (auto* open : findChildren<SettingsView*>(QString(), Qt::FindDirectChildrenOnly)) {
            if (open->isVisible()) {
                open->raise();
                open->activateWindow();
                return;
            }
        }
        auto* window = new SettingsView(this);
        window->setAttribute(Qt::WA_DeleteOnClose);
        connect(window, &SettingsView::preferencesChanged, this, &MainWindow::refreshStyle);
        window->show();
    });
    settings->setObjectName(u"settings"_s);
    settings->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Comma));

    QMenu* view = menuBar()->addMenu(u"Dar&stellung"_s);
    QAction* toolbarToggle = m_toolbar->toggleViewAction();
    toolbarToggle->setText(u"Symbolleiste anzeigen"_s);
    toolbarToggle->setObjectName(u"showToolbar"_s);
    view->addAction(toolbarToggle);
    view->addSeparator();
    // The writing modes: each a switch of its own, all but full screen
    // remembered for the next start.
    const auto mode = [this, view](const QString& name, const QString& title,
                                   const QKeySequence& key, auto apply) {
        QAction* toggle = view->addAction(title);
        toggle->setObjectName(name);
        toggle->setCheckable(true);
        toggle->setShortcut(key);
        connect(toggle, &QAction::triggered, this, apply);
        return toggle;
    };
    const auto remembered = [&mode](const QString& name, const QString& title,
                                    const QKeySequence& key, prefs::Flag preference, auto apply) {
        QAction* toggle = mode(name, title, key, [preference, apply](bool on) {
            preference.write(on);
            apply(on);
        });
        const bool on = preference.read();
        toggle->setChecked(on);
        apply(on);
    };
    remembered(u"focusMode"_s, u"Fokusmodus"_s, QKeySequence(Qt::Key_F8),
               WritingModePreferences::focusMode,
               [pane = m_pane](bool on) { pane->setFocusModeEnabled(on); });
    remembered(u"typewriterMode"_s, u"Schreibmaschinenmodus"_s,
               QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_T),
               WritingModePreferences::typewriterMode,
               [pane = m_pane](bool on) { pane->setTypewriterModeEnabled(on); });
    m_fullScreen = mode(u"fullScreen"_s, u"Vollbild"_s, QKeySequence(Qt::Key_F11), [this](bool on) {
        setWindowState(on ? windowState() | Qt::WindowFullScreen
                          : windowState() & ~Qt::WindowFullScreen);
    });
    remembered(u"editorOnly"_s, u"Nur Editor"_s, QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_E),
               WritingModePreferences::editorOnly, [this](bool on) { showEditorOnly(on); });
    view->addSeparator();
    QAction* larger = view->addAction(u"Schrift vergrößern"_s, this, &MainWindow::enlargeFont);
    // "+" needs Shift on many layouts; Ctrl+= is the same key there.
    larger->setObjectName(u"enlargeFont"_s);
    larger->setShortcuts(
        {QKeySequence(Qt::CTRL | Qt::Key_Plus), QKeySequence(Qt::CTRL | Qt::Key_Equal)});
    QAction* smaller = view->addAction(u"Schrift verkleinern"_s, this, &MainWindow::reduceFont);
    smaller->setObjectName(u"reduceFont"_s);
    smaller->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Minus));
    QAction* reset =
        view->addAction(u"Schriftgröße zurücksetzen"_s, this, &MainWindow::resetFontSize);
    reset->setObjectName(u"resetFontSize"_s);
    reset->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_0));
    view->addSeparator();
    view->addActions(m_pane->panelCommands());

    QMenu* help = menuBar()->addMenu(u"&Hilfe"_s);
    help->addAction(u"Über Orvik"_s, this, &MainWindow::requestAbout)->setObjectName(u"about"_s);
    help->addAction(u"Nach Updates suchen \u2026"_s, this, &MainWindow::requestAbout)
        ->setObjectName(u"checkForUpdates"_s);

    // The shortcuts work wherever the focus is in the window, also in the editor.
    for (QAction* action : findChildren<QAction*>())
        if (!action->shortcut().isEmpty())
            action->setShortcutContext(Qt::WindowShortcut);

    for (QAction* menu : menuBar()->actions())
        giveMnemonics(menu->menu());
}

void MainWindow::buildToolbar() {
    auto* bar = new ChromeToolBar(u"Symbolleiste"_s, this);
    m_toolbar = bar;
    bar->setObjectName(u"toolbar"_s);
    bar->setMovable(false);
    bar->setFloatable(false);
    bar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    bar->setIconSize(QSize(18, 18));
    addToolBar(Qt::TopToolBarArea, bar);
    // Qt's button for what does not fit, shown in a narrow window.
    if (auto* more = bar->findChild<QToolButton*>(u"qt_toolbar_ext_button"_s)) {
        more->setAccessibleName(u"Weitere Befehle"_s);
        more->setToolTip(u"Weitere Befehle"_s);
    }
    auto* spacer = new QWidget(bar);
    spacer->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    bar->addWidget(spacer);

    const auto item = [&](const QString& text, const QString& symbol, const QString& tip) {
        auto* button = new QToolButton(bar);
        button->setText(text);
        button->setAccessibleName(text);
        button->setIcon(symbolIcon(symbol));
        button->setToolTip(tip);
        button->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
        button->setAutoRaise(true);
        button->setFocusPolicy(Qt::TabFocus);
        bar->addWidget(button);
        return button;
    };
    const auto withMenu = [&](QToolButton* button) {
        auto* menu = new QMenu(button);
        button->setMenu(menu);
        button->setPopupMode(QToolButton::InstantPopup);
        return menu;
    };

    QToolButton* exportButton = item(u"Exportieren"_s, u"square.and.arrow.up"_s,
                                     u"Als PDF, Word, HTML oder Markdown sichern"_s);
    m_toolbarExport = new ExportMenuContent(m_store, withMenu(exportButton), this);

    m_modeButton = item(u"Farbmodus"_s, modeSymbol(AppearanceMode::System), QString());
    QMenu* modes = withMenu(m_modeButton);
    modes->addSection(u"Farbmodus"_s);
    m_modeGroup = new QActionGroup(this);
    for (const AppearanceMode mode : allAppearanceModes) {
        QAction* entry = modes->addAction(symbolIcon(modeSymbol(mode)), title(mode));
        entry->setCheckable(true);
        entry->setData(rawValue(mode));
        m_modeGroup->addAction(entry);
        connect(entry, &QAction::triggered, this, [this, mode] { setAppearance(mode); });
    }

    QToolButton* fontButton = item(u"Schrift"_s, u"textformat"_s, u"Schrift und Größe"_s);
    m_fontMenu = withMenu(fontButton);
    connect(m_fontMenu, &QMenu::aboutToShow, this, &MainWindow::refreshFontMenu);
    refreshFontMenu();

    QToolButton* templates =
        item(u"Vorlagen"_s, u"doc.badge.plus"_s, u"Neues Blatt aus einer Vorlage"_s);
    QMenu* templateMenu = withMenu(templates);
    for (const Template& t : Template::all())
        templateMenu->addAction(symbolIcon(t.symbol), t.title, this,
                                [this, t] { startWriting(m_store.createSheet(t)); });

    const QString diaryKeys =
        QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_D).toString(QKeySequence::NativeText);
    connect(item(u"Tagebucheintrag"_s, u"book.closed"_s,
                 u"Heutiger Tagebucheintrag mit Wetter und Schlagzeilen ("_s + diaryKeys + u')'),
            &QToolButton::clicked, this,
            [this] { startWriting(m_store.newDiaryEntry(Template::diaryDefault())); });
    const QString newKeys = QKeySequence(Qt::CTRL | Qt::Key_N).toString(QKeySequence::NativeText);
    connect(item(u"Neues Blatt"_s, u"square.and.pencil"_s, u"Neues Blatt ("_s + newKeys + u')'),
            &QToolButton::clicked, this, [this] { startWriting(m_store.quickNewSheet()); });
}

void MainWindow::openFiles(const QStringList& paths) {
    QStringList outside;
    bool openedInside = false;
    for (const QString& path : paths) {
        const QFileInfo info(path);
        const QString folder = info.canonicalPath();
        std::optional<Folder> holder;
        for (const Folder& f : m_store.folders())
            if (!folder.isEmpty() && QFileInfo(f.path()).canonicalFilePath() == folder)
                holder = f;
        if (!holder || !library::isSheetFileName(info.fileName()) || !info.isFile()) {
            outside.append(info.absoluteFilePath());
            continue;
        }
        m_store.setSelectedFolderID(holder->url);
        m_store.setSelectedSheetID(QUrl::fromLocalFile(holder->path() + u'/' + info.fileName()));
        m_pane->startWriting();
        openedInside = true;
    }
    if (!outside.isEmpty()) {
        QStringList names;
        for (const QString& path : std::as_const(outside))
            names.append(u"„"_s + files::displayName(QFileInfo(path).fileName()) + u"“"_s);
        const QString text = names.join(u", "_s) +
                             (names.size() == 1 ? u" liegt"_s : u" liegen"_s) +
                             u" außerhalb der Bibliothek."_s;
        m_notice->showNotice(text, u"In „Schnelle Notiz“ übernehmen"_s, [this, outside] {
            if (const auto quick = m_store.folder(Folder::Kind::Quick))
                importFiles(outside, *quick);
        });
        // Enter brings it in, Escape lets it be; no keys go astray meanwhile.
        if (!openedInside)
            m_notice->actionButton()->setFocus(Qt::OtherFocusReason);
    }
    if (isMinimized())
        showNormal();
    raise();
    activateWindow();
}

void MainWindow::importFiles(const QStringList& paths) {
    if (const auto group = m_store.selectedFolder())
        importFiles(paths, *group);
}

void MainWindow::importFiles(const QStringList& paths, const Folder& into) {
    if (paths.isEmpty())
        return;
    QStringList refusals;
    bool brought = false;
    for (const library::Imported& imported : m_store.importFiles(paths, into)) {
        if (!imported.ok())
            refusals.append(imported.refusal);
        brought = brought || imported.ok();
    }
    // The writer goes on in what came in, as after a new sheet.
    if (brought)
        m_pane->startWriting();
    // After the selection moved to what came in, which dismisses notices.
    if (!refusals.isEmpty())
        m_notice->showNotice(refusals.join(u' '));
}

void MainWindow::compareConflict(const QUrl& copy) {
    if (auto* open = findChild<ConflictView*>(QString(), Qt::FindDirectChildrenOnly)) {
        open->raise();
        open->activateWindow();
        return;
    }
    auto* window = new ConflictView(m_store, copy, m_style.palette, this);
    window->setAttribute(Qt::WA_DeleteOnClose);
    // The sheet may not change under the comparison while it is open.
    window->setWindowModality(Qt::WindowModal);
    // Decided: the writer goes on in the sheet that holds the text now; where
    // they were when it was shown and its text stayed, the caret stays too.
    connect(window, &ConflictView::resolved, this,
            [this, shown = m_store.selectedSheetID()](const QUrl& sheet, ConflictChoice choice) {
                QWidget* editor = m_pane->editor();
                if (shown == sheet && choice == ConflictChoice::KeepOriginal && editor)
                    editor->setFocus(Qt::OtherFocusReason);
                else
                    m_pane->startWriting();
            });
    window->show();
}

void MainWindow::startWriting(const std::optional<Sheet>& created) {
    if (created)
        m_pane->startWriting();
}

void MainWindow::refreshFontMenu() {
    // Rebuilt on opening: installed fonts may have changed, and the reset
    // entry names the current size.
    m_fontMenu->clear();
    delete m_fontGroup;
    m_fontGroup = new QActionGroup(this);
    m_fontMenu->addSection(u"Schrift"_s);
    for (const EditorFont& font : EditorFont::available()) {
        QAction* entry = m_fontMenu->addAction(font.title);
        entry->setCheckable(true);
        entry->setChecked(font.family == m_style.family);
        m_fontGroup->addAction(entry);
        const QString family = font.family;
        connect(entry, &QAction::triggered, this, [this, family] { setFontFamily(family); });
    }
    m_fontMenu->addSeparator();
    m_fontMenu->addAction(u"Schrift vergrößern"_s, this, &MainWindow::enlargeFont);
    m_fontMenu->addAction(u"Schrift verkleinern"_s, this, &MainWindow::reduceFont);
    m_resetSizeEntry = m_fontMenu->addAction(
        u"Größe zurücksetzen ("_s +
            QString::number(qint64(std::trunc(AppearancePreferences::storedFontSize()))) +
            u" pt)"_s,
        this, &MainWindow::resetFontSize);
}

QToolButton* MainWindow::toolbarButton(const QString& text) const {
    for (QToolButton* button : m_toolbar->findChildren<QToolButton*>())
        if (button->text() == text)
            return button;
    return nullptr;
}

QAction* MainWindow::command(const QString& name) const {
    for (QAction* menu : menuBar()->actions()) {
        QList<QMenu*> pending{menu->menu()};
        while (!pending.isEmpty()) {
            QMenu* current = pending.takeFirst();
            if (!current)
                continue;
            for (QAction* action : current->actions()) {
                if (action->objectName() == name || withoutMnemonic(action->text()) == name)
                    return action;
                if (action->menu())
                    pending.append(action->menu());
            }
        }
    }
    return nullptr;
}

void MainWindow::setAppearance(AppearanceMode mode) {
    AppearancePreferences::storeAppearance(rawValue(mode));
    refreshStyle();
}

void MainWindow::setFontFamily(const QString& family) {
    AppearancePreferences::storeFontFamily(family);
    refreshStyle();
}

void MainWindow::setFontSize(double size) {
    AppearancePreferences::storeFontSize(size);
    refreshStyle();
    refreshFontMenu();
}

void MainWindow::enlargeFont() {
    setFontSize(AppearancePreferences::enlargedFontSize());
}

void MainWindow::reduceFont() {
    setFontSize(AppearancePreferences::reducedFontSize());
}

void MainWindow::requestAbout() {
    if (m_showingAbout)
        return;
    m_showingAbout = true;
    Q_EMIT aboutRequested();
}

void MainWindow::resetFontSize() {
    setFontSize(AppearancePreferences::defaultFontSize);
}

void MainWindow::refreshStyle() {
    const MarkdownHighlighter::Style style = orvik::editorStyle();
    if (m_styled && style == m_style)
        return;
    applyStyle(style);
}

void MainWindow::applyStyle(const MarkdownHighlighter::Style& style) {
    m_styled = true;
    m_style = style;
    const Palette& palette = style.palette;
    const bool chrome = palette.overridesChrome;

    const auto scheme = forcedColorScheme(style.mode);
    QPalette qt = scheme ? colorSchemePalette(*scheme) : desktopPalette();
    // The tint of the controls follows the palette when it brings its own chrome.
    if (chrome)
        qt.setColor(QPalette::Highlight, palette.color(Palette::Role::Link, qt));
    // Application-wide, so that menus and dialogs of the window follow the mode too.
    QApplication::setPalette(qt);
    // Breeze draws dark symbols; on a dark ground its dark variant stays visible.
    if (QIcon::themeName().startsWith(u"breeze"))
        QIcon::setThemeName(isDark(qt) ? u"breeze-dark"_s : u"breeze"_s);

    const std::optional<QColor> background =
        chrome ? std::optional(palette.color(Palette::Role::Toolbar, qt)) : std::nullopt;
    WindowStyler::apply(this, background);
    QColor hairline = palette.color(Palette::Role::Syntax, qt);
    hairline.setAlphaF(hairline.alphaF() * 0.45);
    static_cast<ChromeToolBar*>(m_toolbar)->setChrome(background, hairline);

    m_sidebar->setEditorStyle(style);
    m_sheetList->setEditorStyle(style);
    m_pane->setEditorStyle(style);
    m_notice->setEditorPalette(style.palette);

    m_modeButton->setIcon(symbolIcon(modeSymbol(style.mode)));
    m_modeButton->setToolTip(u"Farbmodus: "_s + title(style.mode));
    for (QAction* entry : m_modeGroup->actions())
        entry->setChecked(entry->data().toString() == rawValue(style.mode));
    refreshFontMenu();
}

void MainWindow::closeEvent(QCloseEvent* event) {
    m_store.flushPendingSave();
    if (!mayLeaveUnsavedText()) {
        event->ignore();
        return;
    }
    QMainWindow::closeEvent(event);
}

bool MainWindow::mayLeaveUnsavedText() {
    const QString home = QDir::homePath();
    QString folder = QDir::cleanPath(m_store.rescueFolder());
    if (folder.startsWith(home + u'/'))
        folder = u'~' + folder.mid(home.size());
    QString failure;
    for (;;) {
        const QList<LibraryStore::UnsavedText> unsaved = m_store.unsavedTexts();
        if (unsaved.isEmpty())
            return true;
        QStringList causes;
        QString title;
        for (const LibraryStore::UnsavedText& kept : unsaved) {
            const QFileInfo file(kept.sheet.toLocalFile());
            title = Sheet::deriveTitle(kept.text, file.completeBaseName());
            const QString cause =
                QFileInfo(file.absolutePath()).isDir()
                    ? u"Die Datei „"_s + file.fileName() + u"“ lässt sich nicht schreiben."_s
                    : u"Den Ordner „"_s + file.dir().dirName() + u"“ gibt es nicht mehr."_s;
            causes.append(unsaved.size() == 1 ? cause : u"„"_s + title + u"“: "_s + cause);
        }
        const bool one = unsaved.size() == 1;
        const QString question =
            one ? u"„"_s + title + u"“ konnte nicht gesichert werden."_s
                : QString::number(unsaved.size()) + u" Blätter konnten nicht gesichert werden."_s;
        const QString reason =
            failure + causes.join(u'\n') +
            (one ? u"\n\nBeim Beenden ginge der Text verloren. „Text retten und beenden“ legt ihn"_s
                 : u"\n\nBeim Beenden gingen die Texte verloren. „Text retten und beenden“ legt sie"_s) +
            u" im Ordner „"_s + folder + u"“ ab."_s;
        switch (services().askBeforeQuitting(this, question, reason)) {
        case QuitChoice::Stay:
            return false;
        case QuitChoice::QuitAnyway:
            m_store.abandonUnsaved();
            return true;
        case QuitChoice::Rescue:
            if (m_store.rescueUnsaved())
                return true;
            failure = u"Auch im Ordner „"_s + folder + u"“ ließ sich der Text nicht ablegen.\n\n"_s;
            break;
        }
    }
}

void MainWindow::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (!event->spontaneous())
        startUpdateCheck();
    if (windowHandle() && !std::exchange(m_awaitingFirstPaint, true))
        windowHandle()->installEventFilter(this);
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    // The window paints while it handles its first exposure; what is queued
    // from here runs after that.
    if (watched == windowHandle() && event->type() == QEvent::Expose &&
        windowHandle()->isExposed()) {
        windowHandle()->removeEventFilter(this);
        QTimer::singleShot(0, this, &MainWindow::firstPainted);
    }
    return QMainWindow::eventFilter(watched, event);
}

void MainWindow::changeEvent(QEvent* event) {
    // The settings window writes the preferences directly; coming back to
    // this window picks its choices up.
    if (event->type() == QEvent::ActivationChange && isActiveWindow())
        refreshStyle();
    // The window manager may leave full screen by itself.
    if (event->type() == QEvent::WindowStateChange && m_fullScreen)
        m_fullScreen->setChecked(isFullScreen());
    QMainWindow::changeEvent(event);
}

void MainWindow::showEditorOnly(bool on) {
    // The keyboard stays in the window: from a column about to hide it
    // goes to the text.
    const QWidget* focus = QApplication::focusWidget();
    const bool inColumns =
        focus && (m_sidebar->isAncestorOf(focus) || m_sheetList->isAncestorOf(focus));
    m_sidebar->setVisible(!on);
    m_sheetList->setVisible(!on);
    if (on && inColumns) {
        QWidget* editor = m_pane->editor();
        (editor ? editor : m_pane->nextInFocusChain())->setFocus(Qt::OtherFocusReason);
    }
}

void MainWindow::keyPressEvent(QKeyEvent* event) {
    // Only a key no widget took comes here: the find bar and a search field
    // holding text keep their Escape.
    if (event->key() == Qt::Key_Escape && isFullScreen()) {
        setWindowState(windowState() & ~Qt::WindowFullScreen);
        return;
    }
    QMainWindow::keyPressEvent(event);
}

void MainWindow::startUpdateCheck() {
    // The application, not the window, owns the wait: a window that goes away
    // meanwhile does not cancel the check.
    QPointer<MainWindow> window(this);
    QTimer::singleShot(updateCheckDelayMs, QCoreApplication::instance(), [window] {
        UpdateChecker::checkInBackground().then(
            QCoreApplication::instance(), [window](const std::optional<AvailableUpdate>& update) {
                if (!update || !window)
                    return;
                window->m_pendingUpdate = update;
                Q_EMIT window->updateAvailable(*update);
            });
    });
}

} // namespace orvik::ui
