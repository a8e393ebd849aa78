#include "fold.h"

#include <QChar>
#include <QHash>
#include <QString>

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <limits>
#include <memory>
#include <string_view>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace orvik::search {

namespace {

inline char lowerAscii(char c) {
    const auto u = static_cast<unsigned char>(c);
    return static_cast<char>(unsigned(u - 'A') < 26u ? u + 0x20 : u);
}

inline bool isContinuation(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

int encodeUtf8(char32_t c, char* out) {
    if (c < 0x80) {
        out[0] = static_cast<char>(c);
        return 1;
    }
    if (c < 0x800) {
        out[0] = static_cast<char>(0xC0 | (c >> 6));
        out[1] = static_cast<char>(0x80 | (c & 0x3F));
        return 2;
    }
    if (c < 0x10000) {
        out[0] = static_cast<char>(0xE0 | (c >> 12));
        out[1] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out[2] = static_cast<char>(0x80 | (c & 0x3F));
        return 3;
    }
    out[0] = static_cast<char>(0xF0 | (c >> 18));
    out[1] = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out[2] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out[3] = static_cast<char>(0x80 | (c & 0x3F));
    return 4;
}

bool foldsToItself(char32_t cp) {
    return QChar::decompositionTag(cp) != QChar::Canonical &&
           QChar::category(cp) != QChar::Mark_NonSpacing && QChar::toCaseFolded(cp) == cp &&
           cp != U'ß';
}

// The reference definition of the fold of one code point. Applying it code
// point by code point equals folding a whole string, because every step but
// canonical reordering works per code point, and reordering only moves marks
// that are dropped anyway.
QByteArray computeFold(char32_t cp) {
    QByteArray out;
    char buffer[4];
    if (foldsToItself(cp)) {
        out.append(buffer, encodeUtf8(cp, buffer));
        return out;
    }
    // Without a canonical decomposition the code point is its own NFD: no
    // need for the normalization, which would make building the table cost a
    // process more than its search.
    if (QChar::decompositionTag(cp) != QChar::Canonical) {
        if (QChar::category(cp) == QChar::Mark_NonSpacing)
            return out;
        const char32_t c = QChar::toCaseFolded(cp);
        if (c == U'ß')
            out.append("ss");
        else
            out.append(buffer, encodeUtf8(c, buffer));
        return out;
    }
    const QString nfd = QString::fromUcs4(&cp, 1).normalized(QString::NormalizationForm_D);
    for (qsizetype i = 0; i < nfd.size(); ++i) {
        char32_t c = nfd.at(i).unicode();
        if (QChar::isHighSurrogate(c) && i + 1 < nfd.size() && nfd.at(i + 1).isLowSurrogate()) {
            c = QChar::surrogateToUcs4(nfd.at(i), nfd.at(i + 1));
            ++i;
        }
        if (QChar::category(c) == QChar::Mark_NonSpacing)
            continue;
        c = QChar::toCaseFolded(c);
        if (c == U'ß')
            out.append("ss");
        else
            out.append(buffer, encodeUtf8(c, buffer));
    }
    return out;
}

// Everything below U+3000 (Latin, Greek, Cyrillic, the combining marks,
// punctuation) comes from a table built once; rarer scripts go through a
// per-thread memo of computeFold.
constexpr char32_t tableEnd = 0x3000;

struct TableEntry {
    char bytes[7];
    quint8 length; // tooLong: not in the table
};
constexpr quint8 tooLong = 0xFF;

// Original bytes between two checkpoints of a text whose length changed.
constexpr qsizetype checkpointSpacing = 256;

const std::array<TableEntry, tableEnd>& foldTable() {
    static const auto table = [] {
        auto t = std::make_unique<std::array<TableEntry, tableEnd>>();
        for (char32_t cp = 0; cp < tableEnd; ++cp) {
            TableEntry& e = (*t)[cp];
            const QByteArray f = computeFold(cp);
            if (f.size() > qsizetype(sizeof e.bytes)) {
                e.length = tooLong;
                continue;
            }
            std::memcpy(e.bytes, f.constData(), f.size());
            e.length = quint8(f.size());
        }
        return t;
    }();
    return *table;
}

struct Piece {
    const char* data;
    qsizetype length;
};

const QByteArray& memoizedFold(char32_t cp) {
    thread_local QHash<char32_t, QByteArray> memo;
    auto it = memo.constFind(cp);
    if (it == memo.constEnd())
        it = memo.insert(cp, computeFold(cp));
    return *it;
}

Piece foldCodePoint(char32_t cp, const TableEntry* table) {
    if (cp < tableEnd && table[cp].length != tooLong)
        return {table[cp].bytes, table[cp].length};
    const QByteArray& f = memoizedFold(cp);
    return {f.constData(), f.size()};
}

// Decodes one code point of strict UTF-8 (no overlongs, surrogates or values
// above U+10FFFF) at s[0]; returns its length, or 0 if invalid.
int decodeCodePoint(const unsigned char* s, qsizetype available, char32_t& cp) {
    const unsigned char c = s[0];
    int length;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (c >= 0xC2 && c <= 0xDF) {
        length = 2;
        cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
        length = 3;
        cp = c & 0x0F;
        if (c == 0xE0)
            low = 0xA0;
        else if (c == 0xED)
            high = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        length = 4;
        cp = c & 0x07;
        if (c == 0xF0)
            low = 0x90;
        else if (c == 0xF4)
            high = 0x8F;
    } else {
        return 0;
    }
    if (available < length)
        return 0;
    // Only the second byte has a narrowed range.
    if (s[1] < low || s[1] > high)
        return 0;
    cp = (cp << 6) | (s[1] & 0x3F);
    for (int i = 2; i < length; ++i) {
        if ((s[i] & 0xC0) != 0x80)
            return 0;
        cp = (cp << 6) | (s[i] & 0x3F);
    }
    return length;
}

// Makes room for `needed` more output bytes after `used`; rare, only after
// characters whose fold is longer than they are.
Q_NEVER_INLINE char* grow(QByteArray& out, qsizetype used, qsizetype needed) {
    out.resize(std::max(used + needed, out.size() + out.size() / 2));
    return out.data();
}

// Output room beyond the input's length: ASCII is written sixteen bytes and
// table entries eight bytes at a time.
constexpr qsizetype slack = 16;

// Folds s[0, n) into `out`, which holds at least n + slack bytes, and appends
// the checkpoints; the folded length, or -1 for invalid UTF-8. Output beyond
// the input's length only comes from expanding characters; `headroom` says how
// much of that still fits.
qsizetype foldInto(const unsigned char* const s, const qsizetype n, QByteArray& out,
                   std::vector<Checkpoint>& checkpoints, bool& lengthChanged) {
    const TableEntry* const table = foldTable().data();
    checkpoints.push_back({0, 0});
    char* d = out.data();
    qsizetype headroom = 0;
    qsizetype i = 0;
    qsizetype o = 0;
    lengthChanged = false;
    qsizetype nextCheckpoint = checkpointSpacing;

    while (i < n) {
        if (i >= nextCheckpoint) [[unlikely]] {
            checkpoints.push_back({quint32(i), quint32(o)});
            nextCheckpoint = i + checkpointSpacing;
        }
#if defined(__SSE2__)
        if (n - i >= 16) [[likely]] {
            // Lower-case sixteen bytes; bytes of 0x80 and more are negative as
            // signed chars and stay as they are. Everything up to the first
            // non-ASCII byte is final.
            const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
            const __m128i upper = _mm_and_si128(_mm_cmpgt_epi8(x, _mm_set1_epi8('A' - 1)),
                                                _mm_cmplt_epi8(x, _mm_set1_epi8('Z' + 1)));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(d + o),
                             _mm_add_epi8(x, _mm_and_si128(upper, _mm_set1_epi8(0x20))));
            const auto nonAscii = unsigned(_mm_movemask_epi8(x));
            if (nonAscii == 0) {
                i += 16;
                o += 16;
                continue;
            }
            const int ascii = std::countr_zero(nonAscii);
            i += ascii;
            o += ascii;
        } else
#endif
            if (s[i] < 0x80) {
            d[o++] = lowerAscii(char(s[i++]));
            continue;
        }

        qsizetype foldedLength;
        qsizetype length;
        const TableEntry* e = nullptr;
        if (s[i] >= 0xC2 && s[i] < 0xE0 && i + 1 < n && (s[i + 1] & 0xC0) == 0x80) [[likely]]
            e = &table[(s[i] & 0x1F) << 6 | (s[i + 1] & 0x3F)];
        if (e && e->length != tooLong) [[likely]] {
            // Two-byte characters: Latin, Greek, Cyrillic, the common case.
            std::memcpy(d + o, e->bytes, 8);
            foldedLength = e->length;
            length = 2;
        } else {
            char32_t cp;
            length = decodeCodePoint(s + i, n - i, cp);
            if (length == 0)
                return -1;
            const Piece piece = foldCodePoint(cp, table);
            if (piece.length > slack) [[unlikely]] {
                d = grow(out, o, piece.length + (n - i) + slack);
                headroom = out.size() - n - slack - (o - i);
            }
            std::memcpy(d + o, piece.data, piece.length);
            foldedLength = piece.length;
        }
        if (foldedLength != length) {
            lengthChanged = true;
            headroom -= foldedLength - length;
            if (headroom < 0) [[unlikely]] {
                const qsizetype used = o + foldedLength;
                d = grow(out, used, (n - i - length) + slack);
                headroom = out.size() - n - slack - (used - i - length);
            }
        }
        o += foldedLength;
        i += length;
    }

    return o;
}

} // namespace

