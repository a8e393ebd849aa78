#include "markdowneditor.h"

#include "paragraphlayout.h"
#include "spelling/spellchecker.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>
#include <QPainter>
#include <QRegularExpression>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QTextBlock>
#include <QTextDocument>

#include <algorithm>

namespace orvik::ui {

using namespace MarkdownHighlighter;

namespace {

constexpr qreal verticalInset = 40;
constexpr int caretWidth = 2;
// Lines styled ahead of the view on either side, so that a little
// scrolling finds them ready: a screen's worth of typical lines.
constexpr int marginLines = 40;
// What one idle turn may spend on pending lines: typing stays fluid.
constexpr qint64 idleBudgetMs = 4;

qsizetype lineStartOf(const QString& text, qsizetype position) {
    return position == 0 ? 0 : text.lastIndexOf(u'\n', position - 1) + 1;
}

// The end of the "\n"-line holding `position`, its "\n" included.
qsizetype lineEndOf(const QString& text, qsizetype position) {
    const qsizetype newline = text.indexOf(u'\n', position);
    return newline < 0 ? text.size() : newline + 1;
}

// Qt lays a line out in time linear in its length, and a run with no blank
// to break it at in quadratic time; the editor lays an edited line out twice
// and styles it too. Offscreen with Qt 6.4, a styled line of 120 Ki units of
// prose paused the window for 400 ms, a run of 16 Ki letters for 350 ms, of
// NUL for 540 ms. At the limits used (16 Ki and 4 Ki) no pause reached 50 ms,
// half the 100 ms a window may freeze.
bool tooLongToLayOut(const QString& text, qsizetype longLine, qsizetype longRun) {
    qsizetype line = 0;
    qsizetype run = 0;
    for (const QChar c : text) {
        if (c == u'\n') {
            line = 0;
            run = 0;
            continue;
        }
        ++line;
        run = c.isSpace() ? 0 : run + 1;
        if (line > longLine || run > longRun)
            return true;
    }
    return false;
}

// Units of one row of a plain view. While a sheet loads, the view lays out
// the rows at its end on every piece: rows of 4096 letters cost 30 to 90 ms
// a piece, rows of 1024 a few.
constexpr qsizetype plainRow = 1024;

// The end of the row of a plain view that starts at `at`: a line of the
// text, or at most `plainRow` units of a longer one, cut after a blank in
// the row's second half where there is one, never between "\r" and "\n"
// nor between surrogates. `cut`: the view breaks there, the text does not.
qsizetype rowEnd(const QString& text, qsizetype at, bool& cut) {
    cut = false;
    const qsizetype limit = std::min(text.size(), at + plainRow);
    const qsizetype newline = QStringView(text).mid(at, limit - at).indexOf(u'\n');
    if (newline >= 0)
        return at + newline + 1;
    if (limit == text.size())
        return limit;
    cut = true;
    const qsizetype half = plainRow / 2;
    const qsizetype blank = QStringView(text).mid(at + half, half).lastIndexOf(u' ');
    if (blank >= 0)
        return at + half + blank + 1;
    const QChar last = text[limit - 1];
    return last == u'\r' || last.isHighSurrogate() ? limit - 1 : limit;
}

// What a plain view shows of the text from `from` to the row end `to`. NUL
// shows as "\uFFFD", which text fonts carry: for NUL itself (and for its
// symbol U+2400) Qt finds no glyph and asks the system's fonts again for
// every one, ten times slower than for a letter.
// `cuts` gains the text positions the view breaks at where the text does not.
QString plainRows(const QString& text, qsizetype from, qsizetype to, QList<qsizetype>& cuts) {
    QString rows;
    rows.reserve(to - from + (to - from) / (plainRow / 2) + 1);
    for (qsizetype at = from; at < to;) {
        bool cut = false;
        const qsizetype end = rowEnd(text, at, cut);
        rows += QStringView(text).mid(at, end - at);
        if (cut) {
            rows += u'\n';
            cuts.append(end);
        }
        at = end;
    }
    rows.replace(QChar(0), QChar(0xFFFD));
    return rows;
}

QString withNewlines(QString text) {
    text.replace(QChar::ParagraphSeparator, u'\n');
    return text;
}

// Whether a block's words have been checked since it was last styled
// without them. Block user data neither enters the undo stack nor signals.
struct SpellMark : QTextBlockUserData {
    bool checked = false;
};

bool isChecked(const QTextBlock& block) {
    const auto* mark = static_cast<SpellMark*>(block.userData());
    return mark && mark->checked;
}

void setChecked(QTextBlock block, bool checked) {
    auto* mark = static_cast<SpellMark*>(block.userData());
    if (!mark) {
        if (!checked)
            return;
        mark = new SpellMark;
        block.setUserData(mark);
    }
    mark->checked = checked;
}

// The text positions from the first of some lines to the end of the last.
struct Lines {
    qsizetype start = -1;
    qsizetype end = -1;

