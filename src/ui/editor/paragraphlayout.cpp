#include "paragraphlayout.h"

#include <QTextBlock>
#include <QTextDocument>
#include <QTextLayout>

#include <climits>
#include <cmath>

namespace orvik::ui {

using MarkdownHighlighter::ParagraphMetrics;
using MarkdownHighlighter::ParagraphRole;

namespace {

// Qt keeps line geometry in 1/64 px; anything closer than that is ours.
constexpr qreal tolerance = 1.0 / 32;

bool near(qreal a, qreal b) {
    return std::abs(a - b) < tolerance;
}

} // namespace

ParagraphLayout::ParagraphLayout(QTextDocument* document) : QPlainTextDocumentLayout(document) {
    setBaseSize(17);
}

void ParagraphLayout::setRole(QTextBlock& block, ParagraphRole role) {
    block.setUserState(int(role));
}

ParagraphRole ParagraphLayout::role(const QTextBlock& block) {
    const int state = block.userState();
    return state >= 0 && state <= int(ParagraphRole::ListItem) ? ParagraphRole(state)
                                                               : ParagraphRole::Body;
}

void ParagraphLayout::setBaseSize(qreal baseSize) {
    for (int r = 0; r < int(m_metrics.size()); ++r)
        m_metrics[size_t(r)] = MarkdownHighlighter::paragraphMetrics(ParagraphRole(r), baseSize);
}

void ParagraphLayout::setVerticalInset(qreal inset) {
    m_inset = inset;
}

ParagraphLayout::Geometry ParagraphLayout::geometry(const QTextBlock& block) const {
    Geometry g;
    g.metrics = m_metrics[size_t(role(block))];
    g.top = g.metrics.spacingBefore + (block.previous().isValid() ? 0 : m_inset);
    // The text width is private to the base class, but every block it lays
    // out spans it: from the first line's start to its end, whether the base
    // class or these rules placed it (the document margin is held at 0). A
    // new width drops every block's lines, so a neighbour's lines tell it as
    // well where they start at the edge (an indent would round the sum), and
    // a block just edited need not be laid out by the base class first.
    QTextLine first = block.layout()->lineAt(0);
    for (const QTextBlock& b : {block.previous(), block.next()}) {
        if (first.isValid())
            break;
        if (b.isValid() && b.layout()->lineCount() > 0 && b.layout()->lineAt(0).x() == 0)
            first = b.layout()->lineAt(0);
    }
    if (!first.isValid()) {
        ensureBlockLayout(block);
        first = block.layout()->lineAt(0);
    }
    g.width = first.isValid() ? first.x() + first.width() : qreal(INT_MAX);
    return g;
}

// The base class lays blocks out by itself after every edit (and its
// ensureBlockLayout() is not virtual), so a block's lines tell whether they
// were placed by these rules or need placing again.
bool ParagraphLayout::isLaidOutAs(const QTextLayout& layout, const Geometry& g) const {
    const int count = layout.lineCount();
    if (count == 0)
        return false;
    const QTextLine first = layout.lineAt(0);
    const ParagraphMetrics& m = g.metrics;
    if (!near(first.x(), m.firstLineHeadIndent) || !near(first.y(), g.top))
        return false;
    if (count == 1)
        return true;
    const QTextLine second = layout.lineAt(1);
    return near(second.x(), m.headIndent) &&
           near(second.y(), first.y() + first.height() + m.lineSpacing) &&
           near(second.width(), g.width - m.headIndent);
}

void ParagraphLayout::layOut(const QTextBlock& block, const Geometry& g) const {
    QTextLayout* layout = block.layout();
    layout->setTextOption(document()->defaultTextOption());
    const ParagraphMetrics& m = g.metrics;
    qreal y = g.top;
    layout->beginLayout();
    for (bool first = true;; first = false) {
        QTextLine line = layout->createLine();
        if (!line.isValid())
            break;
        const qreal indent = first ? m.firstLineHeadIndent : m.headIndent;
        line.setLeadingIncluded(true);
        line.setLineWidth(qMax<qreal>(1, g.width - indent));
        line.setPosition(QPointF(indent, y));
        y += line.height() + m.lineSpacing;
    }
    layout->endLayout();

    // Indents can change how many lines a block wraps into, and the scroll
    // range counts lines: tell the view once the current query is over.
    if (block.lineCount() != layout->lineCount()) {
        const_cast<QTextBlock&>(block).setLineCount(layout->lineCount());
        if (!m_sizeNoticePending) {
            m_sizeNoticePending = true;
            auto* self = const_cast<ParagraphLayout*>(this);
            QMetaObject::invokeMethod(
                self,
                [self] {
                    self->m_sizeNoticePending = false;
                    Q_EMIT self->documentSizeChanged(self->documentSize());
                },
                Qt::QueuedConnection);
        }
    }
}

QRectF ParagraphLayout::blockBoundingRect(const QTextBlock& block) const {
    if (!block.isValid() || !block.isVisible())
        return {};
    const Geometry g = geometry(block);
    QTextLayout* layout = block.layout();
    if (!isLaidOutAs(*layout, g))
        layOut(block, g);
    const QTextLine last = layout->lineAt(layout->lineCount() - 1);
    qreal bottom = last.y() + last.height() + g.metrics.spacingAfter;
    if (!block.next().isValid())
        bottom += m_inset;
    qreal width = layout->boundingRect().right();
    if (layout->lineCount() == 1)
        width = qMax(width, last.x() + last.naturalTextWidth());
    return QRectF(0, 0, width, bottom);
}

} // namespace orvik::ui
