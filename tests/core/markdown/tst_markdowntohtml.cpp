#include "markdown/markdowntohtml.h"
#include "testenv.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QRandomGenerator>
#include <QRegularExpression>

#include <unicode/regex.h>

using namespace Qt::StringLiterals;
using namespace orvik;
using MarkdownToHTML::ListStyle;

namespace {

// The ICU engine the patterns were written for, as the reference: every match replaced, or the
// end of the first match (-1: none).
QString icuReplace(const char16_t* pattern, const QString& text, const char16_t* replacement) {
    UErrorCode status = U_ZERO_ERROR;
    const icu::UnicodeString input(false, reinterpret_cast<const UChar*>(text.utf16()),
                                   int32_t(text.size()));
    icu::RegexMatcher m(icu::UnicodeString(pattern), input, 0, status);
    const icu::UnicodeString out = m.replaceAll(icu::UnicodeString(replacement), status);
    if (U_FAILURE(status))
        qFatal("ICU failed");
    return QString(reinterpret_cast<const QChar*>(out.getBuffer()), out.length());
}
int icuEnd(const char16_t* pattern, const QString& text) {
    UErrorCode status = U_ZERO_ERROR;
    const icu::UnicodeString input(false, reinterpret_cast<const UChar*>(text.utf16()),
                                   int32_t(text.size()));
    icu::RegexMatcher m(icu::UnicodeString(pattern), input, 0, status);
    return m.find() ? m.end(status) : -1;
}

// Link targets stay as written: no tags from the code step, no markers for the later steps.
QString keptTargets(const QString& html) {
    static const QRegularExpression href(u"<a href=\"([^\"]*)\">"_s);
    QString out;
    qsizetype last = 0;
    for (const QRegularExpressionMatch& m : href.globalMatch(html)) {
        QString target = m.captured(1);
        target.replace(u"<code>"_s, u"`"_s)
            .replace(u"</code>"_s, u"`"_s)
            .replace(u'*', u"&#42;"_s)
            .replace(u'_', u"&#95;"_s);
        out += html.mid(last, m.capturedStart(1) - last) + target;
        last = m.capturedEnd(1);
    }
    return out + html.mid(last);
}

QString icuInline(const QString& text) {
    QString s = text;
    s.replace(u'&', u"&amp;"_s).replace(u'<', u"&lt;"_s).replace(u'>', u"&gt;"_s);
    s = icuReplace(u"`([^`]+)`", s, u"<code>$1</code>");
    s = keptTargets(icuReplace(u"\\[([^\\]]*)\\]\\(([^)\\s]+)\\)", s, u"<a href=\"$2\">$1</a>"));
    s = icuReplace(u"\\*\\*(?=\\S)(.+?)(?<=\\S)\\*\\*", s, u"<strong>$1</strong>");
    s = icuReplace(u"__(?=\\S)(.+?)(?<=\\S)__", s, u"<strong>$1</strong>");
    s = icuReplace(u"(?<![\\*\\w])\\*(?=\\S)([^\\*]+?)(?<=\\S)\\*(?![\\*\\w])", s, u"<em>$1</em>");
    return icuReplace(u"(?<![_\\w])_(?=\\S)([^_]+?)(?<=\\S)_(?![_\\w])", s, u"<em>$1</em>");
}

std::optional<MarkdownToHTML::ListItem> icuListItem(const QString& t) {
    if (const int b = icuEnd(u"^[-*+]\\s+", t); b >= 0) {
        const QString rest = t.mid(b);
        const int m = icuEnd(u"^\\[([ xX])\\]\\s*", rest);
        if (m < 0)
            return MarkdownToHTML::ListItem{false, icuInline(rest)};
        const QString glyph = rest[1] == u' ' ? u"\u2610"_s : u"\u2611"_s;
        return MarkdownToHTML::ListItem{false, glyph + u' ' + icuInline(rest.mid(m))};
    }
    if (const int n = icuEnd(u"^\\d+\\.\\s+", t); n >= 0)
        return MarkdownToHTML::ListItem{true, icuInline(t.mid(n))};
    return std::nullopt;
}

} // namespace

class TestMarkdownToHtml : public QObject {
    Q_OBJECT

