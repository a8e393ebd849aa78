#include "testenv.h"

#include "markdown/highlighter.h"

#include <QFontInfo>
#include <QGuiApplication>

#include <unicode/uregex.h>

#include <random>

using namespace Qt::StringLiterals;
using namespace orvik::MarkdownHighlighter;
using Role = orvik::Palette::Role;

namespace {

const Faces allFaces{{true, true, true}, {true, true, true}};
// A family with nothing but its regular face.
const Faces regularOnly{{false, false, false}, {true, true, true}};
// Bold and italic, but no bold italic (like EB Garamond).
const Faces noBoldItalic{{true, true, false}, {true, true, true}};

// "h2 bold heading p:h +bold": font, faces, colour, paragraph, imitations,
// each but the plain ones.
QString describe(const CharStyle& s) {
    static const QStringList fonts = u"body mono h1 h2 h3 h4"_s.split(u' ');
    static const QStringList colours = u"paper text heading syntax quote code link"_s.split(u' ');
    static const QStringList paragraphs = u"p:body p:h1 p:h p:quote p:list"_s.split(u' ');
    const CharStyle plain;
    const auto word = [](bool on, const QString& w) { return on ? w + u' ' : QString(); };
    return (word(s.font != plain.font, fonts.value(int(s.font), u"?"_s)) + word(s.bold, u"bold"_s) +
            word(s.italic, u"italic"_s) +
            word(s.color != plain.color, colours.value(int(s.color), u"?"_s)) +
            word(s.paragraph != plain.paragraph, paragraphs.value(int(s.paragraph), u"?"_s)) +
            word(s.syntheticBold, u"+bold"_s) + word(s.syntheticItalic, u"+italic"_s) +
            word(s.underline, u"underline"_s))
        .trimmed();
}

std::vector<CharStyle> expand(const QList<StyledRange>& ranges, qsizetype length) {
    std::vector<CharStyle> styles;
    for (const StyledRange& r : ranges)
        styles.insert(styles.end(), size_t(r.length), r.style);
    if (qsizetype(styles.size()) != length)
        qFatal("ranges cover %zu of %lld units", styles.size(), qlonglong(length));
    return styles;
}

QList<StyledRange> merged(const QList<StyledRange>& pieces) {
    QList<StyledRange> result;
    for (const StyledRange& r : pieces) {
        if (!result.isEmpty() && result.last().style == r.style && result.last().end() == r.start)
            result.last().length += r.length;
        else
            result.append(r);
    }
    return result;
}

// The highlighter's rules once more, plainly, one pass after the other over
// the whole text, on ICU (the engine the patterns were written for) with the
// patterns verbatim: the reference for random texts.
class IcuPattern {
public:
    IcuPattern(const char16_t* pattern, bool lineAnchors) {
        UErrorCode status = U_ZERO_ERROR;
        UParseError parseError;
        m_re = uregex_open(pattern, -1, lineAnchors ? UREGEX_MULTILINE : 0, &parseError, &status);
        if (U_FAILURE(status))
            qFatal("ICU pattern: %s", u_errorName(status));
    }
    ~IcuPattern() { uregex_close(m_re); }
    Q_DISABLE_COPY_MOVE(IcuPattern)

    // Calls f with [start, end) of group 0 and of every group, per match.
    template <typename F> void forEach(const QString& text, F f) const {
        UErrorCode status = U_ZERO_ERROR;
        uregex_setText(m_re, reinterpret_cast<const UChar*>(text.utf16()), int32_t(text.size()),
                       &status);
        while (uregex_findNext(m_re, &status)) {
            std::vector<std::pair<qsizetype, qsizetype>> g;
            for (int32_t i = 0; i <= uregex_groupCount(m_re, &status); ++i)
                g.emplace_back(uregex_start(m_re, i, &status), uregex_end(m_re, i, &status));
            f(g);
        }
        if (U_FAILURE(status))
            qFatal("ICU match: %s", u_errorName(status));
    }

