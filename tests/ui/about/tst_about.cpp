#include "httpserver.h"
#include "store/librarystore.h"
#include "storefixture.h"
#include "testenv.h"
#include "ui/about/aboutsheet.h"
#include "ui/about/updatesheet.h"
#include "ui/window/mainwindow.h"
#include "updates/updatechecker.h"
#include "widgettest.h"

#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QFrame>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace Qt::StringLiterals;

using namespace orvik;
using namespace orvik::ui;

namespace {

// A version above whatever this build calls itself, so that it is offered.
QString newerVersion() {
    return QString::number(UpdateChecker::currentVersion().parts.value(0) + 1) + u".4.2"_s;
}

QByteArray feed(const QString& version, const QString& downloadURL,
                const std::optional<QString>& date = std::nullopt, const QStringList& notes = {}) {
    QJsonObject object{{u"version"_s, version}, {u"downloadURL"_s, downloadURL}};
    if (date)
        object.insert(u"date"_s, *date);
    if (!notes.isEmpty())
        object.insert(u"notes"_s, QJsonArray::fromStringList(notes));
    return QJsonDocument(object).toJson();
}

AvailableUpdate offered(const QString& version, const QString& current,
                        const std::optional<QString>& date, const QStringList& notes,
                        const QString& url = u"https://example.org/orvik.tar.gz"_s) {
    return AvailableUpdate{AppVersion(version), AppVersion(current), date, notes, QUrl(url)};
}

QVariant preference(const QString& key) {
    return QSettings(u"Orvik"_s, u"Orvik"_s).value(key);
}

// Names of the accessible children with these roles, found through the whole tree.
QStringList accessibleNames(QWidget* root, const QList<QAccessible::Role>& roles) {
    QStringList names;
    std::function<void(QAccessibleInterface*)> walk = [&](QAccessibleInterface* node) {
        for (int i = 0; node && i < node->childCount(); ++i) {
            QAccessibleInterface* child = node->child(i);
            if (!child)
                continue;
            if (roles.contains(child->role()) && !child->state().invisible)
                names.append(child->text(QAccessible::Name));
            walk(child);
        }
    };
    walk(QAccessible::queryAccessibleInterface(root));
    return names;
}

int dividers(QWidget* root) {
    int count = 0;
    const auto frames = root->findChildren<QFrame*>();
    for (const QFrame* frame : frames)
        if (frame->frameShape() == QFrame::HLine)
            ++count;
    return count;
}

} // namespace

class TestAbout : public QObject {
    Q_OBJECT

    std::unique_ptr<test::HttpServer> m_server;
    QList<QUrl> m_opened;
    int m_closed = 0;

    void serveFeed(const test::HttpServer::Reply& reply) {
        m_server->route(u"/feed.json"_s, reply);
        qputenv("ORVIK_UPDATE_FEED", m_server->url(u"/feed.json"_s).toString().toUtf8());
    }

    std::unique_ptr<AboutSheet> openAbout() {
        auto sheet = std::make_unique<AboutSheet>([this] { ++m_closed; });
        sheet->show();
        [[maybe_unused]] const bool exposed = QTest::qWaitForWindowExposed(sheet.get());
        return sheet;
    }

    std::unique_ptr<UpdateSheet> openUpdate(const AvailableUpdate& update) {
        auto sheet = std::make_unique<UpdateSheet>(update, [this] { ++m_closed; });
        sheet->show();
        [[maybe_unused]] const bool exposed = QTest::qWaitForWindowExposed(sheet.get());
        return sheet;
    }

    static void awaitCheck(AboutSheet& sheet) {
        QVERIFY(QTest::qWaitFor([&] { return !sheet.isChecking(); }, 20000));
    }

private Q_SLOTS:
    void init() {
        QSettings(u"Orvik"_s, u"Orvik"_s).clear();
        m_server = std::make_unique<test::HttpServer>();
        m_opened.clear();
        m_closed = 0;
        downloadOpener() = [this](const QUrl& url) { m_opened.append(url); };
        qunsetenv("ORVIK_UPDATE_FEED");
    }

    void cleanup() {
        qunsetenv("ORVIK_UPDATE_FEED");
        m_server.reset();
    }

