#include "httpserver.h"
#include "store/librarystore.h"
#include "storefixture.h"
#include "ui/about/aboutsheet.h"
#include "ui/about/updatesheet.h"
#include "ui/window/mainwindow.h"
#include "updates/updatechecker.h"
#include "widgettest.h"

#include <QtWidgets>

using namespace Qt::StringLiterals;

using namespace orvik;
using namespace orvik::ui;

namespace {

// A version above whatever this build calls itself, so that it is offered.
QString newerVersion() {
    return QString::number(UpdateChecker::currentVersion().parts.value(0) + 1) + u".4.2"_s;
}

QByteArray feed(const QString& version, const QStringList& notes = {}) {
    return QJsonDocument(QJsonObject{{u"version"_s, version},
                                     {u"downloadURL"_s, u"https://example.org/orvik.tar.gz"_s},
                                     {u"notes"_s, QJsonArray::fromStringList(notes)}})
        .toJson();
}

AvailableUpdate offered(const QStringList& notes = {}, const QString& current = u"1.3"_s,
                        const std::optional<QString>& date = std::nullopt,
                        const QString& url = u"https://example.org/orvik.tar.gz"_s) {
    return AvailableUpdate{AppVersion(u" 1.4.2"_s), AppVersion(current), date, notes, QUrl(url)};
}

// Names of the visible accessible children with these roles, through the whole tree.
QStringList accessibleNames(QWidget* root, const QList<QAccessible::Role>& roles) {
    QStringList names;
    std::function<void(QAccessibleInterface*)> walk = [&](QAccessibleInterface* node) {
        for (int i = 0; node && i < node->childCount(); ++i) {
            QAccessibleInterface* child = node->child(i);
            if (child && roles.contains(child->role()) && !child->state().invisible)
                names.append(child->text(QAccessible::Name));
            walk(child);
        }
    };
    walk(QAccessible::queryAccessibleInterface(root));
    return names;
}

} // namespace

class TestAbout : public QObject {
    Q_OBJECT

    std::unique_ptr<test::HttpServer> m_server;
    QList<QUrl> m_opened;
    int m_closed = 0;
    static QSettings prefs() { return QSettings(u"Orvik"_s, u"Orvik"_s); }
    void serveFeed(test::HttpServer::Reply reply, int delayMs = 0) {
        reply.delay = std::chrono::milliseconds(delayMs);
        m_server->route(u"/feed.json"_s, reply);
        qputenv("ORVIK_UPDATE_FEED", m_server->url(u"/feed.json"_s).toString().toUtf8());
    }

    template <typename Sheet, typename... Args> std::unique_ptr<Sheet> open(Args... args) {
        auto sheet = std::make_unique<Sheet>(args..., [this] { ++m_closed; });
        sheet->show();
        [[maybe_unused]] const bool exposed = QTest::qWaitForWindowExposed(sheet.get());
        return sheet;
    }

private Q_SLOTS:
    void init() {
        prefs().clear();
        m_server = std::make_unique<test::HttpServer>();
        m_opened.clear();
        m_closed = 0;
        downloadOpener() = [this](const QUrl& url) { m_opened.append(url); };
        qunsetenv("ORVIK_UPDATE_FEED");
    }

    void keysAndButtonsCloseTheSheetsOnce_data() {
        // "about": the about sheet, else the update sheet; "on": with the focus on Nach Updates
        // suchen or Später; key: a click on 0: Später, -1: übergehen, -2: Laden the tag's address.
        QTest::addColumn<int>("key");
        QTest::addColumn<bool>("opened");
        const int enter = Qt::Key_Return, escape = Qt::Key_Escape;
        QTest::newRow("about: Return") << enter << false;
        QTest::newRow("about: Return on check") << enter << false;
        QTest::newRow("about: Escape") << escape << false;
        QTest::newRow("Später") << 0 << false;
        QTest::newRow("übergehen") << -1 << false;
        QTest::newRow("Escape") << escape << false;
        QTest::newRow("Return") << enter << true;
        QTest::newRow("Return on Später") << enter << true;
        QTest::newRow("http://example.org/o") << -2 << false;
        QTest::newRow("https:///orvik.tar.gz") << -2 << false;
    }

