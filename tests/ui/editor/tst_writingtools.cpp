#include "ui/editor/findbar.h"
#include "ui/editor/formatting.h"
#include "ui/editor/markdowneditor.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

using namespace Qt::StringLiterals;
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
};

QTEST_MAIN(TestWritingTools)
#include "tst_writingtools.moc"
