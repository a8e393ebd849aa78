#include "sheetlist.h"

#include "library/import.h"
#include "platform/text.h"
#include "safekeeping/trash.h"
#include "services.h"
#include "store/librarystore.h"

#include <QAbstractTextDocumentLayout>
#include <QAction>
#include <QButtonGroup>
#include <QContextMenuEvent>
#include <QDir>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHash>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QMimeData>
#include <QPainter>
#include <QPainterPath>
#include <QSet>
#include <QStyledItemDelegate>
#include <QTextLayout>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <cmath>
#include <memory>

using namespace Qt::StringLiterals;

namespace orvik::ui {

namespace {

// Rows from which a list waits for the window's first paint (holdLongLists()).
constexpr qsizetype longList = 5000;
constexpr int rowInset = 8;    // the inset list's margin around each row
constexpr int rowPadding = 10; // text inside the row
constexpr int rowVertical = 6;
constexpr int lineSpacing = 4;
constexpr int metaSpacing = 6;
const QString dot = u"\u00B7"_s;

QColor withAlpha(QColor colour, qreal alpha) {
    colour.setAlphaF(colour.alphaF() * alpha);
    return colour;
}

double luminance(const QColor& colour) {
    const auto linear = [](float c) {
        return c <= 0.04045f ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
    };
    const QColor rgb = colour.toRgb();
    return 0.2126 * linear(rgb.redF()) + 0.7152 * linear(rgb.greenF()) +
           0.0722 * linear(rgb.blueF());
}

// `ink` moved towards `toward` until it reads on `ground` (4.5 : 1): an
// accent chosen for a light page is often too dark for a dark one.
QColor readableOn(QColor ink, const QColor& ground, const QColor& toward) {
    const double back = luminance(ground);
    for (int step = 0; step < 8; ++step) {
        const double front = luminance(ink);
        if ((std::max(front, back) + 0.05) / (std::min(front, back) + 0.05) >= 4.5)
            break;
        ink = QColor::fromRgbF(ink.redF() + (toward.redF() - ink.redF()) * 0.25f,
                               ink.greenF() + (toward.greenF() - ink.greenF()) * 0.25f,
                               ink.blueF() + (toward.blueF() - ink.blueF()) * 0.25f);
    }
    return ink;
}

QFont titleFont(const QFont& base) {
    QFont font(base);
    font.setFamilies({u"Charis SIL"_s, u"DejaVu Serif"_s, u"serif"_s});
    font.setStyleHint(QFont::Serif);
    font.setPointSizeF(base.pointSizeF() * 1.1);
    font.setWeight(QFont::DemiBold);
    return font;
}

QFont captionFont(const QFont& base, qreal factor = 0.92) {
    QFont font(base);
    font.setPointSizeF(base.pointSizeF() * factor);
    return font;
}

bool showsScopeBar(const QString& searchText) {
    return text::graphemeCount(searchText.trimmed()) >= 2;
}

// Lays out at most `maxLines` lines of `text` in `width`; the last one elided.
QStringList wrapped(const QString& text, const QFont& font, int width, int maxLines) {
    QStringList lines;
    if (width <= 0)
        return {text};
    QTextLayout layout(text, font);
    layout.beginLayout();
    QFontMetrics metrics(font);
    while (true) {
        QTextLine line = layout.createLine();
        if (!line.isValid())
            break;
        line.setLineWidth(width);
        if (lines.size() == maxLines - 1) {
            lines.append(
                metrics.elidedText(text.mid(line.textStart()).simplified(), Qt::ElideRight, width));
            break;
        }
        lines.append(text.mid(line.textStart(), line.textLength()).trimmed());
    }
    layout.endLayout();
    if (lines.isEmpty())
        lines.append(QString());
    return lines;
}

class SheetRowDelegate : public QStyledItemDelegate {
public:
    SheetRowDelegate(const SheetListView* column, QListView* view)
        : QStyledItemDelegate(view), m_column(column), m_view(view) {}

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        const QFont base = option.font;
        const int width = textWidth();
        const int lines = lineCount(index.data(SheetListModel::SecondLineRole).toString(),
                                    captionFont(base), width);
        const int height = QFontMetrics(titleFont(base)).height() + lineSpacing +
                           lines * QFontMetrics(captionFont(base)).lineSpacing() + lineSpacing +
                           QFontMetrics(captionFont(base, 0.85)).height() + 2 * rowVertical;
        return {width + 2 * (rowInset + rowPadding), height + 2};
    }

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        const Palette& palette = m_column->editorStyle().palette;
        const bool themed = palette.overridesChrome;
        const QPalette& qt = option.palette;
        const bool selected = option.state & QStyle::State_Selected;
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        const QRectF row = QRectF(option.rect).adjusted(rowInset, 1, -rowInset, -1);
        if (selected) {
            QPainterPath path;
            path.addRoundedRect(row, 6, 6);
            painter->fillPath(path, themed ? palette.color(Palette::Role::Selection, qt)
                                           : qt.color(QPalette::Highlight));
        }
        // The keyboard's row is outlined also when it is the selected one,
        // which it nearly always is, in a colour that stands out from the
        // selection's fill.
        if (option.state & QStyle::State_HasFocus && m_view->hasFocus()) {
            QPainterPath path;
            path.addRoundedRect(row.adjusted(3, 3, -3, -3), 4, 4);
            const QColor ring = themed     ? palette.color(Palette::Role::Link, qt)
                                : selected ? qt.color(QPalette::HighlightedText)
                                           : qt.color(QPalette::Highlight);
            painter->setPen(QPen(ring, 2));
            painter->drawPath(path);
        }

