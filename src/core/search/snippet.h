#pragma once

#include <QByteArrayView>
#include <QString>

#include <optional>

namespace orvik::search {

// Characters of context on either side of the occurrence in a snippet.
inline constexpr qsizetype snippetContext = 45;

// The single-line excerpt around the occurrence at UTF-8 offsets [begin, end)
// of `text`: snippetContext user-perceived characters either side, Markdown
// marks removed, white space collapsed, "… " / " …" where text was cut off.
// Only the excerpt is decoded, never the whole text.
QString snippetAround(QByteArrayView text, qsizetype begin, qsizetype end);
// The same on a stretch of a longer text: `moreBefore` and `moreAfter` tell
// whether the text goes on beyond its start and its end.
QString snippetAround(QByteArrayView text, qsizetype begin, qsizetype end, bool moreBefore,
                      bool moreAfter);

// The same on a window cut from a longer text at its start (`cutBefore`)
// or end, giving exactly what the whole text gives; nothing when the window
// is too narrow to tell.
std::optional<QString> snippetInWindow(QByteArrayView window, qsizetype begin, qsizetype end,
                                       bool cutBefore, bool cutAfter);

// The clean-up of a UTF-8 excerpt: removes "#" with the white space right
// after it, then "*", "_", "`" and ">", collapses white space runs (Unicode
// White_Space) into one space and trims the ends; then adds "… " in front
// and " …" behind when the excerpt was cut there.
QString cleanExcerpt(QByteArrayView excerpt, bool cutAtStart, bool cutAtEnd);

} // namespace orvik::search