    void aboutShowsVersionAndIsWindowModal() {
        auto sheet = openAbout();
        QCOMPARE(sheet->windowModality(), Qt::WindowModal);
        const QString expected = u"Version "_s + UpdateChecker::currentVersion().raw + u" ("_s +
                                 UpdateChecker::currentBuild() + u")"_s;
        QCOMPARE(sheet->versionLabel()->text(), expected);
        QVERIFY(sheet->versionLabel()->textInteractionFlags() & Qt::TextSelectableByMouse);
        QVERIFY(!sheet->statusLabel()->isVisible());
        QVERIFY(sheet->doneButton()->isDefault());
        QVERIFY(!sheet->checkButton()->isDefault());
    }

    void returnAndEscapeCloseTheAboutSheetOnce_data() {
        QTest::addColumn<int>("key");
        QTest::addColumn<bool>("fromCheckButton");
        QTest::newRow("Return") << int(Qt::Key_Return) << false;
        QTest::newRow("Return on the check button") << int(Qt::Key_Return) << true;
        QTest::newRow("Escape") << int(Qt::Key_Escape) << false;
    }
    void returnAndEscapeCloseTheAboutSheetOnce() {
        QFETCH(int, key);
        QFETCH(bool, fromCheckButton);
        auto sheet = openAbout();
        QWidget* target = sheet.get();
        if (fromCheckButton) {
            sheet->checkButton()->setFocus();
            target = sheet->checkButton();
        }
        QTest::keyClick(target, Qt::Key(key));
        QVERIFY(!sheet->isVisible());
        QCOMPARE(m_closed, 1);
        QVERIFY(!sheet->isChecking());
        QCOMPARE(m_server->requests().size(), 0);
    }

    void automaticCheckSwitchWritesItsPreference() {
        QSettings(u"Orvik"_s, u"Orvik"_s).setValue(u"OrvikCheckForUpdates"_s, false);
        auto sheet = openAbout();
        QCheckBox* box = sheet->autoCheckBox();
        QVERIFY(!box->isChecked());
        box->setFocus();
        QTest::keyClick(box, Qt::Key_Space);
        QVERIFY(box->isChecked());
        QCOMPARE(preference(u"OrvikCheckForUpdates"_s).toBool(), true);
        QVERIFY(UpdateChecker::automaticChecksEnabled());
        QTest::keyClick(box, Qt::Key_Space);
        QCOMPARE(preference(u"OrvikCheckForUpdates"_s).toBool(), false);
        QVERIFY(!UpdateChecker::automaticChecksEnabled());
        QCOMPARE(m_closed, 0);
    }

    void manualCheckShowsTheOutcome_data() {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("message");
        const QString current = UpdateChecker::currentVersion().raw;
        const QString https = u"https://example.org/orvik.tar.gz"_s;
        QTest::newRow("same version")
            << feed(current, https) << 200 << u"Du hast die neueste Fassung."_s;
        QTest::newRow("server error")
            << QByteArray() << 500 << u"Die Update-Adresse antwortete unerwartet."_s;
    }
    void manualCheckShowsTheOutcome() {
        QFETCH(QByteArray, body);
        QFETCH(int, status);
        QFETCH(QString, message);
        auto reply = test::HttpServer::status(status, body);
        // Long enough to see the running check from outside.
        reply.delay = std::chrono::milliseconds(300);
        serveFeed(reply);
        auto sheet = openAbout();
        QTest::mouseClick(sheet->checkButton(), Qt::LeftButton);
        QVERIFY(sheet->isChecking());
        QVERIFY(!sheet->checkButton()->isEnabled());
        awaitCheck(*sheet);
        QVERIFY(sheet->checkButton()->isEnabled());
        QCOMPARE(sheet->status(), std::optional<QString>(message));
        QVERIFY(sheet->statusLabel()->isVisible());
        QVERIFY(accessibleNames(sheet.get(), {QAccessible::StaticText}).contains(message));
        QVERIFY(!sheet->found() && !sheet->updateSheet());
        QCOMPARE(m_server->requests(u"/feed.json"_s).size(), 1);
    }

