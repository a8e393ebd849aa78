#pragma once

#include "library/sheet.h"
#include "markdowntohtml.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <memory>
#include <optional>

class QTextDocument;

// The export formats and the bytes of each: Markdown goes to HTML, Qt's rich
// text reads that HTML into a styled document, and the styled document is
// printed to PDF or written as DOCX or RTF. Everything runs synchronously on
// the calling (GUI) thread; the styled formats need a QGuiApplication.
namespace orvik::Exporter {

// Listed in this order everywhere.
enum class Format { Pdf, Docx, Html, Rtf, Markdown };

QList<Format> allFormats();
QString rawValue(Format format); // "pdf", "docx", "html", "rtf", "markdown"
std::optional<Format> formatFromRawValue(const QString& raw);
QString title(Format format);         // as menus show it: "Word (DOCX)"
QString fileExtension(Format format); // without the dot: "md" for Markdown
// Markdown is written as it is and has none.
std::optional<MarkdownToHTML::ListStyle> listStyle(Format format);

// Thrown by the operations below; `description()` is what the user is shown.
struct ExportError {
    enum class Kind { HtmlParsingFailed, PdfFailed, WriteFailed };
    Kind kind;
    QString detail; // only for WriteFailed

    QString description() const;

    friend bool operator==(const ExportError&, const ExportError&) = default;
};

// The page of `markdown` (list style `Paragraphs`) read into a styled document,
// laid out on an A4 page with 64 pt margins, in exportFamily(fontFamily): the
// face the editor shows. Runs of more than 1,000 characters without a break
// opportunity get an invisible one (U+200B), for the layout's sake; the DOCX
// and RTF files of write() go without.
std::unique_ptr<QTextDocument> attributedString(const QString& markdown, const QString& title,
                                                const QString& fontFamily);

// Prints the styled document to a PDF file (A4, 64 pt margins), written
// like every other format. Throws PdfFailed when it cannot be laid out or
// printed, WriteFailed when the file cannot be written.
void writePDF(const QTextDocument& document, const QString& path, bool replace = true);

// Writes one document in `format` to `path`, atomically, as files::writeTarget()
// does: a new file, or in place of a regular file when `replace` allows; never
// through a link or over a FIFO or device. Throws ExportError: WriteFailed
// names the quoted path (and why, when something is in the way).
void write(const QString& markdown, const QString& title, Format format, const QString& fontFamily,
           const QString& path, bool replace = true);

// The Markdown of the sheets in the given order, trimmed and joined by rules;
// unreadable files are left out.
QString combine(const QList<Sheet>& sheets);

// A file name without extension made from a title: no / \ : * ? " < > |,
// trimmed, at most 80 characters, "Ohne Titel" when nothing is left.
QString safeFileName(const QString& title);
// safeFileName(title) + "." + the format's extension.
QString proposedFileName(const QString& title, Format format);

} // namespace orvik::Exporter