    bool found(const QString& text) const {
        bool any = false;
        forEach(text, [&](const auto&) { any = true; });
        return any;
    }

private:
    URegularExpression* m_re = nullptr;
};

// [start, end) of each paragraph as the export joins lines (each but the
// last with its "\n"): from a line that can hold a paragraph on, as long as
// the lines below continue it.
QList<std::pair<qsizetype, qsizetype>> paragraphs(const QString& text) {
    static const IcuPattern heading(uR"(^#{1,6}\s+)", false);
    static const IcuPattern item(uR"(^(?:[-*+]|\d+\.)\s+)", false);
    static const IcuPattern rule(uR"(^([-*_])(\s*\1){2,}$)", false);
    QList<std::pair<qsizetype, qsizetype>> result;
    qsizetype at = 0;
    bool open = false;
    for (QString t : text.split(u'\n')) {
        const qsizetype lineEnd = std::min(at + t.size() + 1, text.size());
        if (t.endsWith(u'\r'))
            t.chop(1);
        while (!t.isEmpty() && (t[0] == u'\t' || t[0].category() == QChar::Separator_Space))
            t.remove(0, 1);
        while (!t.isEmpty() && (t.back() == u'\t' || t.back().category() == QChar::Separator_Space))
            t.chop(1);
        const bool block = t.isEmpty() || t.startsWith(u"```") || t.startsWith(u'>') ||
                           item.found(t) || rule.found(t);
        if (open && !block && !t.startsWith(u'#'))
            result.last().second = lineEnd;
        else
            result.append({at, lineEnd});
        open = !block && !heading.found(t);
        at = lineEnd;
    }
    return result;
}

std::vector<CharStyle> reference(const QString& text, const Faces& faces) {
    static const IcuPattern fence(uR"(^```[^\n]*$[\s\S]*?^```[ \t]*$)", true);
    static const IcuPattern heading(uR"(^(#{1,6})[ \t]+(.*)$)", true);
    static const IcuPattern quote(uR"(^([ \t]*>[ \t]?)(.*)$)", true);
    static const IcuPattern listItem(uR"(^([ \t]*(?:[-*+]|\d+\.)[ \t]+))", true);
    static const IcuPattern task(uR"(^[ \t]*[-*+][ \t]+(\[[ xX]\]))", true);
    static const IcuPattern rule(uR"(^[ \t]*([-*_])(?:[ \t]*\1){2,}[ \t]*$)", true);
    static const IcuPattern bold(uR"((\*\*|__)(?=\S)(.+?)(?<=\S)\1)", false);
    // Over one paragraph at a time (paragraphs()).
    static const IcuPattern italic(uR"((?<![\*_\w])(\*|_)(?=\S)([^\*_]+?)(?<=\S)\1(?![\*_\w]))",
                                   false);
    static const IcuPattern code(uR"((`+)([^`\n]+?)\1)", false);
    static const IcuPattern link(uR"((\[)([^\]\n]*)(\]\()([^)\s]+)(\)))", false);

    std::vector<CharStyle> s(size_t(text.size()));
    const auto paint = [&](std::pair<qsizetype, qsizetype> range, auto change) {
        for (qsizetype i = range.first; i < range.second; ++i)
            change(s[size_t(i)]);
    };
    const auto colour = [&](std::pair<qsizetype, qsizetype> range, Role role) {
        paint(range, [role](CharStyle& c) { c.color = role; });
    };
    const auto monospace = [](Role role) {
        return [role](CharStyle& c) {
            c.font = FontRole::Monospace;
            c.bold = c.italic = false;
            c.color = role;
        };
    };
    const auto facesOf = [&](const CharStyle& c) {
        return c.font == FontRole::Monospace ? faces.monospace : faces.text;
    };
    const auto delimiters = [&](const auto& g) {
        colour({g[0].first, g[2].first}, Role::Syntax);
        colour({g[2].second, g[0].second}, Role::Syntax);
    };

    fence.forEach(text, [&](const auto& g) { paint(g[0], monospace(Role::Code)); });
    heading.forEach(text, [&](const auto& g) {
        const qsizetype level = g[1].second - g[1].first;
        paint(g[0], [&](CharStyle& c) {
            c.font = FontRole(int(FontRole::Heading1) + std::min<int>(int(level), 4) - 1);
            c.bold = faces.text.bold;
            c.italic = false;
            c.color = Role::Heading;
            c.paragraph = level == 1 ? ParagraphRole::Heading1 : ParagraphRole::Heading;
            c.syntheticBold |= !faces.text.bold;
        });
        colour(g[1], Role::Syntax);
    });
    quote.forEach(text, [&](const auto& g) {
        paint(g[0], [&](CharStyle& c) {
            c.font = FontRole::Body;
            c.bold = false;
            c.italic = faces.text.italic;
            c.color = Role::Quote;
            c.paragraph = ParagraphRole::Quote;
            c.syntheticItalic |= !faces.text.italic;
        });
        colour(g[1], Role::Syntax);
    });
    listItem.forEach(text, [&](const auto& g) {
        // The group's line range as text systems take it: up to and including
        // LF, CR, CR LF, NEL, LS or PS.
        const auto breaks = [](QChar c) {
            return c == u'\n' || c == u'\r' || c == u'\x85' || c == u'\x2028' || c == u'\x2029';
        };
        auto [from, to] = g[1];
        while (from > 0 && !breaks(text[from - 1]))
            --from;
        while (to < text.size() && !breaks(text[to]))
            ++to;
        if (to < text.size())
            to += text.mid(to, 2) == u"\r\n" ? 2 : 1;
        paint({from, to}, [](CharStyle& c) { c.paragraph = ParagraphRole::ListItem; });
        colour(g[1], Role::Syntax);
    });
    task.forEach(text, [&](const auto& g) { paint(g[1], monospace(Role::Link)); });
    rule.forEach(text, [&](const auto& g) { colour(g[0], Role::Syntax); });
    bold.forEach(text, [&](const auto& g) {
        paint(g[2], [&](CharStyle& c) {
            if (facesOf(c).has(true, c.italic))
                c.bold = true;
            else if (!c.bold)
                c.syntheticBold = true;
        });
        delimiters(g);
    });
    for (const auto& [start, end] : paragraphs(text)) {
        italic.forEach(text.sliced(start, end - start), [&](auto g) {
            for (auto& [a, b] : g)
                a += start, b += start;
            paint(g[2], [&](CharStyle& c) {
                if (facesOf(c).has(c.bold, true))
                    c.italic = true;
                else if (!c.italic)
                    c.syntheticItalic = true;
            });
            delimiters(g);
        });
    }
    code.forEach(text, [&](const auto& g) {
        paint(g[2], monospace(Role::Code));
        delimiters(g);
    });
    link.forEach(text, [&](const auto& g) {
        paint(g[2], [](CharStyle& c) {
            c.color = Role::Link;
            c.underline = true;
        });
        for (size_t i : {1, 3, 4, 5})
            colour(g[i], Role::Syntax);
    });
    return s;
}

// Markdown-ish text from pieces that make and break every pattern, with all
// kinds of line breaks and the characters where ICU and PCRE2 differ.
QString randomText(std::mt19937& rng, int pieces, bool fenceHeavy) {
    static const QStringList tokens = {
        u"# "_s,      u"## "_s,   u"#### "_s,  u"####### "_s, u"#"_s,          u"> "_s,
        u">"_s,       u"- "_s,    u"* "_s,     u"+ "_s,       u"12. "_s,       u"- [ ] "_s,
        u"- [x] "_s,  u"[X]"_s,   u"---"_s,    u"* * *"_s,    u"___"_s,        u"**"_s,
        u"__"_s,      u"*"_s,     u"_"_s,      u"`"_s,        u"``"_s,         u"```"_s,
        u"```js"_s,   u"["_s,     u"]"_s,      u"("_s,        u")"_s,          u"]("_s,
        u"x.de/a"_s,  u" "_s,     u"  "_s,     u"\t"_s,       u"\n"_s,         u"\n"_s,
        u"\r\n"_s,    u"\r"_s,    u"\u2028"_s, u"\v"_s,       u"\u0085"_s,     u"\u00A0"_s,
        u"Wort"_s,    u"Äpfel"_s, u"Straße"_s, u"a\u0308"_s,  u"snake_case"_s, u"7"_s,
        u"\u0663."_s, u"😀"_s,     u"\xD800"_s, u"\u200D"_s,   u"."_s};
    static const QStringList fences = {u"```"_s,    u"```\n"_s,       u"\n```"_s,    u"\n```\n"_s,
                                       u"```x\n"_s, u"\r\n```\r\n"_s, u"\u2028```"_s};
    QString text;
    for (int i = 0; i < pieces; ++i)
        text += fenceHeavy && rng() % 4 == 0 ? fences[rng() % fences.size()]
                                             : tokens[rng() % tokens.size()];
    return text;
}

// [start, end) of each line, its "\n" included.
QList<std::pair<qsizetype, qsizetype>> lines(const QString& text) {
    QList<std::pair<qsizetype, qsizetype>> result;
    for (qsizetype start = 0; start < text.size();) {
        const qsizetype newline = text.indexOf(u'\n', start);
        const qsizetype end = newline < 0 ? text.size() : newline + 1;
        result.append({start, end});
        start = end;
    }
    return result;
}

} // namespace