    void withoutFeedAddressTheCheckSaysSo() {
        qputenv("ORVIK_UPDATE_FEED", "");
        auto sheet = openAbout();
        sheet->runCheck();
        awaitCheck(*sheet);
        QCOMPARE(sheet->status(), std::optional(u"Es ist keine Update-Adresse hinterlegt."_s));
        QCOMPARE(m_server->requests().size(), 0);
    }

    void aNewCheckClearsTheLastStatus() {
        auto reply = test::HttpServer::status(500);
        reply.delay = std::chrono::milliseconds(300);
        serveFeed(reply);
        auto sheet = openAbout();
        sheet->runCheck();
        awaitCheck(*sheet);
        QVERIFY(sheet->status());
        sheet->runCheck();
        // A second start while one runs must not ask the server twice.
        sheet->runCheck();
        QVERIFY(!sheet->status());
        QVERIFY(!sheet->statusLabel()->isVisible());
        awaitCheck(*sheet);
        QCOMPARE(m_server->requests().size(), 2);
    }

    void manualCheckOpensTheUpdateOverItself() {
        // The manual check ignores both the switch and a skipped version.
        QSettings settings(u"Orvik"_s, u"Orvik"_s);
        settings.setValue(u"OrvikCheckForUpdates"_s, false);
        settings.setValue(u"OrvikSkippedVersion"_s, newerVersion());
        const QStringList notes{u"Schneller speichern"_s, u"Neue Vorlage „Rückblick“"_s,
                                u"Ein sehr langer Hinweis, der auf mehrere Zeilen umbrechen "
                                u"muss, weil der Platz im Fenster nicht reicht."_s};
        serveFeed(test::HttpServer::ok(
            feed(newerVersion(), u"https://example.org/orvik.tar.gz"_s, u"12. Mai 2025"_s, notes)));
        auto sheet = openAbout();
        sheet->runCheck();
        awaitCheck(*sheet);
        QVERIFY(!sheet->status());
        UpdateSheet* update = sheet->updateSheet();
        QVERIFY(update);
        QVERIFY(QTest::qWaitForWindowExposed(update));
        QCOMPARE(update->parentWidget(), sheet.get());
        QCOMPARE(update->windowModality(), Qt::WindowModal);
        QCOMPARE(update->findChild<QLabel*>(u"title"_s)->text(),
                 u"Orvik "_s + newerVersion() + u" ist verfügbar"_s);
        QCOMPARE(update->shownNotes(), notes);
        QVERIFY(update->notesArea()->height() <= 210);

        QTest::mouseClick(update->laterButton(), Qt::LeftButton);
        QVERIFY(QTest::qWaitFor([&] { return !sheet->updateSheet(); }));
        QVERIFY(!sheet->found() && sheet->isVisible());
        QCOMPARE(m_closed, 0);
        QVERIFY(m_opened.isEmpty());
        QCOMPARE(settings.value(u"OrvikSkippedVersion"_s).toString(), newerVersion());
        QCOMPARE(settings.value(u"OrvikCheckForUpdates"_s).toBool(), false);
    }

    void subtitle_data() {
        QTest::addColumn<QString>("current");
        QTest::addColumn<std::optional<QString>>("date");
        QTest::addColumn<QString>("expected");
        QTest::newRow("no date") << u"1.3"_s << std::optional<QString>() << u"Du hast 1.3"_s;
        QTest::newRow("empty date") << u"1.3"_s << std::optional(QString()) << u"Du hast 1.3"_s;
        QTest::newRow("date") << u" 1.3\t"_s << std::optional(u"12. Mai 2025"_s)
                              << u"Du hast 1.3 · erschienen 12. Mai 2025"_s;
    }
    void subtitle() {
        QFETCH(QString, current);
        QFETCH(std::optional<QString>, date);
        QFETCH(QString, expected);
        auto sheet = openUpdate(offered(u"1.4.2"_s, current, date, {}));
        QCOMPARE(sheet->untertitel(), expected);
        QCOMPARE(sheet->findChild<QLabel*>(u"untertitel"_s)->text(), expected);
        QCOMPARE(sheet->windowTitle(), u"Orvik 1.4.2 ist verfügbar"_s);
    }

