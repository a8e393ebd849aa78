#include "highlighter.h"

#include <QRegularExpression>

#include <algorithm>
#include <array>
#include <bit>
#include <vector>

using namespace Qt::StringLiterals;

namespace orvik::MarkdownHighlighter {

static_assert(sizeof(CharStyle) == sizeof(quint64), "compared and hashed as one word");

size_t qHash(const CharStyle& style, size_t seed) noexcept {
    return ::qHash(std::bit_cast<quint64>(style), seed);
}

namespace {

inline bool same(const CharStyle& a, const CharStyle& b) {
    return std::bit_cast<quint64>(a) == std::bit_cast<quint64>(b);
}

// The patterns follow ICU's semantics, in which the styling was designed:
// - "(*ANY)": every Unicode line break ends a line for ^, $ and the dot, as
//   in ICU, not just "\n" (PCRE2's default).
// - \s is ICU's White_Space, and \w ICU's word class (letters, marks, decimal
//   digits, connector punctuation, ZWJ/ZWNJ), spelled out: PCRE2's own
//   classes are ASCII-only, and even with Unicode properties they differ
//   (marks, U+0085, U+180E). \d is any decimal digit, as in ICU.
// - Italic content may cross a "\n" between two lines of one paragraph, as
//   the export joins them, but no other: a stray asterisk would otherwise
//   slant everything up to the next one, paragraphs away. The pattern runs
//   per paragraph (forEachParagraph()).
// Bold and code spans are scans with the same matches (boldSpans(),
// codeSpans()): as patterns they backtrack without bound.
struct Patterns {
    QRegularExpression heading;
    QRegularExpression quote;
    QRegularExpression listItem;
    QRegularExpression task;
    QRegularExpression rule;
    QRegularExpression italic;
    QRegularExpression link;
    // Lines that end a paragraph, on a line trimmed of blanks and tabs.
    QRegularExpression blockHeading;
    QRegularExpression blockListItem;
    QRegularExpression blockRule;
};

QRegularExpression compile(QString pattern, bool lineAnchors) {
    pattern.replace(u"\\S"_s, uR"([^\p{White_Space}])"_s);
    pattern.replace(u"\\w"_s, uR"(\p{Alphabetic}\p{M}\p{Nd}\p{Pc}\x{200C}\x{200D})"_s);
    pattern.replace(u"\\s"_s, uR"(\p{White_Space})"_s);
    pattern.replace(u"\\d"_s, uR"(\p{Nd})"_s);
    QRegularExpression re(pattern, lineAnchors ? QRegularExpression::MultilineOption
                                               : QRegularExpression::NoPatternOption);
    re.optimize();
    Q_ASSERT_X(re.isValid(), "MarkdownHighlighter", qPrintable(re.errorString()));
    return re;
}

const Patterns& patterns() {
    // \w and \s only appear inside classes, \S only outside: compile() expands them.
    static const Patterns p{
        compile(uR"re((*ANY)^(#{1,6})[ \t]+(.*)$)re"_s, true),
        compile(uR"re((*ANY)^([ \t]*>[ \t]?)(.*)$)re"_s, true),
        compile(uR"re((*ANY)^([ \t]*(?:[-*+]|\d+\.)[ \t]+))re"_s, true),
        compile(uR"re((*ANY)^[ \t]*[-*+][ \t]+(\[[ xX]\]))re"_s, true),
        compile(uR"re((*ANY)^[ \t]*([-*_])(?:[ \t]*\1){2,}[ \t]*$)re"_s, true),
        compile(uR"re((?<![\*_\w])(\*|_)(?=\S)([^\*_]+?)(?<=\S)\1(?![\*_\w]))re"_s, false),
        compile(uR"re((\[)([^\]\n]*)(\]\()([^)\s]+)(\)))re"_s, false),
        compile(uR"re((*ANY)^#{1,6}\s+)re"_s, false),
        compile(uR"re((*ANY)^(?:[-*+]|\d+\.)\s+)re"_s, false),
        compile(uR"re((*ANY)^([-*_])(\s*\1){2,}$)re"_s, false),
    };
    return p;
}

// Line ends for ^ and $ (ICU's).
inline bool isLineBreak(char16_t c) {
    return c == u'\n' || c == u'\v' || c == u'\f' || c == u'\r' || c == u'\x85' || c == u'\x2028' ||
           c == u'\x2029';
}

// ICU's White_Space, which \s and \S stand for; all of it lies in the BMP.
inline bool isWhiteSpace(char16_t c) {
    return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
           (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F ||
           c == 0x205F || c == 0x3000;
}

// Line ends that bound the line a list paragraph covers: no VT, no FF.
inline bool isParagraphLineBreak(char16_t c) {
    return c == u'\n' || c == u'\r' || c == u'\x85' || c == u'\x2028' || c == u'\x2029';
}

// Characters whose absence rules a pass out, so that most lines of prose
// skip most patterns.
enum Trigger : quint32 {
    Hash = 1 << 0,
    Greater = 1 << 1,
    Bullet = 1 << 2, // - * +
    Digit = 1 << 3,  // any non-ASCII character might be one
    RuleMark = 1 << 4,
    Emphasis = 1 << 5, // * _
    Backtick = 1 << 6,
    Bracket = 1 << 7,
};

struct Scan {
    quint32 triggers = 0;
    bool loneSurrogate = false;
};

constexpr auto asciiTriggers = [] {
    std::array<quint8, 128> table{};
    table[u'#'] = Hash;
    table[u'>'] = Greater;
    table[u'-'] = table[u'+'] = Bullet | RuleMark;
    table[u'*'] = Bullet | RuleMark | Emphasis;
    table[u'_'] = RuleMark | Emphasis;
    table[u'`'] = Backtick;
    table[u'['] = Bracket;
    for (char16_t c = u'0'; c <= u'9'; ++c)
        table[c] = Digit;
    return table;
}();

Scan scan(QStringView text) {
    Scan s;
    const char16_t* p = text.utf16();
    const qsizetype n = text.size();
    quint32 triggers = 0;
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t c = p[i];
        if (c < 0x80) {
            triggers |= asciiTriggers[c];
            continue;
        }
        triggers |= Digit;
        if (QChar::isHighSurrogate(c) && i + 1 < n && QChar::isLowSurrogate(p[i + 1]))
            ++i;
        else if (QChar::isSurrogate(c))
            s.loneSurrogate = true;
    }
    s.triggers = triggers;
    return s;
}

// PCRE2 refuses (or, unchecked, misreads) text with unpaired surrogates. In
// ICU they are mere characters, neither blank nor word characters, just like
// U+FFFD, which keeps every offset.
QString withoutLoneSurrogates(QStringView text) {
    QString copy = text.toString();
    char16_t* p = reinterpret_cast<char16_t*>(copy.data());
    const qsizetype n = copy.size();
    for (qsizetype i = 0; i < n; ++i) {
        if (QChar::isHighSurrogate(p[i]) && i + 1 < n && QChar::isLowSurrogate(p[i + 1]))
            ++i;
        else if (QChar::isSurrogate(p[i]))
            p[i] = QChar::ReplacementCharacter;
    }
    return copy;
}

// What a line (without its "\n") is to a paragraph in the export: whether it
// can belong to one (`paragraph`) and whether it continues one running above
// it (`continues`). Italics cross a line break only inside a paragraph.
struct LineKind {
    bool paragraph = false;
    bool continues = false;
};

LineKind kindOf(QStringView line) {
    QString cleaned;
    if (std::any_of(line.begin(), line.end(), [](QChar c) { return c.isSurrogate(); })) {
        cleaned = withoutLoneSurrogates(line);
        line = cleaned;
    }
    if (line.endsWith(u'\r'))
        line.chop(1); // CR LF ends a line as LF does
    const auto blank = [](QChar c) { return c == u'\t' || c.category() == QChar::Separator_Space; };
    while (!line.isEmpty() && blank(line.front()))
        line = line.sliced(1);
    while (!line.isEmpty() && blank(line.back()))
        line.chop(1);
    if (line.isEmpty())
        return {};
    const Patterns& re = patterns();
    const QChar c = line.front();
    const auto matches = [line](const QRegularExpression& pattern) {
        return pattern.match(line).hasMatch();
    };
    const bool fence = line.startsWith(u"```");
    const bool listItem =
        (c == u'-' || c == u'*' || c == u'+' || c.isDigit() || c.isHighSurrogate()) &&
        matches(re.blockListItem);
    const bool rule = (c == u'-' || c == u'*' || c == u'_') && matches(re.blockRule);
    const bool other = fence || listItem || rule || c == u'>';
    const bool heading = c == u'#' && matches(re.blockHeading);
    return {!other && !heading, !other && c != u'#'};
}

// Calls f(start, end) for each stretch of `text` (which starts at a line
// start) whose lines italics may join, in order; each ends after its last
// "\n" or at the end of the text.
template <typename F> void forEachParagraph(QStringView text, F f) {
    const qsizetype n = text.size();
    qsizetype start = 0;
    bool aboveIsParagraph = false;
    for (qsizetype lineStart = 0; lineStart < n;) {
        const qsizetype newline = text.indexOf(u'\n', lineStart);
        const qsizetype lineEnd = newline < 0 ? n : newline;
        const LineKind kind = kindOf(text.sliced(lineStart, lineEnd - lineStart));
        if (lineStart > start && !(aboveIsParagraph && kind.continues)) {
            f(start, lineStart);
            start = lineStart;
        }
        aboveIsParagraph = kind.paragraph;
        lineStart = newline < 0 ? n : newline + 1;
    }
    if (start < n)
        f(start, n);
}

// Attribute changes of the passes, over [from, to) of a line's or the whole
// text's styles.
class Painter {
public:
    Painter(CharStyle* styles, const Faces& faces) : m_styles(styles), m_faces(faces) {}

