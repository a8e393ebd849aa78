#include "editorpane.h"

#include "findbar.h"
#include "formatting.h"
#include "library/template.h"
#include "markdowneditor.h"
#include "outlinepanel.h"
#include "previewpanel.h"
#include "spelling/spellchecker.h"
#include "statusbar.h"
#include "store/librarystore.h"
#include "welcomeplaceholder.h"

#include <QAction>
#include <QApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPointer>
#include <QTextCursor>
#include <QTimer>
#include <QVBoxLayout>

namespace orvik::ui {

namespace {

// Where the writer continues: the end of the text, or above a diary's
// weather and headlines.
qsizetype writingPosition(const QString& text) {
    const qsizetype context = text.lastIndexOf(dailytext::loadingBlock());
    if (context < 0)
        return text.size();
    // One blank line below the written part: the empty line the template
    // leaves there for the day's words, if it left one.
    qsizetype end = context;
    while (end > 0 && text.at(end - 1) == u'\n')
        --end;
    return context - end >= 3 ? end + 2 : end;
}

} // namespace

struct EditorPane::Private {
    EditorPane* q;
    LibraryStore& store;
    MarkdownHighlighter::Style style;
    QVBoxLayout* column = nullptr;
    QPointer<MarkdownEditor> editor;
    // The text view while the placeholder is shown.
    QPointer<MarkdownEditor> parked;
    QPointer<StatusBar> statusBar;
    QPointer<FindBar> findBar;
    QPointer<QLabel> loadNotice;
    QPointer<WelcomePlaceholder> placeholder;
    QPointer<OutlinePanel> outline;
    QPointer<PreviewPanel> preview;
    QHBoxLayout* row = nullptr;
    QList<QAction*> findCommands;
    QList<QAction*> formatCommands;
    QList<QAction*> panelCommands;
    // The store's text as last shown or sent: a change notice that brings
    // it back is the echo of our own edit.
    QString syncedText;
    // The store still lists the group or reads the shown sheet: the editor
    // shows nothing of it and takes no edit.
    bool awaitingText = false;
    bool statusQueued = false;
    bool spelling = true;
    bool typography = true;
    bool focusMode = false;
    bool typewriterMode = false;

    Private(EditorPane* pane, LibraryStore& s) : q(pane), store(s) {}