std::optional<FoldedText> foldUtf8(const QByteArray& text) {
    const qsizetype n = text.size();
    if (quint64(n) >= std::numeric_limits<quint32>::max())
        return std::nullopt;
    const auto* const s = reinterpret_cast<const unsigned char*>(text.constData());
    FoldedText result;
    QByteArray out(n + slack, Qt::Uninitialized);
    bool lengthChanged = false;
    const qsizetype o = foldInto(s, n, out, result.checkpoints, lengthChanged);
    if (o < 0)
        return std::nullopt;
    if (!lengthChanged) {
        result.checkpoints.clear();
        if (std::memcmp(out.constData(), s, size_t(n)) == 0) {
            result.bytes = text;
            return result;
        }
    }
    out.truncate(o);
    out.squeeze();
    result.bytes = std::move(out);
    result.checkpoints.shrink_to_fit();
    return result;
}

bool foldUtf8Into(QByteArrayView text, FoldedText& out) {
    const qsizetype n = text.size();
    out.checkpoints.clear();
    if (quint64(n) >= std::numeric_limits<quint32>::max())
        return false;
    // Within its capacity, a buffer that is not shared keeps its memory.
    out.bytes.resize(n + slack);
    bool lengthChanged = false;
    const qsizetype o = foldInto(reinterpret_cast<const unsigned char*>(text.data()), n, out.bytes,
                                 out.checkpoints, lengthChanged);
    if (o < 0)
        return false;
    if (!lengthChanged)
        out.checkpoints.clear();
    out.bytes.resize(o);
    return true;
}

