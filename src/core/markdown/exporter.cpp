#include "exporter.h"

#include "appearance/editorstyle.h"
#include "docxwriter.h"
#include "platform/files.h"
#include "platform/text.h"
#include "rtfwriter.h"
#include "styledtext.h"

#include <QAbstractTextDocumentLayout>
#include <QBuffer>
#include <QFontDatabase>
#include <QFontInfo>
#include <QHash>
#include <QImage>
#include <QPageLayout>
#include <QPainter>
#include <QPdfWriter>
#include <QRegularExpression>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextFrame>
#include <QTextLayout>
#include <QTextTable>
#include <QUrl>

#include <algorithm>
#include <cmath>

using namespace Qt::StringLiterals;

namespace orvik::Exporter {

namespace {

// A4 with 64 pt on every side. Qt keeps page sizes in whole points: the PDF
// page is 595 × 842 pt and the text area 467 × 714 pt.
constexpr qreal pageMargin = 64;
// The styled document is laid out in pixels at 96 dpi, whatever the screen says.
constexpr qreal layoutDpi = 96;

QPageLayout a4Layout() {
    return QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait,
                       QMarginsF(pageMargin, pageMargin, pageMargin, pageMargin),
                       QPageLayout::Point);
}

QSizeF textAreaInPixels() {
    const QRectF area = a4Layout().paintRect(QPageLayout::Point);
    return {area.width() * layoutDpi / 72, area.height() * layoutDpi / 72};
}

// The device the layout measures fonts on: 96 dpi, so that 12 pt is 16 px.
QPaintDevice* layoutDevice() {
    static QImage device = [] {
        QImage image(1, 1, QImage::Format_ARGB32);
        const int dotsPerMeter = qRound(layoutDpi / 0.0254);
        image.setDotsPerMeterX(dotsPerMeter);
        image.setDotsPerMeterY(dotsPerMeter);
        return image;
    }();
    return &device;
}

// Qt's HTML reader knows only part of CSS: it takes an em from the line spacing
// instead of the font size, ignores em in font sizes, applies the body's box to
// every paragraph and draws neither border nor padding of a block quote. The
// page's rules are therefore restated in pixels and points for its 12 pt body.
// A code block becomes a one-cell table, which does carry padding and a
// background; the quote gets its bar from decorateQuotes(). Qt also sets only
// headings of levels 1 to 5 in bold.
const QString qtRules = uR"(body { margin: 0; padding: 0; line-height: 24.8px; }
h1, h2, h3, h4, h5, h6 { font-weight: bold; }
h1 { font-size: 22.8pt; line-height: 36.48px; margin: 42.56px 0 15.2px; }
h2 { font-size: 17.4pt; line-height: 35.96px; margin: 37.12px 0 9.28px; }
h3 { font-size: 14.4pt; line-height: 29.76px; margin: 28.8px 0 7.68px; }
h4, h5, h6 { font-size: 12.6pt; line-height: 26.04px; margin: 23.52px 0 5.04px; }
p { margin: 0 0 13.6px; line-height: 24.8px; }
blockquote, blockquote p { margin: 16px 0; }
code { font-size: 10.8pt; }
table.code { margin: 16px 0; }
td.code { background-color: #f2ede1; padding: 14.4px 16px; }
pre { margin: 0; line-height: 22.4px; }
)"_s;

// The quote's bar and the space between bar and text (CSS: border-left and
// padding-left of blockquote).
constexpr qreal quoteBarWidth = 2;
constexpr qreal quotePadding = 16;
const QColor quoteBarColor(0xc9, 0xbd, 0xa3);

QString qtReadableBody(QString body) {
    // The tags below are the converter's own; the sheet's text reaches the body
    // escaped, so it cannot contain them.
    body.replace(u"<pre><code>"_s, u"<table class=\"code\" width=\"100%\" cellspacing=\"0\" "
                                   u"cellpadding=\"0\"><tr><td class=\"code\"><pre><code>"_s);
    body.replace(u"</code></pre>"_s, u"</code></pre></td></tr></table>"_s);
    body.replace(u"<p style=\"margin-left:1.6em\">"_s, u"<p style=\"margin-left:25.6px\">"_s);
    return body;
}

QString qtReadablePage(const QString& markdown, const QString& title, const QString& fontFamily) {
    const QString body = MarkdownToHTML::body(markdown, MarkdownToHTML::ListStyle::Paragraphs);
    QString html = MarkdownToHTML::page(title, qtReadableBody(body), fontFamily);
    // The last "</style>" before the body is the page's own; the font family in
    // the style sheet is not escaped and may contain anything.
    const qsizetype end = html.lastIndexOf(u"</style>\n</head>\n<body>\n"_s);
    if (end >= 0)
        html.insert(end, qtRules);
    return html;
}

// Qt does not walk a CSS family list to the first installed font, and never
// resolves the generic names, so a missing first family silently becomes the
// default sans. The DOCX and RTF files also should name a font that exists.
class FontResolver {
public:
    QString family(const QStringList& families) {
        const QString key = families.join(u'\n');
        if (const auto it = m_cache.constFind(key); it != m_cache.constEnd())
            return *it;
        QString found;
        for (const QString& name : families) {
            const QString trimmed = name.trimmed();
            const QString alias = genericAlias(trimmed);
            if (!alias.isEmpty() || QFontDatabase::hasFamily(trimmed)) {
                found = QFontInfo(QFont(alias.isEmpty() ? trimmed : alias)).family();
                break;
            }
        }
        if (found.isEmpty())
            found = QFontInfo(QFont(u"Serif"_s)).family();
        m_cache.insert(key, found);
        return found;
    }

private:
    static QString genericAlias(const QString& name) {
        const QString lower = name.toLower();
        if (lower == u"serif")
            return u"Serif"_s;
        if (lower == u"sans-serif" || lower == u"system-ui")
            return u"Sans Serif"_s;
        if (lower == u"monospace")
            return u"Monospace"_s;
        return {};
    }

