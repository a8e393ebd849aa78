// The per-line styling the editor uses after each keystroke agrees with the
// whole-text ranges, on the text and after an edit that restyles only the lines
// changedStretches() names. Byte 0 picks the faces, bytes 1 to 3 the edit.

#include "fuzzcheck.h"

#include "markdown/highlighter.h"

#include <algorithm>
#include <vector>

using namespace Qt::StringLiterals;

namespace {

namespace hl = orvik::MarkdownHighlighter;

struct Line {
    qsizetype start = 0;
    qsizetype end = 0; // after its "\n", if it has one
};

QList<Line> linesOf(QStringView text) {
    QList<Line> lines;
    for (qsizetype start = 0;; start = lines.last().end) {
        const qsizetype newline = text.indexOf(u'\n', start);
        lines.append({start, newline < 0 ? text.size() : newline + 1});
        if (newline < 0)
            return lines;
    }
}

// `ranges` from index `first` on, cut to `line`.
QList<hl::StyledRange> cut(const QList<hl::StyledRange>& ranges, const Line& line,
                           qsizetype first = 0) {
    QList<hl::StyledRange> out;
    for (qsizetype k = first; k < ranges.size() && ranges[k].start < line.end; ++k) {
        const qsizetype from = std::max(ranges[k].start, line.start);
        const qsizetype to = std::min(ranges[k].end(), line.end);
        if (from < to)
            out.append({from, to - from, ranges[k].style});
    }
    return out;
}

// One line styled as the editor styles it: with the lines italics may join
// it with, cut back to the line.
QList<hl::StyledRange> lineRanges(QStringView text, const Line& line,
                                  const QList<hl::CodeBlock>& blocks, const hl::Faces& faces) {
    const hl::CodeBlock stretch = hl::styleStretch(text, line.start);
    return cut(hl::lineRanges(text.mid(stretch.start, stretch.end - stretch.start), stretch.start,
                              blocks, faces),
               line);
}

QList<hl::StyledRange> shifted(QList<hl::StyledRange> ranges, qsizetype by) {
    for (hl::StyledRange& r : ranges)
        r.start += by;
    return ranges;
}

void checkWhole(QStringView text, const hl::Faces& faces) {
    const QList<hl::StyledRange> all = hl::ranges(text, faces);
    FUZZ_CHECK(text.isEmpty() == all.isEmpty());
    qsizetype at = 0;
    for (qsizetype i = 0; i < all.size(); ++i) {
        FUZZ_CHECK(all[i].start == at);
        FUZZ_CHECK(all[i].length > 0);
        FUZZ_CHECK(i == 0 || all[i].style != all[i - 1].style);
        at = all[i].end();
    }
    FUZZ_CHECK(at == text.size());

    const QList<hl::CodeBlock> blocks = hl::codeBlocks(text);
    FUZZ_CHECK(hl::pairFences(hl::fenceMarks(text)) == blocks);
    QList<hl::FenceMark> marksByLine;
    qsizetype first = 0; // walks along with the lines, so that checking them all stays linear
    for (const Line& line : linesOf(text)) {
        marksByLine += hl::fenceMarks(text.mid(line.start, line.end - line.start), line.start);
        while (first < all.size() && all[first].end() <= line.start)
            ++first;
        FUZZ_CHECK(lineRanges(text, line, blocks, faces) == cut(all, line, first));
    }
    FUZZ_CHECK(marksByLine == hl::fenceMarks(text));
}

// Keeps a position off the second half of a surrogate pair, as an editor would.
qsizetype snapped(const QString& text, qsizetype at) {
    if (at > 0 && at < text.size() && text[at].isLowSurrogate() && text[at - 1].isHighSurrogate())
        return at - 1;
    return at;
}

void checkEdit(const QString& before, const uint8_t* edit, const hl::Faces& faces) {
    static const QStringList insertions = {QString(),    u"```"_s, u"\n"_s,      u"```\n"_s,
                                           u"\n```\n"_s, u"`"_s,   u"*"_s,       u"# "_s,
                                           u"> "_s,      u"x"_s,   u"**a**\n"_s, u"- "_s};
    const qsizetype at = snapped(before, before.size() * edit[0] / 255);
    const qsizetype removed =
        snapped(before, std::min<qsizetype>(at + edit[1] % 8, before.size())) - at;
    const QString& inserted = insertions[edit[2] % insertions.size()];
    QString after = before;
    after.replace(at, removed, inserted);

    const QList<hl::CodeBlock> oldBlocks = hl::codeBlocks(before);
    const QList<hl::CodeBlock> newBlocks = hl::codeBlocks(after);
    const QList<hl::CodeBlock> flipped =
        hl::changedStretches(oldBlocks, newBlocks, at, removed, inserted.size());
    const qsizetype editEnd = at + inserted.size();
    const qsizetype delta = inserted.size() - removed;
    // The lines italics tie to the edited ones, in the text before and after.
    const auto lineStart = [](QStringView text, qsizetype p) {
        return p == 0 ? 0 : text.lastIndexOf(u'\n', p - 1) + 1;
    };
    const auto lineEnd = [](QStringView text, qsizetype p) {
        const qsizetype newline = text.indexOf(u'\n', p);
        return newline < 0 ? text.size() : newline + 1;
    };
    const hl::CodeBlock reachBefore =
        hl::italicReach(before, lineStart(before, at), lineEnd(before, at + removed));
    const hl::CodeBlock reachAfter =
        hl::italicReach(after, lineStart(after, at), lineEnd(after, editEnd));
    const qsizetype near = std::min(reachBefore.start, reachAfter.start);
    const qsizetype far = std::max(reachAfter.end, reachBefore.end + delta);

    // Lines touching a flipped stretch (touching counts, to stay on the safe
    // side), marked by binary search: a text of fences has thousands of both.
    const QList<Line> lines = linesOf(after);
    std::vector<int> marks(size_t(lines.size()) + 1, 0);
    for (const hl::CodeBlock& b : flipped) {
        const auto from =
            std::lower_bound(lines.begin(), lines.end(), b.start,
                             [](const Line& l, qsizetype pos) { return l.end < pos; });
        const auto to =
            std::upper_bound(lines.begin(), lines.end(), b.end,
                             [](qsizetype pos, const Line& l) { return pos < l.start; });
        if (from < to) {
            ++marks[size_t(from - lines.begin())];
            --marks[size_t(to - lines.begin())];
        }
    }
    int touching = 0;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const Line& line = lines[i];
        touching += marks[size_t(i)];
        // The lines holding the edit are restyled anyway.
        const bool edited =
            (line.end >= at && line.start <= editEnd) || (line.start < far && line.end > near);
        if (edited || touching > 0)
            continue;
        // Kept lines lie wholly before or after the edit, with the same text.
        const Line old = line.start >= editEnd ? Line{line.start - delta, line.end - delta} : line;
        FUZZ_CHECK(QStringView(after).mid(line.start, line.end - line.start) ==
                   QStringView(before).mid(old.start, old.end - old.start));
        FUZZ_CHECK(lineRanges(after, line, newBlocks, faces) ==
                   shifted(lineRanges(before, old, oldBlocks, faces), line.start - old.start));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4)
        return 0;
    hl::Faces faces;
    faces.text = {bool(data[0] & 1), bool(data[0] & 2), bool(data[0] & 4)};
    faces.monospace = {bool(data[0] & 8), bool(data[0] & 16), bool(data[0] & 32)};
    const QString text = orvik::fuzz::text(data + 4, size - 4);

    checkWhole(text, faces);
    checkEdit(text, data + 1, faces);
    return 0;
}
