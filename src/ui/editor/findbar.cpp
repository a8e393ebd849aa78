#include "findbar.h"

#include "markdowneditor.h"

#include <QAction>
#include <QCheckBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTextBlock>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace orvik::ui {

namespace {

QToolButton* button(const QString& text, const QString& name, const QString& tip, QWidget* parent) {
    auto* b = new QToolButton(parent);
    b->setText(text);
    b->setAccessibleName(name);
    b->setToolTip(tip);
    b->setAutoRaise(true);
    b->setFocusPolicy(Qt::TabFocus);
    return b;
}

} // namespace

FindBar::FindBar(MarkdownEditor* editor, QWidget* parent) : QWidget(parent), m_editor(editor) {
    setAccessibleName(QStringLiteral("Suchleiste"));
    auto* rows = new QVBoxLayout(this);
    rows->setContentsMargins(0, 0, 0, 0);
    rows->setSpacing(0);
    auto* row = new QHBoxLayout;
    rows->addLayout(row);
    row->setContentsMargins(12, 4, 12, 4);
    row->setSpacing(6);
    m_field = new QLineEdit(this);
    m_field->setPlaceholderText(QStringLiteral("Im Blatt suchen"));
    m_field->setAccessibleName(QStringLiteral("Im Blatt suchen"));
    m_field->setClearButtonEnabled(true);
    // Qt's button inside the field takes its name from this text.
    if (auto* clear = m_field->findChild<QAction*>(QStringLiteral("_q_qlineeditclearaction")))
        clear->setText(QStringLiteral("Suche leeren"));
    m_field->installEventFilter(this);
    m_count = new QLabel(this);
    m_count->setAccessibleName(QStringLiteral("Treffer"));
    m_count->setMinimumWidth(m_count->fontMetrics().horizontalAdvance(u"999 von 999"_s));
    m_previous = button(QStringLiteral("\u25B2"), QStringLiteral("Vorheriger Treffer"),
                        QStringLiteral("Vorheriger Treffer (Umschalt+F3)"), this);
    m_next = button(QStringLiteral("\u25BC"), QStringLiteral("Nächster Treffer"),
                    QStringLiteral("Nächster Treffer (F3)"), this);
    m_close = button(QStringLiteral("\u2715"), QStringLiteral("Suchleiste schließen"),
                     QStringLiteral("Schließen (Esc)"), this);
    row->addWidget(m_field, 1);
    row->addWidget(m_count);
    row->addWidget(m_previous);
    row->addWidget(m_next);
    row->addWidget(m_close);

    m_replaceRow = new QWidget(this);
    auto* second = new QHBoxLayout(m_replaceRow);
    second->setContentsMargins(12, 0, 12, 4);
    second->setSpacing(6);
    m_replacement = new QLineEdit(m_replaceRow);
    m_replacement->setPlaceholderText(QStringLiteral("Ersetzen durch"));
    m_replacement->setAccessibleName(QStringLiteral("Ersetzen durch"));
    m_replacement->installEventFilter(this);
    m_replace = new QPushButton(QStringLiteral("Ersetzen"), m_replaceRow);
    m_replaceAll = new QPushButton(QStringLiteral("Alle ersetzen"), m_replaceRow);
    m_matchCase = new QCheckBox(QStringLiteral("Groß-/Kleinschreibung beachten"), m_replaceRow);
    m_wholeWords = new QCheckBox(QStringLiteral("Nur ganze Wörter"), m_replaceRow);
    second->addWidget(m_replacement, 1);
    second->addWidget(m_replace);
    second->addWidget(m_replaceAll);
    second->addWidget(m_matchCase);
    second->addWidget(m_wholeWords);
    rows->addWidget(m_replaceRow);
    m_replaceRow->hide();
    // From the query straight to its replacement; hidden ones are skipped.
    QWidget* order[] = {m_field,      m_replacement, m_replace, m_replaceAll, m_matchCase,
                        m_wholeWords, m_previous,    m_next,    m_close};
    for (size_t i = 1; i < std::size(order); ++i)
        setTabOrder(order[i - 1], order[i]);
    connect(m_replace, &QPushButton::clicked, this, &FindBar::replaceCurrent);
    connect(m_replaceAll, &QPushButton::clicked, this, &FindBar::replaceAll);
    for (QCheckBox* box : {m_matchCase, m_wholeWords})
        connect(box, &QCheckBox::toggled, this, &FindBar::queryChanged);

    connect(m_field, &QLineEdit::textChanged, this, &FindBar::queryChanged);
    connect(m_previous, &QToolButton::clicked, this, &FindBar::findPrevious);
    connect(m_next, &QToolButton::clicked, this, &FindBar::findNext);
    connect(m_close, &QToolButton::clicked, this, &FindBar::close);
    // Counting anew on every keystroke in a long sheet would slow typing
    // down; the count is brought up to date when it is next needed.
    connect(m_editor, &MarkdownEditor::textEdited, this, [this] {
        m_stale = true;
        if (isVisible())
            showCount();
    });
    // Another sheet, a reload or a loaded piece: count and mark anew once
    // the document has settled.
    connect(m_editor, &MarkdownEditor::contentChanged, this, [this] {
        m_stale = true;
        if (isVisible() && !m_refreshQueued) {
            m_refreshQueued = true;
            QTimer::singleShot(0, this, [this] {
                m_refreshQueued = false;
                if (isVisible())
                    showCount();
            });
        }
    });
    // Only the hits in view are marked, so scrolling brings the next ones.
    connect(m_editor->verticalScrollBar(), &QScrollBar::valueChanged, this, [this] {
        if (isVisible())
            markHits();
    });
    hide();
}

