#include "outlinepanel.h"

#include "markdowneditor.h"

#include <QKeyEvent>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QStyledItemDelegate>
#include <QTextBlock>

using namespace Qt::StringLiterals;

namespace orvik::ui {

namespace {

constexpr int levelRole = Qt::UserRole;
constexpr int indentPerLevel = 14;
constexpr int rowPadding = 8;
// Long enough that a word typed in one go is one reading, short enough that
// the list follows while one looks at it.
constexpr int pauseMs = 300;

// Indents each row by its level, so that the text itself stays the heading's.
class LevelDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
        QStyledItemDelegate::initStyleOption(option, index);
        option->rect.setLeft(option->rect.left() + rowPadding +
                             (index.data(levelRole).toInt() - 1) * indentPerLevel);
    }
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        return QStyledItemDelegate::sizeHint(option, index) + QSize(0, rowPadding);
    }
};

} // namespace

OutlinePanel::OutlinePanel(MarkdownEditor* editor, QWidget* parent)
    : QListWidget(parent), m_editor(editor) {
    setObjectName(u"outline"_s);
    setAccessibleName(u"Gliederung"_s);
    setItemDelegate(new LevelDelegate(this));
    setFrameShape(QFrame::NoFrame);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setTextElideMode(Qt::ElideRight);
    setUniformItemSizes(true);
    setFixedWidth(200);
    setViewportMargins(0, 12, 8, 12);
    setAutoFillBackground(true);

    m_pause.setSingleShot(true);
    m_pause.setInterval(pauseMs);
    connect(&m_pause, &QTimer::timeout, this, &OutlinePanel::refresh);
    // Sent while the document is still changing: the reading comes later anyway.
    connect(editor, &MarkdownEditor::contentChanged, this, [this] {
        if (isVisible())
            m_pause.start();
    });
    connect(editor, &QPlainTextEdit::cursorPositionChanged, this, &OutlinePanel::markCaret);
    connect(this, &QListWidget::itemActivated, this, &OutlinePanel::jump);
    connect(this, &QListWidget::itemClicked, this, &OutlinePanel::jump);
    restyle();
}

void OutlinePanel::refresh() {
    m_pause.stop();
    if (!m_editor)
        return;
    QList<outline::Heading> found = outline::headings(m_editor->text());
    // Typing mostly moves headings without changing them: the rows stay, and
    // with them the list's scrolling and the screen reader's place.
    bool same = found.size() == count();
    for (qsizetype i = 0; same && i < found.size(); ++i)
        same = found[i].text == m_headings[i].text && found[i].level == m_headings[i].level;
    m_headings = std::move(found);
    if (!same) {
        const QSignalBlocker quiet(this);
        clear();
        for (const outline::Heading& h : std::as_const(m_headings)) {
            auto* row = new QListWidgetItem(h.text, this);
            row->setData(levelRole, h.level);
            row->setData(Qt::AccessibleDescriptionRole, u"Ebene %1"_s.arg(h.level));
            row->setToolTip(h.text);
        }
    }
    markCaret();
}

void OutlinePanel::markCaret() {
    if (!m_editor || !isVisible())
        return;
    const qsizetype caret = m_editor->textPosition(m_editor->textCursor().position());
    const int row = int(outline::sectionAt(m_headings, caret));
    if (row == currentRow() && (row < 0 || item(row)->isSelected()))
        return;
    const QSignalBlocker quiet(this);
    if (row < 0) {
        setCurrentRow(-1);
        clearSelection();
    } else {
        setCurrentRow(row);
    }
}

void OutlinePanel::jump(const QListWidgetItem* item) {
    if (!m_editor || !item)
        return;
    if (m_pause.isActive()) {
        // Rows read before the last keys: the heading may have moved since.
        const QString text = item->text();
        const int level = item->data(levelRole).toInt();
        const int index = row(item);
        refresh();
        if (index >= m_headings.size() || m_headings[index].text != text ||
            m_headings[index].level != level)
            return;
    }
    const int index = row(item);
    if (index < 0 || index >= m_headings.size())
        return;
    QTextCursor caret(m_editor->document());
    caret.setPosition(m_editor->viewPosition(m_headings[index].position));
    m_editor->setTextCursor(caret);
    // The scroll bar of a plain-text view counts lines: the heading's first
    // line at the top of the view.
    m_editor->verticalScrollBar()->setValue(caret.block().firstLineNumber());
    m_editor->setFocus(Qt::OtherFocusReason);
}

void OutlinePanel::restyle() {
    if (!m_editor)
        return;
    const auto& style = m_editor->editorStyle();
    const QPalette source = parentWidget() ? parentWidget()->palette() : palette();
    QPalette p = palette();
    for (const auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        const QColor sidebar = style.palette.color(Palette::Role::Sidebar, source);
        // The margins around the rows too.
        p.setColor(group, QPalette::Base, sidebar);
        p.setColor(group, QPalette::Window, sidebar);
        p.setColor(group, QPalette::Text, style.palette.color(Palette::Role::Text, source));
        p.setColor(group, QPalette::Highlight, m_editor->selectionColor());
        p.setColor(group, QPalette::HighlightedText,
                   style.palette.color(Palette::Role::Heading, source));
    }
    setPalette(p);
}

void OutlinePanel::showEvent(QShowEvent* event) {
    QListWidget::showEvent(event);
    // Nothing was read while hidden.
    refresh();
}

void OutlinePanel::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape && m_editor) {
        m_editor->setFocus(Qt::OtherFocusReason);
        return;
    }
    QListWidget::keyPressEvent(event);
}

} // namespace orvik::ui
