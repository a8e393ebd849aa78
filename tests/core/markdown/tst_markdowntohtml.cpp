#include "markdown/markdowntohtml.h"
#include "testenv.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QRandomGenerator>
#include <QRegularExpression>

#include <unicode/uregex.h>

using namespace Qt::StringLiterals;

using namespace orvik;
using MarkdownToHTML::ListStyle;

namespace {

// The ICU engine the patterns were written for, as the reference.
class IcuPattern {
public:
    explicit IcuPattern(const char16_t* pattern) {
        UErrorCode status = U_ZERO_ERROR;
        m_re = uregex_open(reinterpret_cast<const UChar*>(pattern), -1, 0, nullptr, &status);
        if (U_FAILURE(status))
            qFatal("bad ICU pattern");
    }
    ~IcuPattern() { uregex_close(m_re); }
    IcuPattern(const IcuPattern&) = delete;
    IcuPattern& operator=(const IcuPattern&) = delete;

    // Start and end of the first match, or nothing.
    std::optional<std::pair<int, int>> find(const QString& text) {
        UErrorCode status = setText(text);
        if (!uregex_find(m_re, 0, &status) || U_FAILURE(status))
            return std::nullopt;
        return std::pair{uregex_start(m_re, 0, &status), uregex_end(m_re, 0, &status)};
    }
    QString replaceAll(const QString& text, const char16_t* replacement) {
        UErrorCode status = setText(text);
        const auto* r = reinterpret_cast<const UChar*>(replacement);
        const int32_t length = uregex_replaceAll(m_re, r, -1, nullptr, 0, &status);
        status = U_ZERO_ERROR;
        QString out(length + 1, Qt::Uninitialized);
        uregex_replaceAll(m_re, r, -1, reinterpret_cast<UChar*>(out.data()), length + 1, &status);
        if (U_FAILURE(status))
            qFatal("ICU replace failed");
        return out.first(length);
    }

private:
    UErrorCode setText(const QString& text) {
        UErrorCode status = U_ZERO_ERROR;
        uregex_setText(m_re, reinterpret_cast<const UChar*>(text.utf16()), int32_t(text.size()),
                       &status);
        return status;
    }
    URegularExpression* m_re = nullptr;
};

// Link targets stay the address that was written: no tags from the code step,
// and no emphasis markers left for the later steps.
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
    static IcuPattern code(u"`([^`]+)`");
    static IcuPattern link(u"\\[([^\\]]*)\\]\\(([^)\\s]+)\\)");
    static IcuPattern boldStars(u"\\*\\*(?=\\S)(.+?)(?<=\\S)\\*\\*");
    static IcuPattern boldUnderscores(u"__(?=\\S)(.+?)(?<=\\S)__");
    static IcuPattern italicStars(u"(?<![\\*\\w])\\*(?=\\S)([^\\*]+?)(?<=\\S)\\*(?![\\*\\w])");
    static IcuPattern italicUnderscores(u"(?<![_\\w])_(?=\\S)([^_]+?)(?<=\\S)_(?![_\\w])");
    QString s = text;
    s.replace(u'&', u"&amp;"_s).replace(u'<', u"&lt;"_s).replace(u'>', u"&gt;"_s);
    s = code.replaceAll(s, u"<code>$1</code>");
    s = link.replaceAll(s, u"<a href=\"$2\">$1</a>");
    s = keptTargets(s);
    s = boldStars.replaceAll(s, u"<strong>$1</strong>");
    s = boldUnderscores.replaceAll(s, u"<strong>$1</strong>");
    s = italicStars.replaceAll(s, u"<em>$1</em>");
    s = italicUnderscores.replaceAll(s, u"<em>$1</em>");
    return s;
}

std::optional<MarkdownToHTML::ListItem> icuListItem(const QString& t) {
    static IcuPattern bullet(u"^[-*+]\\s+");
    static IcuPattern box(u"^\\[([ xX])\\]\\s*");
    static IcuPattern number(u"^\\d+\\.\\s+");
    if (const auto b = bullet.find(t)) {
        const QString rest = t.mid(b->second);
        const auto m = box.find(rest);
        if (!m)
            return MarkdownToHTML::ListItem{false, icuInline(rest)};
        const QString glyph = rest[1] == u' ' ? u"\u2610"_s : u"\u2611"_s;
        return MarkdownToHTML::ListItem{false, glyph + u' ' + icuInline(rest.mid(m->second))};
    }
    if (const auto n = number.find(t))
        return MarkdownToHTML::ListItem{true, icuInline(t.mid(n->second))};
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
        static IcuPattern rule(u"^([-*_])(\\s*\\1){2,}$");
        static IcuPattern heading(u"^#{1,6}\\s+");
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
            const bool isRule = rule.find(t).has_value();
            QVERIFY2((html == u"<hr>") == isRule, qPrintable(html));
            if (!isRule && !t.startsWith(u'>'))
                QCOMPARE(html.startsWith(u"<h"_s), heading.find(t).has_value());
        }
    }