    QHash<QString, QString> m_cache;
};

QStringList familiesOf(const QTextCharFormat& format) {
    return format.fontFamilies().toStringList();
}

// Every character format gets one installed family. A heading's format also
// carries Qt's relative size step, which would override the size the rules set.
QTextCharFormat resolved(QTextCharFormat format, FontResolver& fonts) {
    const QStringList families = familiesOf(format);
    if (!families.isEmpty())
        format.setFontFamilies(QStringList{fonts.family(families)});
    if (format.hasProperty(QTextFormat::FontPointSize))
        format.clearProperty(QTextFormat::FontSizeAdjustment);
    return format;
}

void resolveFonts(QTextDocument& doc) {
    FontResolver fonts;
    struct Change {
        int start;
        int end;
        QTextCharFormat format;
    };
    QList<Change> changes;
    for (QTextBlock block = doc.begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            changes.append({fragment.position(), fragment.position() + fragment.length(),
                            resolved(fragment.charFormat(), fonts)});
        }
        // The block's own character format sizes an empty line.
        QTextCursor(block).setBlockCharFormat(resolved(block.charFormat(), fonts));
    }
    QTextCursor cursor(&doc);
    for (const Change& change : std::as_const(changes)) {
        cursor.setPosition(change.start);
        cursor.setPosition(change.end, QTextCursor::KeepAnchor);
        cursor.setCharFormat(change.format);
    }
    QFont base = doc.defaultFont();
    QStringList families{u"serif"_s};
    if (const QTextBlock first = doc.begin();
        first.isValid() && !familiesOf(first.charFormat()).isEmpty())
        families = familiesOf(first.charFormat());
    base.setFamilies(QStringList{fonts.family(families)});
    doc.setDefaultFont(base);
}

// Qt shows no paragraph of its own around a table (it puts an empty one after
// each, and before one that opens the document), ignores the bottom margin of
// the paragraph before a table and adds the top margin of the one after it to
// the table's. The table margins are set so that the gaps come out as CSS
// collapses them: the larger of the two margins that meet.
void collapseTableMargins(QTextDocument& doc) {
    using styledtext::Item;
    const QList<Item> list =
        styledtext::items(doc.rootFrame()->begin(), doc.rootFrame()->end(), true);
    for (qsizetype i = 0; i < list.size(); ++i) {
        QTextTable* table = styledtext::tableAt(list, i);
        if (!table)
            continue;
        QTextFrameFormat format = table->frameFormat();
        const auto blockAt = [&](qsizetype k) {
            const QTextBlock* block =
                k >= 0 && k < list.size() ? std::get_if<QTextBlock>(&list[k]) : nullptr;
            return block ? *block : QTextBlock();
        };
        if (QTextTable* previous = styledtext::tableAt(list, i - 2);
            previous && styledtext::isTableSpacer(list, i - 1))
            format.setTopMargin(
                std::max<qreal>(0, format.topMargin() - previous->frameFormat().bottomMargin()));
        else if (const QTextBlock before = blockAt(i - 1);
                 before.isValid() && !styledtext::isTableSpacer(list, i - 1))
            format.setTopMargin(std::max(format.topMargin(), before.blockFormat().bottomMargin()));
        else
            format.setTopMargin(0); // the document starts with the table
        if (const QTextBlock after = blockAt(i + 2); after.isValid())
            format.setBottomMargin(
                std::max<qreal>(0, format.bottomMargin() - after.blockFormat().topMargin()));
        table->setFrameFormat(format);
    }
}

