#include "sheet.h"

#include "platform/files.h"
#include "platform/text.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>
#include <limits>

#include <sys/stat.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace orvik {

namespace {
constexpr qsizetype titleLength = 120;
constexpr qsizetype previewLength = 160;
constexpr qsizetype previewCollectLimit = 140;

QRegularExpression unicodeRx(QStringView pattern) {
    // Unicode classes for \s, as the title and preview rules expect.
    return QRegularExpression(pattern.toString(), QRegularExpression::UseUnicodePropertiesOption);
}

const QRegularExpression& headingMarker() {
    static const QRegularExpression re = unicodeRx(u"^#{1,6}\\s*");
    return re;
}
const QRegularExpression& bulletMarker() {
    static const QRegularExpression re = unicodeRx(u"^[-*+]\\s+");
    return re;
}
const QRegularExpression& quoteMarker() {
    static const QRegularExpression re = unicodeRx(u"^>\\s*");
    return re;
}
bool isTitleMark(QChar c) {
    return c == u'*' || c == u'_' || c == u'`';
}
bool isPreviewMark(QChar c) {
    return isTitleMark(c) || c == u'>' || c == u'#';
}

// Removes what an anchored pattern matches at the start: one match at most,
// without the machinery of a global replace.
void removeLeading(QString& s, const QRegularExpression& re) {
    if (const QRegularExpressionMatch m = re.match(s); m.hasMatch())
        s.remove(0, m.capturedEnd());
}

bool isBlank(QStringView line) {
    for (QChar c : line)
        if (!text::isHorizontalSpace(c))
            return false;
    return true;
}
} // namespace

QDateTime distantPast() {
    return QDateTime(QDate(1, 1, 1), QTime(0, 0), Qt::UTC);
}

QDateTime modificationDate(const QString& path) {
    const files::FileVersion stamp = files::stamp(path);
    return stamp.exists && stamp.modified.isValid() ? stamp.modified : distantPast();
}

namespace {

// The parts of the preview joined, before they are cut to its length.
// `settled` tells whether collecting stopped at a line that ends before the
// text does: no text after it could change the parts then.
QString previewParts(const QString& text, bool* settled = nullptr) {
    QStringList parts;
    qsizetype estimate = 0;
    bool titleSkipped = false;
    text::forEachLine(text, [&](QStringView line) {
        if (isBlank(line))
            return true;
        if (!titleSkipped) {
            titleSkipped = true;
            return true;
        }
        QString part = text::trimmedHorizontal(line);
        // Most lines are prose: nothing to remove, nothing more to trim.
        if (std::any_of(part.cbegin(), part.cend(), isPreviewMark)) {
            if (part.startsWith(u'#'))
                removeLeading(part, headingMarker());
            part.removeIf(isPreviewMark);
            part = text::trimmedHorizontal(part);
        }
        if (!part.isEmpty()) {
            estimate += (parts.isEmpty() ? 0 : 1) + text::graphemeCount(part);
            parts.append(part);
        }
        // The sum over the parts can only overstate the joined length (a part
        // starting with a combining mark joins the space before it), so the
        // exact count is needed only past the limit.
        const bool more = estimate <= previewCollectLimit ||
                          text::graphemeCount(parts.join(u' ')) <= previewCollectLimit;
        if (!more && settled)
            *settled = line.constData() + line.size() < text.constData() + text.size();
        return more;
    });
    return parts.join(u' ');
}

QString previewOf(const QString& joined) {
    if (joined.isEmpty())
        return QStringLiteral("Kein weiterer Text");
    return text::leftGraphemes(joined, previewLength);
}

// Strict UTF-8 as Qt's decoder takes it (no overlong forms, surrogates or
// values above U+10FFFF), sixteen ASCII bytes at a time: most of a sheet.
bool isValidUtf8(QByteArrayView text) {
    const auto* s = reinterpret_cast<const unsigned char*>(text.data());
    const qsizetype n = text.size();
    qsizetype i = 0;
    while (i < n) {
#if defined(__SSE2__)
        while (i + 16 <= n &&
               _mm_movemask_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i))) == 0)
            i += 16;
        if (i == n)
            break;
#endif
        const int length = files::utf8SequenceLength(s + i, n - i);
        if (length == 0)
            return false;
        i += length;
    }
    return true;
}

} // namespace

namespace {

bool separatesWords(QByteArrayView s, qsizetype k) {
    return s[k] == ' ' || s[k] == '\t' || s[k] == '\n' ||
           (s[k] == '\r' && k + 1 < s.size() && s[k + 1] == '\n');
}

} // namespace

bool SheetReader::add(QByteArrayView bytes) {
    return take(bytes, false);
}