    template <typename F> void paint(qsizetype from, qsizetype to, F change) {
        for (qsizetype i = from; i < to; ++i)
            change(m_styles[i]);
    }
    void color(qsizetype from, qsizetype to, Palette::Role role) {
        paint(from, to, [role](CharStyle& s) { s.color = role; });
    }
    void code(qsizetype from, qsizetype to) {
        paint(from, to, [](CharStyle& s) {
            s.font = FontRole::Monospace;
            s.bold = s.italic = false;
            s.color = Palette::Role::Code;
        });
    }
    void boldTrait(qsizetype from, qsizetype to) {
        paint(from, to, [this](CharStyle& s) {
            if (s.bold)
                return;
            if (faces(s).has(true, s.italic))
                s.bold = true;
            else
                s.syntheticBold = true;
        });
    }
    void italicTrait(qsizetype from, qsizetype to) {
        paint(from, to, [this](CharStyle& s) {
            if (s.italic)
                return;
            if (faces(s).has(s.bold, true))
                s.italic = true;
            else
                s.syntheticItalic = true;
        });
    }
    const Faces& faces() const { return m_faces; }

private:
    const FaceSet& faces(const CharStyle& s) const {
        return s.font == FontRole::Monospace ? m_faces.monospace : m_faces.text;
    }