    // The about sheet closes on Return and Escape, checking nothing; the update sheet's Später
    // and Escape only close, skipping keeps the trimmed version, Return downloads, anywhere,
    // but only from https with a host (its case: the checker's tests).
    void keysAndButtonsCloseTheSheetsOnce() {
        QFETCH(int, key);
        QFETCH(bool, opened);
        const QByteArray tag = QTest::currentDataTag();
        const bool update = !tag.startsWith("about"), focused = tag.contains(" on ");
        const QString address =
            key == -2 ? QString::fromUtf8(tag) : u"https://example.org/orvik.tar.gz"_s;
        auto about = update ? nullptr : open<AboutSheet>();
        auto sheet = update ? open<UpdateSheet>(offered({}, u"1.3"_s, {}, address)) : nullptr;
        QWidget* window = update ? static_cast<QWidget*>(sheet.get()) : about.get();
        QWidget* target = !focused ? window
                          : update ? static_cast<QWidget*>(sheet->laterButton())
                                   : about->checkButton();
        target->setFocus();
        if (key > 0)
            QTest::keyClick(target, Qt::Key(key));
        else
            QTest::mouseClick(QList<QWidget*>{sheet->laterButton(), sheet->skipButton(),
                                              sheet->downloadButton()}[-key],
                              Qt::LeftButton);
        QCOMPARE(m_opened, opened ? QList<QUrl>{QUrl(address)} : QList<QUrl>());
        QVERIFY(!window->isVisible() && (update || !about->isChecking()) && m_closed == 1);
        QCOMPARE(prefs().value(u"OrvikSkippedVersion"_s),
                 key == -1 ? QVariant(u"1.4.2"_s) : QVariant());
        QCOMPARE(m_server->requests().size(), 0);
    }

    // The switch writes its preference from the keyboard; every control and the version are
    // read out. While a check runs its button waits, a second start asks the server no second
    // time; the outcome (the checker's own tests) is read out, a new check clears it. The
    // check by hand ignores the switch and a skipped version; its update comes window-modal
    // over the about sheet, named and read out, and Später closes only it.
    void aboutSheetAndTheCheckByHand() {
        serveFeed(test::HttpServer::status(500), 300);
        auto sheet = open<AboutSheet>();
        QCOMPARE(sheet->windowModality(), Qt::WindowModal);
        QCheckBox* box = sheet->autoCheckBox();
        box->setFocus();
        QTest::keyClick(box, Qt::Key_Space);
        QCOMPARE(prefs().value(u"OrvikCheckForUpdates"_s), QVariant(box->isChecked()));
        const QStringList names =
            accessibleNames(sheet.get(), {QAccessible::PushButton, QAccessible::CheckBox});
        QVERIFY2(names.size() == 3 && !names.contains(QString()), qPrintable(names.join(u'|')));
        QVERIFY(accessibleNames(sheet.get(), {QAccessible::StaticText})
                    .contains(AboutSheet::versionLine()));
        for (int round = 1; round <= 2; ++round) {
            QTest::mouseClick(sheet->checkButton(), Qt::LeftButton);
            sheet->runCheck();
            QVERIFY(!sheet->status() && !sheet->statusLabel()->isVisible());
            QVERIFY(sheet->isChecking() && !sheet->checkButton()->isEnabled());
            QVERIFY(QTest::qWaitFor([&] { return !sheet->isChecking(); }, 20000));
            QVERIFY(sheet->checkButton()->isEnabled() && sheet->statusLabel()->isVisible());
            const QStringList texts = accessibleNames(sheet.get(), {QAccessible::StaticText});
            QVERIFY(sheet->status() && texts.contains(*sheet->status()));
            QCOMPARE(m_server->requests().size(), round);
        }
        prefs().setValue(u"OrvikCheckForUpdates"_s, false);
        prefs().setValue(u"OrvikSkippedVersion"_s, newerVersion());
        const QStringList notes{u"Schneller speichern"_s, u"Neue Vorlage „Rückblick“"_s};
        serveFeed(test::HttpServer::ok(feed(newerVersion(), notes)));
        sheet->runCheck();
        QVERIFY(QTest::qWaitFor([&] { return !sheet->isChecking(); }, 20000));
        UpdateSheet* update = sheet->updateSheet();
        QVERIFY(!sheet->status() && update && QTest::qWaitForWindowExposed(update));
        QVERIFY(update->parentWidget() == sheet.get() &&
                update->windowModality() == Qt::WindowModal);
        QCOMPARE(update->shownNotes(), notes);
        const QStringList buttons = accessibleNames(update, {QAccessible::PushButton});
        QVERIFY2(buttons.size() == 3 && !buttons.contains(QString()),
                 qPrintable(buttons.join(u'|')));
        for (QWidget* w : QList<QWidget*>{update, update->notesArea()})
            QVERIFY(!QAccessible::queryAccessibleInterface(w)->text(QAccessible::Name).isEmpty());
        QVERIFY(accessibleNames(update, {QAccessible::StaticText}).contains(notes.first()));
        QTest::mouseClick(update->laterButton(), Qt::LeftButton);
        QVERIFY(QTest::qWaitFor([&] { return !sheet->updateSheet(); }));
        QVERIFY(!sheet->found() && sheet->isVisible() && m_closed == 0);
    }

