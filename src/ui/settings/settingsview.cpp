#include "settingsview.h"

#include "appearance/editorstyle.h"
#include "appearance/theme.h"
#include "daily/dailysettings.h"
#include "ui/window/services.h"

#include <QAbstractButton>
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QEvent>
#include <QFutureWatcher>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QIcon>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPainterPath>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QShortcut>
#include <QSignalBlocker>
#include <QSlider>
#include <QSpinBox>
#include <QStyle>
#include <QStyleOptionFocusRect>
#include <QTabWidget>
#include <QVBoxLayout>

#include <cmath>

using namespace Qt::StringLiterals;

namespace orvik::ui {

namespace {

const char* const rawValueProperty = "orvikRawValue";
const char* const familyProperty = "orvikFamily";

// The label colour of secondary texts, light or dark with the palette.
QColor secondaryColor(const QPalette& qt) {
    return Palette::system().color(Palette::Role::Quote, qt);
}

// Text sizes relative to the body text, for the caption, callout and title
// styles the window uses beside the body text.
QFont scaledFont(const QFont& base, qreal factor) {
    QFont font = base;
    font.setPointSizeF(base.pointSizeF() * factor);
    return font;
}
constexpr qreal captionFactor = 0.85;
constexpr qreal calloutFactor = 0.95;
constexpr qreal title3Factor = 1.6;

// Only spaces and tabs count as blank: a line break is something to search for.
bool isBlank(const QString& text) {
    return std::all_of(text.cbegin(), text.cend(), [](QChar c) { return c == u' ' || c == u'\t'; });
}

// A label in the secondary colour that keeps it when the mode changes the
// application's palette.
class SecondaryLabel : public QLabel {
public:
    explicit SecondaryLabel(const QString& text = {}, QWidget* parent = nullptr)
        : QLabel(text, parent) {
        // Inside a button a label inherits the button's roles and would draw
        // in the button's text colour.
        setForegroundRole(QPalette::WindowText);
        recolour();
    }

protected:
    void changeEvent(QEvent* event) override {
        QLabel::changeEvent(event);
        if (event->type() == QEvent::PaletteChange && !m_recolouring)
            recolour();
    }

private:
    void recolour() {
        m_recolouring = true;
        const QPalette inherited =
            parentWidget() ? parentWidget()->palette() : QApplication::palette();
        QPalette own = palette();
        own.setColor(QPalette::WindowText, secondaryColor(inherited));
        setPalette(own);
        m_recolouring = false;
    }

    bool m_recolouring = false;
};

// A borderless button that is clickable over its whole area and lays its
// content out with child widgets, which let the clicks through.
class RowButton : public QAbstractButton {
public:
    explicit RowButton(QWidget* parent = nullptr) : QAbstractButton(parent) {
        setFocusPolicy(Qt::StrongFocus);
        setAttribute(Qt::WA_Hover);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    }

    QSize sizeHint() const override { return layout() ? layout()->sizeHint() : QSize(); }
    QSize minimumSizeHint() const override { return layout() ? layout()->minimumSize() : QSize(); }

protected:
    void passClicksThrough(QWidget* child) {
        child->setAttribute(Qt::WA_TransparentForMouseEvents);
    }

    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        if (underMouse() || isDown()) {
            QColor hover = palette().color(QPalette::WindowText);
            hover.setAlphaF(isDown() ? 0.12 : 0.06);
            painter.setPen(Qt::NoPen);
            painter.setBrush(hover);
            painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 5, 5);
        }
        if (hasFocus()) {
            QStyleOptionFocusRect option;
            option.initFrom(this);
            style()->drawPrimitive(QStyle::PE_FrameFocusRect, &option, &painter, this);
        }
    }
};

// The selection mark of a font row: a filled ring in the accent colour, or an
// empty circle in the secondary colour.
class SelectionMark : public QWidget {
public:
    SelectionMark(QAbstractButton* row, QWidget* parent) : QWidget(parent), m_row(row) {
        setFixedSize(18, 18);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QRectF circle = QRectF(rect()).adjusted(1.5, 1.5, -1.5, -1.5);
        if (m_row->isChecked()) {
            const QColor accent = palette().color(QPalette::Highlight);
            painter.setPen(QPen(accent, 1.5));
            painter.setBrush(Qt::NoBrush);
            painter.drawEllipse(circle);
            painter.setPen(Qt::NoPen);
            painter.setBrush(accent);
            painter.drawEllipse(circle.center(), circle.width() * 0.28, circle.height() * 0.28);
        } else {
            painter.setPen(QPen(secondaryColor(palette()), 1.2));
            painter.setBrush(Qt::NoBrush);
            painter.drawEllipse(circle);
        }
    }

private:
    QAbstractButton* m_row;
};

