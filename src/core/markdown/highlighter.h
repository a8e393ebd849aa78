#pragma once

#include "appearance/editorstyle.h"
#include "appearance/palette.h"
#include "appearance/theme.h"

#include <QFont>
#include <QHash>
#include <QList>
#include <QPalette>
#include <QStringView>
#include <QTextCharFormat>

// The editor's Markdown styling as a pure function: text in, styled ranges out.
// The source stays visible; headings grow, quotes lean, code turns monospaced,
// and the markup itself fades into the palette's syntax colour. Ranges are
// UTF-16 offsets of the text, the offsets of QString and QTextDocument alike.
//
// Every pass but the fenced code blocks and italics stays within one line (a
// line ends after "\n"); italics may join the lines of one paragraph, as the
// export does, never across a blank line. So after an edit only the
// lines italics tie to the edited ones and the lines whose code block
// membership changed need restyling: see fenceMarks(), pairFences(),
// changedStretches(), italicReach(), styleStretch() and lineRanges(). ranges() styles a
// whole text and is the reference for them.
namespace orvik::MarkdownHighlighter {

// Font sizes: heading levels 4 to 6 share one.
enum class FontRole : quint8 { Body, Monospace, Heading1, Heading2, Heading3, Heading4 };

enum class ParagraphRole : quint8 { Body, Heading1, Heading, Quote, ListItem };

// The attributes of a stretch of text.
struct CharStyle {
    FontRole font = FontRole::Body;
    bool bold = false;   // the family's bold face
    bool italic = false; // the family's italic face
    Palette::Role color = Palette::Role::Text;
    // Paragraph attributes come out per character, as they are set; a
    // paragraph takes those of its first character.
    ParagraphRole paragraph = ParagraphRole::Body;
    // The family lacks the face: bold drawn by thickening the glyphs, italic
    // by slanting them.
    bool syntheticBold = false;
    bool syntheticItalic = false;
    bool underline = false;

    friend bool operator==(const CharStyle&, const CharStyle&) = default;
};
size_t qHash(const CharStyle& style, size_t seed = 0) noexcept;

struct StyledRange {
    qsizetype start = 0;
    qsizetype length = 0;
    CharStyle style;

    qsizetype end() const { return start + length; }
    friend bool operator==(const StyledRange&, const StyledRange&) = default;
};

// What ranges need to know of a style: the faces of the text family and of the
// monospaced family, which decide between real and imitated bold and italic.
struct Faces {
    FaceSet text;
    FaceSet monospace;

    // Asks the font database (needs a QGuiApplication).
    static Faces of(const Style& style);
    friend bool operator==(const Faces&, const Faces&) = default;
};

// The whole text, as consecutive ranges from 0 to its length, each differing
// from the one before; nothing for an empty text.
QList<StyledRange> ranges(QStringView text, const Faces& faces);
// Asks the font database on every call; an editor keeps Faces per style.
QList<StyledRange> ranges(QStringView text, const Style& style);

// A fenced code block, from its opening fence to the end of its closing fence
// line (without the line break).
struct CodeBlock {
    qsizetype start = 0;
    qsizetype end = 0;
    friend bool operator==(const CodeBlock&, const CodeBlock&) = default;
};

// A "```" at a line start, the raw material of code blocks.
struct FenceMark {
    qsizetype position = 0;
    qsizetype closeEnd = -1; // end of the fence if it can close a block, else -1
    qsizetype lineEnd = 0;   // where the "\n"-terminated line holding it ends
    friend bool operator==(const FenceMark&, const FenceMark&) = default;
};

// The marks of `text`, which starts at a line start: one line (with or
// without its "\n") or many. Positions are offset by `start`, the place of
// `text` in the whole text.
QList<FenceMark> fenceMarks(QStringView text, qsizetype start = 0);
// The code blocks of a text from the marks of all its lines, in text order.
// An opening fence without a closing one ends the search: no block follows it.
QList<CodeBlock> pairFences(const QList<FenceMark>& marks);
QList<CodeBlock> codeBlocks(QStringView text);

// After an edit that replaced `removed` units at `at` with `inserted` units:
// the stretches of the new text that lie in a code block now but did not
// before, or the other way round (`before` and `after` are the code blocks of
// the old and the new text). Restyle the lines from the one holding `at` to
// the one holding `at + inserted` (the very end of the text belongs to the
// last line), and every line that overlaps one of these
// stretches; all other lines keep their ranges, moved along by the edit.
QList<CodeBlock> changedStretches(const QList<CodeBlock>& before, const QList<CodeBlock>& after,
                                  qsizetype at, qsizetype removed, qsizetype inserted);

// The lines around the one that starts at `lineStart` that lineRanges() needs
// to style it: its paragraph (the lines the export joins into one, which an
// italic span may join, from the first one's start to the end of the last
// one, its "\n" included), cut where no italic span can cross, so that a long
// paragraph costs no more than the lines an italic span could join.
CodeBlock styleStretch(QStringView text, qsizetype lineStart);

// The lines around the edited ones, [editedStart, editedEnd) of whole lines,
// whose italics an edit may change, as far as `text` tells: from the start of
// styleStretch() of the line above to the end of that of the line below.
// Both the text before an edit (with the old edited lines) and the one after
// it tell: the lines in either reach are to be restyled with the edited ones.
CodeBlock italicReach(QStringView text, qsizetype editedStart, qsizetype editedEnd);

// The ranges of `lines`, a stretch of whole lines that start at `lineStart`
// (whole paragraphs, or a stretch as styleStretch() gives it), given the code blocks of
// the whole text (sorted, as pairFences() gives them). They equal what
// ranges() gives for that stretch of the text, split at its ends.
QList<StyledRange> lineRanges(QStringView lines, qsizetype lineStart,
                              const QList<CodeBlock>& blocks, const Faces& faces);

// Paragraph spacing and indents in points.
struct ParagraphMetrics {
    qreal lineSpacing = 0; // extra space between the lines of a paragraph
    qreal spacingBefore = 0;
    qreal spacingAfter = 0;
    qreal firstLineHeadIndent = 0;
    qreal headIndent = 0; // of the lines after the first
    friend bool operator==(const ParagraphMetrics&, const ParagraphMetrics&) = default;
};
ParagraphMetrics paragraphMetrics(ParagraphRole role, qreal baseSize);

// Character formats of one style and one Qt palette, for applying ranges to a
// text document. Imitated bold and italic ask Qt for a bold or italic face the
// family lacks; Qt then emboldens or slants the regular glyphs itself, which
// draws far faster than an outline pen.
class Formats {
public:
    Formats(const Style& style, const QPalette& qt);

    QFont font(const CharStyle& style) const;
    QColor color(const CharStyle& style) const;
    // Built once per distinct style.
    QTextCharFormat charFormat(const CharStyle& style) const;
    ParagraphMetrics paragraph(ParagraphRole role) const;

    // What typing starts with: body font, text colour.
    QTextCharFormat typingFormat() const { return charFormat(CharStyle{}); }

private:
    Style m_style;
    QPalette m_qt;
    QFont m_fonts[6]; // by FontRole, regular
    mutable QHash<CharStyle, QTextCharFormat> m_formats;
};

} // namespace orvik::MarkdownHighlighter