    void sync();
    void showEditor();
    void showPlaceholder();
    void showLoading(qsizetype loaded, qsizetype total);
    void queueStatus();
    void updateStatus();
};

EditorPane::EditorPane(LibraryStore& store, QWidget* parent)
    : QWidget(parent), d(std::make_unique<Private>(this, store)) {
    d->column = new QVBoxLayout(this);
    d->column->setContentsMargins(0, 0, 0, 0);
    d->column->setSpacing(0);
    setMinimumWidth(460);
    setAccessibleName(QStringLiteral("Editor"));

    // The store announces a new selection before it has read the sheet's
    // text; the text's own notice follows in the same call, or there is none
    // because both sheets hold the same text.
    connect(
        &store, &LibraryStore::selectedSheetIDChanged, this, [this] { d->sync(); },
        Qt::QueuedConnection);
    // A renamed group moves the open sheet: the writer goes on where they were.
    connect(&store, &LibraryStore::sheetMoved, this, [this](const QUrl& from, const QUrl& to) {
        if (d->editor && d->editor->documentID() == from.toLocalFile())
            d->editor->renameDocument(to.toLocalFile());
    });
    connect(&store, &LibraryStore::currentTextChanged, this, [this] {
        d->sync();
        d->queueStatus();
    });
    connect(&store, &LibraryStore::sheetsChanged, this, [this] {
        d->sync();
        d->queueStatus();
    });
    // A hit from another group is selected only while it is among the hits:
    // a text view left standing after the search ended would take keystrokes
    // that reach no sheet.
    connect(&store, &LibraryStore::searchHitsChanged, this, [this] { d->sync(); });
    connect(&store, &LibraryStore::isReadingSheetChanged, this, [this] { d->sync(); });
    connect(&store, &LibraryStore::isListingChanged, this, [this] { d->sync(); });
    connect(&store, &LibraryStore::lastWriteFailedChanged, this, [this] { d->queueStatus(); });
    connect(&store, &LibraryStore::saved, this, [this] { d->queueStatus(); });

    // Anywhere in the window: the sheet is what there is to find in. Actions,
    // not bare shortcuts, so that a menu can offer the very same commands.
    const auto step = [this](bool forward) {
        if (!d->findBar)
            return;
        if (d->findBar->isHidden() || d->findBar->field()->text().isEmpty()) {
            showFindBar();
            return;
        }
        forward ? d->findBar->findNext() : d->findBar->findPrevious();
    };
    QList<QAction*>* list = &d->findCommands;
    const auto command = [this, &list](const QString& name, const QString& text,
                                       const QKeySequence& key, auto slot) {
        auto* action = new QAction(text, this);
        action->setObjectName(name);
        action->setShortcut(key);
        action->setShortcutContext(Qt::WindowShortcut);
        connect(action, &QAction::triggered, this, slot);
        addAction(action);
        list->append(action);
    };
    command(QStringLiteral("find"), QStringLiteral("Suchen \u2026"), QKeySequence::Find,
            [this] { showFindBar(); });
    command(QStringLiteral("findNext"), QStringLiteral("Weitersuchen"), QKeySequence(Qt::Key_F3),
            [step] { step(true); });
    command(QStringLiteral("findPrevious"), QStringLiteral("Rückwärts suchen"),
            QKeySequence(Qt::SHIFT | Qt::Key_F3), [step] { step(false); });
    command(QStringLiteral("replace"), QStringLiteral("Ersetzen \u2026"),
            QKeySequence(Qt::CTRL | Qt::Key_H), [this] {
                if (d->findBar)
                    d->findBar->openForReplacing();
            });

    // The formatting keys act on the text only while it has the keyboard: in
    // the sheet list Strg+B is not meant for the sheet.
    list = &d->formatCommands;
    const auto format = [this](auto apply) {
        return [this, apply] {
            MarkdownEditor* editor = d->editor;
            if (!editor || editor->isReadOnly() || QApplication::focusWidget() != editor)
                return;
            QTextCursor cursor = editor->textCursor();
            apply(cursor);
            editor->setTextCursor(cursor);
        };
    };
    command(
        QStringLiteral("bold"), QStringLiteral("Fett"), QKeySequence(Qt::CTRL | Qt::Key_B),
        format([](QTextCursor& c) { formatting::toggleEmphasis(c, formatting::Emphasis::Bold); }));
    command(QStringLiteral("italic"), QStringLiteral("Kursiv"), QKeySequence(Qt::CTRL | Qt::Key_I),
            format([](QTextCursor& c) {
                formatting::toggleEmphasis(c, formatting::Emphasis::Italic);
            }));
    command(QStringLiteral("insertLink"), QStringLiteral("Link einfügen"),
            QKeySequence(Qt::CTRL | Qt::Key_K),
            format([](QTextCursor& c) { formatting::toggleLink(c); }));

    // Switching a panel leaves the keyboard where it was: the words typed
    // next still go into the sheet.
    const auto panel = [this](const QString& name, const QString& text, const QKeySequence& key,
                              auto widget) {
        auto* action = new QAction(text, this);
        action->setObjectName(name);
        action->setShortcut(key);
        action->setShortcutContext(Qt::WindowShortcut);
        action->setCheckable(true);
        connect(action, &QAction::toggled, this, [this, widget](bool on) {
            if (QWidget* shown = widget(*d))
                shown->setVisible(on);
        });
        addAction(action);
        d->panelCommands.append(action);
    };
    panel(QStringLiteral("showOutline"), QStringLiteral("Gliederung"),
          QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_G),
          [](Private& p) -> QWidget* { return p.outline; });
    panel(QStringLiteral("showPreview"), QStringLiteral("Vorschau"),
          QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_P),
          [](Private& p) -> QWidget* { return p.preview; });
    d->sync();
}

EditorPane::~EditorPane() = default;

void EditorPane::setEditorStyle(const MarkdownHighlighter::Style& style) {
    d->style = style;
    if (d->editor)
        d->editor->setEditorStyle(style);
    if (d->statusBar)
        d->statusBar->setEditorPalette(style.palette);
    if (d->placeholder)
        d->placeholder->setEditorPalette(style.palette);
    if (d->outline)
        d->outline->restyle();
    if (d->preview)
        d->preview->restyle();
    update();
}

MarkdownHighlighter::Style EditorPane::editorStyle() const {
    return d->style;
}
QLabel* EditorPane::loadNotice() const {
    return d->loadNotice;
}

