#include "storefixture.h"
#include "ui/editor/editorpane.h"
#include "ui/editor/findbar.h"
#include "ui/editor/formatting.h"
#include "ui/editor/markdowneditor.h"
#include "ui/editor/outlinepanel.h"
#include "ui/editor/previewpanel.h"
#include "ui/window/mainwindow.h"
#include "widgettest.h"

#include <QAccessible>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
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
