#include "library/library.h"
#include "markdown/statistics.h"
#include "safekeeping/backupmanager.h"
#include "safekeeping/disappearance.h"
#include "safekeeping/trash.h"
#include "store/librarystore.h"
#include "ui/editor/editorpane.h"
#include "ui/editor/findbar.h"
#include "ui/editor/markdowneditor.h"
#include "ui/editor/statusbar.h"
#include "ui/editor/welcomeplaceholder.h"
#include "ui/window/conflictview.h"
#include "ui/window/diffview.h"
#include "ui/window/exportmenu.h"
#include "ui/window/mainwindow.h"
#include "ui/window/noticebar.h"
#include "ui/window/quitting.h"
#include "ui/window/services.h"
#include "ui/window/sheetlist.h"
#include "ui/window/sidebar.h"
#include "ui/window/statisticsview.h"
#include "ui/window/versionsview.h"
#include "widgettest.h"

#include <QtWidgets>

#include <csignal>

#include <unistd.h>

using namespace Qt::StringLiterals;

using namespace orvik;
using namespace orvik::ui;

namespace {

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
            chosen = a->text() == text ? a : chosen;
        }
        menu->close();
        if (chosen)
            chosen->trigger();
    });
}

// Selects a row as assistive technology does, which leaves the current row alone.
void accessibleSelect(QAbstractItemView* view, int row) {
    QAccessibleInterface* cell =
        QAccessible::queryAccessibleInterface(view)->tableInterface()->cellAt(row, 0);
    QVERIFY(cell && cell->actionInterface());
    cell->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
}

QString accessibleName(QWidget* widget) {
    return QAccessible::queryAccessibleInterface(widget)->text(QAccessible::Name);
}

