#include "markdowneditor.h"

#include "paragraphlayout.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMimeData>
#include <QPainter>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextDocument>

#include <algorithm>

namespace orvik::ui {

using namespace MarkdownHighlighter;

namespace {

constexpr qreal verticalInset = 40;
constexpr int caretWidth = 2;
// Marking blocks dirty one by one costs a layout pass each; past this many,
// one range over all of them is cheaper.
constexpr int dirtyOneByOne = 32;

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

    m_source = sourcePalette();
    m_styleKey = m_style.key();
    m_faces = Faces::of(m_style);
    m_formats.emplace(m_style, m_source);
    m_layout->setBaseSize(m_style.baseSize);
    setFont(m_formats->font(CharStyle{}));
    applyAppearance();
}

MarkdownEditor::~MarkdownEditor() = default;

void MarkdownEditor::setEditorStyle(const Style& style) {
    // Fractions of a point leave the key, and so the look, as it is.
    const bool changed = style.key() != m_styleKey;
    m_style = style;
    if (!changed)
        return;
    m_styleKey = style.key();
    m_faces = Faces::of(style);
    m_formats.emplace(style, m_source);
    m_layout->setBaseSize(style.baseSize);
    setFont(m_formats->font(CharStyle{}));
    applyAppearance();
    restyleAll();
}

void MarkdownEditor::openDocument(const QString& documentID, const QString& text) {
    m_documentID = documentID;
    m_programmatic = true;
    setPlainText(text);
    m_programmatic = false;
    // Undoing into the previous sheet's text would write it into this one.
    document()->clearUndoRedoStacks();
    QTextCursor start(document());
    setTextCursor(start);
    verticalScrollBar()->setValue(0);
}

void MarkdownEditor::replaceText(const QString& text) {
    if (text == m_text)
        return;
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
    QTextCursor cursor(document());
    cursor.setPosition(int(prefix));
    cursor.setPosition(int(m_text.size() - suffix), QTextCursor::KeepAnchor);
    m_programmatic = true;
    cursor.beginEditBlock();
    cursor.insertText(text.mid(prefix, text.size() - prefix - suffix));
    cursor.endEditBlock();
    m_programmatic = false;
    QTextCursor caret(document());
    caret.setPosition(std::min(remembered, int(m_text.size())));
    setTextCursor(caret);
}

QString MarkdownEditor::documentText() const {
    return withNewlines(document()->toRawText());
}

void MarkdownEditor::onContentsChange(int position, int removed, int added) {
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
    if (come > 4096 || (at == 0 && come == newLength)) {
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
    m_text.replace(at, gone, piece);
    const qsizetype delta = come - gone;

    // The fence marks of the edited lines are found anew; all others move along.
    const qsizetype lineStart = lineStartOf(m_text, at);
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
    m_flipped += changedStretches(m_blocks, blocks, at, gone, come);
    m_blocks = std::move(blocks);

    // The edited lines are laid out again right after this anyway: styling
    // them here lets that one layout pass see their formats.
    const QTextBlock last_ = document()->findBlock(int(at + come));
    for (QTextBlock b = document()->findBlock(int(at)); b.isValid(); b = b.next()) {
        styleBlock(b);
        if (b == last_)
            break;
    }
    m_editedFrom = lineStart;
    m_editedTo = last_.isValid() ? last_.position() + last_.length() : regionEnd;
    if (!m_programmatic)
        m_userEditPending = true;
}

void MarkdownEditor::onContentsChanged() {
    if (!m_flipped.isEmpty())
        restyleStretches();
    if (m_userEditPending) {
        m_userEditPending = false;
        Q_EMIT textEdited(m_text);
    }
}

void MarkdownEditor::styleBlock(QTextBlock block) {
    const qsizetype start = block.position();
    const qsizetype textLength = block.length() - 1;
    // With its "\n", so that an empty line still has a paragraph.
    const qsizetype lineLength = std::min<qsizetype>(block.length(), m_text.size() - start);
    const QList<StyledRange> ranges =
        lineRanges(QStringView(m_text).mid(start, lineLength), start, m_blocks, m_faces);
    QList<QTextLayout::FormatRange> formats;
    formats.reserve(ranges.size());
    for (const StyledRange& r : ranges) {
        const qsizetype from = r.start - start;
        const qsizetype to = std::min(r.end() - start, textLength);
        if (to > from)
            formats.append({int(from), int(to - from), m_formats->charFormat(r.style)});
    }
    ParagraphLayout::setRole(block, ranges.isEmpty() ? ParagraphRole::Body
                                                     : ranges.first().style.paragraph);
    block.layout()->setFormats(formats);
}

void MarkdownEditor::restyleStretches() {
    QList<CodeBlock> stretches;
    std::swap(stretches, m_flipped);
    QTextDocument* doc = document();
    int firstDirty = -1;
    int lastDirty = -1;
    QList<QTextBlock> styled;
    for (const CodeBlock& s : stretches) {
        QTextBlock b = doc->findBlock(int(s.start));
        const QTextBlock end = doc->findBlock(int(std::max(s.start, s.end - 1)));
        for (; b.isValid(); b = b.next()) {
            const bool edited = b.position() >= m_editedFrom && b.position() < m_editedTo;
            if (!edited && (styled.isEmpty() || styled.last().position() < b.position())) {
                styleBlock(b);
                styled.append(b);
                if (firstDirty < 0)
                    firstDirty = b.position();
                firstDirty = std::min(firstDirty, b.position());
                lastDirty = std::max(lastDirty, b.position() + b.length());
            }
            if (b == end)
                break;
        }
    }
    if (styled.size() > dirtyOneByOne) {
        doc->markContentsDirty(firstDirty, lastDirty - firstDirty);
        return;
    }
    for (const QTextBlock& b : std::as_const(styled))
        doc->markContentsDirty(b.position(), b.length());
}

void MarkdownEditor::restyleAll() {
    m_marks = fenceMarks(m_text);
    m_blocks = pairFences(m_marks);
    m_flipped.clear();
    QTextDocument* doc = document();
    for (QTextBlock b = doc->begin(); b.isValid(); b = b.next())
        styleBlock(b);
    doc->markContentsDirty(0, doc->characterCount());
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
    QPlainTextEdit::paintEvent(event);
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
    QPlainTextEdit::keyPressEvent(event);
}

void MarkdownEditor::insertFromMimeData(const QMimeData* source) {
    if (!source->hasText()) {
        QPlainTextEdit::insertFromMimeData(source);
        return;
    }
    QString text = source->text();
    text.replace(QChar::LineSeparator, u'\n');
    textCursor().insertText(text);
    ensureCursorVisible();
}

} // namespace orvik::ui
