#include "faults.h"
#include "safekeeping/trash.h"
#include "store/librarystore.h"
#include "testenv.h"
#include "ui/editor/editorpane.h"
#include "ui/editor/findbar.h"
#include "ui/editor/markdowneditor.h"
#include "ui/editor/statusbar.h"
#include "ui/editor/welcomeplaceholder.h"
#include "ui/settings/settingsview.h"
#include "ui/window/exportmenu.h"
#include "ui/window/mainwindow.h"
#include "ui/window/noticebar.h"
#include "ui/window/quitting.h"
#include "ui/window/services.h"
#include "ui/window/sheetlist.h"
#include "ui/window/sidebar.h"
#include "widgettest.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QDialog>
#include <QDir>
#include <QIcon>
#include <QLabel>
#include <QLibraryInfo>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSet>
#include <QSettings>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QTranslator>
#include <QWindow>

#include <csignal>
#include <memory>

#include <sys/resource.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

using namespace orvik;
using namespace orvik::ui;

namespace {

QDateTime day(int d, int hour = 9) {
    return QDateTime(QDate(2026, 3, d), QTime(hour, 0));
}

// Chooses the entry of the next popup menu that opens, as a click would.
void chooseInNextPopup(const QString& text, QStringList* seen = nullptr) {
    QTimer::singleShot(0, [text, seen] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (!menu)
            return;
        QAction* chosen = nullptr;
        for (QAction* a : menu->actions()) {
            if (seen && !a->isSeparator())
                seen->append(a->text());
            if (a->text() == text)
                chosen = a;
        }
        menu->close();
        if (chosen)
            chosen->trigger();
    });
}

// Does what a screen reader or switch access does with a control: its
// first accessible action, which for a checkable button toggles it.
void accessibleAct(QWidget* widget) {
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(widget);
    QVERIFY(iface && iface->actionInterface());
    const QStringList actions = iface->actionInterface()->actionNames();
    QVERIFY(!actions.isEmpty());
    iface->actionInterface()->doAction(actions.first());
}

// Selects a row as assistive technology does, which leaves the current row alone.
void accessibleSelect(QAbstractItemView* view, int row) {
    QAccessibleInterface* list = QAccessible::queryAccessibleInterface(view);
    QVERIFY(list && list->tableInterface());
    QAccessibleInterface* cell = list->tableInterface()->cellAt(row, 0);
    QVERIFY(cell && cell->actionInterface());
    cell->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
}

QStringList accessibleChildNames(QWidget* widget, QAccessible::Role role) {
    QStringList names;
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(widget);
    if (!iface)
        return names;
    for (int i = 0; i < iface->childCount(); ++i) {
        QAccessibleInterface* child = iface->child(i);
        if (child && child->role() == role)
            names.append(child->text(QAccessible::Name));
    }
    return names;
}

} // namespace

class TestWindow : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<LibraryStore> m_store;
    std::unique_ptr<MainWindow> m_window;
    QStringList m_revealed;
    QString m_exportTarget;
    QStringList m_exportDialogs;
    // What the window asked before deleting for good or quitting, and the answers it gets.
    QStringList m_asked;
    bool m_agree = true;
    QuitChoice m_quitChoice = QuitChoice::Stay;
    decltype(WindowServices::askBeforeQuitting) m_askForReal;

    QString lib() const { return m_dir->path() + u"/Bibliothek"_s; }
    QString file(const QString& relative) const { return lib() + u'/' + relative; }
    QUrl url(const QString& relative) const { return QUrl::fromLocalFile(file(relative)); }
    SheetListWidget* sheets() const { return m_window->sheetList()->list(); }
    void save() { m_window->command(u"Sichern"_s)->trigger(); }
    static QSettings prefs() { return QSettings(u"Orvik"_s, u"Orvik"_s); }

    void write(const QString& relative, const QString& text, const QDateTime& modified) {
        QVERIFY(test::writeBytes(file(relative), text.toUtf8()));
        QVERIFY(test::setModified(file(relative), modified));
    }

    void open() {
        LibraryStore::Options options;
        options.root = lib();
        options.backupRoot = m_dir->path() + u"/Sicherungen"_s;
        options.backupSchedule = false;
        options.searchDelayMs = 20;
        options.watchDelayMs = 20;
        options.dailyContext = [] { return QtFuture::makeReadyFuture(QString()); };
        m_store = std::make_unique<LibraryStore>(options);
        m_window = std::make_unique<MainWindow>(*m_store);
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
        QVERIFY(idle());
    }

    // Once the shown group is listed and the selected sheet read.
    bool idle() const {
        return QTest::qWaitFor([&] { return !m_store->isListing() && !m_store->isReadingSheet(); });
    }

    Folder group(const QString& name) const {
        for (const Folder& f : m_store->folders())
            if (f.name == name)
                return f;
        return {};
    }

    void clickGroup(const QString& name) {
        QListWidget* list = m_window->sidebar()->list();
        const auto items = list->findItems(name, Qt::MatchExactly);
        QVERIFY(!items.isEmpty());
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                          list->visualItemRect(items.first()).center());
        QVERIFY(idle());
    }

    QStringList rowTitles() const {
        QStringList titles;
        const SheetListModel* model = m_window->sheetList()->model();
        for (int i = 0; i < model->rowCount(); ++i)
            titles.append(model->index(i).data().toString());
        return titles;
    }

    void clickRow(int row) {
        SheetListWidget* list = sheets();
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                          list->visualRect(list->model()->index(row, 0)).center());
    }

    // Opens a row's menu from the keyboard: the desktop's context-menu event,
    // or a key the list itself answers.
    QStringList rowMenu(int row, const QString& choose, QKeyCombination key = {}) {
        SheetListWidget* list = sheets();
        list->setFocus();
        list->setCurrentIndex(list->model()->index(row, 0));
        QStringList seen;
        chooseInNextPopup(choose, &seen);
        QContextMenuEvent event(QContextMenuEvent::Keyboard, QPoint(5, 5),
                                list->mapToGlobal(QPoint(5, 5)));
        if (key.key() != Qt::Key_unknown)
            QTest::keyClick(list, key.key(), key.keyboardModifiers());
        else
            QApplication::sendEvent(list, &event);
        // An empty list (no menu came up) fails the caller's comparison.
        [[maybe_unused]] const bool opened = QTest::qWaitFor([&] { return !seen.isEmpty(); });
        QTest::qWait(0);
        return seen;
    }

    // The row that has the keyboard differs from the same row without it.
    void verifyKeyboardRowShows(QAbstractItemView* list) {
        const QRect row = list->visualRect(list->currentIndex());
        QVERIFY(row.isValid());
        m_window->sheetList()->searchField()->setFocus();
        QTRY_VERIFY(!list->hasFocus());
        const QImage without = list->viewport()->grab(row).toImage();
        list->setFocus(Qt::TabFocusReason);
        QTRY_VERIFY(list->hasFocus());
        QVERIFY(list->viewport()->grab(row).toImage() != without);
    }