    CharStyle* m_styles;
    const Faces& m_faces;
};

// Every match of `re`, a pattern that never reaches past a "\n". Should PCRE2
// give up on some line (its match or stack limit: the iterator just ends,
// invalid), only that line goes without this pass: the search goes on after
// it.
template <typename F> void forEachMatch(const QRegularExpression& re, QStringView text, F f) {
    constexpr auto options = QRegularExpression::DontCheckSubjectStringMatchOption;
    qsizetype from = 0;
    while (from < text.size() || from == 0) {
        auto it = re.globalMatch(text, from, QRegularExpression::NormalMatch, options);
        qsizetype searched = from;
        while (it.hasNext()) {
            const QRegularExpressionMatch m = it.next();
            searched = m.capturedEnd(0);
            f(m);
        }
        if (it.isValid())
            return;
        // Line by line from where the search failed, to find the line.
        for (;;) {
            const qsizetype newline = text.indexOf(u'\n', searched);
            const qsizetype lineEnd = newline < 0 ? text.size() : newline + 1;
            auto line = re.globalMatch(text.first(lineEnd), searched,
                                       QRegularExpression::NormalMatch, options);
            while (line.hasNext())
                f(line.next());
            if (!line.isValid() || lineEnd >= text.size()) {
                from = lineEnd;
                break;
            }
            searched = lineEnd;
        }
        if (from >= text.size())
            return;
    }
}

void headings(QStringView text, Painter& p) {
    const bool boldFace = p.faces().text.bold;
    forEachMatch(patterns().heading, text, [&](const QRegularExpressionMatch& m) {
        const qsizetype level = m.capturedLength(1);
        const FontRole font = level == 1   ? FontRole::Heading1
                              : level == 2 ? FontRole::Heading2
                              : level == 3 ? FontRole::Heading3
                                           : FontRole::Heading4;
        const ParagraphRole paragraph =
            level == 1 ? ParagraphRole::Heading1 : ParagraphRole::Heading;
        p.paint(m.capturedStart(0), m.capturedEnd(0), [&](CharStyle& s) {
            s.font = font;
            s.bold = boldFace;
            s.italic = false;
            s.color = Palette::Role::Heading;
            s.paragraph = paragraph;
            if (!boldFace)
                s.syntheticBold = true;
        });
        p.color(m.capturedStart(1), m.capturedEnd(1), Palette::Role::Syntax);
    });
}

void quotes(QStringView text, Painter& p) {
    const bool italicFace = p.faces().text.italic;
    forEachMatch(patterns().quote, text, [&](const QRegularExpressionMatch& m) {
        p.paint(m.capturedStart(0), m.capturedEnd(0), [&](CharStyle& s) {
            s.font = FontRole::Body;
            s.bold = false;
            s.italic = italicFace;
            s.color = Palette::Role::Quote;
            s.paragraph = ParagraphRole::Quote;
            if (!italicFace)
                s.syntheticItalic = true;
        });
        p.color(m.capturedStart(1), m.capturedEnd(1), Palette::Role::Syntax);
    });
}

void listItems(QStringView text, Painter& p) {
    forEachMatch(patterns().listItem, text, [&](const QRegularExpressionMatch& m) {
        // The paragraph takes the whole line, its line break included.
        qsizetype from = m.capturedStart(1);
        while (from > 0 && !isParagraphLineBreak(text[from - 1].unicode()))
            --from;
        qsizetype to = m.capturedEnd(1);
        while (to < text.size() && !isParagraphLineBreak(text[to].unicode()))
            ++to;
        if (to < text.size())
            to += text[to] == u'\r' && to + 1 < text.size() && text[to + 1] == u'\n' ? 2 : 1;
        p.paint(from, to, [](CharStyle& s) { s.paragraph = ParagraphRole::ListItem; });
        p.color(m.capturedStart(1), m.capturedEnd(1), Palette::Role::Syntax);
    });
}

void tasks(QStringView text, Painter& p) {
    forEachMatch(patterns().task, text, [&](const QRegularExpressionMatch& m) {
        p.paint(m.capturedStart(1), m.capturedEnd(1), [](CharStyle& s) {
            s.font = FontRole::Monospace;
            s.bold = s.italic = false;
            s.color = Palette::Role::Link;
        });
    });
}

void rules(QStringView text, Painter& p) {
    forEachMatch(patterns().rule, text, [&](const QRegularExpressionMatch& m) {
        p.color(m.capturedStart(0), m.capturedEnd(0), Palette::Role::Syntax);
    });
}

// A delimited span: its content and the delimiters around it.
struct Span {
    qsizetype start;
    qsizetype contentStart;
    qsizetype contentEnd;
    qsizetype end;
};

template <typename F> void paintSpan(const Span& span, Painter& p, F content) {
    content(span.contentStart, span.contentEnd);
    p.color(span.start, span.contentStart, Palette::Role::Syntax);
    p.color(span.contentEnd, span.end, Palette::Role::Syntax);
}

// Italic: content in group 2, delimiters around it, in `text`, which lies at
// `offset` of the painted text. Its content stops at the next delimiter,
// which keeps the pattern linear.
template <typename F>
void spans(const QRegularExpression& re, QStringView text, qsizetype offset, Painter& p,
           F content) {
    forEachMatch(re, text, [&](const QRegularExpressionMatch& m) {
        paintSpan({offset + m.capturedStart(0), offset + m.capturedStart(2),
                   offset + m.capturedEnd(2), offset + m.capturedEnd(0)},
                  p, content);
    });
}

// The matches of "(\*\*|__)(?=\S)(.+?)(?<=\S)\1", found by a scan: as a pattern,
// every opening pair without a closing one runs to the line end, which
// makes a line of "**a " quadratic (seconds for a few kilobytes).
template <typename F> void boldSpans(QStringView text, F found) {
    const char16_t* c = text.utf16();
    const qsizetype n = text.size();
    // Where a pair may close: after a non-blank, per delimiter.
    std::vector<qsizetype> closers[2];
    for (qsizetype q = 1; q + 1 < n; ++q) {
        if ((c[q] == u'*' || c[q] == u'_') && c[q + 1] == c[q] && !isWhiteSpace(c[q - 1]))
            closers[c[q] == u'_'].push_back(q);
    }
    qsizetype lineBreak = -1; // the first line break at or after the content start
    for (qsizetype at = 0; at + 1 < n; ++at) {
        if ((c[at] != u'*' && c[at] != u'_') || c[at + 1] != c[at])
            continue;
        const qsizetype from = at + 2;
        if (from >= n || isWhiteSpace(c[from]))
            continue;
        if (lineBreak < from) {
            lineBreak = from;
            while (lineBreak < n && !isLineBreak(c[lineBreak]))
                ++lineBreak;
        }
        const std::vector<qsizetype>& candidates = closers[c[at] == u'_'];
        const auto close = std::lower_bound(candidates.begin(), candidates.end(), from + 1);
        if (close == candidates.end() || *close >= lineBreak)
            continue;
        found(Span{at, from, *close, *close + 2});
        at = *close + 1;
    }
}

// The matches of "(`+)([^`\n]+?)\1", found by a scan: the pattern tries every
// length of a backtick run at every position in it, cubic in a long run.
// The content runs to the next backtick, so the run before it must shrink to
// the length of the run after it.
template <typename F> void codeSpans(QStringView text, F found) {
    const char16_t* c = text.utf16();
    const qsizetype n = text.size();
    qsizetype at = 0;
    while (at < n) {
        while (at < n && c[at] != u'`')
            ++at;
        qsizetype runEnd = at;
        while (runEnd < n && c[runEnd] == u'`')
            ++runEnd;
        qsizetype close = runEnd;
        while (close < n && c[close] != u'`' && c[close] != u'\n')
            ++close;
        if (close >= n || c[close] == u'\n' || close == runEnd) {
            at = close;
            continue;
        }
        qsizetype closeEnd = close;
        while (closeEnd < n && c[closeEnd] == u'`' && closeEnd - close < runEnd - at)
            ++closeEnd;
        const qsizetype length = closeEnd - close;
        found(Span{runEnd - length, runEnd, close, closeEnd});
        at = closeEnd;
    }
}

void links(QStringView text, Painter& p) {
    forEachMatch(patterns().link, text, [&](const QRegularExpressionMatch& m) {
        p.paint(m.capturedStart(2), m.capturedEnd(2), [](CharStyle& s) {
            s.color = Palette::Role::Link;
            s.underline = true;
        });
        for (int group : {1, 3, 4, 5})
            p.color(m.capturedStart(group), m.capturedEnd(group), Palette::Role::Syntax);
    });
}

// Every pass after the code blocks, in their order. None reaches past a "\n",
// so `text` may be one line or the whole text.
void applyPasses(QStringView text, quint32 triggers, Painter& p) {
    const Patterns& re = patterns();
    if (triggers & Hash)
        headings(text, p);
    if (triggers & Greater)
        quotes(text, p);
    if (triggers & (Bullet | Digit))
        listItems(text, p);
    if ((triggers & Bullet) && (triggers & Bracket))
        tasks(text, p);
    if (triggers & RuleMark)
        rules(text, p);
    if (triggers & Emphasis) {
        boldSpans(text, [&p](const Span& s) {
            paintSpan(s, p, [&p](qsizetype a, qsizetype b) { p.boldTrait(a, b); });
        });
        forEachParagraph(text, [&](qsizetype from, qsizetype to) {
            const QStringView paragraph = text.sliced(from, to - from);
            if (!paragraph.contains(u'*') && !paragraph.contains(u'_'))
                return;
            spans(re.italic, paragraph, from, p,
                  [&p](qsizetype a, qsizetype b) { p.italicTrait(a, b); });
        });
    }
    if (triggers & Backtick) {
        codeSpans(text, [&p](const Span& s) {
            paintSpan(s, p, [&p](qsizetype a, qsizetype b) { p.code(a, b); });
        });
    }
    if (triggers & Bracket)
        links(text, p);
}

QList<StyledRange> runs(const std::vector<CharStyle>& styles, qsizetype offset) {
    QList<StyledRange> result;
    const qsizetype n = qsizetype(styles.size());
    qsizetype start = 0;
    for (qsizetype i = 1; i <= n; ++i) {
        if (i == n || !same(styles[size_t(i)], styles[size_t(start)])) {
            result.append({offset + start, i - start, styles[size_t(start)]});
            start = i;
        }
    }
    return result;
}

// Styles `text` (which starts at `offset` of the whole text) given the code
// blocks that touch it.
QList<StyledRange> style(QStringView text, qsizetype offset, const CodeBlock* firstBlock,
                         const CodeBlock* lastBlock, const Faces& faces) {
    if (text.isEmpty())
        return {};
    const Scan s = scan(text);
    QString cleaned;
    if (s.loneSurrogate) {
        cleaned = withoutLoneSurrogates(text);
        text = cleaned;
    }
    std::vector<CharStyle> styles(size_t(text.size()));
    Painter painter(styles.data(), faces);
    const qsizetype end = offset + text.size();
    for (const CodeBlock* b = firstBlock; b != lastBlock; ++b)
        painter.code(std::max(b->start, offset) - offset, std::min(b->end, end) - offset);
    applyPasses(text, s.triggers, painter);
    return runs(styles, offset);
}

} // namespace

Faces Faces::of(const Style& style) {
    return {Theme::faces(Theme::resolvedFamily(style.family)),
            Theme::faces(Theme::monospacedFamily())};
}

// Fences are found by a scan rather than by a pattern: a lazy pattern runs to
// the end of the text for every opening fence that never closes, which makes
// a text full of them quadratic.
QList<FenceMark> fenceMarks(QStringView text, qsizetype start) {
    QList<FenceMark> marks;
    const qsizetype n = text.size();
    qsizetype lineEnd = -1; // of the "\n"-line being looked at, in `text`
    for (qsizetype at = text.indexOf(u"```"); at >= 0; at = text.indexOf(u"```", at + 1)) {
        if (at > 0 && !isLineBreak(text[at - 1].unicode()))
            continue;
        if (at > lineEnd) {
            lineEnd = text.indexOf(u'\n', at);
            if (lineEnd < 0)
                lineEnd = n;
        }
        qsizetype close = at + 3;
        while (close < n && (text[close] == u' ' || text[close] == u'\t'))
            ++close;
        const bool closes = close == n || isLineBreak(text[close].unicode());
        marks.append({start + at, closes ? start + close : -1, start + lineEnd});
    }
    return marks;
}

QList<CodeBlock> pairFences(const QList<FenceMark>& marks) {
    // The opening fence line is "```" and the rest of its line, up to "\n";
    // the block ends with the first closing fence after that. Without one,
    // the block may still close within the opening line after another line
    // break (U+2028, a lone "\r", ...), at the last fence there that can.
    QList<CodeBlock> blocks;
    const qsizetype n = marks.size();
    qsizetype i = 0;
    while (i < n) {
        const FenceMark& open = marks[i];
        qsizetype close = -1;
        for (qsizetype j = i + 1; j < n && close < 0; ++j)
            if (marks[j].position > open.lineEnd && marks[j].closeEnd >= 0)
                close = j;
        if (close < 0) {
            for (qsizetype j = i + 1; j < n && marks[j].lineEnd == open.lineEnd; ++j)
                if (marks[j].closeEnd >= 0)
                    close = j;
        }
        if (close < 0)
            break; // and no later fence can close either
        blocks.append({open.position, marks[close].closeEnd});
        i = close + 1;
    }
    return blocks;
}

QList<CodeBlock> codeBlocks(QStringView text) {
    return pairFences(fenceMarks(text));
}

QList<CodeBlock> changedStretches(const QList<CodeBlock>& before, const QList<CodeBlock>& after,
                                  qsizetype at, qsizetype removed, qsizetype inserted) {
    // Old positions in new terms; those inside the replaced text collapse to
    // its place, which lies on an edited line anyway.
    const auto moved = [&](qsizetype p) {
        return p < at ? p : p >= at + removed ? p - removed + inserted : at;
    };
    // Moving keeps the old bounds in order, so a merge sorts them all.
    std::vector<qsizetype> oldBounds;
    std::vector<qsizetype> newBounds;
    for (const CodeBlock& b : before)
        oldBounds.insert(oldBounds.end(), {moved(b.start), moved(b.end)});
    for (const CodeBlock& b : after)
        newBounds.insert(newBounds.end(), {b.start, b.end});
    std::vector<qsizetype> bounds(oldBounds.size() + newBounds.size());
    std::merge(oldBounds.begin(), oldBounds.end(), newBounds.begin(), newBounds.end(),
               bounds.begin());
    bounds.erase(std::unique(bounds.begin(), bounds.end()), bounds.end());

    // Both lists are sorted, and so are the bounds: one forward walk each.
    qsizetype oldIndex = 0;
    qsizetype newIndex = 0;
    QList<CodeBlock> changed;
    for (size_t i = 0; i + 1 < bounds.size(); ++i) {
        const qsizetype from = bounds[i];
        while (oldIndex < before.size() && moved(before[oldIndex].end) <= from)
            ++oldIndex;
        while (newIndex < after.size() && after[newIndex].end <= from)
            ++newIndex;
        const bool wasCode = oldIndex < before.size() && moved(before[oldIndex].start) <= from;
        const bool isCode = newIndex < after.size() && after[newIndex].start <= from;
        if (wasCode == isCode)
            continue;
        if (!changed.isEmpty() && changed.last().end == from)
            changed.last().end = bounds[i + 1];
        else
            changed.append({from, bounds[i + 1]});
    }
    return changed;
}

QList<StyledRange> ranges(QStringView text, const Faces& faces) {
    const QList<CodeBlock> blocks = codeBlocks(text);
    return style(text, 0, blocks.constData(), blocks.constData() + blocks.size(), faces);
}

QList<StyledRange> ranges(QStringView text, const Style& style) {
    return ranges(text, Faces::of(style));
}

namespace {

inline bool isEmphasisMark(QChar c) {
    return c == u'*' || c == u'_';
}

// Whether the italic pattern could pair the delimiters at `open` and `close`,
// the next one after it: false only where it surely cannot. A character's
// being a word character is checked only as far as QChar knows for sure
// (letters, marks, decimal digits); anything else might be one.
bool mayPair(QStringView text, qsizetype open, qsizetype close) {
    const auto word = [](QChar c) {
        return isEmphasisMark(c) || c.isLetter() || c.isMark() ||
               c.category() == QChar::Number_DecimalDigit;
    };
    return text[open] == text[close] && close > open + 1 &&
           !isWhiteSpace(text[open + 1].unicode()) && !isEmphasisMark(text[open + 1]) &&
           !isWhiteSpace(text[close - 1].unicode()) && !(open > 0 && word(text[open - 1])) &&
           !(close + 1 < text.size() && word(text[close + 1]));
}

// The paragraph around a line, found only as far as it is asked for.
class ParagraphWalk {
public:
    ParagraphWalk(QStringView text, qsizetype lineStart)
        : m_text(text), m_top(lineStart), m_bottom(std::min(lineEnd(lineStart) + 1, text.size())) {
        m_topKind = m_bottomKind = kindOf(text.sliced(lineStart, lineEnd(lineStart) - lineStart));
    }

