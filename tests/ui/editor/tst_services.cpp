#include "spelling/spellchecker.h"
#include "store/librarystore.h"
#include "storefixture.h"
#include "ui/editor/editorpane.h"
#include "ui/editor/findbar.h"
#include "ui/editor/markdowneditor.h"
#include "ui/editor/statusbar.h"
#include "widgettest.h"

#include <QSignalSpy>
#include <QtWidgets>

using namespace Qt::StringLiterals;

using namespace orvik;
using namespace orvik::ui;

namespace {

void type(QWidget* widget, const QString& text) {
    for (const QChar c : text) {
        if (c == u'\n')
            QTest::keyClick(widget, Qt::Key_Return);
        else
            QTest::sendKeyEvent(QTest::Click, widget, Qt::Key_unknown, QString(c), Qt::NoModifier);
    }
}

// The misspelt words as drawn, pieces of one word cut by other styling joined.
QStringList waved(const MarkdownEditor& editor) {
    QStringList found;
    for (QTextBlock b = editor.document()->begin(); b.isValid(); b = b.next()) {
        int end = -1;
        for (const QTextLayout::FormatRange& f : b.layout()->formats()) {
            if (f.format.underlineStyle() != QTextCharFormat::SpellCheckUnderline)
                continue;
            if (f.start != end)
                found.append(QString());
            found.last() += b.text().mid(f.start, f.length);
            end = f.start + f.length;
        }
    }
    return found;
}

QTextCharFormat formatAt(const MarkdownEditor& editor, int position) {
    const QTextBlock b = editor.document()->findBlock(position);
    for (const QTextLayout::FormatRange& f : b.layout()->formats())
        if (f.start <= position - b.position() && position - b.position() < f.start + f.length)
            return f.format;
    return {};
}

QAction* entry(const QMenu& menu, const QString& text) {
    for (QAction* a : menu.actions())
        if (a->text() == text)
            return a;
    return nullptr;
}

} // namespace

class TestServices : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    orvik::test::StoreFixture m_fixture;
    std::unique_ptr<spelling::SpellChecker> m_checker;
    std::unique_ptr<MarkdownEditor> m_editor;

    QString wordList() const { return m_dir->path() + u"/config/woerterbuch.txt"_s; }

    // A spell-checking editor on screen, so that the pass over the visible lines runs.
    MarkdownEditor& spellEditor(const QString& text) {
        m_checker =
            std::make_unique<spelling::SpellChecker>(u"/usr/share/hunspell/de_DE"_s, wordList());
        m_editor = std::make_unique<MarkdownEditor>();
        m_editor->setSpellChecker(m_checker.get());
        m_editor->resize(700, 500);
        m_editor->openDocument(u"/s.md"_s, text);
        m_editor->show();
        [[maybe_unused]] const bool exposed = QTest::qWaitForWindowExposed(m_editor.get());
        QApplication::processEvents();
        return *m_editor;
    }

