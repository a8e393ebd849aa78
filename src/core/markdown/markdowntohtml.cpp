#include "markdowntohtml.h"

#include "platform/text.h"

#include <QRegularExpression>
#include <QStringList>

using namespace Qt::StringLiterals;

namespace orvik::MarkdownToHTML {

namespace {

// The patterns are written for ICU, so they get ICU's meaning here: (*ANY)
// makes every ICU line terminator end a line ("$" also matches before a final
// "\r", "." stops at U+2028), and \w, \s, \S become ICU's own classes, which
// PCRE2 draws differently (PCRE2 leaves combining marks out of \w and U+0085
// out of \s). \d is \p{Nd} in both with Unicode properties.
// Enough for the patterns below: no nested classes, no \S inside a class.
QRegularExpression rx(QStringView pattern) {
    static const QString word = u"\\p{Alphabetic}\\p{M}\\p{Nd}\\p{Pc}\\x{200C}\\x{200D}"_s;
    static const QString space = u"\\t\\n\\x{0B}\\f\\r\\x{85}\\p{Z}"_s; // White_Space
    QString p = u"(*ANY)"_s;
    bool inClass = false;
    for (qsizetype i = 0; i < pattern.size(); ++i) {
        const QChar c = pattern[i];
        if (c == u'\\' && i + 1 < pattern.size()) {
            const QChar next = pattern[++i];
            if (next == u'w')
                p += inClass ? word : u'[' + word + u']';
            else if (next == u's')
                p += inClass ? space : u'[' + space + u']';
            else if (next == u'S' && !inClass)
                p += u"[^"_s + space + u']';
            else
                p.append(c).append(next);
            continue;
        }
        if (c == u'[')
            inClass = true;
        else if (c == u']')
            inClass = false;
        p += c;
    }
    return QRegularExpression(p, QRegularExpression::UseUnicodePropertiesOption);
}

const QRegularExpression& rulePattern() {
    static const QRegularExpression re = rx(u"^([-*_])(\\s*\\1){2,}$");
    return re;
}
const QRegularExpression& headingPattern() {
    static const QRegularExpression re = rx(u"^#{1,6}\\s+");
    return re;
}
const QRegularExpression& bulletPattern() {
    static const QRegularExpression re = rx(u"^[-*+]\\s+");
    return re;
}
const QRegularExpression& taskBoxPattern() {
    static const QRegularExpression re = rx(u"^\\[([ xX])\\]\\s*");
    return re;
}
const QRegularExpression& numberPattern() {
    static const QRegularExpression re = rx(u"^\\d+\\.\\s+");
    return re;
}

const QString fence = u"```"_s;

QString escaped(const QString& text) {
    QString s = text;
    s.replace(u'&', u"&amp;"_s);
    s.replace(u'<', u"&lt;"_s);
    s.replace(u'>', u"&gt;"_s);
    return s;
}

// Every non-overlapping match, left to right, replaced by what `make` builds from it.
template <typename Make>
QString replaceAll(const QString& text, const QRegularExpression& re, Make make) {
    QRegularExpressionMatchIterator it = re.globalMatch(text);
    if (!it.hasNext())
        return text;
    QString out;
    out.reserve(text.size() + 32);
    qsizetype last = 0;
    while (it.hasNext()) {
        const QRegularExpressionMatch m = it.next();
        out += QStringView(text).mid(last, m.capturedStart() - last);
        make(out, m);
        last = m.capturedEnd();
    }
    out += QStringView(text).mid(last);
    return out;
}

// "<tag>$1</tag>"
auto wrapIn(QStringView tag) {
    return [tag](QString& out, const QRegularExpressionMatch& m) {
        out += u'<';
        out += tag;
        out += u'>';
        out += m.capturedView(1);
        out += u"</";
        out += tag;
        out += u'>';
    };
}

// White_Space, the meaning the patterns give \s.
bool isSpace(QChar c) {
    const char16_t u = c.unicode();
    return (u >= 0x09 && u <= 0x0D) || u == 0x85 || c.category() == QChar::Separator_Space ||
           c.category() == QChar::Separator_Line || c.category() == QChar::Separator_Paragraph;
}

// What "." does not match under (*ANY).
bool endsLine(QChar c) {
    const char16_t u = c.unicode();
    return (u >= 0x0A && u <= 0x0D) || u == 0x85 || u == 0x2028 || u == 0x2029;
}

// The first position at or after `from` where `is` holds, or the text's end,
// for queries whose `from` never decreases: a scan is never repeated, so a
// text full of openers without closers stays linear.
template <typename Is> class ForwardFinder {
public:
    ForwardFinder(QStringView text, Is is) : m_text(text), m_is(is) {}
    qsizetype operator()(qsizetype from) {
        if (from < m_from || m_found < from) {
            m_from = from;
            m_found = from;
            while (m_found < m_text.size() && !m_is(m_found))
                ++m_found;
        }
        return m_found;
    }

private:
    QStringView m_text;
    Is m_is;
    qsizetype m_from = -1;
    qsizetype m_found = -1;
};

// "\*\*(?=\S)(.+?)(?<=\S)\*\*" (or with "_") as <strong>: the shortest
// closing pair after an opening one, with no line end in between. Scanned by
// hand, as the expression takes quadratic time on openers without a closer.
QString strongPairs(const QString& text, QChar mark) {
    const QStringView s(text);
    const qsizetype n = s.size();
    ForwardFinder closer(s, [s, n, mark](qsizetype k) {
        return k + 1 < n && s[k] == mark && s[k + 1] == mark && !isSpace(s[k - 1]);
    });
    ForwardFinder lineEnd(s, [s](qsizetype k) { return endsLine(s[k]); });
    const QString pair(2, mark);
    QString out;
    qsizetype last = 0;
    for (qsizetype from = 0;;) {
        const qsizetype open = s.indexOf(pair, from);
        if (open < 0)
            break;
        from = open + 1;
        if (open + 2 >= n || isSpace(s[open + 2]))
            continue;
        const qsizetype close = closer(open + 3);
        if (close >= n || lineEnd(open + 2) < close)
            continue;
        if (out.isEmpty())
            out.reserve(n + 32);
        out += s.sliced(last, open - last);
        out += u"<strong>";
        out += s.sliced(open + 2, close - open - 2);
        out += u"</strong>";
        last = from = close + 2;
    }
    if (last == 0)
        return text;
    out += s.sliced(last);
    return out;
}

// "\[([^\]]*)\]\(([^)\s]+)\)" as a link, scanned by hand for the same reason.
QString links(const QString& text) {
    const QStringView s(text);
    const qsizetype n = s.size();
    ForwardFinder targetEnd(s, [s](qsizetype k) { return s[k] == u')' || isSpace(s[k]); });
    QString out;
    qsizetype last = 0;
    for (qsizetype from = 0;;) {
        const qsizetype open = s.indexOf(u'[', from);
        if (open < 0)
            break;
        const qsizetype close = s.indexOf(u']', open + 1);
        if (close < 0)
            break; // no later "[" has a "]" either
        // Every "[" up to `close` would end at the same "]" and fail alike.
        from = close + 1;
        if (close + 1 >= n || s[close + 1] != u'(')
            continue;
        const qsizetype end = targetEnd(close + 2);
        if (end == close + 2 || end >= n || s[end] != u')')
            continue;
        if (out.isEmpty())
            out.reserve(n + 32);
        out += s.sliced(last, open - last);
        // The target stays the address that was written: a code span found
        // in it becomes its backticks again, and "*" and "_" go in as character
        // references so that no later emphasis step puts tags into the
        // attribute. A double quote would otherwise end the attribute early
        // and let the rest of the target through as markup.
        QString target = s.sliced(close + 2, end - close - 2).toString();
        target.replace(u"<code>"_s, u"`"_s)
            .replace(u"</code>"_s, u"`"_s)
            .replace(u'"', u"&quot;"_s)
            .replace(u'*', u"&#42;"_s)
            .replace(u'_', u"&#95;"_s);
        out += u"<a href=\"";
        out += target;
        out += u"\">";
        out += s.sliced(open + 1, close - open - 1);
        out += u"</a>";
        last = from = end + 1;
    }
    if (last == 0)
        return text;
    out += s.sliced(last);
    return out;
}

struct Converter {
    MarkdownToHTML::ListStyle style;
    QStringList output;
    QStringList openLists;
    QStringList quote;
    int itemCounter = 0;