    // The last delimiter of the paragraph before `at`, or -1.
    qsizetype markBefore(qsizetype at) {
        for (qsizetype i = at - 1;; --i) {
            if (i < m_top && !growUp())
                return -1;
            if (isEmphasisMark(m_text[i]))
                return i;
        }
    }
    // The first delimiter of the paragraph at or after `at`, or -1.
    qsizetype markFrom(qsizetype at) {
        for (qsizetype i = at;; ++i) {
            if (i >= m_bottom && !growDown())
                return -1;
            if (isEmphasisMark(m_text[i]))
                return i;
        }
    }
    qsizetype lineEnd(qsizetype from) const {
        const qsizetype newline = m_text.indexOf(u'\n', from);
        return newline < 0 ? m_text.size() : newline;
    }

private:
    bool growUp() {
        if (m_top == 0)
            return false;
        const qsizetype above = m_top >= 2 ? m_text.lastIndexOf(u'\n', m_top - 2) + 1 : 0;
        const LineKind kind = kindOf(m_text.sliced(above, m_top - 1 - above));
        if (!(kind.paragraph && m_topKind.continues))
            return false;
        m_top = above;
        m_topKind = kind;
        return true;
    }
    bool growDown() {
        if (m_bottom >= m_text.size())
            return false;
        const qsizetype next = lineEnd(m_bottom);
        const LineKind kind = kindOf(m_text.sliced(m_bottom, next - m_bottom));
        if (!(m_bottomKind.paragraph && kind.continues))
            return false;
        m_bottom = std::min(next + 1, m_text.size());
        m_bottomKind = kind;
        return true;
    }

