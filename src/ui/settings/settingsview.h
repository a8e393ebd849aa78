#pragma once

#include "daily/geocoder.h"

#include <QFuture>
#include <QList>
#include <QString>
#include <QWidget>

#include <functional>

class QAbstractButton;
class QButtonGroup;
class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSlider;
class QSpinBox;
class QTabWidget;
class QVBoxLayout;

namespace orvik::ui {

// The place lookup the window asks; replaceable so that tests need no network.
using PlaceSearch = std::function<QFuture<QList<GeoResult>>(const QString& query)>;

// The settings window: the look ("Darstellung") and the diary's daily context
// ("Tageskontext"). Every control writes its preference at once; there is
// nothing to apply or cancel. The place search, its results and its messages
// belong to this window only and are gone when it closes.
class SettingsView : public QWidget {
    Q_OBJECT
public:
    explicit SettingsView(QWidget* parent = nullptr, PlaceSearch search = {});
    ~SettingsView() override;

    QTabWidget* tabs() const { return m_tabs; }
    QList<QAbstractButton*> modeButtons() const;
    QList<QAbstractButton*> fontRows() const { return m_fontRows; }
    QSlider* sizeSlider() const { return m_sizeSlider; }
    QLabel* sizeLabel() const { return m_sizeLabel; }
    QCheckBox* weatherSwitch() const { return m_weather; }
    QCheckBox* newsSwitch() const { return m_news; }
    QSpinBox* headlineStepper() const { return m_headlines; }
    QLabel* currentPlace() const { return m_place; }
    QLineEdit* queryField() const { return m_query; }
    QPushButton* searchButton() const { return m_searchButton; }
    QWidget* searchingRow() const { return m_searchingRow; }
    QLabel* failureMessage() const { return m_failure; }
    QList<QAbstractButton*> resultRows() const { return m_resultRows; }

    bool isSearching() const { return m_searching; }
    const QList<GeoResult>& results() const { return m_results; }

public Q_SLOTS:
    // Shows the stored preferences again; they may have been changed elsewhere,
    // for instance by the size commands of the main window.
    void reload();
    void runSearch();
    void choose(const orvik::GeoResult& result);

Q_SIGNALS:
    // A control wrote a preference; the main window follows at once.
    void preferencesChanged();

protected:
    void changeEvent(QEvent* event) override;

private:
    QWidget* buildAppearanceTab();
    QWidget* buildDailyTab();
    void showSearchState();
    void rebuildResultRows();
    void finishSearch(const QList<GeoResult>& results);
    void changed();

    PlaceSearch m_search;
    QTabWidget* m_tabs = nullptr;
    QButtonGroup* m_modes = nullptr;
    QButtonGroup* m_fonts = nullptr;
    QList<QAbstractButton*> m_fontRows;
    QSlider* m_sizeSlider = nullptr;
    QLabel* m_sizeLabel = nullptr;
    QCheckBox* m_weather = nullptr;
    QCheckBox* m_news = nullptr;
    QSpinBox* m_headlines = nullptr;
    QLabel* m_place = nullptr;
    QLineEdit* m_query = nullptr;
    QPushButton* m_searchButton = nullptr;
    QWidget* m_searchingRow = nullptr;
    QLabel* m_failure = nullptr;
    QVBoxLayout* m_resultLayout = nullptr;
    QList<QAbstractButton*> m_resultRows;

    QList<GeoResult> m_results;
    bool m_searching = false;
    bool m_searchFailed = false;
};

} // namespace orvik::ui