// The check mark beside the result that is the current place.
class CheckMark : public QWidget {
public:
    explicit CheckMark(QWidget* parent) : QWidget(parent) {
        setObjectName(u"checkmark"_s);
        setFixedSize(18, 18);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QColor tint = palette().color(QPalette::Highlight);
        const QRectF circle = QRectF(rect()).adjusted(1.5, 1.5, -1.5, -1.5);
        painter.setPen(QPen(tint, 1.4));
        painter.drawEllipse(circle);
        QPainterPath tick;
        tick.moveTo(circle.left() + circle.width() * 0.28, circle.top() + circle.height() * 0.52);
        tick.lineTo(circle.left() + circle.width() * 0.44, circle.top() + circle.height() * 0.68);
        tick.lineTo(circle.left() + circle.width() * 0.72, circle.top() + circle.height() * 0.34);
        painter.setPen(QPen(tint, 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        painter.drawPath(tick);
    }
};

class FontRow : public RowButton {
public:
    FontRow(const EditorFont& font, QWidget* parent) : RowButton(parent) {
        setCheckable(true);
        setText(font.title);
        setAccessibleName(font.title);
        setProperty(familyProperty, font.family);

        auto* row = new QHBoxLayout(this);
        row->setContentsMargins(6, 5, 6, 5);
        row->setSpacing(12);
        auto* mark = new SelectionMark(this, this);
        passClicksThrough(mark);
        row->addWidget(mark, 0, Qt::AlignVCenter);

        auto* lines = new QVBoxLayout;
        lines->setSpacing(3);
        auto* title = new QLabel(font.title, this);
        title->setObjectName(u"fontTitle"_s);
        QFont titleFont(font.family);
        titleFont.setPointSizeF(15);
        title->setFont(titleFont);
        auto* sample = new SecondaryLabel(u"Vom Schreiben und vom Bleiben."_s, this);
        sample->setObjectName(u"fontSample"_s);
        QFont sampleFont(font.family);
        sampleFont.setPointSizeF(13);
        sample->setFont(sampleFont);
        for (QLabel* label : {static_cast<QLabel*>(title), static_cast<QLabel*>(sample)}) {
            passClicksThrough(label);
            lines->addWidget(label);
        }
        row->addLayout(lines);
        row->addStretch(1);
    }
};

class ResultRow : public RowButton {
public:
    ResultRow(const GeoResult& result, bool current, QWidget* parent) : RowButton(parent) {
        setText(result.name);
        setAccessibleName(result.region.isEmpty() ? result.name
                                                  : result.name + u", "_s + result.region);
        setObjectName(result.id());

        auto* row = new QHBoxLayout(this);
        row->setContentsMargins(6, 4, 6, 4);
        auto* lines = new QVBoxLayout;
        lines->setSpacing(2);
        auto* name = new QLabel(result.name, this);
        name->setObjectName(u"placeName"_s);
        auto* region = new SecondaryLabel(result.region, this);
        region->setObjectName(u"placeRegion"_s);
        region->setFont(scaledFont(font(), captionFactor));
        region->setVisible(!result.region.isEmpty());
        for (QLabel* label : {static_cast<QLabel*>(name), static_cast<QLabel*>(region)}) {
            passClicksThrough(label);
            lines->addWidget(label);
        }
        row->addLayout(lines);
        row->addStretch(1);
        auto* check = new CheckMark(this);
        passClicksThrough(check);
        check->setVisible(current);
        row->addWidget(check, 0, Qt::AlignVCenter);
        if (current)
            setAccessibleDescription(u"Aktueller Ort"_s);
    }
};

QGroupBox* section(const QString& title, QWidget* parent) {
    auto* box = new QGroupBox(title, parent);
    box->setAccessibleName(title);
    return box;
}

// A tab's form, scrollable so that a long result list never squeezes it.
QWidget* scrollable(QWidget* form) {
    auto* area = new QScrollArea;
    area->setWidgetResizable(true);
    area->setFrameShape(QFrame::NoFrame);
    area->setWidget(form);
    return area;
}

} // namespace

SettingsView::SettingsView(QWidget* parent, PlaceSearch search)
    : QWidget(parent, Qt::Window), m_search(std::move(search)) {
    if (!m_search)
        m_search = [](const QString& query) { return Geocoder::search(query); };
    setObjectName(u"settingsWindow"_s);
    setWindowTitle(u"Einstellungen"_s);
    setAccessibleName(u"Einstellungen"_s);
    resize(520, 560);

    m_tabs = new QTabWidget(this);
    m_tabs->setAccessibleName(u"Einstellungen"_s);
    m_tabs->addTab(scrollable(buildAppearanceTab()), symbolIcon(u"textformat"_s), u"Darstellung"_s);
    m_tabs->addTab(scrollable(buildDailyTab()), QIcon::fromTheme(u"weather-few-clouds"_s),
                   u"Tageskontext"_s);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_tabs);