    void closeLists() {
        while (!openLists.isEmpty())
            output.append(u"</"_s + openLists.takeLast() + u'>');
    }

    void closeQuote() {
        if (quote.isEmpty())
            return;
        output.append(u"<blockquote><p>"_s + quote.join(u' ') + u"</p></blockquote>"_s);
        quote.clear();
    }

    void closeBlocks() {
        closeLists();
        closeQuote();
    }

    void listItem(const ListItem& item) {
        if (style == ListStyle::Paragraphs) {
            QString marker;
            if (item.ordered) {
                ++itemCounter;
                marker = QString::number(itemCounter) + u'.';
            } else {
                marker = u"\u2022"_s;
                itemCounter = 0;
            }
            output.append(u"<p style=\"margin-left:1.6em\">"_s + marker + u"&#160;&#160;"_s +
                          item.html + u"</p>"_s);
            return;
        }
        const QString name = item.ordered ? u"ol"_s : u"ul"_s;
        if (openLists.isEmpty() || openLists.last() != name) {
            closeLists();
            output.append(u'<' + name + u'>');
            openLists.append(name);
        }
        output.append(u"<li>"_s + item.html + u"</li>"_s);
    }
};

// The first character decides whether a pattern can match at all; most lines
// are prose and skip the expression.
bool isRule(const QString& t) {
    return !t.isEmpty() && (t[0] == u'-' || t[0] == u'*' || t[0] == u'_') &&
           rulePattern().match(t).hasMatch();
}

bool endsParagraph(const QString& t) {
    return t.isEmpty() || t.startsWith(u'#') || t.startsWith(u'>') || t.startsWith(fence) ||
           listItem(t) || isRule(t);
}

} // namespace

QString body(const QString& markdown, ListStyle lists) {
    // A sheet written on another system may end its lines in CR LF or a lone
    // CR; every one of them ends a line here, as in the editor.
    QString text = markdown;
    text.replace(u"\r\n"_s, u"\n"_s).replace(u'\r', u'\n');
    const QStringList lines = text.split(u'\n');
    Converter c{lists, {}, {}, {}, 0};

    qsizetype i = 0;
    while (i < lines.size()) {
        const QString t = text::trimmedHorizontal(lines[i]);
        if (t.startsWith(fence)) {
            c.closeBlocks();
            QStringList code;
            ++i;
            while (i < lines.size() && !text::trimmedHorizontal(lines[i]).startsWith(fence))
                code.append(escaped(lines[i++]));
            ++i; // the closing fence, if any
            c.output.append(u"<pre><code>"_s + code.join(u'\n') + u"</code></pre>"_s);
            c.itemCounter = 0;
            continue;
        }
        if (t.isEmpty()) {
            c.closeBlocks();
            c.itemCounter = 0;
            ++i;
            continue;
        }
        if (isRule(t)) {
            c.closeBlocks();
            c.output.append(lists == ListStyle::Markup ? u"<hr>"_s
                                                       : u"<p align=\"center\">* * *</p>"_s);
            c.itemCounter = 0;
            ++i;
            continue;
        }
        if (const QRegularExpressionMatch h =
                t.startsWith(u'#') ? headingPattern().match(t) : QRegularExpressionMatch();
            h.hasMatch()) {
            c.closeBlocks();
            qsizetype level = 0;
            while (level < t.size() && t[level] == u'#')
                ++level;
            const QString n = QString::number(level);
            c.output.append(u"<h"_s + n + u'>' + inlineHtml(t.mid(h.capturedEnd())) + u"</h"_s + n +
                            u'>');
            c.itemCounter = 0;
            ++i;
            continue;
        }
        if (t.startsWith(u'>')) {
            c.closeLists();
            QString rest = t.mid(1);
            if (rest.startsWith(u' '))
                rest.remove(0, 1);
            if (rest.isEmpty())
                c.closeQuote(); // a lone ">" separates two block quotes
            else
                c.quote.append(inlineHtml(rest));
            c.itemCounter = 0;
            ++i;
            continue;
        }
        if (const std::optional<ListItem> item = listItem(t)) {
            c.closeQuote();
            c.listItem(*item);
            ++i;
            continue;
        }
        c.closeBlocks();
        QStringList paragraph{t};
        for (++i; i < lines.size(); ++i) {
            const QString next = text::trimmedHorizontal(lines[i]);
            if (endsParagraph(next))
                break;
            paragraph.append(next);
        }
        c.output.append(u"<p>"_s + inlineHtml(paragraph.join(u' ')) + u"</p>"_s);
        c.itemCounter = 0;
    }
    c.closeBlocks();
    return c.output.join(u'\n');
}

QString inlineHtml(const QString& text) {
    static const QRegularExpression code = rx(u"`([^`]+)`");
    static const QRegularExpression italicStars =
        rx(u"(?<![\\*\\w])\\*(?=\\S)([^\\*]+?)(?<=\\S)\\*(?![\\*\\w])");
    static const QRegularExpression italicUnderscores =
        rx(u"(?<![_\\w])_(?=\\S)([^_]+?)(?<=\\S)_(?![_\\w])");

    // Each step needs its marker character; without it the expression is skipped.
    QString s = escaped(text);
    if (s.contains(u'`'))
        s = replaceAll(s, code, wrapIn(u"code"));
    if (s.contains(u"]("_s))
        s = links(s);
    const bool stars = s.contains(u'*');
    const bool underscores = s.contains(u'_');
    if (stars)
        s = strongPairs(s, u'*');
    if (underscores)
        s = strongPairs(s, u'_');
    if (stars)
        s = replaceAll(s, italicStars, wrapIn(u"em"));
    if (underscores)
        s = replaceAll(s, italicUnderscores, wrapIn(u"em"));
    return s;
}

std::optional<ListItem> listItem(const QString& trimmedLine) {
    const QString& t = trimmedLine;
    if (t.isEmpty())
        return std::nullopt;
    const QChar first = t[0];
    if (const QRegularExpressionMatch bullet = first == u'-' || first == u'*' || first == u'+'
                                                   ? bulletPattern().match(t)
                                                   : QRegularExpressionMatch();
        bullet.hasMatch()) {
        const QString rest = t.mid(bullet.capturedEnd());
        const QRegularExpressionMatch box = taskBoxPattern().match(rest);
        if (!box.hasMatch())
            return ListItem{false, inlineHtml(rest)};
        const bool ticked = box.capturedView(1) != u" ";
        return ListItem{false, (ticked ? u"\u2611 "_s : u"\u2610 "_s) +
                                   inlineHtml(rest.mid(box.capturedEnd()))};
    }
    if (!first.isDigit() && !first.isHighSurrogate())
        return std::nullopt;
    if (const QRegularExpressionMatch number = numberPattern().match(t); number.hasMatch())
        return ListItem{true, inlineHtml(t.mid(number.capturedEnd()))};
    return std::nullopt;
}

QString page(const QString& title, const QString& body, const QString& fontFamily) {
    // Fixed colours: an exported page looks the same whatever the editor's mode.
    return u"<!DOCTYPE html>\n"
           "<html lang=\"de\">\n"
           "<head>\n"
           "<meta charset=\"utf-8\">\n"
           "<title>"_s +
           escaped(title) +
           u"</title>\n"
           "<style>\n"
           "body {\n"
           "  font-family: \""_s +
           fontFamily +
           u"\", Georgia, serif;\n"
           "  font-size: 12pt;\n"
           "  line-height: 1.55;\n"
           "  color: #23201b;\n"
           "  max-width: 34em;\n"
           "  margin: 3em auto;\n"
           "  padding: 0 1.5em;\n"
           "}\n"
           "h1 { font-size: 1.9em; line-height: 1.2; margin: 1.4em 0 0.5em; }\n"
           "h2 { font-size: 1.45em; margin: 1.6em 0 0.4em; }\n"
           "h3 { font-size: 1.2em; margin: 1.5em 0 0.4em; }\n"
           "h4, h5, h6 { font-size: 1.05em; margin: 1.4em 0 0.3em; }\n"
           "p { margin: 0 0 0.85em; }\n"
           "blockquote {\n"
           "  margin: 1em 0; padding-left: 1em;\n"
           "  border-left: 2px solid #c9bda3; color: #6b5d49; font-style: italic;\n"
           "}\n"
           "ul, ol { margin: 0 0 0.9em 1.3em; padding: 0; }\n"
           "li { margin-bottom: 0.3em; }\n"
           "code {\n"
           "  font-family: \"SF Mono\", Menlo, monospace; font-size: 0.9em;\n"
           "  background: #f2ede1; padding: 0.1em 0.3em; border-radius: 3px;\n"
           "}\n"
           "pre {\n"
           "  background: #f2ede1; padding: 0.9em 1em; border-radius: 5px;\n"
           "  overflow-x: auto; line-height: 1.4;\n"
           "}\n"
           "pre code { background: none; padding: 0; }\n"
           "hr { border: none; border-top: 1px solid #d5c9b1; margin: 2em 0; }\n"
           "a { color: #8a5a2b; }\n"
           "</style>\n"
           "</head>\n"
           "<body>\n"_s +
           body + u"\n</body>\n</html>"_s;
}

} // namespace orvik::MarkdownToHTML
