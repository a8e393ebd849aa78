#pragma once

#include <QList>
#include <QString>
#include <QStringView>

#include <optional>

// Text helpers shared by the library, search and safekeeping code.
namespace orvik::text {

// Number of user-perceived characters (grapheme clusters); "\r\n" is one.
qsizetype graphemeCount(QStringView s);
// The first n user-perceived characters of s.
QString leftGraphemes(const QString& s, qsizetype n);
// UTF-16 offset reached by walking n user-perceived characters forward from `from`
// (or backward when n is negative), clamped to the text.
qsizetype moveByGraphemes(QStringView s, qsizetype from, qsizetype n);

// Horizontal white space: tab and the Unicode space separators (no line breaks).
bool isHorizontalSpace(QChar c);
// Removes horizontal white space at both ends.
QString trimmedHorizontal(QStringView s);

// Splits at line ends: a line feed, or a carriage return and line feed
// together (the line does not keep the carriage return). A carriage return
// on its own ends no line.
QList<QStringView> lines(QStringView s);
// Calls fn(line) for each line as lines() would yield them, until fn returns false.
template <typename Fn> void forEachLine(QStringView s, Fn&& fn) {
    qsizetype start = 0;
    for (qsizetype i = 0; i < s.size(); ++i) {
        if (s[i] == u'\n') {
            const qsizetype end = i > start && s[i - 1] == u'\r' ? i - 1 : i;
            if (!fn(s.mid(start, end - start)))
                return;
            start = i + 1;
        }
    }
    fn(s.mid(start));
}

// Whether a text's lines end in CR LF, judged by its first line end.
bool endsLinesWithCrLf(QStringView s);
// The text with every CR LF as a line feed.
QString withLineFeeds(const QString& s);
// The text with every line feed as CR LF.
QString withCrLf(const QString& s);

// Decodes strict UTF-8; nothing for invalid input. A leading byte order mark is dropped.
std::optional<QString> decodeUtf8(const QByteArray& bytes);

} // namespace orvik::text
