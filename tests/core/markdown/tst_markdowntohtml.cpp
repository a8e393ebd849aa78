#include "markdown/markdowntohtml.h"
#include "testenv.h"

#include <QRandomGenerator>
#include <QRegularExpression>

#include <unicode/regex.h>

using namespace Qt::StringLiterals;
using namespace orvik;
using MarkdownToHTML::ListStyle;

namespace {

// The ICU engine the patterns were written for, as the reference: every match replaced.
QString icuReplace(const char16_t* pattern, const QString& text, const char16_t* replacement) {
    UErrorCode status = U_ZERO_ERROR;
    const icu::UnicodeString input(false, reinterpret_cast<const UChar*>(text.utf16()),
                                   int32_t(text.size()));
    icu::RegexMatcher m(icu::UnicodeString(pattern), input, 0, status);
    const icu::UnicodeString out = m.replaceAll(icu::UnicodeString(replacement), status);
    return QString(reinterpret_cast<const QChar*>(out.getBuffer()), out.length());
}
// For patterns anchored at the start: the first match marked, measured by what is left.
int icuEnd(const char16_t* pattern, const QString& text) {
    const QString marked = icuReplace(pattern, text, u"\uE000");
    return marked.startsWith(u'\uE000') ? int(text.size() - marked.size() + 1) : -1;
}

// Link targets stay as written: no tags from the code step, no markers for the later steps.
QString keptTargets(QString html) {
    static const QRegularExpression href(u"<a href=\"([^\"]*)\">"_s);
    QRegularExpressionMatch m;
    for (qsizetype at = 0; (m = href.match(html, at)).hasMatch();) {
        QString target = m.captured(1).replace(u"<code>"_s, u"`"_s).replace(u"</code>"_s, u"`"_s);
        target.replace(u'*', u"&#42;"_s).replace(u'_', u"&#95;"_s);
        html.replace(m.capturedStart(1), m.capturedLength(1), target);
        at = m.capturedStart(1) + target.size();
    }
    return html;
}

QString icuInline(QString s) {
    s.replace(u'&', u"&amp;"_s).replace(u'<', u"&lt;"_s).replace(u'>', u"&gt;"_s);
    s = icuReplace(u"`([^`]+)`", s, u"<code>$1</code>");
    s = keptTargets(icuReplace(u"\\[([^\\]]*)\\]\\(([^)\\s]+)\\)", s, u"<a href=\"$2\">$1</a>"));
    s = icuReplace(u"\\*\\*(?=\\S)(.+?)(?<=\\S)\\*\\*", s, u"<strong>$1</strong>");
    s = icuReplace(u"__(?=\\S)(.+?)(?<=\\S)__", s, u"<strong>$1</strong>");
    s = icuReplace(u"(?<![\\*\\w])\\*(?=\\S)([^\\*]+?)(?<=\\S)\\*(?![\\*\\w])", s, u"<em>$1</em>");
    return icuReplace(u"(?<![_\\w])_(?=\\S)([^_]+?)(?<=\\S)_(?![_\\w])", s, u"<em>$1</em>");
}

std::optional<MarkdownToHTML::ListItem> icuListItem(const QString& t) {
    const int n = icuEnd(u"^\\d+\\.\\s+", t), b = icuEnd(u"^[-*+]\\s+", t);
    if (n >= 0 || b < 0)
        return n < 0 ? std::nullopt
                     : std::optional(MarkdownToHTML::ListItem{true, icuInline(t.mid(n))});
    const int box = icuEnd(u"^\\[([ xX])\\]\\s*", t.mid(b));
    const QString glyph = box < 0 ? QString() : t[b + 1] == u' ' ? u"\u2610 "_s : u"\u2611 "_s;
    return MarkdownToHTML::ListItem{false, glyph + icuInline(t.mid(b + std::max(box, 0)))};
}

} // namespace

class TestMarkdownToHtml : public QObject {
    Q_OBJECT