        // In the plain look a selected row is the desktop's highlight, so its
        // text takes the highlighted text colour to stay readable.
        const bool inverted = selected && !themed;
        const QColor primary = themed     ? palette.color(Palette::Role::Text, qt)
                               : inverted ? qt.color(QPalette::HighlightedText)
                                          : qt.color(QPalette::Text);
        const QColor secondary = themed     ? palette.color(Palette::Role::Quote, qt)
                                 : inverted ? withAlpha(qt.color(QPalette::HighlightedText), 0.85)
                                            : palette.color(Palette::Role::Quote, qt);
        const QColor meta =
            themed ? palette.color(Palette::Role::Syntax, qt) : withAlpha(secondary, 0.7);

        const QFont base = option.font;
        const int left = option.rect.left() + rowInset + rowPadding;
        const int width = option.rect.width() - 2 * (rowInset + rowPadding);
        int y = option.rect.top() + 1 + rowVertical;

        const QFont title = titleFont(base);
        const QFontMetrics titleMetrics(title);
        int titleWidth = width;
        // A conflict copy's mark ends the title line: small, in the accent
        // colour, an outline rather than a fill, so that it stays calm.
        if (const QString mark = index.data(SheetListModel::ConflictMarkRole).toString();
            !mark.isEmpty()) {
            const QFont markFont = captionFont(base, 0.8);
            const QFontMetrics markMetrics(markFont);
            const int markWidth = markMetrics.horizontalAdvance(mark) + 10;
            const int markHeight = markMetrics.height() + 2;
            const QRectF pill(left + width - markWidth,
                              y + (titleMetrics.height() - markHeight) / 2.0, markWidth,
                              markHeight);
            const QColor ground = !selected ? qt.color(QPalette::Base)
                                  : themed  ? palette.color(Palette::Role::Selection, qt)
                                            : qt.color(QPalette::Highlight);
            const QColor accent =
                inverted ? qt.color(QPalette::HighlightedText)
                         : readableOn(palette.color(Palette::Role::Link, qt), ground, primary);
            QPainterPath path;
            path.addRoundedRect(pill.adjusted(0.5, 0.5, -0.5, -0.5), markHeight / 2.0,
                                markHeight / 2.0);
            painter->fillPath(path, withAlpha(accent, 0.12));
            painter->setPen(QPen(withAlpha(accent, 0.7), 1));
            painter->drawPath(path);
            painter->setFont(markFont);
            painter->setPen(accent);
            painter->drawText(pill, Qt::AlignCenter, mark);
            titleWidth = std::max(0, width - markWidth - metaSpacing);
        }
        painter->setFont(title);
        painter->setPen(primary);
        painter->drawText(QRect(left, y, titleWidth, titleMetrics.height()), Qt::AlignLeft,
                          titleMetrics.elidedText(index.data(Qt::DisplayRole).toString(),
                                                  Qt::ElideRight, titleWidth));
        y += titleMetrics.height() + lineSpacing;

        const QFont caption = captionFont(base);
        painter->setFont(caption);
        painter->setPen(secondary);
        const QFontMetrics captionMetrics(caption);
        for (const QString& line :
             wrapped(index.data(SheetListModel::SecondLineRole).toString(), caption, width, 2)) {
            painter->drawText(QRect(left, y, width, captionMetrics.height()), Qt::AlignLeft, line);
            y += captionMetrics.lineSpacing();
        }
        y += lineSpacing;

        const QFont small = captionFont(base, 0.85);
        painter->setFont(small);
        painter->setPen(meta);
        const QFontMetrics smallMetrics(small);
        int x = left;
        const QStringList parts = index.data(SheetListModel::MetaPartsRole).toStringList();
        for (qsizetype i = 0; i < parts.size(); ++i) {
            if (i > 0) {
                painter->drawText(x, y + smallMetrics.ascent(), dot);
                x += smallMetrics.horizontalAdvance(dot) + metaSpacing;
            }
            painter->drawText(x, y + smallMetrics.ascent(), parts[i]);
            x += smallMetrics.horizontalAdvance(parts[i]) + metaSpacing;
        }
        painter->restore();
    }

private:
    int textWidth() const {
        return std::max(40, m_view->viewport()->width() - 2 * (rowInset + rowPadding));
    }

    // Wrapping is the costly part of a row's size; a list rebuilt while a
    // sync tool brings a thousand sheets asks again for every row each time.
    int lineCount(const QString& text, const QFont& font, int width) const {
        if (width != m_linesWidth || font != m_linesFont || m_lines.size() > 20000) {
            m_lines.clear();
            m_linesWidth = width;
            m_linesFont = font;
        }
        auto found = m_lines.constFind(text);
        if (found == m_lines.constEnd())
            found = m_lines.insert(text, int(wrapped(text, font, width, 2).size()));
        return *found;
    }

