#include "store/librarystore.h"
#include "storefixture.h"
#include "ui/editor/editorpane.h"
#include "ui/editor/findbar.h"
#include "ui/editor/formatting.h"
#include "ui/editor/markdowneditor.h"
#include "ui/editor/outlinepanel.h"
#include "ui/editor/previewpanel.h"
#include "ui/window/mainwindow.h"
#include "ui/window/sheetlist.h"
#include "ui/window/sidebar.h"
#include "widgettest.h"

#include <QAccessible>
#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>

using namespace Qt::StringLiterals;
using namespace orvik;
using namespace orvik::ui;

namespace {

// "‹" and "›" mark a selection, "|" a caret.
QTextCursor place(QPlainTextEdit& edit, QString marked) {
    const qsizetype caret = marked.indexOf(u'|');
    qsizetype start = marked.indexOf(u'‹');
    qsizetype end = marked.indexOf(u'›');
    if (caret >= 0) {
        start = end = caret;
        marked.remove(caret, 1);
    } else {
        marked.remove(end, 1);
        marked.remove(start, 1);
        --end;
    }
    edit.setPlainText(marked);
    QTextCursor cursor(edit.document());
    cursor.setPosition(int(start));
    cursor.setPosition(int(end), QTextCursor::KeepAnchor);
    return cursor;
}

QString marked(const QPlainTextEdit& edit, const QTextCursor& cursor) {
    QString text = edit.toPlainText();
    if (!cursor.hasSelection())
        return text.insert(cursor.position(), u'|');
    text.insert(cursor.selectionEnd(), u'›');
    return text.insert(cursor.selectionStart(), u'‹');
}

// The faces of a line's styled ranges, their colours left out.
QList<QFont> faces(const QTextBlock& block) {
    QList<QFont> fonts;
    for (const QTextLayout::FormatRange& r : block.layout()->formats())
        if (r.format.hasProperty(QTextFormat::FontFamilies))
            fonts.append(r.format.font());
    return fonts;
}

QSet<QRgb> colours(const QTextBlock& block) {
    QSet<QRgb> found;
    for (const QTextLayout::FormatRange& r : block.layout()->formats())
        if (r.format.hasProperty(QTextFormat::ForegroundBrush))
            found.insert(r.format.foreground().color().rgba());
    return found;
}

} // namespace

