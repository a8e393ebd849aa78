#include "appearance/editorstyle.h"
#include "appearance/theme.h"
#include "daily/dailysettings.h"
#include "store/librarystore.h"
#include "storefixture.h"
#include "ui/settings/settingsview.h"
#include "ui/window/mainwindow.h"
#include "ui/window/services.h"
#include "widgettest.h"

#include <QtWidgets>

using namespace Qt::StringLiterals;

using namespace orvik;
using namespace orvik::ui;

namespace {

// A place lookup whose answers the test hands out one by one.
struct FakeGeocoder {
    QStringList queries;
    std::vector<std::unique_ptr<QPromise<QList<GeoResult>>>> pending;
    PlaceSearch search() {
        return [this](const QString& query) {
            queries.append(query);
            auto& promise = *pending.emplace_back(std::make_unique<QPromise<QList<GeoResult>>>());
            promise.start();
            return promise.future();
        };
    }
    void answer(size_t index, const QList<GeoResult>& results) {
        pending.at(index)->addResult(results);
        pending.at(index)->finish();
    }
};

const GeoResult braunschweig{u"Braunschweig"_s, u"Niedersachsen, Deutschland"_s, 52.3, 10.5};
const GeoResult braunschweigUsa{u"Braunschweig"_s, u"Wisconsin, Vereinigte Staaten"_s, 43.1, -89.2};
const GeoResult gifhorn{u"Gifhorn"_s, u"Niedersachsen, Deutschland"_s, 52.47774, 10.5511};

} // namespace

class TestSettings : public QObject {
    Q_OBJECT

    FakeGeocoder m_geocoder;

    static QSettings store() { return QSettings(u"Orvik"_s, u"Orvik"_s); }
    static QVariant stored(const QString& key) { return store().value(key); }
    // Check boxes and radio buttons answer clicks on their box and label only.
    static void tick(QWidget* c) { QTest::mouseClick(c, Qt::LeftButton, {}, {8, c->height() / 2}); }
    static bool marked(QWidget* r) { return r->findChild<QWidget*>(u"checkmark"_s)->isVisible(); }
    static QString name(QWidget* w) {
        return QAccessible::queryAccessibleInterface(w)->text(QAccessible::Name);
    }
    static QColor drawnColour(const QLabel* l) { return l->palette().color(l->foregroundRole()); }

    // A settings window with the place lookup faked, on the tab `tab`.
    std::unique_ptr<SettingsView> openView(int tab = 0) {
        auto view = std::make_unique<SettingsView>(nullptr, m_geocoder.search());
        view->tabs()->setCurrentIndex(tab);
        view->show();
        [[maybe_unused]] const bool exposed = QTest::qWaitForWindowExposed(view.get());
        return view;
    }

private Q_SLOTS:
    void init() {
        store().clear();
        m_geocoder = {};
    }

    // Showing writes nothing, a size beyond the slider shows truncated, the slider has its
    // visible label; the modes write their raw values, also from the arrow keys.
    void showingWritesNothingAndModesWriteTheirRawValues() {
        store().setValue(u"OrvikFontSize"_s, 31.9);
        auto view = openView();
        QCOMPARE(view->sizeLabel()->text(), u"31 pt"_s);
        QCOMPARE(view->sizeSlider()->value(), view->sizeSlider()->maximum());
        const auto* title = view->findChild<QLabel*>(u"sizeTitle"_s);
        QVERIFY(title->isVisible() && title->buddy() == view->sizeSlider());
        QCOMPARE(store().allKeys(), QStringList{u"OrvikFontSize"_s});
        QCOMPARE(stored(u"OrvikFontSize"_s).toDouble(), 31.9);
        const QStringList raw = u"system hell dunkel sepiaHell sepiaDunkel"_s.split(u' ');
        for (int i = 4; i >= 0; --i) {
            tick(view->modeButtons().at(i));
            QCOMPARE(stored(u"OrvikAppearance"_s).toString(), raw[i]);
        }
        view->modeButtons().at(0)->setFocus();
        QTest::keyClick(view->modeButtons().at(0), Qt::Key_Down);
        QCOMPARE(stored(u"OrvikAppearance"_s).toString(), u"hell"_s);
    }

