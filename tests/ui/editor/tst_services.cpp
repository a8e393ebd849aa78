#include "library/librarystore.h"
#include "spelling/spellchecker.h"
#include "storefixture.h"
#include "testenv.h"
#include "ui/editor/editorpane.h"
#include "ui/editor/findbar.h"
#include "ui/editor/markdowneditor.h"
#include "ui/editor/statusbar.h"
#include "widgettest.h"

#include <QAccessible>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPromise>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QToolButton>

using namespace orvik;
using namespace orvik::ui;

namespace {

const QString dictionary = u"/usr/share/hunspell/de_DE"_qs;

void type(QWidget* widget, const QString& text) {
    for (const QChar c : text) {
        if (c == u'\n')
            QTest::keyClick(widget, Qt::Key_Return);
        else
            QTest::sendKeyEvent(QTest::Click, widget, Qt::Key_unknown, QString(c), Qt::NoModifier);
    }
}

// The misspelt words as drawn: the stretches of the block layouts that
// carry the wave.
QStringList waved(const MarkdownEditor& editor) {
    QStringList found;
    for (QTextBlock b = editor.document()->begin(); b.isValid(); b = b.next()) {
        bool joined = false; // pieces of one word cut by other styling join
        for (const QTextLayout::FormatRange& f : b.layout()->formats()) {
            const bool wave = f.format.underlineStyle() == QTextCharFormat::SpellCheckUnderline;
            if (wave && joined)
                found.last() += b.text().mid(f.start, f.length);
            else if (wave)
                found.append(b.text().mid(f.start, f.length));
            joined = wave;
        }
    }
    return found;
}

QTextCharFormat formatAt(const MarkdownEditor& editor, int position) {
    const QTextBlock b = editor.document()->findBlock(position);
    for (const QTextLayout::FormatRange& f : b.layout()->formats()) {
        if (f.start <= position - b.position() && position - b.position() < f.start + f.length)
            return f.format;
    }
    return {};
}

QString accessibleName(QObject* object) {
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(object);
    return iface ? iface->text(QAccessible::Name) : u"<none>"_qs;
}

QAction* entry(const QMenu& menu, const QString& text) {
    for (QAction* a : menu.actions())
        if (a->text() == text)
            return a;
    return nullptr;
}

void press(QObject* object) {
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(object);
    QVERIFY(iface && iface->actionInterface());
    iface->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
}

} // namespace

class TestServices : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    orvik::test::StoreFixture m_fixture;
    QList<std::shared_ptr<QPromise<QString>>>& m_contexts = m_fixture.contexts;

    std::unique_ptr<LibraryStore> makeStore() {
        return std::make_unique<LibraryStore>(m_fixture.options(m_dir->path(), 80));
    }

    QString wordList() const { return m_dir->path() + u"/config/woerterbuch.txt"_qs; }

    // An editor on screen, so that the pass over the visible lines runs.
    static void show(MarkdownEditor& editor, const QString& text) {
        editor.resize(700, 500);
        editor.openDocument(u"/s.md"_qs, text);
        editor.show();
        QVERIFY(QTest::qWaitForWindowExposed(&editor));
        QApplication::processEvents();
    }