// The exceptions are a byte stream of records, each over the folded bytes
// that follow the previous one:
//   0x00-0x7F  that many bytes fold to themselves, then an ASCII capital whose
//              fold is the next folded byte
//   0x80-0xBF  (low six bits + 1) bytes fold to themselves
//   0xC0-0xFF  (low six bits) bytes fold to themselves, then a character whose
//              original and folded lengths follow in one byte (three and five
//              bits), then its original bytes; or, for the frequent characters
//              below, 0xA0 + their place there instead
// Bytes after the last record fold to themselves.
namespace {

constexpr unsigned char asciiLimit = 0x7F;
constexpr unsigned char generalLimit = 0x3F;
constexpr unsigned char frequentBase = 0xA0;

// The characters of German text, and some of French, that do not fold to
// themselves: nearly all of the exceptions but the capitals.
constexpr char32_t frequentCharacters[] = {U'ä', U'ö', U'ü', U'Ä', U'Ö', U'Ü', U'ß', U'é',
                                           U'è', U'à', U'á', U'ç', U'É', U'ñ', U'ô', U'ê'};
constexpr int frequentCount = int(std::size(frequentCharacters));

struct Frequent {
    char original[4];
    int originalLength;
    int foldedLength;
};

const std::array<Frequent, frequentCount>& frequentTable() {
    static const auto table = [] {
        std::array<Frequent, frequentCount> t{};
        for (int i = 0; i < frequentCount; ++i) {
            t[i].originalLength = encodeUtf8(frequentCharacters[i], t[i].original);
            t[i].foldedLength = int(computeFold(frequentCharacters[i]).size());
        }
        return t;
    }();
    return table;
}

int frequentIndex(char32_t cp) {
    for (int i = 0; i < frequentCount; ++i)
        if (frequentCharacters[i] == cp)
            return i;
    return -1;
}

void flushRun(QByteArray& exceptions, qsizetype& run, qsizetype limit) {
    while (run > limit) {
        const qsizetype k = std::min<qsizetype>(64, run);
        exceptions.append(char(0x80 | (k - 1)));
        run -= k;
    }
}

} // namespace