bool FindBar::replacing() const {
    return !m_replaceRow->isHidden();
}

void FindBar::showRow(bool replacing) {
    if (replacing == this->replacing())
        return;
    m_replaceRow->setVisible(replacing);
    m_stale = true;
}

void FindBar::open() {
    showRow(false);
    reveal();
}

void FindBar::openForReplacing() {
    showRow(true);
    reveal();
}

void FindBar::reveal() {
    const QTextCursor cursor = m_editor->textCursor();
    const QString selected = cursor.selectedText();
    if (!selected.isEmpty() && !selected.contains(QChar::ParagraphSeparator)) {
        m_field->blockSignals(true);
        m_field->setText(selected);
        m_field->blockSignals(false);
        m_stale = true;
    }
    m_replacedNote.clear();
    show();
    m_field->setFocus(Qt::ShortcutFocusReason);
    m_field->selectAll();
    showCount();
}

void FindBar::close() {
    hide();
    showRow(false);
    markHits();
    m_editor->setFocus(Qt::OtherFocusReason);
}

void FindBar::recount() {
    if (!m_stale)
        return;
    m_stale = false;
    m_hits.clear();
    const QString query = m_field->text();
    if (query.isEmpty())
        return;
    const QString& text = m_editor->text();
    const bool replacing = this->replacing();
    const Qt::CaseSensitivity cs =
        replacing && m_matchCase->isChecked() ? Qt::CaseSensitive : Qt::CaseInsensitive;
    const bool whole = replacing && m_wholeWords->isChecked();
    for (qsizetype at = text.indexOf(query, 0, cs); at >= 0;
         at = text.indexOf(query, at + (whole ? 1 : query.size()), cs)) {
        if (!whole) {
            m_hits.append(at);
        } else if (isWholeWord(text, at, query.size())) {
            m_hits.append(at);
            at += query.size() - 1;
        }
    }
}

bool FindBar::isWholeWord(const QString& text, qsizetype at, qsizetype length) const {
    const auto wordChar = [](QChar c) { return c.isLetterOrNumber() || c.isMark() || c == u'_'; };
    return (at == 0 || !wordChar(text[at - 1])) &&
           (at + length >= text.size() || !wordChar(text[at + length]));
}