    // Without a title bar button of its own on every desktop, the window
    // closes from the keyboard too.
    for (const QKeySequence& key :
         {QKeySequence(QKeySequence::Close), QKeySequence(Qt::Key_Escape)})
        connect(new QShortcut(key, this), &QShortcut::activated, this, &QWidget::close);

    reload();
    showSearchState();
}

SettingsView::~SettingsView() = default;

QList<QAbstractButton*> SettingsView::modeButtons() const {
    return m_modes->buttons();
}

QWidget* SettingsView::buildAppearanceTab() {
    auto* page = new QWidget;
    auto* layout = new QVBoxLayout(page);

    QGroupBox* modeBox = section(u"Farbmodus"_s, page);
    auto* modeLayout = new QVBoxLayout(modeBox);
    m_modes = new QButtonGroup(this);
    for (AppearanceMode mode : allAppearanceModes) {
        auto* choice = new QRadioButton(title(mode), modeBox);
        choice->setAccessibleName(title(mode));
        choice->setProperty(rawValueProperty, rawValue(mode));
        m_modes->addButton(choice);
        modeLayout->addWidget(choice);
    }
    // Toggled, not clicked: a screen reader's toggle action never clicks.
    connect(m_modes, &QButtonGroup::buttonToggled, this, [this](QAbstractButton* choice, bool on) {
        if (!on)
            return;
        AppearancePreferences::storeAppearance(choice->property(rawValueProperty).toString());
        changed();
    });
    layout->addWidget(modeBox);

    QGroupBox* fontBox = section(u"Schrift"_s, page);
    auto* fontLayout = new QVBoxLayout(fontBox);
    fontLayout->setSpacing(2);
    m_fonts = new QButtonGroup(this);
    for (const EditorFont& font : EditorFont::available()) {
        auto* row = new FontRow(font, fontBox);
        m_fonts->addButton(row);
        m_fontRows.append(row);
        fontLayout->addWidget(row);
    }
    connect(m_fonts, &QButtonGroup::buttonToggled, this, [this](QAbstractButton* row, bool on) {
        if (!on)
            return;
        AppearancePreferences::storeFontFamily(row->property(familyProperty).toString());
        reload();
        changed();
    });
    layout->addWidget(fontBox);

    QGroupBox* sizeBox = section(u"Größe"_s, page);
    auto* sizeLayout = new QVBoxLayout(sizeBox);
    auto* sliderTitle = new QLabel(u"Schriftgröße"_s, sizeBox);
    sliderTitle->setObjectName(u"sizeTitle"_s);
    sizeLayout->addWidget(sliderTitle);
    auto* sliderRow = new QHBoxLayout;
    auto* small = new QLabel(u"A"_s, sizeBox);
    small->setFont(scaledFont(font(), captionFactor));
    auto* large = new QLabel(u"A"_s, sizeBox);
    large->setFont(scaledFont(font(), title3Factor));
    m_sizeSlider = new QSlider(Qt::Horizontal, sizeBox);
    m_sizeSlider->setAccessibleName(u"Schriftgröße"_s);
    m_sizeSlider->setRange(12, 28);
    m_sizeSlider->setSingleStep(1);
    m_sizeSlider->setPageStep(1);
    m_sizeSlider->setFocusPolicy(Qt::StrongFocus);
    sliderTitle->setBuddy(m_sizeSlider);
    sliderRow->addWidget(small, 0, Qt::AlignVCenter);
    sliderRow->addWidget(m_sizeSlider, 1);
    sliderRow->addWidget(large, 0, Qt::AlignVCenter);
    sizeLayout->addLayout(sliderRow);
    m_sizeLabel = new SecondaryLabel({}, sizeBox);
    m_sizeLabel->setFont(scaledFont(font(), captionFactor));
    sizeLayout->addWidget(m_sizeLabel);
    connect(m_sizeSlider, &QSlider::valueChanged, this, [this](int size) {
        AppearancePreferences::storeFontSize(static_cast<double>(size));
        reload();
        changed();
    });
    layout->addWidget(sizeBox);
    layout->addStretch(1);
    return page;
}