    const SheetListView* m_column;
    QListView* m_view;
    mutable QHash<QString, int> m_lines;
    mutable int m_linesWidth = -1;
    mutable QFont m_linesFont;
};

// A small turning arc beside "Suche läuft …".
class Spinner : public QWidget {
public:
    explicit Spinner(QWidget* parent) : QWidget(parent) {
        setFixedSize(11, 11);
        m_timer.setInterval(80);
        connect(&m_timer, &QTimer::timeout, this, [this] {
            m_angle = (m_angle + 30) % 360;
            update();
        });
    }

protected:
    void showEvent(QShowEvent*) override { m_timer.start(); }
    void hideEvent(QHideEvent*) override { m_timer.stop(); }
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(
            QPen(palette().color(QPalette::WindowText), 1.5, Qt::SolidLine, Qt::RoundCap));
        painter.drawArc(QRectF(rect()).adjusted(1, 1, -1, -1), -m_angle * 16, 270 * 16);
    }

private:
    QTimer m_timer;
    int m_angle = 0;
};

void setTextColour(QWidget* widget, const QColor& colour) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, colour);
    palette.setColor(QPalette::ButtonText, colour);
    palette.setColor(QPalette::Text, colour);
    widget->setPalette(palette);
}

} // namespace

// --- model -------------------------------------------------------------------

QList<QUrl> draggedSheets(const QMimeData* data) {
    QList<QUrl> urls;
    if (!data || !data->hasFormat(QLatin1String(sheetsMimeType)))
        return urls;
    for (const QByteArray& line : data->data(QLatin1String(sheetsMimeType)).split('\n'))
        if (!line.isEmpty())
            urls.append(QUrl::fromEncoded(line));
    return urls;
}

QStringList droppedFiles(const QMimeData* data) {
    QStringList paths;
    if (!data || data->hasFormat(QLatin1String(sheetsMimeType)))
        return paths;
    for (const QUrl& url : data->urls())
        if (url.isLocalFile() && library::isImportableName(url.fileName()))
            paths.append(url.toLocalFile());
    return paths;
}

void moveSheets(LibraryStore& store, const QList<QUrl>& sheets, const Folder& to) {
    const QUrl open = store.selectedSheetID();
    for (const QUrl& url : sheets)
        if (url != open)
            store.moveSheet(url, to);
    if (sheets.contains(open))
        store.moveSheet(open, to);
}

Qt::ItemFlags SheetListModel::flags(const QModelIndex& index) const {
    return QAbstractListModel::flags(index) |
           (index.isValid() ? Qt::ItemIsDragEnabled : Qt::NoItemFlags);
}

QStringList SheetListModel::mimeTypes() const {
    return {QLatin1String(sheetsMimeType)};
}

QMimeData* SheetListModel::mimeData(const QModelIndexList& indexes) const {
    QByteArray urls;
    for (const QModelIndex& index : indexes)
        if (index.isValid() && index.row() < m_rows.size())
            urls += m_rows[index.row()].url.toEncoded() + '\n';
    auto* data = new QMimeData;
    data->setData(QLatin1String(sheetsMimeType), urls);
    return data;
}

namespace {

// The original a conflict copy was made of, beside it.
QString originalPath(const QString& copy, const library::ConflictName& name) {
    return QFileInfo(copy).dir().filePath(name.originalName);
}

// The sheets in their order, each conflict copy moved right after its
// original when that is listed too; the copies of one original keep their order.
QList<Sheet> besideOriginals(const QList<Sheet>& sheets,
                             QList<std::optional<library::ConflictName>>& conflicts) {
    QList<std::optional<library::ConflictName>> names;
    names.reserve(sheets.size());
    QSet<QString> listed;
    for (const Sheet& sheet : sheets) {
        listed.insert(sheet.path());
        names.append(library::parseConflictName(sheet.url.fileName()));
    }
    QHash<QString, QList<qsizetype>> copiesOf;
    QList<bool> placed(sheets.size(), false);
    for (qsizetype i = 0; i < sheets.size(); ++i) {
        if (!names[i])
            continue;
        const QString original = originalPath(sheets[i].path(), *names[i]);
        if (original != sheets[i].path() && listed.contains(original)) {
            copiesOf[original].append(i);
            placed[i] = true;
        }
    }
    QList<Sheet> rows;
    rows.reserve(sheets.size());
    conflicts.clear();
    conflicts.reserve(sheets.size());
    for (qsizetype i = 0; i < sheets.size(); ++i) {
        if (placed[i])
            continue;
        rows.append(sheets[i]);
        conflicts.append(names[i]);
        for (const qsizetype copy : copiesOf.value(sheets[i].path())) {
            rows.append(sheets[copy]);
            conflicts.append(names[copy]);
        }
    }
    return rows;
}

} // namespace

SheetListModel::SheetListModel(LibraryStore& store, QObject* parent)
    : QAbstractListModel(parent), m_store(store) {
    m_rows = besideOriginals(m_store.visibleSheets(), m_conflicts);
}

int SheetListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(m_rows.size());
}

QStringList SheetListModel::metaParts(const Sheet& sheet, std::optional<int> hitCount) {
    const QLocale german(QLocale::German, QLocale::Germany);
    QStringList parts{german.toString(sheet.modified.toLocalTime(), u"d. MMM yyyy"_s),
                      QString::number(sheet.wordCount) + u" Wörter"_s};
    if (hitCount && *hitCount >= 2)
        parts.append(QString::number(*hitCount) + u" Fundstellen"_s);
    return parts;
}

QString SheetListModel::conflictDescription(const QString& originalTitle,
                                            const library::ConflictName& name) {
    return u"Konflikt: andere Fassung von \u201E"_s + originalTitle + u"\u201C vom "_s +
           QLocale(QLocale::German, QLocale::Germany)
               .toString(name.date, u"d. MMMM yyyy, HH:mm 'Uhr'"_s);
}

QVariant SheetListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= m_rows.size())
        return {};
    const Sheet& sheet = m_rows[index.row()];
    const std::optional<library::ConflictName>& conflict = m_conflicts[index.row()];
    const auto secondLine = [&] { return m_store.snippet(sheet).value_or(sheet.preview); };
    switch (role) {
    case Qt::DisplayRole:
        return sheet.title;
    case Qt::AccessibleTextRole: {
        QStringList parts{sheet.title, secondLine(),
                          metaParts(sheet, m_store.hitCount(sheet)).join(u" · "_s)};
        if (conflict)
            parts.insert(1, u"Konflikt"_s);
        return parts.join(u", "_s);
    }
    case Qt::AccessibleDescriptionRole: {
        if (!conflict)
            return {};
        // A copy usually carries its original's title; the original's own
        // when it is listed, since either may have changed it.
        const int original = rowOf(QUrl::fromLocalFile(originalPath(sheet.path(), *conflict)));
        return conflictDescription(original >= 0 ? m_rows[original].title : sheet.title, *conflict);
    }
    case ConflictMarkRole:
        return conflict ? u"Konflikt"_s : QString();
    case Qt::ToolTipRole:
        return sheet.title;
    case UrlRole:
        return sheet.url;
    case SecondLineRole:
        return secondLine();
    case MetaPartsRole:
        return metaParts(sheet, m_store.hitCount(sheet));
    default:
        return {};
    }
}

int SheetListModel::rowOf(const QUrl& url) const {
    for (qsizetype i = 0; i < m_rows.size(); ++i)
        if (m_rows[i].url == url)
            return int(i);
    return -1;
}

void SheetListModel::refresh() {
    QList<std::optional<library::ConflictName>> conflicts;
    QList<Sheet> rows = besideOriginals(m_store.visibleSheets(), conflicts);
    const bool sameRows = std::equal(rows.begin(), rows.end(), m_rows.begin(), m_rows.end(),
                                     [](const Sheet& a, const Sheet& b) { return a.url == b.url; });
    if (sameRows) {
        m_rows = std::move(rows);
        m_conflicts = std::move(conflicts);
        if (!m_rows.isEmpty())
            Q_EMIT dataChanged(index(0), index(int(m_rows.size()) - 1));
        return;
    }
    beginResetModel();
    m_rows = std::move(rows);
    m_conflicts = std::move(conflicts);
    endResetModel();
}

// --- list --------------------------------------------------------------------

void SheetListWidget::contextMenuEvent(QContextMenuEvent* event) {
    event->accept();
    if (event->reason() == QContextMenuEvent::Keyboard) {
        requestMenuAtCurrentRow();
        return;
    }
    const QModelIndex index = indexAt(viewport()->mapFromGlobal(event->globalPos()));
    if (index.isValid())
        Q_EMIT rowMenuRequested(index, event->globalPos());
}

void SheetListWidget::requestMenuAtCurrentRow() {
    const QModelIndex index = currentIndex();
    if (index.isValid())
        Q_EMIT rowMenuRequested(index, viewport()->mapToGlobal(visualRect(index).center()));
}

void SheetListWidget::dragEnterEvent(QDragEnterEvent* event) {
    if (droppedFiles(event->mimeData()).isEmpty())
        return QListView::dragEnterEvent(event);
    event->setDropAction(Qt::CopyAction);
    event->accept();
}

void SheetListWidget::dragMoveEvent(QDragMoveEvent* event) {
    if (droppedFiles(event->mimeData()).isEmpty())
        return QListView::dragMoveEvent(event);
    event->setDropAction(Qt::CopyAction);
    event->accept();
}

void SheetListWidget::dropEvent(QDropEvent* event) {
    const QStringList files = droppedFiles(event->mimeData());
    if (files.isEmpty())
        return QListView::dropEvent(event);
    // Copied, never moved: the file manager keeps its file.
    event->setDropAction(Qt::CopyAction);
    event->accept();
    Q_EMIT filesDropped(files);
}