bool foldWithExceptions(QByteArrayView text, QByteArray& folded, QByteArray& exceptions) {
    const qsizetype n = text.size();
    if (quint64(n) >= std::numeric_limits<quint32>::max())
        return false;
    const auto* const s = reinterpret_cast<const unsigned char*>(text.data());
    const TableEntry* const table = foldTable().data();
    folded.reserve(folded.size() + n);
    qsizetype run = 0;
    for (qsizetype i = 0; i < n;) {
        const unsigned char c = s[i];
        if (c < 0x80) {
            if (c >= 'A' && c <= 'Z') {
                flushRun(exceptions, run, asciiLimit);
                exceptions.append(char(run));
                run = 0;
                folded.append(char(c + 0x20));
            } else {
                folded.append(char(c));
                ++run;
            }
            ++i;
            continue;
        }
        char32_t cp;
        const int length = decodeCodePoint(s + i, n - i, cp);
        if (length == 0)
            return false;
        const Piece piece = foldCodePoint(cp, table);
        if (piece.length == length && std::memcmp(piece.data, s + i, size_t(length)) == 0) {
            run += length;
        } else {
            if (piece.length > 31)
                return false;
            flushRun(exceptions, run, generalLimit);
            exceptions.append(char(0xC0 | run));
            if (const int k = frequentIndex(cp); k >= 0) {
                exceptions.append(char(frequentBase + k));
            } else {
                exceptions.append(char(length << 5 | piece.length));
                exceptions.append(reinterpret_cast<const char*>(s + i), length);
            }
            run = 0;
        }
        folded.append(piece.data, piece.length);
        i += length;
    }
    return true;
}

namespace {

// Walks the records of an exception stream: `same(f, o, k)` for k bytes that
// fold to themselves at folded offset f and original offset o,
// `other(f, o, foldedLength, original)` for a character that does not. Each
// returns false to stop. false when the records do not fit the folded bytes.
template <typename Same, typename Other>
bool walkExceptions(QByteArrayView folded, QByteArrayView exceptions, Same same, Other other) {
    const auto* e = reinterpret_cast<const unsigned char*>(exceptions.data());
    const qsizetype m = exceptions.size();
    const qsizetype n = folded.size();
    qsizetype f = 0;
    qsizetype o = 0;
    char upper[1];
    for (qsizetype r = 0; r < m;) {
        const unsigned char b = e[r++];
        const qsizetype run = b < 0x80 ? b : b < 0xC0 ? (b & 0x3F) + 1 : b & 0x3F;
        if (run > n - f)
            return false;
        if (run > 0 && !same(f, o, run))
            return true;
        f += run;
        o += run;
        if (b >= 0x80 && b < 0xC0)
            continue;
        if (b < 0x80) {
            if (f >= n || folded[f] < 'a' || folded[f] > 'z')
                return false;
            upper[0] = char(folded[f] - 0x20);
            if (!other(f, o, 1, QByteArrayView(upper, 1)))
                return true;
            ++f;
            ++o;
            continue;
        }
        if (r >= m)
            return false;
        const int lengths = e[r++];
        qsizetype originalLength = lengths >> 5;
        qsizetype foldedLength = lengths & 0x1F;
        const char* original = reinterpret_cast<const char*>(e + r);
        if (lengths >= frequentBase) {
            if (lengths - frequentBase >= frequentCount)
                return false;
            const Frequent& c = frequentTable()[lengths - frequentBase];
            original = c.original;
            originalLength = c.originalLength;
            foldedLength = c.foldedLength;
        } else if (originalLength == 0 || originalLength > m - r) {
            return false;
        } else {
            r += originalLength;
        }
        if (foldedLength > n - f)
            return false;
        if (!other(f, o, foldedLength, QByteArrayView(original, originalLength)))
            return true;
        f += foldedLength;
        o += originalLength;
    }
    if (f < n)
        same(f, o, n - f);
    return true;
}

} // namespace