QWidget* SettingsView::buildDailyTab() {
    auto* page = new QWidget;
    auto* layout = new QVBoxLayout(page);

    QGroupBox* contextBox = section(u"Tageskontext im Tagebuch"_s, page);
    auto* contextLayout = new QVBoxLayout(contextBox);
    m_weather = new QCheckBox(u"Wetter einfügen"_s, contextBox);
    m_weather->setAccessibleName(m_weather->text());
    m_news = new QCheckBox(u"Schlagzeilen der Tagesschau einfügen"_s, contextBox);
    m_news->setAccessibleName(m_news->text());
    // The label carries the number, as the stepper's own text.
    m_headlines = new QSpinBox(contextBox);
    m_headlines->setPrefix(u"Anzahl Schlagzeilen: "_s);
    m_headlines->setRange(DailySettings::minHeadlineCount, DailySettings::maxHeadlineCount);
    m_headlines->setSingleStep(1);
    m_headlines->setAccessibleName(u"Anzahl Schlagzeilen"_s);
    m_headlines->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    contextLayout->addWidget(m_weather);
    contextLayout->addWidget(m_news);
    contextLayout->addWidget(m_headlines);
    connect(m_weather, &QCheckBox::toggled, this, [this](bool on) {
        DailySettings::weatherFlag.write(on);
        changed();
    });
    connect(m_news, &QCheckBox::toggled, this, [this](bool on) {
        DailySettings::newsFlag.write(on);
        m_headlines->setVisible(on);
        changed();
    });
    connect(m_headlines, &QSpinBox::valueChanged, this, [this](int count) {
        DailySettings::storeHeadlineCount(count);
        changed();
    });
    layout->addWidget(contextBox);

    QGroupBox* placeBox = section(u"Ort für das Wetter"_s, page);
    auto* placeLayout = new QVBoxLayout(placeBox);
    auto* currentRow = new QHBoxLayout;
    auto* currentLabel = new QLabel(u"Aktuell"_s, placeBox);
    m_place = new SecondaryLabel({}, placeBox);
    m_place->setObjectName(u"currentPlace"_s);
    m_place->setAccessibleDescription(u"Aktuell"_s);
    currentLabel->setBuddy(m_place);
    currentRow->addWidget(currentLabel);
    currentRow->addStretch(1);
    currentRow->addWidget(m_place);
    placeLayout->addLayout(currentRow);

    auto* queryRow = new QHBoxLayout;
    m_query = new QLineEdit(placeBox);
    m_query->setPlaceholderText(u"Ort suchen"_s);
    m_query->setAccessibleName(u"Ort suchen"_s);
    m_searchButton = new QPushButton(u"Suchen"_s, placeBox);
    m_searchButton->setAccessibleName(u"Suchen"_s);
    m_searchButton->setAutoDefault(false);
    queryRow->addWidget(m_query, 1);
    queryRow->addWidget(m_searchButton);
    placeLayout->addLayout(queryRow);
    connect(m_query, &QLineEdit::textChanged, this, &SettingsView::showSearchState);
    connect(m_query, &QLineEdit::returnPressed, this, &SettingsView::runSearch);
    connect(m_searchButton, &QPushButton::clicked, this, &SettingsView::runSearch);

    m_searchingRow = new QWidget(placeBox);
    auto* searchingLayout = new QHBoxLayout(m_searchingRow);
    searchingLayout->setContentsMargins(0, 0, 0, 0);
    searchingLayout->setSpacing(8);
    auto* indicator = new QProgressBar(m_searchingRow);
    indicator->setRange(0, 0); // no end known: the bar runs back and forth
    indicator->setTextVisible(false);
    indicator->setFixedSize(48, 10);
    indicator->setAccessibleName(u"Suche läuft"_s);
    searchingLayout->addWidget(indicator);
    searchingLayout->addWidget(new SecondaryLabel(u"Suche läuft \u2026"_s, m_searchingRow));
    searchingLayout->addStretch(1);
    placeLayout->addWidget(m_searchingRow);

    m_failure = new SecondaryLabel(
        u"Kein Ort gefunden. Versuch es mit einem größeren Ort in der Nähe."_s, placeBox);
    m_failure->setObjectName(u"searchFailed"_s);
    m_failure->setWordWrap(true);
    m_failure->setFont(scaledFont(font(), calloutFactor));
    placeLayout->addWidget(m_failure);

    m_resultLayout = new QVBoxLayout;
    m_resultLayout->setSpacing(2);
    placeLayout->addLayout(m_resultLayout);

    layout->addWidget(placeBox);
    layout->addStretch(1);
    return page;
}

