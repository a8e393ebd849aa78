#include "rtfwriter.h"

#include "styledtext.h"

#include <QFontDatabase>
#include <QMap>
#include <QTextDocument>
#include <QTextTable>

#include <algorithm>

namespace orvik::rtf {

namespace {

using namespace styledtext;

// A4 and 64 pt margins in twips; the text column is 467.28 pt wide.
constexpr int pageWidth = 11906;
constexpr int pageHeight = 16838;
constexpr int pageMargin = 1280;
constexpr int textWidth = pageWidth - 2 * pageMargin;

QByteArray number(qreal value) {
    return QByteArray::number(qRound(value));
}

// RTF text: ASCII as it is but for the three special characters, everything
// else as \uN with "?" for readers that cannot show it.
QByteArray escaped(QStringView text) {
    QByteArray out;
    out.reserve(text.size());
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u == u'\\' || u == u'{' || u == u'}') {
            out += '\\';
            out += char(u);
        } else if (u == u'\t') {
            out += "\\tab ";
        } else if (u == QChar::LineSeparator) {
            out += "\\line ";
        } else if (u >= 0x20 && u < 0x80) {
            out += char(u);
        } else {
            // Signed 16 bits: UTF-16 units above 0x7FFF are written negative.
            out += "\\u" + QByteArray::number(qint16(u)) + '?';
        }
    }
    return out;
}

class Writer {
public:
    explicit Writer(const QTextDocument& doc) : m_doc(doc) {}

    QByteArray rtf() {
        // The body first: it fills the font and colour tables.
        const QTextCharFormat bodyFormat = firstBodyFormat();
        fontIndex(family(bodyFormat, m_doc)); // \deff0
        const QByteArray body =
            content(items(m_doc.rootFrame()->begin(), m_doc.rootFrame()->end(), true), false);

        QByteArray out = "{\\rtf1\\ansi\\ansicpg1252\\deff0\\deflang1031\\uc1\n";
        out += "{\\fonttbl";
        for (qsizetype i = 0; i < m_fonts.size(); ++i) {
            const bool fixed = QFontDatabase::isFixedPitch(m_fonts[i]);
            out += "{\\f" + QByteArray::number(i) + (fixed ? "\\fmodern" : "\\fnil") +
                   "\\fcharset0 " + escaped(cleaned(m_fonts[i])) + ";}";
        }
        out += "}\n{\\colortbl;";
        for (const QColor& color : std::as_const(m_colors))
            out += "\\red" + QByteArray::number(color.red()) + "\\green" +
                   QByteArray::number(color.green()) + "\\blue" + QByteArray::number(color.blue()) +
                   ';';
        out += "}\n{\\stylesheet{\\s0\\snext0 Normal;}";
        for (int level = 1; level <= 6; ++level) {
            const QByteArray n = QByteArray::number(level);
            out += "{\\s" + n + "\\sbasedon0\\snext0\\keepn\\outlinelevel" +
                   QByteArray::number(level - 1) + m_headingLooks.value(level, "\\b") +
                   " heading " + n + ";}";
        }
        out += "}\n{\\info{\\title " +
               escaped(cleaned(m_doc.metaInformation(QTextDocument::DocumentTitle))) + "}}\n";
        out += "\\paperw" + QByteArray::number(pageWidth) + "\\paperh" +
               QByteArray::number(pageHeight);
        const QByteArray margin = QByteArray::number(pageMargin);
        out += "\\margl" + margin + "\\margr" + margin + "\\margt" + margin + "\\margb" + margin;
        out += "\\fs" + number(pointSize(bodyFormat, m_doc) * 2) + '\n';
        out += body;
        out += "}\n";
        return out;
    }

private:
    QTextCharFormat firstBodyFormat() const {
        for (QTextBlock b = m_doc.begin(); b.isValid(); b = b.next())
            if (b.blockFormat().headingLevel() == 0 && b.length() > 1)
                return b.begin().fragment().charFormat();
        return m_doc.begin().charFormat();
    }

    int fontIndex(const QString& name) {
        qsizetype i = m_fonts.indexOf(name);
        if (i < 0) {
            m_fonts.append(name);
            i = m_fonts.size() - 1;
        }
        return int(i);
    }