MarkdownEditor* EditorPane::editor() const {
    return d->editor;
}
StatusBar* EditorPane::statusBar() const {
    return d->statusBar;
}
WelcomePlaceholder* EditorPane::placeholder() const {
    return d->placeholder;
}
FindBar* EditorPane::findBar() const {
    return d->findBar;
}
QList<QAction*> EditorPane::findCommands() const {
    return d->findCommands;
}

QList<QAction*> EditorPane::formatCommands() const {
    return d->formatCommands;
}

QList<QAction*> EditorPane::panelCommands() const {
    return d->panelCommands;
}

OutlinePanel* EditorPane::outline() const {
    return d->outline;
}

PreviewPanel* EditorPane::preview() const {
    return d->preview;
}

bool EditorPane::eventFilter(QObject* watched, QEvent* event) {
    // The text view claims Strg+K for itself (delete to the line's end on
    // this desktop); the formatting keys win.
    if (watched == d->editor && event->type() == QEvent::ShortcutOverride) {
        const auto* key = static_cast<QKeyEvent*>(event);
        for (const QAction* action : std::as_const(d->formatCommands))
            if (action->shortcut() == QKeySequence(key->keyCombination())) {
                event->ignore();
                return true;
            }
    }
    return QWidget::eventFilter(watched, event);
}

void EditorPane::setSpellCheckingEnabled(bool on) {
    d->spelling = on;
    if (d->editor)
        d->editor->setSpellChecker(on ? spelling::SpellChecker::shared() : nullptr);
}

bool EditorPane::spellCheckingEnabled() const {
    return d->spelling;
}

void EditorPane::setTypographyEnabled(bool on) {
    d->typography = on;
    if (d->editor)
        d->editor->setTypographicSubstitution(on);
}

bool EditorPane::typographyEnabled() const {
    return d->typography;
}

void EditorPane::setFocusModeEnabled(bool on) {
    d->focusMode = on;
    if (d->editor)
        d->editor->setFocusMode(on);
}

void EditorPane::setTypewriterModeEnabled(bool on) {
    d->typewriterMode = on;
    if (d->editor)
        d->editor->setTypewriterMode(on);
}

void EditorPane::showFindBar() {
    if (d->findBar)
        d->findBar->open();
}

void EditorPane::startWriting() {
    d->sync();
    if (!d->editor)
        return;
    QTextCursor caret = d->editor->textCursor();
    caret.setPosition(int(writingPosition(d->editor->toPlainText())));
    d->editor->setTextCursor(caret);
    d->editor->setFocus(Qt::OtherFocusReason);
}

void EditorPane::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), d->style.palette.color(Palette::Role::Paper, palette()));
}

void EditorPane::Private::sync() {
    const std::optional<Sheet> sheet = store.selectedSheet();
    // A group being listed selects its first sheet once it is there: the
    // editor waits for it, empty, rather than the placeholder coming and going.
    const bool listing = !sheet && store.isListing();
    if (!sheet && !listing) {
        showPlaceholder();
        return;
    }
    showEditor();
    const QString documentID = sheet ? sheet->path() : QString();
    const QString text = sheet ? store.currentText() : QString();
    const bool reading = listing || store.isReadingSheet();
    if (documentID != editor->documentID() || reading != awaitingText) {
        syncedText = text;
        if (std::exchange(awaitingText, reading) && !reading)
            editor->setReadOnly(false);
        editor->openDocument(documentID, text);
        if (reading)
            editor->setReadOnly(true);
        if (reading && !listing)
            showLoading(0, 1);
        else if (!editor->isLoading())
            loadNotice->hide();
        updateStatus();
    } else if (text != syncedText) {
        syncedText = text;
        editor->replaceText(text);
    }
}