    void notesDecideTheMiddlePart() {
        auto bare = openUpdate(offered(u"1.4.2"_s, u"1.3"_s, std::nullopt, {}));
        QVERIFY(!bare->notesArea());
        QCOMPARE(dividers(bare.get()), 1);

        QStringList many;
        for (int i = 0; i < 30; ++i)
            many.append(u"Hinweis "_s + QString::number(i));
        auto full = openUpdate(offered(u"1.4.2"_s, u"1.3"_s, std::nullopt, many));
        QCOMPARE(dividers(full.get()), 2);
        QCOMPARE(full->shownNotes(), many);
        QCOMPARE(full->notesArea()->height(), 210);
        QVERIFY(full->notesArea()->verticalScrollBar()->maximum() > 0);
        QVERIFY(!full->findChild<QLabel*>(u"moreNotes"_s));

        // At most 50 notes, then an ellipsis: a feed may list tens of thousands.
        for (int i = 30; i < 40000; ++i)
            many.append(u"Hinweis "_s + QString::number(i));
        auto capped = openUpdate(offered(u"1.4.2"_s, u"1.3"_s, std::nullopt, many.mid(0, 50)));
        QCOMPARE(capped->shownNotes(), many.mid(0, 50));
        QVERIFY(!capped->findChild<QLabel*>(u"moreNotes"_s));
        capped = openUpdate(offered(u"1.4.2"_s, u"1.3"_s, std::nullopt, many));
        QCOMPARE(capped->shownNotes(), many.mid(0, 50));
        QCOMPARE(capped->findChild<QLabel*>(u"moreNotes"_s)->text(), u"\u2026"_s);
    }

    // Later and Escape only close, skipping stores the version (as the feed's
    // trimmed text); Return downloads, wherever the focus is.
    void closingKeysAndButtons_data() {
        QTest::addColumn<int>("key"); // 0: a click on Später, -1: on Diese Fassung übergehen
        QTest::addColumn<bool>("focusOnLater");
        QTest::addColumn<bool>("opened");
        QTest::newRow("Später") << 0 << false << false;
        QTest::newRow("übergehen") << -1 << false << false;
        QTest::newRow("Escape") << int(Qt::Key_Escape) << false << false;
        QTest::newRow("Return") << int(Qt::Key_Return) << false << true;
        QTest::newRow("Return on Später") << int(Qt::Key_Return) << true << true;
    }
    void closingKeysAndButtons() {
        QFETCH(int, key);
        QFETCH(bool, focusOnLater);
        QFETCH(bool, opened);
        auto sheet = openUpdate(offered(u" 1.4.2"_s, u"1.3"_s, std::nullopt, {u"Eins"_s}));
        QVERIFY(sheet->downloadButton()->isDefault());
        QWidget* target = sheet.get();
        if (focusOnLater) {
            sheet->laterButton()->setFocus();
            target = sheet->laterButton();
        }
        if (key > 0)
            QTest::keyClick(target, Qt::Key(key));
        else
            QTest::mouseClick(key ? sheet->skipButton() : sheet->laterButton(), Qt::LeftButton);
        QCOMPARE(m_opened,
                 opened ? QList<QUrl>{QUrl(u"https://example.org/orvik.tar.gz"_s)} : QList<QUrl>());
        QVERIFY(!sheet->isVisible());
        QCOMPARE(m_closed, 1);
        QCOMPARE(preference(u"OrvikSkippedVersion"_s),
                 key == -1 ? QVariant(u"1.4.2"_s) : QVariant());
    }

    void onlyHttpsAddressesAreOpened_data() {
        QTest::addColumn<QString>("address");
        QTest::addColumn<bool>("opened");
        QTest::newRow("https") << u"https://example.org/orvik.tar.gz"_s << true;
        QTest::newRow("upper-case scheme") << u"HTTPS://example.org/o"_s << true;
        QTest::newRow("http") << u"http://example.org/orvik.tar.gz"_s << false;
        QTest::newRow("file") << u"file:///etc/passwd"_s << false;
        QTest::newRow("no host") << u"https:///orvik.tar.gz"_s << false;
        QTest::newRow("empty") << QString() << false;
    }
    void onlyHttpsAddressesAreOpened() {
        QFETCH(QString, address);
        QFETCH(bool, opened);
        QCOMPARE(isSafeDownloadAddress(QUrl(address)), opened);
        auto sheet = openUpdate(offered(u"1.4.2"_s, u"1.3"_s, std::nullopt, {}, address));
        QTest::mouseClick(sheet->downloadButton(), Qt::LeftButton);
        QCOMPARE(m_opened.size(), opened ? 1 : 0);
        // The sheet closes either way; a refused address is not reported.
        QVERIFY(!sheet->isVisible());
        QCOMPARE(m_closed, 1);
    }