class TestWritingTools : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void formatting_data() {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("before");
        QTest::addColumn<QString>("after");
        const char16_t* rows[][4] = {
            {u"wrap bold", u"b", u"ein ‹Wort› hier", u"ein **‹Wort›** hier"},
            {u"unwrap bold selected whole", u"b", u"ein ‹**Wort**› hier", u"ein ‹Wort› hier"},
            {u"unwrap bold around", u"b", u"ein **‹Wort›** hier", u"ein ‹Wort› hier"},
            {u"empty bold pair", u"b", u"ein | hier", u"ein **|** hier"},
            {u"bold off bold italic", u"b", u"***‹Wort›***", u"*‹Wort›*"},
            {u"wrap italic", u"i", u"‹Wort›", u"*‹Wort›*"},
            {u"italic around bold", u"i", u"‹**Wort**›", u"*‹**Wort**›*"},
            {u"italic off bold italic", u"i", u"***‹Wort›***", u"**‹Wort›**"},
            {u"italic off underscores", u"i", u"_‹Wort›_", u"‹Wort›"},
            {u"link from text", u"k", u"‹Orvik›", u"[Orvik](|)"},
            {u"link from address", u"k", u"‹https://example.org›", u"[|](https://example.org)"},
            {u"empty link", u"k", u"a |", u"a [|]()"},
            {u"unwrap link", u"k", u"‹[Orvik](https://x.org)›", u"‹Orvik›"},
        };
        for (const auto& row : rows)
            QTest::newRow(QString::fromUtf16(row[0]).toUtf8())
                << QString::fromUtf16(row[1]) << QString::fromUtf16(row[2])
                << QString::fromUtf16(row[3]);
    }
    // Each command is one undo step that brings the text back whole.
    void formatting() {
        QFETCH(QString, command);
        QFETCH(QString, before);
        QFETCH(QString, after);
        QPlainTextEdit edit;
        QTextCursor cursor = place(edit, before);
        const QString original = edit.toPlainText();
        const int steps = edit.document()->availableUndoSteps();
        if (command == u"k")
            formatting::toggleLink(cursor);
        else
            formatting::toggleEmphasis(cursor, command == u"b" ? formatting::Emphasis::Bold
                                                               : formatting::Emphasis::Italic);
        QCOMPARE(marked(edit, cursor), after);
        edit.undo();
        QCOMPARE(edit.toPlainText(), original);
        QCOMPARE(edit.document()->availableUndoSteps(), steps);
    }

    void replacing() {
        MarkdownEditor editor;
        editor.openDocument(u"a"_s, u"Haus, Haustür und HAUS. Das Haus."_s);
        FindBar bar(&editor);
        bar.openForReplacing();
        QCOMPARE(bar.field()->nextInFocusChain(), bar.replacementField()); // Tab leads there
        bar.replacementField()->setText(u"Hof"_s);
        bar.field()->setText(u"haus"_s);
        QCOMPARE(bar.hits().size(), 4);
        bar.wholeWordsBox()->setChecked(true);
        QCOMPARE(bar.hits().size(), 3);
        bar.matchCaseBox()->setChecked(true);
        QCOMPARE(bar.hits().size(), 0);
        bar.field()->setText(u"Haus"_s);
        QCOMPARE(bar.hits().size(), 2);

        // Typing the query selected the first hit; replacing it selects the next.
        bar.replaceCurrent();
        QCOMPARE(editor.text(), u"Hof, Haustür und HAUS. Das Haus."_s);
        QCOMPARE(bar.currentHit(), 0);

        bar.replaceAll();
        QCOMPARE(editor.text(), u"Hof, Haustür und HAUS. Das Hof."_s);
        QCOMPARE(bar.countLabel()->text(), u"1 ersetzt"_s);
        // Escape from a button, too, closes the bar.
        QTest::keyClick(bar.replaceAllButton(), Qt::Key_Escape);
        QVERIFY(bar.isHidden());
        bar.openForReplacing();
        bar.matchCaseBox()->setChecked(false);
        bar.wholeWordsBox()->setChecked(false);
        bar.replaceAll();
        QCOMPARE(editor.text(), u"Hof, Hoftür und Hof. Das Hof."_s);
        QCOMPARE(bar.countLabel()->text(), u"2 ersetzt"_s);
        editor.undo(); // one step takes back every replacement
        QCOMPARE(editor.text(), u"Hof, Haustür und HAUS. Das Hof."_s);

        // Plain finding ignores the switches the replace row holds.
        bar.matchCaseBox()->setChecked(true);
        bar.open();
        bar.field()->setText(u"hof"_s);
        QVERIFY(!bar.replacing());
        QCOMPARE(bar.hits().size(), 2);

        // A sheet shown read-only is not changed.
        bar.openForReplacing();
        editor.setReadOnly(true);
        bar.matchCaseBox()->setChecked(false);
        bar.replaceAll();
        QCOMPARE(editor.text(), u"Hof, Haustür und HAUS. Das Hof."_s);

        // Accents count only when case does; a hit may be longer than the query.
        editor.setReadOnly(false);
        editor.openDocument(u"b"_s, u"Café cafe\u0301 Straße"_s);
        bar.matchCaseBox()->setChecked(false);
        bar.field()->setText(u"cafe"_s);
        QCOMPARE(bar.hits(), (QList<qsizetype>{0, 5}));
        bar.findNext();
        QCOMPARE(editor.textCursor().selectedText(), u"cafe\u0301"_s);
        bar.replacementField()->setText(u"Tee"_s);
        bar.replaceAll();
        QCOMPARE(editor.text(), u"Tee Tee Straße"_s);
        bar.field()->setText(u"STRASSE"_s);
        QCOMPARE(bar.hits(), (QList<qsizetype>{8}));
        bar.matchCaseBox()->setChecked(true);
        QCOMPARE(bar.hits().size(), 0);
    }

    // Only the caret's paragraph keeps its colours, and only two lines
    // change as it moves; the faces stay everywhere.
    void focusMode() {
        MarkdownEditor editor;
        editor.openDocument(u"a"_s, u"# Titel\n\nEin *schiefer* Satz.\n\n> Zitat"_s);
        // Each line against the same text styled without the mode.
        const auto verifyLit = [&editor](int lit) {
            MarkdownEditor plain;
            plain.openDocument(u"b"_s, editor.text());
            plain.finishStyling();
            editor.finishStyling();
            if (lit >= 0)
                QCOMPARE(editor.textCursor().blockNumber(), lit);
            for (QTextBlock b = editor.document()->begin(); b.isValid(); b = b.next()) {
                const auto before = plain.document()->findBlockByNumber(b.blockNumber());
                if (lit < 0 || b.blockNumber() == lit || b.length() == 1) {
                    QCOMPARE(b.layout()->formats(), before.layout()->formats());
                    continue;
                }
                QVERIFY2(colours(b).contains(editor.dimmedColor().rgba()), qPrintable(b.text()));
                const QColor own = before.layout()->formats().last().format.foreground().color();
                QVERIFY(!colours(b).contains(own.rgba()));
                QCOMPARE(faces(b), faces(before));
            }
        };
        editor.setFocusMode(true);
        verifyLit(0);
        QTextCursor caret = editor.textCursor();
        caret.setPosition(12);
        editor.setTextCursor(caret);
        verifyLit(2);
        // A new paragraph is lit alone; undo lights the joined one.
        QTest::keyClick(&editor, Qt::Key_Return);
        verifyLit(3);
        editor.undo();
        verifyLit(2);
        editor.setFocusMode(false);
        verifyLit(-1);
    }

    // The typed line sits in the middle, the last one too; without the
    // mode it sits at the bottom.
    void typewriterMode() {
        MarkdownEditor editor;
        editor.resize(600, 400);
        QStringList lines;
        for (int i = 0; i < 60; ++i)
            lines.append(u"Zeile "_s + QString::number(i));
        editor.openDocument(u"a"_s, lines.join(u"\n\n"_s));
        editor.show();
        QVERIFY(QTest::qWaitForWindowExposed(&editor));
        const auto offCentre = [&] {
            return std::abs(editor.cursorRect().center().y() - editor.viewport()->height() / 2);
        };
        // The view scrolls by lines: the middle is met to within a line
        // and the space around its paragraph.
        const auto pitch = [&] {
            const QTextBlock b = editor.textCursor().block();
            return editor.document()->documentLayout()->blockBoundingRect(b).height();
        };
        const int line = editor.cursorRect().height();
        editor.setTypewriterMode(true);
        QTextCursor caret = editor.textCursor();
        caret.setPosition(int(editor.text().indexOf(u"Zeile 30"_s)));
        editor.setTextCursor(caret);
        QTest::keyClicks(&editor, u"x"_s);
        QVERIFY2(offCentre() <= pitch(), qPrintable(QString::number(offCentre())));
        // Lines further down but still in view come to the middle as well.
        for (int i = 0; i < 3; ++i)
            QTest::keyClick(&editor, Qt::Key_Down);
        QVERIFY2(offCentre() <= pitch(), qPrintable(QString::number(offCentre())));
        QTest::keyClick(&editor, Qt::Key_End, Qt::ControlModifier);
        QTest::keyClicks(&editor, u"x"_s);
        QVERIFY2(offCentre() <= pitch(), qPrintable(QString::number(offCentre())));

        editor.setTypewriterMode(false);
        QTest::keyClicks(&editor, u"y"_s);
        QTRY_VERIFY(editor.cursorRect().bottom() > editor.viewport()->height() - 3 * line);
    }

    // Focus, typewriter and editor-only come back with the next start; full
    // screen does not, and Escape leaves it unless the find bar takes it.
    void modesAreRemembered() {
        QSettings(u"Orvik"_s, u"Orvik"_s).clear();
        QTemporaryDir dir;
        QVERIFY(test::writeBytes(dir.path() + u"/Bibliothek/Ideen/a.md"_s, "# A\n\nText\n"));
        LibraryStore::Options options;
        options.root = dir.path() + u"/Bibliothek"_s;
        options.backupRoot = dir.path() + u"/Sicherungen"_s;
        options.backupSchedule = false;
        options.dailyContext = [] { return QtFuture::makeReadyFuture(QString()); };
        auto store = std::make_unique<LibraryStore>(options);
        auto window = std::make_unique<MainWindow>(*store);
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        const QStringList names{u"focusMode"_s, u"typewriterMode"_s, u"editorOnly"_s,
                                u"fullScreen"_s};
        for (const QString& name : names) {
            QAction* toggle = window->command(name);
            QVERIFY(toggle && toggle->isCheckable() && !toggle->isChecked());
            toggle->trigger();
        }
        QVERIFY(window->isFullScreen());
        QVERIFY(window->sidebar()->isHidden() && window->sheetList()->isHidden());
        window->command(u"newSheet"_s)->trigger();
        QTRY_VERIFY(window->editorPane()->editor());
        MarkdownEditor* editor = window->editorPane()->editor();
        QVERIFY(editor->focusMode() && editor->typewriterMode());

        window->editorPane()->showFindBar();
        FindBar* bar = window->editorPane()->findBar();
        QTRY_VERIFY(bar->field()->hasFocus());
        QTest::keyClick(bar->field(), Qt::Key_Escape);
        QVERIFY(bar->isHidden() && window->isFullScreen());
        editor->setFocus();
        QTest::keyClick(editor, Qt::Key_Escape);
        QVERIFY(!window->isFullScreen() && !window->command(u"fullScreen"_s)->isChecked());
        window->command(u"fullScreen"_s)->trigger();

        window.reset();
        store = std::make_unique<LibraryStore>(options);
        window = std::make_unique<MainWindow>(*store);
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        for (const QString& name : names)
            QCOMPARE(window->command(name)->isChecked(), name != u"fullScreen"_s);
        QVERIFY(!window->isFullScreen());
        QVERIFY(window->sidebar()->isHidden() && window->sheetList()->isHidden());
        window->command(u"newSheet"_s)->trigger();
        QTRY_VERIFY(window->editorPane()->editor());
        editor = window->editorPane()->editor();
        QVERIFY(editor->focusMode() && editor->typewriterMode());
        window->command(u"editorOnly"_s)->trigger();
        QVERIFY(window->sidebar()->isVisible() && window->sheetList()->isVisible());
    }

    // Both panels from their keys, beside the text of the selected sheet;
    // the keyboard stays in the text, and each follows it after a pause.
    void outlineAndPreview() {
        QTemporaryDir dir;
        test::StoreFixture fixture;
        LibraryStore store(fixture.options(dir.path(), 80));
        MainWindow window(store);
        QVERIFY(store.quickNewSheet());
        store.setCurrentText(u"# Eins\n"_s + u"Zeile\n"_s.repeated(200) +
                             u"```\n# kein Titel\n```\n## Zwei **fett**\n"_s +
                             u"Ende\n"_s.repeated(100));
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        EditorPane* pane = window.editorPane();
        MarkdownEditor* editor = pane->editor();
        editor->setFocus();
        const auto ctrlShift = Qt::ControlModifier | Qt::ShiftModifier;
        QTest::keyClick(editor, Qt::Key_G, ctrlShift);
        QTest::keyClick(editor, Qt::Key_P, ctrlShift);
        QVERIFY(window.command(u"showOutline"_s)->isChecked());
        QVERIFY(window.command(u"showPreview"_s)->isChecked());
        QTest::keyClicks(editor, u"Neu "_s);
        QCOMPARE(editor->text().left(10), u"Neu # Eins"_s);

        OutlinePanel* outline = pane->outline();
        QAccessibleInterface* list = QAccessible::queryAccessibleInterface(outline);
        QCOMPARE(list->text(QAccessible::Name), u"Gliederung"_s);
        QTRY_COMPARE(outline->count(), 1);
        QCOMPARE(list->child(0)->text(QAccessible::Name), u"Zwei **fett**"_s);
        QCOMPARE(outline->currentRow(), -1);
        QTest::keyClick(editor, Qt::Key_Home);
        QTest::keyClicks(editor, u"# "_s);
        QTRY_COMPARE(outline->count(), 2);
        QCOMPARE(outline->item(0)->text(), u"Neu # Eins"_s);
        QCOMPARE(outline->currentRow(), 0);

        // Enter on a row: the caret on its heading, the heading at the top.
        outline->setFocus();
        outline->setCurrentRow(1);
        QTest::keyClick(outline, Qt::Key_Return);
        QCOMPARE(QApplication::focusWidget(), editor);
        const QTextBlock heading = editor->textCursor().block();
        QCOMPARE(heading.text(), u"## Zwei **fett**"_s);
        QCOMPARE(editor->textCursor().positionInBlock(), 0);
        QCOMPARE(editor->cursorForPosition(QPoint(0, 1)).block(), heading);
        QCOMPARE(outline->currentRow(), 1);

        PreviewPanel* preview = pane->preview();
        QCOMPARE(QAccessible::queryAccessibleInterface(preview)->text(QAccessible::Name),
                 u"Vorschau"_s);
        // Rendered, not the source: the "#" and "**" marks are gone.
        QTRY_VERIFY(preview->toPlainText().startsWith(u"Neu # Eins\nZeile"_s));
        QVERIFY(preview->verticalScrollBar()->value() > 0);
        QTest::keyClicks(editor, u"Dann "_s);
        QTRY_VERIFY(preview->toPlainText().contains(u"Dann ## Zwei fett"_s));
    }
};

ORVIK_WIDGET_TEST_MAIN(TestWritingTools)
#include "tst_writingtools.moc"