bool SheetReader::take(QByteArrayView bytes, bool last) {
    QByteArray joined;
    if (!m_carry.isEmpty()) {
        joined = m_carry;
        joined += bytes;
        bytes = joined;
    }
    if (m_atStart && (bytes.size() >= 3 || last)) {
        if (bytes.startsWith("\xEF\xBB\xBF"))
            bytes = bytes.sliced(3);
        m_atStart = false;
    }
    qsizetype usable = last ? bytes.size() : files::utf8CompletePrefix(bytes);
    if (!last && usable > 0 && bytes[usable - 1] == '\r')
        --usable;
    const QByteArrayView piece = bytes.first(usable);
    if (!isValidUtf8(piece))
        return false;
    if (!piece.isEmpty()) {
        // A word that runs on from the piece before is counted there.
        m_words += Sheet::countWords(piece) - (m_inWord && !separatesWords(piece, 0));
        m_inWord = !separatesWords(piece, piece.size() - 1);
    }
    if (m_head.size() < Sheet::headBytes)
        m_head += piece.first(std::min(piece.size(), Sheet::headBytes - m_head.size()));
    m_carry = bytes.sliced(usable).toByteArray();
    return true;
}

std::optional<Sheet> SheetReader::finish(const QString& path, const QDateTime& modified,
                                         bool cutShort) {
    if (cutShort)
        m_carry.truncate(files::utf8CompletePrefix(m_carry));
    if (!take({}, true))
        return std::nullopt;
    // A head cut inside a character ends before it.
    m_head.truncate(files::utf8CompletePrefix(m_head));
    Sheet sheet = Sheet::fromValidUtf8(path, m_head, modified);
    sheet.wordCount = int(std::min<qsizetype>(m_words, std::numeric_limits<int>::max()));
    return sheet;
}

namespace {

std::optional<Sheet> loadSheet(const QString& path, qsizetype pieceBytes, bool headOnly) {
    SheetReader reader;
    bool valid = true;
    bool cutShort = false;
    struct stat st;
    const bool read = files::readChunks(
        path, pieceBytes,
        [&](QByteArrayView bytes) {
            valid = reader.add(bytes);
            cutShort = headOnly && reader.hasHead();
            return valid && !cutShort;
        },
        &st);
    if (!read || !valid)
        return std::nullopt;
    QDateTime modified = files::stamp(st).modified;
    if (!modified.isValid())
        modified = distantPast();
    return reader.finish(path, modified, cutShort);
}

} // namespace

std::optional<Sheet> Sheet::load(const QString& path, qsizetype pieceBytes) {
    return loadSheet(path, pieceBytes, false);
}

std::optional<Sheet> Sheet::loadHead(const QString& path) {
    return loadSheet(path, 64 * 1024, true);
}

Sheet Sheet::fromValidUtf8(const QString& path, QByteArrayView text, const QDateTime& modified) {
    Sheet sheet;
    sheet.url = QUrl::fromLocalFile(path);
    sheet.modified = modified;
    sheet.wordCount = countWords(text);

    // Title and preview come from a head of the text that provably holds
    // everything they look at, grown until it does. The head may end inside
    // a line: the preview stops collecting after the line where its parts
    // exceed 140 characters, and when the parts of the head already run past
    // the 160 the preview keeps (one more makes the last cut sound), the rest
    // of that line cannot change it; nor can anything after a line that ends
    // inside the head and stops the collecting. The title line lies before,
    // whole.
    for (qsizetype headBytes = 512;; headBytes *= 4) {
        qsizetype cut = std::min(headBytes, text.size());
        while (cut < text.size() && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80)
            --cut;
        const QString head = QString::fromUtf8(text.first(cut));
        bool settled = false;
        const QString joined = previewParts(head, &settled);
        const bool complete =
            cut == text.size() || settled ||
            (joined.size() > previewLength + 1 && text::graphemeCount(joined) > previewLength + 1);
        if (!complete)
            continue;
        sheet.preview = previewOf(joined);
        // A title is never empty, so the file name is only looked at when
        // the text has none.
        sheet.title = deriveTitle(head, QString());
        if (sheet.title.isEmpty())
            sheet.title = files::displayName(QFileInfo(path).completeBaseName());
        return sheet;
    }
}

Sheet Sheet::fromText(const QString& path, const QString& text, const QDateTime& modified) {
    Sheet sheet;
    sheet.url = QUrl::fromLocalFile(path);
    sheet.title = deriveTitle(text, files::displayName(QFileInfo(path).completeBaseName()));
    sheet.preview = derivePreview(text);
    sheet.modified = modified;
    sheet.wordCount = countWords(text);
    sheet.matched = false;
    return sheet;
}

QString Sheet::deriveTitle(const QString& text, const QString& fallback) {
    QString title;
    text::forEachLine(text, [&](QStringView line) {
        if (isBlank(line))
            return true;
        title = text::trimmedHorizontal(line);
        // Each marker pattern is anchored and needs its first character.
        if (title.startsWith(u'#'))
            removeLeading(title, headingMarker());
        if (title.startsWith(u'-') || title.startsWith(u'*') || title.startsWith(u'+'))
            removeLeading(title, bulletMarker());
        if (title.startsWith(u'>'))
            removeLeading(title, quoteMarker());
        title.removeIf(isTitleMark);
        title = text::trimmedHorizontal(title);
        return false;
    });
    // A first line of markup only gives the fallback; later lines are not consulted.
    if (title.isEmpty())
        return fallback;
    return text::leftGraphemes(title, titleLength);
}

