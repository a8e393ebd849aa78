#include "text.h"

#include <QStringDecoder>
#include <QTextBoundaryFinder>

namespace orvik::text {

qsizetype graphemeCount(QStringView s) {
    if (s.isEmpty())
        return 0;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, s.data(), s.size());
    qsizetype count = 0;
    while (finder.toNextBoundary() != -1)
        ++count;
    return count;
}

qsizetype moveByGraphemes(QStringView s, qsizetype from, qsizetype n) {
    from = std::clamp<qsizetype>(from, 0, s.size());
    if (s.isEmpty() || n == 0)
        return from;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, s.data(), s.size());
    finder.setPosition(from);
    qsizetype pos = from;
    for (qsizetype i = 0; i < (n < 0 ? -n : n); ++i) {
        const qsizetype next = n < 0 ? finder.toPreviousBoundary() : finder.toNextBoundary();
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

std::optional<QString> decodeUtf8(const QByteArray& bytes) {
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(bytes);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

} // namespace orvik::text