bool restoreOriginal(QByteArrayView folded, QByteArrayView exceptions, qsizetype from, qsizetype to,
                     QByteArray& out, qsizetype* foldedFrom) {
    const qsizetype start = out.size();
    qsizetype foldedStart = -1;
    // Never more than the range asks for: written in place, cut to size after.
    out.resize(start + std::max<qsizetype>(0, to - from));
    char* d = out.data() + start;
    qsizetype used = 0;
    const bool fits = walkExceptions(
        folded, exceptions,
        [&](qsizetype f, qsizetype o, qsizetype k) {
            if (o >= to)
                return false;
            if (o + k > from) {
                const qsizetype a = std::max(from, o);
                const qsizetype b = std::min(to, o + k);
                if (foldedStart < 0)
                    foldedStart = f + (a - o);
                std::memcpy(d + used, folded.data() + f + (a - o), size_t(b - a));
                used += b - a;
            }
            return true;
        },
        [&](qsizetype f, qsizetype o, qsizetype, QByteArrayView original) {
            if (o + original.size() > to)
                return false;
            if (o >= from) {
                if (foldedStart < 0)
                    foldedStart = f;
                std::memcpy(d + used, original.data(), size_t(original.size()));
                used += original.size();
            }
            return true;
        });
    out.truncate(start + used);
    if (!fits)
        return false;
    // Whole characters only: a cut inside a character that folds to itself
    // leaves its other bytes at the ends.
    qsizetype lead = 0;
    while (start + lead < out.size() && isContinuation(out[start + lead]))
        ++lead;
    out.remove(start, lead);
    if (foldedFrom)
        *foldedFrom = foldedStart < 0 ? folded.size() : foldedStart + lead;
    qsizetype end = out.size();
    qsizetype back = end;
    while (back > start && isContinuation(out[back - 1]))
        --back;
    if (back > start) {
        const auto leadByte = static_cast<unsigned char>(out[back - 1]);
        const qsizetype want = leadByte < 0x80    ? 1
                               : leadByte >= 0xF0 ? 4
                               : leadByte >= 0xE0 ? 3
                                                  : 2;
        if (end - (back - 1) < want)
            end = back - 1;
    }
    out.truncate(end);
    return true;
}

bool originalOffsetsOf(QByteArrayView folded, QByteArrayView exceptions,
                       std::array<qsizetype, 2>& offsets) {
    size_t next = 0;
    // Each folded offset in turn, the second never before the first.
    const auto take = [&](qsizetype end, qsizetype original, qsizetype f, bool same) {
        while (next < offsets.size() && offsets[next] < end) {
            offsets[next] = same ? original + (offsets[next] - f) : original;
            ++next;
        }
        return next < offsets.size();
    };
    const bool fits = walkExceptions(
        folded, exceptions,
        [&](qsizetype f, qsizetype o, qsizetype k) { return take(f + k, o, f, true); },
        [&](qsizetype f, qsizetype o, qsizetype foldedLength, QByteArrayView) {
            return take(f + foldedLength, o, f, false);
        });
    return fits && next == offsets.size();
}

QByteArray foldQuery(QStringView query) {
    // toUtf8 never yields invalid UTF-8, so the fold always succeeds.
    auto folded = foldUtf8(query.toUtf8());
    return folded ? folded->bytes : QByteArray();
}

namespace {

qsizetype foldedLength(char32_t cp, const TableEntry* table) {
    if (cp < tableEnd && table[cp].length != tooLong)
        return table[cp].length;
    return memoizedFold(cp).size();
}

// Length of the run of ASCII bytes at the start of s.
qsizetype asciiRun(const unsigned char* s, qsizetype n) {
    qsizetype k = 0;
#if defined(__SSE2__)
    for (; k + 16 <= n; k += 16) {
        const auto high =
            unsigned(_mm_movemask_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(s + k))));
        if (high != 0)
            return k + std::countr_zero(high);
    }
#endif
    while (k < n && s[k] < 0x80)
        ++k;
    return k;
}