void SheetListWidget::keyPressEvent(QKeyEvent* event) {
    const auto modifiers = event->modifiers() & ~Qt::KeypadModifier;
    const int key = event->key();
    // Not every platform turns these keys into a context-menu event; where
    // the windowing system does, its menu is open before the key arrives and
    // takes it, so the row menu never opens twice.
    if ((key == Qt::Key_Menu && modifiers == Qt::NoModifier) ||
        (key == Qt::Key_F10 && modifiers == Qt::ShiftModifier)) {
        event->accept();
        requestMenuAtCurrentRow();
        return;
    }
    const QModelIndexList selected = selectionModel()->selectedIndexes();
    if (key == Qt::Key_Delete && modifiers == Qt::NoModifier && !selected.isEmpty()) {
        event->accept();
        Q_EMIT rowDeleteRequested(selected.first());
        return;
    }
    QListView::keyPressEvent(event);
}

// --- scope bar ---------------------------------------------------------------

SearchScopeBar::SearchScopeBar(QWidget* parent) : QWidget(parent) {
    setObjectName(u"scopeBar"_s);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(12, 8, 12, 8);
    layout->setSpacing(6);

    auto* segments = new QHBoxLayout;
    segments->setSpacing(0);
    auto* group = new QButtonGroup(this);
    const auto segment = [&](const QString& text, SearchScope scope) {
        auto* button = new QToolButton(this);
        button->setText(text);
        button->setAccessibleName(text);
        button->setCheckable(true);
        button->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        button->setFocusPolicy(Qt::StrongFocus);
        group->addButton(button);
        segments->addWidget(button);
        // Toggled, not clicked: a screen reader's toggle action never clicks.
        connect(button, &QToolButton::toggled, this, [this, scope](bool on) {
            if (on && !m_showing)
                Q_EMIT scopeChosen(scope);
        });
        return button;
    };
    m_group = segment(u"Diese Gruppe"_s, SearchScope::Group);
    m_library = segment(u"Ganze Bibliothek"_s, SearchScope::Library);
    layout->addLayout(segments);

    auto* statusRow = new QHBoxLayout;
    statusRow->setSpacing(6);
    m_spinner = new Spinner(this);
    m_spinner->hide();
    m_status = new QLabel(this);
    m_status->setFont(captionFont(font()));
    statusRow->addWidget(m_spinner);
    statusRow->addWidget(m_status);
    statusRow->addStretch(1);
    layout->addLayout(statusRow);
}

QToolButton* SearchScopeBar::button(SearchScope scope) const {
    return scope == SearchScope::Group ? m_group : m_library;
}

void SearchScopeBar::setState(SearchScope scope, bool isSearching, int resultCount,
                              const Palette& palette) {
    m_palette = palette;
    m_showing = true;
    button(scope)->setChecked(true);
    m_showing = false;
    m_spinner->setVisible(isSearching);
    if (isSearching)
        m_status->setText(u"Suche läuft \u2026"_s);
    else if (resultCount == 1)
        m_status->setText(u"1 Blatt gefunden"_s);
    else
        m_status->setText(QString::number(resultCount) + u" Blätter gefunden"_s);
    const QPalette& qt = parentWidget() ? parentWidget()->palette() : QWidget::palette();
    const QColor colour = palette.color(Palette::Role::Quote, qt);
    setTextColour(m_status, colour);
    setTextColour(m_spinner, colour);
    update();
}

QString SearchScopeBar::statusText() const {
    return m_status->text();
}

void SearchScopeBar::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QPalette& qt = palette();
    painter.fillRect(rect(), m_palette.overridesChrome ? m_palette.color(Palette::Role::List, qt)
                                                       : qt.color(QPalette::Base));
    painter.fillRect(QRectF(0, height() - 0.5, width(), 0.5),
                     withAlpha(m_palette.color(Palette::Role::Syntax, qt), 0.3));
}

// --- empty hint --------------------------------------------------------------

EmptyListHint::EmptyListHint(QWidget* parent) : QWidget(parent) {
    setObjectName(u"emptyHint"_s);
    auto* layout = new QVBoxLayout(this);
    layout->setSpacing(10);
    layout->addStretch(1);
    m_icon = new QLabel(this);
    m_icon->setAlignment(Qt::AlignCenter);
    m_title = new QLabel(this);
    m_title->setAlignment(Qt::AlignCenter);
    m_second = new QLabel(this);
    m_second->setAlignment(Qt::AlignCenter);
    m_second->setFont(captionFont(font()));
    m_second->setWordWrap(true);
    layout->addWidget(m_icon);
    layout->addWidget(m_title);
    layout->addWidget(m_second);
    layout->addStretch(1);
}

