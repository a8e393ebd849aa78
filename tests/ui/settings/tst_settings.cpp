#include "appearance/editorstyle.h"
#include "appearance/theme.h"
#include "daily/dailysettings.h"
#include "store/librarystore.h"
#include "storefixture.h"
#include "ui/settings/settingsview.h"
#include "ui/window/mainwindow.h"
#include "ui/window/services.h"
#include "widgettest.h"

#include <QSignalSpy>
#include <QtWidgets>

#include <memory>

using namespace Qt::StringLiterals;

using namespace orvik;
using namespace orvik::ui;

namespace {

// What a screen reader or switch access does with a control: its first accessible action.
void accessibleAct(QWidget* widget) {
    QAccessibleActionInterface* act =
        QAccessible::queryAccessibleInterface(widget)->actionInterface();
    act->doAction(act->actionNames().first());
}

// A place lookup whose answers the test hands out one by one.
struct FakeGeocoder {
    QStringList queries;
    std::vector<std::unique_ptr<QPromise<QList<GeoResult>>>> pending;

    PlaceSearch search() {
        return [this](const QString& query) {
            queries.append(query);
            pending.push_back(std::make_unique<QPromise<QList<GeoResult>>>());
            pending.back()->start();
            return pending.back()->future();
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

    // Showing writes nothing, a size beyond the slider shows truncated; the modes
    // write their raw values, from the mouse, the arrow keys and assistive technology.
    void showingWritesNothingAndModesWriteTheirRawValues() {
        store().setValue(u"OrvikFontSize"_s, 31.9);
        auto view = openView();
        QCOMPARE(view->sizeLabel()->text(), u"31 pt"_s);
        QCOMPARE(view->sizeSlider()->value(), view->sizeSlider()->maximum());
        const auto* title = view->findChild<QLabel*>(u"sizeTitle"_s);
        QVERIFY(title->isVisible() && title->buddy() == view->sizeSlider());
        QCOMPARE(store().allKeys(), QStringList{u"OrvikFontSize"_s});
        QCOMPARE(stored(u"OrvikFontSize"_s).toDouble(), 31.9);
        QSignalSpy changed(view.get(), &SettingsView::preferencesChanged);
        const QStringList raw = u"system hell dunkel sepiaHell sepiaDunkel"_s.split(u' ');
        for (int i = 4; i >= 0; --i) {
            tick(view->modeButtons().at(i));
            QCOMPARE(stored(u"OrvikAppearance"_s).toString(), raw[i]);
        }
        QCOMPARE(changed.size(), 5);
        view->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(view.get()));
        view->modeButtons().at(0)->setFocus();
        QTest::keyClick(view->modeButtons().at(0), Qt::Key_Down);
        QCOMPARE(stored(u"OrvikAppearance"_s).toString(), u"hell"_s);
        accessibleAct(view->modeButtons().at(2));
        QCOMPARE(stored(u"OrvikAppearance"_s).toString(), u"dunkel"_s);
        store().setValue(u"OrvikAppearance"_s, u"blau"_s);
        view->reload();
        QVERIFY(view->modeButtons().at(0)->isChecked());
    }

    void fontRowsShowInstalledFacesInTheirOwnFont() {
        const QList<EditorFont> fonts = EditorFont::available();
        if (fonts.size() < 2)
            QSKIP("needs two of the book faces installed");
        store().setValue(u"OrvikFontFamily"_s, fonts.at(1).family);
        auto view = openView();
        QCOMPARE(view->fontRows().size(), fonts.size());
        const QColor secondary = drawnColour(view->sizeLabel());
        QVERIFY(secondary != view->palette().color(QPalette::WindowText));
        for (int i = 0; i < fonts.size(); ++i) {
            QAbstractButton* row = view->fontRows().at(i);
            auto* title = row->findChild<QLabel*>(u"fontTitle"_s);
            auto* sample = row->findChild<QLabel*>(u"fontSample"_s);
            QCOMPARE(QFontInfo(title->font()).family(), fonts.at(i).family);
            QCOMPARE(QFontInfo(sample->font()).family(), fonts.at(i).family);
            QCOMPARE(drawnColour(sample), secondary);
            QCOMPARE(row->isChecked(), i == 1);
        }
        // The whole row is the button, the sample line too.
        QAbstractButton* first = view->fontRows().first();
        auto* sample = first->findChild<QLabel*>(u"fontSample"_s);
        QTest::mouseClick(first, Qt::LeftButton, {}, sample->mapTo(first, sample->rect().center()));
        QCOMPARE(stored(u"OrvikFontFamily"_s).toString(), fonts.at(0).family);
        QVERIFY(first->isChecked() && !view->fontRows().at(1)->isChecked());
        view->fontRows().last()->setFocus();
        QTest::keyClick(view->fontRows().last(), Qt::Key_Space);
        QCOMPARE(stored(u"OrvikFontFamily"_s).toString(), fonts.last().family);
        accessibleAct(view->fontRows().at(1));
        QCOMPARE(stored(u"OrvikFontFamily"_s).toString(), fonts.at(1).family);
    }

    void uninstalledStoredFamilyMarksTheFontInUse() {
        // Neither a made-up family nor the default one is installed here: the
        // row of the font the editor falls back to carries the mark.
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

    void placeSearchShowsNamedResultsAndChoosesOne() {
        auto view = openView(1);
        QVERIFY(!view->searchButton()->isEnabled() && !view->searchingRow()->isVisible());
        QTest::keyClicks(view->queryField(), u"Braunschweig"_s);
        QTest::mouseClick(view->searchButton(), Qt::LeftButton);
        QCOMPARE(m_geocoder.queries, QStringList{u"Braunschweig"_s});
        QVERIFY(view->isSearching() && view->searchingRow()->isVisible());
        QVERIFY(!view->searchButton()->isEnabled());
        m_geocoder.answer(0, {braunschweig, braunschweigUsa});
        QTRY_COMPARE(view->resultRows().size(), 2);
        QVERIFY(!view->searchingRow()->isVisible() && view->searchButton()->isEnabled());
        QCOMPARE(drawnColour(view->resultRows().at(0)->findChild<QLabel*>(u"placeRegion"_s)),
                 drawnColour(view->currentPlace()));
        QVERIFY(!marked(view->resultRows().at(0)));
        // Every control is named for assistive technology, the result rows too.
        QCOMPARE(name(view->resultRows().first()), u"Braunschweig, Niedersachsen, Deutschland"_s);
        QAccessibleInterface* row = QAccessible::queryAccessibleInterface(view->resultRows()[0]);
        QVERIFY(row->role() == QAccessible::Button && row->actionInterface());
        int controls = 0;
        for (QWidget* widget : view->findChildren<QWidget*>()) {
            if (widget->focusPolicy() == Qt::NoFocus || !widget->isEnabled() ||
                qobject_cast<QAbstractScrollArea*>(widget) || widget->inherits("QTabBar") ||
                qobject_cast<QAbstractSpinBox*>(widget->parentWidget()))
                continue;
            ++controls;
            QVERIFY2(!name(widget).trimmed().isEmpty(), widget->metaObject()->className());
        }
        QVERIFY(controls >= 5 + view->fontRows().size() + 6);
        QTest::mouseClick(view->resultRows().at(1), Qt::LeftButton);
        QCOMPARE(stored(u"OrvikLocationName"_s).toString(), u"Braunschweig"_s);
        QCOMPARE(stored(u"OrvikLatitude"_s).toDouble(), braunschweigUsa.latitude);
        QCOMPARE(stored(u"OrvikLongitude"_s).toDouble(), braunschweigUsa.longitude);
        QVERIFY(view->resultRows().isEmpty() && view->queryField()->text().isEmpty());
        QCOMPARE(view->currentPlace()->text(), u"Braunschweig"_s);

        // The same name again: the check mark, and choosing still moves the place.
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
    }

    // The daily context's tab: its switches, the headline count, and a place
    // search that fails, is cancelled, or is overtaken.
    void dailyContextTab() {
        store().setValue(u"OrvikHeadlineCount"_s, 6);
        auto view = openView(1);
        QSpinBox* stepper = view->headlineStepper();
        QCOMPARE(stepper->text(), u"Anzahl Schlagzeilen: 6"_s);
        tick(view->weatherSwitch());
        QCOMPARE(stored(u"OrvikIncludeWeather"_s).toBool(), false);
        QCOMPARE(DailySettings::current().includeWeather, false);
        // Without news there is no count of headlines.
        tick(view->newsSwitch());
        QVERIFY(!stored(u"OrvikIncludeNews"_s).toBool() && !stepper->isVisible());
        view->newsSwitch()->setFocus();
        QTest::keyClick(view->newsSwitch(), Qt::Key_Space);
        QVERIFY(stored(u"OrvikIncludeNews"_s).toBool() && stepper->isVisible());
        // The stepper stays within one to eight.
        stepper->setFocus();
        QTest::keyClick(stepper, Qt::Key_PageUp);
        QCOMPARE(stored(u"OrvikHeadlineCount"_s).toInt(), 8);
        QTest::keyClick(stepper, Qt::Key_PageDown);
        QCOMPARE(stored(u"OrvikHeadlineCount"_s).toInt(), 1);

        // Typed, a tab would move the focus on.
        view->queryField()->setText(u" \t "_s);
        QVERIFY(!view->searchButton()->isEnabled());
        QTest::keyClick(view->queryField(), Qt::Key_Return);
        QCOMPARE(m_geocoder.queries, QStringList{u" \t "_s});
        m_geocoder.answer(0, {});
        QTRY_VERIFY(view->failureMessage()->isVisible());
        QCOMPARE(view->failureMessage()->text(),
                 u"Kein Ort gefunden. Versuch es mit einem größeren Ort in der Nähe."_s);
        QVERIFY(!view->searchingRow()->isVisible() && !store().contains(u"OrvikLocationName"_s));

        // A new search clears the message first, then lists what it finds.
        view->queryField()->setText(u"Gifhorn"_s);
        QTest::keyClick(view->queryField(), Qt::Key_Return);
        QVERIFY(!view->failureMessage()->isVisible());
        m_geocoder.answer(1, {gifhorn});
        QTRY_COMPARE(view->resultRows().size(), 1);

        // A cancelled lookup counts as finding nothing.
        QTest::keyClick(view->queryField(), Qt::Key_Return);
        QVERIFY(view->resultRows().isEmpty());
        m_geocoder.pending.at(2)->finish();
        QTRY_VERIFY(view->failureMessage()->isVisible());

        // Of two searches, the one that finishes later decides.
        for (const QString& place : {u"Gifhorn"_s, u"Braunschweig"_s}) {
            view->queryField()->setText(place);
            QTest::keyClick(view->queryField(), Qt::Key_Return);
        }
        m_geocoder.answer(4, {braunschweig});
        QTRY_COMPARE(view->results(), QList<GeoResult>{braunschweig});
        m_geocoder.answer(3, {gifhorn});
        QTRY_COMPARE(view->results(), QList<GeoResult>{gifhorn});
        QCOMPARE(view->resultRows().first()->text(), u"Gifhorn"_s);
    }

    void mainWindowOpensItAndFollowsEveryChange() {
        QTemporaryDir dir;
        test::StoreFixture fixture;
        LibraryStore::Options options = fixture.options(dir.path(), 600);
        LibraryStore store(options);
        MainWindow window(store);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        // Strg+Komma opens it, or brings back the one that is open.
        const auto open = [&]() -> SettingsView* {
            window.activateWindow();
            if (!QTest::qWaitForWindowActive(&window))
                return nullptr;
            QTest::keyClick(&window, Qt::Key_Comma, Qt::ControlModifier);
            const auto windows = window.findChildren<SettingsView*>();
            return windows.size() == 1 ? windows.first() : nullptr;
        };
        SettingsView* settings = open();
        QVERIFY(settings && QTest::qWaitForWindowExposed(settings));
        QVERIFY(!settings->isModal() && settings->isWindow());
        QCOMPARE(open(), settings);

        tick(settings->modeButtons().at(3));
        QCOMPARE(window.editorStyle().mode, AppearanceMode::SepiaHell);
        QCOMPARE(QApplication::palette().color(QPalette::Highlight),
                 Palette::sepiaLight().color(Palette::Role::Link, QApplication::palette()));
        const double factor = window.editorStyle().baseSize / 17.0;
        settings->sizeSlider()->setFocus();
        QTest::keyClick(settings->sizeSlider(), Qt::Key_Right);
        QCOMPARE(window.editorStyle().baseSize, 18.0 * factor);
        QAbstractButton* font = settings->fontRows().last();
        QTest::mouseClick(font, Qt::LeftButton);
        QCOMPARE(window.editorStyle().family, font->property("orvikFamily").toString());

        // The main window's size command shows when the settings come back.
        // The main window counts as active while its settings window is, so
        // wait for the window system's focus instead.
        window.activateWindow();
        QTRY_COMPARE(QGuiApplication::focusWindow(), window.windowHandle());
        window.command(u"enlargeFont"_s)->trigger();
        QCOMPARE(settings->sizeLabel()->text(), u"18 pt"_s);
        settings->activateWindow();
        QTRY_COMPARE(QGuiApplication::focusWindow(), settings->windowHandle());
        QCOMPARE(settings->sizeLabel()->text(), u"19 pt"_s);

        // Closed, it is gone; the next opening starts afresh.
        settings->close();
        QTRY_VERIFY(!window.findChild<SettingsView*>());
        SettingsView* again = open();
        QVERIFY(again && again->resultRows().isEmpty());
    }
};

ORVIK_WINDOW_TEST_MAIN(TestSettings)

#include "tst_settings.moc"