QStringList accessibleChildNames(QWidget* widget, QAccessible::Role role) {
    QStringList names;
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(widget);
    for (int i = 0; iface && i < iface->childCount(); ++i)
        if (QAccessibleInterface* child = iface->child(i); child && child->role() == role)
            names.append(child->text(QAccessible::Name));
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
    // What the window asked (before deleting for good, exporting), and the answer.
    QStringList m_asked;
    bool m_agree = true;

    static QDateTime day(int d, int hour = 9) { return {QDate(2026, 3, d), QTime(hour, 0)}; }
    static QStringList items(const char* barred) { return QString::fromUtf8(barred).split(u'|'); }
    QString file(const QString& path) const { return m_dir->path() + u"/Bibliothek/"_s + path; }
    QByteArray bytes(const QString& relative) const { return test::readBytes(file(relative)); }
    QUrl url(const QString& relative) const { return QUrl::fromLocalFile(file(relative)); }
    SheetListWidget* sheets() const { return m_window->sheetList()->list(); }
    MarkdownEditor* currentEditor() const { return m_window->editorPane()->editor(); }
    void run(const QString& command) { m_window->command(command)->trigger(); }
    void save() { run(u"save"_s); }
    static QSettings prefs() { return QSettings(u"Orvik"_s, u"Orvik"_s); }

    void write(const QString& path, const QString& text, const QDateTime& modified) {
        QVERIFY(test::writeBytes(file(path), text.toUtf8()) &&
                test::setModified(file(path), modified));
    }

    void open(const QString& group = {}, bool shown = true) {
        LibraryStore::Options options;
        options.root = m_dir->path() + u"/Bibliothek"_s;
        options.backupSchedule = false;
        options.searchDelayMs = options.watchDelayMs = 20;
        options.dailyContext = [] { return QtFuture::makeReadyFuture(QString()); };
        m_store = std::make_unique<LibraryStore>(options);
        m_window = std::make_unique<MainWindow>(*m_store);
        if (shown) {
            m_window->show();
            QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
        }
        QVERIFY(idle());
        if (!group.isEmpty())
            clickGroup(group);
    }

    // Once the shown group is listed and the selected sheet read.
    bool idle() const {
        return QTest::qWaitFor([&] { return !m_store->isListing() && !m_store->isReadingSheet(); });
    }

    Folder group(const QString& name) const {
        const QList<Folder> all = m_store->folders();
        const auto found = std::ranges::find(all, name, &Folder::name);
        return found == all.end() ? Folder() : *found;
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
    int rowOf(const QString& title) const { return int(rowTitles().indexOf(title)); }

    void clickRow(int row) {
        QTest::mouseClick(sheets()->viewport(), Qt::LeftButton, {},
                          sheets()->visualRect(sheets()->model()->index(row, 0)).center());
    }

    // Opens a row's menu from the keyboard: the desktop's context-menu event,
    // or a key the list itself answers. No menu: an empty list.
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
        [[maybe_unused]] const bool opened = QTest::qWaitFor([&] { return !seen.isEmpty(); });
        QTest::qWait(0);
        return seen;
    }

    // Drags `data` in from elsewhere and lets it go at `at`: whether it was taken.
    static bool dropOnto(QWidget* viewport, QPoint at, const QMimeData* data) {
        for (const QEvent::Type type : {QEvent::DragEnter, QEvent::DragMove}) {
            QDragMoveEvent drag(at, Qt::CopyAction | Qt::MoveAction, data, Qt::LeftButton, {},
                                type);
            QApplication::sendEvent(viewport, &drag);
            if (!drag.isAccepted())
                return false;
        }
        QDropEvent drop(at, Qt::CopyAction | Qt::MoveAction, data, Qt::LeftButton, {});
        QApplication::sendEvent(viewport, &drop);
        return drop.isAccepted();
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
    void init() {
        prefs().clear();
        m_dir = std::make_unique<QTemporaryDir>();
        m_revealed = m_asked = {};
        m_agree = true;
        services().confirm = [this](QWidget*, const QString& question, const QString& confirm) {
            m_asked.append(question + u" | "_s + confirm);
            return m_agree;
        };
        services().reveal = [this](const QString& path) { m_revealed.append(path); };
        services().chooseExportFile = [this](QWidget*, const QString& title,
                                             const QString& proposed, Exporter::Format) {
            m_asked.append(title + u" | "_s + proposed);
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

    // The columns follow the keyboard and assistive technology; every button is named.
    void windowAndColumns() {
        write(u"Tagebuch/ein-wort.md"_s, u"Hallo"_s, day(7, 14));
        open();
        QListWidget* groups = m_window->sidebar()->list();
        QCOMPARE(accessibleChildNames(groups, QAccessible::ListItem).size(), groups->count());
        // Also the buttons Qt adds to text fields; tool buttons have icons.
        QLineEdit* search = m_window->sheetList()->searchField();
        search->setText(u"x"_s);
        m_window->editorPane()->showFindBar();
        for (QAbstractButton* b : m_window->findChildren<QAbstractButton*>())
            QVERIFY2(!accessibleName(b).isEmpty() &&
                         (b->parent() != m_window->toolbar() || !b->icon().isNull()),
                     b->parentWidget()->metaObject()->className());
        for (QLineEdit* field : m_window->findChildren<QLineEdit*>())
            QVERIFY2(!accessibleName(field).isEmpty(), qPrintable(field->objectName()));
        search->clear();
        // A row reads as title, preview and meta line; the word count has no singular.
        clickGroup(u"Tagebuch"_s);
        const QStringList rows = accessibleChildNames(sheets(), QAccessible::ListItem);
        QVERIFY2(rows.size() == 1 && rows.first().startsWith(u"Hallo, "_s) &&
                     rows.first().endsWith(u"7. März 2026 · 1 Wörter"_s),
                 qPrintable(rows.join(u'|')));
        // Arrow keys walk both lists.
        clickGroup(u"Ideen"_s);
        clickRow(2);
        QTest::keyClick(sheets(), Qt::Key_Up);
        QCOMPARE(m_store->selectedSheet()->title, u"Kirschen"_s);
        // Enter goes on writing in it, in the sheet just chosen even before
        // the editor has shown it.
        QTest::keyClick(sheets(), Qt::Key_Return);
        QCOMPARE(QApplication::focusWidget(), currentEditor());
        QTest::keyClicks(currentEditor(), u"Noch mehr."_s);
        save();
        QCOMPARE(bytes(u"Ideen/kirsche.md"_s), "# Kirschen\n\nRot.\nNoch mehr.");
        groups->setFocus();
        QTest::keyClick(groups, Qt::Key_Down);
        QTRY_COMPARE(rowTitles(), QStringList{u"Reise"_s});
        // Assistive technology selects without clicking; the store follows.
        accessibleSelect(groups, 1);
        QCOMPARE(m_store->selectedFolder()->name, u"Ideen"_s);
        QVERIFY(idle());
        accessibleSelect(sheets(), 1);
        QCOMPARE(m_store->selectedSheet()->title, rowTitles().at(1));
        QCOMPARE(sheets()->currentIndex().row(), 1);
    }

    // Thousands of sheets listed before the window first painted are filled
    // into the list right after, not before.
    void aLongListWaitsForTheFirstPaint() {
        for (int i = 0; i < 5001; ++i)
            QVERIFY(test::writeBytes(file(u"Schnelle Notiz/b%1.md"_s.arg(i)), "# B\n"));
        open({}, false);
        QCOMPARE(m_store->visibleSheets().size(), 5001);
        QCOMPARE(m_window->sheetList()->model()->rowCount(), 0);
        m_window->show();
        QTRY_COMPARE(m_window->sheetList()->model()->rowCount(), 5001);
        QCOMPARE(sheets()->currentIndex().data(SheetListModel::UrlRole).toUrl(),
                 m_store->selectedSheetID());
    }

    // The scope bar and hints; a hit of another group being written in when the search
    // ends is left at once, its words in its file.
    void searchShowsScopeBarHitsAndHints() {
        open(u"Ideen"_s);
        SheetListView* column = m_window->sheetList();
        QLineEdit* field = column->searchField();
        SearchScopeBar* bar = column->scopeBar();
        QTest::keyClicks(field, u"Apfel"_s);
        QVERIFY(bar->isVisible());
        QTRY_COMPARE(bar->statusText(), u"2 Blätter gefunden"_s);
        // As a screen reader or switch access would: the button's first accessible action.
        auto* act = QAccessible::queryAccessibleInterface(bar->button(SearchScope::Library))
                        ->actionInterface();
        act->doAction(act->actionNames().first());
        QTRY_COMPARE(bar->statusText(), u"3 Blätter gefunden"_s);
        clickRow(rowOf(u"Reise"_s));
        currentEditor()->setFocus();
        currentEditor()->moveCursor(QTextCursor::End);
        QTest::keyClicks(currentEditor(), u"Im Herbst."_s);
        field->clear();
        QVERIFY(!currentEditor() && m_window->editorPane()->placeholder());
        save();
        QCOMPARE(bytes(u"Projekte/reise.md"_s), "# Reise\n\nApfelplantagen besuchen.\nIm Herbst.");
        // One character is no search yet; in an empty group it finds nothing, not "no sheets".
        clickGroup(u"Schnelle Notiz"_s);
        QTest::keyClicks(field, u"x"_s);
        QVERIFY(!bar->isVisible());
        QVERIFY(accessibleChildNames(column->hint(), QAccessible::StaticText)
                    .contains(u"Nichts gefunden"_s));
    }

    // The trash from the keyboard: only sheets in it offer restoring and deleting for good,
    // which asks first.
    void contextMenuDeletesRestoresAndEmptiesTrash() {
        open(u"Ideen"_s);
        SheetListView* column = m_window->sheetList();
        QCOMPARE(
            rowMenu(0, u"Im Dateimanager zeigen"_s, Qt::SHIFT | Qt::Key_F10),
            items("Im Dateimanager zeigen|Verschieben nach|Versionen \u2026|In den Papierkorb"));
        QCOMPARE(m_revealed, QStringList{file(u"Ideen/birne.md"_s)});
        rowMenu(0, u"In den Papierkorb"_s, QKeyCombination(Qt::Key_Menu));
        QVERIFY(!QFile::exists(file(u"Ideen/birne.md"_s)));
        sheets()->setCurrentIndex(column->model()->index(0));
        QTest::keyClick(sheets(), Qt::Key_Delete);
        QVERIFY(!QFile::exists(file(u"Ideen/kirsche.md"_s)));
        clickGroup(u"Papierkorb"_s);
        QCOMPARE(rowMenu(rowOf(u"Birnen"_s), u"Wiederherstellen"_s),
                 items("Wiederherstellen|Endgültig löschen"));
        QVERIFY(QFile::exists(file(u"Ideen/birne.md"_s)));
        // Hits of other groups in the trash view go into the trash, not for good.
        QTest::keyClicks(column->searchField(), u"Apfel"_s);
        QTest::mouseClick(column->scopeBar()->button(SearchScope::Library), Qt::LeftButton);
        QTRY_COMPARE(column->scopeBar()->statusText(), u"3 Blätter gefunden"_s);
        QCOMPARE(
            rowMenu(rowOf(u"Reise"_s), u"In den Papierkorb"_s),
            items("Im Dateimanager zeigen|Verschieben nach|Versionen \u2026|In den Papierkorb"));
        QVERIFY(QFile::exists(file(u".Papierkorb/reise.md"_s)) && m_asked.isEmpty());
        column->searchField()->clear();
        QTRY_COMPARE(rowTitles().size(), 2); // the trash lists what the watcher saw arrive
        // Declined, neither the button, the menu nor Delete removes a sheet.
        const Sheet first = m_store->sheets().first();
        const QString question =
            u"„"_s + first.title + u"“ endgültig löschen? | Endgültig löschen"_s;
        m_agree = false;
        QTest::mouseClick(column->emptyTrashButton(), Qt::LeftButton);
        rowMenu(0, u"Endgültig löschen"_s);
        QTest::keyClick(sheets(), Qt::Key_Delete);
        QCOMPARE(m_asked, (QStringList{u"2 Blätter endgültig löschen? | Endgültig löschen"_s,
                                       question, question}));
        sheets()->selectAll(); // the question names every selected sheet
        QTest::keyClick(sheets(), Qt::Key_Delete);
        QCOMPARE(m_asked.last(), u"2 Blätter endgültig löschen? | Endgültig löschen"_s);
        QCOMPARE(rowTitles().size(), 2);
        // Agreed: the shown sheet is not written back, and the empty trash says so.
        m_agree = true;
        rowMenu(0, u"Endgültig löschen"_s);
        QVERIFY(!QFile::exists(first.path()));
        QTest::mouseClick(column->emptyTrashButton(), Qt::LeftButton);
        QVERIFY(m_store->trash().isEmpty() && column->emptyTrashButton()->isHidden());
        QCOMPARE(column->hint()->title(), u"Papierkorb ist leer"_s);
    }

    // In every mode the row that has the keyboard shows; an unknown stored mode is the system's.
    void appearanceModesColourTheWindow() {
        prefs().setValue(u"OrvikAppearance"_s, u"blau"_s);
        open(u"Ideen"_s);
        QCOMPARE(m_window->editorStyle().mode, AppearanceMode::System);
        QMenu* modes = m_window->toolbarButton(u"Farbmodus"_s)->menu();
        for (const QString& title :
             {QString(), u"Dunkel"_s, u"Hell"_s, u"Sepia dunkel"_s, u"Sepia hell"_s}) {
            for (QAction* a : modes->actions())
                if (a->text() == title)
                    a->trigger();
            QApplication::processEvents();
            verifyKeyboardRowShows(m_window->sidebar()->list());
            verifyKeyboardRowShows(sheets());
            QCOMPARE(isDark(m_window->palette()) && isDark(sheets()->palette()),
                     title.endsWith(u"unkel"_s));
        }
        QCOMPARE(prefs().value(u"OrvikAppearance"_s).toString(), u"sepiaHell"_s);
    }

    void typingRightAfterANewSheet_data() {
        QTest::addColumn<QString>("command");
        QTest::addColumn<int>("line"); // where the words land; -1: at the end
        QTest::addColumn<QString>("group");
        const QString quick = u"Schnelle Notiz"_s;
        QTest::newRow("Strg+N") << u"Strg+N"_s << -1 << quick;
        QTest::newRow("start view") << u"Startbild"_s << -1 << quick;
        // Below the heading, above the weather and headlines.
        QTest::newRow("diary") << u"Tagebucheintrag"_s << 2 << u"Tagebuch"_s;
        QTest::newRow("Neu aus Vorlage") << u"Projektidee"_s << -1 << u"Projekte"_s;
        QTest::newRow("Vorlagen") << u"Vorlagen"_s << -1 << u"Tagebuch"_s;
    }

    // Every command that makes a sheet hands it the keyboard: the first words land in it.
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
        if (command == u"Vorlagen")
            chooseInNextPopup(u"Tagebuch ohne Tageskontext"_s);
        if (command == u"Strg+N")
            QTest::keyClick(window, Qt::Key_N, Qt::ControlModifier);
        else if (command == u"Startbild")
            QTest::mouseClick(m_window->editorPane()->placeholder()->newSheetButton(),
                              Qt::LeftButton);
        else if (QToolButton* button = m_window->toolbarButton(command))
            QTest::mouseClick(button, Qt::LeftButton);
        else
            run(command);
        for (const char c : QByteArray("Hallo"))
            QTest::keyClick(window, c);
        save();
        QTEST(m_store->selectedFolder()->name, "group");
        const QStringList lines =
            QString::fromUtf8(test::readBytes(m_store->selectedSheet()->path())).split(u'\n');
        QCOMPARE(lines.value(line < 0 ? lines.size() - 1 : line), u"Hallo"_s);
    }

    // Exporting and closing the window write the waiting text first.
    void exportWritesTheNewestText() {
        open(u"Ideen"_s);
        m_store->setCurrentText(u"# Birnen\n\nFrisch getippt.\n"_s);
        QVERIFY(m_store->hasPendingSave());
        m_exportTarget = m_dir->path() + u"/Birnen.md"_s;
        m_window->toolbarExportMenu()->sheetActions().last()->trigger();
        QCOMPARE(m_asked, QStringList{u"Exportieren als Markdown | Birnen.md"_s});
        QCOMPARE(test::readBytes(m_exportTarget), "# Birnen\n\nFrisch getippt.\n");
        QVERIFY(!m_store->hasPendingSave());
        QCOMPARE(m_revealed, QStringList{m_exportTarget});
        m_exportTarget = m_dir->path() + u"/Ideen.md"_s; // the group, oldest first
        m_window->fileExportMenu()->folderActions().last()->trigger();
        QVERIFY(QString::fromUtf8(test::readBytes(m_exportTarget))
                    .contains(QRegularExpression(u"# Apfelkuchen.*# Kirschen.*# Birnen"_s,
                                                 QRegularExpression::DotMatchesEverythingOption)));
        m_store->setCurrentText(u"# Birnen\n\nLetzte Worte.\n"_s);
        m_window->close();
        QCOMPARE(bytes(u"Ideen/birne.md"_s), "# Birnen\n\nLetzte Worte.\n");
    }

    void textThatCannotBeWrittenIsNotLostOnQuitting_data() {
        QTest::addColumn<QString>("answer"); // "Abbrechen" with the Enter key
        QTest::newRow("Abbrechen") << u"Abbrechen"_s;
        QTest::newRow("retten") << u"Text retten und beenden"_s;
        QTest::newRow("trotzdem") << u"Trotzdem beenden"_s;
        QTest::newRow("SIGTERM") << QString(); // asks nothing, rescues
    }

    // Text that cannot be written is asked about before quitting, or rescued, once.
    void textThatCannotBeWrittenIsNotLostOnQuitting() {
        QFETCH(QString, answer);
        const bool stay = answer == u"Abbrechen",
                   rescue = answer.isEmpty() || answer.startsWith(u"Text"_s);
        QDir rescued(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
                     u"/Orvik/Gerettet"_s);
        QVERIFY(rescued.removeRecursively());
        open(u"Ideen"_s);
        // Taken out of the library: no name inside it leads there any more.
        QVERIFY(QDir().rename(file(u"Ideen"_s), m_dir->path() + u"/weg"_s));
        const QString text = u"# Birnen\n\nNicht verlieren.\n"_s;
        m_store->setCurrentText(text);
        QStringList asked; // the question's name, default, buttons and words
        QTimer poll;
        connect(&poll, &QTimer::timeout, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box)
                return;
            QStringList buttons;
            QAbstractButton* chosen = nullptr;
            for (QAbstractButton* button : box->buttons()) {
                buttons.append(button->text());
                chosen = button->text() == answer ? button : chosen;
            }
            buttons.sort();
            asked << box->accessibleName() << box->defaultButton()->text() << buttons << box->text()
                  << box->informativeText();
            if (stay)
                QTest::keyClick(box, Qt::Key_Return);
            else if (chosen)
                chosen->click();
        });
        poll.start(20);
        if (answer.isEmpty()) {
            keepTextWhenEnding(*qApp, *m_store);
            QObject guard;
            QTimer::singleShot(10000, &guard, [] { QCoreApplication::exit(1); });
            QCOMPARE(::kill(::getpid(), SIGTERM), 0);
            QCOMPARE(QCoreApplication::exec(), 0);
            QCOMPARE(asked, QStringList());
        } else {
            run(u"quit"_s);
            QCOMPARE(asked, items("Nicht gesicherter Text|Abbrechen|Abbrechen|Text retten und "
                                  "beenden|Trotzdem beenden|„Birnen“ konnte nicht gesichert "
                                  "werden.|Den Ordner „Ideen“ gibt es nicht mehr.\n\nBeim Beenden "
                                  "ginge der Text verloren. „Text retten und beenden“ legt ihn im "
                                  "Ordner „~/.local/share/Orvik/Gerettet“ ab."));
            QCOMPARE(m_window->isVisible(), stay);
        }
        const QStringList kept = rescued.entryList(QDir::Files);
        if (!rescue) {
            QCOMPARE(kept, QStringList());
            QCOMPARE(m_store->unsavedTexts().isEmpty(), !stay);
            QCOMPARE(currentEditor()->toPlainText(), text);
            return;
        }
        QVERIFY2(kept.size() == 1 && kept.first().contains(QRegularExpression(
                                         u"^Birnen \\d{4}-\\d\\d-\\d\\d \\d{6}\\.md$"_s)),
                 qPrintable(kept.join(u'|')));
        QCOMPARE(test::readBytes(rescued.filePath(kept.first())), text.toUtf8());
        QVERIFY(m_store->rescueUnsaved());
        QCOMPARE(rescued.entryList(QDir::Files), kept);
    }

    // Every menu entry has its own letter; the editing, finding and writing-aid
    // commands act on the text that has the focus, and the aids stay off.
    void menusAndEditingCommands() {
        open(u"Ideen"_s);
        QList<QWidget*> menus = {m_window->menuBar()};
        while (!menus.isEmpty()) {
            QSet<QKeySequence> letters;
            for (QAction* a : menus.takeFirst()->actions()) {
                if (a->menu())
                    menus.append(a->menu());
                const QKeySequence key = QKeySequence::mnemonic(a->text());
                QVERIFY2(a->isSeparator() || (!key.isEmpty() && !letters.contains(key)),
                         qPrintable(a->text()));
                letters.insert(key);
            }
        }
        MarkdownEditor* editor = currentEditor();
        editor->setFocus();
        QTRY_VERIFY(editor->hasFocus());
        // The formatting keys act on the text; Strg+K, which the text view
        // would take for itself, too.
        editor->moveCursor(QTextCursor::End);
        QTest::keyClicks(editor, u" fett"_s);
        editor->moveCursor(QTextCursor::WordLeft, QTextCursor::KeepAnchor);
        QTest::keyClick(editor, Qt::Key_B, Qt::ControlModifier);
        QTest::keyClick(editor, Qt::Key_K, Qt::ControlModifier);
        QTest::keyClicks(editor, u"x"_s);
        QVERIFY(editor->toPlainText().endsWith(u" **[fett](x)**"_s));
        // The statistics follow the selection; asking again shows the same window.
        QTest::keyClick(editor, Qt::Key_I, Qt::ControlModifier | Qt::ShiftModifier);
        run(u"statistics"_s);
        QCOMPARE(m_window->findChildren<StatisticsView*>().size(), 1);
        StatisticsView* stats = m_window->findChild<StatisticsView*>();
        QCOMPARE(stats->scope(), u"Ganzes Blatt"_s);
        run(u"selectAll"_s);
        QTRY_COMPARE(stats->scope(), u"Auswahl"_s);
        QCOMPARE(stats->value(u"Wörter"_s),
                 QString::number(statistics::measure(editor->text()).words));
        stats->close();
        m_window->activateWindow();
        QTRY_VERIFY(m_window->isActiveWindow());
        // The window's find keys reach the bar (the bar's own keys: the editor's tests).
        FindBar* bar = m_window->editorPane()->findBar();
        QTest::keyClick(editor, Qt::Key_H, Qt::ControlModifier);
        QTRY_VERIFY(bar->isVisible() && bar->replacing());
        QTest::keyClick(editor, Qt::Key_F, Qt::ControlModifier);
        QTRY_VERIFY(bar->field()->hasFocus() && !bar->replacing());
        QTest::keyClicks(bar->field(), u"e"_s);
        const QString hits = QString::number(bar->hits().size());
        QTest::keyClick(editor, Qt::Key_F3, Qt::ShiftModifier);
        QCOMPARE(bar->countLabel()->text(), hits + u" von "_s + hits);
        const QString spelling = u"spellChecking"_s, typography = u"typography"_s;
        QVERIFY(m_window->command(spelling)->isChecked() && editor->spellChecker());
        QVERIFY(m_window->command(typography)->isChecked() && editor->typographicSubstitution());
        run(spelling);
        run(typography);
        QVERIFY(!editor->spellChecker() && !editor->typographicSubstitution());
        // The next start remembers, also for sheets shown later.
        m_window.reset();
        m_store.reset();
        open(u"Projekte"_s);
        QVERIFY(!m_window->command(spelling)->isChecked() &&
                !m_window->command(typography)->isChecked());
        QTRY_VERIFY(editor = currentEditor());
        QVERIFY(!editor->spellChecker() && !editor->typographicSubstitution());
    }

    // What another program does to the open sheet is shown calmly, a write that fails is
    // said; keeping both texts and the files are the store's tests.
    void otherProgramsChangesAndFailedWritesAreShownCalmly() {
        open(u"Ideen"_s);
        MarkdownEditor* editor = currentEditor();
        NoticeBar* notice = m_window->notice();
        // Nothing waits to be written: the new text is shown, the caret stays.
        QTextCursor caret = editor->textCursor();
        caret.setPosition(4);
        editor->setTextCursor(caret);
        QVERIFY(test::writeBytes(file(u"Ideen/birne.md"_s), "# Birnen\n\nVon drüben.\n"));
        QTRY_COMPARE(editor->toPlainText(), u"# Birnen\n\nVon drüben.\n"_s);
        QCOMPARE(editor->textCursor().position(), 4);
        QCOMPARE(notice->text(),
                 u"Dieses Blatt wurde außerhalb von Orvik geändert und neu geladen."_s);
        QVERIFY(notice->isVisible());
        // A screen reader reads the notice itself, not just "Hinweis".
        QCOMPARE(notice->findChild<QLabel*>()->accessibleName(), notice->text());
        notice->setFocus();
        QTest::keyClick(notice, Qt::Key_Escape);
        QVERIFY(notice->isHidden());
        // The group renamed: the typing goes on at the caret, into the renamed folder.
        editor->moveCursor(QTextCursor::End);
        QVERIFY(QDir().rename(file(u"Ideen"_s), file(u"Einfälle"_s)));
        QTRY_VERIFY(
            !m_window->sidebar()->list()->findItems(u"Einfälle"_s, Qt::MatchExactly).isEmpty());
        QTest::keyClicks(editor, u"Weiter."_s);
        // A sync tool brings 300 sheets while the writer types: the list takes them, the open
        // sheet stays selected and gets every key.
        const qsizetype listed = m_store->sheets().size();
        for (int i = 0; i < 300; ++i) {
            QVERIFY(test::writeBytes(file(u"Einfälle/n"_s + QString::number(i) + u".md"_s), "#"));
            if (i % 50 == 0)
                QTest::keyClick(editor, Qt::Key_Period, {}, 5);
        }
        QTRY_COMPARE(m_store->sheets().size(), listed + 300);
        QCOMPARE(m_store->selectedSheetID(), url(u"Einfälle/birne.md"_s));
        save();
        QCOMPARE(bytes(u"Einfälle/birne.md"_s), "# Birnen\n\nVon drüben.\nWeiter.......");

        // A folder in the sheet's place fails the write, for root as well.
        const QString moved = file(u"Einfälle/birne.md"_s);
        QVERIFY(QFile::remove(moved) && QDir().mkdir(moved));
        QTest::keyClicks(editor, u" Nachtrag"_s);
        save();
        StatusBar* status = m_window->editorPane()->statusBar();
        QTRY_COMPARE(status->savedShown(), u"Nicht gesichert"_s);
        QVERIFY(editor->toPlainText().endsWith(u" Nachtrag"_s));
        QVERIFY(QDir().rmdir(moved));
        save();
        QTRY_VERIFY(status->savedShown().startsWith(u"Gesichert "_s));
        QCOMPARE(test::readBytes(moved), editor->toPlainText().toUtf8());
    }

    // A group of three emptied from a shell: the notice names the snapshot that holds them and
    // brings them back without touching what is there.
    void aGroupEmptiedFromOutsideIsOfferedBack() {
        open(u"Projekte"_s);
        // The library is watched once the window has painted and looked at it.
        QTRY_VERIFY(m_window->findChild<DisappearanceWatch*>() &&
                    m_window->findChild<DisappearanceWatch*>()->hasLooked());
        QVERIFY(m_store->backups().runIfNeeded().result().madeSnapshot());
        QVERIFY(QDir(file(u"Ideen"_s)).removeRecursively());
        NoticeBar* notice = m_window->notice();
        QTRY_VERIFY(notice->isVisible());
        QVERIFY2(notice->text().startsWith(u"3 Blätter sind verschwunden. Sie sind in der "
                                           u"Sicherung von "_s),
                 qPrintable(notice->text()));
        QCOMPARE(notice->actionButton()->text(), u"Wiederherstellen"_s);
        QVERIFY(test::writeBytes(file(u"Ideen/apfel.md"_s), "neu"));
        notice->actionButton()->click();
        QTRY_COMPARE(notice->text(), u"2 Blätter sind wieder da."_s);
        QCOMPARE(bytes(u"Ideen/apfel.md"_s), "neu");
        QCOMPARE(bytes(u"Ideen/kirsche.md"_s), "# Kirschen\n\nRot.\n");
    }

    // A large sheet is read on another thread: the editor shows it read-only
    // until it is there, and keys typed meanwhile reach no sheet.
    void aLargeSheetIsReadWhileTheWindowAnswers() {
        const QString large = u"# Gross\n\n"_s + u"Ein Satz aus Worten.\n\n"_s.repeated(20000);
        write(u"Ideen/gross.md"_s, large, day(1));
        open(u"Ideen"_s);
        const int gross = rowOf(u"Gross"_s);
        MarkdownEditor* editor = currentEditor();
        editor->setFocus();
        QTest::keyClicks(editor, u"Hallo"_s);
        clickRow(gross);
        QVERIFY(m_store->isReadingSheet() && editor->isReadOnly());
        QVERIFY(m_window->editorPane()->loadNotice()->isVisibleTo(m_window.get()));
        QTest::keyClicks(editor, u"x"_s);
        QVERIFY(idle());
        QVERIFY(!editor->isReadOnly() && !m_window->editorPane()->loadNotice()->isVisible());
        QCOMPARE(editor->toPlainText(), large);
        // Chosen and left at once: what is typed goes into the sheet chosen last.
        clickRow(0);
        clickRow(gross);
        clickRow(0);
        QTest::keyClicks(editor, u"Birne"_s);
        save();
        QCOMPARE(bytes(u"Ideen/birne.md"_s), "Hallo# Birnen\n\nEin Wort über Apfel.\nBirne");
        QCOMPARE(bytes(u"Ideen/gross.md"_s), large.toUtf8());
    }

    // Files brought in land in the shown group and are selected; words typed
    // just before are kept, and a refused file is named above the editor.
    void importingAndOpeningFiles() {
        open(u"Ideen"_s);
        clickRow(0);
        QVERIFY(idle());
        const QString typedInto = m_store->selectedSheetID().toLocalFile();
        QTest::keyClicks(m_window->editorPane()->editor(), u"Noch"_s);
        const QString outside = m_dir->path() + u"/notiz.txt"_s;
        const QString broken = m_dir->path() + u"/kaputt.md"_s;
        QVERIFY(test::writeBytes(outside, "# Von draußen\n") && test::writeBytes(broken, "\xff"));
        services().chooseImportFiles = [&](QWidget*) { return QStringList{outside, broken}; };
        run(u"import"_s);
        QVERIFY(idle());
        QCOMPARE(bytes(u"Ideen/notiz.md"_s), QByteArray("# Von draußen\n"));
        QCOMPARE(m_store->selectedSheetID(), url(u"Ideen/notiz.md"_s));
        QVERIFY(rowTitles().contains(u"Von draußen"_s));
        QVERIFY(test::readBytes(typedInto).startsWith("Noch#"));
        QVERIFY(m_window->notice()->text().contains(u"„kaputt.md“"_s));
        clickGroup(u"Papierkorb"_s);
        QVERIFY(!m_window->command(u"import"_s)->isEnabled());

        // Named from outside: a sheet is selected where it lies; any other file
        // is only ever copied in, and only when the writer asks for it.
        m_window->openFiles({file(u"Projekte/reise.md"_s), outside});
        QVERIFY(idle());
        QCOMPARE(m_store->selectedSheetID(), url(u"Projekte/reise.md"_s));
        QCOMPARE(QApplication::focusWidget(), m_window->editorPane()->editor());
        QCOMPARE(m_window->notice()->text(), u"„notiz.txt“ liegt außerhalb der Bibliothek."_s);
        QCOMPARE(m_window->notice()->actionButton()->text(), u"In „Schnelle Notiz“ übernehmen"_s);
        m_window->openFiles({outside}); // nothing else named: Enter takes the offer
        QCOMPARE(QApplication::focusWidget(), m_window->notice()->actionButton());
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        QVERIFY(idle());
        QCOMPARE(m_store->selectedSheetID(), url(u"Schnelle Notiz/notiz.md"_s));
        QTest::keyClicks(QApplication::focusWidget(), u"Weiter"_s);
        save();
        QCOMPARE(bytes(u"Schnelle Notiz/notiz.md"_s), QByteArray("# Von draußen\nWeiter"));
        QCOMPARE(test::readBytes(outside), QByteArray("# Von draußen\n"));

        // Dropped from a file manager onto a group, and onto the shown list.
        QMimeData fromOutside;
        fromOutside.setUrls({QUrl::fromLocalFile(outside)});
        QListWidget* groups = m_window->sidebar()->list();
        const QPoint onto =
            groups->visualItemRect(groups->findItems(u"Tagebuch"_s, Qt::MatchExactly).first())
                .center();
        QVERIFY(dropOnto(groups->viewport(), onto, &fromOutside));
        QCOMPARE(bytes(u"Tagebuch/notiz.md"_s), QByteArray("# Von draußen\n"));
        QVERIFY(dropOnto(sheets()->viewport(), QPoint(5, 5), &fromOutside));
        QCOMPARE(m_store->selectedSheetID(), url(u"Tagebuch/notiz 2.md"_s));
    }

    // Sheets move by menu and by dragging, the open one with its waiting text;
    // own groups are renamed and deleted, the fixed ones not; new sheets go where the writer is.
    void organisingGroupsAndSheets() {
        open(u"Ideen"_s);
        SheetListView* column = m_window->sheetList();
        SidebarView* sidebar = m_window->sidebar();
        MarkdownEditor* editor = m_window->editorPane()->editor();
        editor->setFocus();
        editor->moveCursor(QTextCursor::End);
        QTest::keyClicks(editor, u"Getippt"_s);
        QVERIFY(m_store->hasPendingSave());
        std::unique_ptr<QMenu> menu(column->rowMenu(column->model()->sheet(0), nullptr));
        QMenu* moveTo = menu->actions().at(1)->menu();
        QStringList targets;
        for (QAction* a : moveTo->actions())
            targets.append(a->text());
        QCOMPARE(targets, items("Schnelle Notiz|Projekte|Tagebuch|Eigenes"));
        moveTo->actions().last()->trigger();
        QVERIFY(!QFile::exists(file(u"Ideen/birne.md"_s)));
        QCOMPARE(m_store->selectedSheetID(), url(u"Eigenes/birne.md"_s));
        QTRY_COMPARE(rowTitles(), items("Birnen|Eins"));
        QCOMPARE(column->selectedSheets().first().url, url(u"Eigenes/birne.md"_s));
        QTest::keyClicks(editor, u" weiter"_s);
        save();
        QCOMPARE(bytes(u"Eigenes/birne.md"_s), "# Birnen\n\nEin Wort über Apfel.\nGetippt weiter");

        // Two rows at once, by Shift and an arrow, dragged onto a group.
        clickGroup(u"Ideen"_s);
        clickRow(0);
        QTest::keyClick(sheets(), Qt::Key_Down, Qt::ShiftModifier);
        QCOMPARE(column->selectedSheets().size(), 2);
        QListWidget* groups = sidebar->list();
        const QPoint onto =
            groups->visualItemRect(groups->findItems(u"Projekte"_s, Qt::MatchExactly).first())
                .center();
        std::unique_ptr<QMimeData> dragged(
            column->model()->mimeData(sheets()->selectionModel()->selectedRows()));
        QVERIFY(dropOnto(groups->viewport(), onto, dragged.get()));
        QCOMPARE(m_store->selectedFolder()->name, u"Projekte"_s);
        QTRY_COMPARE(rowTitles(), items("Kirschen|Apfelkuchen|Reise"));
        clickGroup(u"Ideen"_s);
        QCOMPARE(column->hint()->secondLine(), u"Drücke Strg+N für ein neues Blatt."_s);

        // The fixed groups keep name and place; the trash takes no new sheet.
        const QString entries =
            u"Neues Blatt in dieser Gruppe|Umbenennen \u2026|Gruppe löschen \u2026"_s;
        for (const auto& [name, on] : {std::pair{u"Ideen"_s, 1}, std::pair{u"Papierkorb"_s, 0},
                                       std::pair{u"Eigenes"_s, 3}}) {
            std::unique_ptr<QMenu> groupMenu(sidebar->groupMenu(group(name), nullptr));
            QStringList usable;
            for (QAction* a : groupMenu->actions())
                if (!a->isSeparator() && a->isEnabled())
                    usable.append(a->text());
            QCOMPARE(usable, entries.split(u'|').mid(0, on));
        }
        clickGroup(u"Papierkorb"_s);
        QVERIFY(!m_window->command(u"newSheetInGroup"_s)->isEnabled());
        clickGroup(u"Eigenes"_s);
        groups->setFocus();
        QTest::keyClick(groups, Qt::Key_F2);
        QTRY_VERIFY(sidebar->renameDialog());
        auto* name = sidebar->renameDialog()->findChild<QLineEdit*>(u"groupName"_s);
        QTest::keyClicks(name, u"Projekte"_s);
        QTest::keyClick(name, Qt::Key_Return);
        QVERIFY(sidebar->renameDialog()->findChild<QLabel*>(u"renameProblem"_s)->isVisible());
        name->setText(u"Rezepte"_s);
        QTest::keyClick(name, Qt::Key_Return);
        QTRY_VERIFY(!sidebar->renameDialog());
        QCOMPARE(m_store->selectedFolder()->name, u"Rezepte"_s);
        QCOMPARE(bytes(u"Rezepte/eins.md"_s), "Eins\n");
        // A right click on the group's row.
        chooseInNextPopup(u"Gruppe löschen \u2026"_s);
        const QPoint rezepte =
            groups->visualItemRect(groups->findItems(u"Rezepte"_s, Qt::MatchExactly).first())
                .center();
        QContextMenuEvent right(QContextMenuEvent::Mouse, rezepte,
                                groups->viewport()->mapToGlobal(rezepte));
        QApplication::sendEvent(groups->viewport(), &right);
        QTRY_VERIFY(!m_asked.isEmpty());
        QCOMPARE(
            m_asked.last(),
            u"Gruppe „Rezepte“ und ihre 2 Blätter in den Papierkorb legen? | In den Papierkorb"_s);
        QVERIFY(!QFileInfo::exists(file(u"Rezepte"_s)));
        QVERIFY(bytes(u".Papierkorb/birne.md"_s).endsWith("Getippt weiter"));

        m_store->createFolder(u"Leer"_s);
        QVERIFY(idle());
        QCOMPARE(column->hint()->secondLine(), u"Drücke Strg+Alt+N für ein neues Blatt."_s);
        m_window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
        QTest::keyClick(groups, Qt::Key_N, Qt::ControlModifier | Qt::AltModifier);
        QCOMPARE(QFileInfo(m_store->selectedSheetID().toLocalFile()).dir().dirName(), u"Leer"_s);
    }

    // "Versionen …" from the row menu: the versions with their change in words, the marks
    // announced, a version copied into a new sheet, and a restore that asks, keeps the text it
    // replaces in a snapshot and is undone in one step.
    void versionsOfASheet() {
        open(u"Ideen"_s);
        clickRow(rowOf(u"Apfelkuchen"_s));
        QVERIFY(idle());
        const QByteArray now = bytes(u"Ideen/apfel.md"_s);
        const QByteArray older = "# Apfelkuchen\n\nMit Birnen.\n";
        const QByteArray newer = "# Apfelkuchen\n\nMit Äpfeln und alten Birnen.\n";
        const QString backups = m_store->backups().location();
        const QDateTime made = QDateTime::currentDateTime();
        for (const auto& [hoursAgo, text] : {std::pair{3, older}, {2, newer}, {1, now}})
            QVERIFY(test::writeBytes(backups + u'/' +
                                         library::stamp(made.addSecs(-3600 * hoursAgo)) +
                                         u"/Ideen/apfel.md"_s,
                                     text));
        QVERIFY(rowMenu(rowOf(u"Apfelkuchen"_s), u"Versionen \u2026"_s)
                    .contains(u"Versionen \u2026"_s));
        auto* view = m_window->findChild<VersionsView*>();
        QVERIFY(view);
        QTRY_VERIFY(view->isIdle());
        QStringList listed;
        for (int i = 0; i < view->list()->count(); ++i)
            listed.append(view->list()->item(i)->text().section(u" \u00B7 "_s, 1));
        QCOMPARE(listed, (QStringList{u"7 Wörter · +3 / −3"_s, u"4 Wörter · +3 / −0"_s}));

        const QString marks =
            QAccessible::queryAccessibleInterface(view->textView())->text(QAccessible::Description);
        QCOMPARE(marks, u"[entfernt: Äpfeln] [eingefügt: Äpfeln, Apfelmus] [entfernt: alten "
                        u"Birnen.] [eingefügt: Apfelsaft.]"_s);
        QCOMPARE(view->textView()->toPlainText(),
                 u"# Apfelkuchen\n\nMit ÄpfelnÄpfeln, Apfelmus und alten Birnen.Apfelsaft.\n"_s);
        // Removed and inserted words look apart from the rest, and from each other.
        QSet<QString> looks;
        for (QTextBlock b = view->textView()->document()->begin(); b.isValid(); b = b.next())
            for (auto f = b.begin(); !f.atEnd(); ++f) {
                const QTextCharFormat c = f.fragment().charFormat();
                looks.insert(c.background().color().name() + (c.fontStrikeOut() ? u"-"_s : u""_s) +
                             (c.fontUnderline() ? u"_"_s : u""_s));
            }
        QCOMPARE(looks.size(), 3);

        view->list()->setCurrentRow(1);
        QTRY_VERIFY(view->isIdle());
        view->copyButton()->click();
        QVERIFY(idle());
        QCOMPARE(m_store->selectedSheetID(), url(u"Ideen/apfel 2.md"_s));
        QCOMPARE(bytes(u"Ideen/apfel 2.md"_s), older);
        QCOMPARE(bytes(u"Ideen/apfel.md"_s), now);
        QTRY_COMPARE(view->status(), u"Keine früheren Fassungen"_s);

        m_store->setSelectedSheetID(url(u"Ideen/apfel.md"_s));
        QVERIFY(idle());
        QTRY_VERIFY(view->isIdle() && view->list()->count() == 2);
        m_agree = false;
        view->restoreButton()->click();
        QCOMPARE(m_asked.size(), 1);
        QVERIFY2(m_asked.last().endsWith(u" | Diese Fassung wiederherstellen"_s),
                 qPrintable(m_asked.last()));
        m_agree = true;
        view->restoreButton()->click();
        QTRY_COMPARE(bytes(u"Ideen/apfel.md"_s), newer);
        QCOMPARE(currentEditor()->text(), QString::fromUtf8(newer));
        const QString before = m_store->backups().snapshots().result().value(0).path;
        QCOMPARE(test::readBytes(before + u"/Ideen/apfel.md"_s), now);
        QVERIFY(QFileInfo::exists(before + u"/.vor-wiederherstellung"_s));
        currentEditor()->setFocus();
        QTest::keyClick(currentEditor(), Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(currentEditor()->text(), QString::fromUtf8(now));
        save();
        QCOMPARE(bytes(u"Ideen/apfel.md"_s), now);
    }

    // A sync tool's copy follows its original with a mark and says what it is; newest first
    // holds for the rest.
    void conflictCopiesAreMarkedBesideTheirOriginal() {
        const QString syncthing = u"Ideen/apfel.sync-conflict-20260301-120000-ABCDEF1.md"_s;
        const QString nextcloud = u"Ideen/birne (conflicted copy 2026-03-01 080000).md"_s;
        write(syncthing, u"# Apfelkuchen\n\nMit Birnen.\n"_s, day(6));
        write(nextcloud, u"# Birnen\n\nDrüben.\n"_s, day(1));
        open(u"Ideen"_s);
        const SheetListModel* model = m_window->sheetList()->model();
        QStringList order;
        for (int i = 0; i < model->rowCount(); ++i)
            order.append(model->sheet(i).url.fileName() + u' ' +
                         model->index(i).data(SheetListModel::ConflictMarkRole).toString());
        QCOMPARE(order,
                 (QStringList{u"birne.md "_s, QFileInfo(nextcloud).fileName() + u" Konflikt"_s,
                              u"kirsche.md "_s, u"apfel.md "_s,
                              QFileInfo(syncthing).fileName() + u" Konflikt"_s}));
        QAccessibleInterface* list = QAccessible::queryAccessibleInterface(sheets());
        const auto described = [&](int row) {
            QAccessibleInterface* cell = list->tableInterface()->cellAt(row, 0);
            return cell->text(QAccessible::Name).section(u", "_s, 0, 1) + u" | "_s +
                   cell->text(QAccessible::Description);
        };
        QCOMPARE(described(4), u"Apfelkuchen, Konflikt | Konflikt: andere Fassung von "
                               u"„Apfelkuchen“ vom 1. März 2026, 12:00 Uhr"_s);
        QCOMPARE(described(3), u"Apfelkuchen, Mit Äpfeln | "_s);
        // The mark reads in every look: its strongest pixels stand out from the row's ground.
        clickRow(0);
        for (const AppearanceMode mode : {AppearanceMode::Hell, AppearanceMode::Dunkel,
                                          AppearanceMode::SepiaHell, AppearanceMode::SepiaDunkel}) {
            m_window->setAppearance(mode);
            QApplication::processEvents();
            const QRect row = sheets()->visualRect(model->index(4, 0));
            const QImage mark = sheets()
                                    ->viewport()
                                    ->grab(row.adjusted(row.width() - 90, 4, 0, -row.height() / 2))
                                    .toImage();
            const auto luminance = [](QRgb rgb) {
                const auto linear = [](int c) {
                    const double v = c / 255.0;
                    return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
                };
                return 0.2126 * linear(qRed(rgb)) + 0.7152 * linear(qGreen(rgb)) +
                       0.0722 * linear(qBlue(rgb));
            };
            const double ground = luminance(mark.pixel(0, 0));
            double strongest = 1;
            for (int y = 0; y < mark.height(); ++y)
                for (int x = 0; x < mark.width(); ++x) {
                    const double l = luminance(mark.pixel(x, y));
                    strongest = std::max(strongest, (std::max(l, ground) + 0.05) /
                                                        (std::min(l, ground) + 0.05));
                }
            QVERIFY2(strongest >= 4.5, qPrintable(QString::number(strongest)));
        }
    }

    // Compared from the row menu by keyboard or from the notice: each choice leaves the files
    // and the trash as it says, a failed one changes nothing, and typing goes on in the sheet.
    void comparingAConflictCopy() {
        const QByteArray mine = bytes(u"Ideen/apfel.md"_s);
        const QByteArray other = "# Apfelkuchen\n\nMit Birnen.\n";
        const QString copyName = u"Ideen/apfel.sync-conflict-20260301-120000-ABCDEF1.md"_s;
        const auto trashed = [this] {
            QList<QByteArray> texts;
            for (const QFileInfo& f : QDir(file(u".Papierkorb"_s)).entryInfoList({u"*.md"_s}))
                texts.append(test::readBytes(f.filePath()));
            return texts;
        };
        open(u"Ideen"_s);
        const auto compare = [&](const QString& copy) -> ConflictView* {
            write(copy, QString::fromUtf8(other), day(6));
            m_store->reloadSheets();
            [[maybe_unused]] const bool listed =
                QTest::qWaitFor([&] { return idle() && rowOf(u"Apfelkuchen"_s) >= 0; });
            const int row = m_window->sheetList()->model()->rowOf(url(copy));
            const QStringList entries =
                rowMenu(row, u"Vergleichen \u2026"_s, Qt::SHIFT | Qt::Key_F10);
            auto* view = m_window->findChild<ConflictView*>();
            if (view) [[maybe_unused]]
                const bool read = QTest::qWaitFor([&] { return view->isIdle(); });
            return entries.value(0) == u"Vergleichen \u2026"_s ? view : nullptr;
        };
        ConflictView* view = compare(copyName);
        QVERIFY(view);
        QCOMPARE(accessibleName(view->sheetText()), u"Dieses Blatt"_s);
        QCOMPARE(accessibleName(view->otherText()),
                 u"Andere Fassung (Syncthing, 1. März 2026, 12:00)"_s);
        QCOMPARE(view->sheetText()->accessibleDescription(),
                 u"[nur hier: Äpfeln, Apfelmus und Apfelsaft.]"_s);
        QCOMPARE(view->otherText()->accessibleDescription(), u"[nur hier: Birnen.]"_s);
        // Escape keeps both.
        QTest::keyClick(view, Qt::Key_Escape);
        QTRY_VERIFY(!m_window->findChild<ConflictView*>());
        QCOMPARE(bytes(copyName), other);
        QCOMPARE(bytes(u"Ideen/apfel.md"_s), mine);
        QVERIFY(trashed().isEmpty());
        // The original's row offers nothing to compare.
        QVERIFY(!rowMenu(rowOf(u"Apfelkuchen"_s), {}).contains(u"Vergleichen \u2026"_s));

        // The trash cannot take anything: both stay, and the window says so.
        view = compare(copyName);
        QVERIFY(view);
        QVERIFY(QDir(file(u".Papierkorb"_s)).removeRecursively() &&
                test::writeBytes(file(u".Papierkorb"_s), ""));
        view->keepButton()->click();
        QCOMPARE(view->status(),
                 u"Das ließ sich nicht erledigen. Beide Fassungen sind unverändert da."_s);
        QCOMPARE(bytes(copyName), other);
        QCOMPARE(bytes(u"Ideen/apfel.md"_s), mine);
        QVERIFY(QFile::remove(file(u".Papierkorb"_s)) && QDir().mkdir(file(u".Papierkorb"_s)));

        // "Diese Fassung behalten" by Enter: the copy goes into the trash, the writer types on in
        // the sheet. Enter while reading decides nothing.
        QTest::keyClick(view->sheetText(), Qt::Key_Return);
        QVERIFY(view->isVisible());
        view->keepButton()->setFocus();
        QTest::keyClick(view->keepButton(), Qt::Key_Return);
        QTRY_VERIFY(!m_window->findChild<ConflictView*>());
        QVERIFY(!QFileInfo::exists(file(copyName)));
        QCOMPARE(trashed(), QList<QByteArray>{other});
        QTRY_COMPARE(m_window->focusWidget(), currentEditor());
        QTest::keyClicks(currentEditor(), u"!"_s);
        save();
        QCOMPARE(bytes(u"Ideen/apfel.md"_s), mine + "!");

        // "Andere Fassung übernehmen" from the notice of a copy Orvik kept itself: the sheet
        // holds the other text, its own lies in the trash.
        clickRow(rowOf(u"Apfelkuchen"_s));
        QVERIFY(idle());
        currentEditor()->moveCursor(QTextCursor::End);
        QTest::keyClicks(currentEditor(), u"?"_s);
        QVERIFY(test::writeBytes(file(u"Ideen/apfel.md"_s), other));
        NoticeBar* notice = m_window->notice();
        QTRY_VERIFY(notice->text().contains(u"liegt daneben"_s));
        QCOMPARE(notice->actionButton()->text(), u"Vergleichen \u2026"_s);
        notice->actionButton()->click();
        view = m_window->findChild<ConflictView*>();
        QVERIFY(view);
        QCOMPARE(bytes(u"Ideen/apfel.md"_s), mine + "!?");
        const QString kept = view->copy().toLocalFile();
        QCOMPARE(test::readBytes(kept), other);
        view->takeButton()->click();
        QTRY_VERIFY(!m_window->findChild<ConflictView*>());
        QVERIFY(!QFileInfo::exists(kept));
        QCOMPARE(trashed().size(), 2);
        QVERIFY(trashed().contains(mine + "!?"));
        QCOMPARE(currentEditor()->text(), QString::fromUtf8(other));
        QTRY_COMPARE(m_window->focusWidget(), currentEditor());
        QTest::keyClicks(currentEditor(), u"."_s);
        save();
        QCOMPARE(bytes(u"Ideen/apfel.md"_s).size(), other.size() + 1);
    }
};

ORVIK_WINDOW_TEST_MAIN(TestWindow)

#include "tst_window.moc"
