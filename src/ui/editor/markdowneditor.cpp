#include "markdowneditor.h"

#include "paragraphlayout.h"
#include "platform/handover.h"
#include "spellcheckdecorator.h"
#include "typography.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>
#include <QPainter>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QTextBlock>
#include <QTextDocument>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>

using namespace Qt::StringLiterals;

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
// An edit this large is read from the whole text, faster than through a
// cursor, and its words are checked as they come into view, not at once.
constexpr qsizetype largeEdit = 4096;
// What one keystroke inserts at most: a surrogate pair.
constexpr qsizetype keystroke = 2;
// From this size on an opened sheet is styled on a worker while the document
// takes it in; below, handing it over costs more than it saves.
constexpr qsizetype styleAsideFrom = 64 * 1024;

qsizetype lineStartOf(const QString& text, qsizetype position) {
    return position == 0 ? 0 : text.lastIndexOf(u'\n', position - 1) + 1;
}

// The end of the "\n"-line holding `position`, its "\n" included.
qsizetype lineEndOf(const QString& text, qsizetype position) {
    const qsizetype newline = text.indexOf(u'\n', position);
    return newline < 0 ? text.size() : newline + 1;
}

QString withNewlines(QString text) {
    text.replace(QChar::ParagraphSeparator, u'\n');
    return text;
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

} // namespace