private Q_SLOTS:
    void initTestCase() { m_askForReal = services().askBeforeQuitting; }

    void init() {
        prefs().clear();
        m_dir = std::make_unique<QTemporaryDir>();
        m_revealed.clear();
        m_exportDialogs.clear();
        m_asked.clear();
        m_agree = true;
        services().confirm = [this](QWidget*, const QString& question, const QString& confirm) {
            m_asked.append(question + u" | "_s + confirm);
            return m_agree;
        };
        m_quitChoice = QuitChoice::Stay;
        services().askBeforeQuitting = [this](QWidget*, const QString& question,
                                              const QString& reason) {
            m_asked.append(question + u" | "_s + reason);
            return m_quitChoice;
        };
        services().reveal = [this](const QString& path) { m_revealed.append(path); };
        services().chooseExportFile = [this](QWidget*, const QString& title,
                                             const QString& proposed, Exporter::Format) {
            m_exportDialogs.append(title + u" | "_s + proposed);
            return m_exportTarget;
        };
        write(u"Ideen/apfel.md"_s, u"# Apfelkuchen\n\nMit Äpfeln, Apfelmus und Apfelsaft.\n"_s,
              day(2));
        write(u"Ideen/birne.md"_s, u"# Birnen\n\nEin Wort über Apfel.\n"_s, day(4));
        write(u"Ideen/kirsche.md"_s, u"# Kirschen\n\nRot.\n"_s, day(3));
        write(u"Projekte/reise.md"_s, u"# Reise\n\nApfelplantagen besuchen.\n"_s, day(1));
        write(u"Eigenes/eins.md"_s, u"Eins\n"_s, day(5));
    }

    void cleanup() {
        m_window.reset();
        m_store.reset();
        QApplication::setPalette(QPalette());
    }

    void windowAndColumns() {
        open();
        m_window->command(u"Bibliothek im Dateimanager zeigen"_s)->trigger();
        QCOMPARE(m_revealed, QStringList{m_store->rootPath()});
        m_window->command(u"Sicherungen im Dateimanager zeigen"_s)->trigger();
        QTRY_COMPARE(m_revealed.size(), 2);
        QVERIFY(QFileInfo(m_revealed.last()).isDir());
        QListWidget* groups = m_window->sidebar()->list();
        QStringList names;
        for (int i = 0; i < groups->count(); ++i)
            names.append(groups->item(i)->text());
        QCOMPARE(accessibleChildNames(groups, QAccessible::ListItem), names);
        // Every button a screen reader can meet has a name, also those Qt adds to text fields.
        m_window->sheetList()->searchField()->setText(u"x"_s);
        m_window->editorPane()->showFindBar();
        for (QAbstractButton* button : m_window->findChildren<QAbstractButton*>())
            QVERIFY2(
                !QAccessible::queryAccessibleInterface(button)->text(QAccessible::Name).isEmpty(),
                qPrintable(button->parentWidget()->accessibleName() + u'|' +
                           QString::fromLatin1(button->parentWidget()->metaObject()->className())));
        m_window->sheetList()->searchField()->clear();

        clickGroup(u"Ideen"_s);
        QCOMPARE(m_store->selectedFolderID(), group(u"Ideen"_s).url);
        QCOMPARE(m_window->sheetList()->columnTitle(), u"Ideen"_s);
        // Newest first, the newest selected; the welcome sheet of a new library is older.
        QCOMPARE(rowTitles().mid(0, 3),
                 (QStringList{u"Birnen"_s, u"Kirschen"_s, u"Apfelkuchen"_s}));
        QCOMPARE(m_store->selectedSheetID(), url(u"Ideen/birne.md"_s));

        clickRow(2);
        QCOMPARE(m_store->selectedSheetID(), url(u"Ideen/apfel.md"_s));
        QVERIFY(m_store->currentText().startsWith(u"# Apfelkuchen"_s));

        // Arrow keys walk both lists.
        QTest::keyClick(sheets(), Qt::Key_Up);
        QCOMPARE(m_store->selectedSheetID(), url(u"Ideen/kirsche.md"_s));
        groups->setFocus();
        QTest::keyClick(groups, Qt::Key_Down);
        QCOMPARE(m_store->selectedFolderID(), group(u"Projekte"_s).url);
        QTRY_COMPARE(rowTitles(), QStringList{u"Reise"_s});

        // Assistive technology selects without clicking; the store follows.
        accessibleSelect(groups, 1);
        QCOMPARE(m_store->selectedFolderID(), group(u"Ideen"_s).url);
        QVERIFY(idle());
        accessibleSelect(sheets(), 1);
        QCOMPARE(m_store->selectedSheetID(), url(u"Ideen/kirsche.md"_s));
        QCOMPARE(sheets()->currentIndex().row(), 1);
    }

    void rowsExposeTheirTexts() {
        write(u"Tagebuch/ein-wort.md"_s, u"Hallo"_s, day(7, 14));
        open();
        clickGroup(u"Tagebuch"_s);
        const QStringList rows = accessibleChildNames(sheets(), QAccessible::ListItem);
        QCOMPARE(rows.size(), 1);
        // Title, preview and the meta line; the word count has no singular.
        QVERIFY2(rows.first().startsWith(u"Hallo, "_s), qPrintable(rows.first()));
        QVERIFY2(rows.first().endsWith(u"7. März 2026 · 1 Wörter"_s), qPrintable(rows.first()));

        for (QAction* a : m_window->toolbar()->actions())
            if (auto* b = qobject_cast<QToolButton*>(m_window->toolbar()->widgetForAction(a)))
                QVERIFY2(!b->icon().isNull(), qPrintable(b->accessibleName()));
        QVERIFY(!QAccessible::queryAccessibleInterface(m_window->sheetList()->searchField())
                     ->text(QAccessible::Name)
                     .isEmpty());

        // Tab leads from the groups through the search field to the sheets.
        QListWidget* groups = m_window->sidebar()->list();
        groups->setFocus();
        QTRY_VERIFY(groups->hasFocus());
        QWidget* current = groups;
        QList<QWidget*> order;
        for (int i = 0; i < 6 && current; ++i) {
            current = current->nextInFocusChain();
            while (current && (!current->isVisible() || !(current->focusPolicy() & Qt::TabFocus)))
                current = current->nextInFocusChain();
            order.append(current);
        }
        const qsizetype search = order.indexOf(m_window->sheetList()->searchField());
        const qsizetype list = order.indexOf(sheets());
        QVERIFY(order.indexOf(m_window->sidebar()->newGroupButton()) == 0);
        QVERIFY(search > 0 && list > search);
    }

    void searchShowsScopeBarHitsAndHints() {
        open();
        clickGroup(u"Ideen"_s);
        SheetListView* column = m_window->sheetList();
        QLineEdit* field = column->searchField();

        // One character is no search yet: the group's sheets stay.
        QTest::keyClicks(field, u"A"_s);
        QVERIFY(!column->scopeBar()->isVisible());
        QCOMPARE(rowTitles().size(), 3);

        QTest::keyClicks(field, u"pfel"_s);
        QCOMPARE(m_store->searchText(), u"Apfel"_s);
        QVERIFY(column->scopeBar()->isVisible());
        QCOMPARE(column->scopeBar()->statusText(), u"Suche läuft \u2026"_s);
        QTRY_COMPARE(column->scopeBar()->statusText(), u"2 Blätter gefunden"_s);
        QCOMPARE(rowTitles(), (QStringList{u"Apfelkuchen"_s, u"Birnen"_s}));
        // The excerpt replaces the preview; only two matches and more are counted.
        const auto row = [&](int i, int role) { return column->model()->index(i).data(role); };
        QVERIFY(row(0, SheetListModel::SecondLineRole).toString().contains(u"Apfel"_s));
        QVERIFY(row(0, SheetListModel::MetaPartsRole).toStringList().last().endsWith(u"stellen"_s));
        QVERIFY(row(1, SheetListModel::MetaPartsRole).toStringList().last().endsWith(u"Wörter"_s));

        accessibleAct(column->scopeBar()->button(SearchScope::Library));
        QCOMPARE(m_store->searchScope(), SearchScope::Library);
        QTRY_COMPARE(column->scopeBar()->statusText(), u"3 Blätter gefunden"_s);
        QVERIFY(rowTitles().contains(u"Reise"_s));

        // A hit from another group is being written in when the search ends:
        // the editor leaves with the hit at once, and the words are in its file.
        clickRow(int(rowTitles().indexOf(u"Reise"_s)));
        MarkdownEditor* editor = m_window->editorPane()->editor();
        QVERIFY(editor);
        editor->setFocus();
        editor->moveCursor(QTextCursor::End);
        QTest::keyClicks(editor, u"Im Herbst."_s);
        const QString search = field->text();
        field->clear();
        QVERIFY(!m_window->editorPane()->editor());
        QVERIFY(m_window->editorPane()->placeholder());
        save();
        QCOMPARE(test::readBytes(file(u"Projekte/reise.md"_s)),
                 QByteArray("# Reise\n\nApfelplantagen besuchen.\nIm Herbst."));
        QTest::keyClicks(field, search);
        QTRY_COMPARE(column->scopeBar()->statusText(), u"3 Blätter gefunden"_s);

        field->clear();
        QTest::keyClicks(field, u"Kirschen"_s);
        QTRY_COMPARE(column->scopeBar()->statusText(), u"1 Blatt gefunden"_s);
        QVERIFY(column->hint()->isHidden());

        field->clear();
        QTest::keyClicks(field, u"Zwetschge"_s);
        QTRY_COMPARE(column->scopeBar()->statusText(), u"0 Blätter gefunden"_s);
        QVERIFY(column->hint()->isVisible());
        QCOMPARE(column->hint()->title(), u"Nichts gefunden"_s);
        QCOMPARE(column->hint()->secondLine(), QString());
        const QStringList hintTexts = accessibleChildNames(column->hint(), QAccessible::StaticText);
        QVERIFY2(hintTexts.contains(u"Nichts gefunden"_s), qPrintable(hintTexts.join(u'|')));

        // An empty group with a one-character query is "nothing found", not "no sheets".
        field->clear();
        clickGroup(u"Schnelle Notiz"_s);
        QCOMPARE(column->hint()->title(), u"Noch keine Blätter"_s);
        QCOMPARE(column->hint()->secondLine(), u"Drücke Strg+N für ein neues Blatt."_s);
        QTest::keyClicks(field, u"x"_s);
        QVERIFY(!column->scopeBar()->isVisible());
        QCOMPARE(column->hint()->title(), u"Nichts gefunden"_s);

        // Escape leaves the search.
        QTest::keyClick(field, Qt::Key_Escape);
        QCOMPARE(m_store->searchText(), QString());
        QCOMPARE(column->hint()->title(), u"Noch keine Blätter"_s);
    }

    void contextMenuDeletesRestoresAndEmptiesTrash() {
        open();
        clickGroup(u"Ideen"_s);
        SheetListView* column = m_window->sheetList();
        QVERIFY(column->emptyTrashButton()->isHidden());

        QCOMPARE(rowMenu(0, u"Im Dateimanager zeigen"_s, Qt::SHIFT | Qt::Key_F10),
                 (QStringList{u"Im Dateimanager zeigen"_s, u"In den Papierkorb"_s}));
        QCOMPARE(m_revealed, QStringList{file(u"Ideen/birne.md"_s)});

        rowMenu(0, u"In den Papierkorb"_s, QKeyCombination(Qt::Key_Menu));
        QVERIFY(!QFile::exists(file(u"Ideen/birne.md"_s)));
        QVERIFY(!rowTitles().contains(u"Birnen"_s));
        // Delete does the same with the selected row.
        sheets()->setFocus();
        sheets()->setCurrentIndex(m_window->sheetList()->model()->index(0));
        QCOMPARE(rowTitles().first(), u"Kirschen"_s);
        QTest::keyClick(sheets(), Qt::Key_Delete);
        QVERIFY(!QFile::exists(file(u"Ideen/kirsche.md"_s)));
        QVERIFY(!rowTitles().contains(u"Kirschen"_s));

        clickGroup(u"Papierkorb"_s);
        QCOMPARE(rowTitles().size(), 2);
        QVERIFY(column->emptyTrashButton()->isVisible());
        const int birnen = int(rowTitles().indexOf(u"Birnen"_s));
        QCOMPARE(rowMenu(birnen, u"Wiederherstellen"_s),
                 (QStringList{u"Wiederherstellen"_s, u"Endgültig löschen"_s}));
        QVERIFY(QFile::exists(file(u"Ideen/birne.md"_s)));
        QCOMPARE(rowTitles(), QStringList{u"Kirschen"_s});

        // A library-wide search shows other groups' sheets in the trash view:
        // they get their ordinary entries, and go into the trash, not for good.
        QTest::keyClicks(column->searchField(), u"Apfel"_s);
        QTest::mouseClick(column->scopeBar()->button(SearchScope::Library), Qt::LeftButton);
        QTRY_COMPARE(column->scopeBar()->statusText(), u"3 Blätter gefunden"_s);
        QCOMPARE(rowMenu(int(rowTitles().indexOf(u"Reise"_s)), u"In den Papierkorb"_s),
                 (QStringList{u"Im Dateimanager zeigen"_s, u"In den Papierkorb"_s}));
        QVERIFY(!QFile::exists(file(u"Projekte/reise.md"_s)));
        QVERIFY(QFile::exists(file(u".Papierkorb/reise.md"_s)));
        QVERIFY(m_asked.isEmpty());
        column->searchField()->clear();

        // Neither emptying nor "Endgültig löschen" can be undone: both ask first.
        QTest::mouseClick(column->emptyTrashButton(), Qt::LeftButton);
        QCOMPARE(m_asked, QStringList{u"2 Blätter endgültig löschen? | Endgültig löschen"_s});
        QVERIFY(m_store->trash().isEmpty());
        QVERIFY(rowTitles().isEmpty());
        QVERIFY(column->emptyTrashButton()->isHidden());
        QCOMPARE(column->hint()->title(), u"Papierkorb ist leer"_s);

        clickGroup(u"Ideen"_s);
        rowMenu(0, u"In den Papierkorb"_s);
        clickGroup(u"Papierkorb"_s);
        const Sheet trashed = m_store->sheets().first();
        m_asked.clear();
        m_agree = false;
        QTest::mouseClick(column->emptyTrashButton(), Qt::LeftButton);
        rowMenu(0, u"Endgültig löschen"_s);
        QCOMPARE(m_asked, (QStringList{u"1 Blatt endgültig löschen? | Endgültig löschen"_s,
                                       u"„"_s + trashed.title +
                                           u"“ endgültig löschen? | Endgültig löschen"_s}));
        QVERIFY(QFile::exists(trashed.path()));
        QCOMPARE(rowTitles().size(), 1);
        // Agreed: nothing written back, no file left.
        m_agree = true;
        rowMenu(0, u"Endgültig löschen"_s);
        QVERIFY(!QFile::exists(trashed.path()));
        QVERIFY(rowTitles().isEmpty());

        // In the trash Delete deletes for good, once confirmed.
        clickGroup(u"Ideen"_s);
        rowMenu(0, u"In den Papierkorb"_s);
        clickGroup(u"Papierkorb"_s);
        const QString again = m_store->sheets().first().path();
        sheets()->setFocus();
        m_agree = false;
        QTest::keyClick(sheets(), Qt::Key_Delete);
        QVERIFY(QFile::exists(again));
        m_agree = true;
        QTest::keyClick(sheets(), Qt::Key_Delete);
        QVERIFY(!QFile::exists(again));
        QVERIFY(rowTitles().isEmpty());
    }

    void newGroupDialog() {
        open();
        QTest::mouseClick(m_window->sidebar()->newGroupButton(), Qt::LeftButton);
        QDialog* dialog = m_window->sidebar()->newGroupDialog();
        QVERIFY(dialog);
        auto* name = dialog->findChild<QLineEdit*>(u"groupName"_s);
        QTest::keyClicks(name, u"Reisen"_s);
        QTest::keyClick(name, Qt::Key_Return);
        QTRY_VERIFY(!m_window->sidebar()->newGroupDialog());
        QCOMPARE(m_store->selectedFolder()->name, u"Reisen"_s);
        QCOMPARE(m_window->sidebar()->list()->currentItem()->text(), u"Reisen"_s);

        QTest::mouseClick(m_window->sidebar()->newGroupButton(), Qt::LeftButton);
        dialog = m_window->sidebar()->newGroupDialog();
        name = dialog->findChild<QLineEdit*>(u"groupName"_s);
        QCOMPARE(name->text(), QString());
        const qsizetype before = m_store->folders().size();
        QTest::keyClicks(name, u"   "_s);
        for (QPushButton* b : dialog->findChildren<QPushButton*>())
            if (b->text() == u"Anlegen")
                QTest::mouseClick(b, Qt::LeftButton);
        QTRY_VERIFY(!m_window->sidebar()->newGroupDialog());
        QCOMPARE(m_store->folders().size(), before);
    }

    void fontSizeCommandsClamp_data() {
        QTest::addColumn<QVariant>("stored");
        QTest::addColumn<QString>("command");
        QTest::addColumn<double>("expected");
        const QString larger = u"Schrift vergrößern"_s;
        const QString smaller = u"Schrift verkleinern"_s;
        QTest::newRow("32 stays") << QVariant(32.0) << larger << 32.0;
        QTest::newRow("31 to 32") << QVariant(31) << larger << 32.0;
        QTest::newRow("12 stays") << QVariant(12) << smaller << 12.0;
        QTest::newRow("fraction kept") << QVariant(17.5) << larger << 18.5;
        QTest::newRow("above pulled in") << QVariant(40) << larger << 32.0;
        QTest::newRow("below, enlarged") << QVariant(8) << larger << 9.0;
        QTest::newRow("below, reduced") << QVariant(8) << smaller << 12.0;
        QTest::newRow("absent") << QVariant() << smaller << 16.0;
        QTest::newRow("reset") << QVariant(29.5) << u"Schriftgröße zurücksetzen"_s << 17.0;
    }

    void fontSizeCommandsClamp() {
        QFETCH(QVariant, stored);
        QFETCH(QString, command);
        QFETCH(double, expected);
        if (stored.isValid())
            prefs().setValue(u"OrvikFontSize"_s, stored);
        open();
        QAction* action = m_window->command(command);
        QVERIFY(action);
        action->trigger();
        QCOMPARE(prefs().value(u"OrvikFontSize"_s).toDouble(), expected);
    }

    void fontSizeShortcutsAndStyle() {
        prefs().setValue(u"OrvikFontSize"_s, 17.6);
        open();
        QMenu* fontMenu = m_window->toolbarButton(u"Schrift"_s)->menu();
        const auto resetEntry = [&] {
            Q_EMIT fontMenu->aboutToShow();
            return fontMenu->actions().last()->text();
        };
        QCOMPARE(resetEntry(), u"Größe zurücksetzen (17 pt)"_s);
        m_window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
        QTest::keyClick(m_window.get(), Qt::Key_0, Qt::ControlModifier);
        QCOMPARE(prefs().value(u"OrvikFontSize"_s).toDouble(), 17.0);
        QTest::keyClick(m_window.get(), Qt::Key_Minus, Qt::ControlModifier);
        QCOMPARE(prefs().value(u"OrvikFontSize"_s).toDouble(), 16.0);
        QCOMPARE(resetEntry(), u"Größe zurücksetzen (16 pt)"_s);
        const double factor =
            EditorFont::available().isEmpty() ? 1.0 : EditorFont::available().first().sizeFactor;
        QCOMPARE(m_window->editorStyle().baseSize, 16.0 * factor);
        QCOMPARE(m_window->editorPane()->editorStyle(), m_window->editorStyle());
    }

    void appearanceModesColourTheWindow() {
        prefs().setValue(u"OrvikAppearance"_s, u"blau"_s);
        open();
        QToolButton* modes = m_window->toolbarButton(u"Farbmodus"_s);
        QCOMPARE(modes->toolTip(), u"Farbmodus: Wie das System"_s);
        QCOMPARE(m_window->editorStyle().mode, AppearanceMode::System);
        clickGroup(u"Ideen"_s);
        const auto focusShows = [&] {
            verifyKeyboardRowShows(m_window->sidebar()->list());
            verifyKeyboardRowShows(sheets());
        };
        focusShows();

        const auto choose = [&](const QString& title) {
            for (QAction* a : modes->menu()->actions())
                if (a->text() == title)
                    a->trigger();
            QApplication::processEvents();
            focusShows();
        };
        const auto windowColour = [&] {
            return m_window->palette().color(QPalette::Window).toRgb();
        };
        choose(u"Dunkel"_s);
        QCOMPARE(prefs().value(u"OrvikAppearance"_s).toString(), u"dunkel"_s);
        QVERIFY(isDark(m_window->palette()));
        QVERIFY(isDark(sheets()->palette()));
        QCOMPARE(modes->toolTip(), u"Farbmodus: Dunkel"_s);

        choose(u"Sepia hell"_s);
        QCOMPARE(windowColour(), QColor(222, 208, 176));
        QCOMPARE(sheets()->palette().color(QPalette::Base).toRgb(), QColor(241, 231, 209));
        QVERIFY(!isDark(m_window->palette()));
        const QImage sidebar = m_window->sidebar()->grab().toImage();
        QCOMPARE(QColor(sidebar.pixel(sidebar.width() - 2, sidebar.height() - 2)),
                 QColor(233, 221, 195));

        choose(u"Hell"_s);
        QVERIFY(windowColour() != QColor(222, 208, 176));
        QCOMPARE(windowColour(), colorSchemePalette(ColorScheme::Light).color(QPalette::Window));

        choose(u"Sepia dunkel"_s);
        QCOMPARE(windowColour(), QColor(19, 17, 16));
        QVERIFY(isDark(m_window->palette()));

        // The settings window's choices answer assistive technology as well.
        m_window->command(u"Einstellungen \u2026"_s)->trigger();
        auto* settings = m_window->findChild<SettingsView*>();
        QVERIFY(settings);
        for (QAbstractButton* choice : settings->modeButtons())
            if (choice->text() == u"Hell")
                accessibleAct(choice);
        QCOMPARE(m_window->editorStyle().mode, AppearanceMode::Hell);
        QAbstractButton* font = settings->fontRows().last();
        QVERIFY(!font->isChecked());
        accessibleAct(font);
        QCOMPARE(m_window->editorStyle().family, font->property("orvikFamily").toString());
    }

    void typingRightAfterANewSheet_data() {
        QTest::addColumn<QString>("command");
        QTest::addColumn<int>("line"); // where the words land; -1: at the end
        QTest::addColumn<QString>("group");
        const QString quick = u"Schnelle Notiz"_s;
        QTest::newRow("Strg+N") << u"Strg+N"_s << -1 << quick;
        QTest::newRow("toolbar") << u"Neues Blatt"_s << -1 << quick;
        QTest::newRow("start view") << u"Startbild"_s << -1 << quick;
        // Below the heading, above the weather and headlines.
        QTest::newRow("diary") << u"Tagebucheintrag"_s << 2 << u"Tagebuch"_s;
        QTest::newRow("Neu aus Vorlage") << u"Projektidee"_s << -1 << u"Projekte"_s;
        QTest::newRow("Vorlagen") << u"Vorlagen"_s << -1 << u"Tagebuch"_s;
    }

    void typingRightAfterANewSheet() {
        QFETCH(QString, command);
        QFETCH(int, line);
        open();
        m_window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
        // The keyboard is where a writer who just chose a group left it.
        m_window->sidebar()->list()->setFocus();
        QTRY_VERIFY(m_window->sidebar()->list()->hasFocus());
        QWindow* window = m_window->windowHandle();
        if (command == u"Strg+N") {
            QTest::keyClick(window, Qt::Key_N, Qt::ControlModifier);
        } else if (command == u"Startbild") {
            QTest::mouseClick(m_window->editorPane()->placeholder()->newSheetButton(),
                              Qt::LeftButton);
        } else if (command == u"Vorlagen") {
            chooseInNextPopup(u"Tagebuch ohne Tageskontext"_s);
            QTest::mouseClick(m_window->toolbarButton(command), Qt::LeftButton);
        } else if (QToolButton* button = m_window->toolbarButton(command)) {
            QTest::mouseClick(button, Qt::LeftButton);
        } else {
            m_window->command(command)->trigger();
        }
        // Typed at once, through the window as the keyboard would.
        for (const char c : QByteArray("Hallo"))
            QTest::keyClick(window, c);
        save();
        const auto sheet = m_store->selectedSheet();
        QVERIFY(sheet);
        QTEST(m_store->selectedFolder()->name, "group");
        const QStringList lines = QString::fromUtf8(test::readBytes(sheet->path())).split(u'\n');
        QCOMPARE(lines.value(line < 0 ? lines.size() - 1 : line), u"Hallo"_s);
    }

    void aboutCommandsPostOneRequest() {
        open();
        QSignalSpy about(m_window.get(), &MainWindow::aboutRequested);
        m_window->command(u"Über Orvik"_s)->trigger();
        m_window->command(u"Nach Updates suchen \u2026"_s)->trigger();
        QCOMPARE(about.size(), 1);
        QVERIFY(m_window->showingAbout());
        m_window->aboutClosed();
        m_window->command(u"Nach Updates suchen \u2026"_s)->trigger();
        QCOMPARE(about.size(), 2);
    }

    void exportWritesTheNewestText() {
        open();
        clickGroup(u"Ideen"_s);
        m_store->setCurrentText(u"# Birnen\n\nFrisch getippt.\n"_s);
        QVERIFY(m_store->hasPendingSave());
        m_exportTarget = m_dir->path() + u"/aus/Birnen.md"_s;
        QDir().mkpath(m_dir->path() + u"/aus"_s);
        m_window->toolbarExportMenu()->sheetActions().last()->trigger();
        QCOMPARE(m_exportDialogs, QStringList{u"Exportieren als Markdown | Birnen.md"_s});
        QCOMPARE(test::readBytes(m_exportTarget), QByteArray("# Birnen\n\nFrisch getippt.\n"));
        QVERIFY(!m_store->hasPendingSave());
        QCOMPARE(m_revealed, QStringList{m_exportTarget});

        // The whole group, oldest first, under the group's name.
        m_exportTarget = m_dir->path() + u"/aus/Ideen.md"_s;
        m_window->fileExportMenu()->folderActions().last()->trigger();
        const QString combined = QString::fromUtf8(test::readBytes(m_exportTarget));
        const qsizetype kirsche = combined.indexOf(u"# Kirschen"_s);
        QVERIFY(combined.indexOf(u"# Apfelkuchen"_s) >= 0 &&
                kirsche > combined.indexOf(u"# Apfelkuchen"_s) &&
                combined.indexOf(u"# Birnen"_s) > kirsche);

        // Cancelled: nothing written, nothing shown.
        m_revealed.clear();
        m_exportTarget.clear();
        m_window->toolbarExportMenu()->sheetActions().first()->trigger();
        QVERIFY(m_revealed.isEmpty());

        // Failed: said so, nothing shown.
        m_exportTarget = m_dir->path() + u"/fehlt/ordner/Birnen.pdf"_s;
        QString text, informative;
        QTimer poll;
        connect(&poll, &QTimer::timeout, [&] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                text = box->text();
                informative = box->informativeText();
                box->button(QMessageBox::Ok)->click();
            }
        });
        poll.start(20);
        m_window->fileExportMenu()->sheetActions().first()->trigger();
        QCOMPARE(text, u"Export fehlgeschlagen"_s);
        QCOMPARE(informative,
                 u"Die Datei ließ sich nicht sichern: \u201E"_s + m_exportTarget + u'\u201C');
        QVERIFY(m_revealed.isEmpty());
    }

    void exportEntriesFollowTheSelection() {
        open();
        clickGroup(u"Papierkorb"_s);
        ExportMenuContent* content = m_window->toolbarExportMenu();
        for (QAction* a : content->sheetActions() + content->folderActions())
            QVERIFY(!a->isEnabled());
        clickGroup(u"Ideen"_s);
        rowMenu(0, u"In den Papierkorb"_s);
        clickGroup(u"Papierkorb"_s);
        for (QAction* a : content->sheetActions())
            QVERIFY(a->isEnabled());
        for (QAction* a : content->folderActions())
            QVERIFY(!a->isEnabled());
    }

    void closingWritesTheWaitingSave() {
        open();
        clickGroup(u"Ideen"_s);
        m_store->setCurrentText(u"# Birnen\n\nLetzte Worte.\n"_s);
        QVERIFY(m_store->hasPendingSave());
        QCOMPARE(test::readBytes(file(u"Ideen/birne.md"_s)),
                 QByteArray("# Birnen\n\nEin Wort über Apfel.\n"));
        m_window->close();
        QCOMPARE(test::readBytes(file(u"Ideen/birne.md"_s)),
                 QByteArray("# Birnen\n\nLetzte Worte.\n"));
    }

    void textThatCannotBeWrittenIsNotLostOnQuitting_data() {
        QTest::addColumn<QString>("answer");
        QTest::newRow("Abbrechen") << u"Abbrechen"_s;
        QTest::newRow("retten") << u"Text retten und beenden"_s;
        QTest::newRow("trotzdem") << u"Trotzdem beenden"_s;
        QTest::newRow("SIGTERM") << QString();
    }

    void textThatCannotBeWrittenIsNotLostOnQuitting() {
        QFETCH(QString, answer);
        const QString rescued =
            QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
            u"/Orvik/Gerettet"_s;
        QVERIFY(QDir(rescued).removeRecursively());
        open();
        clickGroup(u"Ideen"_s);
        m_quitChoice = answer == u"Abbrechen"                 ? QuitChoice::Stay
                       : answer == u"Text retten und beenden" ? QuitChoice::Rescue
                                                              : QuitChoice::QuitAnyway;
        // Taken out of the library: no name inside it leads there any more.
        QVERIFY(QDir().rename(file(u"Ideen"_s), m_dir->path() + u"/weg"_s));
        const QString text = u"# Birnen\n\nNicht verlieren.\n"_s;
        m_store->setCurrentText(text);
        // "Abbrechen" is the real question, answered with the Enter key.
        QStringList dialog;
        QTimer poll;
        if (answer == u"Abbrechen") {
            services().askBeforeQuitting = [this](QWidget* parent, const QString& question,
                                                  const QString& reason) {
                m_asked.append(question + u" | "_s + reason);
                return m_askForReal(parent, question, reason);
            };
            connect(&poll, &QTimer::timeout, [&] {
                auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
                if (!box)
                    return;
                for (QAbstractButton* button : box->buttons())
                    dialog.append(button->text());
                dialog.sort();
                dialog << box->defaultButton()->text() << box->accessibleName();
                QTest::keyClick(box, Qt::Key_Return);
            });
            poll.start(20);
        }

        if (answer.isEmpty()) {
            keepTextWhenEnding(*qApp, *m_store);
            QTimer guard;
            guard.setSingleShot(true);
            connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(1); });
            guard.start(10000);
            QCOMPARE(::kill(::getpid(), SIGTERM), 0);
            QCOMPARE(QCoreApplication::exec(), 0);
            QCOMPARE(m_asked, QStringList());
        } else {
            m_window->command(u"Beenden"_s)->trigger();
            QCOMPARE(m_asked.size(), 1);
            QCOMPARE(m_asked.first(),
                     u"„Birnen“ konnte nicht gesichert werden. | Den Ordner „Ideen“ gibt es nicht "
                     u"mehr.\n\nBeim Beenden ginge der Text verloren. „Text retten und beenden“ "
                     u"legt ihn im Ordner „~/.local/share/Orvik/Gerettet“ ab."_s);
            QCOMPARE(m_window->isVisible(), answer == u"Abbrechen");
        }
        const QStringList kept = QDir(rescued).entryList(QDir::Files);
        if (answer == u"Abbrechen" || answer == u"Trotzdem beenden") {
            QCOMPARE(kept, QStringList());
            if (answer == u"Abbrechen")
                QCOMPARE(dialog, (QStringList{u"Abbrechen"_s, u"Text retten und beenden"_s,
                                              u"Trotzdem beenden"_s, u"Abbrechen"_s,
                                              u"Nicht gesicherter Text"_s}));
            QCOMPARE(m_store->unsavedTexts().isEmpty(), answer != u"Abbrechen");
            QCOMPARE(m_window->editorPane()->editor()->toPlainText(), text);
            return;
        }
        QCOMPARE(kept.size(), 1);
        QVERIFY2(QRegularExpression(u"^Birnen \\d{4}-\\d\\d-\\d\\d \\d{6}\\.md$"_s)
                     .match(kept.first())
                     .hasMatch(),
                 qPrintable(kept.first()));
        QCOMPARE(test::readBytes(rescued + u'/' + kept.first()), text.toUtf8());
        // Asked again, the same text is not kept twice.
        QVERIFY(m_store->rescueUnsaved());
        QCOMPARE(QDir(rescued).entryList(QDir::Files), kept);
    }

    void menusAndEditingCommands() {
        open();
        // Alt and a letter open each menu and reach each entry, no letter twice in a menu.
        QList<QWidget*> menus = {m_window->menuBar()};
        while (!menus.isEmpty()) {
            QWidget* menu = menus.takeFirst();
            QSet<QKeySequence> letters;
            for (QAction* a : menu->actions()) {
                if (a->isSeparator())
                    continue;
                if (a->menu())
                    menus.append(a->menu());
                const QKeySequence key = QKeySequence::mnemonic(a->text());
                QVERIFY2(!key.isEmpty() && !letters.contains(key), qPrintable(a->text()));
                letters.insert(key);
            }
        }
        // The editing commands act on the text field that has the focus.
        clickGroup(u"Ideen"_s);
        QPlainTextEdit* editor = m_window->findChild<QPlainTextEdit*>();
        QVERIFY(editor);
        editor->setFocus();
        QTRY_VERIFY(editor->hasFocus());
        const QString before = editor->toPlainText();
        editor->moveCursor(QTextCursor::End);
        QTest::keyClicks(editor, u"Neu"_s);
        QCOMPARE(editor->toPlainText(), before + u"Neu"_s);
        m_window->command(u"Rückgängig"_s)->trigger();
        QCOMPARE(editor->toPlainText(), before);
        m_window->command(u"Wiederholen"_s)->trigger();
        QCOMPARE(editor->toPlainText(), before + u"Neu"_s);
        m_window->command(u"Alles auswählen"_s)->trigger();
        QCOMPARE(editor->textCursor().selectedText().size(), editor->toPlainText().size());

        // Finding is in the menu, and its keys still work.
        FindBar* bar = m_window->editorPane()->findBar();
        m_window->command(u"Suchen \u2026"_s)->trigger();
        QTRY_VERIFY(bar->field()->hasFocus());
        QTest::keyClicks(bar->field(), u"e"_s);
        QVERIFY(bar->countLabel()->text().startsWith(u"1 von"_s));
        m_window->command(u"Weitersuchen"_s)->trigger();
        QVERIFY(bar->countLabel()->text().startsWith(u"2 von"_s));
        QTest::keyClick(editor, Qt::Key_F3, Qt::ShiftModifier);
        QVERIFY(bar->countLabel()->text().startsWith(u"1 von"_s));
        QTest::keyClick(bar->field(), Qt::Key_Escape);
        QVERIFY(bar->isHidden());
        QTest::keyClick(editor, Qt::Key_F, Qt::ControlModifier);
        QTRY_VERIFY(bar->isVisible());
    }

    void writingAidsCanBeTurnedOffAndStaySo() {
        open();
        clickGroup(u"Ideen"_s);
        QTRY_VERIFY(m_window->editorPane()->editor());
        MarkdownEditor* editor = m_window->editorPane()->editor();
        QAction* spelling = m_window->command(u"Rechtschreibung beim Schreiben prüfen"_s);
        QAction* typography = m_window->command(u"Typografische Anführungszeichen und Striche"_s);
        QVERIFY(spelling && typography);
        QVERIFY(spelling->isCheckable() && spelling->isChecked());
        QVERIFY(typography->isCheckable() && typography->isChecked());
        QVERIFY(editor->spellChecker());
        QVERIFY(editor->typographicSubstitution());

        spelling->trigger();
        typography->trigger();
        QVERIFY(!editor->spellChecker());
        QVERIFY(!editor->typographicSubstitution());
        // A quote typed now stays as it was typed.
        editor->setFocus();
        editor->moveCursor(QTextCursor::End);
        QTest::keyClicks(editor, u"\"x\""_s);
        QVERIFY(editor->text().endsWith(u"\"x\""_s));

        // The next start remembers, also for sheets shown later.
        m_window.reset();
        m_store.reset();
        open();
        QVERIFY(!m_window->command(u"Rechtschreibung beim Schreiben prüfen"_s)->isChecked());
        QVERIFY(!m_window->command(u"Typografische Anführungszeichen und Striche"_s)->isChecked());
        clickGroup(u"Projekte"_s);
        QTRY_VERIFY(m_window->editorPane()->editor());
        QVERIFY(!m_window->editorPane()->editor()->spellChecker());
        QVERIFY(!m_window->editorPane()->editor()->typographicSubstitution());
        m_window->command(u"Rechtschreibung beim Schreiben prüfen"_s)->trigger();
        QVERIFY(m_window->editorPane()->editor()->spellChecker());
    }

    void otherProgramsChangesAreNoticedCalmly() {
        open();
        clickGroup(u"Ideen"_s);
        const QString birne = file(u"Ideen/birne.md"_s);
        MarkdownEditor* editor = m_window->editorPane()->editor();
        NoticeBar* notice = m_window->notice();
        QVERIFY(editor && notice->isHidden());
        QCOMPARE(notice->closeButton()->accessibleName(), u"Hinweis schließen"_s);

        // Nothing waits to be written: the new text is shown, the caret stays.
        QTextCursor caret = editor->textCursor();
        caret.setPosition(4);
        editor->setTextCursor(caret);
        QVERIFY(test::writeBytes(birne, "# Birnen\n\nVon drüben.\n"));
        QTRY_COMPARE(editor->toPlainText(), u"# Birnen\n\nVon drüben.\n"_s);
        QCOMPARE(editor->textCursor().position(), 4);
        QVERIFY(!m_store->hasPendingSave());
        QCOMPARE(notice->text(),
                 u"Dieses Blatt wurde außerhalb von Orvik geändert und neu geladen."_s);
        QVERIFY(notice->isVisible());
        // A screen reader reads the notice itself, not just "Hinweis".
        QCOMPARE(notice->findChild<QLabel*>()->accessibleName(), notice->text());
        // Closed from the keyboard.
        notice->closeButton()->setFocus();
        QTest::keyClick(notice->closeButton(), Qt::Key_Space);
        QVERIFY(notice->isHidden());

        // Both changed: the user's text stays in the sheet, the other beside it.
        editor->moveCursor(QTextCursor::End);
        QTest::keyClicks(editor, u"Meins."_s);
        QVERIFY(test::writeBytes(birne, "# Birnen\n\nFremd.\n"));
        QTest::qWait(60);
        save();
        QCOMPARE(test::readBytes(birne), QByteArray("# Birnen\n\nVon drüben.\nMeins."));
        const QStringList kept = QDir(file(u"Ideen"_s)).entryList({u"birne (extern*"_s});
        QCOMPARE(kept.size(), 1);
        QCOMPARE(test::readBytes(file(u"Ideen/"_s + kept.first())),
                 QByteArray("# Birnen\n\nFremd.\n"));
        QCOMPARE(notice->text(),
                 u"Dieses Blatt wurde außerhalb von Orvik geändert. Deine Fassung steht im Blatt, "
                 u"die andere liegt daneben als „"_s +
                     kept.first() + u"“."_s);
        QTRY_COMPARE(rowTitles().size(), 4);
        QCOMPARE(editor->toPlainText(), u"# Birnen\n\nVon drüben.\nMeins."_s);

        // Deleted while open: written again with the next edit, and said so.
        QVERIFY(QFile::remove(birne));
        QTest::qWait(60);
        QTest::keyClicks(editor, u" Noch."_s);
        save();
        QCOMPARE(test::readBytes(birne), QByteArray("# Birnen\n\nVon drüben.\nMeins. Noch."));
        QCOMPARE(notice->text(),
                 u"Dieses Blatt wurde außerhalb von Orvik gelöscht und wieder gesichert."_s);
        notice->setFocus();
        QTest::keyClick(notice, Qt::Key_Escape);
        QVERIFY(notice->isHidden());

        // The group renamed: the typing goes on at the caret, into the renamed folder.
        QVERIFY(QDir().rename(file(u"Ideen"_s), file(u"Einfälle"_s)));
        QTRY_VERIFY(
            !m_window->sidebar()->list()->findItems(u"Einfälle"_s, Qt::MatchExactly).isEmpty());
        QTest::keyClicks(editor, u" Weiter."_s);
        save();
        QCOMPARE(test::readBytes(file(u"Einfälle/birne.md"_s)),
                 QByteArray("# Birnen\n\nVon drüben.\nMeins. Noch. Weiter."));
        notice->showNotice(u"Noch ein Hinweis"_s);

        // The notice speaks of its sheet: another sheet clears it.
        clickRow(rowTitles().indexOf(u"Kirschen"_s));
        QVERIFY(notice->isHidden());
    }

    void noticesNameASheetThatIsNotShown() {
        const QUrl sheet = QUrl::fromLocalFile(u"/bib/Ideen/plan.md"_s);
        QCOMPARE(NoticeBar::textFor({ExternalChange::Kind::KeptBoth, sheet,
                                     u"plan (extern geändert 2026-12-06 143005).md"_s},
                                    false),
                 u"Das Blatt „plan.md“ wurde außerhalb von Orvik geändert. Deine Fassung steht "
                 u"im Blatt, die andere liegt daneben als „plan (extern geändert 2026-12-06 "
                 u"143005).md“."_s);
        QCOMPARE(NoticeBar::textFor({ExternalChange::Kind::Recreated, sheet, {}}, false),
                 u"Das Blatt „plan.md“ wurde außerhalb von Orvik gelöscht und wieder gesichert."_s);
    }

    void aFailedWriteKeepsTheTextAndSaysSo() {
        // Root ignores file modes: there a full disk or a file size limit fails the write.
        std::unique_ptr<test::SmallDisk> disk;
        bool limited = false;
        if (test::isRoot()) {
            QVERIFY(QDir().mkpath(lib()));
            disk = std::make_unique<test::SmallDisk>(lib(), 256 * 1024);
            limited = !disk->mounted();
            if (disk->mounted())
                write(u"Ideen/birne.md"_s, u"# Birnen\n"_s, day(4));
        }
        qInfo("failing writes by %s", !test::isRoot() ? "a read-only group"
                                      : limited       ? "a file size limit"
                                                      : "a full disk");
        open();
        clickGroup(u"Ideen"_s);
        const QString birne = file(u"Ideen/birne.md"_s);
        const QByteArray before = test::readBytes(birne);
        const QString filler = file(u"Projekte/füller"_s);
        rlimit unlimited{};
        getrlimit(RLIMIT_FSIZE, &unlimited);
        const auto fail = [&] {
            if (!test::isRoot()) {
                QVERIFY(test::setTreeWritable(file(u"Ideen"_s), false));
            } else if (limited) {
                std::signal(SIGXFSZ, SIG_IGN);
                rlimit small = unlimited;
                small.rlim_cur = 4096;
                QCOMPARE(setrlimit(RLIMIT_FSIZE, &small), 0);
            } else {
                QVERIFY(test::fillDisk(filler) > 0);
            }
        };
        const auto heal = [&] {
            if (!test::isRoot())
                QVERIFY(test::setTreeWritable(file(u"Ideen"_s), true));
            else if (limited)
                QCOMPARE(setrlimit(RLIMIT_FSIZE, &unlimited), 0);
            else
                QVERIFY(QFile::remove(filler));
        };

        // A failed check must not leave the limit on the rest of the tests.
        const auto unlimit = qScopeGuard([&] {
            setrlimit(RLIMIT_FSIZE, &unlimited);
            test::setTreeWritable(file(u"Ideen"_s), true);
        });
        fail();
        MarkdownEditor* editor = m_window->editorPane()->editor();
        editor->moveCursor(QTextCursor::End);
        const QString added = u"\nLanger Nachtrag "_s + QString(6000, u'w');
        editor->insertPlainText(added);
        save();
        StatusBar* status = m_window->editorPane()->statusBar();
        QTRY_COMPARE(status->savedShown(), u"Nicht gesichert"_s);
        QVERIFY(editor->toPlainText().endsWith(added));
        QCOMPARE(test::readBytes(birne), before);

        heal();
        save();
        QTRY_VERIFY(status->savedShown().startsWith(u"Gesichert "_s));
        QCOMPARE(test::readBytes(birne), editor->toPlainText().toUtf8());
        m_window.reset();
        m_store.reset();
    }

    // A large sheet is read on another thread: the editor shows it read-only
    // until it is there, and keys typed meanwhile reach no sheet.
    void aLargeSheetIsReadWhileTheWindowAnswers() {
        const QString large = u"# Gross\n\n"_s + u"Ein Satz aus Worten.\n\n"_s.repeated(20000);
        write(u"Ideen/gross.md"_s, large, day(1));
        open();
        clickGroup(u"Ideen"_s);
        const int row = int(rowTitles().indexOf(u"Gross"_s));
        MarkdownEditor* editor = m_window->editorPane()->editor();
        editor->setFocus();
        QTest::keyClicks(editor, u"Hallo"_s);
        clickRow(row);
        QVERIFY(m_store->isReadingSheet() && editor->isReadOnly());
        QVERIFY(m_window->editorPane()->loadNotice()->isVisibleTo(m_window.get()));
        QTest::keyClicks(editor, u"x"_s);
        QVERIFY(idle());
        QVERIFY(!editor->isReadOnly() && !m_window->editorPane()->loadNotice()->isVisible());
        QCOMPARE(editor->toPlainText(), large);

        // Chosen and left at once: what is typed goes into the sheet chosen last.
        clickRow(0);
        clickRow(row);
        clickRow(0);
        QTest::keyClicks(editor, u"Birne"_s);
        save();
        QCOMPARE(QString::fromUtf8(test::readBytes(file(u"Ideen/birne.md"_s))),
                 u"Hallo# Birnen\n\nEin Wort über Apfel.\nBirne"_s);
        QCOMPARE(QString::fromUtf8(test::readBytes(file(u"Ideen/gross.md"_s))), large);
    }
};

ORVIK_WINDOW_TEST_MAIN(TestWindow)

#include "tst_window.moc"