    QStringView m_text;
    qsizetype m_top;    // known to belong to the paragraph from here
    qsizetype m_bottom; // up to here
    LineKind m_topKind;
    LineKind m_bottomKind;
};

} // namespace

CodeBlock styleStretch(QStringView text, qsizetype lineStart) {
    // A line break inside the paragraph cuts it where no italic span can
    // cross: the last delimiter before it cannot pair with the first after
    // it. Italics on either side are then the same as in the whole.
    ParagraphWalk walk(text, lineStart);
    qsizetype start = lineStart;
    for (;;) {
        const qsizetype before = walk.markBefore(start);
        const qsizetype after = before < 0 ? -1 : walk.markFrom(start);
        if (after < 0 || !mayPair(text, before, after))
            break;
        start = before >= 1 ? text.lastIndexOf(u'\n', before - 1) + 1 : 0;
    }
    qsizetype end = std::min(walk.lineEnd(lineStart) + 1, text.size());
    while (end < text.size()) {
        const qsizetype after = walk.markFrom(end);
        const qsizetype before = after < 0 ? -1 : walk.markBefore(end);
        if (before < 0 || !mayPair(text, before, after))
            break;
        end = std::min(walk.lineEnd(after) + 1, text.size());
    }
    return {start, end};
}

CodeBlock italicReach(QStringView text, qsizetype editedStart, qsizetype editedEnd) {
    const qsizetype above = editedStart >= 2 ? text.lastIndexOf(u'\n', editedStart - 2) + 1 : 0;
    return {editedStart > 0 ? styleStretch(text, above).start : 0,
            editedEnd < text.size() ? styleStretch(text, editedEnd).end : text.size()};
}

QList<StyledRange> lineRanges(QStringView lines, qsizetype lineStart,
                              const QList<CodeBlock>& blocks, const Faces& faces) {
    const qsizetype lineEnd = lineStart + lines.size();
    const CodeBlock* all = blocks.constData();
    const CodeBlock* first = std::partition_point(
        all, all + blocks.size(), [&](const CodeBlock& b) { return b.end <= lineStart; });
    const CodeBlock* last = std::partition_point(
        first, all + blocks.size(), [&](const CodeBlock& b) { return b.start < lineEnd; });
    return style(lines, lineStart, first, last, faces);
}

ParagraphMetrics paragraphMetrics(ParagraphRole role, qreal base) {
    switch (role) {
    case ParagraphRole::Body:
        break;
    case ParagraphRole::Heading1:
        return {0.2 * base, 0.9 * base, 0.45 * base, 0, 0};
    case ParagraphRole::Heading:
        return {0.2 * base, 1.1 * base, 0.45 * base, 0, 0};
    case ParagraphRole::Quote:
        return {0.42 * base, 0, 0.62 * base, 1.1 * base, 1.1 * base};
    case ParagraphRole::ListItem:
        return {0.42 * base, 0, 0.25 * base, 0, 1.35 * base};
    }
    return {0.42 * base, 0, 0.62 * base, 0, 0};
}

Formats::Formats(const Style& style, const QPalette& qt) : m_style(style), m_qt(qt) {
    const qreal base = style.baseSize;
    m_fonts[int(FontRole::Body)] = Theme::editorBody(base, style.family);
    m_fonts[int(FontRole::Monospace)] = Theme::monospaced(0.94 * base);
    for (int level = 1; level <= 4; ++level)
        m_fonts[int(FontRole::Heading1) + level - 1] =
            Theme::editorHeading(base, level, style.family).font;
}

QFont Formats::font(const CharStyle& style) const {
    QFont f = m_fonts[int(style.font)];
    f.setWeight(style.bold || style.syntheticBold ? QFont::Bold : QFont::Normal);
    f.setItalic(style.italic || style.syntheticItalic);
    return f;
}

QColor Formats::color(const CharStyle& style) const {
    return m_style.palette.color(style.color, m_qt);
}

QTextCharFormat Formats::charFormat(const CharStyle& style) const {
    const auto cached = m_formats.constFind(style);
    if (cached != m_formats.cend())
        return *cached;
    QTextCharFormat format;
    format.setFont(font(style), QTextCharFormat::FontPropertiesAll);
    format.setForeground(color(style));
    format.setFontUnderline(style.underline);
    m_formats.insert(style, format);
    return format;
}

ParagraphMetrics Formats::paragraph(ParagraphRole role) const {
    return paragraphMetrics(role, m_style.baseSize);
}

} // namespace orvik::MarkdownHighlighter
