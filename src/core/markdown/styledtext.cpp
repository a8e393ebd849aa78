#include "styledtext.h"

#include <QTextDocument>
#include <QTextTable>
#include <QUrl>

namespace orvik::styledtext {

namespace {

void flatten(QTextFrame::iterator it, const QTextFrame::iterator& end, bool withTables,
             QList<Item>& out) {
    for (; it != end; ++it) {
        if (QTextFrame* frame = it.currentFrame()) {
            if (auto* table = qobject_cast<QTextTable*>(frame); table && withTables)
                out.append(table);
            else
                flatten(frame->begin(), frame->end(), false, out);
        } else if (it.currentBlock().isValid()) {
            out.append(it.currentBlock());
        }
    }
}

bool isAllowed(char32_t c) {
    if (c == u'\t' || c == 0x2028)
        return true;
    if (c < 0x20 || (c >= 0x7F && c < 0xA0))
        return false;
    if (c >= 0xD800 && c <= 0xDFFF) // only reached for lone surrogates
        return false;
    return (c & 0xFFFE) != 0xFFFE && !(c >= 0xFDD0 && c <= 0xFDEF);
}

} // namespace

int twips(qreal px) {
    return qRound(px * 15); // 1 px = 3/4 pt = 15 twips
}

QList<Item> items(QTextFrame::iterator begin, const QTextFrame::iterator& end, bool withTables) {
    QList<Item> out;
    flatten(begin, end, withTables, out);
    return out;
}

QList<Run> runs(const QTextBlock& block) {
    QList<Run> out;
    for (auto it = block.begin(); !it.atEnd(); ++it) {
        const QTextFragment fragment = it.fragment();
        if (!fragment.isValid())
            continue;
        const QTextCharFormat format = fragment.charFormat();
        out.append({fragment.text(), format, format.isAnchor() ? format.anchorHref() : QString()});
    }
    return out;
}

QString cleaned(QStringView text) {
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c.isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            const char32_t code = QChar::surrogateToUcs4(c, text[i + 1]);
            if (isAllowed(code)) {
                out += c;
                out += text[i + 1];
            }
            ++i;
            continue;
        }
        if (c == QChar::ParagraphSeparator || c == u'\n' || c == u'\r')
            out += u' ';
        else if (isAllowed(c.unicode()))
            out += c;
    }
    return out;
}

QString linkTarget(const QString& href) {
    return QString::fromLatin1(QUrl(href.trimmed(), QUrl::TolerantMode).toEncoded());
}

QString family(const QTextCharFormat& format, const QTextDocument& doc) {
    const QStringList families = format.fontFamilies().toStringList();
    if (!families.isEmpty() && !families.first().isEmpty())
        return families.first();
    return doc.defaultFont().family();
}

qreal pointSize(const QTextCharFormat& format, const QTextDocument& doc) {
    if (format.hasProperty(QTextFormat::FontPointSize) && format.fontPointSize() > 0)
        return format.fontPointSize();
    if (format.hasProperty(QTextFormat::FontPixelSize))
        return format.intProperty(QTextFormat::FontPixelSize) * 0.75;
    const qreal base = doc.defaultFont().pointSizeF();
    return base > 0 ? base : 12;
}

bool isBold(const QTextCharFormat& format) {
    return format.hasProperty(QTextFormat::FontWeight) && format.fontWeight() >= QFont::DemiBold;
}

QColor foreground(const QTextCharFormat& format) {
    if (!format.hasProperty(QTextFormat::ForegroundBrush) ||
        format.foreground().style() == Qt::NoBrush)
        return {};
    return format.foreground().color();
}

QColor background(const QTextFormat& format) {
    if (!format.hasProperty(QTextFormat::BackgroundBrush) ||
        format.background().style() == Qt::NoBrush)
        return {};
    return format.background().color();
}

QTextTable* tableAt(const QList<Item>& list, qsizetype index) {
    if (index < 0 || index >= list.size())
        return nullptr;
    QTextTable* const* table = std::get_if<QTextTable*>(&list[index]);
    return table ? *table : nullptr;
}

bool isTableSpacer(const QList<Item>& list, qsizetype index) {
    if (index < 0 || index >= list.size())
        return false;
    const QTextBlock* block = std::get_if<QTextBlock>(&list[index]);
    if (!block || block->length() > 1)
        return false;
    return tableAt(list, index - 1) || (index == 0 && tableAt(list, 1));
}

Spacing spacing(const QList<Item>& list, qsizetype index) {
    const QTextBlockFormat format = std::get<QTextBlock>(list[index]).blockFormat();
    Spacing s;
    if (isTableSpacer(list, index)) {
        s.spacerHeight = index > 0 ? tableAt(list, index - 1)->frameFormat().bottomMargin() : 0;
        if (QTextTable* next = tableAt(list, index + 1); next && index > 0)
            s.after = next->frameFormat().topMargin();
        return s;
    }
    s.before = format.topMargin();
    if (index > 0 && !isTableSpacer(list, index - 1))
        if (const QTextBlock* previous = std::get_if<QTextBlock>(&list[index - 1]))
            s.before = std::max<qreal>(0, s.before - previous->blockFormat().bottomMargin());
    const QTextTable* next = tableAt(list, index + 1);
    s.after = next ? next->frameFormat().topMargin() : format.bottomMargin();
    return s;
}

} // namespace orvik::styledtext