qsizetype toOriginal(const FoldedText& folded, QByteArrayView original, qsizetype offset,
                     bool rangeEnd) {
    const qsizetype n = original.size();
    const auto& checkpoints = folded.checkpoints;
    if (checkpoints.empty()) {
        qsizetype o = std::min(offset, n);
        if (rangeEnd) {
            while (o < n && isContinuation(original[o]))
                ++o;
        } else {
            while (o > 0 && o < n && isContinuation(original[o]))
                --o;
        }
        return o;
    }

    const auto after = std::upper_bound(
        checkpoints.begin(), checkpoints.end(), offset,
        [](qsizetype value, const Checkpoint& c) { return value < qsizetype(c.folded); });
    qsizetype o = 0;
    qsizetype f = 0;
    if (after != checkpoints.begin()) {
        o = (after - 1)->original;
        f = (after - 1)->folded;
    }
    const TableEntry* const table = foldTable().data();
    const auto* s = reinterpret_cast<const unsigned char*>(original.data());
    while (o < n) {
        if (s[o] < 0x80) {
            // Across ASCII both offsets move in step.
            const qsizetype run = asciiRun(s + o, n - o);
            if (offset < f + run)
                return o + (offset - f);
            o += run;
            f += run;
            continue;
        }
        char32_t cp;
        const int length = decodeCodePoint(s + o, n - o, cp);
        const qsizetype fl = foldedLength(cp, table);
        // A character that folds to nothing (a mark) belongs to the one before
        // it: neither a range's start nor its end stops in front of it.
        if (fl > 0) {
            if (f == offset)
                return o;
            if (offset < f + fl)
                return rangeEnd ? o + length : o;
        }
        o += std::max(length, 1);
        f += fl;
    }
    return n;
}

} // namespace

qsizetype originalStart(const FoldedText& folded, QByteArrayView original, qsizetype offset) {
    return toOriginal(folded, original, offset, false);
}

qsizetype originalEnd(const FoldedText& folded, QByteArrayView original, qsizetype offset) {
    return toOriginal(folded, original, offset, true);
}

namespace {

// How often a byte is expected in German text, with the characters that fold
// to it (ä, ö, ü, ß): the pair looked for takes the rarest bytes.
int commonness(char c) {
    static constexpr std::string_view rareFirst = "qxjyvkzwpfbmgh0123456789clt-dr'nieaous .,";
    const qsizetype at = qsizetype(rareFirst.find(c));
    return at < 0 ? 20 : int(at);
}

bool holdsEither(QByteArrayView fold, char a, char b) {
    return fold.isEmpty() || fold.contains(a) || fold.contains(b);
}

} // namespace

PhraseFinder::PhraseFinder(QByteArray needle) : m_needle(std::move(needle)) {
    const auto ascii = [](char c) { return uchar(c) < 0x80; };
    int best = std::numeric_limits<int>::max();
    for (qsizetype i = 0; i + 1 < m_needle.size(); ++i) {
        const char a = m_needle[i], b = m_needle[i + 1];
        if (!ascii(a) || !ascii(b))
            continue;
        if (const int score = commonness(a) + commonness(b); score < best) {
            best = score;
            m_pair = i;
        }
    }
    if (m_pair < 0)
        return;
    const TableEntry* const table = foldTable().data();
    const char a = m_needle[m_pair], b = m_needle[m_pair + 1];
    for (char32_t cp = 0x80; cp < tableEnd; ++cp) {
        const Piece piece = foldCodePoint(cp, table);
        m_pairSources[cp] = holdsEither(QByteArrayView(piece.data, piece.length), a, b);
    }
}

