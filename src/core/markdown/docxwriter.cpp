#include "docxwriter.h"

#include "styledtext.h"

#include <QMap>
#include <QTextDocument>
#include <QTextTable>
#include <QXmlStreamWriter>

#include <zip.h>

#include <algorithm>
#include <memory>

using namespace Qt::StringLiterals;

namespace orvik::docx {

namespace {

using namespace styledtext;

const QString wordNs = u"http://schemas.openxmlformats.org/wordprocessingml/2006/main"_s;
const QString relNs = u"http://schemas.openxmlformats.org/officeDocument/2006/relationships"_s;
const QString packageRelNs = u"http://schemas.openxmlformats.org/package/2006/relationships"_s;

// A4 and 64 pt margins in twips; the text column is 467.28 pt wide.
constexpr int pageWidth = 11906;
constexpr int pageHeight = 16838;
constexpr int pageMargin = 1280;
constexpr int textWidth = pageWidth - 2 * pageMargin;

QString hex(const QColor& color) {
    return color.name().mid(1).toUpper();
}

QString number(qreal value) {
    return QString::number(qRound(value));
}

// Half-points, as w:sz wants them.
QString halfPoints(qreal points) {
    return number(points * 2);
}

// Border widths in eighths of a point, within what Word accepts.
QString borderEighths(qreal px) {
    return number(std::clamp<qreal>(px * 0.75 * 8, 2, 96));
}

// The relationship id of the document's n-th link.
QString linkId(qsizetype index) {
    return u"rIdLink"_s + QString::number(index + 1);
}

struct HeadingLook {
    qreal size = 12;
    bool bold = true;
};

class Body {
public:
    explicit Body(const QTextDocument& doc) : m_doc(doc) {}

    QByteArray xml() {
        QByteArray bytes;
        QXmlStreamWriter w(&bytes);
        m_xml = &w;
        w.writeStartDocument(u"1.0"_s, true);
        w.writeNamespace(wordNs, u"w"_s);
        w.writeNamespace(relNs, u"r"_s);
        w.writeStartElement(wordNs, u"document"_s);
        w.writeStartElement(wordNs, u"body"_s);
        content(items(m_doc.rootFrame()->begin(), m_doc.rootFrame()->end(), true));
        w.writeStartElement(wordNs, u"sectPr"_s);
        element(u"pgSz"_s,
                {{u"w"_s, QString::number(pageWidth)}, {u"h"_s, QString::number(pageHeight)}});
        const QString margin = QString::number(pageMargin);
        element(u"pgMar"_s, {{u"top"_s, margin},
                             {u"right"_s, margin},
                             {u"bottom"_s, margin},
                             {u"left"_s, margin},
                             {u"header"_s, u"708"_s},
                             {u"footer"_s, u"708"_s},
                             {u"gutter"_s, u"0"_s}});
        w.writeEndElement();
        w.writeEndElement(); // body
        w.writeEndElement(); // document
        w.writeEndDocument();
        m_xml = nullptr;
        return bytes;
    }

    const QStringList& links() const { return m_links; }
    const QMap<int, HeadingLook>& headings() const { return m_headings; }

private:
    void element(const QString& name, std::initializer_list<std::pair<QString, QString>> attrs) {
        m_xml->writeStartElement(wordNs, name);
        for (const auto& [key, value] : attrs)
            m_xml->writeAttribute(wordNs, key, value);
        m_xml->writeEndElement();
    }

    void content(const QList<Item>& list) {
        for (qsizetype i = 0; i < list.size(); ++i) {
            if (const QTextBlock* block = std::get_if<QTextBlock>(&list[i])) {
                const Spacing space = styledtext::spacing(list, i);
                if (i == 0 && space.spacerHeight >= 0)
                    continue; // a document may open with a table
                paragraph(*block, space);
            } else {
                table(std::get<QTextTable*>(list[i]));
            }
        }
        if (list.isEmpty()) // a table cell needs at least one paragraph
            m_xml->writeEmptyElement(wordNs, u"p"_s);
    }