void EmptyListHint::setState(bool isSearching, bool isTrash, const Palette& palette,
                             bool ownGroup) {
    m_palette = palette;
    QString second;
    if (isSearching) {
        m_symbol = u"magnifyingglass"_s;
        m_title->setText(u"Nichts gefunden"_s);
    } else if (isTrash) {
        m_symbol = u"trash"_s;
        m_title->setText(u"Papierkorb ist leer"_s);
    } else {
        m_symbol = u"doc.text"_s;
        m_title->setText(u"Noch keine Blätter"_s);
        const QKeySequence keys = ownGroup ? QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_N)
                                           : QKeySequence(QKeySequence::New);
        second =
            u"Drücke "_s + keys.toString(QKeySequence::NativeText) + u" für ein neues Blatt."_s;
    }
    m_second->setText(second);
    m_second->setVisible(!second.isEmpty());
    const QPalette& qt = parentWidget() ? parentWidget()->palette() : QWidget::palette();
    const bool themed = palette.overridesChrome;
    const QColor quote = palette.color(Palette::Role::Quote, qt);
    const QColor syntax = palette.color(Palette::Role::Syntax, qt);
    // The icon is drawn in one colour, as a light symbol, not in the theme's own.
    QPixmap pixmap = symbolIcon(m_symbol).pixmap(QSize(30, 30));
    if (!pixmap.isNull()) {
        QPainter tint(&pixmap);
        tint.setCompositionMode(QPainter::CompositionMode_SourceIn);
        tint.fillRect(pixmap.rect(), themed ? syntax : withAlpha(quote, 0.5));
    }
    m_icon->setPixmap(pixmap);
    m_icon->setAccessibleName(m_title->text());
    setTextColour(m_title, quote);
    setTextColour(m_second, themed ? syntax : withAlpha(quote, 0.7));
    update();
}

QString EmptyListHint::title() const {
    return m_title->text();
}

QString EmptyListHint::secondLine() const {
    return m_second->isVisibleTo(this) ? m_second->text() : QString();
}

void EmptyListHint::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QPalette& qt = palette();
    painter.fillRect(rect(), m_palette.overridesChrome ? m_palette.color(Palette::Role::List, qt)
                                                       : qt.color(QPalette::Base));
}

// --- column ------------------------------------------------------------------

SheetListView::SheetListView(LibraryStore& store, QWidget* parent)
    : QWidget(parent), m_store(store) {
    setObjectName(u"sheetList"_s);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    auto* header = new QHBoxLayout;
    header->setContentsMargins(14, 10, 8, 6);
    m_title = new QLabel(this);
    m_title->setObjectName(u"columnTitle"_s);
    QFont titleFont = m_title->font();
    titleFont.setBold(true);
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.15);
    m_title->setFont(titleFont);
    header->addWidget(m_title, 1);
    m_emptyTrash = new QToolButton(this);
    m_emptyTrash->setObjectName(u"emptyTrash"_s);
    m_emptyTrash->setText(u"Papierkorb leeren"_s);
    m_emptyTrash->setAccessibleName(u"Papierkorb leeren"_s);
    m_emptyTrash->setToolTip(u"Löscht alle Blätter im Papierkorb endgültig"_s);
    m_emptyTrash->setAutoRaise(true);
    m_emptyTrash->setFocusPolicy(Qt::StrongFocus);
    header->addWidget(m_emptyTrash);
    layout->addLayout(header);

    m_search = new QLineEdit(this);
    m_search->setObjectName(u"search"_s);
    m_search->setPlaceholderText(u"Im Text aller Blätter suchen"_s);
    m_search->setAccessibleName(u"Im Text aller Blätter suchen"_s);
    m_search->setClearButtonEnabled(true);
    // Qt's buttons inside the field take their names from these texts.
    if (auto* clear = m_search->findChild<QAction*>(u"_q_qlineeditclearaction"_s))
        clear->setText(u"Suche leeren"_s);
    m_search->addAction(symbolIcon(u"magnifyingglass"_s), QLineEdit::LeadingPosition)
        ->setText(u"Suchen"_s);
    auto* searchRow = new QHBoxLayout;
    searchRow->setContentsMargins(10, 0, 10, 8);
    searchRow->addWidget(m_search);
    layout->addLayout(searchRow);

    m_scopeBar = new SearchScopeBar(this);
    layout->addWidget(m_scopeBar);

    auto* area = new QWidget(this);
    auto* stack = new QGridLayout(area);
    stack->setContentsMargins(0, 0, 0, 0);
    m_list = new SheetListWidget(area);
    m_list->setObjectName(u"sheets"_s);
    m_list->setAccessibleName(u"Blätter"_s);
    m_model = new SheetListModel(m_store, this);
    m_list->setModel(m_model);
    m_list->setItemDelegate(new SheetRowDelegate(this, m_list));
    m_list->setFrameShape(QFrame::NoFrame);
    // Several rows go together into a group or the trash.
    m_list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_list->setDragEnabled(true);
    m_list->setDragDropMode(QAbstractItemView::DragOnly);
    // Files from outside come in; the rows themselves are only dragged out.
    m_list->setAcceptDrops(true);
    m_list->setResizeMode(QListView::Adjust);
    m_list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_list->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    m_list->setContextMenuPolicy(Qt::DefaultContextMenu);
    m_hint = new EmptyListHint(area);
    stack->addWidget(m_list, 0, 0);
    stack->addWidget(m_hint, 0, 0);
    layout->addWidget(area, 1);

    connect(m_search, &QLineEdit::textChanged, this, [this](const QString& text) {
        if (!m_syncing)
            m_store.setSearchText(text);
    });
    connect(m_scopeBar, &SearchScopeBar::scopeChosen, this,
            [this](SearchScope scope) { m_store.setSearchScope(scope); });
    connect(m_emptyTrash, &QToolButton::clicked, this, &SheetListView::emptyTrash);
    // The selection, not the current row: assistive technology selects a
    // row without moving the current one, and clicks and arrows select too.
    // Of several selected rows the one just chosen is open in the editor: the
    // keyboard's row, or the one assistive technology added.
    connect(m_list->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this](const QItemSelection& added) {
                const QItemSelectionModel* selection = m_list->selectionModel();
                const QModelIndexList chosen = selection->selectedIndexes();
                if (m_syncing || chosen.isEmpty())
                    return;
                const QModelIndex current = selection->currentIndex();
                QModelIndex open = chosen.first();
                if (added.contains(current) || (added.isEmpty() && selection->isSelected(current)))
                    open = current;
                else if (!added.isEmpty())
                    open = added.indexes().first();
                m_store.setSelectedSheetID(open.data(SheetListModel::UrlRole).toUrl());
            });
    connect(m_list, &SheetListWidget::rowMenuRequested, this,
            [this](const QModelIndex& index, const QPoint& global) {
                QMenu* menu = rowMenu(m_model->sheet(index.row()), this);
                menu->setAttribute(Qt::WA_DeleteOnClose);
                menu->popup(global);
            });
    // Delete does what the row menu's destructive entry does, asking first
    // wherever that entry asks.
    connect(m_list, &SheetListWidget::rowDeleteRequested, this, [this](const QModelIndex& index) {
        std::unique_ptr<QMenu> menu(rowMenu(m_model->sheet(index.row()), this));
        QAction* entry = nullptr;
        for (QAction* action : menu->actions())
            if (action->text() == u"Endgültig löschen" ||
                (!entry && action->text() == u"In den Papierkorb"))
                entry = action;
        if (entry)
            entry->trigger();
    });
    m_search->installEventFilter(this);

    for (const auto signal :
         {&LibraryStore::sheetsChanged, &LibraryStore::searchHitsChanged,
          &LibraryStore::searchTextChanged, &LibraryStore::searchScopeChanged,
          &LibraryStore::isSearchingChanged, &LibraryStore::selectedFolderIDChanged,
          &LibraryStore::foldersChanged})
        connect(&m_store, signal, this, &SheetListView::refresh);
    connect(&m_store, &LibraryStore::selectedSheetIDChanged, this, &SheetListView::showSelection);
    refresh();
}

