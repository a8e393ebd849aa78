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
#include <QDir>
#include <QLabel>
#include <QMimeData>
#include <QPromise>
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

// What the editor must show for a text: the whole-text reference, cut at
// the blocks, as formats and paragraph roles.
struct BlockStyle {
    QList<QTextLayout::FormatRange> formats;
    ParagraphRole role = ParagraphRole::Body;
};

QList<BlockStyle> expected(const QString& text, const MarkdownEditor& editor) {
    const Formats formats(editor.editorStyle(), QApplication::palette());
    const QList<StyledRange> all = ranges(text, editor.faces());
    QList<BlockStyle> blocks;
    qsizetype start = 0;
    qsizetype r = 0;
    while (true) {
        qsizetype end = text.indexOf(u'\n', start);
        const bool last = end < 0;
        if (last)
            end = text.size();
        BlockStyle block;
        while (r < all.size() && all[r].end() <= start)
            ++r;
        if (r < all.size() && all[r].start <= start && start < text.size())
            block.role = all[r].style.paragraph;
        for (qsizetype i = r; i < all.size() && all[i].start < end; ++i) {
            const qsizetype from = std::max(all[i].start, start);
            const qsizetype to = std::min(all[i].end(), end);
            if (to > from)
                block.formats.append(
                    {int(from - start), int(to - from), formats.charFormat(all[i].style)});
        }
        blocks.append(block);
        if (last)
            break;
        start = end + 1;
    }
    return blocks;
}

QString differenceAt(const QTextBlock& b, const BlockStyle& want) {
    if (b.layout()->formats() != want.formats)
        return u"formats of line %1 \"%2\""_s.arg(b.blockNumber()).arg(b.text());
    if (ParagraphLayout::role(b) != want.role)
        return u"paragraph of line %1 \"%2\""_s.arg(b.blockNumber()).arg(b.text());
    return QString();
}

// All lines, those waiting for idle time styled first; or only the lines the
// viewport shows, as they are now: what was just painted.
QString firstDifference(MarkdownEditor& editor, bool inView = false) {
    if (!inView)
        editor.finishStyling();
    const QList<BlockStyle> want = expected(editor.text(), editor);
    const QTextDocument* doc = editor.document();
    if (want.size() != doc->blockCount())
        return u"block count %1 against %2"_s.arg(doc->blockCount()).arg(want.size());
    const auto at = [&](int y) { return editor.cursorForPosition(QPoint(0, y)).block(); };
    const QTextBlock last = inView ? at(editor.viewport()->height() - 1) : doc->lastBlock();
    for (QTextBlock b = inView ? at(0) : doc->begin(); b.isValid(); b = b.next()) {
        if (const QString difference = differenceAt(b, want[b.blockNumber()]);
            !difference.isEmpty())
            return difference;
        if (b == last)
            break;
    }
    return QString();
}

// A realistic sheet: prose with emphasis, headings, lists, quotes and
// fenced blocks, `lines` lines long.
QString sheet(int lines, quint32 seed) {
    std::mt19937 rng(seed);
    const QStringList kinds = {u"## Abschnitt über Größe\n"_s,
                               u"Ein *ruhiger* Satz mit **fettem** Wort und `code`.\n"_s,
                               u"- Punkt mit [Link](https://orvik.de/x)\n"_s,
                               u"- [ ] Aufgabe für später\n"_s,
                               u"> Zitat über die Straße\n"_s,
                               u"\n"_s,
                               u"```\nlet x = 1;\n# kein Titel\n```\n"_s,
                               u"---\n"_s,
                               u"Draußen regnet es, während wir schreiben.\n"_s};
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

QString accessibleName(QObject* object) {
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(object);
    return iface ? iface->text(QAccessible::Name) : u"<none>"_s;
}

Style sepia(AppearanceMode mode) {
    Style style;
    style.mode = mode;
    style.palette = paletteFor(mode);
    return style;
}

} // namespace