    // The subtitle trims the version and leaves out an empty date. No notes, no middle part;
    // many scroll; at most 50, then an ellipsis: a feed may list tens of thousands.
    void subtitleAndNotesShowWhatTheFeedGives() {
        auto bare = open<UpdateSheet>(offered({}, u"1.3"_s, std::optional(QString())));
        QVERIFY(!bare->notesArea());
        QCOMPARE(bare->findChild<QLabel*>(u"untertitel"_s)->text(), u"Du hast 1.3"_s);
        QStringList many;
        for (int i = 0; i < 40000; ++i)
            many.append(u"Hinweis "_s + QString::number(i));
        auto full = open<UpdateSheet>(offered(many.mid(0, 50), u" 1.3\t"_s, u"12. Mai 2025"_s));
        QCOMPARE(full->findChild<QLabel*>(u"untertitel"_s)->text(),
                 u"Du hast 1.3 · erschienen 12. Mai 2025"_s);
        QCOMPARE(full->shownNotes(), many.mid(0, 50));
        QVERIFY(full->notesArea()->verticalScrollBar()->maximum() > 0);
        QVERIFY(!full->findChild<QLabel*>(u"moreNotes"_s));
        auto capped = open<UpdateSheet>(offered(many));
        QCOMPARE(capped->shownNotes(), many.mid(0, 50));
        QCOMPARE(capped->findChild<QLabel*>(u"moreNotes"_s)->text(), u"\u2026"_s);
    }

    // Both sheets come window-modal over the window: one about sheet at a
    // time, and the automatic check a few seconds after the window appeared.
    void mainWindowPresentsBothSheets() {
        QTemporaryDir dir;
        test::StoreFixture fixture;
        LibraryStore store(fixture.options(dir.path(), 600));
        serveFeed(test::HttpServer::ok(feed(newerVersion())));
        MainWindow window(store);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        window.command(u"about"_s)->trigger();
        auto* about = window.findChild<AboutSheet*>();
        QVERIFY(about && QTest::qWaitForWindowExposed(about));
        window.command(u"checkForUpdates"_s)->trigger();
        QCOMPARE(window.findChildren<AboutSheet*>().size(), 1);
        QTest::mouseClick(about->doneButton(), Qt::LeftButton);
        QVERIFY(QTest::qWaitFor([&] { return !window.findChild<AboutSheet*>(); }));
        QVERIFY(QTest::qWaitFor([&] { return window.findChild<UpdateSheet*>(); }, 15000));
        auto* update = window.findChild<UpdateSheet*>();
        QVERIFY(update->windowModality() == Qt::WindowModal && window.pendingUpdate());
        QTest::mouseClick(update->laterButton(), Qt::LeftButton);
        QVERIFY(!window.pendingUpdate());
    }
};

ORVIK_WIDGET_TEST_MAIN(TestAbout)

#include "tst_about.moc"
