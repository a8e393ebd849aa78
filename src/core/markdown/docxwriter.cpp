#include "docxwriter.h"

#include "styledtext.h"

#include <QMap>
#include <QTextDocument>
#include <QTextTable>
#include <QXmlStreamWriter>

#include <zip.h>

#include <algorithm>
#include <memory>

namespace orvik::docx {

namespace {

using namespace styledtext;

const QString wordNs = u"http://schemas.openxmlformats.org/wordprocessingml/2006/main"_qs;
const QString relNs = u"http://schemas.openxmlformats.org/officeDocument/2006/relationships"_qs;
const QString packageRelNs = u"http://schemas.openxmlformats.org/package/2006/relationships"_qs;

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
    return u"rIdLink"_qs + QString::number(index + 1);
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
        w.writeStartDocument(u"1.0"_qs, true);
        w.writeNamespace(wordNs, u"w"_qs);
        w.writeNamespace(relNs, u"r"_qs);
        w.writeStartElement(wordNs, u"document"_qs);
        w.writeStartElement(wordNs, u"body"_qs);
        content(items(m_doc.rootFrame()->begin(), m_doc.rootFrame()->end(), true));
        w.writeStartElement(wordNs, u"sectPr"_qs);
        element(u"pgSz"_qs,
                {{u"w"_qs, QString::number(pageWidth)}, {u"h"_qs, QString::number(pageHeight)}});
        const QString margin = QString::number(pageMargin);
        element(u"pgMar"_qs, {{u"top"_qs, margin},
                              {u"right"_qs, margin},
                              {u"bottom"_qs, margin},
                              {u"left"_qs, margin},
                              {u"header"_qs, u"708"_qs},
                              {u"footer"_qs, u"708"_qs},
                              {u"gutter"_qs, u"0"_qs}});
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
            m_xml->writeEmptyElement(wordNs, u"p"_qs);
    }

    void paragraph(const QTextBlock& block, const Spacing& space) {
        const QTextBlockFormat format = block.blockFormat();
        const QList<Run> parts = runs(block);
        m_xml->writeStartElement(wordNs, u"p"_qs);
        m_xml->writeStartElement(wordNs, u"pPr"_qs);
        const int level = format.headingLevel();
        if (level >= 1 && level <= 6) {
            element(u"pStyle"_qs, {{u"val"_qs, u"Heading"_qs + QString::number(level)}});
            if (!m_headings.contains(level) && !parts.isEmpty())
                m_headings.insert(
                    level, {pointSize(parts.first().format, m_doc), isBold(parts.first().format)});
        }
        if (const qreal bar = format.doubleProperty(LeftBarWidth); bar > 0) {
            m_xml->writeStartElement(wordNs, u"pBdr"_qs);
            // The gap is in points here, and Word allows at most 31.
            const qreal gap = std::min<qreal>(format.doubleProperty(LeftBarGap) * 0.75, 31);
            element(u"left"_qs, {{u"val"_qs, u"single"_qs},
                                 {u"sz"_qs, borderEighths(bar)},
                                 {u"space"_qs, number(gap)},
                                 {u"color"_qs, hex(format.colorProperty(LeftBarColor))}});
            m_xml->writeEndElement();
        }
        if (const QColor bg = background(format); bg.isValid())
            element(u"shd"_qs,
                    {{u"val"_qs, u"clear"_qs}, {u"color"_qs, u"auto"_qs}, {u"fill"_qs, hex(bg)}});
        spacing(format, space);
        const qreal left = format.leftMargin() + format.indent() * m_doc.indentWidth();
        if (left != 0 || format.rightMargin() != 0 || format.textIndent() != 0) {
            m_xml->writeStartElement(wordNs, u"ind"_qs);
            m_xml->writeAttribute(wordNs, u"left"_qs, QString::number(twips(left)));
            m_xml->writeAttribute(wordNs, u"right"_qs,
                                  QString::number(twips(format.rightMargin())));
            if (format.textIndent() >= 0)
                m_xml->writeAttribute(wordNs, u"firstLine"_qs,
                                      QString::number(twips(format.textIndent())));
            else
                m_xml->writeAttribute(wordNs, u"hanging"_qs,
                                      QString::number(twips(-format.textIndent())));
            m_xml->writeEndElement();
        }
        const Qt::Alignment align = format.alignment() & Qt::AlignHorizontal_Mask;
        if (align & Qt::AlignHCenter)
            element(u"jc"_qs, {{u"val"_qs, u"center"_qs}});
        else if (align & Qt::AlignRight)
            element(u"jc"_qs, {{u"val"_qs, u"right"_qs}});
        else if (align & Qt::AlignJustify)
            element(u"jc"_qs, {{u"val"_qs, u"both"_qs}});
        if (level >= 1 && level <= 6)
            element(u"outlineLvl"_qs, {{u"val"_qs, QString::number(level - 1)}});
        m_xml->writeEndElement(); // pPr

        for (qsizetype i = 0; i < parts.size();) {
            const QString href = parts[i].href;
            if (href.isEmpty()) {
                run(parts[i++]);
                continue;
            }
            m_links.append(linkTarget(href));
            m_xml->writeStartElement(wordNs, u"hyperlink"_qs);
            m_xml->writeAttribute(relNs, u"id"_qs, linkId(m_links.size() - 1));
            m_xml->writeAttribute(wordNs, u"history"_qs, u"1"_qs);
            for (; i < parts.size() && parts[i].href == href; ++i)
                run(parts[i], true);
            m_xml->writeEndElement();
        }
        m_xml->writeEndElement(); // p
    }