    bool isEmpty() const { return start < 0; }
    void add(const QTextBlock& block) {
        if (start < 0)
            start = block.position();
        end = std::max<qsizetype>(end, block.position() + block.length());
    }
};

// Markup, addresses and code are no German to be judged.
bool isProse(const CharStyle& style) {
    return style.font != FontRole::Monospace && style.color != Palette::Role::Syntax &&
           style.color != Palette::Role::Code;
}

bool opensQuote(QChar before) {
    return before.isSpace() || QStringView(u"([{<\u201E\u201A\u2013\u2014/").contains(before);
}

} // namespace

MarkdownEditor::MarkdownEditor(QWidget* parent) : QPlainTextEdit(parent) {
    auto* document = new QTextDocument(this);
    m_layout = new ParagraphLayout(document);
    document->setDocumentLayout(m_layout);
    // The vertical inset lives in the layout, so that it scrolls with the text.
    document->setDocumentMargin(0);
    m_layout->setVerticalInset(verticalInset);
    setDocument(document);

    setFrameShape(QFrame::NoFrame);
    setLineWrapMode(QPlainTextEdit::WidgetWidth);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // Qt draws the caret inverted, ignoring the palette; ours is painted.
    setCursorWidth(0);
    setAccessibleName(QStringLiteral("Text des Blatts"));

    connect(document, &QTextDocument::contentsChange, this, &MarkdownEditor::onContentsChange);
    connect(document, &QTextDocument::contentsChanged, this, &MarkdownEditor::onContentsChanged);
    connect(this, &QPlainTextEdit::cursorPositionChanged, this, &MarkdownEditor::restartBlink);
    connect(this, &QPlainTextEdit::selectionChanged, this, &MarkdownEditor::restartBlink);
    connect(this, &QPlainTextEdit::cursorPositionChanged, this, [this] {
        const QTextBlock caret = textCursor().block();
        if (isPending(caret.position())) {
            // Its geometry decides where the view scrolls to.
            removePending(caret.position(), caret.position() + caret.length());
            if (styleBlock(caret, false))
                this->document()->markContentsDirty(caret.position(), caret.length());
        }
        // The word being typed is judged once the caret leaves it.
        if (m_typingAt < 0 || textCursor().position() == m_typingAt)
            return;
        const QTextBlock block = this->document()->findBlock(int(m_typingAt));
        m_typingAt = -1;
        if (!m_speller || !block.isValid())
            return;
        if (styleBlock(block, true))
            this->document()->markContentsDirty(block.position(), block.length());
    });

    m_source = sourcePalette();
    m_styleKey = m_style.key();
    m_faces = Faces::of(m_style);
    m_formats.emplace(m_style, m_source);
    m_layout->setBaseSize(m_style.baseSize);
    setFont(m_formats->font(CharStyle{}));
    applyAppearance();
}

MarkdownEditor::~MarkdownEditor() = default;

namespace {
MarkdownEditor::Limits& sharedLimits() {
    static MarkdownEditor::Limits limits;
    return limits;
}
} // namespace

void MarkdownEditor::setDefaultLimits(const Limits& limits) {
    sharedLimits() = limits;
}

MarkdownEditor::Limits MarkdownEditor::defaultLimits() {
    return sharedLimits();
}

void MarkdownEditor::setEditorStyle(const Style& style) {
    // Fractions of a point leave the key, and so the look, as it is.
    const bool changed = style.key() != m_styleKey;
    m_style = style;
    if (!changed)
        return;
    m_styleKey = style.key();
    m_faces = Faces::of(style);
    m_stretch = {-1, -1};
    m_formats.emplace(style, m_source);
    m_layout->setBaseSize(style.baseSize);
    setFont(m_formats->font(CharStyle{}));
    applyAppearance();
    restyleAll();
}

void MarkdownEditor::openDocument(const QString& documentID, const QString& text) {
    m_documentID = documentID;
    stopLoading();
    setPlain(tooLongToLayOut(text, m_limits.longLine, m_limits.longRun));
    if (m_plain)
        m_text = text;
    qsizetype first = text.size();
    if (text.size() > m_limits.loadAtOnce) {
        // Qt's document takes about a second per 10 MB: a huge sheet arrives
        // in pieces, and until the last one is in, no edit may reach the
        // store, which holds the whole text.
        m_incoming = text;
        first = pieceEnd(0);
        m_incomingAt = first;
        m_readOnlyBeforeLoad = isReadOnly();
        setReadOnly(true);
        m_load.start(0, this);
    }
    m_programmatic = true;
    m_cuts.clear();
    setPlainText(m_plain                ? plainRows(text, 0, first, m_cuts)
                 : first == text.size() ? text
                                        : text.left(first));
    m_programmatic = false;
    // The pieces are no steps the user could undo.
    document()->setUndoRedoEnabled(!isLoading());
    // Undoing into the previous sheet's text would write it into this one.
    document()->clearUndoRedoStacks();
    QTextCursor start(document());
    setTextCursor(start);
    verticalScrollBar()->setValue(0);
    if (isLoading())
        Q_EMIT loadingProgress(m_incomingAt, m_incoming.size());
}

qsizetype MarkdownEditor::pieceEnd(qsizetype from) const {
    const qsizetype size = m_incoming.size();
    if (m_plain) {
        // Rows of long lines cost Qt more than text of short lines.
        qsizetype end = from;
        for (bool cut = false; end < size && end - from < m_limits.loadPiece / 4;)
            end = rowEnd(m_incoming, end, cut);
        return end;
    }
    qsizetype end = from + m_limits.loadPiece;
    if (end >= size)
        return size;
    // Whole lines where there are any; a line is never cut between "\r" and
    // "\n", nor a character between its surrogates.
    const qsizetype newline = m_incoming.indexOf(u'\n', end);
    if (newline >= 0 && newline - end < m_limits.loadPiece)
        return newline + 1;
    if (m_incoming[end - 1] == u'\r' || m_incoming[end - 1].isHighSurrogate())
        --end;
    return end;
}

void MarkdownEditor::loadNextPiece() {
    const qsizetype end = pieceEnd(m_incomingAt);
    QTextCursor tail(document());
    tail.movePosition(QTextCursor::End);
    m_programmatic = true;
    tail.insertText(m_plain ? plainRows(m_incoming, m_incomingAt, end, m_cuts)
                            : m_incoming.mid(m_incomingAt, end - m_incomingAt));
    m_programmatic = false;
    m_incomingAt = end;
    const qsizetype total = m_incoming.size();
    if (end >= total)
        stopLoading();
    Q_EMIT loadingProgress(end, total);
}

int MarkdownEditor::viewPosition(qsizetype textPosition) const {
    const auto before = std::upper_bound(m_cuts.begin(), m_cuts.end(), textPosition);
    return int(textPosition + (before - m_cuts.begin()));
}

qsizetype MarkdownEditor::textPosition(int viewPosition) const {
    // The break before the text's position c_i stands at c_i + i in the view.
    qsizetype low = 0;
    qsizetype high = m_cuts.size();
    while (low < high) {
        const qsizetype mid = (low + high) / 2;
        if (m_cuts[mid] + mid < viewPosition)
            low = mid + 1;
        else
            high = mid;
    }
    return viewPosition - low;
}

void MarkdownEditor::setPlain(bool plain) {
    if (plain == m_plain)
        return;
    m_plain = plain;
    // Positions of the one view mean nothing in the other.
    m_text.clear();
    m_marks.clear();
    m_blocks.clear();
    m_pending.clear();
    m_stretch = {-1, -1};
    m_stretchRanges.clear();
    m_idle.stop();
    m_typingAt = -1;
    if (plain) {
        m_readOnlyBeforePlain = isReadOnly();
        setReadOnly(true);
    } else {
        setReadOnly(m_readOnlyBeforePlain);
    }
}

void MarkdownEditor::stopLoading() {
    if (!isLoading())
        return;
    m_load.stop();
    m_incoming = QString();
    m_incomingAt = 0;
    document()->setUndoRedoEnabled(true);
    setReadOnly(m_readOnlyBeforeLoad);
}

void MarkdownEditor::replaceText(const QString& text) {
    if (isLoading()) {
        // Nothing of the loading sheet was edited here: load the new text.
        openDocument(m_documentID, text);
        return;
    }
    if (text == m_text)
        return;
    if (m_plain || tooLongToLayOut(text, m_limits.longLine, m_limits.longRun)) {
        openDocument(m_documentID, text);
        return;
    }
    const int remembered = textCursor().selectionStart();
    // Only the differing middle is replaced: the unchanged lines keep their
    // layout, and the user's undo history stays usable.
    const qsizetype shorter = std::min(text.size(), m_text.size());
    qsizetype prefix = 0;
    while (prefix < shorter && text[prefix] == m_text[prefix])
        ++prefix;
    qsizetype suffix = 0;
    while (suffix < shorter - prefix &&
           text[text.size() - 1 - suffix] == m_text[m_text.size() - 1 - suffix])
        ++suffix;
    if (text.size() - prefix - suffix > m_limits.loadAtOnce) {
        // As slow as opening it: loaded in pieces the same way.
        openDocument(m_documentID, text);
        return;
    }
    // The caret stays on the same text: behind the changed middle it moves
    // with it, inside it it keeps its offset as far as the new middle reaches.
    const qsizetype oldEnd = m_text.size() - suffix;
    const qsizetype newMiddle = text.size() - prefix - suffix;
    qsizetype caretAt = remembered;
    if (caretAt >= oldEnd)
        caretAt += text.size() - m_text.size();
    else if (caretAt > prefix)
        caretAt = std::min(caretAt, prefix + newMiddle);
    QTextCursor cursor(document());
    cursor.setPosition(int(prefix));
    cursor.setPosition(int(oldEnd), QTextCursor::KeepAnchor);
    m_programmatic = true;
    cursor.beginEditBlock();
    cursor.insertText(text.mid(prefix, newMiddle));
    cursor.endEditBlock();
    m_programmatic = false;
    QTextCursor caret(document());
    caret.setPosition(int(std::clamp<qsizetype>(caretAt, 0, m_text.size())));
    setTextCursor(caret);
}

QString MarkdownEditor::documentText() const {
    return withNewlines(document()->toRawText());
}

void MarkdownEditor::onContentsChange(int position, int removed, int added) {
    if (m_plain) {
        // Its rows are no lines of the text, and no edit reaches them.
        Q_EMIT contentChanged();
        return;
    }
    const qsizetype oldLength = m_text.size();
    const qsizetype newLength = document()->characterCount() - 1;
    // Qt counts the document's final separator into some changes; trim it.
    qsizetype at = position;
    qsizetype gone = std::min<qsizetype>(removed, oldLength - at);
    qsizetype come = std::min<qsizetype>(added, newLength - at);
    QString piece;
    if (at < 0 || gone < 0 || come < 0 || newLength - come != oldLength - gone) {
        at = 0;
        gone = oldLength;
        come = newLength;
    }
    if ((come > 4096 && come > newLength / 2) || (at == 0 && come == newLength)) {
        const QString whole = documentText();
        piece = whole.mid(at, come);
    } else {
        QTextCursor cursor(document());
        cursor.setPosition(int(at));
        cursor.setPosition(int(at + come), QTextCursor::KeepAnchor);
        piece = withNewlines(cursor.selectedText());
    }
    // Layout and format changes come through here too, with the text as it was.
    if (gone == come && QStringView(m_text).mid(at, gone) == piece)
        return;
    // Italics may tie the edited lines to lines above and below them, in the
    // text as it was and as it is now.
    const qsizetype lineStart = lineStartOf(m_text, at);
    const CodeBlock reachBefore = italicReach(m_text, lineStart, lineEndOf(m_text, at + gone));
    m_text.replace(at, gone, piece);
    m_stretch = {-1, -1};
    const qsizetype delta = come - gone;
    Q_EMIT contentChanged();

    // The fence marks of the edited lines are found anew; all others move along.
    const qsizetype regionEnd = lineEndOf(m_text, at + come);
    const auto byPosition = [](const FenceMark& m, qsizetype p) { return m.position < p; };
    auto first = std::lower_bound(m_marks.begin(), m_marks.end(), lineStart, byPosition);
    auto last = std::lower_bound(first, m_marks.end(), regionEnd - delta, byPosition);
    const qsizetype firstIndex = first - m_marks.begin();
    m_marks.erase(first, last);
    for (qsizetype i = firstIndex; i < m_marks.size(); ++i) {
        FenceMark& m = m_marks[i];
        m.position += delta;
        m.lineEnd += delta;
        if (m.closeEnd >= 0)
            m.closeEnd += delta;
    }
    const QList<FenceMark> fresh =
        fenceMarks(QStringView(m_text).mid(lineStart, regionEnd - lineStart), lineStart);
    m_marks.insert(firstIndex, fresh.size(), FenceMark{});
    std::copy(fresh.begin(), fresh.end(), m_marks.begin() + firstIndex);

    QList<CodeBlock> blocks = pairFences(m_marks);
    const QList<CodeBlock> flipped = changedStretches(m_blocks, blocks, at, gone, come);
    m_blocks = std::move(blocks);
    movePending(at, gone, come);
    for (const CodeBlock& s : flipped)
        addPending(s.start, s.end);

    // A word still being typed is no misspelling yet.
    m_typingAt = !m_programmatic && gone == 0 && come > 0 && come <= 2 ? at + come : -1;
    const QTextBlock last_ = document()->findBlock(int(at + come));
    const qsizetype editedEnd = last_.isValid() ? last_.position() + last_.length() : regionEnd;
    // The lines italics tie to the edited ones follow: in view at once, the
    // others in idle time.
    const CodeBlock reach = italicReach(m_text, lineStart, editedEnd);
    addPending(std::min(reach.start, reachBefore.start), lineStart);
    addPending(editedEnd, std::max(reach.end, reachBefore.end + delta));
    if (come > m_limits.styleAtOnce) {
        // An opened or pasted sheet: the lines in view are styled once the
        // edit is through, the others in idle time.
        addPending(lineStart, editedEnd);
    } else {
        // The edited lines are laid out again right after this anyway:
        // styling them here lets that one layout pass see their formats.
        // A pasted text is checked as it comes into view instead.
        const bool spellNow = come <= 4096;
        for (QTextBlock b = document()->findBlock(int(at)); b.isValid(); b = b.next()) {
            styleBlock(b, spellNow);
            if (b == last_)
                break;
        }
        removePending(lineStart, editedEnd);
    }
    if (!m_programmatic)
        m_userEditPending = true;
}

void MarkdownEditor::onContentsChanged() {
    if (!m_pending.isEmpty()) {
        styleInView();
        schedulePending();
    }
    if (m_userEditPending) {
        m_userEditPending = false;
        // Half a sheet must never reach the store; a finished load resets
        // the editor's state anyway.
        if (!isLoading())
            Q_EMIT textEdited(m_text);
    }
}

bool MarkdownEditor::styleBlock(QTextBlock block, bool spell) {
    const qsizetype start = block.position();
    // With its "\n", so that an empty line still has a paragraph.
    const qsizetype lineLength = std::min<qsizetype>(block.length(), m_text.size() - start);
    if (start < m_stretch.start || start >= m_stretch.end) {
        m_stretch =
            start < m_text.size() ? styleStretch(m_text, start) : CodeBlock{start, start + 1};
        m_stretchRanges =
            lineRanges(QStringView(m_text).mid(m_stretch.start, m_stretch.end - m_stretch.start),
                       m_stretch.start, m_blocks, m_faces);
    }
    // The line's part of its paragraph's ranges.
    QList<StyledRange> ranges;
    const qsizetype lineEnd = start + lineLength;
    for (auto r = std::partition_point(m_stretchRanges.cbegin(), m_stretchRanges.cend(),
                                       [start](const StyledRange& r) { return r.end() <= start; });
         r != m_stretchRanges.cend() && r->start < lineEnd; ++r) {
        const qsizetype from = std::max(r->start, start);
        ranges.append({from, std::min(r->end(), lineEnd) - from, r->style});
    }
    const qsizetype textLength = block.length() - 1;
    QList<QTextLayout::FormatRange> formats;
    formats.reserve(ranges.size());
    for (const StyledRange& r : ranges) {
        const qsizetype from = r.start - start;
        const qsizetype to = std::min(r.end() - start, textLength);
        if (to > from)
            formats.append({int(from), int(to - from), m_formats->charFormat(r.style)});
    }
    const ParagraphRole role =
        ranges.isEmpty() ? ParagraphRole::Body : ranges.first().style.paragraph;
    spell = spell && m_speller;
    if (spell)
        markSpelling(block, formats, ranges);
    setChecked(block, spell);
    // New formats, even equal ones, drop the line's layout: a line whose
    // look stays is not laid out again.
    if (role == ParagraphLayout::role(block) && formats == block.layout()->formats())
        return false;
    ParagraphLayout::setRole(block, role);
    block.layout()->setFormats(formats);
    return true;
}

void MarkdownEditor::addPending(qsizetype from, qsizetype to) {
    if (to <= from)
        return;
    // Ranges that overlap or touch the new one merge with it.
    auto first = std::partition_point(m_pending.begin(), m_pending.end(),
                                      [from](const CodeBlock& r) { return r.end < from; });
    auto last = std::partition_point(first, m_pending.end(),
                                     [to](const CodeBlock& r) { return r.start <= to; });
    if (first != last) {
        from = std::min(from, first->start);
        to = std::max(to, (last - 1)->end);
    }
    const qsizetype index = first - m_pending.begin();
    m_pending.erase(first, last);
    m_pending.insert(index, CodeBlock{from, to});
}

void MarkdownEditor::removePending(qsizetype from, qsizetype to) {
    if (to <= from || m_pending.isEmpty())
        return;
    QList<CodeBlock> kept;
    kept.reserve(m_pending.size() + 1);
    for (const CodeBlock& r : std::as_const(m_pending)) {
        if (r.end <= from || r.start >= to) {
            kept.append(r);
            continue;
        }
        if (r.start < from)
            kept.append({r.start, from});
        if (r.end > to)
            kept.append({to, r.end});
    }
    m_pending = std::move(kept);
}

void MarkdownEditor::movePending(qsizetype at, qsizetype removed, qsizetype inserted) {
    // Positions inside the replaced text collapse to its place, which lies
    // on an edited line: that one is styled with the edit.
    const auto moved = [&](qsizetype p) {
        return p < at ? p : p >= at + removed ? p - removed + inserted : at;
    };
    QList<CodeBlock> kept;
    kept.reserve(m_pending.size());
    for (const CodeBlock& r : std::as_const(m_pending)) {
        const CodeBlock m{moved(r.start), moved(r.end)};
        if (m.end <= m.start)
            continue;
        if (!kept.isEmpty() && kept.last().end >= m.start)
            kept.last().end = std::max(kept.last().end, m.end);
        else
            kept.append(m);
    }
    m_pending = std::move(kept);
}

bool MarkdownEditor::isPending(qsizetype position) const {
    if (m_pending.isEmpty())
        return false;
    // Whether the line starting at `position` overlaps a pending range; a
    // range may start within a line.
    const QTextBlock block = document()->findBlock(int(position));
    const qsizetype end = block.isValid() ? block.position() + block.length() : position + 1;
    const auto r =
        std::partition_point(m_pending.begin(), m_pending.end(),
                             [position](const CodeBlock& p) { return p.end <= position; });
    return r != m_pending.end() && r->start < end;
}

bool MarkdownEditor::styleInView() {
    if (m_pending.isEmpty())
        return false;
    QTextBlock block = firstVisibleBlock();
    if (!block.isValid())
        return false;
    for (int i = 0; i < marginLines && block.previous().isValid(); ++i)
        block = block.previous();
    // Heights are those of the old styling; the margin below absorbs what
    // restyling changes.
    const qreal bottom = viewport()->height();
    qreal y = contentOffset().y();
    const QTextBlock top = firstVisibleBlock();
    bool reachedTop = false;
    int after = 0;
    Lines styled;
    Lines changed;
    for (; block.isValid() && after < marginLines; block = block.next()) {
        if (block == top)
            reachedTop = true;
        if (isPending(block.position())) {
            styled.add(block);
            if (styleBlock(block, false))
                changed.add(block);
        }
        if (!reachedTop)
            continue;
        if (y > bottom)
            ++after;
        else
            y += m_layout->blockBoundingRect(block).height();
    }
    if (styled.isEmpty())
        return false;
    removePending(styled.start, styled.end);
    if (!changed.isEmpty())
        document()->markContentsDirty(int(changed.start), int(changed.end - changed.start));
    return true;
}

void MarkdownEditor::stylePending(qint64 budgetMs) {
    QElapsedTimer clock;
    clock.start();
    QTextDocument* doc = document();
    Lines changed;
    while (!m_pending.isEmpty()) {
        const CodeBlock range = m_pending.first();
        QTextBlock b = doc->findBlock(int(range.start));
        qsizetype done = range.start;
        for (; b.isValid() && b.position() < range.end; b = b.next()) {
            if (styleBlock(b, false))
                changed.add(b);
            done = b.position() + b.length();
            if (budgetMs >= 0 && clock.elapsed() >= budgetMs)
                break;
        }
        if (!b.isValid() || done >= range.end)
            m_pending.removeFirst();
        else
            m_pending.first().start = done;
        if (budgetMs >= 0 && clock.elapsed() >= budgetMs)
            break;
    }
    if (changed.isEmpty())
        return;
    // Lines in view were styled before they were painted, so these lie out
    // of view: nothing to repaint, only their layouts to renew. One range:
    // marking lines dirty one by one is quadratic in their number.
    const QSignalBlocker quiet(m_layout);
    doc->markContentsDirty(int(changed.start), int(changed.end - changed.start));
}

void MarkdownEditor::schedulePending() {
    if (m_pending.isEmpty())
        m_idle.stop();
    else if (!m_idle.isActive())
        m_idle.start(0, this);
}

void MarkdownEditor::finishStyling() {
    stylePending(-1);
    m_idle.stop();
}

void MarkdownEditor::restyleAll() {
    if (m_plain)
        return;
    m_marks = fenceMarks(m_text);
    m_blocks = pairFences(m_marks);
    m_stretch = {-1, -1};
    m_pending.clear();
    addPending(0, m_text.size() + 1);
    styleInView();
    schedulePending();
    scheduleVisibleCheck();
}

QPalette MarkdownEditor::sourcePalette() const {
    // Our own palette carries the paper and selection colours, which the
    // system palette's colours must not be resolved from.
    return parentWidget() ? parentWidget()->palette() : QApplication::palette();
}

QColor MarkdownEditor::paperColor() const {
    return m_style.palette.color(Palette::Role::Paper, m_source);
}

QColor MarkdownEditor::caretColor() const {
    return m_style.palette.color(Palette::Role::Caret, m_source);
}

QColor MarkdownEditor::selectionColor() const {
    QColor color = m_style.palette.color(Palette::Role::Link, m_source);
    color.setAlphaF(0.25f);
    return color;
}

void MarkdownEditor::applyAppearance() {
    QPalette p = palette();
    for (const auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        p.setColor(group, QPalette::Base, paperColor());
        p.setColor(group, QPalette::Window, paperColor());
        p.setColor(group, QPalette::Highlight, selectionColor());
        // Otherwise selected text turns white and loses its colours.
        p.setBrush(group, QPalette::HighlightedText, QBrush(Qt::NoBrush));
    }
    m_settingPalette = true;
    setPalette(p);
    m_settingPalette = false;
    setTabStopDistance(4 * QFontMetricsF(font()).horizontalAdvance(u' '));
    viewport()->update();
}

void MarkdownEditor::changeEvent(QEvent* event) {
    QPlainTextEdit::changeEvent(event);
    const bool colours =
        event->type() == QEvent::PaletteChange || event->type() == QEvent::ParentChange;
    if (!colours || m_settingPalette || !m_formats)
        return;
    // The desktop or the window switched between light and dark: the system
    // palette's colours follow.
    const QPalette source = sourcePalette();
    if (source == m_source)
        return;
    m_source = source;
    m_formats.emplace(m_style, m_source);
    applyAppearance();
    restyleAll();
}

qreal MarkdownEditor::horizontalInset(qreal contentWidth) {
    return std::max<qreal>(24, (contentWidth - std::min<qreal>(contentWidth - 80, 720)) * 0.5);
}

void MarkdownEditor::updateColumn() {
    const QScrollBar* bar = verticalScrollBar();
    const int width = contentsRect().width() - (bar->isVisible() ? bar->sizeHint().width() : 0);
    const qreal inset = horizontalInset(width);
    if (m_inset >= 0 && std::abs(inset - m_inset) <= 0.5)
        return;
    m_inset = inset;
    // An exact right margin: a symmetric split would alternate by a pixel
    // and relay the text out on every other step.
    const int left = qRound(inset);
    const int column = qRound(width - 2 * inset);
    setViewportMargins(left, 0, std::max(0, width - column - left), 0);
}

void MarkdownEditor::resizeEvent(QResizeEvent* event) {
    updateColumn();
    QPlainTextEdit::resizeEvent(event);
}

void MarkdownEditor::paintEvent(QPaintEvent* event) {
    // Scrolled or jumped to lines that idle time has not reached yet: their
    // new heights may bring further lines into view.
    for (int round = 0; round < 4 && styleInView(); ++round) {
    }
    QPlainTextEdit::paintEvent(event);
    scheduleVisibleCheck();
    if (!hasFocus() || !m_caretVisible || textCursor().hasSelection() || isReadOnly())
        return;
    const QRect r = cursorRect();
    QPainter painter(viewport());
    painter.fillRect(QRect(r.left(), r.top(), caretWidth, r.height()), caretColor());
}

void MarkdownEditor::restartBlink() {
    m_caretVisible = true;
    const int flash = QApplication::cursorFlashTime();
    if (hasFocus() && flash > 0)
        m_blink.start(flash / 2, this);
    else
        m_blink.stop();
    viewport()->update();
}

void MarkdownEditor::timerEvent(QTimerEvent* event) {
    if (event->timerId() == m_idle.timerId()) {
        stylePending(idleBudgetMs);
        schedulePending();
        return;
    }
    if (event->timerId() == m_load.timerId()) {
        loadNextPiece();
        return;
    }
    if (event->timerId() != m_blink.timerId()) {
        QPlainTextEdit::timerEvent(event);
        return;
    }
    m_caretVisible = !m_caretVisible;
    const QRect r = cursorRect();
    viewport()->update(QRect(r.left() - 1, r.top(), caretWidth + 2, r.height()));
}

void MarkdownEditor::focusInEvent(QFocusEvent* event) {
    QPlainTextEdit::focusInEvent(event);
    restartBlink();
}

void MarkdownEditor::focusOutEvent(QFocusEvent* event) {
    QPlainTextEdit::focusOutEvent(event);
    m_blink.stop();
    viewport()->update();
}

void MarkdownEditor::keyPressEvent(QKeyEvent* event) {
    // Shift+Enter would insert U+2028, a line break the file's "\n" lines
    // know nothing of: it starts a new line like Enter.
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (enter && (event->modifiers() & Qt::ShiftModifier)) {
        QKeyEvent plain(event->type(), event->key(), event->modifiers() & ~Qt::ShiftModifier,
                        QStringLiteral("\r"), event->isAutoRepeat(), ushort(event->count()));
        QPlainTextEdit::keyPressEvent(&plain);
        return;
    }
    const QString typed = event->text();
    const bool plain = !(event->modifiers() & ~(Qt::ShiftModifier | Qt::KeypadModifier));
    if (m_substitute && plain && !isReadOnly() &&
        (typed == u"\"" || typed == u"'" || typed == u"-" || typed == u" ")) {
        // Typed as it is first, then replaced in an edit block of its own:
        // one undo brings back exactly what the user typed.
        QPlainTextEdit::keyPressEvent(event);
        substitute(typed);
        return;
    }
    QPlainTextEdit::keyPressEvent(event);
}

bool MarkdownEditor::isInCode(qsizetype position) const {
    for (const CodeBlock& b : m_blocks) {
        if (b.start <= position && position <= b.end)
            return true;
    }
    // A fence still waiting for its closing one opens code all the same.
    const qsizetype pairedEnd = m_blocks.isEmpty() ? -1 : m_blocks.last().end;
    for (const FenceMark& m : m_marks) {
        if (m.position > pairedEnd && m.position <= position)
            return true;
    }
    const qsizetype lineStart = lineStartOf(m_text, position);
    return QStringView(m_text).mid(lineStart, position - lineStart).count(u'`') % 2 == 1;
}

bool MarkdownEditor::substitute(const QString& typed) {
    const QTextCursor caret = textCursor();
    const qsizetype at = caret.position() - 1;
    if (caret.hasSelection() || at < 0 || at >= m_text.size() || m_text[at] != typed[0])
        return false;
    // Most spaces end a word, not " - ": that is settled before looking for code.
    const bool spacedHyphen =
        typed == u" " && at >= 2 && m_text[at - 1] == u'-' && m_text[at - 2] == u' ';
    if ((typed == u" " && !spacedHyphen) || isInCode(at))
        return false;
    const qsizetype lineStart = lineStartOf(m_text, at);
    const QChar before = at > lineStart ? m_text[at - 1] : QChar(u' ');
    const QStringView line = QStringView(m_text).mid(lineStart, at - lineStart);
    qsizetype from = at;
    QString replacement;
    if (typed == u"\"") {
        replacement = opensQuote(before) ? QStringLiteral("\u201E") : QStringLiteral("\u201C");
    } else if (typed == u"'") {
        const bool singleOpen = line.count(u'\u201A') > line.count(u'\u2018');
        const bool inWord =
            before.isLetterOrNumber() && at + 1 < m_text.size() && m_text[at + 1].isLetter();
        if (opensQuote(before))
            replacement = QStringLiteral("\u201A");
        else if (singleOpen && !inWord)
            replacement = QStringLiteral("\u2018");
        else
            replacement = QStringLiteral("\u2019");
    } else if (typed == u" ") {
        // A hyphen after list or quote markers alone is a list item, and in
        // a table's marker row a column: only a hyphen after words is a dash.
        static const QRegularExpression markersOnly(QStringLiteral("^[\\s>*+|:-]*(\\d+[.)])?$"));
        if (markersOnly.match(line.left(line.size() - 2)).hasMatch() || isInCode(at - 1))
            return false;
        from = at - 1;
        replacement = QStringLiteral("\u2013 ");
    } else {
        // "--" at a line start may become a rule or front matter, "<!--" a
        // comment, "|--" a table: only a pair within prose is a dash.
        if (at - 2 < lineStart || m_text[at - 1] != u'-' ||
            QStringView(u"-|!<").contains(m_text[at - 2]) || isInCode(at - 1))
            return false;
        from = at - 1;
        replacement = QStringLiteral("\u2013");
    }
    QTextCursor edit(document());
    edit.setPosition(int(from));
    edit.setPosition(int(at + 1), QTextCursor::KeepAnchor);
    edit.beginEditBlock();
    edit.insertText(replacement);
    edit.endEditBlock();
    return true;
}

void MarkdownEditor::setSpellChecker(spelling::SpellChecker* checker) {
    if (checker == m_speller)
        return;
    if (m_speller)
        disconnect(m_speller, nullptr, this, nullptr);
    m_speller = checker;
    if (m_speller)
        connect(m_speller, &spelling::SpellChecker::wordAdded, this,
                &MarkdownEditor::forgetSpelling);
    restyleAll();
}

void MarkdownEditor::forgetSpelling() {
    for (QTextBlock b = document()->begin(); b.isValid(); b = b.next())
        setChecked(b, false);
    viewport()->update();
}

void MarkdownEditor::markSpelling(const QTextBlock& block, QList<QTextLayout::FormatRange>& formats,
                                  const QList<StyledRange>& ranges) {
    // Input-method pre-edit text shares these formats: leave it alone.
    if (!block.layout()->preeditAreaText().isEmpty())
        return;
    const qsizetype start = block.position();
    const QStringView line = QStringView(m_text).mid(start, block.length() - 1);
    QList<spelling::Word> wrong;
    qsizetype r = 0;
    for (const spelling::Word& w : spelling::words(line)) {
        if (m_typingAt == start + w.end())
            continue;
        while (r < ranges.size() && ranges[r].end() <= start + w.start)
            ++r;
        bool prose = true;
        for (qsizetype i = r; i < ranges.size() && ranges[i].start < start + w.end(); ++i)
            prose = prose && isProse(ranges[i].style);
        if (prose && !m_speller->isCorrect(line.mid(w.start, w.length)))
            wrong.append(w);
    }
    if (wrong.isEmpty())
        return;
    // Cut the styling at the words' ends and add the wave to what lies
    // inside, so that bold, links and headings keep their look.
    QList<int> cuts;
    for (const QTextLayout::FormatRange& f : std::as_const(formats))
        cuts << f.start << f.start + f.length;
    for (const spelling::Word& w : std::as_const(wrong))
        cuts << int(w.start) << int(w.end());
    std::sort(cuts.begin(), cuts.end());
    cuts.erase(std::unique(cuts.begin(), cuts.end()), cuts.end());
    QList<QTextLayout::FormatRange> merged;
    qsizetype f = 0;
    qsizetype w = 0;
    for (qsizetype i = 0; i + 1 < cuts.size(); ++i) {
        const int from = cuts[i];
        while (f < formats.size() && formats[f].start + formats[f].length <= from)
            ++f;
        while (w < wrong.size() && wrong[w].end() <= from)
            ++w;
        const bool styled = f < formats.size() && formats[f].start <= from;
        const bool misspelt = w < wrong.size() && wrong[w].start <= from;
        if (!styled && !misspelt)
            continue;
        QTextCharFormat format = styled ? formats[f].format : QTextCharFormat();
        if (misspelt) {
            format.setUnderlineStyle(QTextCharFormat::SpellCheckUnderline);
            format.setUnderlineColor(QColor(0xd7, 0x26, 0x1e));
        }
        merged.append({from, cuts[i + 1] - from, format});
    }
    formats = std::move(merged);
}

void MarkdownEditor::scheduleVisibleCheck() {
    if (!m_speller || m_visibleCheckQueued || m_plain)
        return;
    m_visibleCheckQueued = true;
    QMetaObject::invokeMethod(this, &MarkdownEditor::checkVisible, Qt::QueuedConnection);
}

void MarkdownEditor::checkVisible() {
    m_visibleCheckQueued = false;
    if (!m_speller || m_plain)
        return;
    const QPointF offset = contentOffset();
    const qreal bottom = viewport()->height();
    Lines changed;
    for (QTextBlock b = firstVisibleBlock(); b.isValid(); b = b.next()) {
        if (blockBoundingGeometry(b).translated(offset).top() > bottom)
            break;
        if (!isChecked(b) && styleBlock(b, true))
            changed.add(b);
    }
    if (!changed.isEmpty())
        document()->markContentsDirty(int(changed.start), int(changed.end - changed.start));
}

QMenu* MarkdownEditor::createContextMenu(int position) {
    QMenu* menu = createStandardContextMenu();
    const QTextBlock block = document()->findBlock(position);
    if (!m_speller || !block.isValid())
        return menu;
    const qsizetype start = block.position();
    const QStringView line = QStringView(m_text).mid(start, block.length() - 1);
    const QList<QTextLayout::FormatRange> formats = block.layout()->formats();
    for (const spelling::Word& w : spelling::words(line)) {
        if (position < start + w.start || position > start + w.end())
            continue;
        // Only what carries the wave: code and markup were never judged.
        const bool marked = std::any_of(formats.begin(), formats.end(), [&](const auto& f) {
            return f.start <= w.start && w.start < f.start + f.length &&
                   f.format.underlineStyle() == QTextCharFormat::SpellCheckUnderline;
        });
        if (!marked)
            break;
        const QString word = line.mid(w.start, w.length).toString();
        QAction* top = menu->actions().value(0);
        const QStringList suggestions = m_speller->suggestions(word).mid(0, 6);
        for (const QString& suggestion : suggestions) {
            QAction* action = new QAction(suggestion, menu);
            connect(action, &QAction::triggered, this, [this, start, w, word, suggestion] {
                // The text may have changed while the menu was open.
                if (isReadOnly() || QStringView(m_text).mid(start + w.start, w.length) != word)
                    return;
                QTextCursor edit(document());
                edit.setPosition(int(start + w.start));
                edit.setPosition(int(start + w.end()), QTextCursor::KeepAnchor);
                edit.insertText(suggestion);
            });
            menu->insertAction(top, action);
        }
        if (suggestions.isEmpty()) {
            QAction* none = new QAction(QStringLiteral("Keine Vorschläge"), menu);
            none->setEnabled(false);
            menu->insertAction(top, none);
        }
        QAction* add = new QAction(QStringLiteral("Zum Wörterbuch hinzufügen"), menu);
        spelling::SpellChecker* speller = m_speller;
        connect(add, &QAction::triggered, speller, [speller, word] { speller->addWord(word); });
        menu->insertAction(top, add);
        menu->insertSeparator(top);
        break;
    }
    return menu;
}

void MarkdownEditor::contextMenuEvent(QContextMenuEvent* event) {
    QMenu* menu = createContextMenu(cursorForPosition(event->pos()).position());
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(event->globalPos());
}

QMimeData* MarkdownEditor::createMimeDataFromSelection() const {
    if (!m_plain)
        return QPlainTextEdit::createMimeDataFromSelection();
    // The text as the file holds it, without the view's own breaks.
    const QTextCursor selection = textCursor();
    const qsizetype from = textPosition(selection.selectionStart());
    auto* data = new QMimeData;
    data->setText(m_text.mid(from, textPosition(selection.selectionEnd()) - from));
    return data;
}

void MarkdownEditor::insertFromMimeData(const QMimeData* source) {
    if (!source->hasText()) {
        QPlainTextEdit::insertFromMimeData(source);
        return;
    }
    QString text = source->text();
    text.replace(QChar::LineSeparator, u'\n');
    const QTextCursor at = textCursor();
    const qsizetype from = lineStartOf(m_text, at.selectionStart());
    const qsizetype to = lineEndOf(m_text, at.selectionEnd());
    const QString lines = m_text.mid(from, at.selectionStart() - from) + text +
                          m_text.mid(at.selectionEnd(), to - at.selectionEnd());
    if (!m_plain && tooLongToLayOut(lines, m_limits.longLine, m_limits.longRun)) {
        // Qt would lay the long line out before anything here could step
        // in: the text goes to the store as it is and comes back plain.
        const QString whole = m_text.left(from) + lines + m_text.mid(to);
        Q_EMIT textEdited(whole);
        openDocument(m_documentID, whole);
        return;
    }
    textCursor().insertText(text);
    ensureCursorVisible();
}

} // namespace orvik::ui
