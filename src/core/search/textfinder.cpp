#include "textfinder.h"

#include "fold.h"

#include <QHash>
#include <QString>

#include <string>
#include <vector>

namespace orvik::search {

namespace {

// The text folded as the library search folds it, kept as UTF-16 with the
// offset in the original each folded unit came from, so that every hit maps
// back in constant time however many there are.
struct FoldedUnits {
    std::u16string text;
    std::vector<quint32> origin; // texts of 4 Gi units and more are not searched
};

FoldedUnits foldUnits(QStringView text) {
    FoldedUnits folded;
    const qsizetype n = text.size();
    folded.text.resize(size_t(n));
    folded.origin.resize(size_t(n));
    const char16_t* in = text.utf16();
    size_t out = 0;
    QHash<char32_t, QString> memo;
    for (qsizetype i = 0; i < n;) {
        const char16_t c = in[i];
        if (c < 0x80) {
            // The common case, without a call: ASCII folds to its lower case.
            if (out == folded.text.size()) {
                folded.text.resize(out + out / 4 + 16);
                folded.origin.resize(folded.text.size());
            }
            folded.text[out] = c >= u'A' && c <= u'Z' ? char16_t(c + 32) : c;
            folded.origin[out++] = quint32(i++);
            continue;
        }
        const bool pair =
            QChar::isHighSurrogate(c) && i + 1 < n && QChar::isLowSurrogate(in[i + 1]);
        const qsizetype length = pair ? 2 : 1;
        const char32_t cp = pair ? QChar::surrogateToUcs4(c, in[i + 1]) : c;
        auto it = memo.constFind(cp);
        if (it == memo.constEnd())
            // A lone surrogate half stays as it is.
            it = memo.insert(cp, QChar::isSurrogate(c) && !pair
                                     ? QString(QChar(c))
                                     : QString::fromUtf8(foldQuery(text.mid(i, length))));
        const QString& piece = *it;
        if (out + size_t(piece.size()) > folded.text.size()) {
            folded.text.resize(out + size_t(piece.size()) + out / 4 + 16);
            folded.origin.resize(folded.text.size());
        }
        for (const QChar unit : std::as_const(piece)) {
            folded.text[out] = unit.unicode();
            folded.origin[out++] = quint32(i);
        }
        i += length;
    }
    folded.text.resize(out);
    folded.origin.resize(out);
    return folded;
}

} // namespace

QList<TextRange> findFolded(QStringView text, QStringView query) {
    QList<TextRange> hits;
    const QString needle = QString::fromUtf8(foldQuery(query));
    if (needle.isEmpty() || text.isEmpty() || text.size() > qsizetype(UINT32_MAX))
        return hits;
    const FoldedUnits folded = foldUnits(text);
    const QStringView haystack(folded.text.data(), qsizetype(folded.text.size()));
    const qsizetype size = haystack.size();
    // The end of the original character that folded unit `k` belongs to:
    // marks dropped after it belong to it too.
    const auto endOf = [&](qsizetype k) {
        for (qsizetype next = k + 1; next < size; ++next)
            if (folded.origin[size_t(next)] != folded.origin[size_t(k)])
                return qsizetype(folded.origin[size_t(next)]);
        return text.size();
    };
    qsizetype covered = 0;
    for (qsizetype at = haystack.indexOf(needle); at >= 0;
         at = haystack.indexOf(needle, at + needle.size())) {
        const qsizetype start = qsizetype(folded.origin[size_t(at)]);
        // A second hit inside the folded form of one character ("s" twice
        // in "ß") widens to the range already found.
        if (start < covered)
            continue;
        covered = endOf(at + needle.size() - 1);
        hits.append({start, covered});
    }
    return hits;
}

} // namespace orvik::search
