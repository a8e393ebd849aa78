#include "statistics.h"

#include "platform/text.h"

#include <QRegularExpression>
#include <QSet>
#include <QStringList>

#include <algorithm>
#include <cmath>

using namespace Qt::StringLiterals;

namespace orvik::statistics {

namespace {

QRegularExpression unicode(const QString& source) {
    return QRegularExpression(source, QRegularExpression::UseUnicodePropertiesOption);
}

bool isFence(QStringView line) {
    const QStringView t = line.trimmed();
    return t.startsWith(u"```") || t.startsWith(u"~~~");
}

bool isRule(QStringView line) {
    static const QRegularExpression rule =
        unicode(uR"(^ {0,3}(?:(?:\*[ \t]*){3,}|(?:-[ \t]*){3,}|(?:_[ \t]*){3,}|=+[ \t]*)$)"_s);
    return rule.match(line).hasMatch();
}

// The inline markup of one line taken away: images and links keep their
// text, link targets, footnote marks, tags and emphasis marks go.
QString inlineText(QString line) {
    static const QRegularExpression image = unicode(uR"(!\[([^\]]*)\]\([^)]*\))"_s);
    static const QRegularExpression link = unicode(uR"(\[([^\]]*)\](?:\([^)]*\)|\[[^\]]*\]))"_s);
    static const QRegularExpression footnote = unicode(uR"(\[\^[^\]]*\])"_s);
    static const QRegularExpression autolinkOrTag = unicode(uR"(<[^<>\s][^<>]*>)"_s);
    static const QRegularExpression emphasis =
        unicode(uR"(\*+|~~|`+|(?<![\p{L}\p{N}])_+|_+(?![\p{L}\p{N}]))"_s);
    line.replace(image, u"\\1"_s);
    line.replace(footnote, QString());
    line.replace(link, u"\\1"_s);
    line.replace(autolinkOrTag, QString());
    line.replace(emphasis, QString());
    return line;
}

// The block markers at a line's start: quotes, list markers and task boxes,
// heading marks (the line then is a paragraph of its own).
QString blockText(QStringView line, bool* ownParagraph) {
    static const QRegularExpression quote = unicode(uR"(^\s*(?:>\s?)+)"_s);
    static const QRegularExpression item =
        unicode(uR"(^\s*(?:[-*+]|\d{1,9}[.)])\s+(?:\[[ xX]\]\s+)?)"_s);
    static const QRegularExpression heading = unicode(uR"(^\s{0,3}#{1,6}(?:\s+|$))"_s);
    static const QRegularExpression closingHashes = unicode(uR"(\s+#+\s*$)"_s);
    QString s = line.toString();
    s.remove(quote);
    *ownParagraph = false;
    if (const auto m = heading.match(s); m.hasMatch()) {
        s.remove(0, m.capturedLength());
        s.remove(closingHashes);
        *ownParagraph = true;
    } else if (const auto i = item.match(s); i.hasMatch()) {
        s.remove(0, i.capturedLength());
        *ownParagraph = true;
    }
    return s;
}

bool isTableDivider(QStringView line) {
    static const QRegularExpression divider =
        unicode(uR"(^\s*\|?\s*:?-+:?\s*(?:\|\s*:?-+:?\s*)*\|?\s*$)"_s);
    return line.contains(u'|') && divider.match(line).hasMatch();
}

bool isWordChar(QChar c) {
    return c.isLetterOrNumber() || c.isMark();
}

bool joinsWord(QStringView s, qsizetype i) {
    const QChar c = s[i];
    return (c == u'-' || c == u'\'' || c == u'\u2019') && i > 0 && i + 1 < s.size() &&
           isWordChar(s[i - 1]) && isWordChar(s[i + 1]);
}

// Words before a period that do not end a sentence: single letters ("z. B."),
// numbers ("3. Mai") and these.
bool isAbbreviation(QStringView word) {
    static const QSet<QString> known{u"usw"_s, u"bzw"_s,  u"dr"_s,   u"nr"_s,  u"ca"_s,
                                     u"etc"_s, u"vgl"_s,  u"evtl"_s, u"ggf"_s, u"inkl"_s,
                                     u"str"_s, u"prof"_s, u"geb"_s,  u"sog"_s, u"bspw"_s,
                                     u"zb"_s,  u"ua"_s,   u"dh"_s,   u"hr"_s,  u"fr"_s,
                                     u"abs"_s, u"bd"_s,   u"jh"_s,   u"mio"_s, u"mrd"_s};
    if (word.size() == 1 || (!word.isEmpty() && word.front().isDigit()))
        return true;
    return known.contains(word.toString().toCaseFolded());
}

bool isVowel(QChar c) {
    static const QString vowels = u"aeiouyäöü"_s;
    return vowels.contains(c);
}

} // namespace

int germanSyllables(QStringView word) {
    static const QStringList oneSound{u"äu"_s, u"ei"_s, u"ie"_s, u"ai"_s, u"au"_s, u"eu"_s,
                                      u"ey"_s, u"ay"_s, u"aa"_s, u"ee"_s, u"oo"_s};
    const QString w = word.toString().toLower();
    int count = 0;
    qsizetype i = 0;
    while (i < w.size()) {
        const bool afterQ = i > 0 && w[i - 1] == u'q' && w[i] == u'u';
        if (!isVowel(w[i]) || afterQ) {
            ++i;
            continue;
        }
        ++count;
        const bool pair = i + 1 < w.size() && oneSound.contains(w.mid(i, 2));
        i += pair ? 2 : 1;
    }
    return std::max(count, 1);
}

QString prose(QStringView markdown) {
    QStringList paragraphs;
    QString current;
    const auto close = [&] {
        if (!current.trimmed().isEmpty())
            paragraphs.append(current.simplified());
        current.clear();
    };
    bool inCode = false;
    text::forEachLine(markdown, [&](QStringView line) {
        if (isFence(line)) {
            inCode = !inCode;
            close();
            return true;
        }
        if (inCode)
            return true;
        if (line.trimmed().isEmpty() || isRule(line) || isTableDivider(line)) {
            close();
            return true;
        }
        static const QRegularExpression definition = unicode(uR"(^\s{0,3}\[[^\]]+\]:\s)"_s);
        if (definition.match(line).hasMatch())
            return true;
        bool own = false;
        QString s = inlineText(blockText(line, &own));
        s.replace(u'|', u' ');
        if (own)
            close();
        current += u' ' + s;
        if (own)
            close();
        return true;
    });
    close();
    return paragraphs.join(u'\n');
}

TextStatistics measure(QStringView markdown) {
    TextStatistics result;
    const QString plain = prose(markdown);
    for (const QStringView paragraph : text::lines(plain)) {
        if (paragraph.isEmpty())
            continue;
        ++result.paragraphs;
        result.charactersWithSpaces += int(text::graphemeCount(paragraph));
        QString dense = paragraph.toString();
        dense.remove(QRegularExpression(u"\\s"_s));
        result.charactersWithoutSpaces += int(text::graphemeCount(dense));

        int wordsInSentence = 0;
        QStringView lastWord;
        qsizetype lastWordEnd = -1;
        qsizetype i = 0;
        while (i < paragraph.size()) {
            if (isWordChar(paragraph[i])) {
                const qsizetype start = i;
                while (i < paragraph.size() &&
                       (isWordChar(paragraph[i]) || joinsWord(paragraph, i)))
                    ++i;
                lastWord = paragraph.sliced(start, i - start);
                lastWordEnd = i;
                ++result.words;
                ++wordsInSentence;
                const int letters = int(std::count_if(lastWord.begin(), lastWord.end(),
                                                      [](QChar c) { return c.isLetter(); }));
                const int syllables = germanSyllables(lastWord);
                result.syllables += syllables;
                result.monosyllables += syllables == 1;
                result.polysyllables += syllables >= 3;
                result.longWords += letters > 6;
                continue;
            }
            const qsizetype mark = i;
            const QChar c = paragraph[i++];
            if (c != u'.' && c != u'!' && c != u'?' && c != u'\u2026')
                continue;
            while (
                i < paragraph.size() &&
                QStringView(u".!?\u2026\"'\u201C\u201D\u201E\u00BB\u00AB)]").contains(paragraph[i]))
                ++i;
            const bool atEnd = i == paragraph.size() || paragraph[i].isSpace();
            const bool abbreviation =
                c == u'.' && i == mark + 1 && lastWordEnd == mark && isAbbreviation(lastWord);
            if (atEnd && wordsInSentence > 0 && !abbreviation) {
                ++result.sentences;
                wordsInSentence = 0;
            }
        }
        if (wordsInSentence > 0)
            ++result.sentences;
    }
    return result;
}

double TextStatistics::averageSentenceLength() const {
    return sentences == 0 ? 0 : double(words) / sentences;
}

int TextStatistics::readingMinutes() const {
    return std::max(1, words / 200);
}

int TextStatistics::speakingMinutes() const {
    return std::max(1, int(std::lround(words / 130.0)));
}

std::optional<double> TextStatistics::wienerSachtextformel() const {
    if (words == 0)
        return std::nullopt;
    const double percent = 100.0 / words;
    return 0.1935 * polysyllables * percent + 0.1672 * averageSentenceLength() +
           0.1297 * longWords * percent - 0.0327 * monosyllables * percent - 0.875;
}

std::optional<double> TextStatistics::fleschAmstad() const {
    if (words == 0)
        return std::nullopt;
    return 180 - averageSentenceLength() - 58.5 * double(syllables) / words;
}

} // namespace orvik::statistics
