#pragma once

#include "markdown/highlighter.h"

#include <QPlainTextDocumentLayout>

#include <array>

namespace orvik::ui {

// Gives the plain-text layout the paragraph attributes it otherwise ignores:
// space before and after, first-line and head indents, extra line spacing,
// and an inset above the first and below the last block. A block's paragraph
// role lives in its user state, which neither enters the undo stack nor
// signals a change.
class ParagraphLayout : public QPlainTextDocumentLayout {
    Q_OBJECT
public:
    explicit ParagraphLayout(QTextDocument* document);

    static void setRole(QTextBlock& block, MarkdownHighlighter::ParagraphRole role);
    static MarkdownHighlighter::ParagraphRole role(const QTextBlock& block);

    // Takes effect for each block the next time it is measured; the caller
    // marks the document dirty.
    void setBaseSize(qreal baseSize);
    void setVerticalInset(qreal inset);
    qreal verticalInset() const { return m_inset; }

    QRectF blockBoundingRect(const QTextBlock& block) const override;

private:
    struct Geometry {
        MarkdownHighlighter::ParagraphMetrics metrics;
        qreal top = 0;
        qreal width = 0;
    };
    Geometry geometry(const QTextBlock& block) const;
    bool isLaidOutAs(const QTextLayout& layout, const Geometry& g) const;
    void layOut(const QTextBlock& block, const Geometry& g) const;

    std::array<MarkdownHighlighter::ParagraphMetrics, 5> m_metrics;
    qreal m_inset = 0;
    mutable bool m_sizeNoticePending = false;
};

} // namespace orvik::ui