    void paragraph(const QTextBlock& block, const Spacing& space) {
        const QTextBlockFormat format = block.blockFormat();
        const QList<Run> parts = runs(block);
        m_xml->writeStartElement(wordNs, u"p"_s);
        m_xml->writeStartElement(wordNs, u"pPr"_s);
        const int level = format.headingLevel();
        if (level >= 1 && level <= 6) {
            element(u"pStyle"_s, {{u"val"_s, u"Heading"_s + QString::number(level)}});
            if (!m_headings.contains(level) && !parts.isEmpty())
                m_headings.insert(
                    level, {pointSize(parts.first().format, m_doc), isBold(parts.first().format)});
        }
        if (const qreal bar = format.doubleProperty(LeftBarWidth); bar > 0) {
            m_xml->writeStartElement(wordNs, u"pBdr"_s);
            // The gap is in points here, and Word allows at most 31.
            const qreal gap = std::min<qreal>(format.doubleProperty(LeftBarGap) * 0.75, 31);
            element(u"left"_s, {{u"val"_s, u"single"_s},
                                {u"sz"_s, borderEighths(bar)},
                                {u"space"_s, number(gap)},
                                {u"color"_s, hex(format.colorProperty(LeftBarColor))}});
            m_xml->writeEndElement();
        }
        if (const QColor bg = background(format); bg.isValid())
            element(u"shd"_s,
                    {{u"val"_s, u"clear"_s}, {u"color"_s, u"auto"_s}, {u"fill"_s, hex(bg)}});
        spacing(format, space);
        const qreal left = format.leftMargin() + format.indent() * m_doc.indentWidth();
        if (left != 0 || format.rightMargin() != 0 || format.textIndent() != 0) {
            m_xml->writeStartElement(wordNs, u"ind"_s);
            m_xml->writeAttribute(wordNs, u"left"_s, QString::number(twips(left)));
            m_xml->writeAttribute(wordNs, u"right"_s, QString::number(twips(format.rightMargin())));
            if (format.textIndent() >= 0)
                m_xml->writeAttribute(wordNs, u"firstLine"_s,
                                      QString::number(twips(format.textIndent())));
            else
                m_xml->writeAttribute(wordNs, u"hanging"_s,
                                      QString::number(twips(-format.textIndent())));
            m_xml->writeEndElement();
        }
        const Qt::Alignment align = format.alignment() & Qt::AlignHorizontal_Mask;
        if (align & Qt::AlignHCenter)
            element(u"jc"_s, {{u"val"_s, u"center"_s}});
        else if (align & Qt::AlignRight)
            element(u"jc"_s, {{u"val"_s, u"right"_s}});
        else if (align & Qt::AlignJustify)
            element(u"jc"_s, {{u"val"_s, u"both"_s}});
        if (level >= 1 && level <= 6)
            element(u"outlineLvl"_s, {{u"val"_s, QString::number(level - 1)}});
        m_xml->writeEndElement(); // pPr

        for (qsizetype i = 0; i < parts.size();) {
            const QString href = parts[i].href;
            if (href.isEmpty()) {
                run(parts[i++]);
                continue;
            }
            m_links.append(linkTarget(href));
            m_xml->writeStartElement(wordNs, u"hyperlink"_s);
            m_xml->writeAttribute(relNs, u"id"_s, linkId(m_links.size() - 1));
            m_xml->writeAttribute(wordNs, u"history"_s, u"1"_s);
            for (; i < parts.size() && parts[i].href == href; ++i)
                run(parts[i], true);
            m_xml->writeEndElement();
        }
        m_xml->writeEndElement(); // p
    }