MarkdownEditor::MarkdownEditor(QWidget* parent) : QPlainTextEdit(parent) {
    newDocument();

    setFrameShape(QFrame::NoFrame);
    setLineWrapMode(QPlainTextEdit::WidgetWidth);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // Qt draws the caret inverted, ignoring the palette; ours is painted.
    setCursorWidth(0);
    setAccessibleName(u"Text des Blatts"_s);
    m_spelling = new SpellCheckDecorator(this);

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
        m_spelling->caretMoved(textCursor().position());
        followCaret();
        // A click does not pull the text away under the pointer; the next
        // key does.
        if (!QApplication::mouseButtons())
            queueCentring();
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

void MarkdownEditor::newDocument() {
    // A child of the editor, not of Qt's text control, which would delete
    // it as soon as another document is shown.
    auto* document = new QTextDocument(this);
    auto* layout = new ParagraphLayout(document);
    document->setDocumentLayout(layout);
    // The vertical inset lives in the layout, so that it scrolls with the text.
    document->setDocumentMargin(0);
    layout->setVerticalInset(verticalInset);
    attach(document, layout);
}

void MarkdownEditor::attach(QTextDocument* document, ParagraphLayout* layout) {
    if (QTextDocument* shown = this->document())
        disconnect(shown, nullptr, this, nullptr);
    m_layout = layout;
    setDocument(document);
    // Focus mode's lit paragraph lies in the document shown.
    m_lit = QTextCursor(document);
    document->setDefaultFont(font());
    setTabStopDistance(4 * QFontMetricsF(font()).horizontalAdvance(u' '));
    if (m_formats) {
        // The look may have changed while the sheet was not shown.
        m_layout->setBaseSize(m_style.baseSize);
        document->markContentsDirty(0, document->characterCount());
    }
    connect(document, &QTextDocument::contentsChange, this, &MarkdownEditor::onContentsChange);
    connect(document, &QTextDocument::contentsChanged, this, &MarkdownEditor::onContentsChanged);
}

// Qt's document takes the history along, at about the memory of the text
// several times over: only so much of it is kept for sheets not shown.
constexpr qsizetype keptBudget = 4 * 1024 * 1024;

bool MarkdownEditor::keepsShownHistory() const {
    // A sheet shown plain or still loading has no history of its own.
    return !m_documentID.isEmpty() && !m_plain && !isLoading() && m_text.size() <= keptBudget &&
           (document()->isUndoAvailable() || document()->isRedoAvailable());
}

std::optional<MarkdownEditor::Kept> MarkdownEditor::takeKept(const QString& documentID,
                                                             const QString& text) {
    const auto found = m_kept.constFind(documentID);
    // Changed elsewhere meanwhile: its steps would undo into a text that is
    // no longer there.
    if (found == m_kept.cend() || found->text != text)
        return std::nullopt;
    Kept kept = *found;
    m_kept.erase(found);
    m_keptOrder.removeOne(documentID);
    return kept;
}

void MarkdownEditor::keep(const QString& documentID, const Kept& kept) {
    if (const auto older = m_kept.constFind(documentID); older != m_kept.cend()) {
        delete older->document;
        m_kept.erase(older);
        m_keptOrder.removeOne(documentID);
    }
    m_kept.insert(documentID, kept);
    m_keptOrder.append(documentID);
    qsizetype total = 0;
    for (const Kept& k : std::as_const(m_kept))
        total += k.text.size();
    while (total > keptBudget && !m_keptOrder.isEmpty()) {
        const Kept oldest = m_kept.take(m_keptOrder.takeFirst());
        total -= oldest.text.size();
        delete oldest.document;
    }
}

void MarkdownEditor::openDocument(const QString& documentID, const QString& text) {
    const std::optional<Kept> restored = takeKept(documentID, text);
    QTextDocument* previous = document();
    // The same sheet opened anew (a reload too large to merge) starts over.
    if (documentID != m_documentID && keepsShownHistory()) {
        keep(m_documentID, {previous, m_layout, m_text});
        previous = nullptr;
    }
    m_documentID = documentID;
    stopLoading();
    if (restored) {
        setPlain(false);
        attach(restored->document, restored->layout);
        // Marks and cursors made for it may still be about until the next turn.
        if (previous)
            previous->deleteLater();
        m_text = restored->text;
        m_userEditPending = false;
        m_spelling->setTypingAt(-1);
        restyleAll();
        Q_EMIT contentChanged();
        setTextCursor(QTextCursor(document()));
        verticalScrollBar()->setValue(0);
        return;
    }
    if (!previous) {
        newDocument();
        // Nothing of the kept sheet is in the new document.
        m_text.clear();
        m_marks.clear();
        m_blocks.clear();
        m_pending.clear();
        m_stretch = {-1, -1};
        m_stretchRanges.clear();
    }
    setPlain(tooLongToLayOut(text, m_limits.longLine, m_limits.longRun));
    if (m_plain)
        m_text = text;
    const QString shown = m_loader.start(text, m_plain, m_limits.loadAtOnce, m_limits.loadPiece);
    if (isLoading()) {
        // Qt's document takes about a second per 10 MB: a huge sheet arrives
        // in pieces, and until the last one is in, no edit may reach the
        // store, which holds the whole text.
        m_readOnlyBeforeLoad = isReadOnly();
        setReadOnly(true);
        m_load.start(0, this);
    }
    m_opening.reset();
    if (!m_plain && !isLoading() && shown.size() >= styleAsideFrom)
        m_opening = Opening{shown, QtConcurrent::run(handedOver([text = shown, faces = m_faces] {
                                return ranges(text, faces);
                            }))};
    m_programmatic = true;
    setPlainText(shown);
    m_programmatic = false;
    m_opening.reset();
    // The pieces are no steps the user could undo.
    document()->setUndoRedoEnabled(!isLoading());
    // Undoing into the previous sheet's text would write it into this one.
    document()->clearUndoRedoStacks();
    QTextCursor start(document());
    setTextCursor(start);
    verticalScrollBar()->setValue(0);
    if (isLoading())
        Q_EMIT loadingProgress(m_loader.loaded(), m_loader.total());
}

void MarkdownEditor::loadNextPiece() {
    QTextCursor tail(document());
    tail.movePosition(QTextCursor::End);
    m_programmatic = true;
    tail.insertText(m_loader.next());
    m_programmatic = false;
    const qsizetype loaded = m_loader.loaded();
    const qsizetype total = m_loader.total();
    if (loaded >= total)
        stopLoading();
    Q_EMIT loadingProgress(loaded, total);
}

int MarkdownEditor::viewPosition(qsizetype textPosition) const {
    return m_loader.viewPosition(textPosition);
}

qsizetype MarkdownEditor::textPosition(int viewPosition) const {
    return m_loader.textPosition(viewPosition);
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
    m_spelling->setTypingAt(-1);
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
    m_loader.stop();
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
    // Qt merges text typed next into an insertion before it while the
    // document counts as modified: one undo would take back both the reload
    // and the words typed after it.
    document()->setModified(false);
    m_programmatic = false;
    QTextCursor caret(document());
    caret.setPosition(int(std::clamp<qsizetype>(caretAt, 0, m_text.size())));
    setTextCursor(caret);
}

QString MarkdownEditor::documentText() const {
    return withNewlines(document()->toRawText());
}

// One change of the text: `removed` units at `at` of the text as it was
// replaced with `inserted` units, `text`.
struct MarkdownEditor::Edit {
    qsizetype at = 0;
    qsizetype removed = 0;
    qsizetype inserted = 0;
    QString text;
};

void MarkdownEditor::onContentsChange(int position, int removed, int added) {
    if (m_plain) {
        // Its rows are no lines of the text, and no edit reaches them.
        Q_EMIT contentChanged();
        return;
    }
    const std::optional<Edit> edit = readEdit(position, removed, added);
    if (!edit)
        return;
    // Italics may tie the edited lines to lines above and below them, in the
    // text as it was and as it is now.
    const qsizetype lineStart = lineStartOf(m_text, edit->at);
    const CodeBlock reachBefore =
        italicReach(m_text, lineStart, lineEndOf(m_text, edit->at + edit->removed));
    m_text.replace(edit->at, edit->removed, edit->text);
    m_stretch = {-1, -1};
    Q_EMIT contentChanged();
    updateFences(*edit, lineStart);
    // A word still being typed is no misspelling yet.
    const bool typing =
        !m_programmatic && edit->removed == 0 && edit->inserted > 0 && edit->inserted <= keystroke;
    m_spelling->setTypingAt(typing ? edit->at + edit->inserted : -1);
    restyleEdited(*edit, lineStart, reachBefore);
    if (!m_programmatic)
        m_userEditPending = true;
}

std::optional<MarkdownEditor::Edit> MarkdownEditor::readEdit(int position, int removed,
                                                             int added) const {
    const qsizetype oldLength = m_text.size();
    const qsizetype newLength = document()->characterCount() - 1;
    // Qt counts the document's final separator into some changes; trim it.
    Edit edit{position,
              std::min<qsizetype>(removed, oldLength - position),
              std::min<qsizetype>(added, newLength - position),
              {}};
    if (edit.at < 0 || edit.removed < 0 || edit.inserted < 0 ||
        newLength - edit.inserted != oldLength - edit.removed)
        edit = {0, oldLength, newLength, {}};
    if ((edit.inserted > largeEdit && edit.inserted > newLength / 2) ||
        (edit.at == 0 && edit.inserted == newLength)) {
        edit.text = documentText().mid(edit.at, edit.inserted);
    } else {
        QTextCursor cursor(document());
        cursor.setPosition(int(edit.at));
        cursor.setPosition(int(edit.at + edit.inserted), QTextCursor::KeepAnchor);
        edit.text = withNewlines(cursor.selectedText());
    }
    // Layout and format changes come through here too, with the text as it was.
    if (edit.removed == edit.inserted &&
        QStringView(m_text).mid(edit.at, edit.removed) == edit.text)
        return std::nullopt;
    return edit;
}

// The fence marks of the edited lines are found anew; all others move along.
void MarkdownEditor::updateFences(const Edit& edit, qsizetype lineStart) {
    const qsizetype delta = edit.inserted - edit.removed;
    const qsizetype regionEnd = lineEndOf(m_text, edit.at + edit.inserted);
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
    const QList<CodeBlock> flipped =
        changedStretches(m_blocks, blocks, edit.at, edit.removed, edit.inserted);
    m_blocks = std::move(blocks);
    movePending(edit.at, edit.removed, edit.inserted);
    for (const CodeBlock& s : flipped)
        addPending(s.start, s.end);
}

void MarkdownEditor::restyleEdited(const Edit& edit, qsizetype lineStart,
                                   const CodeBlock& reachBefore) {
    const QTextBlock last = document()->findBlock(int(edit.at + edit.inserted));
    const qsizetype editedEnd = last.isValid() ? last.position() + last.length()
                                               : lineEndOf(m_text, edit.at + edit.inserted);
    // The lines italics tie to the edited ones follow: in view at once, the
    // others in idle time.
    const CodeBlock reach = italicReach(m_text, lineStart, editedEnd);
    addPending(std::min(reach.start, reachBefore.start), lineStart);
    addPending(editedEnd, std::max(reach.end, reachBefore.end + edit.inserted - edit.removed));
    if (edit.inserted > m_limits.styleAtOnce) {
        // An opened or pasted sheet: the lines in view are styled once the
        // edit is through, the others in idle time.
        addPending(lineStart, editedEnd);
        return;
    }
    // The edited lines are laid out again right after this anyway: styling
    // them here lets that one layout pass see their formats. A pasted text
    // is checked as it comes into view instead.
    const bool spellNow = edit.inserted <= largeEdit;
    for (QTextBlock b = document()->findBlock(int(edit.at)); b.isValid(); b = b.next()) {
        styleBlock(b, spellNow);
        if (b == last)
            break;
    }
    removePending(lineStart, editedEnd);
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
    // Whole paragraphs styled together give what their stretches give. The
    // document may pass through other texts (emptied first) on its way.
    if (m_opening && (start < m_stretch.start || start >= m_stretch.end) &&
        m_opening->text == m_text) {
        m_stretch = {0, m_text.size() + 1};
        m_stretchRanges = m_opening->ranges.result();
        m_opening.reset();
    }
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
    m_spelling->decorate(block, formats, ranges, spell);
    if (m_focusMode && block != textCursor().block())
        dim(formats, int(textLength));
    // New formats, even equal ones, drop the line's layout: a line whose
    // look stays is not laid out again.
    if (role == ParagraphLayout::role(block) && formats == block.layout()->formats())
        return false;
    ParagraphLayout::setRole(block, role);
    block.layout()->setFormats(formats);
    return true;
}

void MarkdownEditor::setFocusMode(bool on) {
    if (on == m_focusMode)
        return;
    m_focusMode = on;
    m_lit = textCursor();
    restyleAll();
}

void MarkdownEditor::followCaret() {
    if (!m_focusMode || m_plain)
        return;
    const QTextBlock left = m_lit.block();
    const QTextBlock entered = textCursor().block();
    m_lit = textCursor();
    if (left == entered)
        return;
    // Each on its own: the two may lie far apart, and everything between
    // would be laid out again.
    for (const QTextBlock& b : {left, entered})
        if (b.isValid() && styleBlock(b, false))
            document()->markContentsDirty(b.position(), b.length());
}

// Colours weaker than the dimmed one (the markup's) stay weaker; every other
// colour, and text without one, takes the dimmed colour.
void MarkdownEditor::dim(QList<QTextLayout::FormatRange>& formats, int length) const {
    const QColor paper = paperColor();
    const auto contrast = [&paper](const QColor& c) {
        const auto luminance = [](qreal r, qreal g, qreal b) {
            return 0.2126 * r + 0.7152 * g + 0.0722 * b;
        };
        const qreal a = c.alphaF();
        return std::abs(luminance(a * c.redF() + (1 - a) * paper.redF(),
                                  a * c.greenF() + (1 - a) * paper.greenF(),
                                  a * c.blueF() + (1 - a) * paper.blueF()) -
                        luminance(paper.redF(), paper.greenF(), paper.blueF()));
    };
    const qreal dimmed = contrast(m_dimmed);
    for (QTextLayout::FormatRange& f : formats)
        if (f.format.hasProperty(QTextFormat::ForegroundBrush) &&
            contrast(f.format.foreground().color()) > dimmed)
            f.format.setForeground(m_dimmed);
    if (length <= 0)
        return;
    QTextCharFormat rest;
    rest.setForeground(m_dimmed);
    formats.prepend({0, length, rest});
}

void MarkdownEditor::setTypewriterMode(bool on) {
    if (on == m_typewriter)
        return;
    m_typewriter = on;
    // Lets the view scroll past the end until the last line reaches the middle.
    setCenterOnScroll(on);
    centreCaret();
}

// Once the edit or the resize is through and the lines are laid out anew.
void MarkdownEditor::queueCentring() {
    if (!m_typewriter || m_centrePending)
        return;
    m_centrePending = true;
    QMetaObject::invokeMethod(this, &MarkdownEditor::centreCaret, Qt::QueuedConnection);
}

void MarkdownEditor::centreCaret() {
    m_centrePending = false;
    if (m_typewriter)
        centerCursor();
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
    m_spelling->scheduleVisibleCheck();
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
    const QColor paper = paperColor();
    const QColor text = m_style.palette.color(Palette::Role::Text, m_source);
    const auto toward = [](float from, float to) { return from + 0.4f * (to - from); };
    m_dimmed =
        QColor::fromRgbF(toward(paper.redF(), text.redF()), toward(paper.greenF(), text.greenF()),
                         toward(paper.blueF(), text.blueF()));
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
    queueCentring();
}

void MarkdownEditor::paintEvent(QPaintEvent* event) {
    // Scrolled or jumped to lines that idle time has not reached yet: their
    // new heights may bring further lines into view.
    for (int round = 0; round < 4 && styleInView(); ++round) {
    }
    QPlainTextEdit::paintEvent(event);
    m_spelling->scheduleVisibleCheck();
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
                        u"\r"_s, event->isAutoRepeat(), ushort(event->count()));
        QPlainTextEdit::keyPressEvent(&plain);
        return;
    }
    const QString typed = event->text();
    const bool plain = !(event->modifiers() & ~(Qt::ShiftModifier | Qt::KeypadModifier));
    if (m_substitute && plain && !isReadOnly() && typography::mayReplace(typed)) {
        // Typed as it is first, then replaced in an edit block of its own:
        // one undo brings back exactly what the user typed.
        QPlainTextEdit::keyPressEvent(event);
        substitute(typed);
    } else {
        QPlainTextEdit::keyPressEvent(event);
    }
    // At once, not with the next turn: the line typed in never shows away
    // from the middle.
    if (m_typewriter)
        centreCaret();
}

void MarkdownEditor::substitute(const QString& typed) {
    const QTextCursor caret = textCursor();
    const qsizetype at = caret.position() - 1;
    if (caret.hasSelection() || at < 0 || at >= m_text.size() || m_text[at] != typed[0])
        return;
    const auto replacement = typography::replacement(m_text, at, m_blocks, m_marks);
    if (!replacement)
        return;
    QTextCursor edit(document());
    edit.setPosition(int(replacement->from));
    edit.setPosition(int(replacement->to), QTextCursor::KeepAnchor);
    edit.beginEditBlock();
    edit.insertText(replacement->text);
    edit.endEditBlock();
}

void MarkdownEditor::setSpellChecker(spelling::SpellChecker* checker) {
    if (checker == m_spelling->checker())
        return;
    m_spelling->setChecker(checker);
    restyleAll();
}

spelling::SpellChecker* MarkdownEditor::spellChecker() const {
    return m_spelling->checker();
}

QMenu* MarkdownEditor::createContextMenu(int position) {
    QMenu* menu = createStandardContextMenu();
    m_spelling->addSuggestions(menu, position);
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
