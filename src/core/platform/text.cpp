#include "text.h"

#include <QStringDecoder>

#include <unicode/ubrk.h>

#include <algorithm>
#include <limits>

using namespace Qt::StringLiterals;

namespace orvik::text {

namespace {

// Characters that always form a grapheme cluster of their own: Latin, Greek
// and Cyrillic letters and the common punctuation, which covers nearly all
// German text. Marks, joiners, Hangul, regional indicators and CR (the start
// of CR LF) do not. Where only these occur, clusters are code units and the
// boundary rules need not run.
bool isSimple(char16_t c) {
    if (c < 0x300)
        return c != u'\r';
    if (c < 0x2010)
        return (c >= 0x370 && c <= 0x482) || (c >= 0x48A && c <= 0x52F);
    return c <= 0x2027 || (c >= 0x202F && c <= 0x205F) || (c >= 0x20A0 && c <= 0x20CF);
}

bool allSimple(QStringView s) {
    return std::all_of(s.begin(), s.end(), [](QChar c) { return isSimple(c.unicode()); });
}

// ICU's grapheme rules: Qt 6.4's boundary finder splits an emoji with a skin
// tone from a flag that follows it. One iterator per thread, pointed at each
// text in turn: opening one costs more than most of the walks it serves.
class GraphemeBreaks {
public:
    explicit GraphemeBreaks(QStringView s) {
        thread_local const Iterator shared;
        m_it = shared.it;
        // A sheet never comes near 2^31 UTF-16 units; a longer text is walked
        // as far as ICU's offsets reach.
        const auto length = static_cast<int32_t>(
            std::min<qsizetype>(s.size(), std::numeric_limits<int32_t>::max()));
        UErrorCode error = U_ZERO_ERROR;
        if (m_it)
            ubrk_setText(m_it, s.utf16(), length, &error);
        if (U_FAILURE(error))
            m_it = nullptr;
    }

    bool isValid() const { return m_it != nullptr; }
    // The boundary after / before `pos`, or -1 at the end / start of the text.
    qsizetype following(qsizetype pos) { return done(ubrk_following(m_it, clamp(pos))); }
    qsizetype preceding(qsizetype pos) { return done(ubrk_preceding(m_it, clamp(pos))); }
    qsizetype next() { return done(ubrk_next(m_it)); }

private:
    struct Iterator {
        UBreakIterator* it = nullptr;
        Iterator() {
            UErrorCode error = U_ZERO_ERROR;
            it = ubrk_open(UBRK_CHARACTER, "", nullptr, 0, &error);
            if (U_FAILURE(error))
                it = nullptr;
        }
        ~Iterator() { ubrk_close(it); }
        Iterator(const Iterator&) = delete;
        Iterator& operator=(const Iterator&) = delete;
    };

    static int32_t clamp(qsizetype pos) {
        return static_cast<int32_t>(std::min<qsizetype>(pos, std::numeric_limits<int32_t>::max()));
    }
    static qsizetype done(int32_t boundary) { return boundary == UBRK_DONE ? -1 : boundary; }

    UBreakIterator* m_it = nullptr;
};

} // namespace

qsizetype graphemeCount(QStringView s) {
    if (s.isEmpty())
        return 0;
    if (allSimple(s))
        return s.size();
    GraphemeBreaks breaks(s);
    if (!breaks.isValid())
        return s.size();
    qsizetype count = 0;
    while (breaks.next() != -1)
        ++count;
    return count;
}

qsizetype moveByGraphemes(QStringView s, qsizetype from, qsizetype n) {
    from = std::clamp<qsizetype>(from, 0, s.size());
    if (s.isEmpty() || n == 0)
        return from;
    // Both ends and everything between them simple: each unit is a cluster.
    const qsizetype to = std::clamp<qsizetype>(from + n, 0, s.size());
    const qsizetype low = std::max<qsizetype>(0, std::min(from, to) - 1);
    const qsizetype high = std::min(s.size(), std::max(from, to) + 1);
    if (allSimple(s.sliced(low, high - low)))
        return to;
    GraphemeBreaks breaks(s);
    if (!breaks.isValid())
        return to;
    qsizetype pos = from;
    for (qsizetype i = 0; i < (n < 0 ? -n : n); ++i) {
        const qsizetype next = n < 0 ? breaks.preceding(pos) : breaks.following(pos);
        if (next == -1)
            return n < 0 ? 0 : s.size();
        pos = next;
    }
    return pos;
}

QString leftGraphemes(const QString& s, qsizetype n) {
    // Cheap exit: n UTF-16 units can never hold more than n graphemes.
    if (s.size() <= n)
        return s;
    return s.left(moveByGraphemes(s, 0, n));
}

bool isHorizontalSpace(QChar c) {
    return c == u'\t' || c.category() == QChar::Separator_Space;
}

QString trimmedHorizontal(QStringView s) {
    qsizetype begin = 0;
    qsizetype end = s.size();
    while (begin < end && isHorizontalSpace(s[begin]))
        ++begin;
    while (end > begin && isHorizontalSpace(s[end - 1]))
        --end;
    return s.mid(begin, end - begin).toString();
}

QList<QStringView> lines(QStringView s) {
    QList<QStringView> result;
    forEachLine(s, [&](QStringView line) {
        result.append(line);
        return true;
    });
    return result;
}

bool endsLinesWithCrLf(QStringView s) {
    const qsizetype lf = s.indexOf(u'\n');
    return lf > 0 && s[lf - 1] == u'\r';
}

QString withLineFeeds(const QString& s) {
    QString result = s;
    result.replace(u"\r\n"_s, u"\n"_s);
    return result;
}

QString withCrLf(const QString& s) {
    QString result;
    result.reserve(s.size() + s.count(u'\n'));
    for (qsizetype i = 0; i < s.size(); ++i) {
        if (s[i] == u'\n' && !(i > 0 && s[i - 1] == u'\r'))
            result.append(u'\r');
        result.append(s[i]);
    }
    return result;
}

std::optional<QString> decodeUtf8(const QByteArray& bytes) {
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(bytes);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

} // namespace orvik::text