    void spacing(const QTextBlockFormat& format, const Spacing& space) {
        m_xml->writeStartElement(wordNs, u"spacing"_s);
        m_xml->writeAttribute(wordNs, u"before"_s,
                              QString::number(std::max(0, twips(space.before))));
        m_xml->writeAttribute(wordNs, u"after"_s, QString::number(std::max(0, twips(space.after))));
        if (space.spacerHeight >= 0) {
            m_xml->writeAttribute(wordNs, u"line"_s,
                                  QString::number(std::max(20, twips(space.spacerHeight))));
            m_xml->writeAttribute(wordNs, u"lineRule"_s, u"exact"_s);
            m_xml->writeEndElement();
            return;
        }
        switch (format.lineHeightType()) {
        case QTextBlockFormat::FixedHeight:
            m_xml->writeAttribute(wordNs, u"line"_s,
                                  QString::number(std::max(20, twips(format.lineHeight()))));
            m_xml->writeAttribute(wordNs, u"lineRule"_s, u"exact"_s);
            break;
        case QTextBlockFormat::MinimumHeight:
            m_xml->writeAttribute(wordNs, u"line"_s, QString::number(twips(format.lineHeight())));
            m_xml->writeAttribute(wordNs, u"lineRule"_s, u"atLeast"_s);
            break;
        case QTextBlockFormat::ProportionalHeight:
            m_xml->writeAttribute(wordNs, u"line"_s, number(format.lineHeight() * 2.4));
            m_xml->writeAttribute(wordNs, u"lineRule"_s, u"auto"_s);
            break;
        default:
            break;
        }
        m_xml->writeEndElement();
    }

    void run(const Run& part, bool inLink = false) {
        const QString text = cleaned(part.text);
        if (text.isEmpty())
            return;
        const QTextCharFormat& f = part.format;
        m_xml->writeStartElement(wordNs, u"r"_s);
        m_xml->writeStartElement(wordNs, u"rPr"_s);
        if (inLink)
            element(u"rStyle"_s, {{u"val"_s, u"Hyperlink"_s}});
        const QString font = family(f, m_doc);
        element(u"rFonts"_s,
                {{u"ascii"_s, font}, {u"hAnsi"_s, font}, {u"eastAsia"_s, font}, {u"cs"_s, font}});
        const bool bold = isBold(f);
        element(u"b"_s, {{u"val"_s, bold ? u"1"_s : u"0"_s}});
        element(u"bCs"_s, {{u"val"_s, bold ? u"1"_s : u"0"_s}});
        if (f.fontItalic()) {
            element(u"i"_s, {});
            element(u"iCs"_s, {});
        }
        if (f.fontStrikeOut())
            element(u"strike"_s, {});
        if (const QColor color = foreground(f); color.isValid())
            element(u"color"_s, {{u"val"_s, hex(color)}});
        const QString size = halfPoints(pointSize(f, m_doc));
        element(u"sz"_s, {{u"val"_s, size}});
        element(u"szCs"_s, {{u"val"_s, size}});
        element(u"u"_s, {{u"val"_s, f.fontUnderline() ? u"single"_s : u"none"_s}});
        if (const QColor bg = background(f); bg.isValid())
            element(u"shd"_s,
                    {{u"val"_s, u"clear"_s}, {u"color"_s, u"auto"_s}, {u"fill"_s, hex(bg)}});
        m_xml->writeEndElement(); // rPr

        qsizetype start = 0;
        const auto flush = [&](qsizetype end) {
            if (end <= start)
                return;
            m_xml->writeStartElement(wordNs, u"t"_s);
            m_xml->writeAttribute(u"xml:space"_s, u"preserve"_s);
            m_xml->writeCharacters(text.mid(start, end - start));
            m_xml->writeEndElement();
        };
        for (qsizetype i = 0; i < text.size(); ++i) {
            if (text[i] != u'\t' && text[i] != QChar::LineSeparator)
                continue;
            flush(i);
            m_xml->writeEmptyElement(wordNs, text[i] == u'\t' ? u"tab"_s : u"br"_s);
            start = i + 1;
        }
        flush(text.size());
        m_xml->writeEndElement(); // r
    }

