#pragma once

#include <QByteArray>

class QTextDocument;

namespace orvik::rtf {

// A styled document as RTF 1.9 on A4 with 64 pt margins, pure ASCII: font and
// colour tables, heading styles, bold, italics, sizes, colours, indents,
// spacing, alignment, links as HYPERLINK fields, one-row tables with their cell
// borders, padding and shading, and everything beyond ASCII as \u escapes.
QByteArray write(const QTextDocument& doc);

} // namespace orvik::rtf