    // Each font row shows its face in that face, its sample in the secondary colour; the whole
    // row is the button.
    void fontRowsShowInstalledFacesInTheirOwnFont() {
        const QList<EditorFont> fonts = EditorFont::available();
        if (fonts.size() < 2)
            QSKIP("needs two of the book faces installed");
        store().setValue(u"OrvikFontFamily"_s, fonts.at(1).family);
        auto view = openView();
        const QColor secondary = drawnColour(view->sizeLabel());
        QVERIFY(secondary != view->palette().color(QPalette::WindowText));
        for (int i = 0; i < fonts.size(); ++i) {
            QAbstractButton* row = view->fontRows().at(i);
            auto* sample = row->findChild<QLabel*>(u"fontSample"_s);
            QCOMPARE(QFontInfo(row->findChild<QLabel*>(u"fontTitle"_s)->font()).family(),
                     fonts.at(i).family);
            QCOMPARE(QFontInfo(sample->font()).family(), fonts.at(i).family);
            QCOMPARE(drawnColour(sample), secondary);
            QCOMPARE(row->isChecked(), i == 1);
        }
        QAbstractButton* first = view->fontRows().first();
        auto* sample = first->findChild<QLabel*>(u"fontSample"_s);
        QTest::mouseClick(first, Qt::LeftButton, {}, sample->mapTo(first, sample->rect().center()));
        QCOMPARE(stored(u"OrvikFontFamily"_s).toString(), fonts.at(0).family);
        QVERIFY(first->isChecked() && !view->fontRows().at(1)->isChecked());
        view->fontRows().last()->setFocus();
        QTest::keyClick(view->fontRows().last(), Qt::Key_Space);
        QCOMPARE(stored(u"OrvikFontFamily"_s).toString(), fonts.last().family);
        // As a screen reader or switch access would: the row's first accessible action.
        auto* act = QAccessible::queryAccessibleInterface(view->fontRows()[1])->actionInterface();
        act->doAction(act->actionNames().first());
        QCOMPARE(stored(u"OrvikFontFamily"_s).toString(), fonts.at(1).family);
    }

    // A stored family that is not installed (made up, or the default one) marks the row of
    // the font the editor falls back to.
    void uninstalledStoredFamilyMarksTheFontInUse() {
        for (const QString& family : {u"Gibt es nicht"_s, u"Iowan Old Style"_s}) {
            store().setValue(u"OrvikFontFamily"_s, family);
            SettingsView view;
            QVERIFY(!view.fontRows().isEmpty());
            for (const QAbstractButton* row : view.fontRows()) {
                QCOMPARE(row->isChecked(), row == view.fontRows().first());
                QVERIFY(Theme::isInstalled(row->property("orvikFamily").toString()));
            }
        }
    }