    void table(QTextTable* table) {
        const int columns = std::max(1, table->columns());
        const int columnWidth = textWidth / columns;
        m_xml->writeStartElement(wordNs, u"tbl"_s);
        m_xml->writeStartElement(wordNs, u"tblPr"_s);
        element(u"tblW"_s, {{u"w"_s, u"5000"_s}, {u"type"_s, u"pct"_s}});
        element(u"tblLayout"_s, {{u"type"_s, u"fixed"_s}});
        m_xml->writeStartElement(wordNs, u"tblCellMar"_s);
        element(u"left"_s, {{u"w"_s, u"0"_s}, {u"type"_s, u"dxa"_s}});
        element(u"right"_s, {{u"w"_s, u"0"_s}, {u"type"_s, u"dxa"_s}});
        m_xml->writeEndElement();
        m_xml->writeEndElement(); // tblPr
        m_xml->writeStartElement(wordNs, u"tblGrid"_s);
        for (int c = 0; c < columns; ++c)
            element(u"gridCol"_s, {{u"w"_s, QString::number(columnWidth)}});
        m_xml->writeEndElement();
        for (int r = 0; r < table->rows(); ++r) {
            m_xml->writeStartElement(wordNs, u"tr"_s);
            for (int c = 0; c < columns; ++c) {
                const QTextTableCell cell = table->cellAt(r, c);
                if (!cell.isValid() || cell.row() != r || cell.column() != c)
                    continue; // covered by a merged cell
                tableCell(cell, columnWidth);
            }
            m_xml->writeEndElement();
        }
        m_xml->writeEndElement(); // tbl
    }

    void tableCell(const QTextTableCell& cell, int columnWidth) {
        const QTextTableCellFormat format = cell.format().toTableCellFormat();
        m_xml->writeStartElement(wordNs, u"tc"_s);
        m_xml->writeStartElement(wordNs, u"tcPr"_s);
        element(u"tcW"_s, {{u"w"_s, QString::number(columnWidth * cell.columnSpan())},
                           {u"type"_s, u"dxa"_s}});
        if (cell.columnSpan() > 1)
            element(u"gridSpan"_s, {{u"val"_s, QString::number(cell.columnSpan())}});
        const struct {
            QString name;
            qreal width;
            QBrush brush;
        } borders[] = {{u"top"_s, format.topBorder(), format.topBorderBrush()},
                       {u"left"_s, format.leftBorder(), format.leftBorderBrush()},
                       {u"bottom"_s, format.bottomBorder(), format.bottomBorderBrush()},
                       {u"right"_s, format.rightBorder(), format.rightBorderBrush()}};
        m_xml->writeStartElement(wordNs, u"tcBorders"_s);
        for (const auto& border : borders) {
            const bool visible = border.width > 0 && border.brush.style() != Qt::NoBrush;
            if (visible)
                element(border.name, {{u"val"_s, u"single"_s},
                                      {u"sz"_s, borderEighths(border.width)},
                                      {u"space"_s, u"0"_s},
                                      {u"color"_s, hex(border.brush.color())}});
            else
                element(border.name, {{u"val"_s, u"nil"_s}});
        }
        m_xml->writeEndElement();
        if (const QColor bg = background(format); bg.isValid())
            element(u"shd"_s,
                    {{u"val"_s, u"clear"_s}, {u"color"_s, u"auto"_s}, {u"fill"_s, hex(bg)}});
        m_xml->writeStartElement(wordNs, u"tcMar"_s);
        const auto margin = [&](const QString& side, qreal px) {
            element(side, {{u"w"_s, QString::number(twips(px))}, {u"type"_s, u"dxa"_s}});
        };
        margin(u"top"_s, format.topPadding());
        margin(u"left"_s, format.leftPadding());
        margin(u"bottom"_s, format.bottomPadding());
        margin(u"right"_s, format.rightPadding());
        m_xml->writeEndElement();
        m_xml->writeEndElement(); // tcPr
        content(items(cell.begin(), cell.end(), false));
        m_xml->writeEndElement(); // tc
    }

