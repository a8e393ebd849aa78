#include "appversion.h"

#include "platform/text.h"

namespace orvik {

namespace {

// The numeric characters of a piece read as a decimal number; 0 when there are
// none, when they are not plain ASCII digits (superscripts, fractions, other
// scripts) or when the number does not fit 64 bits.
qint64 pieceValue(QStringView piece) {
    QString digits;
    bool ascii = true;
    for (const char32_t c : piece.toUcs4()) {
        if (!QChar::isNumber(c))
            continue;
        ascii = ascii && c >= U'0' && c <= U'9';
        digits += QString::fromUcs4(&c, 1);
    }
    bool ok = false;
    const qint64 value = digits.toLongLong(&ok);
    return ascii && ok ? value : 0;
}

} // namespace

AppVersion::AppVersion(const QString& text) : raw(text::trimmedHorizontal(text)) {
    for (const QStringView piece : QStringView(raw).split(u'.'))
        parts.append(pieceValue(piece));
}

bool AppVersion::lessThan(const AppVersion& a, const AppVersion& b) {
    const qsizetype n = std::max(a.parts.size(), b.parts.size());
    for (qsizetype i = 0; i < n; ++i) {
        const qint64 x = a.parts.value(i, 0);
        const qint64 y = b.parts.value(i, 0);
        if (x != y)
            return x < y;
    }
    return false;
}

} // namespace orvik