// The editor column against a real store on a temporary library.
class TestEditor : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    orvik::test::StoreFixture m_fixture;
    QList<std::shared_ptr<QPromise<QString>>>& m_contexts = m_fixture.contexts;

    std::unique_ptr<LibraryStore> makeStore() {
        return std::make_unique<LibraryStore>(m_fixture.options(m_dir->path(), 80));
    }

    // A pane showing a fresh quick note that holds `text`, saved.
    static void openSheet(LibraryStore& store, const QString& text) {
        QVERIFY(store.quickNewSheet());
        store.setCurrentText(text);
        store.flushPendingSave();
    }

private Q_SLOTS:
    void init() {
        m_dir = std::make_unique<QTemporaryDir>();
        m_contexts.clear();
    }

    // Binding to the store.

    void typingWritesTheFileOnceAfterThePause() {
        auto store = makeStore();
        EditorPane pane(*store);
        openSheet(*store, QString());
        MarkdownEditor* editor = pane.editor();
        QVERIFY(editor);
        const QString path = store->selectedSheet()->path();
        QSignalSpy edits(store.get(), &LibraryStore::currentTextChanged);
        QSignalSpy writes(store.get(), &LibraryStore::saved);

        type(editor, u"Grüße, *Welt*"_s);
        QCOMPARE(edits.count(), 13);
        QCOMPARE(store->currentText(), u"Grüße, *Welt*"_s);
        QCOMPARE(writes.count(), 0);

        QVERIFY(writes.wait(2000));
        QCOMPARE(writes.count(), 1);
        QCOMPARE(QString::fromUtf8(test::readBytes(path)), u"Grüße, *Welt*"_s);
        // A stray write of the first burst would come before the next pause ends.
        type(editor, u"!"_s);
        QVERIFY(writes.wait(2000));
        QCOMPARE(writes.count(), 2);
    }

    void textFromTheStoreIsShownWithoutEcho() {
        auto store = makeStore();
        EditorPane pane(*store);
        openSheet(*store, u"Erste Zeile\nzweite Zeile mit **fett**"_s);
        MarkdownEditor* editor = pane.editor();
        editor->moveCursor(QTextCursor::End);
        QSignalSpy edits(editor, &MarkdownEditor::textEdited);
        QSignalSpy storeChanges(store.get(), &LibraryStore::currentTextChanged);

        store->setCurrentText(u"Kurz"_s);
        QCOMPARE(editor->text(), u"Kurz"_s);
        QCOMPARE(editor->textCursor().position(), 4); // was beyond the new end
        QCOMPARE(edits.count(), 0);
        QCOMPARE(storeChanges.count(), 1);
        QCOMPARE(firstDifference(*editor), QString());
    }

    void dailyContextArrivesInTheOpenEditor() {
        auto store = makeStore();
        EditorPane pane(*store);
        QVERIFY(store->newDiaryEntry());
        QTRY_COMPARE(m_contexts.size(), 1);
        MarkdownEditor* editor = pane.editor();
        editor->setTextCursor(QTextCursor(editor->document()));
        QSignalSpy edits(editor, &MarkdownEditor::textEdited);
        QSignalSpy done(store.get(), &LibraryStore::dailyContextDone);
        m_contexts.first()->addResult(u"**Wetter:** sonnig"_s);
        m_contexts.first()->finish();
        QTRY_COMPARE(done.count(), 1);
        QVERIFY(editor->text().contains(u"**Wetter:** sonnig"_s));
        QCOMPARE(editor->text(), store->currentText());
        QCOMPARE(edits.count(), 0);
        QCOMPARE(editor->textCursor().position(), 0);
        QCOMPARE(firstDifference(*editor), QString());
    }

    void anotherSheetStartsAtTheTopWithoutUndo() {
        auto store = makeStore();
        EditorPane pane(*store);
        const QString longText = u"Zeile mit etwas Text\n"_s.repeated(300);
        openSheet(*store, longText);
        const QUrl first = store->selectedSheetID();
        openSheet(*store, u"# Zweites Blatt\n"_s);
        MarkdownEditor* editor = pane.editor();
        type(editor, u"abc"_s);
        QVERIFY(editor->document()->isUndoAvailable());

        store->setSelectedSheetID(first);
        QCOMPARE(pane.editor(), editor);
        QCOMPARE(editor->text(), longText);
        QCOMPARE(editor->documentID(), store->selectedSheet()->path());
        QCOMPARE(editor->textCursor().position(), 0);
        QCOMPARE(editor->verticalScrollBar()->value(), 0);
        QVERIFY(!editor->document()->isUndoAvailable());
        QCOMPARE(firstDifference(*editor), QString());
    }

    void textRoundTripsUnchanged() {
        // No-break spaces, U+2028 and NUL belong to the user's text.
        MarkdownEditor editor;
        const QString text = u"a\u00a0b\n\u2028c\n\n```\ncode\n```\n"_s + QChar(0) + u"x"_s;
        editor.openDocument(u"/x.md"_s, text);
        QCOMPARE(editor.text(), text);
    }

    // Styling.

    void highlightingStaysOutOfUndo() {
        MarkdownEditor editor;
        const QString original = u"# Titel\n\nEin **fetter** Satz.\n"_s;
        editor.openDocument(u"/a.md"_s, original);
        QVERIFY(!editor.document()->isUndoAvailable());
        editor.moveCursor(QTextCursor::End);
        type(&editor, u"> _Zitat_\n```"_s);
        QCOMPARE(firstDifference(editor), QString());

        QSignalSpy edits(&editor, &MarkdownEditor::textEdited);
        while (editor.document()->isUndoAvailable())
            editor.undo();
        QCOMPARE(editor.text(), original);
        QVERIFY(edits.count() > 0);
        QCOMPARE(edits.last().first().toString(), original);
        QVERIFY(editor.document()->isRedoAvailable());
        QCOMPARE(firstDifference(editor), QString());
    }

    void incrementalStylingMatchesTheWholeText_data() {
        QTest::addColumn<QString>("start");
        QTest::addColumn<bool>("shown");
        QTest::newRow("short") << u"# Start\n\nText mit `code` und [Link](x).\n"_s << false;
        // Fences flip hundreds of lines out of view: they wait for idle time.
        QTest::newRow("sheet in view") << sheet(400, 7) << true;
    }

    void incrementalStylingMatchesTheWholeText() {
        QFETCH(QString, start);
        QFETCH(bool, shown);
        MarkdownEditor editor;
        // Pasted pieces wait like opened sheets.
        editor.setLimits({.styleAtOnce = 8});
        editor.resize(600, 400);
        if (shown) {
            editor.show();
            QVERIFY(QTest::qWaitForWindowExposed(&editor));
        }
        editor.openDocument(u"/r.md"_s, start);
        const QStringList pieces = {u"```"_s,     u"```\n"_s,   u"\n"_s,    u"# "_s,
                                    u"### H\n"_s, u"> "_s,      u"- "_s,    u"- [x] "_s,
                                    u"**"_s,      u"*"_s,       u"_"_s,     u"`"_s,
                                    u"[a](b)"_s,  u"Wörter "_s, u"---\n"_s, u"1. "_s,
                                    u"\t"_s,      u"x\ny\nz"_s, u" "_s,     u"```py\nfoo\n```\n"_s};
        std::mt19937 rng(20240611);
        for (int step = 0; step < 400; ++step) {
            const int length = int(editor.text().size());
            QTextCursor c(editor.document());
            const int at = int(rng() % uint(length + 1));
            c.setPosition(at);
            const uint kind = rng() % 4;
            if (kind == 0 && length > 0) {
                c.setPosition(std::min(length, at + 1 + int(rng() % 12)), QTextCursor::KeepAnchor);
                c.removeSelectedText();
            } else if (kind == 1 && length > 0) {
                c.setPosition(std::min(length, at + int(rng() % 6)), QTextCursor::KeepAnchor);
                c.insertText(pieces[rng() % pieces.size()]);
            } else {
                c.insertText(pieces[rng() % pieces.size()]);
            }
            if (shown) {
                // What is painted is right even while lines wait; waiting
                // lines merge with further edits.
                editor.viewport()->repaint();
                const QString inView = firstDifference(editor, true);
                if (!inView.isEmpty())
                    QFAIL(qPrintable(u"step %1, in view: %2"_s.arg(step).arg(inView)));
            }
            const uint check = shown ? rng() % 10 : 0;
            if (check == 1) {
                QTRY_VERIFY(!editor.stylingPending());
            } else if (check == 2 || check == 3) {
                // Idle turns that stop halfway, maybe somewhere else.
                QTest::qWait(1);
                if (check == 3)
                    editor.verticalScrollBar()->setValue(
                        int(rng() % uint(editor.verticalScrollBar()->maximum() + 1)));
            }
            const QString difference = check <= 1 ? firstDifference(editor) : QString();
            if (!difference.isEmpty())
                QFAIL(qPrintable(u"step %1: %2"_s.arg(step).arg(difference)));
            if (step % 50 == 49)
                while (editor.document()->isUndoAvailable() && rng() % 8)
                    editor.undo();
        }
        QCOMPARE(editor.text(), editor.document()->toRawText().replace(u'\u2029', u'\n'));
    }

    // A keystroke does not lay out again the lines of its paragraph above it.
    void typingLeavesTheLinesAboveLaidOut() {
        MarkdownEditor editor;
        editor.resize(600, 400);
        editor.show();
        QVERIFY(QTest::qWaitForWindowExposed(&editor));
        editor.openDocument(u"/t.md"_s, u"Ein *ruhiger* Satz\nund _noch_ einer\nund Schluss\n"_s);
        editor.viewport()->repaint();
        // A layout pass resets a line's text option: the mark shows none came.
        QTextOption marked;
        marked.setTabStopDistance(123);
        const QTextBlock first = editor.document()->firstBlock();
        first.layout()->setTextOption(marked);
        QTextCursor caret(first.next());
        caret.movePosition(QTextCursor::EndOfBlock);
        editor.setTextCursor(caret);
        type(&editor, u"s"_s);
        editor.viewport()->repaint();
        QCOMPARE(first.layout()->textOption().tabStopDistance(), 123);
        QCOMPARE(firstDifference(editor), QString());
    }

    void linesScrolledIntoViewAreStyledBeforeTheyArePainted() {
        MarkdownEditor editor;
        editor.resize(600, 400);
        editor.show();
        QVERIFY(QTest::qWaitForWindowExposed(&editor));
        QString text;
        for (int i = 0; i < 3000; ++i)
            text += i % 10 == 0 ? u"## Abschnitt %1\n"_s.arg(i) : u"Zeile *%1*\n"_s.arg(i);
        text += u"```\n"_s;
        editor.openDocument(u"/s.md"_s, text);
        QTRY_VERIFY(!editor.stylingPending());

        // Every line below flips into code; only those around the view are
        // restyled before the keystroke returns.
        type(&editor, u"```\n"_s);
        QVERIFY(editor.stylingPending());
        editor.viewport()->repaint();
        QCOMPARE(firstDifference(editor, true), QString());
        const QList<BlockStyle> want = expected(editor.text(), editor);
        const QTextBlock far = editor.document()->findBlockByNumber(2002);
        QCOMPARE(far.text(), u"Zeile *2001*"_s);
        QVERIFY(!differenceAt(far, want[2002]).isEmpty());

        // Jumped to before idle time reached it: styled when painted.
        editor.verticalScrollBar()->setValue(1995);
        editor.viewport()->repaint();
        QVERIFY(editor.stylingPending());
        QCOMPARE(firstDifference(editor, true), QString());
        QCOMPARE(differenceAt(far, want[2002]), QString());

        // The caret sent to a waiting line: its line is styled at once, so
        // that the view scrolls by its true height.
        const QTextBlock caretLine = editor.document()->findBlockByNumber(2802);
        QVERIFY(!differenceAt(caretLine, want[2802]).isEmpty());
        editor.setTextCursor(QTextCursor(caretLine));
        QCOMPARE(differenceAt(caretLine, want[2802]), QString());

        QTRY_VERIFY(!editor.stylingPending());
        QCOMPARE(firstDifference(editor), QString());
        // Taking the fence back turns the lines below back into prose.
        editor.moveCursor(QTextCursor::Start);
        editor.moveCursor(QTextCursor::Down);
        for (int i = 0; i < 4; ++i)
            QTest::keyClick(&editor, Qt::Key_Backspace);
        QCOMPARE(editor.text(), text);
        QCOMPARE(firstDifference(editor), QString());
    }

    void aHugeSheetLoadsInPiecesWithoutLosingText() {
        MarkdownEditor editor;
        editor.setLimits({.styleAtOnce = 1000,
                          .loadAtOnce = 20000,
                          .loadPiece = 4000,
                          .longLine = 20000,
                          .longRun = 20000});
        editor.resize(600, 400);
        editor.show();
        QVERIFY(QTest::qWaitForWindowExposed(&editor));
        // Lines longer than a piece are cut, never between surrogates.
        QString text = sheet(2500, 3) + QString(4001, u'x') + u"\U0001F600"_s.repeated(3000) +
                       u"\n"_s + sheet(100, 4) + u"Ende ohne Zeilenumbruch"_s;
        QSignalSpy progress(&editor, &MarkdownEditor::loadingProgress);
        QSignalSpy edits(&editor, &MarkdownEditor::textEdited);
        editor.openDocument(u"/gross.md"_s, text);
        QVERIFY(editor.isLoading());
        QVERIFY(editor.isReadOnly());
        QVERIFY(editor.text().size() < 2 * 4000);
        QVERIFY(text.startsWith(editor.text()));
        // Not even the first piece is styled beyond the view.
        QVERIFY(editor.stylingPending());

        // Keys, pastes and undo change nothing while it loads.
        type(&editor, u"x\n"_s);
        editor.undo();
        QTRY_VERIFY(editor.text().size() > 4 * 4000);
        QVERIFY(text.startsWith(editor.text()));
        QTRY_VERIFY(!editor.isLoading());
        QCOMPARE(editor.text(), text);
        QVERIFY(!editor.isReadOnly());
        QCOMPARE(edits.count(), 0);
        QVERIFY(progress.count() > 10);
        QCOMPARE(progress.last().at(0).value<qsizetype>(), text.size());
        QCOMPARE(progress.last().at(1).value<qsizetype>(), text.size());
        QVERIFY(!editor.document()->isUndoAvailable());
        QCOMPARE(firstDifference(editor), QString());

        // Then it is an ordinary sheet: edits report the whole text.
        editor.moveCursor(QTextCursor::End);
        type(&editor, u"!"_s);
        QCOMPARE(edits.count(), 1);
        QCOMPARE(edits.last().first().toString(), text + u"!"_s);
        editor.undo();
        QCOMPARE(edits.last().first().toString(), text);
    }

    // Text replaced from outside keeps the caret on the same words: behind
    // the change it moves with them, before it it stays, inside a middle
    // that shrank it is kept within it.
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

    void anotherSheetWhileLoadingReplacesIt() {
        MarkdownEditor editor;
        editor.setLimits({.styleAtOnce = 1000, .loadAtOnce = 20000, .loadPiece = 4000});
        editor.setReadOnly(true);
        editor.openDocument(u"/a.md"_s, sheet(3000, 1));
        QVERIFY(editor.isLoading());
        const QString second = sheet(3000, 2);
        // The store's text changed meanwhile: the new one loads instead.
        editor.replaceText(second);
        QTRY_VERIFY(!editor.isLoading());
        QCOMPARE(editor.text(), second);
        // Read-only as before the load.
        QVERIFY(editor.isReadOnly());
        editor.openDocument(u"/b.md"_s, u"klein"_s);
        QVERIFY(!editor.isLoading());
        QCOMPARE(editor.text(), u"klein"_s);
    }

    void paneTellsOfAHugeSheetWhileItLoads() {
        const MarkdownEditor::Limits before = MarkdownEditor::defaultLimits();
        const auto restore = qScopeGuard([&] { MarkdownEditor::setDefaultLimits(before); });
        MarkdownEditor::setDefaultLimits(
            {.styleAtOnce = 1000, .loadAtOnce = 20000, .loadPiece = 4000});
        auto store = makeStore();
        EditorPane pane(*store);
        const QString text = sheet(3000, 5);
        openSheet(*store, text);
        const QString path = store->selectedSheet()->path();
        QVERIFY(pane.editor());
        QVERIFY(pane.editor()->isLoading());
        QVERIFY(pane.loadNotice()->isVisibleTo(&pane));
        QVERIFY(accessibleName(pane.loadNotice()).startsWith(u"Dieses Blatt ist sehr groß"_s));
        QTRY_VERIFY(!pane.editor()->isLoading());
        QVERIFY(!pane.loadNotice()->isVisibleTo(&pane));
        QCOMPARE(pane.editor()->text(), text);
        QCOMPARE(store->currentText(), text);
        store->flushPendingSave();
        QCOMPARE(QString::fromUtf8(test::readBytes(path)), text);
    }

    // Lines too long to lay out fast: the sheet is shown plain and
    // read-only, and says so; its text and file stay exactly as they were.
    void veryLongLinesAreShownPlain() {
        auto store = makeStore();
        EditorPane pane(*store);
        pane.resize(800, 600);
        pane.show();
        const QString note =
            u"Sehr lange Zeilen werden ohne Auszeichnung und nur zum Lesen gezeigt"_s;
        const QStringList shapes = {
            u"# Titel\n"_s + u"abcdefghijklmnopqrstuvwxyzäöüß"_s.repeated(35000) + u"\r\nEnde"_s,
            QString(300000, QChar(0)) + u"\U0001F600\n"_s,
            u"Ein *Wort* und noch eins. "_s.repeated(2000),
            u"![Bild](data:image/png;base64,"_s + u"iVBORw0KGgo+/"_s.repeated(2000) + u")\n"_s};
        for (const QString& text : shapes) {
            openSheet(*store, text);
            const QString path = store->selectedSheet()->path();
            MarkdownEditor* editor = pane.editor();
            QTRY_VERIFY(!editor->isLoading());
            QVERIFY(editor->showsPlain());
            QVERIFY(editor->isReadOnly());
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
            QCOMPARE(store->currentText(), text);
            store->flushPendingSave();
            QCOMPARE(QString::fromUtf8(test::readBytes(path)), text);
            // Shorter text shown in the same view is styled and editable again.
            store->setCurrentText(u"*kurz*"_s);
            QVERIFY(!editor->showsPlain());
            QVERIFY(!editor->isReadOnly());
            QCOMPARE(firstDifference(*editor), QString());
            QTRY_COMPARE(pane.statusBar()->noteShown(), QString());
        }

        // A paste that makes a line too long goes to the store whole first.
        struct Clipboard : MarkdownEditor {
            using MarkdownEditor::createMimeDataFromSelection;
            using MarkdownEditor::insertFromMimeData;
        } editor;
        editor.openDocument(u"/a.md"_s, u"Anfang\nEnde"_s);
        QSignalSpy edits(&editor, &MarkdownEditor::textEdited);
        QTextCursor caret(editor.document());
        caret.setPosition(3);
        editor.setTextCursor(caret);
        QMimeData pasted;
        pasted.setText(u"x"_s.repeated(5000));
        editor.insertFromMimeData(&pasted);
        const QString whole = u"Anf"_s + u"x"_s.repeated(5000) + u"ang\nEnde"_s;
        QCOMPARE(edits.count(), 1);
        QCOMPARE(edits.last().first().toString(), whole);
        QVERIFY(editor.showsPlain());
        QCOMPARE(editor.text(), whole);
        // What is copied is the text, not the view's rows.
        editor.selectAll();
        const std::unique_ptr<QMimeData> copied(editor.createMimeDataFromSelection());
        QCOMPARE(copied->text(), whole);
    }

    void styleChangesByKey() {
        MarkdownEditor editor;
        editor.openDocument(u"/s.md"_s, u"Text\n"_s);
        const auto size = [&] {
            return editor.document()
                ->firstBlock()
                .layout()
                ->formats()[0]
                .format.font()
                .pointSizeF();
        };
        Style style;
        editor.setEditorStyle(style);
        const qreal before = size();
        style.baseSize += 0.6; // same whole point: left as it is
        editor.setEditorStyle(style);
        QCOMPARE(size(), before);
        style.baseSize += 1;
        editor.setEditorStyle(style);
        QVERIFY(size() > before);
        QCOMPARE(firstDifference(editor), QString());
    }

    void modeSwitchRecolours() {
        MarkdownEditor editor;
        editor.openDocument(u"/m.md"_s, u"Text\n"_s);
        editor.setEditorStyle(sepia(AppearanceMode::SepiaDunkel));
        // Selected text keeps its own colours under the translucent selection.
        QCOMPARE(editor.palette().brush(QPalette::HighlightedText).style(), Qt::NoBrush);
        QCOMPARE(editor.palette().color(QPalette::Base), editor.paperColor());
        QCOMPARE(firstDifference(editor), QString());

        // The caret is painted in its colour, not inverted as Qt draws it.
        editor.resize(400, 300);
        editor.show();
        editor.activateWindow();
        editor.setFocus();
        QVERIFY(QTest::qWaitForWindowActive(&editor));
        const QRect r = editor.cursorRect();
        const QImage shot = editor.viewport()->grab().toImage();
        QCOMPARE(shot.pixelColor(r.left(), r.center().y()).rgb(), editor.caretColor().rgb());
    }

    void columnIsCentredAndParagraphsSpaced() {
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

        editor.openDocument(u"/p.md"_s, u"Text\n# Titel\n> Zitat\n"_s);
        const qreal base = editor.editorStyle().baseSize;
        const QTextBlock text = editor.document()->firstBlock();
        const QTextLine line = text.layout()->lineAt(0);
        // The first block carries the top inset, the heading its space before.
        QCOMPARE(line.y(), 40.0);
        QVERIFY(qAbs(text.next().layout()->lineAt(0).y() - 0.9 * base) < 0.05);
        QVERIFY(qAbs(text.next().next().layout()->lineAt(0).x() - 1.1 * base) < 0.05);
        const auto* layout =
            static_cast<const QPlainTextDocumentLayout*>(editor.document()->documentLayout());
        QVERIFY(qAbs(layout->blockBoundingRect(text).height() -
                     (40 + line.height() + 0.62 * base)) < 0.05);
    }

    // The pane.

    void statusBarCounts_data() {
        QTest::addColumn<int>("words");
        QTest::addColumn<QString>("shownWords");
        QTest::addColumn<QString>("shownTime");
        QTest::newRow("empty") << 0 << u"0 Wörter"_s << u"1 Min. Lesezeit"_s;
        QTest::newRow("399") << 399 << u"399 Wörter"_s << u"1 Min. Lesezeit"_s;
        QTest::newRow("400") << 400 << u"400 Wörter"_s << u"2 Min. Lesezeit"_s;
    }

    void statusBarCounts() {
        QFETCH(int, words);
        auto store = makeStore();
        EditorPane pane(*store);
        openSheet(*store, u"Wort "_s.repeated(words));
        QFETCH(QString, shownWords);
        QFETCH(QString, shownTime);
        QTRY_COMPARE(pane.statusBar()->wordsShown(), shownWords);
        QCOMPARE(pane.statusBar()->readingTimeShown(), shownTime);
        const QTime modified = store->selectedSheet()->modified.time();
        QCOMPARE(pane.statusBar()->savedShown(),
                 u"Gesichert %1:%2"_s.arg(modified.hour(), 2, 10, QChar(u'0'))
                     .arg(modified.minute(), 2, 10, QChar(u'0')));
    }

    void statusBarSavedTime() {
        const QDateTime saved(QDate(2026, 12, 5), QTime(4, 50));
        QCOMPARE(StatusBar::savedText(saved, false, QDate(2026, 12, 5)), u"Gesichert 04:50"_s);
        QCOMPARE(StatusBar::savedText(saved, false, QDate(2026, 12, 7)),
                 u"Gesichert 5. Dez., 04:50"_s);
        QCOMPARE(StatusBar::savedText(saved, false, QDate(2027, 1, 2)),
                 u"Gesichert 5. Dez. 2026, 04:50"_s);
    }

    void placeholderStartsANewSheet() {
        auto store = makeStore();
        const auto empty = store->createFolder(u"Leer"_s);
        QVERIFY(empty);
        store->setSelectedFolderID(empty->url);
        QVERIFY(!store->selectedSheet());
        EditorPane pane(*store);
        pane.setEditorStyle(sepia(AppearanceMode::SepiaHell));
        QVERIFY(!pane.editor());
        WelcomePlaceholder* placeholder = pane.placeholder();
        QVERIFY(placeholder);
        QCOMPARE(accessibleName(placeholder->newSheetButton()), u"Neues Blatt"_s);
        QCOMPARE(QAccessible::queryAccessibleInterface(placeholder->newSheetButton())->role(),
                 QAccessible::Button);
        const QImage shot = pane.grab().toImage();
        QCOMPARE(shot.pixelColor(2, 2), QColor(0xF7, 0xEF, 0xDD));

        // From the keyboard: the button takes focus and Space presses it.
        placeholder->newSheetButton()->setFocus();
        QTest::keyClick(placeholder->newSheetButton(), Qt::Key_Space);
        QVERIFY(store->selectedSheet());
        QCOMPARE(store->selectedFolder()->kind, Folder::Kind::Quick);
        QVERIFY(pane.editor());
        QCOMPARE(pane.editor()->text(), store->currentText());
        QCOMPARE(pane.editor()->editorStyle(), pane.editorStyle());
        QTRY_VERIFY(!pane.findChild<WelcomePlaceholder*>());
    }

    void controlsAreNamed() {
        auto store = makeStore();
        EditorPane pane(*store);

        openSheet(*store, u"Drei kleine Wörter"_s);
        QCOMPARE(accessibleName(pane.editor()), u"Text des Blatts"_s);
        QAccessibleInterface* text = QAccessible::queryAccessibleInterface(pane.editor());
        QVERIFY(text->textInterface());
        QCOMPARE(text->textInterface()->text(0, text->textInterface()->characterCount()),
                 u"Drei kleine Wörter"_s);
        QCOMPARE(accessibleName(pane.statusBar()), u"Statusleiste"_s);
        QTRY_COMPARE(pane.statusBar()->wordsShown(), u"3 Wörter"_s);
        QStringList shown;
        for (QLabel* label : pane.statusBar()->findChildren<QLabel*>())
            shown.append(accessibleName(label));
        QVERIFY(shown.contains(u"3 Wörter"_s));
    }
};

ORVIK_WIDGET_TEST_MAIN(TestEditor)

#include "tst_editor.moc"