private Q_SLOTS:
    // Rules, headings and the plain emphasis rules are checked against ICU below.
    void blocks_data() {
        QTest::addColumn<QString>("markdown");
        QTest::addColumn<QString>("html");
        row("empty", u"", u"");
        row("only blank lines", u"\n  \n\t\n", u"");
        row("heading 1", u"# Titel", u"<h1>Titel</h1>");
        row("heading 6, inline", u"###### Ein **fetter** Titel",
            u"<h6>Ein <strong>fetter</strong> Titel</h6>");
        row("heading indented, blanks trimmed", u"  ##\t Eingerückt  ", u"<h2>Eingerückt</h2>");
        row("paragraph joins lines", u"Erste Zeile\n   zweite Zeile\ndritte",
            u"<p>Erste Zeile zweite Zeile dritte</p>");
        row("a line beginning with # ends a paragraph", u"Text\n#Stichwort\nmehr",
            u"<p>Text</p>\n<p>#Stichwort mehr</p>");
        row("paragraphs split at a blank line", u"Eins\n\nZwei", u"<p>Eins</p>\n<p>Zwei</p>");
        row("paragraph then quote", u"Text\n> Zitat",
            u"<p>Text</p>\n<blockquote><p>Zitat</p></blockquote>");
        row("paragraph then list", u"Text\n- Punkt", u"<p>Text</p>\n<ul>\n<li>Punkt</li>\n</ul>");
        row("paragraph then rule", u"Text\n***", u"<p>Text</p>\n<hr>");
        row("paragraph then fence", u"Text\n```\ncode\n```",
            u"<p>Text</p>\n<pre><code>code</code></pre>");
        row("escaping in a paragraph", u"a < b & c", u"<p>a &lt; b &amp; c</p>");
        row("fence escapes, keeps blank lines and indentation",
            u"```swift\nlet a = 1 < 2 && b > c\n\n  eingerückt\n```\nDanach",
            u"<pre><code>let a = 1 &lt; 2 &amp;&amp; b &gt; c\n\n  eingerückt</code></pre>\n"
            u"<p>Danach</p>");
        row("unclosed fence runs to the end", u"```\n**nicht fett**\n\n# keine Überschrift",
            u"<pre><code>**nicht fett**\n\n# keine Überschrift</code></pre>");
        row("indented fences", u"  ```\nx\n   ``` \ny", u"<pre><code>x</code></pre>\n<p>y</p>");
        row("empty fence", u"```\n```", u"<pre><code></code></pre>");
        row("rule with blanks wins over a list item", u"- - -", u"<hr>");
        // ICU's "$" also matches before a line terminator that ends the text.
        row("rule before CR", u"---\r", u"<hr>");
        row("CR LF and lone CR end lines",
            u"# Titel\r\n\r\nEins\r\nzwei\r\rDrei\r\n- a\r\n```\r\nx\r\n```\r\n",
            u"<h1>Titel</h1>\n<p>Eins zwei</p>\n<p>Drei</p>\n<ul>\n<li>a</li>\n</ul>\n"
            u"<pre><code>x</code></pre>");
        row("quote lines join", u"> Eins\n> Zwei", u"<blockquote><p>Eins Zwei</p></blockquote>");
        row("lone > separates quotes", u"> Eins\n>\n> Zwei",
            u"<blockquote><p>Eins</p></blockquote>\n<blockquote><p>Zwei</p></blockquote>");
        row("quote without blank, only one blank removed", u">dicht\n>  weit",
            u"<blockquote><p>dicht  weit</p></blockquote>");
        row("quote with inline", u"> *kursiv* & mehr",
            u"<blockquote><p><em>kursiv</em> &amp; mehr</p></blockquote>");
        row("quote then list", u"> Zitat\n- Punkt",
            u"<blockquote><p>Zitat</p></blockquote>\n<ul>\n<li>Punkt</li>\n</ul>");
        row("list then quote", u"- a\n> b",
            u"<ul>\n<li>a</li>\n</ul>\n<blockquote><p>b</p></blockquote>");
        row("quote then paragraph", u"> a\nb", u"<blockquote><p>a</p></blockquote>\n<p>b</p>");
        row("bullets of all kinds", u"- a\n* b\n+ c",
            u"<ul>\n<li>a</li>\n<li>b</li>\n<li>c</li>\n</ul>");
        row("numbers are dropped", u"1. eins\n7. sieben",
            u"<ol>\n<li>eins</li>\n<li>sieben</li>\n</ol>");
        row("bullets then numbers", u"- a\n1. b",
            u"<ul>\n<li>a</li>\n</ul>\n<ol>\n<li>b</li>\n</ol>");
        row("blank line closes a list", u"- a\n\n- b",
            u"<ul>\n<li>a</li>\n</ul>\n<ul>\n<li>b</li>\n</ul>");
        row("tasks", u"- [x] erledigt\n- [ ] offen\n- [X]groß",
            u"<ul>\n<li>\u2611 erledigt</li>\n<li>\u2610 offen</li>\n<li>\u2611 groß</li>\n</ul>");
        row("indented items are top-level", u"- a\n    - b",
            u"<ul>\n<li>a</li>\n<li>b</li>\n</ul>");
        row("no blank after the marker", u"-kein Punkt\n1.kein\n1) nein",
            u"<p>-kein Punkt 1.kein 1) nein</p>");
        row("item then text", u"- a\nText", u"<ul>\n<li>a</li>\n</ul>\n<p>Text</p>");
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
             {u""_s, u"Text"_s, u"> Zitat"_s, u"# Kopf"_s, u"---"_s, u"```\nx\n```"_s}) {
            const QStringList out = body(u"1. a\n2. b\n"_s + between + u"\n5. c"_s).split(u'\n');
            QCOMPARE(out.first(), li(u"1."_s, u"a"_s));
            QCOMPARE(out.last(), li(u"1."_s, u"c"_s));
        }
        QCOMPARE(body(u"Oben\n\n***\n\nUnten"_s),
                 u"<p>Oben</p>\n<p align=\"center\">* * *</p>\n<p>Unten</p>"_s);
        QCOMPARE(body(u"> Zitat\n1. a"_s),
                 u"<blockquote><p>Zitat</p></blockquote>\n"_s + li(u"1."_s, u"a"_s));
    }

    void inlineMarkup_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("html");
        row("raw HTML shows as text", u"<b>roh</b> & co", u"&lt;b&gt;roh&lt;/b&gt; &amp; co");
        row("code", u"ein `a < b` hier", u"ein <code>a &lt; b</code> hier");
        row("stars inside code still become emphasis", u"`*x*`", u"<code><em>x</em></code>");
        row("link, ampersand in the target", u"[Orvik](https://example.org/?a=1&b=2)",
            u"<a href=\"https://example.org/?a=1&amp;b=2\">Orvik</a>");
        row("emphasis markers in the target stay the address",
            u"[x](https://example.org/_a_/*b*/__c__)",
            u"<a href=\"https://example.org/&#95;a&#95;/&#42;b&#42;/&#95;&#95;c&#95;&#95;\">x</a>");
        row("backticks in the target stay the address", u"[x](a`b`c) `d`",
            u"<a href=\"a`b`c\">x</a> <code>d</code>");
        row("bold link text", u"[**fett**](x.md)", u"<a href=\"x.md\"><strong>fett</strong></a>");
        row("no link with a blank in the target", u"[a](b c)", u"[a](b c)");
        row("quote in the target stays inside the attribute",
            u"[x](http://a.b/\"onmouseover=\"alert(1))",
            u"<a href=\"http://a.b/&quot;onmouseover=&quot;alert(1\">x</a>)");
        row("quote in the link text is left alone", u"[\"Zitat\"](z)",
            u"<a href=\"z\">\"Zitat\"</a>");
        row("bold inside italic", u"_ein **fetter** Satz_",
            u"<em>ein <strong>fetter</strong> Satz</em>");
    }
    void inlineMarkup() {
        QFETCH(QString, text);
        QTEST(MarkdownToHTML::inlineHtml(text), "html");
    }

    void listItems() {
        using Item = MarkdownToHTML::ListItem;
        QCOMPARE(MarkdownToHTML::listItem(u"12. zwölf"_s), (Item{true, u"zwölf"_s}));
        QCOMPARE(MarkdownToHTML::listItem(u"* [x]"_s), (Item{false, u"\u2611 "_s}));
        QCOMPARE(MarkdownToHTML::listItem(u"- [y] kein Haken"_s),
                 (Item{false, u"[y] kein Haken"_s}));
        QCOMPARE(MarkdownToHTML::listItem(u"1.5 Liter"_s), std::nullopt);
    }

    // Short lines from pieces on the edges of the patterns (word characters ICU and PCRE2 class
    // differently, every line terminator, surrogates); then the hand-written passes on long runs
    // of their markers.
    void patternsAgreeWithIcu() {
        agreeWithIcu({u"*"_s,  u"**"_s,     u"_"_s,      u"__"_s,     u"`"_s,
                      u"["_s,  u"]"_s,      u"("_s,      u")"_s,      u"a"_s,
                      u"ä"_s,  u"\u0301"_s, u"\u00A0"_s, u" "_s,      u"\t"_s,
                      u"\r"_s, u"\u000B"_s, u"\u000C"_s, u"\u0085"_s, u"\u2028"_s,
                      u"#"_s,  u"-"_s,      u"+"_s,      u">"_s,      u"1."_s,
                      u"x"_s,  u"[x]"_s,    u"[ ]"_s,    u"&"_s,      u"<"_s,
                      u"😀"_s,  u"\u0663"_s, u"\u200D"_s, u"\u203F"_s, u"http://a.b"_s,
                      u"5"_s,  u"\u3000"_s},
                     20260514, 4000, 1, 9, true);
        agreeWithIcu({u"**"_s, u"__"_s, u"*"_s, u"_"_s, u"a"_s, u" "_s, u"["_s, u"]"_s, u"("_s,
                      u")"_s, u"\r"_s, u"ä"_s, u"\u2028"_s},
                     20261206, 300, 20, 200, false);
    }

    // About a megabyte of markup that never closes, or closes in the worst places, comes out
    // whole: every letter still there, wrapped as the rules say, in time linear in the input.
    void pathologicalInputConverts_data() {
        QTest::addColumn<QString>("markdown");
        QTest::addColumn<QString>("starts");
        QTest::addColumn<QString>("ends");
        const qsizetype mb = 1 << 20;
        QTest::newRow("*a ") << u"*a "_s.repeated(mb / 3) << u"<p>*a *a"_s << u"*a</p>"_s;
        QTest::newRow("**a ") << u"**a "_s.repeated(mb / 4) << u"<p>**a **a"_s << u"**a</p>"_s;
        QTest::newRow("__a ") << u"__a "_s.repeated(mb / 4) << u"<p>__a __a"_s << u"__a</p>"_s;
        QTest::newRow("**") << u"x"_s + u"**"_s.repeated(mb / 2) << u"<p>x<strong>"_s << u"</p>"_s;
        QTest::newRow("backticks, a fence")
            << QString(mb, u'`') << u"<pre><code>"_s << u"</code></pre>"_s;
        QTest::newRow("backticks after a letter")
            << u"a"_s + QString(mb, u'`') << u"<p>a``"_s << u"``</p>"_s;
        QTest::newRow("[") << QString(mb, u'[') + u"](x)"_s << u"<p><a href=\"x\">[[[["_s
                           << u"[[</a></p>"_s;
        QTest::newRow("[](") << u"[]("_s.repeated(mb / 3) << u"<p>[]([]("_s << u"[](</p>"_s;
        QTest::newRow("[a](b c)") << u"[a](b c) "_s.repeated(mb / 9) << u"<p>[a](b c) [a]"_s
                                  << u"[a](b c)</p>"_s;
        QTest::newRow("** across lines")
            << u"**a\n"_s.repeated(mb / 4) << u"<p>**a **a"_s << u"**a</p>"_s;
    }
    void pathologicalInputConverts() {
        QFETCH(QString, markdown);
        QFETCH(QString, starts);
        QFETCH(QString, ends);
        const QString html = MarkdownToHTML::body(markdown, ListStyle::Markup);
        QVERIFY2(html.startsWith(starts) && html.endsWith(ends),
                 qPrintable(html.left(80) + u"…"_s + html.right(80)));
        static const QRegularExpression tag(u"<[^>]*>"_s);
        QCOMPARE(QString(html).remove(tag).count(u'a'), markdown.count(u'a'));
    }

    // Title escaped, family as given, body in place.
    void pageTemplate() {
        const QString page =
            MarkdownToHTML::page(u"Notizen & <Ideen>"_s, u"<p>eins</p>\n<p>zwei</p>"_s, u"A & B"_s);
        QVERIFY(page.startsWith(u"<!DOCTYPE html>\n<html lang=\"de\">\n"_s));
        QVERIFY(page.contains(u"\n<title>Notizen &amp; &lt;Ideen&gt;</title>\n"_s));
        QVERIFY(page.contains(u"\n  font-family: \"A & B\", Georgia, serif;\n"_s));
        QVERIFY(page.endsWith(u"\n<body>\n<p>eins</p>\n<p>zwei</p>\n</body>\n</html>"_s));
    }
};

ORVIK_TEST_MAIN(TestMarkdownToHtml)
#include "tst_markdowntohtml.moc"