private Q_SLOTS:
    void init() { m_dir = std::make_unique<QTemporaryDir>(); }

    void cleanup() {
        m_editor.reset();
        m_checker.reset();
    }

    void wordsSkipAddressesNumbersAndSingleLetters() {
        const QString line =
            u"Die Größe 3D, B12 und https://orvik.de/Garten a geht’s post@orvik.de Äpfel"_s;
        QStringList found;
        for (const spelling::Word& w : spelling::words(line))
            found.append(line.mid(w.start, w.length));
        QCOMPARE(found, (QStringList{u"Die"_s, u"Größe"_s, u"und"_s, u"geht"_s, u"Äpfel"_s}));
    }

    // Misspelt prose is marked (not code, links, the app's words), far lines once scrolled
    // to; the marks and adding a word are no edit, a suggestion replaces the word as one.
    void marksMisspeltWordsAndTheMenuAddsOrReplaces() {
        const QString head =
            u"Schreibne Schreiben Äpfel. Orvik kann Markdown. Der Orvikel schreibt.\n\n"
            u"`Schreibne` und [Text](Schreibne)\n```\nSchreibne\n```\n**Schreibne** dort\n"_s;
        MarkdownEditor& editor = spellEditor(head + u"Eine ruhige Zeile.\n"_s.repeated(3000) +
                                             u"Am Ende ein Feler.\n"_s);
        QVERIFY(m_checker->isValid());
        QSignalSpy edits(&editor, &MarkdownEditor::textEdited);
        QTRY_COMPARE(waved(editor), (QStringList{u"Schreibne"_s, u"Orvikel"_s, u"Schreibne"_s}));
        // The wave on the bold word keeps its bold face.
        const int bold = int(head.lastIndexOf(u"Schreibne"_s));
        QCOMPARE(formatAt(editor, bold).underlineStyle(), QTextCharFormat::SpellCheckUnderline);
        QVERIFY(formatAt(editor, bold).fontWeight() >= QFont::Bold);
        std::unique_ptr<QMenu> menu(editor.createContextMenu(int(head.indexOf(u"Orvikel"_s)) + 2));
        entry(*menu, u"Zum Wörterbuch hinzufügen"_s)->trigger();
        QTRY_COMPARE(waved(editor), (QStringList{u"Schreibne"_s, u"Schreibne"_s}));
        QCOMPARE(edits.count(), 0);
        QVERIFY(!editor.document()->isUndoAvailable() && !editor.document()->isModified());
        QCOMPARE(test::readBytes(wordList()), "Orvikel\n");
        spelling::SpellChecker later(u"/usr/share/hunspell/de_DE"_s, wordList());
        QVERIFY(later.isCorrect(u"Orvikel") && !later.isCorrect(u"Schreibne"));
        menu.reset(editor.createContextMenu(6));
        entry(*menu, u"Schreiben"_s)->trigger();
        QVERIFY(editor.text().startsWith(u"Schreiben Schreiben Äpfel."_s));
        QCOMPARE(edits.count(), 1);
        QTRY_COMPARE(waved(editor), QStringList{u"Schreibne"_s});
        // Away from any misspelling, only the standard entries.
        menu.reset(editor.createContextMenu(1));
        QVERIFY(!entry(*menu, u"Zum Wörterbuch hinzufügen"_s));
        editor.moveCursor(QTextCursor::End);
        editor.ensureCursorVisible();
        QTRY_VERIFY(waved(editor).contains(u"Feler"_s));
    }

    void wordBeingTypedIsJudgedWhenLeft() {
        MarkdownEditor& editor = spellEditor(QString());
        editor.setFocus();
        type(&editor, u"Wir Schreibne"_s);
        QApplication::processEvents();
        QCOMPARE(waved(editor), QStringList());
        type(&editor, u" "_s);
        QApplication::processEvents();
        QCOMPARE(waved(editor), QStringList{u"Schreibne"_s});
    }

    // In the pane the bar marks the hits around the view, counts, wraps, answers keys and
    // assistive technology, never edits, counts typing anew; typed text reaches the file.
    void findBarInThePaneAndSubstitutionReachesTheStore() {
        LibraryStore store(m_fixture.options(m_dir->path(), 80));
        EditorPane pane(store);
        QVERIFY(store.quickNewSheet());
        store.setCurrentText(u"Eine Zeile mit einem Apfel.\n"_s.repeated(2000));
        QTRY_VERIFY(pane.editor());
        pane.resize(600, 400);
        pane.show();
        QVERIFY(QTest::qWaitForWindowExposed(&pane));
        MarkdownEditor* editor = pane.editor();
        editor->setFocus();
        QTRY_VERIFY(editor->hasFocus());
        FindBar* bar = pane.findBar();
        const auto count = [bar] { return bar->countLabel()->text(); };
        // Above the status bar.
        QTest::keyClick(editor, Qt::Key_F, Qt::ControlModifier);
        QTRY_VERIFY(bar->isVisible() && bar->field()->hasFocus());
        QVERIFY(bar->geometry().bottom() <= pane.statusBar()->geometry().top());
        QTest::keyClicks(bar->field(), u"apfel"_s);
        QCOMPARE(bar->hits().size(), 2000);
        // Only around the view: a few screens of lines, starting at the top.
        const QList<qsizetype> top = bar->markedHits();
        QVERIFY(!top.isEmpty() && top.size() < 200);
        QCOMPARE(top.first(), bar->hits().first());
        // Scrolling brings the hits that come into view.
        editor->verticalScrollBar()->setValue(editor->verticalScrollBar()->maximum());
        QVERIFY(bar->markedHits().contains(bar->hits().last()));
        QVERIFY(!bar->markedHits().contains(bar->hits().first()));
        // Another text (another sheet, a reload) is counted and marked anew.
        const QString text = u"Apfel und Birne, apfel\nund noch ein APFEL."_s;
        store.setCurrentText(text);
        QTRY_COMPARE(bar->markedHits(), (QList<qsizetype>{0, 17, 36}));
        QCOMPARE(count(), u"3 Treffer"_s);
        editor->moveCursor(QTextCursor::Start);
        bar->field()->clear();
        QTest::keyClicks(bar->field(), u"apfel"_s);
        QCOMPARE(count(), u"1 von 3"_s);
        QTest::keyClick(bar->field(), Qt::Key_Return);
        QTest::keyClick(bar->field(), Qt::Key_F3);
        QCOMPARE(count(), u"3 von 3"_s);
        QCOMPARE(editor->textCursor().selectedText(), u"APFEL"_s);
        QTest::keyClick(bar->field(), Qt::Key_Return);
        QCOMPARE(count(), u"1 von 3"_s);
        QTest::keyClick(bar->field(), Qt::Key_Return, Qt::ShiftModifier);
        QCOMPARE(count(), u"3 von 3"_s);
        // Named for assistive technology (the buttons with the window's), which presses them.
        for (QWidget* w : QList<QWidget*>{bar->field(), bar->countLabel()})
            QVERIFY(!QAccessible::queryAccessibleInterface(w)->text(QAccessible::Name).isEmpty());
        QAccessible::queryAccessibleInterface(bar->nextButton())
            ->actionInterface()
            ->doAction(QAccessibleActionInterface::pressAction());
        QCOMPARE(count(), u"1 von 3"_s);
        QTest::keyClick(bar->field(), Qt::Key_Escape);
        QVERIFY(bar->isHidden());
        QTRY_VERIFY(editor->hasFocus());
        QCOMPARE(store.currentText(), text);
        // Nothing found is said so; typing counts anew after a pause.
        QTest::keyClick(editor, Qt::Key_F, Qt::ControlModifier);
        QTRY_VERIFY(bar->isVisible());
        bar->field()->setText(u"Kirsche"_s);
        QCOMPARE(count(), u"Keine Treffer"_s);
        QVERIFY(!bar->nextButton()->isEnabled());
        editor->moveCursor(QTextCursor::End);
        type(editor, u" \"Kirsche\" -- gut"_s);
        QTRY_COMPARE(count(), u"1 Treffer"_s); // once typing pauses
        QVERIFY(store.currentText().endsWith(u" „Kirsche“ – gut"_s));
        QTRY_COMPARE(QString::fromUtf8(test::readBytes(store.selectedSheet()->path())),
                     store.currentText());
        // A plain view breaks rows where the text does not: hits are found behind the breaks.
        store.setCurrentText(u"x"_s.repeated(5000) + u" Apfel "_s + u"y"_s.repeated(5000) +
                             u"Apfel"_s);
        QTRY_VERIFY(pane.editor()->showsPlain());
        bar->field()->setText(u"apfel"_s);
        QCOMPARE(bar->hits(), (QList<qsizetype>{5001, 10007}));
        QTest::keyClick(bar->field(), Qt::Key_Return);
        QCOMPARE(pane.editor()->textCursor().selectedText(), u"Apfel"_s);
    }

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
        QTest::newRow("spaced hyphen") << u"Kiel - Ulm - Hof"_s << u"Kiel – Ulm – Hof"_s;
        QTest::newRow("lists") << u"- a\n  - b\n> - c\n1. - d"_s << u"- a\n  - b\n> - c\n1. - d"_s;
        QTest::newRow("table markers") << u"| a | b |\n| - | - |"_s << u"| a | b |\n| - | - |"_s;
        QTest::newRow("spaced hyphen in code") << u"`a - b` c - d"_s << u"`a - b` c – d"_s;
        QTest::newRow("rule") << u"---"_s << u"---"_s;
        QTest::newRow("comment") << u"<!-- x"_s << u"<!-- x"_s;
        QTest::newRow("code span") << u"`\"a\" -- 'b'` \"c\""_s << u"`\"a\" -- 'b'` „c“"_s;
        QTest::newRow("fence") << u"```\n\"a\" -- 'b'\n```\n\"c\""_s
                               << u"```\n\"a\" -- 'b'\n```\n„c“"_s;
        QTest::newRow("open fence") << u"```\n\"a\""_s << u"```\n\"a\""_s;
    }

    void quotesInTheTypicalPositions() {
        QFETCH(QString, typed);
        MarkdownEditor editor;
        editor.setTypographicSubstitution(qstrcmp(QTest::currentDataTag(), "turned off") != 0);
        editor.openDocument(u"/q.md"_s, QString());
        type(&editor, typed);
        QTEST(editor.text(), "shown");
    }

    void oneUndoTakesASubstitutionBack() {
        MarkdownEditor editor;
        editor.openDocument(u"/u.md"_s, QString());
        const auto step = [&](const QString& typed, const QString& shown, const QString& undone) {
            type(&editor, typed);
            QCOMPARE(editor.text(), shown);
            editor.undo();
            QCOMPARE(editor.text(), undone);
        };
        step(u"Er sagte \"Hallo\""_s, u"Er sagte „Hallo“"_s, u"Er sagte „Hallo\""_s);
        QCOMPARE(editor.textCursor().position(), int(editor.text().size()));
        editor.redo();
        QCOMPARE(editor.text(), u"Er sagte „Hallo“"_s);
        step(u" a--"_s, u"Er sagte „Hallo“ a–"_s, u"Er sagte „Hallo“ a--"_s);
        step(u" - "_s, u"Er sagte „Hallo“ a-- – "_s, u"Er sagte „Hallo“ a-- - "_s);
        // An apostrophe between letters inside single quotes stays one.
        editor.openDocument(u"/a.md"_s, u"‚Na, gehts"_s);
        QTextCursor caret(editor.document());
        caret.setPosition(9);
        editor.setTextCursor(caret);
        type(&editor, u"'"_s);
        editor.moveCursor(QTextCursor::End);
        type(&editor, u"'"_s);
        QCOMPARE(editor.text(), u"‚Na, geht’s‘"_s);
    }
};

ORVIK_WIDGET_TEST_MAIN(TestServices)

#include "tst_services.moc"