QString SheetListView::columnTitle() const {
    return m_title->text();
}

QMenu* SheetListView::rowMenu(const Sheet& sheet, QWidget* parent) {
    auto* menu = new QMenu(parent);
    // The selected rows, when the row asked about is one of them.
    QList<Sheet> chosen = selectedSheets();
    if (std::none_of(chosen.cbegin(), chosen.cend(),
                     [&](const Sheet& s) { return s.url == sheet.url; }))
        chosen = {sheet};
    // A library-wide search shows the trash view hits from other groups too:
    // what is offered follows where the sheet lies, not the group shown.
    if (isInTrash(sheet)) {
        chosen.removeIf([this](const Sheet& s) { return !isInTrash(s); });
        menu->addAction(u"Wiederherstellen"_s, this, [this, chosen] {
            for (const Sheet& s : chosen)
                m_store.restore(s);
        });
        menu->addSeparator();
        menu->addAction(u"Endgültig löschen"_s, this, [this, chosen] { deleteForever(chosen); });
    } else {
        // A copy whose original went is an ordinary sheet by now: nothing to compare.
        if (const auto conflict = library::parseConflictName(QFileInfo(sheet.path()).fileName());
            conflict && QFileInfo(originalPath(sheet.path(), *conflict)).isFile()) {
            menu->addAction(u"Vergleichen \u2026"_s, this,
                            [this, sheet] { Q_EMIT compareRequested(sheet.url); });
            menu->addSeparator();
        }
        menu->addAction(u"Im Dateimanager zeigen"_s, this,
                        [sheet] { services().reveal(sheet.path()); });
        QMenu* moveTo = menu->addMenu(u"Verschieben nach"_s);
        const auto shown = m_store.selectedFolder();
        QList<QUrl> urls;
        for (const Sheet& s : std::as_const(chosen))
            urls.append(s.url);
        for (const Folder& group : m_store.folders()) {
            if (group.kind == Folder::Kind::Trash || (shown && group.url == shown->url) ||
                group.path() == QFileInfo(sheet.path()).absolutePath())
                continue;
            moveTo->addAction(group.name, this,
                              [this, urls, group] { moveSheets(m_store, urls, group); });
        }
        moveTo->setEnabled(!moveTo->isEmpty());
        menu->addAction(u"Versionen \u2026"_s, this, [this, sheet] {
            m_store.setSelectedSheetID(sheet.url);
            Q_EMIT versionsRequested();
        });
        menu->addSeparator();
        menu->addAction(u"In den Papierkorb"_s, this, [this, chosen] {
            for (const Sheet& s : chosen)
                m_store.deleteSheet(s);
        });
    }
    return menu;
}

