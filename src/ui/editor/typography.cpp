#include "typography.h"

#include <QRegularExpression>

using namespace Qt::StringLiterals;

namespace orvik::ui::typography {

using namespace MarkdownHighlighter;

namespace {

bool opensQuote(QChar before) {
    return before.isSpace() || QStringView(u"([{<\u201E\u201A\u2013\u2014/").contains(before);
}

qsizetype lineStartOf(QStringView text, qsizetype position) {
    return position == 0 ? 0 : text.lastIndexOf(u'\n', position - 1) + 1;
}

bool isInCode(QStringView text, qsizetype position, const QList<CodeBlock>& blocks,
              const QList<FenceMark>& marks) {
    for (const CodeBlock& b : blocks) {
        if (b.start <= position && position <= b.end)
            return true;
    }
    // A fence still waiting for its closing one opens code all the same.
    const qsizetype pairedEnd = blocks.isEmpty() ? -1 : blocks.last().end;
    for (const FenceMark& m : marks) {
        if (m.position > pairedEnd && m.position <= position)
            return true;
    }
    const qsizetype lineStart = lineStartOf(text, position);
    return text.mid(lineStart, position - lineStart).count(u'`') % 2 == 1;
}

} // namespace

bool mayReplace(QStringView typed) {
    return typed == u"\"" || typed == u"'" || typed == u"-" || typed == u" ";
}

std::optional<Replacement> replacement(QStringView text, qsizetype at,
                                       const QList<CodeBlock>& blocks,
                                       const QList<FenceMark>& marks) {
    const QChar typed = text[at];
    const auto inCode = [&](qsizetype position) { return isInCode(text, position, blocks, marks); };
    // Most spaces end a word, not " - ": that is settled before looking for code.
    const bool spacedHyphen =
        typed == u' ' && at >= 2 && text[at - 1] == u'-' && text[at - 2] == u' ';
    if ((typed == u' ' && !spacedHyphen) || inCode(at))
        return std::nullopt;
    const qsizetype lineStart = lineStartOf(text, at);
    const QChar before = at > lineStart ? text[at - 1] : QChar(u' ');
    const QStringView line = text.mid(lineStart, at - lineStart);
    if (typed == u'"')
        return Replacement{at, at + 1, opensQuote(before) ? u"\u201E"_s : u"\u201C"_s};
    if (typed == u'\'') {
        const bool singleOpen = line.count(u'\u201A') > line.count(u'\u2018');
        const bool inWord =
            before.isLetterOrNumber() && at + 1 < text.size() && text[at + 1].isLetter();
        return Replacement{at, at + 1,
                           opensQuote(before)      ? u"\u201A"_s
                           : singleOpen && !inWord ? u"\u2018"_s
                                                   : u"\u2019"_s};
    }
    if (typed == u' ') {
        // A hyphen after list or quote markers alone is a list item, and in
        // a table's marker row a column: only a hyphen after words is a dash.
        static const QRegularExpression markersOnly(u"^[\\s>*+|:-]*(\\d+[.)])?$"_s);
        if (markersOnly.match(line.left(line.size() - 2)).hasMatch() || inCode(at - 1))
            return std::nullopt;
        return Replacement{at - 1, at + 1, u"\u2013 "_s};
    }
    if (typed != u'-')
        return std::nullopt;
    // "--" at a line start may become a rule or front matter, "<!--" a
    // comment, "|--" a table: only a pair within prose is a dash.
    if (at - 2 < lineStart || text[at - 1] != u'-' || QStringView(u"-|!<").contains(text[at - 2]) ||
        inCode(at - 1))
        return std::nullopt;
    return Replacement{at - 1, at + 1, u"\u2013"_s};
}

} // namespace orvik::ui::typography