// Block quotes move right by the bar and its padding and carry the bar as
// properties, which writePDF() paints and the DOCX and RTF writers turn into
// a paragraph border.
void decorateQuotes(QTextDocument& doc) {
    for (QTextBlock block = doc.begin(); block.isValid(); block = block.next()) {
        QTextBlockFormat format = block.blockFormat();
        if (format.intProperty(QTextFormat::BlockQuoteLevel) <= 0)
            continue;
        format.setLeftMargin(format.leftMargin() + quoteBarWidth + quotePadding);
        format.setProperty(styledtext::LeftBarWidth, quoteBarWidth);
        format.setProperty(styledtext::LeftBarGap, quotePadding);
        format.setProperty(styledtext::LeftBarColor, quoteBarColor);
        QTextCursor(block).setBlockFormat(format);
    }
}

// Qt keeps a <pre> line unbroken, so a long code line would run off the page
// and lose its end; on paper it wraps.
void wrapCodeLines(QTextDocument& doc) {
    for (QTextBlock block = doc.begin(); block.isValid(); block = block.next()) {
        QTextBlockFormat format = block.blockFormat();
        if (!format.nonBreakableLines())
            continue;
        format.setNonBreakableLines(false);
        QTextCursor(block).setBlockFormat(format);
    }
}

// Qt lays a line out by measuring from the start of the unbreakable run it is
// in, so a run much longer than a line (a megabyte of "[" or "`") takes
// quadratic time: minutes. No prose or address comes near this length; such a
// run gets an invisible break opportunity every so often, at a character
// boundary.
constexpr qsizetype longestUnbrokenRun = 1000;

void breakLongRuns(QTextDocument& doc) {
    QList<int> positions;
    for (QTextBlock block = doc.begin(); block.isValid(); block = block.next()) {
        const QString text = block.text();
        if (text.size() <= longestUnbrokenRun)
            continue;
        qsizetype run = 0;
        for (qsizetype i = 0; i < text.size(); ++i) {
            const QChar c = text[i];
            if (c.isSpace() || c == u'\u200B') {
                run = 0;
                continue;
            }
            const bool boundary = !c.isLowSurrogate() && !c.isMark();
            if (++run > longestUnbrokenRun && boundary) {
                positions.append(block.position() + int(i));
                run = 1;
            }
        }
    }
    QTextCursor cursor(&doc);
    // From the end, so that the positions still ahead stay valid.
    for (auto it = positions.crbegin(); it != positions.crend(); ++it) {
        cursor.setPosition(*it);
        cursor.insertText(QString(QChar(u'\u200B')));
    }
}

// Qt's PDF writer puts a link's target into the file as it stands, so a
// parenthesis, a backslash or a letter beyond ASCII there breaks the file's
// syntax. Percent-encoded, the address means the same and is plain ASCII.
QString pdfSafeTarget(const QString& href) {
    QString target = styledtext::linkTarget(href);
    if (target.isEmpty())
        target = QString::fromLatin1(QUrl::toPercentEncoding(href, "!#$%&'*+,/:;=?@[]~"));
    return target.replace(u'(', u"%28"_s).replace(u')', u"%29"_s).replace(u'\\', u"%5C"_s);
}

void encodeLinkTargets(QTextDocument& doc) {
    struct Change {
        int start;
        int end;
        QString target;
    };
    QList<Change> changes;
    for (QTextBlock block = doc.begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            const QString href = fragment.charFormat().anchorHref();
            if (href.isEmpty())
                continue;
            if (const QString target = pdfSafeTarget(href); target != href)
                changes.append(
                    {fragment.position(), fragment.position() + fragment.length(), target});
        }
    }
    QTextCursor cursor(&doc);
    for (const Change& change : std::as_const(changes)) {
        QTextCharFormat format;
        format.setAnchorHref(change.target);
        cursor.setPosition(change.start);
        cursor.setPosition(change.end, QTextCursor::KeepAnchor);
        cursor.mergeCharFormat(format);
    }
}

} // namespace