    // Index in the colour table; 0 is the reader's automatic colour.
    int colorIndex(const QColor& color) {
        const QColor opaque = color.toRgb();
        for (qsizetype i = 0; i < m_colors.size(); ++i)
            if (m_colors[i].rgb() == opaque.rgb())
                return int(i + 1);
        m_colors.append(opaque);
        return int(m_colors.size());
    }

    QByteArray content(const QList<Item>& list, bool inTable) {
        QByteArray out;
        for (qsizetype i = 0; i < list.size(); ++i) {
            if (const QTextBlock* block = std::get_if<QTextBlock>(&list[i])) {
                const Spacing space = styledtext::spacing(list, i);
                if (i == 0 && space.spacerHeight >= 0)
                    continue; // a document may open with a table
                const bool lastInCell = inTable && i == list.size() - 1;
                out += paragraph(*block, space, inTable, lastInCell);
            } else {
                out += table(std::get<QTextTable*>(list[i]));
            }
        }
        if (inTable && list.isEmpty())
            out += "\\pard\\intbl\\cell\n";
        return out;
    }

    QByteArray paragraph(const QTextBlock& block, const Spacing& space, bool inTable,
                         bool lastInCell) {
        const QTextBlockFormat format = block.blockFormat();
        const QList<Run> parts = runs(block);
        QByteArray out = "\\pard\\plain";
        if (inTable)
            out += "\\intbl";
        const int level = format.headingLevel();
        if (level >= 1 && level <= 6) {
            out += "\\s" + QByteArray::number(level) + "\\keepn\\outlinelevel" +
                   QByteArray::number(level - 1);
            if (!m_headingLooks.contains(level) && !parts.isEmpty())
                m_headingLooks.insert(level,
                                      (isBold(parts.first().format) ? "\\b\\fs" : "\\fs") +
                                          number(pointSize(parts.first().format, m_doc) * 2));
        }
        const qreal left = format.leftMargin() + format.indent() * m_doc.indentWidth();
        if (left != 0)
            out += "\\li" + QByteArray::number(twips(left));
        if (format.rightMargin() != 0)
            out += "\\ri" + QByteArray::number(twips(format.rightMargin()));
        if (format.textIndent() != 0)
            out += "\\fi" + QByteArray::number(twips(format.textIndent()));
        out += "\\sb" + QByteArray::number(std::max(0, twips(space.before)));
        out += "\\sa" + QByteArray::number(std::max(0, twips(space.after)));
        if (space.spacerHeight >= 0) { // negative: exactly
            out +=
                "\\sl-" + QByteArray::number(std::max(20, twips(space.spacerHeight))) + "\\slmult0";
        } else {
            switch (format.lineHeightType()) {
            case QTextBlockFormat::FixedHeight:
                out += "\\sl-" + QByteArray::number(std::max(20, twips(format.lineHeight()))) +
                       "\\slmult0";
                break;
            case QTextBlockFormat::MinimumHeight:
                out += "\\sl" + QByteArray::number(twips(format.lineHeight())) + "\\slmult0";
                break;
            case QTextBlockFormat::ProportionalHeight:
                out += "\\sl" + number(format.lineHeight() * 2.4) + "\\slmult1";
                break;
            default:
                break;
            }
        }
        const Qt::Alignment align = format.alignment() & Qt::AlignHorizontal_Mask;
        if (align & Qt::AlignHCenter)
            out += "\\qc";
        else if (align & Qt::AlignRight)
            out += "\\qr";
        else if (align & Qt::AlignJustify)
            out += "\\qj";
        if (const QColor bg = background(format); bg.isValid())
            out += "\\cbpat" + QByteArray::number(colorIndex(bg));
        if (const qreal bar = format.doubleProperty(LeftBarWidth); bar > 0)
            out += "\\brdrl\\brdrs\\brdrw" + QByteArray::number(std::clamp(twips(bar), 1, 75)) +
                   "\\brsp" + QByteArray::number(twips(format.doubleProperty(LeftBarGap))) +
                   "\\brdrcf" + QByteArray::number(colorIndex(format.colorProperty(LeftBarColor)));
        out += ' ';

        for (qsizetype i = 0; i < parts.size();) {
            const QString href = parts[i].href;
            if (href.isEmpty()) {
                out += run(parts[i++]);
                continue;
            }
            out += "{\\field{\\*\\fldinst{HYPERLINK \"" + escaped(linkTarget(href)) +
                   "\"}}{\\fldrslt{";
            for (; i < parts.size() && parts[i].href == href; ++i)
                out += run(parts[i]);
            out += "}}}";
        }
        out += lastInCell ? "\\cell\n" : "\\par\n";
        return out;
    }