// An occurrence's pair comes from two neighbouring ASCII characters (marks
// between them fold to nothing and are sources themselves), or at least one
// of its bytes from a character whose fold holds it. So a text in which
// neither shows cannot hold the needle.
PhraseFinder::Presence PhraseFinder::presenceIn(QByteArrayView original) const {
    const qsizetype n = original.size();
    if (m_pair < 0 || quint64(n) >= std::numeric_limits<quint32>::max())
        return Presence::Possible;
    const auto* const s = reinterpret_cast<const unsigned char*>(original.data());
    const char a = m_needle[m_pair], b = m_needle[m_pair + 1];
    qsizetype next = 0; // the first byte not yet known to belong to a checked character
    // A byte beyond ASCII at s[at]: nothing when it belongs to the character
    // checked last; else the verdict its character decides, if any.
    const auto character = [&](qsizetype at) -> std::optional<Presence> {
        if (at < next)
            return std::nullopt;
        char32_t cp;
        const int length = decodeCodePoint(s + at, n - at, cp);
        if (length == 0)
            return Presence::Invalid;
        next = at + length;
        const bool source =
            cp < tableEnd ? bool(m_pairSources[cp]) : holdsEither(memoizedFold(cp), a, b);
        return source ? std::optional(Presence::Possible) : std::nullopt;
    };
    qsizetype i = 0;
    bool afterA = false; // s[i - 1] folds to a
#if defined(__SSE2__)
    const __m128i capitalsFrom = _mm_set1_epi8('A' - 1);
    const __m128i capitalsTo = _mm_set1_epi8('Z' + 1);
    const __m128i toLower = _mm_set1_epi8(0x20);
    const __m128i wantA = _mm_set1_epi8(a);
    const __m128i wantB = _mm_set1_epi8(b);
    // Bytes of 0x80 and more never equal an ASCII byte, so the pair is
    // looked for in whole blocks; each character beyond ASCII is checked
    // from its first byte, which also finds bytes that start none.
    for (; i + 16 <= n; i += 16) {
        const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
        const __m128i upper =
            _mm_and_si128(_mm_cmpgt_epi8(x, capitalsFrom), _mm_cmplt_epi8(x, capitalsTo));
        const __m128i lower = _mm_add_epi8(x, _mm_and_si128(upper, toLower));
        const auto as = unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(lower, wantA)));
        const auto bs = unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(lower, wantB)));
        if (((as << 1) | unsigned(afterA)) & bs)
            return Presence::Possible;
        afterA = (as >> 15) & 1;
        for (auto high = unsigned(_mm_movemask_epi8(x)); high != 0; high &= high - 1)
            if (const auto verdict = character(i + std::countr_zero(high)))
                return *verdict;
    }
#endif
    for (; i < n; ++i) {
        if (s[i] < 0x80) {
            const char c = lowerAscii(char(s[i]));
            if (afterA && c == b)
                return Presence::Possible;
            afterA = c == a;
            continue;
        }
        afterA = false;
        if (const auto verdict = character(i))
            return *verdict;
    }
    return Presence::Absent;
}

qsizetype PhraseFinder::indexIn(QByteArrayView haystack, qsizetype from) const {
    const qsizetype m = m_needle.size();
    const qsizetype n = haystack.size();
    if (m == 0 || from < 0 || n - from < m)
        return -1;
    const char* h = haystack.data();
    const char* p = m_needle.constData();
    if (m == 1) {
        const void* hit = std::memchr(h + from, p[0], size_t(n - from));
        return hit ? static_cast<const char*>(hit) - h : -1;
    }
    const qsizetype lastStart = n - m;
    qsizetype i = from;
    // Typical queries are short words; a call to memcmp would cost more than
    // comparing their few middle bytes in place.
    const auto middleMatches = [p, m](const char* at) {
        if (m > 10)
            return std::memcmp(at + 1, p + 1, size_t(m - 2)) == 0;
        for (qsizetype k = 1; k < m - 1; ++k) {
            if (at[k] != p[k])
                return false;
        }
        return true;
    };
#if defined(__SSE2__)
    // Test sixteen start positions at once on the needle's first and last
    // byte; only positions passing both get a full comparison.
    const __m128i first = _mm_set1_epi8(p[0]);
    const __m128i last = _mm_set1_epi8(p[m - 1]);
    for (; i + 15 <= lastStart; i += 16) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(h + i));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(h + i + m - 1));
        auto mask = unsigned(
            _mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi8(a, first), _mm_cmpeq_epi8(b, last))));
        while (mask != 0) {
            const int bit = std::countr_zero(mask);
            if (middleMatches(h + i + bit))
                return i + bit;
            mask &= mask - 1;
        }
    }
#endif
    for (; i <= lastStart; ++i) {
        if (h[i] == p[0] && h[i + m - 1] == p[m - 1] && middleMatches(h + i))
            return i;
    }
    return -1;
}

} // namespace orvik::search