    void spacing(const QTextBlockFormat& format, const Spacing& space) {
        m_xml->writeStartElement(wordNs, u"spacing"_qs);
        m_xml->writeAttribute(wordNs, u"before"_qs,
                              QString::number(std::max(0, twips(space.before))));
        m_xml->writeAttribute(wordNs, u"after"_qs,
                              QString::number(std::max(0, twips(space.after))));
        if (space.spacerHeight >= 0) {
            m_xml->writeAttribute(wordNs, u"line"_qs,
                                  QString::number(std::max(20, twips(space.spacerHeight))));
            m_xml->writeAttribute(wordNs, u"lineRule"_qs, u"exact"_qs);
            m_xml->writeEndElement();
            return;
        }
        switch (format.lineHeightType()) {
        case QTextBlockFormat::FixedHeight:
            m_xml->writeAttribute(wordNs, u"line"_qs,
                                  QString::number(std::max(20, twips(format.lineHeight()))));
            m_xml->writeAttribute(wordNs, u"lineRule"_qs, u"exact"_qs);
            break;
        case QTextBlockFormat::MinimumHeight:
            m_xml->writeAttribute(wordNs, u"line"_qs, QString::number(twips(format.lineHeight())));
            m_xml->writeAttribute(wordNs, u"lineRule"_qs, u"atLeast"_qs);
            break;
        case QTextBlockFormat::ProportionalHeight:
            m_xml->writeAttribute(wordNs, u"line"_qs, number(format.lineHeight() * 2.4));
            m_xml->writeAttribute(wordNs, u"lineRule"_qs, u"auto"_qs);
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
        m_xml->writeStartElement(wordNs, u"r"_qs);
        m_xml->writeStartElement(wordNs, u"rPr"_qs);
        if (inLink)
            element(u"rStyle"_qs, {{u"val"_qs, u"Hyperlink"_qs}});
        const QString font = family(f, m_doc);
        element(
            u"rFonts"_qs,
            {{u"ascii"_qs, font}, {u"hAnsi"_qs, font}, {u"eastAsia"_qs, font}, {u"cs"_qs, font}});
        const bool bold = isBold(f);
        element(u"b"_qs, {{u"val"_qs, bold ? u"1"_qs : u"0"_qs}});
        element(u"bCs"_qs, {{u"val"_qs, bold ? u"1"_qs : u"0"_qs}});
        if (f.fontItalic()) {
            element(u"i"_qs, {});
            element(u"iCs"_qs, {});
        }
        if (f.fontStrikeOut())
            element(u"strike"_qs, {});
        if (const QColor color = foreground(f); color.isValid())
            element(u"color"_qs, {{u"val"_qs, hex(color)}});
        const QString size = halfPoints(pointSize(f, m_doc));
        element(u"sz"_qs, {{u"val"_qs, size}});
        element(u"szCs"_qs, {{u"val"_qs, size}});
        element(u"u"_qs, {{u"val"_qs, f.fontUnderline() ? u"single"_qs : u"none"_qs}});
        if (const QColor bg = background(f); bg.isValid())
            element(u"shd"_qs,
                    {{u"val"_qs, u"clear"_qs}, {u"color"_qs, u"auto"_qs}, {u"fill"_qs, hex(bg)}});
        m_xml->writeEndElement(); // rPr

        qsizetype start = 0;
        const auto flush = [&](qsizetype end) {
            if (end <= start)
                return;
            m_xml->writeStartElement(wordNs, u"t"_qs);
            m_xml->writeAttribute(u"xml:space"_qs, u"preserve"_qs);
            m_xml->writeCharacters(text.mid(start, end - start));
            m_xml->writeEndElement();
        };
        for (qsizetype i = 0; i < text.size(); ++i) {
            if (text[i] != u'\t' && text[i] != QChar::LineSeparator)
                continue;
            flush(i);
            m_xml->writeEmptyElement(wordNs, text[i] == u'\t' ? u"tab"_qs : u"br"_qs);
            start = i + 1;
        }
        flush(text.size());
        m_xml->writeEndElement(); // r
    }

    void table(QTextTable* table) {
        const int columns = std::max(1, table->columns());
        const int columnWidth = textWidth / columns;
        m_xml->writeStartElement(wordNs, u"tbl"_qs);
        m_xml->writeStartElement(wordNs, u"tblPr"_qs);
        element(u"tblW"_qs, {{u"w"_qs, u"5000"_qs}, {u"type"_qs, u"pct"_qs}});
        element(u"tblLayout"_qs, {{u"type"_qs, u"fixed"_qs}});
        m_xml->writeStartElement(wordNs, u"tblCellMar"_qs);
        element(u"left"_qs, {{u"w"_qs, u"0"_qs}, {u"type"_qs, u"dxa"_qs}});
        element(u"right"_qs, {{u"w"_qs, u"0"_qs}, {u"type"_qs, u"dxa"_qs}});
        m_xml->writeEndElement();
        m_xml->writeEndElement(); // tblPr
        m_xml->writeStartElement(wordNs, u"tblGrid"_qs);
        for (int c = 0; c < columns; ++c)
            element(u"gridCol"_qs, {{u"w"_qs, QString::number(columnWidth)}});
        m_xml->writeEndElement();
        for (int r = 0; r < table->rows(); ++r) {
            m_xml->writeStartElement(wordNs, u"tr"_qs);
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
        m_xml->writeStartElement(wordNs, u"tc"_qs);
        m_xml->writeStartElement(wordNs, u"tcPr"_qs);
        element(u"tcW"_qs, {{u"w"_qs, QString::number(columnWidth * cell.columnSpan())},
                            {u"type"_qs, u"dxa"_qs}});
        if (cell.columnSpan() > 1)
            element(u"gridSpan"_qs, {{u"val"_qs, QString::number(cell.columnSpan())}});
        const struct {
            QString name;
            qreal width;
            QBrush brush;
        } borders[] = {{u"top"_qs, format.topBorder(), format.topBorderBrush()},
                       {u"left"_qs, format.leftBorder(), format.leftBorderBrush()},
                       {u"bottom"_qs, format.bottomBorder(), format.bottomBorderBrush()},
                       {u"right"_qs, format.rightBorder(), format.rightBorderBrush()}};
        m_xml->writeStartElement(wordNs, u"tcBorders"_qs);
        for (const auto& border : borders) {
            const bool visible = border.width > 0 && border.brush.style() != Qt::NoBrush;
            if (visible)
                element(border.name, {{u"val"_qs, u"single"_qs},
                                      {u"sz"_qs, borderEighths(border.width)},
                                      {u"space"_qs, u"0"_qs},
                                      {u"color"_qs, hex(border.brush.color())}});
            else
                element(border.name, {{u"val"_qs, u"nil"_qs}});
        }
        m_xml->writeEndElement();
        if (const QColor bg = background(format); bg.isValid())
            element(u"shd"_qs,
                    {{u"val"_qs, u"clear"_qs}, {u"color"_qs, u"auto"_qs}, {u"fill"_qs, hex(bg)}});
        m_xml->writeStartElement(wordNs, u"tcMar"_qs);
        const auto margin = [&](const QString& side, qreal px) {
            element(side, {{u"w"_qs, QString::number(twips(px))}, {u"type"_qs, u"dxa"_qs}});
        };
        margin(u"top"_qs, format.topPadding());
        margin(u"left"_qs, format.leftPadding());
        margin(u"bottom"_qs, format.bottomPadding());
        margin(u"right"_qs, format.rightPadding());
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

    w.writeStartDocument(u"1.0"_qs, true);
    w.writeNamespace(wordNs, u"w"_qs);
    start(u"styles"_qs);

    // The body's font, size and colour, taken from the first paragraph.
    QTextCharFormat bodyFormat = doc.begin().charFormat();
    for (QTextBlock b = doc.begin(); b.isValid(); b = b.next())
        if (b.blockFormat().headingLevel() == 0 && b.length() > 1) {
            bodyFormat = b.begin().fragment().charFormat();
            break;
        }
    const QString font = family(bodyFormat, doc);
    start(u"docDefaults"_qs);
    start(u"rPrDefault"_qs);
    start(u"rPr"_qs);
    element(u"rFonts"_qs,
            {{u"ascii"_qs, font}, {u"hAnsi"_qs, font}, {u"eastAsia"_qs, font}, {u"cs"_qs, font}});
    if (const QColor color = foreground(bodyFormat); color.isValid())
        element(u"color"_qs, {{u"val"_qs, hex(color)}});
    const QString size = halfPoints(pointSize(bodyFormat, doc));
    element(u"sz"_qs, {{u"val"_qs, size}});
    element(u"szCs"_qs, {{u"val"_qs, size}});
    element(u"lang"_qs, {{u"val"_qs, u"de-DE"_qs}, {u"eastAsia"_qs, u"de-DE"_qs}});
    end();
    end();
    start(u"pPrDefault"_qs);
    start(u"pPr"_qs);
    element(u"spacing"_qs,
            {{u"after"_qs, u"0"_qs}, {u"line"_qs, u"240"_qs}, {u"lineRule"_qs, u"auto"_qs}});
    end();
    end();
    end(); // docDefaults

    start(u"style"_qs);
    w.writeAttribute(wordNs, u"type"_qs, u"paragraph"_qs);
    w.writeAttribute(wordNs, u"default"_qs, u"1"_qs);
    w.writeAttribute(wordNs, u"styleId"_qs, u"Normal"_qs);
    element(u"name"_qs, {{u"val"_qs, u"Normal"_qs}});
    element(u"qFormat"_qs, {});
    end();

    for (int level = 1; level <= 6; ++level) {
        const HeadingLook look = headings.value(level);
        start(u"style"_qs);
        w.writeAttribute(wordNs, u"type"_qs, u"paragraph"_qs);
        w.writeAttribute(wordNs, u"styleId"_qs, u"Heading"_qs + QString::number(level));
        element(u"name"_qs, {{u"val"_qs, u"heading "_qs + QString::number(level)}});
        element(u"basedOn"_qs, {{u"val"_qs, u"Normal"_qs}});
        element(u"next"_qs, {{u"val"_qs, u"Normal"_qs}});
        element(u"uiPriority"_qs, {{u"val"_qs, u"9"_qs}});
        element(u"qFormat"_qs, {});
        start(u"pPr"_qs);
        element(u"keepNext"_qs, {});
        element(u"keepLines"_qs, {});
        element(u"outlineLvl"_qs, {{u"val"_qs, QString::number(level - 1)}});
        end();
        start(u"rPr"_qs);
        if (look.bold) {
            element(u"b"_qs, {});
            element(u"bCs"_qs, {});
        }
        element(u"sz"_qs, {{u"val"_qs, halfPoints(look.size)}});
        element(u"szCs"_qs, {{u"val"_qs, halfPoints(look.size)}});
        end();
        end();
    }

    start(u"style"_qs);
    w.writeAttribute(wordNs, u"type"_qs, u"character"_qs);
    w.writeAttribute(wordNs, u"default"_qs, u"1"_qs);
    w.writeAttribute(wordNs, u"styleId"_qs, u"DefaultParagraphFont"_qs);
    element(u"name"_qs, {{u"val"_qs, u"Default Paragraph Font"_qs}});
    element(u"uiPriority"_qs, {{u"val"_qs, u"1"_qs}});
    element(u"semiHidden"_qs, {});
    element(u"unhideWhenUsed"_qs, {});
    end();

    start(u"style"_qs);
    w.writeAttribute(wordNs, u"type"_qs, u"character"_qs);
    w.writeAttribute(wordNs, u"styleId"_qs, u"Hyperlink"_qs);
    element(u"name"_qs, {{u"val"_qs, u"Hyperlink"_qs}});
    element(u"basedOn"_qs, {{u"val"_qs, u"DefaultParagraphFont"_qs}});
    element(u"uiPriority"_qs, {{u"val"_qs, u"99"_qs}});
    element(u"unhideWhenUsed"_qs, {});
    start(u"rPr"_qs);
    element(u"u"_qs, {{u"val"_qs, u"single"_qs}});
    end();
    end();

    start(u"style"_qs);
    w.writeAttribute(wordNs, u"type"_qs, u"table"_qs);
    w.writeAttribute(wordNs, u"default"_qs, u"1"_qs);
    w.writeAttribute(wordNs, u"styleId"_qs, u"TableNormal"_qs);
    element(u"name"_qs, {{u"val"_qs, u"Normal Table"_qs}});
    element(u"uiPriority"_qs, {{u"val"_qs, u"99"_qs}});
    element(u"semiHidden"_qs, {});
    element(u"unhideWhenUsed"_qs, {});
    start(u"tblPr"_qs);
    element(u"tblInd"_qs, {{u"w"_qs, u"0"_qs}, {u"type"_qs, u"dxa"_qs}});
    start(u"tblCellMar"_qs);
    element(u"top"_qs, {{u"w"_qs, u"0"_qs}, {u"type"_qs, u"dxa"_qs}});
    element(u"left"_qs, {{u"w"_qs, u"108"_qs}, {u"type"_qs, u"dxa"_qs}});
    element(u"bottom"_qs, {{u"w"_qs, u"0"_qs}, {u"type"_qs, u"dxa"_qs}});
    element(u"right"_qs, {{u"w"_qs, u"108"_qs}, {u"type"_qs, u"dxa"_qs}});
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
    w.writeStartDocument(u"1.0"_qs, true);
    w.writeDefaultNamespace(packageRelNs);
    w.writeStartElement(packageRelNs, u"Relationships"_qs);
    const auto relationship = [&](const QString& id, const QString& type, const QString& target,
                                  bool external) {
        w.writeStartElement(packageRelNs, u"Relationship"_qs);
        w.writeAttribute(u"Id"_qs, id);
        w.writeAttribute(u"Type"_qs, relNs + u'/' + type);
        w.writeAttribute(u"Target"_qs, target);
        if (external)
            w.writeAttribute(u"TargetMode"_qs, u"External"_qs);
        w.writeEndElement();
    };
    relationship(u"rIdStyles"_qs, u"styles"_qs, u"styles.xml"_qs, false);
    relationship(u"rIdSettings"_qs, u"settings"_qs, u"settings.xml"_qs, false);
    for (qsizetype i = 0; i < links.size(); ++i)
        relationship(linkId(i), u"hyperlink"_qs, links[i], true);
    w.writeEndElement();
    w.writeEndDocument();
    return bytes;
}

QByteArray coreProperties(const QString& title) {
    QByteArray bytes;
    QXmlStreamWriter w(&bytes);
    const QString cp =
        u"http://schemas.openxmlformats.org/package/2006/metadata/core-properties"_qs;
    const QString dc = u"http://purl.org/dc/elements/1.1/"_qs;
    w.writeStartDocument(u"1.0"_qs, true);
    w.writeNamespace(cp, u"cp"_qs);
    w.writeNamespace(dc, u"dc"_qs);
    w.writeStartElement(cp, u"coreProperties"_qs);
    w.writeTextElement(dc, u"title"_qs, cleaned(title));
    w.writeTextElement(dc, u"language"_qs, u"de-DE"_qs);
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
