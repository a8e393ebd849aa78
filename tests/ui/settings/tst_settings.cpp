#include "appearance/editorstyle.h"
#include "appearance/theme.h"
#include "daily/dailysettings.h"
#include "store/librarystore.h"
#include "storefixture.h"
#include "testenv.h"
#include "ui/settings/settingsview.h"
#include "ui/window/mainwindow.h"
#include "ui/window/services.h"
#include "widgettest.h"

#include <QAbstractButton>
#include <QAbstractScrollArea>
#include <QAbstractSpinBox>
#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPromise>
#include <QPushButton>
#include <QSettings>
#include <QSlider>
#include <QSpinBox>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace Qt::StringLiterals;

using namespace orvik;
using namespace orvik::ui;

namespace {

QSettings store() {
    return QSettings(u"Orvik"_s, u"Orvik"_s);
}

QVariant stored(const QString& key) {
    return store().value(key);
}

QString accessibleName(QWidget* widget) {
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(widget);
    return iface ? iface->text(QAccessible::Name) : QString();
}

// A place lookup whose answers the test hands out one by one.
struct FakeGeocoder {
    QStringList queries;
    std::vector<std::unique_ptr<QPromise<QList<GeoResult>>>> pending;

    PlaceSearch search() {
        return [this](const QString& query) {
            queries.append(query);
            auto promise = std::make_unique<QPromise<QList<GeoResult>>>();
            promise->start();
            QFuture<QList<GeoResult>> future = promise->future();
            pending.push_back(std::move(promise));
            return future;
        };
    }

    void answer(size_t index, const QList<GeoResult>& results) {
        pending.at(index)->addResult(results);
        pending.at(index)->finish();
    }
};

const GeoResult braunschweig{u"Braunschweig"_s, u"Niedersachsen, Deutschland"_s, 52.26594,
                             10.52673};
const GeoResult braunschweigUsa{u"Braunschweig"_s, u"Wisconsin, Vereinigte Staaten"_s, 43.1, -89.2};
const GeoResult gifhorn{u"Gifhorn"_s, u"Niedersachsen, Deutschland"_s, 52.47774, 10.5511};

// Check boxes and radio buttons answer clicks on their box and label only.
void clickBox(QWidget* control) {
    QTest::mouseClick(control, Qt::LeftButton, {}, QPoint(8, control->height() / 2));
}

// The colour a label draws its text in.
QColor drawnColour(const QLabel* label) {
    return label->palette().color(label->foregroundRole());
}

QWidget* checkMark(QAbstractButton* row) {
    return row->findChild<QWidget*>(u"checkmark"_s);
}

} // namespace

class TestSettings : public QObject {
    Q_OBJECT

    test::StoreFixture m_fixture;
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<LibraryStore> m_store;
    std::unique_ptr<MainWindow> m_window;

    void openMainWindow() {
        m_dir = std::make_unique<QTemporaryDir>();
        LibraryStore::Options options = m_fixture.options(m_dir->path(), 600);
        m_store = std::make_unique<LibraryStore>(options);
        m_window = std::make_unique<MainWindow>(*m_store);
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    }

    SettingsView* openSettingsFromWindow() {
        m_window->activateWindow();
        if (!QTest::qWaitForWindowActive(m_window.get()))
            return nullptr;
        QTest::keyClick(m_window.get(), Qt::Key_Comma, Qt::ControlModifier);
        const auto windows = m_window->findChildren<SettingsView*>();
        return windows.size() == 1 ? windows.first() : nullptr;
    }

private Q_SLOTS:
    void init() { store().clear(); }

    void cleanup() {
        m_window.reset();
        m_store.reset();
        m_dir.reset();
    }

    void emptyStoreShowsTheDefaultsAndShowingWritesNothing() {
        SettingsView view;
        view.show();
        QCOMPARE(view.currentPlace()->text(), DailySettings().locationName);
        QVERIFY(view.weatherSwitch()->isChecked() && view.newsSwitch()->isChecked());
        QCOMPARE(view.headlineStepper()->text(), u"Anzahl Schlagzeilen: 4"_s);
        QCOMPARE(view.sizeLabel()->text(), u"17 pt"_s);
        QVERIFY(view.modeButtons().first()->isChecked());
        QVERIFY(store().allKeys().isEmpty());
    }