    void everyControlIsNamed() {
        auto about = openAbout();
        QCOMPARE(accessibleNames(about.get(), {QAccessible::PushButton, QAccessible::CheckBox}),
                 (QStringList{u"Automatisch nach Updates suchen"_s, u"Nach Updates suchen"_s,
                              u"Fertig"_s}));
        QCOMPARE(QAccessible::queryAccessibleInterface(about.get())->text(QAccessible::Name),
                 u"Über Orvik"_s);
        QVERIFY(accessibleNames(about.get(), {QAccessible::StaticText})
                    .contains(AboutSheet::versionLine()));

        auto update = openUpdate(offered(u"1.4.2"_s, u"1.3"_s, std::nullopt, {u"Eins"_s}));
        QCOMPARE(accessibleNames(update.get(), {QAccessible::PushButton}),
                 (QStringList{u"Diese Fassung übergehen"_s, u"Später"_s, u"Laden …"_s}));
        QCOMPARE(QAccessible::queryAccessibleInterface(update.get())->text(QAccessible::Name),
                 u"Orvik 1.4.2 ist verfügbar"_s);
        const QStringList texts = accessibleNames(update.get(), {QAccessible::StaticText});
        QVERIFY(texts.contains(u"Du hast 1.3"_s));
        QVERIFY(texts.contains(u"Eins"_s));
        QCOMPARE(
            QAccessible::queryAccessibleInterface(update->notesArea())->text(QAccessible::Name),
            u"Neuerungen"_s);
    }

    void mainWindowPresentsBothSheets() {
        QTemporaryDir dir;
        test::StoreFixture fixture;
        LibraryStore::Options options = fixture.options(dir.path(), 600);
        LibraryStore store(options);
        serveFeed(test::HttpServer::ok(feed(newerVersion(), u"https://example.org/o.tar.gz"_s)));
        MainWindow window(store);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));

        window.command(u"Über Orvik"_s)->trigger();
        auto* about = window.findChild<AboutSheet*>();
        QVERIFY(about);
        QVERIFY(QTest::qWaitForWindowExposed(about));
        QCOMPARE(about->windowModality(), Qt::WindowModal);
        // A second request while it is open changes nothing.
        window.command(u"Nach Updates suchen …"_s)->trigger();
        QCOMPARE(window.findChildren<AboutSheet*>().size(), 1);
        QTest::mouseClick(about->doneButton(), Qt::LeftButton);
        QVERIFY(!window.showingAbout());
        QVERIFY(QTest::qWaitFor([&] { return !window.findChild<AboutSheet*>(); }));
        window.command(u"Nach Updates suchen …"_s)->trigger();
        QVERIFY(window.findChild<AboutSheet*>());
        QTest::keyClick(window.findChild<AboutSheet*>(), Qt::Key_Escape);
        QVERIFY(!window.showingAbout());

        // The automatic check, four seconds after the window appeared.
        QVERIFY(
            QTest::qWaitFor([&] { return window.findChild<UpdateSheet*>() != nullptr; }, 15000));
        auto* update = window.findChild<UpdateSheet*>();
        QCOMPARE(update->update().version.raw, newerVersion());
        QCOMPARE(update->windowModality(), Qt::WindowModal);
        QVERIFY(window.pendingUpdate());
        QTest::mouseClick(update->laterButton(), Qt::LeftButton);
        QVERIFY(!window.pendingUpdate());
        QVERIFY(m_opened.isEmpty());
    }
};

ORVIK_WIDGET_TEST_MAIN(TestAbout)

#include "tst_about.moc"