QString Sheet::derivePreview(const QString& text) {
    return previewOf(previewParts(text));
}

int Sheet::countWords(const QString& text) {
    int count = 0;
    bool inWord = false;
    const qsizetype n = text.size();
    const QChar* s = text.constData();
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t c = s[i].unicode();
        // A carriage return separates words where it starts a CR LF line end.
        const bool separator =
            c == u' ' || c == u'\t' || c == u'\n' || (c == u'\r' && i + 1 < n && s[i + 1] == u'\n');
        if (separator) {
            inWord = false;
        } else if (!inWord) {
            inWord = true;
            ++count;
        }
    }
    return count;
}

int Sheet::countWordsAfterEdit(const QString& before, int beforeWords, const QString& after) {
    const qsizetype common = std::min(before.size(), after.size());
    const QChar* b = before.constData();
    const QChar* a = after.constData();
    qsizetype prefix = 0;
    while (prefix < common && b[prefix] == a[prefix])
        ++prefix;
    qsizetype suffix = 0;
    while (suffix < common - prefix &&
           b[before.size() - 1 - suffix] == a[after.size() - 1 - suffix])
        ++suffix;
    // Out to characters that separate words wherever they stand (a carriage
    // return does so only before a line feed); the one after the stretch is
    // counted with it, so that a carriage return at its end is judged right.
    const auto plain = [](QChar c) { return c == u' ' || c == u'\t' || c == u'\n'; };
    qsizetype start = prefix;
    while (start > 0 && !plain(b[start - 1]))
        --start;
    qsizetype end =
        before.size() - suffix; // in `before`; the same distance from the end in `after`
    while (end < before.size() && !plain(b[end]))
        ++end;
    const qsizetype tail = before.size() - end;
    const qsizetype take = tail > 0 ? 1 : 0;
    // Most of the text changed: counting it all is no slower.
    if (end - start > before.size() / 2)
        return countWords(after);
    return beforeWords - countWords(before.sliced(start, end - start + take)) +
           countWords(after.sliced(start, after.size() - tail - start + take));
}

int Sheet::countWords(QByteArrayView utf8) {
    // Separators are ASCII, so the bytes need no decoding: space, tab, line
    // feed, and a carriage return that starts a CR LF pair.
    const auto* s = reinterpret_cast<const unsigned char*>(utf8.data());
    const qsizetype n = utf8.size();
    const auto separates = [s, n](qsizetype k) {
        return s[k] == ' ' || s[k] == '\t' || s[k] == '\n' ||
               (s[k] == '\r' && k + 1 < n && s[k + 1] == '\n');
    };
    qsizetype words = 0;
    qsizetype i = 0;
#if defined(__SSE2__)
    // A word starts at a non-separator after a separator (or at the start);
    // the first byte goes the scalar way so that the loads reach back one,
    // and the loads reach one ahead for the line feed after a carriage return.
    for (; i < std::min<qsizetype>(n, 1); ++i)
        words += !separates(i);
    const auto separatorMask = [](__m128i cur, __m128i next) {
        const __m128i crBeforeLf = _mm_and_si128(_mm_cmpeq_epi8(cur, _mm_set1_epi8('\r')),
                                                 _mm_cmpeq_epi8(next, _mm_set1_epi8('\n')));
        return _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(cur, _mm_set1_epi8(' ')),
                                         _mm_cmpeq_epi8(cur, _mm_set1_epi8('\t'))),
                            _mm_or_si128(_mm_cmpeq_epi8(cur, _mm_set1_epi8('\n')), crBeforeLf));
    };
    // Per-byte counters of word starts (0xFF is -1), summed before they can
    // overflow.
    __m128i counters = _mm_setzero_si128();
    int pending = 0;
    const auto flush = [&] {
        const __m128i sums = _mm_sad_epu8(counters, _mm_setzero_si128());
        words += _mm_cvtsi128_si32(sums) + _mm_cvtsi128_si32(_mm_unpackhi_epi64(sums, sums));
        counters = _mm_setzero_si128();
        pending = 0;
    };
    for (; i + 17 <= n; i += 16) {
        const __m128i prev = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i - 1));
        const __m128i cur = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
        const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i + 1));
        const __m128i starts = _mm_andnot_si128(separatorMask(cur, next), separatorMask(prev, cur));
        counters = _mm_sub_epi8(counters, starts);
        if (++pending == 255)
            flush();
    }
    flush();
#endif
    for (; i < n; ++i)
        words += !separates(i) && (i == 0 || separates(i - 1));
    return int(words);
}

size_t qHash(const Sheet& sheet, size_t seed) noexcept {
    return qHashMulti(seed, sheet.url, sheet.title, sheet.preview, sheet.modified, sheet.wordCount,
                      sheet.matched);
}

} // namespace orvik
