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

    static QVariant pref(const QString& k) { return QSettings(u"Orvik"_s, u"Orvik"_s).value(k); }

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

    void keysAndButtonsCloseTheSheetsOnce_data() {
        // key: a click on 0: Später, -1: Diese Fassung übergehen, -2: Laden
        QTest::addColumn<bool>("update"); // else the about sheet
        QTest::addColumn<int>("key");
        QTest::addColumn<bool>("focused"); // on Nach Updates suchen, or Später
        QTest::addColumn<bool>("opened");
        QTest::addColumn<QString>("address");
        const int enter = Qt::Key_Return;
        const QString https = u"https://example.org/orvik.tar.gz"_s;
        QTest::newRow("about: Return") << false << enter << false << false << https;
        QTest::newRow("about: Return on check") << false << enter << true << false << https;
        QTest::newRow("about: Escape") << false << int(Qt::Key_Escape) << false << false << https;
        QTest::newRow("Später") << true << 0 << false << false << https;
        QTest::newRow("übergehen") << true << -1 << false << false << https;
        QTest::newRow("Escape") << true << int(Qt::Key_Escape) << false << false << https;
        QTest::newRow("Return") << true << enter << false << true << https;
        QTest::newRow("Return on Später") << true << enter << true << true << https;
        // Only https addresses are opened; a refused one is not reported.
        QTest::newRow("HTTPS") << true << -2 << false << true << u"HTTPS://example.org/o"_s;
        QTest::newRow("http") << true << -2 << false << false << u"http://example.org/o"_s;
        QTest::newRow("file") << true << -2 << false << false << u"file:///etc/passwd"_s;
        QTest::newRow("no host") << true << -2 << false << false << u"https:///orvik.tar.gz"_s;
        QTest::newRow("empty") << true << -2 << false << false << QString();
    }

    // The about sheet closes on Return and Escape, checking nothing; the update sheet's Später
    // and Escape only close, skipping keeps the trimmed version, Return downloads, anywhere.
    void keysAndButtonsCloseTheSheetsOnce() {
        QFETCH(bool, update);
        QFETCH(int, key);
        QFETCH(bool, focused);
        QFETCH(bool, opened);
        QFETCH(QString, address);
        std::unique_ptr<AboutSheet> about = update ? nullptr : open<AboutSheet>();
        std::unique_ptr<UpdateSheet> sheet =
            update ? open<UpdateSheet>(offered({u"Eins"_s}, u"1.3"_s, std::nullopt, address))
                   : nullptr;
        QWidget* target = update ? static_cast<QWidget*>(sheet.get()) : about.get();
        QWidget* window = target;
        if (focused) {
            target = update ? static_cast<QWidget*>(sheet->laterButton()) : about->checkButton();
            target->setFocus();
        }
        if (key > 0)
            QTest::keyClick(target, Qt::Key(key));
        else
            QTest::mouseClick(QList<QWidget*>{sheet->laterButton(), sheet->skipButton(),
                                              sheet->downloadButton()}[-key],
                              Qt::LeftButton);
        QCOMPARE(m_opened, opened ? QList<QUrl>{QUrl(address)} : QList<QUrl>());
        QVERIFY(!window->isVisible() && (update || !about->isChecking()));
        QCOMPARE(m_closed, 1);
        QCOMPARE(pref(u"OrvikSkippedVersion"_s), key == -1 ? QVariant(u"1.4.2"_s) : QVariant());
        QCOMPARE(m_server->requests().size(), 0);
    }

    void automaticCheckSwitchWritesItsPreferenceAndIsNamed() {
        QSettings(u"Orvik"_s, u"Orvik"_s).setValue(u"OrvikCheckForUpdates"_s, false);
        auto sheet = open<AboutSheet>();
        QCOMPARE(sheet->windowModality(), Qt::WindowModal);
        QVERIFY(sheet->versionLabel()->textInteractionFlags() & Qt::TextSelectableByMouse);
        QCheckBox* box = sheet->autoCheckBox();
        QVERIFY(!box->isChecked());
        box->setFocus();
        QTest::keyClick(box, Qt::Key_Space);
        QCOMPARE(pref(u"OrvikCheckForUpdates"_s).toBool(), true);
        QTest::keyClick(box, Qt::Key_Space);
        QCOMPARE(pref(u"OrvikCheckForUpdates"_s).toBool(), false);
        // Every control is named for assistive technology, the version read out.
        const QStringList names =
            accessibleNames(sheet.get(), {QAccessible::PushButton, QAccessible::CheckBox});
        QVERIFY2(names.size() == 3 && !names.contains(QString()), qPrintable(names.join(u'|')));
        QVERIFY(accessibleNames(sheet.get(), {QAccessible::StaticText})
                    .contains(AboutSheet::versionLine()));
    }

    // While a check runs its button waits, a second start asks the server no second
    // time; the outcome (the checker's own tests) is read out, a new check clears it.
    void manualCheckShowsTheOutcome() {
        serveFeed(test::HttpServer::status(500), 300);
        auto sheet = open<AboutSheet>();
        for (int round = 1; round <= 2; ++round) {
            QTest::mouseClick(sheet->checkButton(), Qt::LeftButton);
            sheet->runCheck();
            QVERIFY(!sheet->status() && !sheet->statusLabel()->isVisible());
            QVERIFY(sheet->isChecking() && !sheet->checkButton()->isEnabled());
            awaitCheck(*sheet);
            QVERIFY(sheet->checkButton()->isEnabled() && sheet->statusLabel()->isVisible());
            const QStringList texts = accessibleNames(sheet.get(), {QAccessible::StaticText});
            QVERIFY(sheet->status() && texts.contains(*sheet->status()));
            QCOMPARE(m_server->requests().size(), round);
        }
    }

    void manualCheckOpensTheUpdateOverItself() {
        // The manual check ignores both the switch and a skipped version.
        QSettings settings(u"Orvik"_s, u"Orvik"_s);
        settings.setValue(u"OrvikCheckForUpdates"_s, false);
        settings.setValue(u"OrvikSkippedVersion"_s, newerVersion());
        const QStringList notes{u"Schneller speichern"_s, u"Neue Vorlage „Rückblick“"_s,
                                u"Ein sehr langer Hinweis, der auf mehrere Zeilen umbrechen "
                                u"muss, weil der Platz im Fenster nicht reicht."_s};
        serveFeed(test::HttpServer::ok(feed(newerVersion(), notes)));
        auto sheet = open<AboutSheet>();
        sheet->runCheck();
        awaitCheck(*sheet);
        UpdateSheet* update = sheet->updateSheet();
        QVERIFY(!sheet->status() && update && QTest::qWaitForWindowExposed(update));
        QCOMPARE(update->parentWidget(), sheet.get());
        QCOMPARE(update->windowModality(), Qt::WindowModal);
        QCOMPARE(update->findChild<QLabel*>(u"title"_s)->text(),
                 u"Orvik "_s + newerVersion() + u" ist verfügbar"_s);
        QCOMPARE(update->shownNotes(), notes);
        QVERIFY(update->notesArea()->height() <= 210);
        // Every control is named for assistive technology, the notes read out.
        const QStringList names = accessibleNames(update, {QAccessible::PushButton});
        QVERIFY2(names.size() == 3 && !names.contains(QString()), qPrintable(names.join(u'|')));
        for (QWidget* w : QList<QWidget*>{update, update->notesArea()})
            QVERIFY(!QAccessible::queryAccessibleInterface(w)->text(QAccessible::Name).isEmpty());
        QVERIFY(accessibleNames(update, {QAccessible::StaticText}).contains(notes.first()));

        QTest::mouseClick(update->laterButton(), Qt::LeftButton);
        QVERIFY(QTest::qWaitFor([&] { return !sheet->updateSheet(); }));
        QVERIFY(!sheet->found() && sheet->isVisible());
        QVERIFY(m_closed == 0 && m_opened.isEmpty());
        QCOMPARE(settings.value(u"OrvikSkippedVersion"_s).toString(), newerVersion());
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
        auto sheet = open<UpdateSheet>(offered({}, current, date));
        QCOMPARE(sheet->findChild<QLabel*>(u"untertitel"_s)->text(), expected);
    }

    // No notes, no middle part; many scroll; at most 50, then an ellipsis: a
    // feed may list tens of thousands.
    void notesDecideTheMiddlePart() {
        const auto dividers = [](QWidget* sheet) {
            const auto lines = sheet->findChildren<QFrame*>();
            return int(std::count_if(lines.begin(), lines.end(),
                                     [](QFrame* f) { return f->frameShape() == QFrame::HLine; }));
        };
        auto bare = open<UpdateSheet>(offered());
        QVERIFY(!bare->notesArea());
        QCOMPARE(dividers(bare.get()), 1);
        QStringList many;
        for (int i = 0; i < 40000; ++i)
            many.append(u"Hinweis "_s + QString::number(i));
        auto full = open<UpdateSheet>(offered(many.mid(0, 50)));
        QCOMPARE(dividers(full.get()), 2);
        QCOMPARE(full->shownNotes(), many.mid(0, 50));
        QCOMPARE(full->notesArea()->height(), 210);
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
        LibraryStore::Options options = fixture.options(dir.path(), 600);
        LibraryStore store(options);
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
        QVERIFY(!window.showingAbout());
        QVERIFY(QTest::qWaitFor([&] { return !window.findChild<AboutSheet*>(); }));

        QVERIFY(QTest::qWaitFor([&] { return window.findChild<UpdateSheet*>(); }, 15000));
        auto* update = window.findChild<UpdateSheet*>();
        QCOMPARE(update->update().version.raw, newerVersion());
        QCOMPARE(update->windowModality(), Qt::WindowModal);
        QVERIFY(window.pendingUpdate());
        QTest::mouseClick(update->laterButton(), Qt::LeftButton);
        QVERIFY(!window.pendingUpdate() && m_opened.isEmpty());
    }
};

ORVIK_WIDGET_TEST_MAIN(TestAbout)

#include "tst_about.moc"