QList<Format> allFormats() {
    return {Format::Pdf, Format::Docx, Format::Html, Format::Rtf, Format::Markdown};
}

QString rawValue(Format format) {
    switch (format) {
    case Format::Pdf:
        return u"pdf"_s;
    case Format::Docx:
        return u"docx"_s;
    case Format::Html:
        return u"html"_s;
    case Format::Rtf:
        return u"rtf"_s;
    case Format::Markdown:
        return u"markdown"_s;
    }
    Q_UNREACHABLE();
}

std::optional<Format> formatFromRawValue(const QString& raw) {
    for (Format format : allFormats())
        if (rawValue(format) == raw)
            return format;
    return std::nullopt;
}

QString title(Format format) {
    switch (format) {
    case Format::Pdf:
        return u"PDF"_s;
    case Format::Docx:
        return u"Word (DOCX)"_s;
    case Format::Html:
        return u"HTML"_s;
    case Format::Rtf:
        return u"Rich Text (RTF)"_s;
    case Format::Markdown:
        return u"Markdown"_s;
    }
    Q_UNREACHABLE();
}

QString fileExtension(Format format) {
    return format == Format::Markdown ? u"md"_s : rawValue(format);
}

std::optional<MarkdownToHTML::ListStyle> listStyle(Format format) {
    switch (format) {
    case Format::Html:
        return MarkdownToHTML::ListStyle::Markup;
    case Format::Markdown:
        return std::nullopt;
    case Format::Pdf:
    case Format::Docx:
    case Format::Rtf:
        return MarkdownToHTML::ListStyle::Paragraphs;
    }
    Q_UNREACHABLE();
}

QString ExportError::description() const {
    switch (kind) {
    case Kind::HtmlParsingFailed:
        return u"Der Text ließ sich nicht aufbereiten."_s;
    case Kind::PdfFailed:
        return u"Das PDF konnte nicht erzeugt werden."_s;
    case Kind::WriteFailed:
        return u"Die Datei ließ sich nicht sichern: "_s + detail;
    }
    Q_UNREACHABLE();
}

namespace {

// `forLayout`: the document will be laid out (for the PDF), so long runs get
// their invisible break opportunities. The DOCX and RTF writers never lay it
// out, and their files keep the text exactly as written.
std::unique_ptr<QTextDocument> styledDocument(const QString& markdown, const QString& title,
                                              const QString& fontFamily, bool forLayout) {
    auto doc = std::make_unique<QTextDocument>();
    doc->documentLayout()->setPaintDevice(layoutDevice());
    doc->setUseDesignMetrics(true);
    doc->setDocumentMargin(0);
    doc->setHtml(qtReadablePage(markdown, title, exportFamily(fontFamily)));
    // One edit block: the layout follows once at the end instead of after
    // every format change (seconds for a long sheet).
    doc->setUndoRedoEnabled(false);
    QTextCursor edit(doc.get());
    edit.beginEditBlock();
    if (forLayout)
        breakLongRuns(*doc);
    encodeLinkTargets(*doc);
    resolveFonts(*doc);
    decorateQuotes(*doc);
    wrapCodeLines(*doc);
    collapseTableMargins(*doc);
    edit.endEditBlock();
    // Paginated only now: after format changes on a laid-out paginated
    // document, Qt's incremental layout leaves the later blocks unlaid, and
    // pageCount() then drops their pages.
    doc->setPageSize(textAreaInPixels());
    return doc;
}

} // namespace

std::unique_ptr<QTextDocument> attributedString(const QString& markdown, const QString& title,
                                                const QString& fontFamily) {
    return styledDocument(markdown, title, fontFamily, true);
}