void SettingsView::reload() {
    {
        // The raw text as stored: one that names no mode shows the system's.
        const QString appearance = AppearancePreferences::current().appearance;
        const QSignalBlocker blocker(m_modes);
        const auto mode = appearanceModeFromRawValue(appearance).value_or(AppearanceMode::System);
        for (QAbstractButton* choice : m_modes->buttons())
            choice->setChecked(choice->property(rawValueProperty).toString() == rawValue(mode));
    }
    {
        // The font the editor really uses: the stored family, or, when that is
        // not installed here (the default one is not on Linux), its stand-in.
        const QString family = editorStyle().family;
        const QSignalBlocker blocker(m_fonts);
        // An exclusive group keeps one row checked; none may be, when no
        // editor font is installed at all.
        m_fonts->setExclusive(false);
        for (QAbstractButton* row : m_fontRows) {
            row->setChecked(row->property(familyProperty).toString() == family);
            row->update();
        }
        m_fonts->setExclusive(true);
    }
    {
        // Not brought within the slider's range, so that a size the size
        // commands set above it still shows as it is.
        const double size = AppearancePreferences::storedFontSize();
        const QSignalBlocker blocker(m_sizeSlider);
        m_sizeSlider->setValue(static_cast<int>(std::trunc(size)));
        m_sizeLabel->setText(QString::number(static_cast<qint64>(std::trunc(size))) + u" pt"_s);
    }
    const DailySettings daily = DailySettings::current();
    {
        const QSignalBlocker weather(m_weather);
        const QSignalBlocker news(m_news);
        const QSignalBlocker headlines(m_headlines);
        m_weather->setChecked(daily.includeWeather);
        m_news->setChecked(daily.includeNews);
        m_headlines->setValue(daily.headlineCount);
        m_headlines->setVisible(daily.includeNews);
    }
    if (m_place->text() != daily.locationName) {
        m_place->setText(daily.locationName);
        rebuildResultRows();
    }
}

void SettingsView::runSearch() {
    const QString query = m_query->text();
    m_searching = true;
    m_searchFailed = false;
    m_results.clear();
    rebuildResultRows();
    showSearchState();

    // One watcher per search: each writes its own result when it ends, so an
    // earlier search that ends late still has the last word.
    auto* watcher = new QFutureWatcher<QList<GeoResult>>(this);
    connect(watcher, &QFutureWatcherBase::finished, this, [this, watcher] {
        const QFuture<QList<GeoResult>> future = watcher->future();
        watcher->deleteLater();
        finishSearch(!future.isCanceled() && future.resultCount() > 0 ? future.result()
                                                                      : QList<GeoResult>());
    });
    watcher->setFuture(m_search(query));
}

void SettingsView::finishSearch(const QList<GeoResult>& results) {
    m_results = results;
    m_searching = false;
    m_searchFailed = results.isEmpty();
    rebuildResultRows();
    showSearchState();
}

void SettingsView::choose(const GeoResult& result) {
    DailySettings::storePlace(result.name, result.latitude, result.longitude);
    m_results.clear();
    m_query->clear();
    m_place->setText(DailySettings::current().locationName);
    rebuildResultRows();
    showSearchState();
    // The chosen row is gone; the keyboard goes on where the next search starts.
    m_query->setFocus();
    changed();
}

void SettingsView::showSearchState() {
    m_searchButton->setEnabled(!isBlank(m_query->text()) && !m_searching);
    m_searchingRow->setVisible(m_searching);
    m_failure->setVisible(m_searchFailed);
}

void SettingsView::rebuildResultRows() {
    for (QAbstractButton* row : std::as_const(m_resultRows))
        delete row;
    m_resultRows.clear();
    QWidget* box = m_query->parentWidget();
    for (const GeoResult& result : std::as_const(m_results)) {
        auto* row = new ResultRow(result, result.name == m_place->text(), box);
        connect(row, &QAbstractButton::clicked, this, [this, result] { choose(result); });
        m_resultLayout->addWidget(row);
        m_resultRows.append(row);
    }
    // Rows made after the box was shown stay hidden until shown themselves.
    if (box->isVisible())
        for (QAbstractButton* row : std::as_const(m_resultRows))
            row->show();
}

void SettingsView::changed() {
    Q_EMIT preferencesChanged();
}

void SettingsView::changeEvent(QEvent* event) {
    // The size commands of the main window write the size while this window
    // is open; coming back to it shows their result.
    if (event->type() == QEvent::ActivationChange && isActiveWindow())
        reload();
    QWidget::changeEvent(event);
}

} // namespace orvik::ui