    static QString li(const QString& marker, const QString& html) {
        return u"<p style=\"margin-left:1.6em\">"_s + marker + u"&#160;&#160;"_s + html + u"</p>"_s;
    }
    static void row(const char* name, const char16_t* markdown, const char16_t* html) {
        QTest::newRow(name) << QString::fromUtf16(markdown) << QString::fromUtf16(html);
    }
    // Random lines of `count` pieces must come out exactly as ICU converts them.
    static void agreeWithIcu(const QStringList& pieces, quint32 seed, int lines, int minCount,
                             int maxCount, bool wholeBodies) {
        QRandomGenerator random(seed);
        for (int n = 0; n < lines; ++n) {
            QString line;
            for (int k = 0, count = minCount + int(random.bounded(maxCount)); k < count; ++k)
                line += pieces[random.bounded(int(pieces.size()))];
            const QString t = line.trimmed();
            if (t.isEmpty() || t.contains(u'\n') || t.startsWith(u"```"_s))
                continue;
            const QByteArray shown = QJsonDocument(QJsonArray{line}).toJson(QJsonDocument::Compact);
            QVERIFY2(MarkdownToHTML::inlineHtml(line) == icuInline(line), shown.constData());
            if (!wholeBodies)
                continue;
            QVERIFY2(MarkdownToHTML::listItem(line) == icuListItem(line), shown.constData());
            // Single lines as whole bodies: rules and headings; a CR ends the line there.
            if (t.contains(u'\r'))
                continue;
            const QString html = MarkdownToHTML::body(t, ListStyle::Markup);
            const bool isRule = icuEnd(u"^([-*_])(\\s*\\1){2,}$", t) >= 0;
            QVERIFY2((html == u"<hr>") == isRule, qPrintable(html));
            if (!isRule && !t.startsWith(u'>'))
                QCOMPARE(html.startsWith(u"<h"_s), icuEnd(u"^#{1,6}\\s+", t) >= 0);
        }
    }

private Q_SLOTS:
    // Rules, headings and the plain emphasis rules are checked against ICU below.
    void blocks_data() {
        QTest::addColumn<QString>("markdown");
        QTest::addColumn<QString>("html");
        row("only blank lines", u"\n  \n\t\n", u"");
        row("headings: inline, indented, blanks trimmed",
            u"###### Ein **fetter** Titel\n  ##\t Zwei  ",
            u"<h6>Ein <strong>fetter</strong> Titel</h6>\n<h2>Zwei</h2>");
        row("paragraph joins lines, escaped; a line beginning with # ends it",
            u"Erste Zeile\n   zweite < & Zeile\n#Stichwort\nmehr",
            u"<p>Erste Zeile zweite &lt; &amp; Zeile</p>\n<p>#Stichwort mehr</p>");
        row("paragraphs end at a blank line, a quote, a list, a rule and a fence",
            u"A\n\nB\n> Z\n\nC\n- P\n\nD\n***\nE\n```\ncode\n```",
            u"<p>A</p>\n<p>B</p>\n<blockquote><p>Z</p></blockquote>\n<p>C</p>\n<ul>\n<li>P</li>\n"
            u"</ul>\n<p>D</p>\n<hr>\n<p>E</p>\n<pre><code>code</code></pre>");
        row("fence escapes, keeps blank lines and indentation",
            u"```swift\nlet a = 1 < 2 && b > c\n\n  eingerückt\n```\nDanach",
            u"<pre><code>let a = 1 &lt; 2 &amp;&amp; b &gt; c\n\n  eingerückt</code></pre>\n"
            u"<p>Danach</p>");
        row("unclosed fence runs to the end", u"```\n**nicht fett**\n\n# keine Überschrift",
            u"<pre><code>**nicht fett**\n\n# keine Überschrift</code></pre>");
        row("indented fences, an empty one", u"  ```\nx\n   ``` \ny\n```\n```",
            u"<pre><code>x</code></pre>\n<p>y</p>\n<pre><code></code></pre>");
        // ICU's "$" also matches before a line terminator that ends the text.
        row("rule before CR", u"---\r", u"<hr>");
        row("CR LF and lone CR end lines",
            u"# Titel\r\n\r\nEins\r\nzwei\r\rDrei\r\n- a\r\n```\r\nx\r\n```\r\n",
            u"<h1>Titel</h1>\n<p>Eins zwei</p>\n<p>Drei</p>\n<ul>\n<li>a</li>\n</ul>\n"
            u"<pre><code>x</code></pre>");
        row("lone > separates quotes; without blank, only one blank removed",
            u"> Eins\n>\n>dicht\n>  weit",
            u"<blockquote><p>Eins</p></blockquote>\n<blockquote><p>dicht  weit</p></blockquote>");
        row("quote lines join, with inline; then a list, a quote, a paragraph",
            u"> *Eins* &\n> Zwei\n- P\n> Q\nR",
            u"<blockquote><p><em>Eins</em> &amp; Zwei</p></blockquote>\n<ul>\n<li>P</li>\n</ul>\n"
            u"<blockquote><p>Q</p></blockquote>\n<p>R</p>");
        row("bullets of all kinds, indented ones top-level; numbers dropped; a blank line, text",
            u"- a\n* b\n    + c\n1. eins\n12. zwölf\n\n1. c\nText",
            u"<ul>\n<li>a</li>\n<li>b</li>\n<li>c</li>\n</ul>\n"
            u"<ol>\n<li>eins</li>\n<li>zwölf</li>\n</ol>\n<ol>\n<li>c</li>\n</ol>\n<p>Text</p>");
        row("tasks", u"- [x] erledigt\n- [ ] offen\n- [X]groß\n* [x]\n- [y] kein Haken",
            u"<ul>\n<li>\u2611 erledigt</li>\n<li>\u2610 offen</li>\n<li>\u2611 groß</li>\n"
            u"<li>\u2611 </li>\n<li>[y] kein Haken</li>\n</ul>");
        row("no blank after the marker", u"-kein Punkt\n1.kein\n1) nein\n1.5 Liter",
            u"<p>-kein Punkt 1.kein 1) nein 1.5 Liter</p>");
        // Link targets stay the address, as written.
        row("link, ampersand in the target", u"[Orvik](https://example.org/?a=1&b=2)",
            u"<p><a href=\"https://example.org/?a=1&amp;b=2\">Orvik</a></p>");
        row("emphasis markers in the target", u"[x](a/_a_/*b*/__c__)",
            u"<p><a href=\"a/&#95;a&#95;/&#42;b&#42;/&#95;&#95;c&#95;&#95;\">x</a></p>");
        row("backticks in the target", u"[x](a`b`c) `d`",
            u"<p><a href=\"a`b`c\">x</a> <code>d</code></p>");
        row("no link with a blank in the target", u"[a](b c)", u"<p>[a](b c)</p>");
        row("quote in the target stays inside the attribute",
            u"[x](http://a.b/\"onmouseover=\"alert(1))",
            u"<p><a href=\"http://a.b/&quot;onmouseover=&quot;alert(1\">x</a>)</p>");
        row("quote in the link text is left alone", u"[\"Zitat\"](z)",
            u"<p><a href=\"z\">\"Zitat\"</a></p>");
    }
    void blocks() {
        QFETCH(QString, markdown);
        QTEST(MarkdownToHTML::body(markdown, ListStyle::Markup), "html");
    }

