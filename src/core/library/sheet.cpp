#include "sheet.h"

#include "files.h"
#include "text.h"

#include <QFileInfo>
#include <QRegularExpression>

namespace orvik {

namespace {
constexpr qsizetype titleLength = 120;
constexpr qsizetype previewLength = 160;
constexpr qsizetype previewCollectLimit = 140;

QRegularExpression unicodeRx(QStringView pattern) {
    // Unicode classes for \s, as the title and preview rules expect.
    return QRegularExpression(pattern.toString(), QRegularExpression::UseUnicodePropertiesOption);
}

const QRegularExpression& headingMarker() {
    static const QRegularExpression re = unicodeRx(u"^#{1,6}\\s*");
    return re;
}
const QRegularExpression& bulletMarker() {
    static const QRegularExpression re = unicodeRx(u"^[-*+]\\s+");
    return re;
}
const QRegularExpression& quoteMarker() {
    static const QRegularExpression re = unicodeRx(u"^>\\s*");
    return re;
}
const QRegularExpression& titleMarks() {
    static const QRegularExpression re = unicodeRx(u"[*_`]");
    return re;
}
const QRegularExpression& previewMarks() {
    static const QRegularExpression re = unicodeRx(u"[*_`>#]");
    return re;
}

bool isBlank(QStringView line) {
    for (QChar c : line)
        if (!text::isHorizontalSpace(c))
            return false;
    return true;
}
} // namespace

QDateTime distantPast() {
    return QDateTime(QDate(1, 1, 1), QTime(0, 0), Qt::UTC);
}

QDateTime modificationDate(const QString& path) {
    const QFileInfo info(path);
    const QDateTime modified = info.exists() ? info.lastModified() : QDateTime();
    return modified.isValid() ? modified : distantPast();
}

std::optional<Sheet> Sheet::load(const QString& path) {
    const auto text = files::readText(path);
    if (!text)
        return std::nullopt;
    return fromText(path, *text, modificationDate(path));
}

Sheet Sheet::fromText(const QString& path, const QString& text, const QDateTime& modified) {
    Sheet sheet;
    sheet.url = QUrl::fromLocalFile(path);
    sheet.title = deriveTitle(text, QFileInfo(path).completeBaseName());
    sheet.preview = derivePreview(text);
    sheet.modified = modified;
    sheet.wordCount = countWords(text);
    sheet.matched = false;
    return sheet;
}

QString Sheet::deriveTitle(const QString& text, const QString& fallback) {
    QString title;
    text::forEachLine(text, [&](QStringView line) {
        if (isBlank(line))
            return true;
        title = text::trimmedHorizontal(line);
        title.remove(headingMarker());
        title.remove(bulletMarker());
        title.remove(quoteMarker());
        title.remove(titleMarks());
        title = text::trimmedHorizontal(title);
        return false;
    });
    // A first line of markup only gives the fallback; later lines are not consulted.
    if (title.isEmpty())
        return fallback;
    return text::leftGraphemes(title, titleLength);
}

QString Sheet::derivePreview(const QString& text) {
    QStringList parts;
    qsizetype estimate = 0;
    bool titleSkipped = false;
    text::forEachLine(text, [&](QStringView line) {
        if (isBlank(line))
            return true;
        if (!titleSkipped) {
            titleSkipped = true;
            return true;
        }
        QString part = text::trimmedHorizontal(line);
        part.remove(headingMarker());
        part.remove(previewMarks());
        part = text::trimmedHorizontal(part);
        if (!part.isEmpty()) {
            estimate += (parts.isEmpty() ? 0 : 1) + text::graphemeCount(part);
            parts.append(part);
        }
        // The sum over the parts can only overstate the joined length (a part
        // starting with a combining mark joins the space before it), so the
        // exact count is needed only past the limit.
        return estimate <= previewCollectLimit ||
               text::graphemeCount(parts.join(u' ')) <= previewCollectLimit;
    });
    const QString joined = parts.join(u' ');
    if (joined.isEmpty())
        return QStringLiteral("Kein weiterer Text");
    return text::leftGraphemes(joined, previewLength);
}

int Sheet::countWords(const QString& text) {
    int count = 0;
    bool inWord = false;
    const qsizetype n = text.size();
    const QChar* s = text.constData();
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t c = s[i].unicode();
        // A line feed right after a carriage return is part of one CR LF character,
        // which does not separate words.
        const bool separator =
            c == u' ' || c == u'\t' || (c == u'\n' && !(i > 0 && s[i - 1] == u'\r'));
        if (separator) {
            inWord = false;
        } else if (!inWord) {
            inWord = true;
            ++count;
        }
    }
    return count;
}

size_t qHash(const Sheet& sheet, size_t seed) noexcept {
    return qHashMulti(seed, sheet.url, sheet.title, sheet.preview, sheet.modified, sheet.wordCount,
                      sheet.matched);
}

} // namespace orvik