namespace {

// The bars of block quotes, which Qt's layout does not draw.
void paintBars(QPainter& painter, const QTextDocument& doc, const QRectF& view) {
    for (QTextBlock block = doc.begin(); block.isValid(); block = block.next()) {
        const QTextBlockFormat format = block.blockFormat();
        const qreal width = format.doubleProperty(styledtext::LeftBarWidth);
        const QTextLayout* layout = block.layout();
        if (width <= 0 || !layout || layout->lineCount() == 0)
            continue;
        const QTextLine last = layout->lineAt(layout->lineCount() - 1);
        const QRectF bar(layout->position().x() + format.leftMargin() -
                             format.doubleProperty(styledtext::LeftBarGap) - width,
                         layout->position().y(), width, last.y() + last.height());
        if (bar.intersects(view))
            painter.fillRect(bar, format.colorProperty(styledtext::LeftBarColor));
    }
}

// Qt's layout draws a paragraph from the last line that ends above the clip
// on, so the last line of a page would come again, cut away but still in
// the text layer, at the top of the next one: found twice by copying,
// searching and screen readers. Per page, the clip therefore starts where
// the first line on the page ends as Qt measures it (with the paragraph's
// line height), or below a paragraph whose lines all lie on earlier pages.
// When that first line is its paragraph's last, no clip can tell the two
// lines apart: the paragraph is clipped away and its line drawn on its own.
constexpr qreal clipSlack = 0.05;

struct PageClip {
    qreal top = 0;
    struct Line {
        QTextBlock block;
        QPointF offset;   // of the block's layout in the document
        qreal lineBottom; // as Qt measures it, in the document
    };
    QList<Line> ownLines;
};

QList<PageClip> pageClips(const QTextDocument& doc, qreal pageHeight, int pages) {
    QList<PageClip> clips(pages);
    for (int i = 0; i < pages; ++i)
        clips[i].top = i * pageHeight;
    const QAbstractTextDocumentLayout* documentLayout = doc.documentLayout();
    for (QTextBlock block = doc.begin(); block.isValid(); block = block.next()) {
        const QTextLayout* layout = block.layout();
        if (!layout || layout->lineCount() == 0)
            continue;
        const QRectF rect = documentLayout->blockBoundingRect(block);
        // The rectangle starts at the layout's position (plus the frames'
        // offsets), the origin of its lines, but has only the lines' height.
        const QPointF offset = rect.topLeft() - layout->position();
        const qreal origin = rect.top();
        const qreal end = origin + layout->boundingRect().bottom();
        const int lines = layout->lineCount();
        for (int i = std::max(int(std::floor(origin / pageHeight)) + 1, 1);
             i < pages && i * pageHeight < end; ++i) {
            const qreal top = i * pageHeight;
            int k = 0;
            while (k < lines && origin + layout->lineAt(k).y() < top - clipSlack)
                ++k;
            if (k == 0)
                continue; // it starts on this page
            PageClip& clip = clips[i];
            if (k == lines) {
                clip.top = std::max(clip.top, end + clipSlack);
                continue;
            }
            const QTextLine line = layout->lineAt(k);
            const qreal height =
                std::max(line.height(), block.blockFormat().lineHeight(line.height(), 1));
            const qreal bottom = origin + line.y() + height;
            if (k + 1 < lines) {
                clip.top = std::max(clip.top, bottom + clipSlack);
            } else {
                clip.top = std::max(clip.top, end + clipSlack);
                clip.ownLines.append({block, offset, bottom});
            }
        }
    }
    return clips;
}

// Whether every paragraph with text has its lines: a page count taken from a
// layout that stopped early would silently drop the rest of the text.
bool laidOutCompletely(const QTextDocument& doc) {
    for (QTextBlock block = doc.begin(); block.isValid(); block = block.next())
        if (block.length() > 1 && (!block.layout() || block.layout()->lineCount() == 0))
            return false;
    return true;
}

// Writes the export through the one primitive that never follows a link nor
// takes a FIFO's or a device's name; every failure names the path.
void writeFile(const QString& path, const QByteArray& bytes, bool replace) {
    const QString quotedPath = u'\u201E' + path + u'\u201C';
    switch (files::writeTarget(path, bytes, replace)) {
    case files::TargetWrite::Written:
        return;
    case files::TargetWrite::Exists:
        throw ExportError{ExportError::Kind::WriteFailed, quotedPath + u" gibt es schon"_s};
    case files::TargetWrite::NotARegularFile:
        throw ExportError{ExportError::Kind::WriteFailed,
                          quotedPath + u" ist keine gewöhnliche Datei"_s};
    case files::TargetWrite::Failed:
        throw ExportError{ExportError::Kind::WriteFailed, quotedPath};
    }
}

} // namespace