    // Numbered items count from one; any other block restarts the numbering.
    void paragraphsStyle() {
        const auto body = [](const QString& md) {
            return MarkdownToHTML::body(md, ListStyle::Paragraphs);
        };
        const QString bullet = u"\u2022"_s;
        QCOMPARE(body(u"- a\n- [x] b\n9. c\n3. d\n- e\n3. f"_s),
                 QStringList({li(bullet, u"a"_s), li(bullet, u"\u2611 b"_s), li(u"1."_s, u"c"_s),
                              li(u"2."_s, u"d"_s), li(bullet, u"e"_s), li(u"1."_s, u"f"_s)})
                     .join(u'\n'));
        for (const QString& between :
             {u""_s, u"Text"_s, u"> Zitat"_s, u"# Kopf"_s, u"---"_s, u"```\nx\n```"_s})
            QVERIFY(body(u"1. a\n"_s + between + u"\n5. c"_s).endsWith(li(u"1."_s, u"c"_s)));
        QCOMPARE(body(u"Oben\n\n***\n\nUnten"_s),
                 u"<p>Oben</p>\n<p align=\"center\">* * *</p>\n<p>Unten</p>"_s);
        QCOMPARE(body(u"> Zitat\n1. a"_s),
                 u"<blockquote><p>Zitat</p></blockquote>\n"_s + li(u"1."_s, u"a"_s));
    }

