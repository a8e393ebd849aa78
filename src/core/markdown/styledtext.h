#pragma once

#include <QColor>
#include <QList>
#include <QString>
#include <QTextBlock>
#include <QTextCharFormat>
#include <QTextFrame>

#include <variant>

class QTextDocument;
class QTextTable;

// What the DOCX and RTF writers read from a styled document, in the units and
// forms both file formats share.
namespace orvik::styledtext {

// Block properties of a bar left of the paragraph (a block quote's): its width
// and the gap between bar and text in pixels, and its colour. The text starts
// at the block's left margin, the bar ends `LeftBarGap` before it.
inline constexpr int LeftBarWidth = QTextFormat::UserProperty + 1;
inline constexpr int LeftBarGap = QTextFormat::UserProperty + 2;
inline constexpr int LeftBarColor = QTextFormat::UserProperty + 3;

// Document pixels (96 dpi) to twentieths of a point.
int twips(qreal px);

// A paragraph or a table, in document order.
using Item = std::variant<QTextBlock, QTextTable*>;
// The paragraphs and tables from `begin` to `end` (the document's root frame or
// a table cell). Other frames, and tables unless `withTables`, are flattened
// into their paragraphs.
QList<Item> items(QTextFrame::iterator begin, const QTextFrame::iterator& end, bool withTables);

// A piece of a paragraph with one format; consecutive fragments of one link
// share `href`.
struct Run {
    QString text;
    QTextCharFormat format;
    QString href;
};
QList<Run> runs(const QTextBlock& block);

// Text without the characters a file cannot carry (controls, lone surrogates,
// noncharacters U+FFFE/U+FFFF); tabs and U+2028 line separators stay.
QString cleaned(QStringView text);

// Link targets as ASCII: spaces, quotes and non-ASCII percent-encoded.
QString linkTarget(const QString& href);

// The format's resolved properties, with the document's defaults where unset.
QString family(const QTextCharFormat& format, const QTextDocument& doc);
qreal pointSize(const QTextCharFormat& format, const QTextDocument& doc);
bool isBold(const QTextCharFormat& format);
// Invalid when the format sets no colour.
QColor foreground(const QTextCharFormat& format);
QColor background(const QTextFormat& format);

// The table at list[index]; null for a paragraph or an index outside the list.
QTextTable* tableAt(const QList<Item>& list, qsizetype index);

// Whether list[index] is one of the empty paragraphs Qt keeps around a table
// (after every table, and before one that opens the document), which its
// layout does not show.
bool isTableSpacer(const QList<Item>& list, qsizetype index);

// The paragraph spacing Qt's layout gives list[index]: the space above (the
// larger of its top margin and the bottom margin of the paragraph before; its
// top margin alone after a table) and below (its bottom margin, or the top
// margin of a table right after it, which replaces it). A table spacer takes
// the bottom margin of its table as its whole height.
struct Spacing {
    qreal before = 0;
    qreal after = 0;
    qreal spacerHeight = -1; // only for a table spacer
};
Spacing spacing(const QList<Item>& list, qsizetype index);

} // namespace orvik::styledtext
