#include "spelling/spellchecker.h"
#include "store/librarystore.h"
#include "storefixture.h"
#include "ui/editor/editorpane.h"
#include "ui/editor/findbar.h"
#include "ui/editor/markdowneditor.h"
#include "widgettest.h"

#include <QSignalSpy>
#include <QtWidgets>

using namespace Qt::StringLiterals;

using namespace orvik;
using namespace orvik::ui;

namespace {

// Types as a keyboard would, without the key codes that shortcuts answer; ← and → move.
void type(QWidget* widget, const QString& text) {
    for (const QChar c : text) {
        if (c == u'←' || c == u'→')
            QTest::keyClick(widget, c == u'←' ? Qt::Key_Left : Qt::Key_Right);
        else
            QTest::sendKeyEvent(QTest::Click, widget, c == u'\n' ? Qt::Key_Return : Qt::Key_unknown,
                                QString(c), Qt::NoModifier);
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

QAction* entry(const QMenu& menu, const QString& text) {
    const QList<QAction*> actions = menu.actions();
    const auto found = std::ranges::find(actions, text, &QAction::text);
    return found == actions.end() ? nullptr : *found;
}

} // namespace

class TestServices : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    orvik::test::StoreFixture m_fixture;

    QString wordList() const { return m_dir->path() + u"/config/woerterbuch.txt"_s; }

private Q_SLOTS:
    void init() { m_dir = std::make_unique<QTemporaryDir>(); }

    void wordsSkipAddressesNumbersAndSingleLetters() {
        const QString line =
            u"Die Größe 3D, B12 und https://orvik.de/Garten a geht’s post@orvik.de Äpfel"_s;
        QStringList found;
        for (const spelling::Word& w : spelling::words(line))
            found.append(line.mid(w.start, w.length));
        QCOMPARE(found, (QStringList{u"Die"_s, u"Größe"_s, u"und"_s, u"geht"_s, u"Äpfel"_s}));
    }

    // Misspelt prose is marked (not code, links, the app's words; bold stays bold), far lines
    // once scrolled to, the word being typed once it is left; the marks and adding a word are
    // no edit, a suggestion replaces the word as one.
    void marksMisspeltWordsAndTheMenuAddsOrReplaces() {
        const QString head =
            u"Schreibne Schreiben Äpfel. Orvik kann Markdown. Der Orvikel schreibt.\n\n"
            u"`Schreibne` und [Text](Schreibne)\n```\nSchreibne\n```\n**Schreibne** dort\n"_s;
        spelling::SpellChecker checker(u"/usr/share/hunspell/de_DE"_s, wordList());
        MarkdownEditor editor;
        editor.setSpellChecker(&checker);
        editor.resize(700, 500);
        editor.openDocument(u"/s.md"_s, head + u"Eine ruhige Zeile.\n"_s.repeated(3000) +
                                            u"Am Ende ein Feler.\n"_s);
        editor.show();
        QVERIFY(QTest::qWaitForWindowExposed(&editor));
        QSignalSpy edits(&editor, &MarkdownEditor::textEdited);
        QTRY_COMPARE(waved(editor), (QStringList{u"Schreibne"_s, u"Orvikel"_s, u"Schreibne"_s}));
        const QTextBlock bold = editor.document()->findBlock(int(head.lastIndexOf(u"**"_s)));
        QVERIFY(std::ranges::any_of(bold.layout()->formats(), [](const auto& f) {
            return f.format.underlineStyle() == QTextCharFormat::SpellCheckUnderline &&
                   f.format.fontWeight() >= QFont::Bold;
        }));
        std::unique_ptr<QMenu> menu(editor.createContextMenu(int(head.indexOf(u"Orvikel"_s)) + 2));
        entry(*menu, u"Zum Wörterbuch hinzufügen"_s)->trigger();
        QTRY_COMPARE(waved(editor), (QStringList{u"Schreibne"_s, u"Schreibne"_s}));
        QCOMPARE(edits.count(), 0);
        QVERIFY(!editor.document()->isUndoAvailable() && !editor.document()->isModified());
        spelling::SpellChecker later(u"/usr/share/hunspell/de_DE"_s, wordList());
        QVERIFY(later.isCorrect(u"Orvikel") && !later.isCorrect(u"Schreibne"));
        menu.reset(editor.createContextMenu(6));
        entry(*menu, u"Schreiben"_s)->trigger();
        QVERIFY(editor.text().startsWith(u"Schreiben Schreiben Äpfel."_s));
        QCOMPARE(edits.count(), 1);
        QTRY_COMPARE(waved(editor), QStringList{u"Schreibne"_s});
        editor.moveCursor(QTextCursor::Start);
        editor.moveCursor(QTextCursor::EndOfBlock);
        type(&editor, u" Wir Schreibne"_s);
        QApplication::processEvents();
        QCOMPARE(waved(editor), QStringList{u"Schreibne"_s});
        type(&editor, u" "_s);
        QApplication::processEvents();
        QCOMPARE(waved(editor), (QStringList{u"Schreibne"_s, u"Schreibne"_s}));
        editor.moveCursor(QTextCursor::End);
        editor.ensureCursorVisible();
        QTRY_VERIFY(waved(editor).contains(u"Feler"_s));
    }

    // In the pane the bar marks only the hits a few screens around the view, counts anew for
    // another text (another sheet, a reload), wraps, answers keys, never edits, counts typing
    // anew; substituted text reaches the store (its file: the store's tests); in a plain view
    // hits are found behind the rows it breaks. Names: the window's tests.
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
        FindBar* bar = pane.findBar();
        const auto count = [bar] { return bar->countLabel()->text(); };
        pane.showFindBar();
        QTRY_VERIFY(bar->field()->hasFocus());
        QTest::keyClicks(bar->field(), u"apfel"_s);
        const QList<qsizetype> top = bar->markedHits();
        QVERIFY(bar->hits().size() == 2000 && top.size() < 200 && top.value(0) == bar->hits()[0]);
        editor->verticalScrollBar()->setValue(editor->verticalScrollBar()->maximum());
        QVERIFY(bar->markedHits().contains(bar->hits().last()));
        QVERIFY(!bar->markedHits().contains(bar->hits().first()));
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
        QTest::keyClick(bar->field(), Qt::Key_Escape);
        QVERIFY(bar->isHidden());
        QTRY_VERIFY(editor->hasFocus());
        QCOMPARE(store.currentText(), text);
        pane.showFindBar();
        bar->field()->setText(u"Kirsche"_s);
        editor->moveCursor(QTextCursor::End);
        type(editor, u" \"Kirsche\" -- gut"_s);
        QTRY_COMPARE(count(), u"1 Treffer"_s); // once typing pauses
        QVERIFY(store.currentText().endsWith(u" „Kirsche“ – gut"_s));
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
        QTest::newRow("text and line start") << u"\"Ja\"\n\"b\""_s << u"„Ja“\n„b“"_s;
        QTest::newRow("after a space") << u"Er sagte \"gut\"."_s << u"Er sagte „gut“."_s;
        QTest::newRow("after a bracket") << u"(\"so\")"_s << u"(„so“)"_s;
        QTest::newRow("single") << u"Sie: 'nein'!"_s << u"Sie: ‚nein‘!"_s;
        QTest::newRow("apostrophe") << u"Wie geht's?"_s << u"Wie geht’s?"_s;
        QTest::newRow("apostrophe inside quotes") << u"'Na, gehts←'→'"_s << u"‚Na, geht’s‘"_s;
        QTest::newRow("dash") << u"Berlin -- Hamburg"_s << u"Berlin – Hamburg"_s;
        QTest::newRow("spaced hyphen") << u"Kiel - Ulm - Hof"_s << u"Kiel – Ulm – Hof"_s;
        QTest::newRow("list and table markers") << u"- a\n  - b\n> - c\n1. - d\n| a |\n| - |"_s
                                                << u"- a\n  - b\n> - c\n1. - d\n| a |\n| - |"_s;
        QTest::newRow("rule and comment") << u"---\n<!-- x"_s << u"---\n<!-- x"_s;
        QTest::newRow("code span")
            << u"`\"a\" -- 'b' - c` \"c\" - d"_s << u"`\"a\" -- 'b' - c` „c“ – d"_s;
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

    // One undo takes a substitution back, the caret staying at the end.
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
        step(u" - "_s, u"Er sagte „Hallo\" – "_s, u"Er sagte „Hallo\" - "_s);
    }
};

ORVIK_WIDGET_TEST_MAIN(TestServices)

#include "tst_services.moc"