void FindBar::replaceCurrent() {
    if (m_editor->isReadOnly())
        return;
    if (currentHit() < 0) {
        findNext();
        return;
    }
    QTextCursor cursor = m_editor->textCursor();
    cursor.insertText(m_replacement->text());
    m_editor->setTextCursor(cursor);
    m_stale = true;
    findNext();
}

void FindBar::replaceAll() {
    if (m_editor->isReadOnly())
        return;
    recount();
    const qsizetype length = m_field->text().size();
    const QList<qsizetype> hits = m_hits;
    if (!hits.isEmpty()) {
        QTextCursor cursor(m_editor->document());
        cursor.beginEditBlock();
        // From the last hit back, so that the earlier positions still hold.
        for (auto it = hits.crbegin(); it != hits.crend(); ++it) {
            cursor.setPosition(m_editor->viewPosition(*it));
            cursor.setPosition(m_editor->viewPosition(*it + length), QTextCursor::KeepAnchor);
            cursor.insertText(m_replacement->text());
        }
        cursor.endEditBlock();
        m_editor->setTextCursor(cursor);
    }
    m_stale = true;
    m_replacedNote = hits.isEmpty() ? QString() : QStringLiteral("%1 ersetzt").arg(hits.size());
    showCount();
}

qsizetype FindBar::currentHit() const {
    const QTextCursor cursor = m_editor->textCursor();
    if (!cursor.hasSelection() || m_stale)
        return -1;
    const qsizetype start = m_editor->textPosition(cursor.selectionStart());
    const auto it = std::lower_bound(m_hits.begin(), m_hits.end(), start);
    if (it == m_hits.end() || *it != start ||
        m_editor->textPosition(cursor.selectionEnd()) - start != m_field->text().size())
        return -1;
    return it - m_hits.begin();
}

void FindBar::queryChanged() {
    m_stale = true;
    m_replacedNote.clear();
    recount();
    // Incremental: the first hit from where the current selection starts,
    // so that typing more letters keeps the hit in place when it still fits.
    const qsizetype from = m_editor->textPosition(m_editor->textCursor().selectionStart());
    const auto it = std::lower_bound(m_hits.begin(), m_hits.end(), from);
    if (!m_hits.isEmpty())
        select(it == m_hits.end() ? 0 : it - m_hits.begin());
    showCount();
}

void FindBar::findNext() {
    m_replacedNote.clear();
    recount();
    if (m_hits.isEmpty()) {
        showCount();
        return;
    }
    const qsizetype from = m_editor->textPosition(m_editor->textCursor().selectionEnd());
    const qsizetype current = currentHit();
    qsizetype next = 0;
    if (current >= 0) {
        next = (current + 1) % m_hits.size();
    } else {
        const auto it = std::lower_bound(m_hits.begin(), m_hits.end(), from);
        next = it == m_hits.end() ? 0 : it - m_hits.begin();
    }
    select(next);
    showCount();
}

void FindBar::findPrevious() {
    m_replacedNote.clear();
    recount();
    if (m_hits.isEmpty()) {
        showCount();
        return;
    }
    const qsizetype from = m_editor->textPosition(m_editor->textCursor().selectionStart());
    const qsizetype current = currentHit();
    qsizetype previous = 0;
    if (current >= 0) {
        previous = (current + m_hits.size() - 1) % m_hits.size();
    } else {
        const auto it = std::lower_bound(m_hits.begin(), m_hits.end(), from);
        previous = it == m_hits.begin() ? m_hits.size() - 1 : (it - m_hits.begin()) - 1;
    }
    select(previous);
    showCount();
}