    void modesWriteTheirRawValues() {
        SettingsView view;
        view.show();
        int signals = 0;
        connect(&view, &SettingsView::preferencesChanged, [&signals] { ++signals; });
        const QString raw[] = {u"system"_s, u"hell"_s, u"dunkel"_s, u"sepiaHell"_s,
                               u"sepiaDunkel"_s};
        for (int i = 4; i >= 0; --i) {
            clickBox(view.modeButtons().at(i));
            QCOMPARE(stored(u"OrvikAppearance"_s).toString(), raw[i]);
        }
        QCOMPARE(signals, 5);

        // The arrow keys move through the modes and choose.
        view.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&view));
        view.modeButtons().at(0)->setFocus();
        QTest::keyClick(view.modeButtons().at(0), Qt::Key_Down);
        QCOMPARE(stored(u"OrvikAppearance"_s).toString(), u"hell"_s);

        store().setValue(u"OrvikAppearance"_s, u"blau"_s);
        view.reload();
        QVERIFY(view.modeButtons().at(0)->isChecked());
    }

    void fontRowsShowInstalledFacesInTheirOwnFont() {
        const QList<EditorFont> fonts = EditorFont::available();
        if (fonts.size() < 2)
            QSKIP("needs two of the book faces installed");
        store().setValue(u"OrvikFontFamily"_s, fonts.at(1).family);
        SettingsView view;
        view.show();
        QCOMPARE(view.fontRows().size(), fonts.size());
        const QColor secondary = drawnColour(view.sizeLabel());
        QVERIFY(secondary != view.palette().color(QPalette::WindowText));
        for (int i = 0; i < fonts.size(); ++i) {
            QAbstractButton* row = view.fontRows().at(i);
            QCOMPARE(row->text(), fonts.at(i).title);
            auto* title = row->findChild<QLabel*>(u"fontTitle"_s);
            auto* sample = row->findChild<QLabel*>(u"fontSample"_s);
            QVERIFY(title && sample);
            QCOMPARE(QFontInfo(title->font()).family(), fonts.at(i).family);
            QCOMPARE(QFontInfo(sample->font()).family(), fonts.at(i).family);
            QCOMPARE(drawnColour(sample), secondary);
            QCOMPARE(row->isChecked(), i == 1);
        }
        // The whole row is the button, the sample line too.
        QAbstractButton* first = view.fontRows().first();
        auto* sample = first->findChild<QLabel*>(u"fontSample"_s);
        QTest::mouseClick(first, Qt::LeftButton, {}, sample->mapTo(first, sample->rect().center()));
        QCOMPARE(stored(u"OrvikFontFamily"_s).toString(), fonts.at(0).family);
        QVERIFY(first->isChecked());
        QVERIFY(!view.fontRows().at(1)->isChecked());

        // From the keyboard.
        view.fontRows().last()->setFocus();
        QTest::keyClick(view.fontRows().last(), Qt::Key_Space);
        QCOMPARE(stored(u"OrvikFontFamily"_s).toString(), fonts.last().family);
    }

    void uninstalledStoredFamilyMarksTheFontInUse() {
        // Neither a made-up family nor the default one is installed here: the
        // row of the font the editor falls back to carries the mark.
        for (const QString& stored : {u"Gibt es nicht"_s, u"Iowan Old Style"_s}) {
            store().setValue(u"OrvikFontFamily"_s, stored);
            SettingsView view;
            QVERIFY(!view.fontRows().isEmpty());
            QVERIFY(view.fontRows().first()->isChecked());
            for (QAbstractButton* row : view.fontRows().mid(1))
                QVERIFY(!row->isChecked());
            for (const QAbstractButton* row : view.fontRows())
                QVERIFY(Theme::isInstalled(row->property("orvikFamily").toString()));
        }
    }

    void sizeSliderStepsWithinItsRange() {
        SettingsView view;
        view.show();
        QSlider* slider = view.sizeSlider();
        const auto* title = view.findChild<QLabel*>(u"sizeTitle"_s);
        QVERIFY(title && title->isVisible());
        QCOMPARE(title->buddy(), slider);
        slider->setFocus();
        QTest::keyClick(slider, Qt::Key_Right);
        QCOMPARE(stored(u"OrvikFontSize"_s).toDouble(), 18.0);
        QCOMPARE(view.sizeLabel()->text(), u"18 pt"_s);
        QTest::keyClick(slider, Qt::Key_End);
        QCOMPARE(stored(u"OrvikFontSize"_s).toDouble(), 28.0);
        QTest::keyClick(slider, Qt::Key_Right);
        QCOMPARE(stored(u"OrvikFontSize"_s).toDouble(), 28.0);
        QTest::keyClick(slider, Qt::Key_Home);
        QCOMPARE(stored(u"OrvikFontSize"_s).toDouble(), 12.0);
        QCOMPARE(view.sizeLabel()->text(), u"12 pt"_s);
    }

    void sizeLabelShowsTheStoredSizeTruncated_data() {
        QTest::addColumn<double>("size");
        QTest::addColumn<QString>("label");
        QTest::addColumn<int>("slider");
        QTest::newRow("fraction") << 17.9 << u"17 pt"_s << 17;
        QTest::newRow("above the slider") << 31.0 << u"31 pt"_s << 28;
        QTest::newRow("lowest") << 12.0 << u"12 pt"_s << 12;
    }

    void sizeLabelShowsTheStoredSizeTruncated() {
        QFETCH(double, size);
        store().setValue(u"OrvikFontSize"_s, size);
        SettingsView view;
        QFETCH(QString, label);
        QFETCH(int, slider);
        QCOMPARE(view.sizeLabel()->text(), label);
        QCOMPARE(view.sizeSlider()->value(), slider);
        // Showing it leaves the stored size alone.
        QCOMPARE(stored(u"OrvikFontSize"_s).toDouble(), size);
    }

    void switchesAndHeadlineStepper() {
        store().setValue(u"OrvikHeadlineCount"_s, 6);
        SettingsView view;
        view.show();
        view.tabs()->setCurrentIndex(1);
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        QCOMPARE(view.headlineStepper()->text(), u"Anzahl Schlagzeilen: 6"_s);

        clickBox(view.weatherSwitch());
        QCOMPARE(stored(u"OrvikIncludeWeather"_s).toBool(), false);
        QCOMPARE(DailySettings::current().includeWeather, false);

        QVERIFY(view.headlineStepper()->isVisible());
        clickBox(view.newsSwitch());
        QCOMPARE(stored(u"OrvikIncludeNews"_s).toBool(), false);
        QVERIFY(!view.headlineStepper()->isVisible());
        view.newsSwitch()->setFocus();
        QTest::keyClick(view.newsSwitch(), Qt::Key_Space);
        QCOMPARE(stored(u"OrvikIncludeNews"_s).toBool(), true);
        QVERIFY(view.headlineStepper()->isVisible());

        // The stepper stays within one to eight.
        QSpinBox* stepper = view.headlineStepper();
        stepper->setFocus();
        for (int i = 0; i < 10; ++i)
            QTest::keyClick(stepper, Qt::Key_Up);
        QCOMPARE(stored(u"OrvikHeadlineCount"_s).toInt(), 8);
        for (int i = 0; i < 10; ++i)
            QTest::keyClick(stepper, Qt::Key_Down);
        QCOMPARE(stored(u"OrvikHeadlineCount"_s).toInt(), 1);
        QCOMPARE(stepper->text(), u"Anzahl Schlagzeilen: 1"_s);
    }

    void placeSearchShowsResultsAndChoosesOne() {
        FakeGeocoder geocoder;
        SettingsView view(nullptr, geocoder.search());
        view.show();
        view.tabs()->setCurrentIndex(1);
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        QVERIFY(!view.searchButton()->isEnabled());
        QVERIFY(!view.searchingRow()->isVisible());
        QVERIFY(!view.failureMessage()->isVisible());

        QTest::keyClicks(view.queryField(), u"Braunschweig"_s);
        QVERIFY(view.searchButton()->isEnabled());
        QTest::mouseClick(view.searchButton(), Qt::LeftButton);
        QCOMPARE(geocoder.queries, QStringList{u"Braunschweig"_s});
        QVERIFY(view.isSearching() && view.searchingRow()->isVisible());
        QVERIFY(!view.searchButton()->isEnabled());

        geocoder.answer(0, {braunschweig, braunschweigUsa});
        QTRY_COMPARE(view.resultRows().size(), 2);
        QVERIFY(!view.searchingRow()->isVisible() && !view.failureMessage()->isVisible());
        QVERIFY(view.searchButton()->isEnabled());
        QCOMPARE(drawnColour(view.resultRows().at(0)->findChild<QLabel*>(u"placeRegion"_s)),
                 drawnColour(view.currentPlace()));
        QVERIFY(!checkMark(view.resultRows().at(0))->isVisibleTo(view.resultRows().at(0)));

        QTest::mouseClick(view.resultRows().at(1), Qt::LeftButton);
        QCOMPARE(stored(u"OrvikLocationName"_s).toString(), u"Braunschweig"_s);
        QCOMPARE(stored(u"OrvikLatitude"_s).toDouble(), braunschweigUsa.latitude);
        QCOMPARE(stored(u"OrvikLongitude"_s).toDouble(), braunschweigUsa.longitude);
        QVERIFY(view.resultRows().isEmpty());
        QVERIFY(view.queryField()->text().isEmpty());
        QCOMPARE(view.currentPlace()->text(), u"Braunschweig"_s);
        QVERIFY(!view.searchButton()->isEnabled());

        // The same name again: the check mark, and choosing still moves the place.
        QTest::keyClicks(view.queryField(), u"Braunschweig"_s);
        QTest::keyClick(view.queryField(), Qt::Key_Return);
        geocoder.answer(1, {braunschweig, gifhorn});
        QTRY_COMPARE(view.resultRows().size(), 2);
        QVERIFY(checkMark(view.resultRows().at(0))->isVisibleTo(view.resultRows().at(0)));
        QVERIFY(!checkMark(view.resultRows().at(1))->isVisibleTo(view.resultRows().at(1)));
        view.resultRows().at(0)->setFocus();
        QTest::keyClick(view.resultRows().at(0), Qt::Key_Space);
        QCOMPARE(stored(u"OrvikLatitude"_s).toDouble(), braunschweig.latitude);
        QCOMPARE(stored(u"OrvikLongitude"_s).toDouble(), braunschweig.longitude);
        QVERIFY(view.queryField()->hasFocus());
    }

    void searchFailureAndBlankQuery() {
        FakeGeocoder geocoder;
        SettingsView view(nullptr, geocoder.search());
        view.show();
        view.tabs()->setCurrentIndex(1);
        QVERIFY(QTest::qWaitForWindowExposed(&view));

        // Typed, a tab would move the focus on.
        view.queryField()->setText(u" \t "_s);
        QVERIFY(!view.searchButton()->isEnabled());
        QTest::keyClick(view.queryField(), Qt::Key_Return);
        QCOMPARE(geocoder.queries, QStringList{u" \t "_s});
        geocoder.answer(0, {});
        QTRY_VERIFY(view.failureMessage()->isVisible());
        QCOMPARE(view.failureMessage()->text(),
                 u"Kein Ort gefunden. Versuch es mit einem größeren Ort in der Nähe."_s);
        QVERIFY(!view.searchingRow()->isVisible());
        QCOMPARE(view.currentPlace()->text(), u"Schwülper"_s);
        QVERIFY(!store().contains(u"OrvikLocationName"_s));

        // A new search clears the message first, then lists what it finds.
        view.queryField()->setText(u"Gifhorn"_s);
        QTest::keyClick(view.queryField(), Qt::Key_Return);
        QVERIFY(!view.failureMessage()->isVisible());
        geocoder.answer(1, {gifhorn});
        QTRY_COMPARE(view.resultRows().size(), 1);
        QVERIFY(!view.failureMessage()->isVisible());

        // A cancelled lookup counts as finding nothing.
        QTest::keyClick(view.queryField(), Qt::Key_Return);
        QVERIFY(view.resultRows().isEmpty());
        geocoder.pending.at(2)->finish();
        QTRY_VERIFY(view.failureMessage()->isVisible());
    }

    void laterFinishingSearchDecides() {
        FakeGeocoder geocoder;
        SettingsView view(nullptr, geocoder.search());
        view.show();
        view.queryField()->setText(u"Gifhorn"_s);
        QTest::keyClick(view.queryField(), Qt::Key_Return);
        view.queryField()->setText(u"Braunschweig"_s);
        QTest::keyClick(view.queryField(), Qt::Key_Return);
        QCOMPARE(geocoder.queries.size(), 2);
        geocoder.answer(1, {braunschweig});
        QTRY_COMPARE(view.results(), QList<GeoResult>{braunschweig});
        geocoder.answer(0, {gifhorn});
        QTRY_COMPARE(view.results(), QList<GeoResult>{gifhorn});
        QCOMPARE(view.resultRows().size(), 1);
        QCOMPARE(view.resultRows().first()->text(), u"Gifhorn"_s);
    }

    void everyControlIsNamedForAssistiveTechnology() {
        FakeGeocoder geocoder;
        SettingsView view(nullptr, geocoder.search());
        view.show();
        view.queryField()->setText(u"Braunschweig"_s);
        view.runSearch();
        geocoder.answer(0, {braunschweig});
        QTRY_COMPARE(view.resultRows().size(), 1);

        QCOMPARE(accessibleName(view.headlineStepper()), u"Anzahl Schlagzeilen"_s);
        QCOMPARE(accessibleName(view.resultRows().first()),
                 u"Braunschweig, Niedersachsen, Deutschland"_s);
        QAccessibleInterface* row =
            QAccessible::queryAccessibleInterface(view.resultRows().first());
        QCOMPARE(row->role(), QAccessible::Button);
        QVERIFY(row->actionInterface());

        int controls = 0;
        for (QWidget* widget : view.findChildren<QWidget*>()) {
            if (widget->focusPolicy() == Qt::NoFocus || !widget->isEnabled() ||
                qobject_cast<QAbstractScrollArea*>(widget) || widget->inherits("QTabBar") ||
                qobject_cast<QAbstractSpinBox*>(widget->parentWidget()))
                continue;
            ++controls;
            QVERIFY2(!accessibleName(widget).trimmed().isEmpty(),
                     widget->metaObject()->className());
        }
        QVERIFY(controls >= 5 + view.fontRows().size() + 6);

        QAccessibleInterface* tabs = QAccessible::queryAccessibleInterface(view.tabs());
        QStringList tabNames;
        for (int i = 0; i < tabs->childCount(); ++i)
            for (int j = 0; tabs->child(i) && j < tabs->child(i)->childCount(); ++j)
                if (tabs->child(i)->child(j)->role() == QAccessible::PageTab)
                    tabNames.append(tabs->child(i)->child(j)->text(QAccessible::Name));
        QCOMPARE(tabNames, (QStringList{u"Darstellung"_s, u"Tageskontext"_s}));
    }

    void mainWindowOpensItAndFollowsEveryChange() {
        openMainWindow();
        SettingsView* settings = openSettingsFromWindow();
        QVERIFY(settings);
        QVERIFY(QTest::qWaitForWindowExposed(settings));
        QVERIFY(!settings->isModal());
        QVERIFY(settings->isWindow());

        // Asking again brings back the same window.
        m_window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
        QTest::keyClick(m_window.get(), Qt::Key_Comma, Qt::ControlModifier);
        QCOMPARE(m_window->findChildren<SettingsView*>().size(), 1);

        clickBox(settings->modeButtons().at(3));
        QCOMPARE(m_window->editorStyle().mode, AppearanceMode::SepiaHell);
        QCOMPARE(QApplication::palette().color(QPalette::Highlight),
                 Palette::sepiaLight().color(Palette::Role::Link, QApplication::palette()));

        const double factor = m_window->editorStyle().baseSize / 17.0;
        settings->sizeSlider()->setFocus();
        QTest::keyClick(settings->sizeSlider(), Qt::Key_Right);
        QCOMPARE(m_window->editorStyle().baseSize, 18.0 * factor);

        const QList<EditorFont> fonts = EditorFont::available();
        if (fonts.size() >= 2) {
            const QString other = m_window->editorStyle().family == fonts.at(0).family
                                      ? fonts.at(1).family
                                      : fonts.at(0).family;
            for (QAbstractButton* row : settings->fontRows())
                if (row->property("orvikFamily").toString() == other)
                    QTest::mouseClick(row, Qt::LeftButton);
            QCOMPARE(m_window->editorStyle().family, other);
        }

        // The main window's size command shows when the settings come back.
        // The main window counts as active while its settings window is, so
        // wait for the window system's focus instead.
        m_window->activateWindow();
        QTRY_COMPARE(QGuiApplication::focusWindow(), m_window->windowHandle());
        m_window->command(u"Schrift vergrößern"_s)->trigger();
        QCOMPARE(settings->sizeLabel()->text(), u"18 pt"_s);
        settings->activateWindow();
        QTRY_COMPARE(QGuiApplication::focusWindow(), settings->windowHandle());
        QCOMPARE(settings->sizeLabel()->text(), u"19 pt"_s);

        // Closed, it is gone; the next opening starts afresh.
        settings->close();
        QTRY_COMPARE(m_window->findChildren<SettingsView*>().size(), 0);
        SettingsView* again = openSettingsFromWindow();
        QVERIFY(again);
        QVERIFY(again->resultRows().isEmpty());
    }
};

ORVIK_WINDOW_TEST_MAIN(TestSettings)

#include "tst_settings.moc"
