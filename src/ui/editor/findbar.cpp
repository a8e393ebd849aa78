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
    // down; the count follows once typing pauses.
    m_recount.setSingleShot(true);
    m_recount.setInterval(250);
    connect(&m_recount, &QTimer::timeout, this, [this] {
        if (isVisible())
            showCount();
    });
    connect(m_editor, &MarkdownEditor::textEdited, this, [this] {
        m_stale = true;
        if (isVisible())
            m_recount.start();
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
    // Matching case is exact matching: accents count as well then.
    if (replacing && m_matchCase->isChecked()) {
        for (qsizetype at = text.indexOf(query); at >= 0; at = text.indexOf(query, at + 1))
            m_hits.append({at, at + query.size()});
    } else {
        m_hits = search::findFolded(text, query);
    }
    if (replacing && m_wholeWords->isChecked())
        m_hits.removeIf([&](const search::TextRange& hit) { return !isWholeWord(text, hit); });
    // Exact hits may overlap ("aa" in "aaa"); the bar steps through separate ones.
    qsizetype end = 0;
    m_hits.removeIf([&end](const search::TextRange& hit) {
        if (hit.start < end)
            return true;
        end = hit.end;
        return false;
    });
}

QList<qsizetype> FindBar::hits() const {
    QList<qsizetype> starts;
    starts.reserve(m_hits.size());
    for (const search::TextRange& hit : m_hits)
        starts.append(hit.start);
    return starts;
}

bool FindBar::isWholeWord(const QString& text, const search::TextRange& hit) const {
    const auto wordChar = [](QChar c) { return c.isLetterOrNumber() || c.isMark() || c == u'_'; };
    return (hit.start == 0 || !wordChar(text[hit.start - 1])) &&
           (hit.end >= text.size() || !wordChar(text[hit.end]));
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
    const QList<search::TextRange> hits = m_hits;
    if (!hits.isEmpty()) {
        QTextCursor cursor(m_editor->document());
        cursor.beginEditBlock();
        // From the last hit back, so that the earlier positions still hold.
        for (auto it = hits.crbegin(); it != hits.crend(); ++it) {
            cursor.setPosition(m_editor->viewPosition(it->start));
            cursor.setPosition(m_editor->viewPosition(it->end), QTextCursor::KeepAnchor);
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
    const qsizetype hit = firstHitFrom(start);
    if (hit == m_hits.size() || m_hits[hit].start != start ||
        m_editor->textPosition(cursor.selectionEnd()) != m_hits[hit].end)
        return -1;
    return hit;
}

void FindBar::queryChanged() {
    m_stale = true;
    m_replacedNote.clear();
    recount();
    // Incremental: the first hit from where the current selection starts,
    // so that typing more letters keeps the hit in place when it still fits.
    const qsizetype from = m_editor->textPosition(m_editor->textCursor().selectionStart());
    const qsizetype hit = firstHitFrom(from);
    if (!m_hits.isEmpty())
        select(hit == m_hits.size() ? 0 : hit);
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
        next = firstHitFrom(from);
        if (next == m_hits.size())
            next = 0;
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
        const qsizetype after = firstHitFrom(from);
        previous = after == 0 ? m_hits.size() - 1 : after - 1;
    }
    select(previous);
    showCount();
}

qsizetype FindBar::firstHitFrom(qsizetype position) const {
    const auto it =
        std::lower_bound(m_hits.begin(), m_hits.end(), position,
                         [](const search::TextRange& hit, qsizetype at) { return hit.start < at; });
    return it - m_hits.begin();
}

void FindBar::select(qsizetype hit) {
    QTextCursor cursor(m_editor->document());
    cursor.setPosition(m_editor->viewPosition(m_hits[hit].start));
    cursor.setPosition(m_editor->viewPosition(m_hits[hit].end), QTextCursor::KeepAnchor);
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
    QList<search::TextRange> marked;
    if (isVisible() && !m_stale && !m_hits.isEmpty()) {
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
        const qsizetype longest = m_field->text().size() * 3;
        for (qsizetype hit = firstHitFrom(first - longest);
             hit < m_hits.size() && m_hits[hit].start <= last; ++hit)
            marked.append(m_hits[hit]);
    }
    if (marked.isEmpty() && m_marked.isEmpty())
        return;
    m_marked.clear();
    for (const search::TextRange& hit : std::as_const(marked))
        m_marked.append(hit.start);
    QColor tint = m_editor->selectionColor();
    tint.setAlphaF(0.35f);
    QList<QTextEdit::ExtraSelection> selections;
    selections.reserve(marked.size());
    for (const search::TextRange& hit : std::as_const(marked)) {
        QTextEdit::ExtraSelection mark;
        mark.cursor = QTextCursor(m_editor->document());
        mark.cursor.setPosition(m_editor->viewPosition(hit.start));
        mark.cursor.setPosition(m_editor->viewPosition(hit.end), QTextCursor::KeepAnchor);
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