    const QTextDocument& m_doc;
    QXmlStreamWriter* m_xml = nullptr;
    QStringList m_links;
    QMap<int, HeadingLook> m_headings;
};

QByteArray styles(const QTextDocument& doc, const QMap<int, HeadingLook>& headings) {
    QByteArray bytes;
    QXmlStreamWriter w(&bytes);
    const auto element = [&](const QString& name,
                             std::initializer_list<std::pair<QString, QString>> attrs) {
        w.writeStartElement(wordNs, name);
        for (const auto& [key, value] : attrs)
            w.writeAttribute(wordNs, key, value);
        w.writeEndElement();
    };
    const auto start = [&](const QString& name) { w.writeStartElement(wordNs, name); };
    const auto end = [&] { w.writeEndElement(); };

    w.writeStartDocument(u"1.0"_s, true);
    w.writeNamespace(wordNs, u"w"_s);
    start(u"styles"_s);

    // The body's font, size and colour, taken from the first paragraph.
    QTextCharFormat bodyFormat = doc.begin().charFormat();
    for (QTextBlock b = doc.begin(); b.isValid(); b = b.next())
        if (b.blockFormat().headingLevel() == 0 && b.length() > 1) {
            bodyFormat = b.begin().fragment().charFormat();
            break;
        }
    const QString font = family(bodyFormat, doc);
    start(u"docDefaults"_s);
    start(u"rPrDefault"_s);
    start(u"rPr"_s);
    element(u"rFonts"_s,
            {{u"ascii"_s, font}, {u"hAnsi"_s, font}, {u"eastAsia"_s, font}, {u"cs"_s, font}});
    if (const QColor color = foreground(bodyFormat); color.isValid())
        element(u"color"_s, {{u"val"_s, hex(color)}});
    const QString size = halfPoints(pointSize(bodyFormat, doc));
    element(u"sz"_s, {{u"val"_s, size}});
    element(u"szCs"_s, {{u"val"_s, size}});
    element(u"lang"_s, {{u"val"_s, u"de-DE"_s}, {u"eastAsia"_s, u"de-DE"_s}});
    end();
    end();
    start(u"pPrDefault"_s);
    start(u"pPr"_s);
    element(u"spacing"_s,
            {{u"after"_s, u"0"_s}, {u"line"_s, u"240"_s}, {u"lineRule"_s, u"auto"_s}});
    end();
    end();
    end(); // docDefaults

    start(u"style"_s);
    w.writeAttribute(wordNs, u"type"_s, u"paragraph"_s);
    w.writeAttribute(wordNs, u"default"_s, u"1"_s);
    w.writeAttribute(wordNs, u"styleId"_s, u"Normal"_s);
    element(u"name"_s, {{u"val"_s, u"Normal"_s}});
    element(u"qFormat"_s, {});
    end();

    for (int level = 1; level <= 6; ++level) {
        const HeadingLook look = headings.value(level);
        start(u"style"_s);
        w.writeAttribute(wordNs, u"type"_s, u"paragraph"_s);
        w.writeAttribute(wordNs, u"styleId"_s, u"Heading"_s + QString::number(level));
        element(u"name"_s, {{u"val"_s, u"heading "_s + QString::number(level)}});
        element(u"basedOn"_s, {{u"val"_s, u"Normal"_s}});
        element(u"next"_s, {{u"val"_s, u"Normal"_s}});
        element(u"uiPriority"_s, {{u"val"_s, u"9"_s}});
        element(u"qFormat"_s, {});
        start(u"pPr"_s);
        element(u"keepNext"_s, {});
        element(u"keepLines"_s, {});
        element(u"outlineLvl"_s, {{u"val"_s, QString::number(level - 1)}});
        end();
        start(u"rPr"_s);
        if (look.bold) {
            element(u"b"_s, {});
            element(u"bCs"_s, {});
        }
        element(u"sz"_s, {{u"val"_s, halfPoints(look.size)}});
        element(u"szCs"_s, {{u"val"_s, halfPoints(look.size)}});
        end();
        end();
    }

    start(u"style"_s);
    w.writeAttribute(wordNs, u"type"_s, u"character"_s);
    w.writeAttribute(wordNs, u"default"_s, u"1"_s);
    w.writeAttribute(wordNs, u"styleId"_s, u"DefaultParagraphFont"_s);
    element(u"name"_s, {{u"val"_s, u"Default Paragraph Font"_s}});
    element(u"uiPriority"_s, {{u"val"_s, u"1"_s}});
    element(u"semiHidden"_s, {});
    element(u"unhideWhenUsed"_s, {});
    end();

    start(u"style"_s);
    w.writeAttribute(wordNs, u"type"_s, u"character"_s);
    w.writeAttribute(wordNs, u"styleId"_s, u"Hyperlink"_s);
    element(u"name"_s, {{u"val"_s, u"Hyperlink"_s}});
    element(u"basedOn"_s, {{u"val"_s, u"DefaultParagraphFont"_s}});
    element(u"uiPriority"_s, {{u"val"_s, u"99"_s}});
    element(u"unhideWhenUsed"_s, {});
    start(u"rPr"_s);
    element(u"u"_s, {{u"val"_s, u"single"_s}});
    end();
    end();

    start(u"style"_s);
    w.writeAttribute(wordNs, u"type"_s, u"table"_s);
    w.writeAttribute(wordNs, u"default"_s, u"1"_s);
    w.writeAttribute(wordNs, u"styleId"_s, u"TableNormal"_s);
    element(u"name"_s, {{u"val"_s, u"Normal Table"_s}});
    element(u"uiPriority"_s, {{u"val"_s, u"99"_s}});
    element(u"semiHidden"_s, {});
    element(u"unhideWhenUsed"_s, {});
    start(u"tblPr"_s);
    element(u"tblInd"_s, {{u"w"_s, u"0"_s}, {u"type"_s, u"dxa"_s}});
    start(u"tblCellMar"_s);
    element(u"top"_s, {{u"w"_s, u"0"_s}, {u"type"_s, u"dxa"_s}});
    element(u"left"_s, {{u"w"_s, u"108"_s}, {u"type"_s, u"dxa"_s}});
    element(u"bottom"_s, {{u"w"_s, u"0"_s}, {u"type"_s, u"dxa"_s}});
    element(u"right"_s, {{u"w"_s, u"108"_s}, {u"type"_s, u"dxa"_s}});
    end();
    end();
    end();

    end(); // styles
    w.writeEndDocument();
    return bytes;
}

QByteArray documentRelationships(const QStringList& links) {
    QByteArray bytes;
    QXmlStreamWriter w(&bytes);
    w.writeStartDocument(u"1.0"_s, true);
    w.writeDefaultNamespace(packageRelNs);
    w.writeStartElement(packageRelNs, u"Relationships"_s);
    const auto relationship = [&](const QString& id, const QString& type, const QString& target,
                                  bool external) {
        w.writeStartElement(packageRelNs, u"Relationship"_s);
        w.writeAttribute(u"Id"_s, id);
        w.writeAttribute(u"Type"_s, relNs + u'/' + type);
        w.writeAttribute(u"Target"_s, target);
        if (external)
            w.writeAttribute(u"TargetMode"_s, u"External"_s);
        w.writeEndElement();
    };
    relationship(u"rIdStyles"_s, u"styles"_s, u"styles.xml"_s, false);
    relationship(u"rIdSettings"_s, u"settings"_s, u"settings.xml"_s, false);
    for (qsizetype i = 0; i < links.size(); ++i)
        relationship(linkId(i), u"hyperlink"_s, links[i], true);
    w.writeEndElement();
    w.writeEndDocument();
    return bytes;
}

QByteArray coreProperties(const QString& title) {
    QByteArray bytes;
    QXmlStreamWriter w(&bytes);
    const QString cp = u"http://schemas.openxmlformats.org/package/2006/metadata/core-properties"_s;
    const QString dc = u"http://purl.org/dc/elements/1.1/"_s;
    w.writeStartDocument(u"1.0"_s, true);
    w.writeNamespace(cp, u"cp"_s);
    w.writeNamespace(dc, u"dc"_s);
    w.writeStartElement(cp, u"coreProperties"_s);
    w.writeTextElement(dc, u"title"_s, cleaned(title));
    w.writeTextElement(dc, u"language"_s, u"de-DE"_s);
    w.writeEndElement();
    w.writeEndDocument();
    return bytes;
}

const QByteArray contentTypes = R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types"><Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/><Default Extension="xml" ContentType="application/xml"/><Override PartName="/word/document.xml" ContentType="application/vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml"/><Override PartName="/word/styles.xml" ContentType="application/vnd.openxmlformats-officedocument.wordprocessingml.styles+xml"/><Override PartName="/word/settings.xml" ContentType="application/vnd.openxmlformats-officedocument.wordprocessingml.settings+xml"/><Override PartName="/docProps/core.xml" ContentType="application/vnd.openxmlformats-package.core-properties+xml"/><Override PartName="/docProps/app.xml" ContentType="application/vnd.openxmlformats-officedocument.extended-properties+xml"/></Types>)";

const QByteArray packageRelationships = R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships"><Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument" Target="word/document.xml"/><Relationship Id="rId2" Type="http://schemas.openxmlformats.org/package/2006/relationships/metadata/core-properties" Target="docProps/core.xml"/><Relationship Id="rId3" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/extended-properties" Target="docProps/app.xml"/></Relationships>)";

const QByteArray settings = R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<w:settings xmlns:w="http://schemas.openxmlformats.org/wordprocessingml/2006/main"><w:defaultTabStop w:val="709"/><w:characterSpacingControl w:val="doNotCompress"/><w:compat><w:compatSetting w:name="compatibilityMode" w:uri="http://schemas.microsoft.com/office/word" w:val="15"/></w:compat></w:settings>)";

const QByteArray appProperties = R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<Properties xmlns="http://schemas.openxmlformats.org/officeDocument/2006/extended-properties"><Application>Orvik</Application></Properties>)";