private Q_SLOTS:
    void init() {
        m_dir = std::make_unique<QTemporaryDir>();
        m_contexts.clear();
    }

    // Word segmentation.

    void wordsSkipAddressesNumbersAndSingleLetters() {
        const QString line =
            u"Die Größe 3D, B12 und https://orvik.de/Garten a geht’s post@orvik.de Äpfel"_qs;
        QStringList found;
        for (const spelling::Word& w : spelling::words(line))
            found.append(line.mid(w.start, w.length));
        QCOMPARE(found, (QStringList{u"Die"_qs, u"Größe"_qs, u"und"_qs, u"geht"_qs, u"Äpfel"_qs}));
    }

    // Spell checking.

    void marksMisspeltWordsOnly() {
        spelling::SpellChecker checker(dictionary, wordList());
        QVERIFY(checker.isValid());
        MarkdownEditor editor;
        QSignalSpy edits(&editor, &MarkdownEditor::textEdited);
        editor.setSpellChecker(&checker);
        show(
            editor,
            u"Schreibne Schreiben Äpfel. Orvik kann Markdown.\n\n`Schreibne` und [Text](Schreibne)\n"_qs
            u"```\nSchreibne\n```\n**Schreibne** dort\n"_qs);
        QTRY_COMPARE(waved(editor), (QStringList{u"Schreibne"_qs, u"Schreibne"_qs}));
        // The wave on the bold word keeps its bold face.
        const int bold = int(editor.text().lastIndexOf(u"Schreibne"_qs));
        QCOMPARE(formatAt(editor, bold).underlineStyle(), QTextCharFormat::SpellCheckUnderline);
        QVERIFY(formatAt(editor, bold).fontWeight() >= QFont::Bold);
        QCOMPARE(formatAt(editor, 0).underlineStyle(), QTextCharFormat::SpellCheckUnderline);
        QVERIFY(formatAt(editor, 10).underlineStyle() != QTextCharFormat::SpellCheckUnderline);
        // The wave is no edit.
        QCOMPARE(edits.count(), 0);
        QVERIFY(!editor.document()->isUndoAvailable());
        QVERIFY(!editor.document()->isModified());
    }

    void wordBeingTypedIsJudgedWhenLeft() {
        spelling::SpellChecker checker(dictionary, wordList());
        MarkdownEditor editor;
        editor.setSpellChecker(&checker);
        show(editor, QString());
        editor.setFocus();
        type(&editor, u"Wir Schreibne"_qs);
        QApplication::processEvents();
        QCOMPARE(waved(editor), QStringList());
        type(&editor, u" "_qs);
        QApplication::processEvents();
        QCOMPARE(waved(editor), QStringList{u"Schreibne"_qs});
        type(&editor, u"Garten"_qs);
        editor.moveCursor(QTextCursor::Start);
        QApplication::processEvents();
        QCOMPARE(waved(editor), QStringList{u"Schreibne"_qs});
    }

    void farLinesAreCheckedWhenScrolledTo() {
        spelling::SpellChecker checker(dictionary, wordList());
        MarkdownEditor editor;
        editor.setSpellChecker(&checker);
        show(editor, u"Eine ruhige Zeile.\n"_qs.repeated(3000) + u"Am Ende ein Feler.\n"_qs);
        QApplication::processEvents();
        QCOMPARE(waved(editor), QStringList());
        editor.moveCursor(QTextCursor::End);
        editor.ensureCursorVisible();
        QTRY_COMPARE(waved(editor), QStringList{u"Feler"_qs});
    }

    void menuAddsWordsAndReplacesByEdit() {
        spelling::SpellChecker checker(dictionary, wordList());
        MarkdownEditor editor;
        editor.setSpellChecker(&checker);
        show(editor, u"Wir Schreibne heute.\nDer Orvikel schreibt.\n"_qs);
        QTRY_COMPARE(waved(editor), (QStringList{u"Schreibne"_qs, u"Orvikel"_qs}));

        // Adding a word is no edit and outlives the checker.
        std::unique_ptr<QMenu> menu(editor.createContextMenu(26));
        QAction* add = entry(*menu, u"Zum Wörterbuch hinzufügen"_qs);
        QVERIFY(add);
        add->trigger();
        QTRY_COMPARE(waved(editor), QStringList{u"Schreibne"_qs});
        QVERIFY(!editor.document()->isUndoAvailable());
        QCOMPARE(QString::fromUtf8(test::readBytes(wordList())), u"Orvikel\n"_qs);
        spelling::SpellChecker later(dictionary, wordList());
        QVERIFY(later.isCorrect(u"Orvikel"));
        QVERIFY(!later.isCorrect(u"Schreibne"));

        // A suggestion replaces the word as one edit.
        QSignalSpy edits(&editor, &MarkdownEditor::textEdited);
        menu.reset(editor.createContextMenu(6));
        QAction* fix = entry(*menu, u"Schreiben"_qs);
        QVERIFY(fix);
        fix->trigger();
        QCOMPARE(editor.text(), u"Wir Schreiben heute.\nDer Orvikel schreibt.\n"_qs);
        QCOMPARE(edits.count(), 1);
        QTRY_COMPARE(waved(editor), QStringList());
        // Away from any misspelling, only the standard entries.
        menu.reset(editor.createContextMenu(1));
        QVERIFY(!entry(*menu, u"Zum Wörterbuch hinzufügen"_qs));
    }

    // Find bar.

    void findBarCountsAndWraps() {
        MarkdownEditor editor;
        FindBar bar(&editor);
        editor.openDocument(u"/f.md"_qs, u"Apfel und Birne, apfel\nund noch ein APFEL."_qs);
        bar.open();
        bar.field()->setText(u"apfel"_qs);
        QCOMPARE(bar.hits(), (QList<qsizetype>{0, 17, 36}));
        QCOMPARE(bar.countLabel()->text(), u"1 von 3"_qs);
        QCOMPARE(editor.textCursor().selectedText(), u"Apfel"_qs);
        bar.findNext();
        QCOMPARE(bar.countLabel()->text(), u"2 von 3"_qs);
        QCOMPARE(editor.textCursor().selectionStart(), 17);
        bar.findNext();
        bar.findNext();
        QCOMPARE(bar.countLabel()->text(), u"1 von 3"_qs);
        bar.findPrevious();
        QCOMPARE(bar.countLabel()->text(), u"3 von 3"_qs);
        QCOMPARE(editor.textCursor().selectedText(), u"APFEL"_qs);

        bar.field()->setText(u"Kirsche"_qs);
        QCOMPARE(bar.countLabel()->text(), u"Keine Treffer"_qs);
        QVERIFY(!bar.nextButton()->isEnabled());
        // Never an edit.
        QCOMPARE(editor.text(), u"Apfel und Birne, apfel\nund noch ein APFEL."_qs);
        // Typing counts anew.
        editor.moveCursor(QTextCursor::End);
        type(&editor, u" Kirsche"_qs);
        QCOMPARE(bar.countLabel()->text(), u"1 Treffer"_qs);
        bar.findNext();
        QCOMPARE(bar.countLabel()->text(), u"1 von 1"_qs);

        // A plain view breaks rows where the text does not: hits behind
        // such breaks are found and selected all the same.
        editor.openDocument(u"/g.md"_qs, u"x"_qs.repeated(5000) + u" Apfel "_qs +
                                             u"y"_qs.repeated(5000) + u"Apfel"_qs);
        QVERIFY(editor.showsPlain());
        bar.field()->setText(u"apfel"_qs);
        QCOMPARE(bar.hits(), (QList<qsizetype>{5001, 10007}));
        QCOMPARE(editor.textCursor().selectedText(), u"Apfel"_qs);
        QCOMPARE(bar.countLabel()->text(), u"1 von 2"_qs);
        bar.findNext();
        QCOMPARE(editor.textCursor().selectedText(), u"Apfel"_qs);
        QCOMPARE(bar.countLabel()->text(), u"2 von 2"_qs);
    }

    void findBarMarksTheHitsInView() {
        QWidget frame; // outlives the two below, which leave it as they go
        MarkdownEditor editor;
        FindBar bar(&editor);
        editor.setParent(&frame);
        bar.setParent(&frame);
        editor.resize(600, 300);
        frame.resize(600, 360);
        bar.move(0, 320);
        editor.openDocument(u"/f.md"_qs, u"Eine Zeile mit einem Apfel.\n"_qs.repeated(2000));
        frame.show();
        QVERIFY(QTest::qWaitForWindowExposed(&frame));
        bar.open();
        bar.field()->setText(u"apfel"_qs);
        QCOMPARE(bar.hits().size(), 2000);
        // Only around the view: a few screens of lines, starting at the top.
        const QList<qsizetype> top = bar.markedHits();
        QVERIFY(!top.isEmpty());
        QVERIFY(top.size() < 200);
        QCOMPARE(top.first(), bar.hits().first());
        QCOMPARE(editor.extraSelections().size(), top.size());
        QCOMPARE(editor.extraSelections().first().cursor.selectedText(), u"Apfel"_qs);
        // Scrolling brings the hits that come into view.
        editor.verticalScrollBar()->setValue(editor.verticalScrollBar()->maximum());
        QVERIFY(bar.markedHits().contains(bar.hits().last()));
        QVERIFY(!bar.markedHits().contains(bar.hits().first()));
        // Another text (another sheet, a reload) is counted and marked anew.
        editor.openDocument(u"/g.md"_qs, u"Apfel, Apfel.\n"_qs);
        QTRY_COMPARE(bar.hits(), (QList<qsizetype>{0, 7}));
        QTRY_COMPARE(bar.markedHits(), (QList<qsizetype>{0, 7}));
        QCOMPARE(bar.countLabel()->text(), u"2 Treffer"_qs);
        // Closed, nothing stays marked; the text itself never changed.
        bar.close();
        QVERIFY(editor.extraSelections().isEmpty());
        QCOMPARE(editor.text(), u"Apfel, Apfel.\n"_qs);
    }

    void findBarInThePaneByKeyboard() {
        auto store = makeStore();
        EditorPane pane(*store);
        QVERIFY(store->quickNewSheet());
        store->setCurrentText(u"Ein Ort, ein Wort, ein Ende."_qs);
        QTRY_VERIFY(pane.editor());
        QTRY_COMPARE(pane.editor()->text(), u"Ein Ort, ein Wort, ein Ende."_qs);
        pane.resize(800, 600);
        pane.show();
        QVERIFY(QTest::qWaitForWindowExposed(&pane));
        pane.editor()->setFocus();
        QTRY_VERIFY(pane.editor()->hasFocus());
        FindBar* bar = pane.findBar();
        QVERIFY(bar && bar->isHidden());
        // Above the status bar.
        QTest::keyClick(pane.editor(), Qt::Key_F, Qt::ControlModifier);
        QTRY_VERIFY(bar->isVisible());
        QVERIFY(bar->geometry().bottom() <= pane.statusBar()->geometry().top());
        QVERIFY(bar->field()->hasFocus());
        QTest::keyClicks(bar->field(), u"ein"_qs);
        QCOMPARE(bar->countLabel()->text(), u"1 von 3"_qs);
        QTest::keyClick(bar->field(), Qt::Key_Return);
        QCOMPARE(bar->countLabel()->text(), u"2 von 3"_qs);
        QTest::keyClick(bar->field(), Qt::Key_F3);
        QCOMPARE(bar->countLabel()->text(), u"3 von 3"_qs);
        QTest::keyClick(bar->field(), Qt::Key_Return, Qt::ShiftModifier);
        QCOMPARE(bar->countLabel()->text(), u"2 von 3"_qs);
        QTest::keyClick(pane.editor(), Qt::Key_F3, Qt::ShiftModifier);
        QCOMPARE(bar->countLabel()->text(), u"1 von 3"_qs);

        QCOMPARE(accessibleName(bar->field()), u"Im Blatt suchen"_qs);
        QCOMPARE(accessibleName(bar->countLabel()), u"Treffer"_qs);
        QCOMPARE(accessibleName(bar->nextButton()), u"Nächster Treffer"_qs);
        QCOMPARE(accessibleName(bar->previousButton()), u"Vorheriger Treffer"_qs);
        QCOMPARE(accessibleName(bar->closeButton()), u"Suchleiste schließen"_qs);
        press(bar->nextButton());
        QCOMPARE(bar->countLabel()->text(), u"2 von 3"_qs);
        press(bar->previousButton());
        QCOMPARE(bar->countLabel()->text(), u"1 von 3"_qs);

        QTest::keyClick(bar->field(), Qt::Key_Escape);
        QVERIFY(bar->isHidden());
        QTRY_VERIFY(pane.editor()->hasFocus());
        QCOMPARE(store->currentText(), u"Ein Ort, ein Wort, ein Ende."_qs);
        QTest::keyClick(pane.editor(), Qt::Key_F, Qt::ControlModifier);
        QTRY_VERIFY(bar->isVisible());
        press(bar->closeButton());
        QVERIFY(bar->isHidden());
    }

    // Typographic substitution.

    void quotesInTheTypicalPositions_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("shown");
        QTest::newRow("turned off") << u"\"a\" -- 'b'"_qs << u"\"a\" -- 'b'"_qs;
        QTest::newRow("start of text") << u"\"Ja\""_qs << u"„Ja“"_qs;
        QTest::newRow("after a space") << u"Er sagte \"gut\"."_qs << u"Er sagte „gut“."_qs;
        QTest::newRow("after a bracket") << u"(\"so\")"_qs << u"(„so“)"_qs;
        QTest::newRow("line start") << u"a\n\"b\""_qs << u"a\n„b“"_qs;
        QTest::newRow("single") << u"Sie: 'nein'!"_qs << u"Sie: ‚nein‘!"_qs;
        QTest::newRow("apostrophe") << u"Wie geht's?"_qs << u"Wie geht’s?"_qs;
        QTest::newRow("dash") << u"Berlin -- Hamburg"_qs << u"Berlin – Hamburg"_qs;
        QTest::newRow("spaced hyphen")
            << u"Berlin - Hamburg - Kiel"_qs << u"Berlin – Hamburg – Kiel"_qs;
        QTest::newRow("list items")
            << u"- a\n  - b\n> - c\n1. - d"_qs << u"- a\n  - b\n> - c\n1. - d"_qs;
        QTest::newRow("table markers") << u"| a | b |\n| - | - |"_qs << u"| a | b |\n| - | - |"_qs;
        QTest::newRow("spaced hyphen in code") << u"`a - b` c - d"_qs << u"`a - b` c – d"_qs;
        QTest::newRow("rule") << u"---"_qs << u"---"_qs;
        QTest::newRow("comment") << u"<!-- x"_qs << u"<!-- x"_qs;
        QTest::newRow("code span") << u"`\"a\" -- 'b'` \"c\""_qs << u"`\"a\" -- 'b'` „c“"_qs;
        QTest::newRow("fence") << u"```\nx = \"a\" -- 'b'\n```\n\"c\""_qs
                               << u"```\nx = \"a\" -- 'b'\n```\n„c“"_qs;
        QTest::newRow("open fence") << u"```\n\"a\""_qs << u"```\n\"a\""_qs;
    }

    void quotesInTheTypicalPositions() {
        QFETCH(QString, typed);
        QFETCH(QString, shown);
        MarkdownEditor editor;
        editor.setTypographicSubstitution(qstrcmp(QTest::currentDataTag(), "turned off") != 0);
        editor.openDocument(u"/q.md"_qs, QString());
        type(&editor, typed);
        QCOMPARE(editor.text(), shown);
    }

    void apostropheBetweenLettersInsideSingleQuotes() {
        MarkdownEditor editor;
        editor.openDocument(u"/a.md"_qs, u"‚Na, gehts"_qs);
        QTextCursor caret(editor.document());
        caret.setPosition(9);
        editor.setTextCursor(caret);
        type(&editor, u"'"_qs);
        QCOMPARE(editor.text(), u"‚Na, geht’s"_qs);
        editor.moveCursor(QTextCursor::End);
        type(&editor, u"'"_qs);
        QCOMPARE(editor.text(), u"‚Na, geht’s‘"_qs);
    }

    void oneUndoTakesASubstitutionBack() {
        MarkdownEditor editor;
        editor.openDocument(u"/u.md"_qs, QString());
        type(&editor, u"Er sagte \"Hallo"_qs);
        QCOMPARE(editor.text(), u"Er sagte „Hallo"_qs);
        type(&editor, u"\""_qs);
        QCOMPARE(editor.text(), u"Er sagte „Hallo“"_qs);
        editor.undo();
        QCOMPARE(editor.text(), u"Er sagte „Hallo\""_qs);
        QCOMPARE(editor.textCursor().position(), int(editor.text().size()));
        editor.redo();
        QCOMPARE(editor.text(), u"Er sagte „Hallo“"_qs);
        type(&editor, u" a--"_qs);
        QCOMPARE(editor.text(), u"Er sagte „Hallo“ a–"_qs);
        editor.undo();
        QCOMPARE(editor.text(), u"Er sagte „Hallo“ a--"_qs);
        type(&editor, u" - "_qs);
        QCOMPARE(editor.text(), u"Er sagte „Hallo“ a-- – "_qs);
        editor.undo();
        QCOMPARE(editor.text(), u"Er sagte „Hallo“ a-- - "_qs);
    }

    void substitutionReachesTheStore() {
        auto store = makeStore();
        EditorPane pane(*store);
        QVERIFY(store->quickNewSheet());
        QTRY_VERIFY(pane.editor());
        const QString path = store->selectedSheet()->path();
        QSignalSpy saved(store.get(), &LibraryStore::saved);
        type(pane.editor(), u"\"Ja\" -- gut"_qs);
        QVERIFY(store->currentText().startsWith(u"„Ja“ – gut"_qs));
        QCOMPARE(store->currentText(), pane.editor()->text());
        QTRY_VERIFY(saved.count() > 0);
        QTRY_COMPARE(QString::fromUtf8(test::readBytes(path)), store->currentText());
    }
};

ORVIK_WIDGET_TEST_MAIN(TestServices)

#include "tst_services.moc"
