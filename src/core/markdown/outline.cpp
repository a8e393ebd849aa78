#include "outline.h"

#include "highlighter.h"

#include <algorithm>

namespace orvik::outline {

namespace {

bool isBlank(QChar c) {
    return c == u' ' || c == u'\t';
}

QStringView trimmedBlanks(QStringView s) {
    while (!s.isEmpty() && isBlank(s.front()))
        s = s.sliced(1);
    while (!s.isEmpty() && isBlank(s.back()))
        s.chop(1);
    return s;
}

} // namespace

QList<Heading> headings(QStringView text) {
    // Most sheets have no fences at all: the fence scan is a line scan too.
    const QList<MarkdownHighlighter::CodeBlock> code = MarkdownHighlighter::codeBlocks(text);
    auto block = code.cbegin();
    QList<Heading> found;
    qsizetype lineStart = 0;
    while (lineStart < text.size()) {
        qsizetype lineEnd = text.indexOf(u'\n', lineStart);
        if (lineEnd < 0)
            lineEnd = text.size();
        if (text[lineStart] == u'#') {
            while (block != code.cend() && block->end < lineStart)
                ++block;
            const bool inCode = block != code.cend() && block->start <= lineStart;
            const QStringView line = text.sliced(lineStart, lineEnd - lineStart);
            int level = 0;
            while (level < line.size() && level < 7 && line[level] == u'#')
                ++level;
            if (!inCode && level <= 6 && level < line.size() && isBlank(line[level])) {
                QStringView title = trimmedBlanks(line.sliced(level));
                // A closing run of "#" belongs to the markup, not to the title.
                qsizetype hashes = title.size();
                while (hashes > 0 && title[hashes - 1] == u'#')
                    --hashes;
                if (hashes < title.size() && (hashes == 0 || isBlank(title[hashes - 1])))
                    title = trimmedBlanks(title.first(hashes));
                if (!title.isEmpty())
                    found.append({lineStart, level, title.toString()});
            }
        }
        lineStart = lineEnd + 1;
    }
    return found;
}

qsizetype sectionAt(const QList<Heading>& headings, qsizetype position) {
    const auto after =
        std::upper_bound(headings.cbegin(), headings.cend(), position,
                         [](qsizetype p, const Heading& h) { return p < h.position; });
    return (after - headings.cbegin()) - 1;
}

} // namespace orvik::outline