    static QString li(const QString& marker, const QString& html) {
        return u"<p style=\"margin-left:1.6em\">"_s + marker + u"&#160;&#160;"_s + html + u"</p>"_s;
    }
    static void row(const char* name, QStringView markdown, QStringView html) {
        QTest::newRow(name) << markdown.toString() << html.toString();
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
            const QByteArray shown = line.toUtf8().toPercentEncoding(" *_`[]()#-+>&<.:/");
            QVERIFY2(MarkdownToHTML::inlineHtml(line) == icuInline(line), shown.constData());
            if (wholeBodies)
                QVERIFY2(MarkdownToHTML::listItem(line) == icuListItem(line), shown.constData());
            if (!wholeBodies || t.contains(u'\r')) // single lines as bodies; a CR ends the line
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
        row("paragraph: lines joined, escaped, ended by #; no list without a blank",
            u"Erste Zeile\n   zweite < & Zeile\n#Stichwort\nmehr\n-kein\n1.kein\n1) nein\n1.5 "
            u"Liter",
            u"<p>Erste Zeile zweite &lt; &amp; Zeile</p>\n<p>#Stichwort mehr -kein 1.kein 1) nein "
            u"1.5 Liter</p>");
        row("paragraph ends; headings",
            u"A\n\nB\n> Z\n\nC\n- P\n\nD\n***\nE\n###### Ein **fetter** Titel\n  ##\t Zwei  \nF\n"
            u"```\ncode\n```",
            u"<p>A</p>\n<p>B</p>\n<blockquote><p>Z</p></blockquote>\n<p>C</p>\n<ul>\n<li>P</li>\n"
            u"</ul>\n<p>D</p>\n<hr>\n<p>E</p>\n<h6>Ein <strong>fetter</strong> Titel</h6>\n"
            u"<h2>Zwei</h2>\n<p>F</p>\n<pre><code>code</code></pre>");
        row("fences: escaped, blank lines and indentation kept, indented, empty, unclosed",
            u"```swift\nlet a = 1 < 2 && b > c\n\n  eingerückt\n```\nDanach\n\n  ```\nx\n   ``` \n"
            u"y\n```\n```\n```\n**nicht fett**\n\n# keine Überschrift",
            u"<pre><code>let a = 1 &lt; 2 &amp;&amp; b &gt; c\n\n  eingerückt</code></pre>\n"
            u"<p>Danach</p>\n<pre><code>x</code></pre>\n<p>y</p>\n<pre><code></code></pre>\n"
            u"<pre><code>**nicht fett**\n\n# keine Überschrift</code></pre>");
        row("rule before CR", u"---\r", u"<hr>"); // ICU's $ matches before a final terminator
        row("CR LF and lone CR",
            u"# Titel\r\n\r\nEins\r\nzwei\r\rDrei\r\n- a\r\n```\r\nx\r\n```\r\n",
            u"<h1>Titel</h1>\n<p>Eins zwei</p>\n<p>Drei</p>\n<ul>\n<li>a</li>\n</ul>\n"
            u"<pre><code>x</code></pre>");
        row("quotes: lines joined, a lone > separates, one blank removed",
            u"> *Eins* &\n> Zwei\n>\n>dicht\n>  weit\n- P\n> Q\nR",
            u"<blockquote><p><em>Eins</em> &amp; Zwei</p></blockquote>\n<blockquote><p>dicht  "
            u"weit</p></blockquote>\n<ul>\n<li>P</li>\n</ul>\n<blockquote><p>Q</p></blockquote>\n"
            u"<p>R</p>");
        row("lists: bullets of all kinds, indented ones top-level, tasks; numbers dropped",
            u"- a\n* b\n    + c\n- [x] ja\n- [ ] offen\n- [X]groß\n* [x]\n- [y] nein\n1. eins\n"
            u"12. zwölf\n\n1. c\nText",
            u"<ul>\n<li>a</li>\n<li>b</li>\n<li>c</li>\n<li>\u2611 ja</li>\n<li>\u2610 offen</li>\n"
            u"<li>\u2611 groß</li>\n<li>\u2611 </li>\n<li>[y] nein</li>\n</ul>\n"
            u"<ol>\n<li>eins</li>\n<li>zwölf</li>\n</ol>\n<ol>\n<li>c</li>\n</ol>\n<p>Text</p>");
        row("link targets as written, the address only",
            u"[Orvik](https://example.org/?a=1&b=2) [x](a/_a_/*b*/__c__) [x](a`b`c) `d` [a](b c) "
            u"[\"Zitat\"](z) [x](http://a.b/\"onmouseover=\"alert(1))",
            u"<p><a href=\"https://example.org/?a=1&amp;b=2\">Orvik</a> "
            u"<a href=\"a/&#95;a&#95;/&#42;b&#42;/&#95;&#95;c&#95;&#95;\">x</a> "
            u"<a href=\"a`b`c\">x</a> <code>d</code> [a](b c) <a href=\"z\">\"Zitat\"</a> "
            u"<a href=\"http://a.b/&quot;onmouseover=&quot;alert(1\">x</a>)</p>");
    }
    void blocks() {
        QFETCH(QString, markdown);
        QTEST(MarkdownToHTML::body(markdown, ListStyle::Markup), "html");
    }

    // Numbered items count from one; any other block restarts them (the exports show the rest).
    void paragraphsStyle() {
        QCOMPARE(MarkdownToHTML::body(u"9. c\n3. d"_s, ListStyle::Paragraphs),
                 li(u"1."_s, u"c"_s) + u'\n' + li(u"2."_s, u"d"_s));
        for (const QString& between :
             {u""_s, u"- e"_s, u"Text"_s, u"> Zitat"_s, u"# Kopf"_s, u"---"_s, u"```\nx\n```"_s})
            QVERIFY(MarkdownToHTML::body(u"1. a\n"_s + between + u"\n5. c"_s, ListStyle::Paragraphs)
                        .endsWith(li(u"1."_s, u"c"_s)));
    }

    // Short lines from pieces on the edges of the patterns (word characters ICU and PCRE2 class
    // differently, line terminators, surrogates); then long runs for the hand-written passes.
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
        const qsizetype cut = shape.indexOf(u'…');
        QCOMPARE(html.first(cut) + u'…' + html.last(shape.size() - cut - 1), shape);
        static const QRegularExpression tag(u"<[^>]*>"_s);
        QCOMPARE(QString(html).remove(tag).count(u'a'), markdown.count(u'a'));
    }

    // Title escaped, family as given, body in place.
    void pageTemplate() {
        const QString page =
            MarkdownToHTML::page(u"Notiz & <Idee>"_s, u"<p>eins</p>"_s, u"A & B"_s);
        QVERIFY(page.contains(u"\n<title>Notiz &amp; &lt;Idee&gt;</title>\n"_s) &&
                page.contains(u"\n  font-family: \"A & B\", Georgia, serif;\n"_s));
        QVERIFY(page.endsWith(u"\n<body>\n<p>eins</p>\n</body>\n</html>"_s));
    }
};

ORVIK_TEST_MAIN(TestMarkdownToHtml)
#include "tst_markdowntohtml.moc"
