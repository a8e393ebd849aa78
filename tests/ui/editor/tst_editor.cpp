#include "markdown/highlighter.h"
#include "store/librarystore.h"
#include "storefixture.h"
#include "testenv.h"
#include "ui/editor/editorpane.h"
#include "ui/editor/markdowneditor.h"
#include "ui/editor/paragraphlayout.h"
#include "ui/editor/statusbar.h"
#include "ui/editor/welcomeplaceholder.h"
#include "widgettest.h"

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QPointer>
#include <QScopeGuard>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QToolButton>

#include <random>

using namespace Qt::StringLiterals;

using namespace orvik;
using namespace orvik::ui;
using namespace orvik::MarkdownHighlighter;

namespace {

// The whole-text reference cut at a block: what the editor must show there.
struct Reference {
    const MarkdownEditor& editor;
    const QList<StyledRange> all = ranges(editor.text(), editor.faces());
    const Formats formats{editor.editorStyle(), QApplication::palette()};

    QString differenceAt(const QTextBlock& b) const {
        const qsizetype start = b.position(), end = start + b.length() - 1;
        QList<QTextLayout::FormatRange> want;
        auto r = std::upper_bound(all.begin(), all.end(), start,
                                  [](qsizetype p, const StyledRange& s) { return p < s.end(); });
        const ParagraphRole role =
            r != all.end() && r->start <= start ? r->style.paragraph : ParagraphRole::Body;
        for (; r != all.end() && r->start < end; ++r) {
            const qsizetype from = std::max(r->start, start), to = std::min(r->end(), end);
            if (to > from)
                want.append({int(from - start), int(to - from), formats.charFormat(r->style)});
        }
        if (b.layout()->formats() == want && ParagraphLayout::role(b) == role)
            return QString();
        return u"line %1 \"%2\""_s.arg(b.blockNumber()).arg(b.text());
    }
};

// All lines, those waiting for idle time styled first; or only the lines the
// viewport shows, as they are now: what was just painted.
QString firstDifference(MarkdownEditor& editor, bool inView = false) {
    if (!inView)
        editor.finishStyling();
    const QTextDocument* doc = editor.document();
    if (doc->blockCount() != editor.text().count(u'\n') + 1)
        return u"block count %1"_s.arg(doc->blockCount());
    const Reference reference{editor};
    const auto at = [&](int y) { return editor.cursorForPosition(QPoint(0, y)).block(); };
    const QTextBlock last = inView ? at(editor.viewport()->height() - 1) : doc->lastBlock();
    for (QTextBlock b = inView ? at(0) : doc->begin(); b.isValid(); b = b.next()) {
        if (QString difference = reference.differenceAt(b); !difference.isEmpty())
            return difference;
        if (b == last)
            break;
    }
    return QString();
}

// Prose with emphasis, headings, lists, quotes and fenced blocks.
QString sheet(int lines, quint32 seed) {
    std::mt19937 rng(seed);
    const QStringList kinds = u"## Abschnitt über Größe\n|- Punkt mit [Link](https://orvik.de/x)\n|"
                              u"Ein *ruhiger* Satz mit **fettem** Wort und `code`.\n|\n|---\n|"
                              u"- [ ] Aufgabe für später\n|> Zitat über die Straße\n|"
                              u"```\nlet x = 1;\n# kein Titel\n```\n|"
                              u"Draußen regnet es, während wir schreiben.\n"_s.split(u'|');
    QString text;
    while (text.count(u'\n') < lines)
        text += kinds[rng() % kinds.size()];
    return text;
}

// QTest::keyClicks() handles Latin-1 only and asserts on "\n".
void type(QWidget* widget, const QString& text) {
    for (const QChar c : text) {
        if (c == u'\n')
            QTest::keyClick(widget, Qt::Key_Return);
        else
            QTest::sendKeyEvent(QTest::Click, widget, Qt::Key_unknown, QString(c), Qt::NoModifier);
    }
}

bool exposed(QWidget& widget) {
    widget.resize(600, 400);
    widget.show();
    return QTest::qWaitForWindowExposed(&widget);
}

QString accessibleName(QObject* object) {
    return QAccessible::queryAccessibleInterface(object)->text(QAccessible::Name);
}

} // namespace

