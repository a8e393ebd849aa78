#pragma once

#include "markdown/highlighter.h"

#include <QString>

#include <optional>

namespace orvik::ui::typography {

// Whether typing `typed` may call for German typography: straight quotes,
// "--" and " - ".
bool mayReplace(QStringView typed);

// Text that replaces [from, to) of the text.
struct Replacement {
    qsizetype from = 0;
    qsizetype to = 0;
    QString text;
};

// The typography for the character just typed at `at` of `text`, outside
// code only (`blocks` and `marks`: the text's fenced code); nothing when the
// character stays as typed.
std::optional<Replacement> replacement(QStringView text, qsizetype at,
                                       const QList<MarkdownHighlighter::CodeBlock>& blocks,
                                       const QList<MarkdownHighlighter::FenceMark>& marks);

} // namespace orvik::ui::typography