struct ArchiveDeleter {
    void operator()(zip_t* archive) const { zip_discard(archive); }
};
struct SourceDeleter {
    void operator()(zip_source_t* source) const { zip_source_free(source); }
};

// The entries zipped in memory, in the given order.
std::optional<QByteArray> zipped(const QList<std::pair<const char*, QByteArray>>& entries) {
    zip_error_t error;
    zip_error_init(&error);
    std::unique_ptr<zip_source_t, SourceDeleter> buffer(
        zip_source_buffer_create(nullptr, 0, 0, &error));
    zip_error_fini(&error);
    if (!buffer)
        return std::nullopt;
    zip_error_init(&error);
    std::unique_ptr<zip_t, ArchiveDeleter> archive(
        zip_open_from_source(buffer.get(), ZIP_TRUNCATE, &error));
    zip_error_fini(&error);
    if (!archive)
        return std::nullopt;
    zip_source_keep(buffer.get()); // outlives zip_close, which would free it

    for (const auto& [name, data] : entries) {
        // The data stays alive in `entries` until zip_close has read it.
        zip_source_t* source =
            zip_source_buffer(archive.get(), data.constData(), zip_uint64_t(data.size()), 0);
        if (!source)
            return std::nullopt;
        if (zip_file_add(archive.get(), name, source, ZIP_FL_ENC_UTF_8) < 0) {
            zip_source_free(source);
            return std::nullopt;
        }
    }
    if (zip_close(archive.get()) < 0)
        return std::nullopt;
    archive.release(); // closed and freed

    zip_stat_t stat;
    zip_stat_init(&stat);
    if (zip_source_stat(buffer.get(), &stat) < 0 || !(stat.valid & ZIP_STAT_SIZE) ||
        zip_source_open(buffer.get()) < 0)
        return std::nullopt;
    QByteArray bytes(qsizetype(stat.size), Qt::Uninitialized);
    const zip_int64_t read = zip_source_read(buffer.get(), bytes.data(), stat.size);
    zip_source_close(buffer.get());
    if (read != zip_int64_t(stat.size))
        return std::nullopt;
    return bytes;
}

} // namespace

std::optional<QByteArray> write(const QTextDocument& doc) {
    Body body(doc);
    const QByteArray document = body.xml();
    return zipped(
        {{"[Content_Types].xml", contentTypes},
         {"_rels/.rels", packageRelationships},
         {"docProps/core.xml", coreProperties(doc.metaInformation(QTextDocument::DocumentTitle))},
         {"docProps/app.xml", appProperties},
         {"word/document.xml", document},
         {"word/styles.xml", styles(doc, body.headings())},
         {"word/settings.xml", settings},
         {"word/_rels/document.xml.rels", documentRelationships(body.links())}});
}

} // namespace orvik::docx
