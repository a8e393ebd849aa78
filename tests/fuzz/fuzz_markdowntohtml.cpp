// Whatever the sheet holds, the HTML is our markup around escaped text: no tag
// of the input passes, no link target leaves its attribute (emphasis may still
// be written inside one: each inline step works on the output of the last).

#include "fuzzcheck.h"

#include "markdown/markdowntohtml.h"

#include <QStringList>

using namespace Qt::StringLiterals;

namespace {

using orvik::MarkdownToHTML::ListStyle;

// Every "<" is one the converter may write. By hand: a regular expression
// matched at each "<" would rescan the whole text every time.
bool onlyOurTags(QStringView html) {
    static const QStringList tags =
        u"p h1 h2 h3 h4 h5 h6 blockquote ul ol li pre code strong em a hr"_s.split(u' ');
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
            ok = tags.contains(name) || name == u"p style=\"margin-left:1.6em\"" ||
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
