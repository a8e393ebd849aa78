#include "snippet.h"

#include "platform/text.h"

#include <optional>

namespace orvik::search {

namespace {

inline bool isContinuation(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

// Decodes the (already validated) code point starting at offset i.
char32_t codePointAt(QByteArrayView s, qsizetype i) {
    const auto c = static_cast<unsigned char>(s[i]);
    if (c < 0x80)
        return c;
    const int length = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : 2;
    char32_t cp = c & (0x3F >> (length - 1));
    for (int k = 1; k < length && i + k < s.size(); ++k)
        cp = (cp << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
    return cp;
}

qsizetype previousCodePoint(QByteArrayView s, qsizetype i) {
    --i;
    while (i > 0 && isContinuation(s[i]))
        --i;
    return i;
}

// Code points that always form a grapheme cluster of their own (CR LF aside):
// Grapheme_Cluster_Break "Other" or "Control", never joined to a neighbour.
// Latin, Greek and Cyrillic letters and the common punctuation qualify, which
// covers nearly all German text and lets the context be measured on the bytes
// without running the boundary rules. Marks, joiners, format characters,
// Hangul, emoji modifiers and regional indicators do not; a text with those
// near the occurrence takes the general path.
bool isSimple(char32_t cp) {
    if (cp < 0x300)
        return true;
    if (cp < 0x2010)
        return (cp >= 0x370 && cp <= 0x482) || (cp >= 0x48A && cp <= 0x52F);
    return (cp <= 0x2027) || (cp >= 0x202F && cp <= 0x205F) || (cp >= 0x20A0 && cp <= 0x20CF);
}

int sequenceLength(unsigned char lead) {
    return lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
}

std::optional<qsizetype> walkBackSimple(QByteArrayView s, qsizetype from, qsizetype count) {
    if (from < s.size() && !isSimple(codePointAt(s, from)))
        return std::nullopt;
    qsizetype pos = from;
    for (qsizetype k = 0; k < count && pos > 0; ++k) {
        const qsizetype prev = previousCodePoint(s, pos);
        const char32_t cp = codePointAt(s, prev);
        if (!isSimple(cp))
            return std::nullopt;
        if (cp == u'\n' && prev > 0 && s[prev - 1] == '\r')
            pos = prev - 1;
        else
            pos = prev;
    }
    if (pos > 0 && !isSimple(codePointAt(s, previousCodePoint(s, pos))))
        return std::nullopt;
    return pos;
}

std::optional<qsizetype> walkForwardSimple(QByteArrayView s, qsizetype from, qsizetype count) {
    if (from > 0 && !isSimple(codePointAt(s, previousCodePoint(s, from))))
        return std::nullopt;
    qsizetype pos = from;
    for (qsizetype k = 0; k < count && pos < s.size(); ++k) {
        const auto lead = static_cast<unsigned char>(s[pos]);
        if (lead >= 0x80 && !isSimple(codePointAt(s, pos)))
            return std::nullopt;
        const bool crlf = lead == '\r' && pos + 1 < s.size() && s[pos + 1] == '\n';
        pos += crlf ? 2 : sequenceLength(lead);
    }
    if (pos < s.size() && !isSimple(codePointAt(s, pos)))
        return std::nullopt;
    return pos;
}

qsizetype utf16Length(QByteArrayView bytes) {
    qsizetype length = 0;
    for (char c : bytes) {
        const auto u = static_cast<unsigned char>(c);
        length += (u & 0xC0) != 0x80;
        length += u >= 0xF0; // outside the BMP: a surrogate pair
    }
    return length;
}

// UTF-8 length of the first `units` UTF-16 units of s.
qsizetype utf8Length(QStringView s, qsizetype units) {
    qsizetype bytes = 0;
    for (qsizetype i = 0; i < units; ++i) {
        const char16_t c = s[i].unicode();
        bytes += c < 0x80 ? 1 : c < 0x800 ? 2 : QChar::isLowSurrogate(c) ? 1 : 3;
    }
    return bytes; // a surrogate pair: 3 + 1
}

struct Excerpt {
    qsizetype from;
    qsizetype to;
};

// The general case: decode a window around the occurrence and walk it with the
// Unicode boundary rules. A window edge inside the text is a false boundary, so
// a walk that comes near it is repeated on a wider window.
// `cutBefore` and `cutAfter`: the text is a window of a longer one, cut
// there; nothing when the walk would need to look past a cut, so that the
// outcome equals that on the whole text.
std::optional<Excerpt> excerptByBoundaries(QByteArrayView text, qsizetype begin, qsizetype end,
                                           bool cutBefore = false, bool cutAfter = false) {
    constexpr qsizetype edgeSlack = 64;
    for (qsizetype margin = 1024;; margin *= 4) {
        if ((cutBefore && begin - margin < 4) || (cutAfter && end + margin > text.size() - 4))
            return std::nullopt;
        qsizetype ws = std::max<qsizetype>(0, begin - margin);
        while (ws > 0 && isContinuation(text[ws]))
            --ws;
        qsizetype we = std::min(text.size(), end + margin);
        while (we < text.size() && isContinuation(text[we]))
            ++we;
        const QString window = QString::fromUtf8(text.sliced(ws, we - ws));
        const qsizetype begin16 = utf16Length(text.sliced(ws, begin - ws));
        const qsizetype end16 = begin16 + utf16Length(text.sliced(begin, end - begin));
        const qsizetype from = text::moveByGraphemes(window, begin16, -snippetContext);
        const qsizetype to = text::moveByGraphemes(window, end16, snippetContext);
        const bool startSound = ws == 0 || from >= edgeSlack;
        const bool endSound = we == text.size() || to <= window.size() - edgeSlack;
        if (startSound && endSound) {
            const qsizetype fromBytes = utf8Length(window, from);
            return Excerpt{ws + fromBytes,
                           ws + fromBytes +
                               utf8Length(QStringView(window).sliced(from), to - from)};
        }
    }
}

std::optional<Excerpt> excerpt(QByteArrayView text, qsizetype begin, qsizetype end,
                               bool cutBefore = false, bool cutAfter = false) {
    const auto from = walkBackSimple(text, begin, snippetContext);
    const auto to = from ? walkForwardSimple(text, end, snippetContext) : std::nullopt;
    if (from && to) {
        if ((cutBefore && *from == 0) || (cutAfter && *to == text.size()))
            return std::nullopt;
        return Excerpt{*from, *to};
    }
    return excerptByBoundaries(text, begin, end, cutBefore, cutAfter);
}

} // namespace

QString cleanExcerpt(QByteArrayView excerpt, bool cutAtStart, bool cutAtEnd) {
    // Never more UTF-16 units than UTF-8 bytes, plus the two ellipses.
    QString out(excerpt.size() + 4, Qt::Uninitialized);
    auto* d = reinterpret_cast<char16_t*>(out.data());
    qsizetype k = 0;
    if (cutAtStart) {
        d[k++] = u'…';
        d[k++] = u' ';
    }
    const qsizetype contentStart = k;
    bool afterHash = false; // white space right after "#" goes with it
    bool pendingSpace = false;
    for (qsizetype i = 0; i < excerpt.size();) {
        const char32_t c = codePointAt(excerpt, i);
        i += c < 0x80 ? 1 : c < 0x800 ? 2 : c < 0x10000 ? 3 : 4;
        if (c == U'#') {
            afterHash = true;
            continue;
        }
        // QChar::isSpace is exactly Unicode White_Space, line feeds included.
        if (QChar::isSpace(c)) {
            if (!afterHash)
                pendingSpace = true;
            continue;
        }
        afterHash = false;
        if (c == U'*' || c == U'_' || c == U'`' || c == U'>')
            continue;
        if (pendingSpace && k > contentStart)
            d[k++] = u' ';
        pendingSpace = false;
        if (QChar::requiresSurrogates(c)) {
            d[k++] = QChar::highSurrogate(c);
            d[k++] = QChar::lowSurrogate(c);
        } else {
            d[k++] = char16_t(c);
        }
    }
    if (cutAtEnd) {
        d[k++] = u' ';
        d[k++] = u'…';
    }
    out.truncate(k);
    return out;
}

QString snippetAround(QByteArrayView text, qsizetype begin, qsizetype end) {
    return snippetAround(text, begin, end, false, false);
}

QString snippetAround(QByteArrayView text, qsizetype begin, qsizetype end, bool moreBefore,
                      bool moreAfter) {
    const Excerpt e = *excerpt(text, begin, end);
    return cleanExcerpt(text.sliced(e.from, e.to - e.from), e.from > 0 || moreBefore,
                        e.to < text.size() || moreAfter);
}

std::optional<QString> snippetInWindow(QByteArrayView window, qsizetype begin, qsizetype end,
                                       bool cutBefore, bool cutAfter) {
    const auto e = excerpt(window, begin, end, cutBefore, cutAfter);
    if (!e)
        return std::nullopt;
    return cleanExcerpt(window.sliced(e->from, e->to - e->from), e->from > 0 || cutBefore,
                        e->to < window.size() || cutAfter);
}

} // namespace orvik::search
