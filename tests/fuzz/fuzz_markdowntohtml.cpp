// Markdown to HTML: whatever the sheet holds, the output is markup we wrote
// around escaped text; nothing of the input passes through as a tag, and no
// link target leaves its attribute. (Emphasis may still be written inside a
// target: the later inline steps work on the output of the earlier ones.)

#include "fuzzcheck.h"

#include "markdown/markdowntohtml.h"

#include <QStringList>

using namespace Qt::StringLiterals;

namespace {

using orvik::MarkdownToHTML::ListStyle;

// Every "<" the converter may write, with its attributes. By hand: a regular
// expression matched at each "<" rescans the whole text every time.
bool onlyOurTags(QStringView html) {
    static const QStringList tags = {
        u"p"_s,  u"h1"_s, u"h2"_s, u"h3"_s,  u"h4"_s,   u"h5"_s,     u"h6"_s, u"blockquote"_s,
        u"ul"_s, u"ol"_s, u"li"_s, u"pre"_s, u"code"_s, u"strong"_s, u"em"_s, u"a"_s};
    const QStringView href = u"<a href=\"";
    for (qsizetype at = html.indexOf(u'<'); at >= 0; at = html.indexOf(u'<', at + 1)) {
        bool ok = false;
        if (html.mid(at).startsWith(href)) {
            const qsizetype quote = html.indexOf(u'"', at + href.size());
            ok = quote > 0 && quote + 1 < html.size() && html[quote + 1] == u'>';
        } else if (const qsizetype close = html.indexOf(u'>', at); close > at) {
            QStringView name = html.mid(at + 1, close - at - 1);
            if (name.startsWith(u'/'))
                name = name.mid(1);
            ok = tags.contains(name) || name == u"hr" || name == u"p style=\"margin-left:1.6em\"" ||
                 name == u"p align=\"center\"";
        }
        if (!ok) {
            std::fprintf(stderr, "unexpected markup at %lld: %s\n", static_cast<long long>(at),
                         qPrintable(html.mid(at, 80).toString()));
            return false;
        }
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString markdown = orvik::fuzz::text(data, size);

    for (const ListStyle style : {ListStyle::Markup, ListStyle::Paragraphs}) {
        const QString html = orvik::MarkdownToHTML::body(markdown, style);
        FUZZ_CHECK(!markdown.isEmpty() || html.isEmpty());
        FUZZ_CHECK(!html.endsWith(u'\n'));
        FUZZ_CHECK(onlyOurTags(html));
    }

    // The inline pass alone, on the first line as a heading or item would give it.
    const QString firstLine = markdown.section(u'\n', 0, 0);
    FUZZ_CHECK(onlyOurTags(orvik::MarkdownToHTML::inlineHtml(firstLine)));
    if (const auto item = orvik::MarkdownToHTML::listItem(firstLine.trimmed()))
        FUZZ_CHECK(onlyOurTags(item->html));

    const QString page = orvik::MarkdownToHTML::page(firstLine, QString(), QStringLiteral("Serif"));
    FUZZ_CHECK(page.count(QStringLiteral("<title>")) == 1);
    FUZZ_CHECK(page.count(QStringLiteral("</title>")) == 1);
    return 0;
}