void EditorPane::Private::showEditor() {
    if (editor)
        return;
    if (placeholder) {
        // The placeholder's own button may be what selected the sheet.
        placeholder->hide();
        placeholder->deleteLater();
        placeholder = nullptr;
    }
    editor = parked ? parked.data() : new MarkdownEditor(q);
    parked = nullptr;
    editor->installEventFilter(q);
    editor->setEditorStyle(style);
    editor->setSpellChecker(spelling ? spelling::SpellChecker::shared() : nullptr);
    editor->setTypographicSubstitution(typography);
    editor->setFocusMode(focusMode);
    editor->setTypewriterMode(typewriterMode);
    findBar = new FindBar(editor, q);
    statusBar = new StatusBar(q);
    statusBar->setEditorPalette(style.palette);
    loadNotice = new QLabel(q);
    loadNotice->setWordWrap(true);
    loadNotice->setContentsMargins(20, 8, 20, 8);
    loadNotice->hide();
    outline = new OutlinePanel(editor, q);
    preview = new PreviewPanel(editor, q);
    outline->setVisible(panelCommands[0]->isChecked());
    preview->setVisible(panelCommands[1]->isChecked());
    // Reached with Tab from the sheet list, before the text, which keeps Tab.
    QWidget::setTabOrder(outline, editor);
    row = new QHBoxLayout;
    row->setSpacing(0);
    row->addWidget(outline, 0);
    row->addWidget(editor, 1);
    row->addWidget(preview, 1);
    column->addWidget(loadNotice, 0);
    column->addLayout(row, 1);
    column->addWidget(findBar, 0);
    column->addWidget(statusBar, 0);
    // Shown now rather than with the next turn of the event loop, so that the
    // keyboard focus can go to the text at once.
    editor->show();
    statusBar->show();
    QObject::connect(editor, &MarkdownEditor::textEdited, q, [this](const QString& text) {
        syncedText = text;
        store.setCurrentText(text);
    });
    QObject::connect(editor, &MarkdownEditor::loadingProgress, q,
                     [this](qsizetype loaded, qsizetype total) { showLoading(loaded, total); });
}

void EditorPane::Private::showLoading(qsizetype loaded, qsizetype total) {
    if (loaded >= total || total <= 0) {
        loadNotice->hide();
        return;
    }
    const QString text = QStringLiteral("Dieses Blatt ist sehr groß und wird geladen … %1 %. "
                                        "Bis dahin lässt es sich nicht bearbeiten.")
                             .arg(loaded * 100 / total);
    loadNotice->setText(text);
    loadNotice->setAccessibleName(text);
    loadNotice->show();
}

void EditorPane::Private::showPlaceholder() {
    if (editor) {
        // The text view stays, hidden, with the undo history of each sheet
        // shown so far; its edits are in the store already.
        for (QObject* receiver : {static_cast<QObject*>(q), static_cast<QObject*>(findBar),
                                  static_cast<QObject*>(outline), static_cast<QObject*>(preview)})
            QObject::disconnect(editor, nullptr, receiver, nullptr);
        editor->hide();
        editor->openDocument(QString(), QString());
        editor->setReadOnly(false);
        parked = editor;
        editor = nullptr;
        statusBar->hide();
        statusBar->deleteLater();
        statusBar = nullptr;
        findBar->hide();
        findBar->deleteLater();
        findBar = nullptr;
        loadNotice->hide();
        loadNotice->deleteLater();
        loadNotice = nullptr;
        for (QWidget* panel : {static_cast<QWidget*>(outline), static_cast<QWidget*>(preview)}) {
            panel->hide();
            panel->deleteLater();
        }
        outline = nullptr;
        preview = nullptr;
        delete row;
        row = nullptr;
        syncedText.clear();
        awaitingText = false;
    }
    if (placeholder)
        return;
    placeholder = new WelcomePlaceholder(store, q);
    placeholder->setEditorPalette(style.palette);
    QObject::connect(placeholder, &WelcomePlaceholder::sheetStarted, q, &EditorPane::startWriting);
    column->addWidget(placeholder, 1);
    placeholder->show();
}

// Counting the words of a long sheet on every keystroke would slow typing;
// once per turn of the event loop still follows each keystroke.
void EditorPane::Private::queueStatus() {
    if (statusQueued || !statusBar)
        return;
    statusQueued = true;
    QTimer::singleShot(0, q, [this] {
        statusQueued = false;
        updateStatus();
    });
}

void EditorPane::Private::updateStatus() {
    if (!statusBar)
        return;
    const std::optional<Sheet> sheet = store.selectedSheet();
    statusBar->setWordCount(store.currentWordCount());
    statusBar->setModified(sheet ? sheet->modified : QDateTime());
    statusBar->setSaveFailed(store.lastWriteFailed());
    statusBar->setShownPlain(editor && editor->showsPlain());
}

} // namespace orvik::ui