Q_DECLARE_METATYPE(orvik::MarkdownHighlighter::Faces)

class TestHighlighter : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void styles_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("part"); // the nth occurrence of it
        QTest::addColumn<int>("nth");
        QTest::addColumn<Faces>("faces");
        QTest::addColumn<QString>("style");
        const auto row = [](const char* name, const QString& text, const QString& part, int nth,
                            const Faces& faces, const QString& style) {
            QTest::newRow(name) << text << part << nth << faces << style;
        };
        const Faces& all = allFaces;
        row("empty", u""_s, u""_s, 0, all, u""_s); // ranges must cover exactly nothing
        row("heading 1", u"# Titel"_s, u"Titel"_s, 0, all, u"h1 bold heading p:h1"_s);
        row("heading marks", u"# Titel"_s, u"#"_s, 0, all, u"h1 bold syntax p:h1"_s);
        row("seven marks", u"####### Titel"_s, u"Titel"_s, 0, all, u""_s);
        row("heading in CR LF", u"x\r\n## Titel\r\nx"_s, u"Titel"_s, 0, all,
            u"h2 bold heading p:h"_s);
        row("after LS", u"x\u2028## Titel"_s, u"Titel"_s, 0, all, u"h2 bold heading p:h"_s);
        row("heading, no bold face", u"## Titel"_s, u"Titel"_s, 0, regularOnly,
            u"h2 heading p:h +bold"_s);

        const QString both = u"**fett *beides* fett**"_s;
        row("bold around italic", both, u"beides"_s, 0, all, u"bold italic"_s);
        row("inner delimiters", both, u"*"_s, 3, all, u"bold syntax"_s);
        row("no bold italic face", both, u"beides"_s, 0, noBoldItalic, u"bold +italic"_s);
        row("no bold inside italic", u"*a **b** c*"_s, u"a "_s, 0, all, u""_s);

        row("snake case", u"ein snake_case_name"_s, u"case"_s, 0, all, u""_s);
        row("combining mark", u"a\u0308_kursiv_ b"_s, u"kursiv"_s, 0, all, u""_s);
        row("no-break space", u"_\u00A0kursiv_"_s, u"kursiv"_s, 0, all, u""_s);
        // Italics join the lines of a paragraph, as the export does, and no others.
        row("italic across lines", u"ein *kursiv\nweiter* Text"_s, u"kursiv\nweiter"_s, 0, all,
            u"italic"_s);
        row("its closing line", u"ein _kursiv\r\n\tweiter_ Text"_s, u"_"_s, 1, all, u"syntax"_s);
        row("not across a blank line", u"ein *kursiv\n \nweiter*"_s, u"kursiv"_s, 0, all, u""_s);
        row("not into a list item", u"ein *kursiv\n- weiter*"_s, u"kursiv"_s, 0, all, u""_s);
        row("not out of a heading", u"# ein *kursiv\nweiter*"_s, u"weiter"_s, 0, all, u""_s);
        row("not across quote lines", u"> ein *kursiv\n> weiter*"_s, u"weiter"_s, 0, all,
            u"italic quote p:quote"_s);
        row("quote, no italic face", u"> Zitat"_s, u"Zitat"_s, 0, regularOnly,
            u"quote p:quote +italic"_s);

        row("double ticks", u"a ``wort`` b"_s, u"``"_s, 0, all, u"syntax"_s);
        row("code across lines", u"a `wort\nb` c"_s, u"wort"_s, 0, all, u""_s);
        row("link text", u"[die Seite](https://orvik.de/a)"_s, u"die Seite"_s, 0, all,
            u"link underline"_s);
        row("no-break space in target", u"[a](b\u00A0c)"_s, u"a"_s, 0, all, u""_s);
        row("task box", u"- [x] Erledigt\nweiter"_s, u"[x]"_s, 0, all, u"mono link p:list"_s);
        row("numbered, CR LF", u"12. Punkt\r\nx"_s, u"Punkt\r\n"_s, 0, all, u"p:list"_s);
        row("rule and list", u"- - -\nText"_s, u"- - -"_s, 0, all, u"syntax p:list"_s);

        const QString fenced = u"```js\n# Titel\n**fett**\n```\nText"_s;
        row("heading in fence", fenced, u"Titel"_s, 0, all, u"h1 bold heading p:h1"_s);
        row("bold in fence", fenced, u"fett"_s, 0, all, u"mono bold code"_s);
        row("after the fence", fenced, u"\nText"_s, 0, all, u""_s);
        row("unclosed fence", u"```\ncode\n"_s, u"code"_s, 0, all, u""_s);
        row("never closed", u"```\na\n```\nzwischen\n```python\nb\n``` x\n"_s, u"b\n``` x"_s, 0,
            all, u""_s);
    }
    void styles() {
        QFETCH(QString, text);
        QFETCH(QString, part);
        QFETCH(int, nth);
        QFETCH(Faces, faces);
        QFETCH(QString, style);
        qsizetype at = text.indexOf(part);
        for (int i = 0; i < nth; ++i)
            at = text.indexOf(part, at + 1);
        QVERIFY(at >= 0);
        const auto styles = expand(ranges(text, faces), text.size());
        for (qsizetype i = at; i < at + part.size(); ++i)
            QCOMPARE(describe(styles[size_t(i)]), style);
    }

    void matchesIcuReference() {
        std::mt19937 rng(20240601);
        for (int round = 0; round < 500; ++round) {
            const QString text = randomText(rng, 1 + int(rng() % 120), round % 3 == 0);
            for (const Faces& faces : {allFaces, regularOnly, noBoldItalic}) {
                const auto expected = reference(text, faces);
                const auto actual = expand(ranges(text, faces), text.size());
                for (size_t i = 0; i < expected.size(); ++i)
                    if (!(actual[i] == expected[i]))
                        QFAIL(qPrintable(u"at %1: expected %2, actual %3 in\n"_s.arg(i).arg(
                                             describe(expected[i]), describe(actual[i])) +
                                         QString::fromLatin1(text.toUtf8().toPercentEncoding())));
            }
        }
    }

    // Text built to make backtracking patterns explode: a megabyte of it, in
    // lines of 4000 units. It must come out in about linear time (a pass
    // quadratic in the line length takes minutes and runs into the test's
    // time limit), every line styled as the reference styles one.
    void pathologicalTextStaysLinear_data() {
        QTest::addColumn<QString>("unit");
        for (const char* unit :
             {"*a ", "`", "``a", "[", "[a](", "**", "**a ", "__a ", "**a**", "- ", "1"})
            QTest::newRow(unit) << QString::fromLatin1(unit);
    }

    void pathologicalTextStaysLinear() {
        QFETCH(QString, unit);
        const QString line = unit.repeated(4000 / unit.size()) + u'\n';
        const auto expected = reference(line, allFaces);
        const QString text = line.repeated(1024 * 1024 / line.size());
        const auto styles = expand(ranges(text, allFaces), text.size());
        for (qsizetype at = 0; at < text.size(); at += line.size())
            QVERIFY2(std::equal(expected.begin(), expected.end(), styles.begin() + at),
                     qPrintable(u"line at %1"_s.arg(at)));
        // One line of a megabyte.
        const QString longLine = unit.repeated(1024 * 1024 / unit.size());
        QCOMPARE(expand(ranges(longLine, allFaces), longLine.size()).size(),
                 size_t(longLine.size()));
    }

    // A line where PCRE2 gives up (here its stack limit, on a rule of half a
    // million dashes) goes without that pass; the lines after it do not.
    void aLineTheEngineGivesUpOnLeavesTheOthersStyled() {
        const QString huge = u"- "_s.repeated(500000) + u'\n';
        const QString tail = u"- - -\n# Titel\n* * *\n"_s;
        const auto styles = expand(ranges(huge + tail, allFaces), huge.size() + tail.size());
        const auto alone = expand(ranges(tail, allFaces), tail.size());
        QVERIFY(std::equal(alone.begin(), alone.end(), styles.begin() + huge.size()));
        QCOMPARE(alone[0].color, Role::Syntax);
        QCOMPARE(alone[4].color, Role::Syntax);
        QCOMPARE(alone[size_t(tail.size()) - 2].color, Role::Syntax);
        // The long line itself still has its list marker.
        QCOMPARE(styles[0].color, Role::Syntax);
        QCOMPARE(styles[0].paragraph, ParagraphRole::ListItem);
    }

    // What an editor does after an edit: restyle the lines italics tie to
    // the edited one, before and after it, and keep the others. It must come
    // out as a full restyle would, also where italics reach past the lines
    // next to it. (Random edits, code blocks included: the fuzz replay.)
    void editsRestyleTheLinesItalicsTie_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("at");
        QTest::addColumn<int>("removed");
        QTest::addColumn<QString>("inserted");
        QTest::newRow("untie below") << u"*ab\nmitte\ncd*\nx\n"_s << 12 << 1 << QString();
        QTest::newRow("tie below") << u"*ab\nmitte\ncd\nx\n"_s << 12 << 0 << u"*"_s;
        QTest::newRow("untie above") << u"x\n*ab\nmitte\ncd*\n"_s << 2 << 1 << QString();
        QTest::newRow("tie above") << u"x\nab\nmitte\ncd*\n"_s << 2 << 0 << u"*"_s;
    }

    void editsRestyleTheLinesItalicsTie() {
        QFETCH(QString, text);
        QFETCH(int, at);
        QFETCH(int, removed);
        QFETCH(QString, inserted);
        const QList<StyledRange> before = ranges(text, allFaces);
        const auto lineEndOf = [&](qsizetype p) {
            const qsizetype newline = text.indexOf(u'\n', p);
            return newline < 0 ? text.size() : newline + 1;
        };
        const qsizetype editedStart = at == 0 ? 0 : text.lastIndexOf(u'\n', at - 1) + 1;
        const CodeBlock reachBefore = italicReach(text, editedStart, lineEndOf(at + removed));
        text.replace(at, removed, inserted);
        const CodeBlock reach = italicReach(text, editedStart, lineEndOf(at + inserted.size()));
        const qsizetype shift = inserted.size() - removed;
        const qsizetype near = std::min(reach.start, reachBefore.start);
        const qsizetype far = std::max(reach.end, reachBefore.end + shift);
        QList<StyledRange> pieces;
        for (const auto& [start, end] : lines(text)) {
            // Restyled with the lines italics may join it with, or kept, moved along.
            const bool restyled = start < far && end > near;
            const CodeBlock p = styleStretch(text, start);
            const qsizetype by = restyled || start <= at ? 0 : shift;
            const QList<StyledRange> from =
                restyled ? lineRanges(QStringView(text).sliced(p.start, p.end - p.start), p.start,
                                      codeBlocks(text), allFaces)
                         : before;
            for (const StyledRange& r : from) {
                const qsizetype a = std::max(r.start, start - by);
                const qsizetype b = std::min(r.end(), end - by);
                if (a < b)
                    pieces.append({a + by, b - a, r.style});
            }
        }
        QCOMPARE(merged(pieces), ranges(text, allFaces));
    }

    void formats() {
        const Style style{20, u"Charis SIL"_s, orvik::Palette::sepiaLight(),
                          orvik::AppearanceMode::SepiaHell};
        if (!orvik::Theme::isInstalled(style.family))
            QSKIP("Charis SIL is not installed");
        QCOMPARE(Faces::of(style).text, (orvik::FaceSet{true, true, true}));
        const Formats f(style, orvik::colorSchemePalette(orvik::ColorScheme::Light));
        const QFont heading = f.charFormat({.font = FontRole::Heading1, .bold = true}).font();
        QCOMPARE(heading.weight(), QFont::Bold);
        QCOMPARE(QFontInfo(heading).family(), u"Charis SIL"_s);
        QVERIFY(QFontInfo(f.charFormat({.font = FontRole::Monospace}).font()).fixedPitch());
        const CharStyle imitated{.syntheticItalic = true, .underline = true};
        QVERIFY(f.charFormat(imitated).fontUnderline());
        QVERIFY(f.font(imitated).italic());
    }
};

int main(int argc, char** argv) {
    orvik::test::isolateHome();
    QGuiApplication app(argc, argv);
    TestHighlighter tc;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&tc, argc, argv);
}

#include "tst_highlighter.moc"
