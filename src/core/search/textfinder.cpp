#include "textfinder.h"

#include "fold.h"

#include <QByteArray>

namespace orvik::search {

namespace {

// UTF-16 length of the UTF-8 bytes [from, to), which start and end on
// character boundaries: four-byte sequences are surrogate pairs.
qsizetype utf16Length(const QByteArray& utf8, qsizetype from, qsizetype to) {
    qsizetype units = 0;
    for (qsizetype i = from; i < to; ++i) {
        const auto byte = static_cast<unsigned char>(utf8[i]);
        if ((byte & 0xC0) != 0x80)
            units += byte >= 0xF0 ? 2 : 1;
    }
    return units;
}

} // namespace

QList<TextRange> findFolded(QStringView text, QStringView query) {
    QList<TextRange> hits;
    const PhraseFinder finder(foldQuery(query));
    if (finder.size() == 0 || text.isEmpty())
        return hits;
    // Lone surrogates cannot be encoded; they become U+FFFD, one unit each,
    // so offsets still agree.
    const QByteArray utf8 = text.toUtf8();
    const std::optional<FoldedText> folded = foldUtf8(utf8);
    if (!folded)
        return hits;
    // Hits ascend, so byte offsets are turned into UTF-16 offsets by walking
    // the text once.
    qsizetype byte = 0;
    qsizetype unit = 0;
    const auto unitAt = [&](qsizetype to) {
        unit += utf16Length(utf8, byte, to);
        byte = to;
        return unit;
    };
    for (qsizetype at = finder.indexIn(folded->bytes, 0); at >= 0;
         at = finder.indexIn(folded->bytes, at + finder.size())) {
        const qsizetype start = originalStart(*folded, utf8, at);
        const qsizetype end = originalEnd(*folded, utf8, at + finder.size());
        // Two hits inside the folded form of one character ("ss" twice in
        // "ßß" is fine, but "s" in "ß") widen to the same range: keep one.
        if (start < byte)
            continue;
        const TextRange range{unitAt(start), unitAt(end)};
        if (!hits.isEmpty() && hits.last() == range)
            continue;
        hits.append(range);
    }
    return hits;
}

} // namespace orvik::search
