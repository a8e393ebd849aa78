#include "spelling/spellchecker.h"
#include "store/librarystore.h"
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

using namespace Qt::StringLiterals;

using namespace orvik;
using namespace orvik::ui;

namespace {

const QString dictionary = u"/usr/share/hunspell/de_DE"_s;

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
    return iface ? iface->text(QAccessible::Name) : u"<none>"_s;
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

    QString wordList() const { return m_dir->path() + u"/config/woerterbuch.txt"_s; }

    // An editor on screen, so that the pass over the visible lines runs.
    static void show(MarkdownEditor& editor, const QString& text) {
        editor.resize(700, 500);
        editor.openDocument(u"/s.md"_s, text);
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
            u"Die Größe 3D, B12 und https://orvik.de/Garten a geht’s post@orvik.de Äpfel"_s;
        QStringList found;
        for (const spelling::Word& w : spelling::words(line))
            found.append(line.mid(w.start, w.length));
        QCOMPARE(found, (QStringList{u"Die"_s, u"Größe"_s, u"und"_s, u"geht"_s, u"Äpfel"_s}));
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
            u"Schreibne Schreiben Äpfel. Orvik kann Markdown.\n\n`Schreibne` und [Text](Schreibne)\n"_s
            u"```\nSchreibne\n```\n**Schreibne** dort\n"_s);
        QTRY_COMPARE(waved(editor), (QStringList{u"Schreibne"_s, u"Schreibne"_s}));
        // The wave on the bold word keeps its bold face.
        const int bold = int(editor.text().lastIndexOf(u"Schreibne"_s));
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
        type(&editor, u"Wir Schreibne"_s);
        QApplication::processEvents();
        QCOMPARE(waved(editor), QStringList());
        type(&editor, u" "_s);
        QApplication::processEvents();
        QCOMPARE(waved(editor), QStringList{u"Schreibne"_s});
        type(&editor, u"Garten"_s);
        editor.moveCursor(QTextCursor::Start);
        QApplication::processEvents();
        QCOMPARE(waved(editor), QStringList{u"Schreibne"_s});
    }

    void farLinesAreCheckedWhenScrolledTo() {
        spelling::SpellChecker checker(dictionary, wordList());
        MarkdownEditor editor;
        editor.setSpellChecker(&checker);
        show(editor, u"Eine ruhige Zeile.\n"_s.repeated(3000) + u"Am Ende ein Feler.\n"_s);
        QApplication::processEvents();
        QCOMPARE(waved(editor), QStringList());
        editor.moveCursor(QTextCursor::End);
        editor.ensureCursorVisible();
        QTRY_COMPARE(waved(editor), QStringList{u"Feler"_s});
    }

    void menuAddsWordsAndReplacesByEdit() {
        spelling::SpellChecker checker(dictionary, wordList());
        MarkdownEditor editor;
        editor.setSpellChecker(&checker);
        show(editor, u"Wir Schreibne heute.\nDer Orvikel schreibt.\n"_s);
        QTRY_COMPARE(waved(editor), (QStringList{u"Schreibne"_s, u"Orvikel"_s}));

        // Adding a word is no edit and outlives the checker.
        std::unique_ptr<QMenu> menu(editor.createContextMenu(26));
        QAction* add = entry(*menu, u"Zum Wörterbuch hinzufügen"_s);
        QVERIFY(add);
        add->trigger();
        QTRY_COMPARE(waved(editor), QStringList{u"Schreibne"_s});
        QVERIFY(!editor.document()->isUndoAvailable());
        QCOMPARE(QString::fromUtf8(test::readBytes(wordList())), u"Orvikel\n"_s);
        spelling::SpellChecker later(dictionary, wordList());
        QVERIFY(later.isCorrect(u"Orvikel"));
        QVERIFY(!later.isCorrect(u"Schreibne"));

        // A suggestion replaces the word as one edit.
        QSignalSpy edits(&editor, &MarkdownEditor::textEdited);
        menu.reset(editor.createContextMenu(6));
        QAction* fix = entry(*menu, u"Schreiben"_s);
        QVERIFY(fix);
        fix->trigger();
        QCOMPARE(editor.text(), u"Wir Schreiben heute.\nDer Orvikel schreibt.\n"_s);
        QCOMPARE(edits.count(), 1);
        QTRY_COMPARE(waved(editor), QStringList());
        // Away from any misspelling, only the standard entries.
        menu.reset(editor.createContextMenu(1));
        QVERIFY(!entry(*menu, u"Zum Wörterbuch hinzufügen"_s));
    }

    // Find bar.

    void findBarCountsAndWraps() {
        MarkdownEditor editor;
        FindBar bar(&editor);
        editor.openDocument(u"/f.md"_s, u"Apfel und Birne, apfel\nund noch ein APFEL."_s);
        bar.open();
        bar.field()->setText(u"apfel"_s);
        QCOMPARE(bar.hits(), (QList<qsizetype>{0, 17, 36}));
        QCOMPARE(bar.countLabel()->text(), u"1 von 3"_s);
        QCOMPARE(editor.textCursor().selectedText(), u"Apfel"_s);
        bar.findNext();
        QCOMPARE(bar.countLabel()->text(), u"2 von 3"_s);
        QCOMPARE(editor.textCursor().selectionStart(), 17);
        bar.findNext();
        bar.findNext();
        QCOMPARE(bar.countLabel()->text(), u"1 von 3"_s);
        bar.findPrevious();
        QCOMPARE(bar.countLabel()->text(), u"3 von 3"_s);
        QCOMPARE(editor.textCursor().selectedText(), u"APFEL"_s);

        bar.field()->setText(u"Kirsche"_s);
        QCOMPARE(bar.countLabel()->text(), u"Keine Treffer"_s);
        QVERIFY(!bar.nextButton()->isEnabled());
        // Never an edit.
        QCOMPARE(editor.text(), u"Apfel und Birne, apfel\nund noch ein APFEL."_s);
        // Typing counts anew.
        editor.moveCursor(QTextCursor::End);
        type(&editor, u" Kirsche"_s);
        QCOMPARE(bar.countLabel()->text(), u"1 Treffer"_s);
        bar.findNext();
        QCOMPARE(bar.countLabel()->text(), u"1 von 1"_s);

        // A plain view breaks rows where the text does not: hits behind
        // such breaks are found and selected all the same.
        editor.openDocument(u"/g.md"_s, u"x"_s.repeated(5000) + u" Apfel "_s +
                                            u"y"_s.repeated(5000) + u"Apfel"_s);
        QVERIFY(editor.showsPlain());
        bar.field()->setText(u"apfel"_s);
        QCOMPARE(bar.hits(), (QList<qsizetype>{5001, 10007}));
        QCOMPARE(editor.textCursor().selectedText(), u"Apfel"_s);
        QCOMPARE(bar.countLabel()->text(), u"1 von 2"_s);
        bar.findNext();
        QCOMPARE(editor.textCursor().selectedText(), u"Apfel"_s);
        QCOMPARE(bar.countLabel()->text(), u"2 von 2"_s);
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
        editor.openDocument(u"/f.md"_s, u"Eine Zeile mit einem Apfel.\n"_s.repeated(2000));
        frame.show();
        QVERIFY(QTest::qWaitForWindowExposed(&frame));
        bar.open();
        bar.field()->setText(u"apfel"_s);
        QCOMPARE(bar.hits().size(), 2000);
        // Only around the view: a few screens of lines, starting at the top.
        const QList<qsizetype> top = bar.markedHits();
        QVERIFY(!top.isEmpty());
        QVERIFY(top.size() < 200);
        QCOMPARE(top.first(), bar.hits().first());
        QCOMPARE(editor.extraSelections().size(), top.size());
        QCOMPARE(editor.extraSelections().first().cursor.selectedText(), u"Apfel"_s);
        // Scrolling brings the hits that come into view.
        editor.verticalScrollBar()->setValue(editor.verticalScrollBar()->maximum());
        QVERIFY(bar.markedHits().contains(bar.hits().last()));
        QVERIFY(!bar.markedHits().contains(bar.hits().first()));
        // Another text (another sheet, a reload) is counted and marked anew.
        editor.openDocument(u"/g.md"_s, u"Apfel, Apfel.\n"_s);
        QTRY_COMPARE(bar.hits(), (QList<qsizetype>{0, 7}));
        QTRY_COMPARE(bar.markedHits(), (QList<qsizetype>{0, 7}));
        QCOMPARE(bar.countLabel()->text(), u"2 Treffer"_s);
        // Closed, nothing stays marked; the text itself never changed.
        bar.close();
        QVERIFY(editor.extraSelections().isEmpty());
        QCOMPARE(editor.text(), u"Apfel, Apfel.\n"_s);
    }

    void findBarInThePaneByKeyboard() {
        auto store = makeStore();
        EditorPane pane(*store);
        QVERIFY(store->quickNewSheet());
        store->setCurrentText(u"Ein Ort, ein Wort, ein Ende."_s);
        QTRY_VERIFY(pane.editor());
        QTRY_COMPARE(pane.editor()->text(), u"Ein Ort, ein Wort, ein Ende."_s);
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
        QTest::keyClicks(bar->field(), u"ein"_s);
        QCOMPARE(bar->countLabel()->text(), u"1 von 3"_s);
        QTest::keyClick(bar->field(), Qt::Key_Return);
        QCOMPARE(bar->countLabel()->text(), u"2 von 3"_s);
        QTest::keyClick(bar->field(), Qt::Key_F3);
        QCOMPARE(bar->countLabel()->text(), u"3 von 3"_s);
        QTest::keyClick(bar->field(), Qt::Key_Return, Qt::ShiftModifier);
        QCOMPARE(bar->countLabel()->text(), u"2 von 3"_s);
        QTest::keyClick(pane.editor(), Qt::Key_F3, Qt::ShiftModifier);
        QCOMPARE(bar->countLabel()->text(), u"1 von 3"_s);

        QCOMPARE(accessibleName(bar->field()), u"Im Blatt suchen"_s);
        QCOMPARE(accessibleName(bar->countLabel()), u"Treffer"_s);
        QCOMPARE(accessibleName(bar->nextButton()), u"Nächster Treffer"_s);
        QCOMPARE(accessibleName(bar->previousButton()), u"Vorheriger Treffer"_s);
        QCOMPARE(accessibleName(bar->closeButton()), u"Suchleiste schließen"_s);
        press(bar->nextButton());
        QCOMPARE(bar->countLabel()->text(), u"2 von 3"_s);
        press(bar->previousButton());
        QCOMPARE(bar->countLabel()->text(), u"1 von 3"_s);

        QTest::keyClick(bar->field(), Qt::Key_Escape);
        QVERIFY(bar->isHidden());
        QTRY_VERIFY(pane.editor()->hasFocus());
        QCOMPARE(store->currentText(), u"Ein Ort, ein Wort, ein Ende."_s);
        QTest::keyClick(pane.editor(), Qt::Key_F, Qt::ControlModifier);
        QTRY_VERIFY(bar->isVisible());
        press(bar->closeButton());
        QVERIFY(bar->isHidden());
    }

    // Typographic substitution.

    void quotesInTheTypicalPositions_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("shown");
        QTest::newRow("turned off") << u"\"a\" -- 'b'"_s << u"\"a\" -- 'b'"_s;
        QTest::newRow("start of text") << u"\"Ja\""_s << u"„Ja“"_s;
        QTest::newRow("after a space") << u"Er sagte \"gut\"."_s << u"Er sagte „gut“."_s;
        QTest::newRow("after a bracket") << u"(\"so\")"_s << u"(„so“)"_s;
        QTest::newRow("line start") << u"a\n\"b\""_s << u"a\n„b“"_s;
        QTest::newRow("single") << u"Sie: 'nein'!"_s << u"Sie: ‚nein‘!"_s;
        QTest::newRow("apostrophe") << u"Wie geht's?"_s << u"Wie geht’s?"_s;
        QTest::newRow("dash") << u"Berlin -- Hamburg"_s << u"Berlin – Hamburg"_s;
        QTest::newRow("spaced hyphen")
            << u"Berlin - Hamburg - Kiel"_s << u"Berlin – Hamburg – Kiel"_s;
        QTest::newRow("list items")
            << u"- a\n  - b\n> - c\n1. - d"_s << u"- a\n  - b\n> - c\n1. - d"_s;
        QTest::newRow("table markers") << u"| a | b |\n| - | - |"_s << u"| a | b |\n| - | - |"_s;
        QTest::newRow("spaced hyphen in code") << u"`a - b` c - d"_s << u"`a - b` c – d"_s;
        QTest::newRow("rule") << u"---"_s << u"---"_s;
        QTest::newRow("comment") << u"<!-- x"_s << u"<!-- x"_s;
        QTest::newRow("code span") << u"`\"a\" -- 'b'` \"c\""_s << u"`\"a\" -- 'b'` „c“"_s;
        QTest::newRow("fence") << u"```\nx = \"a\" -- 'b'\n```\n\"c\""_s
                               << u"```\nx = \"a\" -- 'b'\n```\n„c“"_s;
        QTest::newRow("open fence") << u"```\n\"a\""_s << u"```\n\"a\""_s;
    }

    void quotesInTheTypicalPositions() {
        QFETCH(QString, typed);
        QFETCH(QString, shown);
        MarkdownEditor editor;
        editor.setTypographicSubstitution(qstrcmp(QTest::currentDataTag(), "turned off") != 0);
        editor.openDocument(u"/q.md"_s, QString());
        type(&editor, typed);
        QCOMPARE(editor.text(), shown);
    }

    void apostropheBetweenLettersInsideSingleQuotes() {
        MarkdownEditor editor;
        editor.openDocument(u"/a.md"_s, u"‚Na, gehts"_s);
        QTextCursor caret(editor.document());
        caret.setPosition(9);
        editor.setTextCursor(caret);
        type(&editor, u"'"_s);
        QCOMPARE(editor.text(), u"‚Na, geht’s"_s);
        editor.moveCursor(QTextCursor::End);
        type(&editor, u"'"_s);
        QCOMPARE(editor.text(), u"‚Na, geht’s‘"_s);
    }

    void oneUndoTakesASubstitutionBack() {
        MarkdownEditor editor;
        editor.openDocument(u"/u.md"_s, QString());
        type(&editor, u"Er sagte \"Hallo"_s);
        QCOMPARE(editor.text(), u"Er sagte „Hallo"_s);
        type(&editor, u"\""_s);
        QCOMPARE(editor.text(), u"Er sagte „Hallo“"_s);
        editor.undo();
        QCOMPARE(editor.text(), u"Er sagte „Hallo\""_s);
        QCOMPARE(editor.textCursor().position(), int(editor.text().size()));
        editor.redo();
        QCOMPARE(editor.text(), u"Er sagte „Hallo“"_s);
        type(&editor, u" a--"_s);
        QCOMPARE(editor.text(), u"Er sagte „Hallo“ a–"_s);
        editor.undo();
        QCOMPARE(editor.text(), u"Er sagte „Hallo“ a--"_s);
        type(&editor, u" - "_s);
        QCOMPARE(editor.text(), u"Er sagte „Hallo“ a-- – "_s);
        editor.undo();
        QCOMPARE(editor.text(), u"Er sagte „Hallo“ a-- - "_s);
    }

    void substitutionReachesTheStore() {
        auto store = makeStore();
        EditorPane pane(*store);
        QVERIFY(store->quickNewSheet());
        QTRY_VERIFY(pane.editor());
        const QString path = store->selectedSheet()->path();
        QSignalSpy saved(store.get(), &LibraryStore::saved);
        type(pane.editor(), u"\"Ja\" -- gut"_s);
        QVERIFY(store->currentText().startsWith(u"„Ja“ – gut"_s));
        QCOMPARE(store->currentText(), pane.editor()->text());
        QTRY_VERIFY(saved.count() > 0);
        QTRY_COMPARE(QString::fromUtf8(test::readBytes(path)), store->currentText());
    }
};

ORVIK_WIDGET_TEST_MAIN(TestServices)

#include "tst_services.moc"