void writePDF(const QTextDocument& document, const QString& path, bool replace) {
    const QSizeF page = textAreaInPixels();
    std::unique_ptr<QTextDocument> copy;
    const QTextDocument* doc = &document;
    document.pageCount(); // finishes the layout, as far as Qt does
    if (document.pageSize() != page || document.documentMargin() != 0 ||
        !laidOutCompletely(document)) {
        copy.reset(document.clone());
        copy->documentLayout()->setPaintDevice(layoutDevice());
        copy->setUseDesignMetrics(true);
        copy->setDocumentMargin(0);
        copy->setPageSize(page);
        doc = copy.get();
    }
    const int pages = doc->pageCount();
    if (!laidOutCompletely(*doc))
        throw ExportError{ExportError::Kind::PdfFailed, {}};
    const QList<PageClip> clips = pageClips(*doc, page.height(), pages);

    // Rendered in memory and then written atomically: a failed export never
    // leaves half a PDF behind.
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    {
        QPdfWriter writer(&buffer);
        writer.setPageLayout(a4Layout());
        writer.setTitle(doc->metaInformation(QTextDocument::DocumentTitle));
        writer.setCreator(u"Orvik"_s);
        QPainter painter;
        if (!painter.begin(&writer))
            throw ExportError{ExportError::Kind::PdfFailed, {}};
        const qreal scale = writer.resolution() / layoutDpi;
        painter.scale(scale, scale);
        for (int i = 0; i < pages; ++i) {
            if (i > 0 && !writer.newPage())
                throw ExportError{ExportError::Kind::PdfFailed, {}};
            const QRectF view(0, i * page.height(), page.width(), page.height());
            painter.save();
            painter.translate(0, -view.top());
            painter.setClipRect(view);
            QAbstractTextDocumentLayout::PaintContext context;
            context.clip = view;
            context.clip.setTop(clips[i].top);
            // A line that starts exactly at the next page belongs to it alone.
            context.clip.setBottom(view.bottom() - clipSlack);
            context.palette.setColor(QPalette::Text, Qt::black);
            doc->documentLayout()->draw(&painter, context);
            painter.setPen(Qt::black);
            for (const PageClip::Line& own : clips[i].ownLines) {
                const qreal from = own.lineBottom + clipSlack;
                own.block.layout()->draw(&painter, own.offset, {},
                                         QRectF(view.left(), from, view.width(), page.height()));
            }
            paintBars(painter, *doc, view);
            painter.restore();
        }
        if (!painter.end())
            throw ExportError{ExportError::Kind::PdfFailed, {}};
    }
    writeFile(path, buffer.data(), replace);
}

void write(const QString& markdown, const QString& title, Format format, const QString& fontFamily,
           const QString& path, bool replace) {
    const ExportError writeFailed{ExportError::Kind::WriteFailed, u'\u201E' + path + u'\u201C'};
    const auto save = [&](const QByteArray& bytes) { writeFile(path, bytes, replace); };
    switch (format) {
    case Format::Pdf:
        writePDF(*attributedString(markdown, title, fontFamily), path, replace);
        return;
    case Format::Docx: {
        const std::optional<QByteArray> bytes =
            docx::write(*styledDocument(markdown, title, fontFamily, false));
        if (!bytes)
            throw writeFailed;
        save(*bytes);
        return;
    }
    case Format::Rtf:
        save(rtf::write(*styledDocument(markdown, title, fontFamily, false)));
        return;
    case Format::Html:
        save(MarkdownToHTML::page(title,
                                  MarkdownToHTML::body(markdown, MarkdownToHTML::ListStyle::Markup),
                                  fontFamily)
                 .toUtf8());
        return;
    case Format::Markdown:
        save(markdown.toUtf8());
        return;
    }
}

QString combine(const QList<Sheet>& sheets) {
    QStringList texts;
    for (const Sheet& sheet : sheets)
        if (const std::optional<QString> text = files::readText(sheet.path()))
            texts.append(text->trimmed());
    return texts.join(u"\n\n---\n\n"_s);
}

QString safeFileName(const QString& title) {
    static const QRegularExpression forbidden(u"[/\\\\:*?\"<>|]"_s);
    QString name = title;
    name.replace(forbidden, u"-"_s);
    // A NUL (a sheet may hold one) would cut the name short when it reaches
    // the file system, losing the extension and naming a different file.
    name.replace(QChar(u'\0'), u'-');
    name = name.trimmed();
    if (name.isEmpty())
        return u"Ohne Titel"_s;
    return text::leftGraphemes(name, 80);
}

QString proposedFileName(const QString& title, Format format) {
    return safeFileName(title) + u'.' + fileExtension(format);
}

} // namespace orvik::Exporter