    // Short lines from pieces on the edges of the patterns (word characters ICU and PCRE2 class
    // differently, every line terminator, surrogates); then the hand-written passes on long runs
    // of their markers.
    void patternsAgreeWithIcu() {
        const QString edges = u"*|**|_|__|`|[|]|(|)|a|ä|\u0301|\u00A0| |\t|\r|\u000B|\u000C|\u0085|"
                              u"\u2028|#|-|+|>|1.|x|[x]|[ ]|&|<|😀|\u0663|\u200D|\u203F|"
                              u"http://a.b|5|-|\u3000"_s;
        agreeWithIcu(edges.split(u'|'), 20260514, 4000, 1, 9, true);
        agreeWithIcu(u"**|__|*|_|a| |[|]|(|)|\r|ä|\u2028"_s.split(u'|'), 20261206, 300, 20, 200,
                     false);
    }

    // About a megabyte of markup that never closes, or closes in the worst places, comes out
    // whole: every letter still there, wrapped as the rules say, in time linear in the input.
    void pathologicalInputConverts_data() {
        QTest::addColumn<QString>("markdown");
        QTest::addColumn<QString>("shape"); // how the page starts … and ends
        const qsizetype mb = 1 << 20;
        const auto row = [](const char* name, const QString& markdown, const char16_t* shape) {
            QTest::newRow(name) << markdown << QString::fromUtf16(shape);
        };
        row("*a ", u"*a "_s.repeated(mb / 3), u"<p>*a *a…*a</p>");
        row("**a ", u"**a "_s.repeated(mb / 4), u"<p>**a **a…**a</p>");
        row("__a ", u"__a "_s.repeated(mb / 4), u"<p>__a __a…__a</p>");
        row("**", u"x"_s + u"**"_s.repeated(mb / 2), u"<p>x<strong>…</p>");
        row("backticks, a fence", QString(mb, u'`'), u"<pre><code>…</code></pre>");
        row("backticks after a letter", u"a"_s + QString(mb, u'`'), u"<p>a``…``</p>");
        row("[", QString(mb, u'[') + u"](x)"_s, u"<p><a href=\"x\">[[[[…[[</a></p>");
        row("[](", u"[]("_s.repeated(mb / 3), u"<p>[]([](…[](</p>");
        row("[a](b c)", u"[a](b c) "_s.repeated(mb / 9), u"<p>[a](b c) [a]…[a](b c)</p>");
        row("** across lines", u"**a\n"_s.repeated(mb / 4), u"<p>**a **a…**a</p>");
    }
    void pathologicalInputConverts() {
        QFETCH(QString, markdown);
        QFETCH(QString, shape);
        const QString html = MarkdownToHTML::body(markdown, ListStyle::Markup);
        QVERIFY2(html.startsWith(shape.section(u'…', 0, 0)) &&
                     html.endsWith(shape.section(u'…', 1)),
                 qPrintable(html.left(80) + u"…"_s + html.right(80)));
        static const QRegularExpression tag(u"<[^>]*>"_s);
        QCOMPARE(QString(html).remove(tag).count(u'a'), markdown.count(u'a'));
    }

    // Title escaped, family as given, body in place.
    void pageTemplate() {
        const QString page =
            MarkdownToHTML::page(u"Notizen & <Ideen>"_s, u"<p>eins</p>\n<p>zwei</p>"_s, u"A & B"_s);
        QVERIFY(page.contains(u"\n<title>Notizen &amp; &lt;Ideen&gt;</title>\n"_s));
        QVERIFY(page.contains(u"\n  font-family: \"A & B\", Georgia, serif;\n"_s));
        QVERIFY(page.endsWith(u"\n<body>\n<p>eins</p>\n<p>zwei</p>\n</body>\n</html>"_s));
    }
};

ORVIK_TEST_MAIN(TestMarkdownToHtml)
#include "tst_markdowntohtml.moc"