    // The daily tab: news switch and headline count; place results are named buttons, every
    // control is named; a result of the place already chosen still moves it; a search that
    // fails, is cancelled or overtaken.
    void dailyContextTab() {
        auto view = openView(1);
        QSpinBox* stepper = view->headlineStepper();
        tick(view->newsSwitch());
        QVERIFY(!stored(u"OrvikIncludeNews"_s).toBool() && !stepper->isVisible());
        tick(view->newsSwitch());
        QVERIFY(DailySettings::current().includeNews && stepper->isVisible());

        QTest::keyClicks(view->queryField(), u"Braunschweig"_s);
        QTest::mouseClick(view->searchButton(), Qt::LeftButton);
        QVERIFY(view->isSearching() && !view->searchButton()->isEnabled());
        m_geocoder.answer(0, {braunschweig, braunschweigUsa});
        QTRY_COMPARE(view->resultRows().size(), 2);
        QCOMPARE(drawnColour(view->resultRows().at(0)->findChild<QLabel*>(u"placeRegion"_s)),
                 drawnColour(view->currentPlace()));
        QCOMPARE(name(view->resultRows().first()), u"Braunschweig, Niedersachsen, Deutschland"_s);
        QAccessibleInterface* row = QAccessible::queryAccessibleInterface(view->resultRows()[0]);
        QVERIFY(row->role() == QAccessible::Button && row->actionInterface());
        for (QWidget* w : view->findChildren<QWidget*>())
            QVERIFY2(w->focusPolicy() == Qt::NoFocus || !w->isEnabled() ||
                         qobject_cast<QAbstractScrollArea*>(w) || w->inherits("QTabBar") ||
                         qobject_cast<QAbstractSpinBox*>(w->parentWidget()) ||
                         !name(w).trimmed().isEmpty(),
                     w->metaObject()->className());
        QTest::mouseClick(view->resultRows().at(1), Qt::LeftButton);
        QCOMPARE(stored(u"OrvikLocationName"_s).toString(), u"Braunschweig"_s);
        QCOMPARE(stored(u"OrvikLatitude"_s).toDouble(), braunschweigUsa.latitude);
        QVERIFY(view->resultRows().isEmpty() && view->queryField()->text().isEmpty());
        QCOMPARE(view->currentPlace()->text(), u"Braunschweig"_s);
        QTest::keyClicks(view->queryField(), u"Braunschweig"_s);
        QTest::keyClick(view->queryField(), Qt::Key_Return);
        m_geocoder.answer(1, {braunschweig, gifhorn});
        QTRY_COMPARE(view->resultRows().size(), 2);
        QVERIFY(marked(view->resultRows().at(0)) && !marked(view->resultRows().at(1)));
        view->resultRows().at(0)->setFocus();
        QTest::keyClick(view->resultRows().at(0), Qt::Key_Space);
        QCOMPARE(stored(u"OrvikLatitude"_s).toDouble(), braunschweig.latitude);
        QCOMPARE(stored(u"OrvikLongitude"_s).toDouble(), braunschweig.longitude);
        QVERIFY(view->queryField()->hasFocus());
        // Typed, a tab would move the focus on.
        view->queryField()->setText(u" \t "_s);
        QVERIFY(!view->searchButton()->isEnabled());
        QTest::keyClick(view->queryField(), Qt::Key_Return);
        QCOMPARE(m_geocoder.queries.last(), u" \t "_s);
        m_geocoder.answer(2, {});
        QTRY_VERIFY(view->failureMessage()->isVisible());
        QVERIFY(!view->searchingRow()->isVisible() &&
                stored(u"OrvikLatitude"_s).toDouble() == braunschweig.latitude);
        // A new search clears the message first; a cancelled one counts as finding nothing.
        QTest::keyClick(view->queryField(), Qt::Key_Return);
        QVERIFY(!view->failureMessage()->isVisible() && view->resultRows().isEmpty());
        m_geocoder.pending.at(3)->finish();
        QTRY_VERIFY(view->failureMessage()->isVisible());
        // Of two searches, the one that finishes later decides.
        for (const QString& place : {u"Gifhorn"_s, u"Braunschweig"_s}) {
            view->queryField()->setText(place);
            QTest::keyClick(view->queryField(), Qt::Key_Return);
        }
        m_geocoder.answer(5, {braunschweig});
        QTRY_COMPARE(view->results(), QList<GeoResult>{braunschweig});
        m_geocoder.answer(4, {gifhorn});
        QTRY_COMPARE(view->results(), QList<GeoResult>{gifhorn});
        QCOMPARE(view->resultRows().first()->text(), u"Gifhorn"_s);
    }

    // Strg+Komma opens one settings window, not modal, gone once closed; the main window
    // follows its changes, and its own size command shows when the settings come back.
    void mainWindowOpensItAndFollowsEveryChange() {
        QTemporaryDir dir;
        test::StoreFixture fixture;
        LibraryStore store(fixture.options(dir.path(), 600));
        MainWindow window(store);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        const auto open = [&]() -> SettingsView* {
            window.activateWindow();
            if (!QTest::qWaitForWindowActive(&window))
                return nullptr;
            QTest::keyClick(&window, Qt::Key_Comma, Qt::ControlModifier);
            const auto windows = window.findChildren<SettingsView*>();
            return windows.size() == 1 ? windows.first() : nullptr;
        };
        SettingsView* settings = open();
        QVERIFY(settings && settings->isWindow() && !settings->isModal());
        QVERIFY(QTest::qWaitForWindowExposed(settings));
        QCOMPARE(open(), settings);
        tick(settings->modeButtons().at(3));
        QCOMPARE(window.editorStyle().mode, AppearanceMode::SepiaHell);

        // The main window counts as active while its settings window is: wait for the focus.
        window.activateWindow();
        QTRY_COMPARE(QGuiApplication::focusWindow(), window.windowHandle());
        window.command(u"enlargeFont"_s)->trigger();
        QCOMPARE(settings->sizeLabel()->text(), u"17 pt"_s);
        settings->activateWindow();
        QTRY_COMPARE(QGuiApplication::focusWindow(), settings->windowHandle());
        QCOMPARE(settings->sizeLabel()->text(), u"18 pt"_s);
        settings->close();
        QTRY_VERIFY(!window.findChild<SettingsView*>());
    }
};

ORVIK_WINDOW_TEST_MAIN(TestSettings)

#include "tst_settings.moc"
