#pragma once

#include <QByteArray>

#include <optional>

class QTextDocument;

namespace orvik::docx {

// A styled document as an Office Open XML word-processing file on A4 with
// 64 pt margins: headings as the styles "heading 1" to "heading 6", runs with
// their fonts, sizes, colours, bold, italics and links, paragraphs with their
// indents, spacing and alignment, tables with their cell borders, padding and
// shading. Nothing if the archive cannot be built.
std::optional<QByteArray> write(const QTextDocument& doc);

} // namespace orvik::docx
