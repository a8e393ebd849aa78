#pragma once

#include <QString>

#include <optional>

// The sheet's Markdown as HTML: the subset the editor highlights (headings,
// paragraphs, block quotes, one level of lists, rules, fenced code, inline
// code, links, bold, italics), line by line. Pure functions, no failures.
namespace orvik::MarkdownToHTML {

// How list items and rules come out. Qt's and the word processors' HTML
// readers keep real lists poorly, so the styled exports use `Paragraphs`.
enum class ListStyle {
    Markup,     // <ul>/<ol> with <li> items, <hr>
    Paragraphs, // one indented paragraph per item with a visible "•" or "1.", centred "* * *"
};

// The HTML body; its lines are joined with "\n", no trailing newline; empty for empty input.
QString body(const QString& markdown, ListStyle lists);

// A complete, styled HTML document around `body`. The title is escaped, the font
// family is inserted as given.
QString page(const QString& title, const QString& body, const QString& fontFamily);

// The inline markup of one piece of text as HTML, after escaping "&", "<" and ">".
// (`inline` itself is a C++ keyword.)
QString inlineHtml(const QString& text);

struct ListItem {
    bool ordered = false;
    QString html;

    friend bool operator==(const ListItem&, const ListItem&) = default;
};

// One line with blanks and tabs already trimmed; nothing if it is not a list item.
std::optional<ListItem> listItem(const QString& trimmedLine);

} // namespace orvik::MarkdownToHTML