    QByteArray run(const Run& part) {
        const QString text = cleaned(part.text);
        if (text.isEmpty())
            return {};
        const QTextCharFormat& f = part.format;
        QByteArray out = "{\\f" + QByteArray::number(fontIndex(family(f, m_doc))) + "\\fs" +
                         number(pointSize(f, m_doc) * 2);
        if (isBold(f))
            out += "\\b";
        if (f.fontItalic())
            out += "\\i";
        if (f.fontUnderline())
            out += "\\ul";
        if (f.fontStrikeOut())
            out += "\\strike";
        if (const QColor color = foreground(f); color.isValid())
            out += "\\cf" + QByteArray::number(colorIndex(color));
        if (const QColor bg = background(f); bg.isValid())
            out += "\\chcbpat" + QByteArray::number(colorIndex(bg));
        out += ' ' + escaped(text) + '}';
        return out;
    }

    QByteArray table(QTextTable* table) {
        const int columns = std::max(1, table->columns());
        const int columnWidth = textWidth / columns;
        QByteArray out;
        for (int r = 0; r < table->rows(); ++r) {
            QByteArray definition = "\\trowd\\trgaph0\\trleft0";
            QByteArray cells;
            int right = 0;
            for (int c = 0; c < columns; ++c) {
                const QTextTableCell cell = table->cellAt(r, c);
                if (!cell.isValid() || cell.row() != r || cell.column() != c)
                    continue; // covered by a merged cell
                definition += cellDefinition(cell.format().toTableCellFormat());
                right += columnWidth * cell.columnSpan();
                definition += "\\cellx" + QByteArray::number(right);
                cells += content(items(cell.begin(), cell.end(), false), true);
            }
            out += definition + '\n' + cells + "\\row\n";
        }
        return out;
    }

    QByteArray cellDefinition(const QTextTableCellFormat& format) {
        QByteArray out;
        const struct {
            const char* name;
            qreal width;
            QBrush brush;
        } borders[] = {{"\\clbrdrt", format.topBorder(), format.topBorderBrush()},
                       {"\\clbrdrl", format.leftBorder(), format.leftBorderBrush()},
                       {"\\clbrdrb", format.bottomBorder(), format.bottomBorderBrush()},
                       {"\\clbrdrr", format.rightBorder(), format.rightBorderBrush()}};
        for (const auto& border : borders) {
            if (border.width <= 0 || border.brush.style() == Qt::NoBrush)
                continue;
            out += QByteArray(border.name) + "\\brdrs\\brdrw" +
                   QByteArray::number(std::clamp(twips(border.width), 1, 75)) + "\\brdrcf" +
                   QByteArray::number(colorIndex(border.brush.color()));
        }
        if (const QColor bg = background(format); bg.isValid())
            out += "\\clcbpat" + QByteArray::number(colorIndex(bg));
        // Word reads \clpadl as the top and \clpadt as the left padding, and
        // every reader since follows it.
        out += "\\clpadl" + QByteArray::number(twips(format.topPadding())) + "\\clpadfl3";
        out += "\\clpadt" + QByteArray::number(twips(format.leftPadding())) + "\\clpadft3";
        out += "\\clpadb" + QByteArray::number(twips(format.bottomPadding())) + "\\clpadfb3";
        out += "\\clpadr" + QByteArray::number(twips(format.rightPadding())) + "\\clpadfr3";
        return out;
    }

    const QTextDocument& m_doc;
    QStringList m_fonts;
    QList<QColor> m_colors;
    QMap<int, QByteArray> m_headingLooks;
};

} // namespace

QByteArray write(const QTextDocument& doc) {
    return Writer(doc).rtf();
}

} // namespace orvik::rtf