QList<Sheet> SheetListView::selectedSheets() const {
    QModelIndexList rows = m_list->selectionModel()->selectedRows();
    std::sort(rows.begin(), rows.end());
    QList<Sheet> chosen;
    for (const QModelIndex& index : std::as_const(rows))
        chosen.append(m_model->sheet(index.row()));
    return chosen;
}

bool SheetListView::isInTrash(const Sheet& sheet) const {
    return QFileInfo(sheet.path()).absolutePath() ==
           QFileInfo(m_store.trash().path()).absoluteFilePath();
}

void SheetListView::deleteForever(QList<Sheet> sheets) {
    sheets.removeIf([this](const Sheet& s) { return !isInTrash(s); });
    if (sheets.isEmpty())
        return;
    const QString question =
        sheets.size() == 1 ? u"„"_s + sheets.first().title + u"“ endgültig löschen?"_s
                           : QString::number(sheets.size()) + u" Blätter endgültig löschen?"_s;
    if (!services().confirm(this, question, u"Endgültig löschen"_s))
        return;
    // The store's delete of a sheet in the trash is the final one: it writes a
    // waiting save, removes the file for good and drops the row.
    for (const Sheet& sheet : std::as_const(sheets))
        m_store.deleteSheet(sheet);
}

void SheetListView::emptyTrash() {
    const qsizetype count = QDir(m_store.trash().path())
                                .entryList({u"*.md"_s}, QDir::Files | QDir::Hidden | QDir::System)
                                .size();
    if (count == 0)
        return;
    const QString sheets = count == 1 ? u"1 Blatt"_s : QString::number(count) + u" Blätter"_s;
    if (!services().confirm(this, sheets + u" endgültig löschen?"_s, u"Endgültig löschen"_s))
        return;
    m_store.emptyTrash();
}

void SheetListView::setEditorStyle(const MarkdownHighlighter::Style& style) {
    if (style == m_style)
        return;
    m_style = style;
    applyColours();
    refresh();
    m_list->doItemsLayout();
}

void SheetListView::applyColours() {
    const Palette& palette = m_style.palette;
    const QPalette& qt = QWidget::palette();
    QPalette list = m_list->palette();
    list.setColor(QPalette::Base, palette.overridesChrome ? palette.color(Palette::Role::List, qt)
                                                          : qt.color(QPalette::Base));
    m_list->setPalette(list);
    setTextColour(m_title, palette.overridesChrome ? palette.color(Palette::Role::Text, qt)
                                                   : qt.color(QPalette::WindowText));
    update();
}

void SheetListView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QPalette& qt = QWidget::palette();
    painter.fillRect(rect(), m_style.palette.overridesChrome
                                 ? m_style.palette.color(Palette::Role::List, qt)
                                 : qt.color(QPalette::Base));
}

bool SheetListView::eventFilter(QObject* watched, QEvent* event) {
    // Escape leaves the search; with nothing to clear it goes on to the window.
    const bool key = event->type() == QEvent::KeyPress || event->type() == QEvent::ShortcutOverride;
    if (watched == m_search && key && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape &&
        !m_search->text().isEmpty()) {
        // Claimed before any shortcut of the window may take the key.
        event->accept();
        if (event->type() == QEvent::KeyPress)
            m_search->clear();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void SheetListView::refresh() {
    const auto folder = m_store.selectedFolder();
    m_title->setText(folder ? folder->name : u"Blätter"_s);
    m_emptyTrash->setVisible(folder && folder->kind == Folder::Kind::Trash &&
                             !m_store.trash().isEmpty());

    if (m_search->text() != m_store.searchText()) {
        m_syncing = true;
        m_search->setText(m_store.searchText());
        m_syncing = false;
    }
    m_scopeBar->setVisible(showsScopeBar(m_store.searchText()));
    m_scopeBar->setState(m_store.searchScope(), m_store.isSearching(),
                         int(m_store.searchHits().size()), m_style.palette);

    if (m_holdLong && m_model->rowCount() == 0 && m_store.visibleSheets().size() > longList) {
        m_hint->setVisible(false);
        return;
    }
    m_syncing = true;
    m_model->refresh();
    m_syncing = false;
    showSelection();

    const bool empty = m_model->rowCount() == 0;
    m_hint->setVisible(empty);
    if (empty)
        m_hint->setState(!m_store.searchText().isEmpty(), m_store.isViewingTrash(), m_style.palette,
                         folder && folder->kind == Folder::Kind::Custom);
}

void SheetListView::holdLongLists(bool hold) {
    if (std::exchange(m_holdLong, hold) && !hold)
        refresh();
}

void SheetListView::showSelection() {
    m_syncing = true;
    const int row = m_model->rowOf(m_store.selectedSheetID());
    if (row >= 0) {
        const QModelIndex index = m_model->index(row);
        // A row added to several selected ones keeps them selected.
        QItemSelectionModel* selection = m_list->selectionModel();
        selection->setCurrentIndex(index, selection->isSelected(index)
                                              ? QItemSelectionModel::NoUpdate
                                              : QItemSelectionModel::ClearAndSelect);
        m_list->scrollTo(index);
    } else {
        m_list->selectionModel()->clear();
    }
    m_syncing = false;
}

} // namespace orvik::ui