void FindBar::select(qsizetype hit) {
    QTextCursor cursor(m_editor->document());
    cursor.setPosition(m_editor->viewPosition(m_hits[hit]));
    cursor.setPosition(m_editor->viewPosition(m_hits[hit] + m_field->text().size()),
                       QTextCursor::KeepAnchor);
    m_editor->setTextCursor(cursor);
    m_editor->ensureCursorVisible();
}

void FindBar::showCount() {
    recount();
    const qsizetype current = currentHit();
    QString text;
    if (!m_replacedNote.isEmpty())
        text = m_replacedNote;
    else if (m_field->text().isEmpty())
        text.clear();
    else if (m_hits.isEmpty())
        text = QStringLiteral("Keine Treffer");
    else if (current >= 0)
        text = QStringLiteral("%1 von %2").arg(current + 1).arg(m_hits.size());
    else
        text = m_hits.size() == 1 ? QStringLiteral("1 Treffer")
                                  : QStringLiteral("%1 Treffer").arg(m_hits.size());
    m_count->setText(text);
    m_previous->setEnabled(!m_hits.isEmpty());
    m_next->setEnabled(!m_hits.isEmpty());
    // Not disabled for want of hits: the button with the keyboard would hand
    // it on to the next control, where the writer's next key lands.
    m_replace->setEnabled(!m_editor->isReadOnly());
    m_replaceAll->setEnabled(!m_editor->isReadOnly());
    markHits();
}

QList<qsizetype> FindBar::markedHits() const {
    return m_marked;
}

void FindBar::markHits() {
    QList<qsizetype> marked;
    const qsizetype length = m_field->text().size();
    if (isVisible() && length > 0 && !m_stale && !m_hits.isEmpty()) {
        // As many lines above and below the view as it shows, so that a
        // short scroll shows marked hits at once.
        const QRect view = m_editor->viewport()->rect();
        QTextBlock top = m_editor->cursorForPosition(view.topLeft()).block();
        QTextBlock bottom = m_editor->cursorForPosition(view.bottomRight()).block();
        const int shown = bottom.blockNumber() - top.blockNumber() + 1;
        for (int i = 0; i < shown && top.previous().isValid(); ++i)
            top = top.previous();
        for (int i = 0; i < shown && bottom.next().isValid(); ++i)
            bottom = bottom.next();
        const qsizetype first = m_editor->textPosition(top.position());
        const qsizetype last = m_editor->textPosition(bottom.position() + bottom.length());
        for (auto it = std::lower_bound(m_hits.begin(), m_hits.end(), first - length);
             it != m_hits.end() && *it <= last; ++it)
            marked.append(*it);
    }
    if (marked.isEmpty() && m_marked.isEmpty())
        return;
    m_marked = marked;
    QColor tint = m_editor->selectionColor();
    tint.setAlphaF(0.35f);
    QList<QTextEdit::ExtraSelection> selections;
    selections.reserve(marked.size());
    for (qsizetype at : std::as_const(marked)) {
        QTextEdit::ExtraSelection mark;
        mark.cursor = QTextCursor(m_editor->document());
        mark.cursor.setPosition(m_editor->viewPosition(at));
        mark.cursor.setPosition(m_editor->viewPosition(at + length), QTextCursor::KeepAnchor);
        mark.format.setBackground(tint);
        selections.append(mark);
    }
    m_editor->setExtraSelections(selections);
}

void FindBar::keyPressEvent(QKeyEvent* event) {
    // Escape from any of the bar's controls, not only from its fields.
    if (event->key() == Qt::Key_Escape) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}

bool FindBar::eventFilter(QObject* watched, QEvent* event) {
    if ((watched == m_field || watched == m_replacement) && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Escape) {
            close();
            return true;
        }
        if (watched == m_replacement &&
            (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter)) {
            replaceCurrent();
            return true;
        }
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            if (key->modifiers() & Qt::ShiftModifier)
                findPrevious();
            else
                findNext();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace orvik::ui