// The editor column against a real store on a temporary library.
class TestEditor : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    orvik::test::StoreFixture m_fixture;

    std::unique_ptr<LibraryStore> makeStore() {
        return std::make_unique<LibraryStore>(m_fixture.options(m_dir->path(), 80));
    }

    // A fresh quick note that holds `text`.
    static void openSheet(LibraryStore& store, const QString& text) {
        QVERIFY(store.quickNewSheet());
        store.setCurrentText(text);
    }

private Q_SLOTS:
    void init() { m_dir = std::make_unique<QTemporaryDir>(); }

    // Text the store sets is shown without coming back as an edit, the caret
    // kept within it; another sheet starts at the top with its own undo.
    void textFromTheStoreIsShownWithoutEcho() {
        auto store = makeStore();
        EditorPane pane(*store);
        const QString longText = u"Zeile mit etwas Text\n"_s.repeated(300);
        openSheet(*store, longText);
        const QUrl first = store->selectedSheetID();
        type(pane.editor(), u"x"_s);
        openSheet(*store, u"Erste Zeile\nzweite Zeile mit **fett**"_s);
        const QUrl second = store->selectedSheetID();
        MarkdownEditor* editor = pane.editor();
        editor->moveCursor(QTextCursor::End);
        QSignalSpy edits(editor, &MarkdownEditor::textEdited);
        store->setCurrentText(u"Kurz"_s);
        QCOMPARE(editor->text(), u"Kurz"_s);
        QCOMPARE(editor->textCursor().position(), 4);
        QCOMPARE(edits.count(), 0);
        QCOMPARE(firstDifference(*editor), QString());
        type(editor, u"abc"_s);
        store->setSelectedSheetID(first);
        QCOMPARE(pane.editor(), editor);
        QCOMPARE(editor->textCursor().position(), 0);
        QCOMPARE(editor->verticalScrollBar()->value(), 0);
        QCOMPARE(firstDifference(*editor), QString());
        editor->undo();
        QCOMPARE(store->currentText(), longText);
        // An empty group between them: the greeting shows, the histories stay.
        const QUrl notes = store->selectedFolderID();
        const QPointer<MarkdownEditor> kept = editor;
        store->setSelectedFolderID(store->createFolder(u"Leer"_s)->url);
        QTRY_VERIFY(pane.placeholder());
        store->setSelectedFolderID(notes);
        store->setSelectedSheetID(second);
        QTRY_VERIFY(pane.editor());
        QVERIFY(kept && pane.editor() == kept);
        QCOMPARE(editor->text(), u"Kurzabc"_s);
        editor->undo();
        QCOMPARE(store->currentText(), u"Kurz"_s);

        // Changed elsewhere while not shown: its steps would undo into a text that is gone.
        editor->openDocument(first.toLocalFile(), u"von draußen"_s);
        QVERIFY(!editor->document()->isUndoAvailable());
    }

    // Styling adds no undo steps; no-break spaces, U+2028 and NUL stay the user's text.
    void highlightingStaysOutOfUndo() {
        MarkdownEditor editor;
        const QString original =
            u"# Titel\n\nEin **fetter** a\u00a0b\n\u2028c\n```\ncode\n```\n"_s + QChar(0) + u"x"_s;
        editor.openDocument(u"/a.md"_s, original);
        QCOMPARE(editor.text(), original);
        editor.moveCursor(QTextCursor::End);
        type(&editor, u"> _Zitat_\n```"_s);
        QSignalSpy edits(&editor, &MarkdownEditor::textEdited);
        while (editor.document()->isUndoAvailable())
            editor.undo();
        QCOMPARE(editor.text(), original);
        QCOMPARE(edits.last().first().toString(), original);
        QCOMPARE(firstDifference(editor), QString());
    }

    void incrementalStylingMatchesTheWholeText_data() {
        QTest::addColumn<QString>("start");
        QTest::addColumn<bool>("shown");
        QTest::newRow("short") << u"# Start\n\nText mit `code` und [Link](x).\n"_s << false;
        QTest::newRow("sheet in view, fences flip lines out of view") << sheet(400, 7) << true;
    }

    void incrementalStylingMatchesTheWholeText() {
        QFETCH(QString, start);
        QFETCH(bool, shown);
        MarkdownEditor editor;
        editor.setLimits({.styleAtOnce = 8}); // pasted pieces wait like opened sheets
        editor.resize(600, 400);
        if (shown)
            QVERIFY(exposed(editor));
        editor.openDocument(u"/r.md"_s, start);
        const QStringList pieces = u"```|```\n|\n|# |### H\n|> |- |- [x] |**|*|_|`|[a](b)|Wörter |"
                                   u"---\n|1. |\t|x\ny\nz| |```py\nfoo\n```\n"_s.split(u'|');
        std::mt19937 rng(20240611);
        for (int step = 0; step < 400; ++step) {
            const int length = int(editor.text().size());
            QTextCursor c(editor.document());
            const int at = int(rng() % uint(length + 1));
            c.setPosition(at);
            const uint kind = rng() % 4;
            if (kind < 2 && length > 0)
                c.setPosition(
                    std::min(length, at + int(rng() % (kind == 0 ? 12 : 6)) + 1 - int(kind)),
                    QTextCursor::KeepAnchor);
            c.insertText(kind == 0 && length > 0 ? QString() : pieces[rng() % pieces.size()]);
            if (shown)
                editor.viewport()->repaint(); // what is painted is right even while lines wait
            const QString inView = shown ? firstDifference(editor, true) : QString();
            QVERIFY2(inView.isEmpty(), qPrintable(u"step %1, in view: %2"_s.arg(step).arg(inView)));
            const uint check = shown ? rng() % 10 : 0;
            if (check == 1)
                QTRY_VERIFY(!editor.stylingPending());
            if (check == 2 || check == 3)
                QTest::qWait(1); // idle turns that stop halfway, maybe somewhere else
            if (check == 3)
                editor.verticalScrollBar()->setValue(
                    int(rng() % uint(editor.verticalScrollBar()->maximum() + 1)));
            if (const QString d = check <= 1 ? firstDifference(editor) : QString(); !d.isEmpty())
                QFAIL(qPrintable(u"step %1: %2"_s.arg(step).arg(d)));
            if (step % 50 == 49)
                while (editor.document()->isUndoAvailable() && rng() % 8)
                    editor.undo();
        }
        QCOMPARE(editor.text(), editor.document()->toRawText().replace(u'\u2029', u'\n'));
    }

    // A keystroke does not lay out again the lines of its paragraph above it.
    void typingLeavesTheLinesAboveLaidOut() {
        MarkdownEditor editor;
        QVERIFY(exposed(editor));
        editor.openDocument(u"/t.md"_s, u"Ein *ruhiger* Satz\nund _noch_ einer\nund Schluss\n"_s);
        editor.viewport()->repaint();
        // A layout pass resets a line's text option: the mark shows none came.
        QTextOption marked;
        marked.setTabStopDistance(123);
        const QTextBlock first = editor.document()->firstBlock();
        first.layout()->setTextOption(marked);
        editor.setTextCursor(QTextCursor(first.next()));
        editor.moveCursor(QTextCursor::EndOfBlock);
        type(&editor, u"s"_s);
        editor.viewport()->repaint();
        QCOMPARE(first.layout()->textOption().tabStopDistance(), 123);
    }

    void linesScrolledIntoViewAreStyledBeforeTheyArePainted() {
        MarkdownEditor editor;
        QVERIFY(exposed(editor));
        QString text;
        for (int i = 0; i < 3000; ++i)
            text += i % 10 == 0 ? u"## Abschnitt %1\n"_s.arg(i) : u"Zeile *%1*\n"_s.arg(i);
        editor.openDocument(u"/s.md"_s, text + u"```\n"_s);
        QTRY_VERIFY(!editor.stylingPending());
        // Every line below flips into code; only those around the view are
        // restyled before the keystroke returns.
        type(&editor, u"```\n"_s);
        QVERIFY(editor.stylingPending());
        editor.viewport()->repaint();
        QCOMPARE(firstDifference(editor, true), QString());
        const Reference reference{editor};
        const QTextBlock far = editor.document()->findBlockByNumber(2002);
        QVERIFY(!reference.differenceAt(far).isEmpty());
        // Jumped to before idle time reached it: styled when painted.
        editor.verticalScrollBar()->setValue(1995);
        editor.viewport()->repaint();
        QVERIFY(editor.stylingPending());
        QCOMPARE(reference.differenceAt(far), QString());
        // The caret sent to a waiting line: styled at once, so that the view
        // scrolls by its true height.
        const QTextBlock caretLine = editor.document()->findBlockByNumber(2802);
        QVERIFY(!reference.differenceAt(caretLine).isEmpty());
        editor.setTextCursor(QTextCursor(caretLine));
        QCOMPARE(reference.differenceAt(caretLine), QString());
    }

    // A large sheet is styled whole on a worker while the document takes it
    // in: reopened with another text, after another sheet, or edited at once.
    void largeSheetsAreStyledAsideAsTheWholeTextGives() {
        MarkdownEditor editor;
        QVERIFY(exposed(editor));
        const QString a = sheet(6000, 11), b = u"```\n"_s + sheet(6000, 12);
        QVERIFY(a.size() > 64 * 1024);
        for (const auto& [id, text] :
             {std::pair{u"/a.md"_s, a}, {u"/a.md"_s, b}, {u"/b.md"_s, a}, {u"/a.md"_s, b}}) {
            editor.openDocument(id, text);
            QCOMPARE(firstDifference(editor, true), QString());
            QCOMPARE(firstDifference(editor), QString());
        }
        editor.openDocument(u"/c.md"_s, b);
        type(&editor, u"```\n"_s);
        QCOMPARE(firstDifference(editor), QString());
    }

    void aHugeSheetLoadsInPiecesWithoutLosingText() {
        MarkdownEditor editor;
        MarkdownEditor::Limits limits{.styleAtOnce = 1000, .loadAtOnce = 20000, .loadPiece = 4000};
        limits.longLine = limits.longRun = 20000;
        editor.setLimits(limits);
        QVERIFY(exposed(editor));
        // Lines longer than a piece are cut, never between surrogates.
        QString text = sheet(2500, 3) + QString(4001, u'x') + u"\U0001F600"_s.repeated(3000) +
                       u"\n"_s + sheet(100, 4) + u"Ende ohne Zeilenumbruch"_s;
        QSignalSpy progress(&editor, &MarkdownEditor::loadingProgress);
        QSignalSpy edits(&editor, &MarkdownEditor::textEdited);
        editor.openDocument(u"/gross.md"_s, text);
        QVERIFY(editor.isLoading());
        QVERIFY(editor.isReadOnly());
        QVERIFY(editor.stylingPending()); // not even the first piece beyond the view
        // Keys, pastes and undo change nothing while it loads.
        type(&editor, u"x\n"_s);
        editor.undo();
        QTRY_VERIFY(!editor.isLoading());
        QCOMPARE(editor.text(), text);
        QCOMPARE(edits.count(), 0);
        QVERIFY(progress.count() > 10);
        QCOMPARE(progress.last(), (QVariantList{text.size(), text.size()}));
        QVERIFY(!editor.document()->isUndoAvailable());
        QCOMPARE(firstDifference(editor), QString());
        // Then edits report the whole text.
        editor.moveCursor(QTextCursor::End);
        type(&editor, u"!"_s);
        QCOMPARE(edits.count(), 1);
        QCOMPARE(edits.last().first().toString(), text + u"!"_s);
        // A text set while another loads loads instead; read-only stays as it was.
        editor.setReadOnly(true);
        editor.openDocument(u"/a.md"_s, sheet(3000, 1));
        QVERIFY(editor.isLoading());
        editor.replaceText(text);
        QTRY_VERIFY(!editor.isLoading());
        QCOMPARE(editor.text(), text);
        QVERIFY(editor.isReadOnly());
        editor.openDocument(u"/b.md"_s, u"klein"_s);
        QVERIFY(!editor.isLoading());
        QCOMPARE(editor.text(), u"klein"_s);
    }

    // Text replaced from outside keeps the caret on its words: behind the
    // change it moves with them, before it it stays, in a shrunk middle it
    // stays within it.
    void replacedTextKeepsTheCaretOnItsWords_data() {
        QTest::addColumn<int>("caret");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("moved");
        QTest::newRow("behind") << 30 << u"Neue erste Zeile\nzweite Zeile\ndritte Zeile"_s << 35;
        QTest::newRow("before") << 3 << u"Erste Zeile\nzweite Zeile\nletzte Zeile"_s << 3;
        QTest::newRow("inside") << 33 << u"Erste Zeile\nzweite Zeile\nZ"_s << 26;
    }

    void replacedTextKeepsTheCaretOnItsWords() {
        QFETCH(int, caret);
        QFETCH(QString, text);
        MarkdownEditor editor;
        editor.openDocument(u"/a.md"_s, u"Erste Zeile\nzweite Zeile\ndritte Zeile"_s);
        QTextCursor cursor(editor.document());
        cursor.setPosition(caret);
        editor.setTextCursor(cursor);
        editor.replaceText(text);
        QTEST(editor.textCursor().position(), "moved");
        QCOMPARE(editor.text(), text);
    }

    // Lines too long to lay out fast: the sheet is shown plain and
    // read-only, and says so; its text and file stay exactly as they were.
    void longTextsInThePaneStayWhole() {
        auto store = makeStore();
        EditorPane pane(*store);
        pane.resize(800, 600);
        pane.show();
        const QString note =
            u"Sehr lange Zeilen werden ohne Auszeichnung und nur zum Lesen gezeigt"_s;
        for (const QString& text : {
                 u"# Titel\n"_s + u"abcdefghijklmnopqrstuvwxyzäöüß"_s.repeated(35000) + u"\r\nE"_s,
                 QString(300000, QChar(0)) + u"\U0001F600\n"_s,
                 u"Ein *Wort* und noch eins. "_s.repeated(2000),
                 u"![Bild](data:image/png;base64,"_s + u"iVBORw0KGgo+/"_s.repeated(2000) + u")"_s,
             }) {
            openSheet(*store, text);
            MarkdownEditor* editor = pane.editor();
            QTRY_VERIFY(!editor->isLoading());
            QVERIFY(editor->showsPlain());
            QCOMPARE(editor->text(), text);
            for (QTextBlock b = editor->document()->begin(); b.isValid(); b = b.next()) {
                QVERIFY2(b.length() <= 1025, qPrintable(QString::number(b.length())));
                QVERIFY(b.layout()->formats().isEmpty());
            }
            QTRY_COMPARE(pane.statusBar()->noteShown(), note);
            QVERIFY(pane.statusBar()->accessibleDescription().endsWith(note));
            editor->moveCursor(QTextCursor::End);
            type(editor, u"x\n"_s);
            editor->undo();
            QCOMPARE(editor->text(), text);
            store->flushPendingSave();
            QCOMPARE(QString::fromUtf8(test::readBytes(store->selectedSheet()->path())), text);
            // Shorter text shown in the same view is styled and editable again.
            store->setCurrentText(u"*kurz*"_s);
            QVERIFY(!editor->showsPlain());
            QVERIFY(!editor->isReadOnly());
            QCOMPARE(firstDifference(*editor), QString());
            QTRY_COMPARE(pane.statusBar()->noteShown(), QString());
        }
        // A huge sheet loads in pieces, and the pane says so meanwhile.
        MarkdownEditor* editor = pane.editor();
        editor->setLimits({.styleAtOnce = 1000, .loadAtOnce = 20000, .loadPiece = 4000});
        const QString huge = sheet(3000, 5);
        openSheet(*store, huge);
        QVERIFY(editor->isLoading());
        QVERIFY(pane.loadNotice()->isVisibleTo(&pane));
        QVERIFY(accessibleName(pane.loadNotice()).startsWith(u"Dieses Blatt ist sehr groß"_s));
        QTRY_VERIFY(!editor->isLoading());
        QVERIFY(!pane.loadNotice()->isVisibleTo(&pane));
        store->flushPendingSave();
        QCOMPARE(QString::fromUtf8(test::readBytes(store->selectedSheet()->path())), huge);
        // A paste that makes a line too long goes to the store whole; what is
        // copied is the text, not the view's rows.
        store->setCurrentText(u"Anfang\nEnde"_s);
        QTextCursor caret(editor->document());
        caret.setPosition(3);
        editor->setTextCursor(caret);
        QGuiApplication::clipboard()->setText(u"x"_s.repeated(5000));
        editor->paste();
        const QString whole = u"Anf"_s + u"x"_s.repeated(5000) + u"ang\nEnde"_s;
        QCOMPARE(store->currentText(), whole);
        QVERIFY(editor->showsPlain());
        QCOMPARE(editor->text(), whole);
        editor->selectAll();
        editor->copy();
        QCOMPARE(QGuiApplication::clipboard()->text(), whole);
    }

    // The column stays centred as the window is resized; styles restyle by
    // whole points and by mode; selected text keeps its own colours under the
    // translucent selection; the caret is painted in its colour, not inverted
    // as Qt draws it.
    void columnAndStyleFollowTheWindowAndTheStyle() {
        MarkdownEditor editor;
        editor.setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        editor.resize(1000, 400);
        editor.show();
        QVERIFY(QTest::qWaitForWindowExposed(&editor));
        QCOMPARE(editor.viewport()->width(), 720);
        QCOMPARE(editor.viewport()->x(), 140);
        editor.resize(700, 400);
        QTRY_COMPARE(editor.viewport()->width(), 620);
        QCOMPARE(editor.viewport()->x(), 40);
        editor.openDocument(u"/s.md"_s, u"Text\n"_s);
        const QTextBlock first = editor.document()->firstBlock();
        QCOMPARE(first.layout()->lineAt(0).y(), 40.0); // top inset
        const auto size = [&] { return first.layout()->formats()[0].format.font().pointSizeF(); };
        Style style;
        editor.setEditorStyle(style);
        const qreal before = size();
        style.baseSize += 0.6; // same whole point: left as it is
        editor.setEditorStyle(style);
        QCOMPARE(size(), before);
        style.baseSize += 1;
        editor.setEditorStyle(style);
        QVERIFY(size() > before);
        style.mode = AppearanceMode::SepiaDunkel;
        style.palette = paletteFor(style.mode);
        editor.setEditorStyle(style);
        QCOMPARE(editor.palette().brush(QPalette::HighlightedText).style(), Qt::NoBrush);
        QCOMPARE(editor.palette().color(QPalette::Base), editor.paperColor());
        QCOMPARE(firstDifference(editor), QString());
        editor.activateWindow();
        editor.setFocus();
        QVERIFY(QTest::qWaitForWindowActive(&editor));
        const QRect r = editor.cursorRect();
        const QImage shot = editor.viewport()->grab().toImage();
        QCOMPARE(shot.pixelColor(r.left(), r.center().y()).rgb(), editor.caretColor().rgb());
    }

    // The counts and the time saved shown and read out, the editor's text
    // readable by assistive technology.
    void statusBarCounts() {
        auto store = makeStore();
        EditorPane pane(*store);
        const QString text = u"Wort "_s.repeated(400);
        const QString shownWords = u"400 Wörter"_s;
        openSheet(*store, text);
        QTRY_COMPARE(pane.statusBar()->wordsShown(), shownWords);
        QCOMPARE(pane.statusBar()->readingTimeShown(), u"2 Min. Lesezeit"_s);
        const auto labels = pane.statusBar()->findChildren<QLabel*>();
        QVERIFY(
            std::ranges::any_of(labels, [&](auto* l) { return accessibleName(l) == shownWords; }));
        QCOMPARE(accessibleName(pane.statusBar()), u"Statusleiste"_s);
        QCOMPARE(accessibleName(pane.editor()), u"Text des Blatts"_s);
        QAccessibleTextInterface* read =
            QAccessible::queryAccessibleInterface(pane.editor())->textInterface();
        QVERIFY(read);
        QCOMPARE(read->text(0, read->characterCount()), text);
        const QDateTime saved(QDate(2026, 12, 5), QTime(4, 50));
        const auto on = [&](QDate today) { return StatusBar::savedText(saved, false, today); };
        QCOMPARE(on(QDate(2026, 12, 5)), u"Gesichert 04:50"_s);
        QCOMPARE(on(QDate(2026, 12, 7)), u"Gesichert 5. Dez., 04:50"_s);
        QCOMPARE(on(QDate(2027, 1, 2)), u"Gesichert 5. Dez. 2026, 04:50"_s);
    }

    void placeholderStartsANewSheet() {
        auto store = makeStore();
        const auto empty = store->createFolder(u"Leer"_s);
        store->setSelectedFolderID(empty->url);
        EditorPane pane(*store);
        const AppearanceMode mode = AppearanceMode::SepiaHell;
        pane.setEditorStyle({.palette = paletteFor(mode), .mode = mode});
        QToolButton* button = pane.placeholder()->newSheetButton();
        QCOMPARE(accessibleName(button), u"Neues Blatt"_s);
        QCOMPARE(QAccessible::queryAccessibleInterface(button)->role(), QAccessible::Button);
        QCOMPARE(pane.grab().toImage().pixelColor(2, 2), QColor(0xF7, 0xEF, 0xDD));
        // From the keyboard: the button takes focus and Space presses it.
        button->setFocus();
        QTest::keyClick(button, Qt::Key_Space);
        QVERIFY(pane.editor());
        QCOMPARE(pane.editor()->editorStyle(), pane.editorStyle());
        QTRY_VERIFY(!pane.findChild<WelcomePlaceholder*>());
    }
};

ORVIK_WIDGET_TEST_MAIN(TestEditor)

#include "tst_editor.moc"
