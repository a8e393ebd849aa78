#include "preferences.h"

#include <QSettings>

#include <cmath>

namespace orvik::prefs {

namespace {

QSettings settings() {
    return QSettings(QStringLiteral("Orvik"), QStringLiteral("Orvik"));
}

bool isIntegerType(const QVariant& v) {
    switch (v.typeId()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Long:
    case QMetaType::ULong:
    case QMetaType::Short:
    case QMetaType::UShort:
        return true;
    default:
        return false;
    }
}

bool isFloatType(const QVariant& v) {
    return v.typeId() == QMetaType::Double || v.typeId() == QMetaType::Float;
}

} // namespace

std::optional<QVariant> value(const QString& key) {
    const QSettings s = settings();
    if (!s.contains(key))
        return std::nullopt;
    return s.value(key);
}

void setValue(const QString& key, const QVariant& value) {
    QSettings s = settings();
    s.setValue(key, value);
}

std::optional<bool> toBool(const QVariant& v) {
    if (v.typeId() == QMetaType::Bool)
        return v.toBool();
    if (v.typeId() == QMetaType::QString) {
        const QString s = v.toString().trimmed();
        if (s.compare(u"true", Qt::CaseInsensitive) == 0 || s == u"1")
            return true;
        if (s.compare(u"false", Qt::CaseInsensitive) == 0 || s == u"0")
            return false;
        return std::nullopt;
    }
    if (isIntegerType(v) || isFloatType(v)) {
        const double d = v.toDouble();
        if (d == 1.0 || d == 0.0)
            return d == 1.0;
    }
    return std::nullopt;
}

std::optional<qint64> toInteger(const QVariant& v) {
    if (v.typeId() == QMetaType::QString) {
        bool ok = false;
        const qint64 n = v.toString().trimmed().toLongLong(&ok);
        return ok ? std::optional<qint64>(n) : std::nullopt;
    }
    if (v.typeId() == QMetaType::ULongLong || v.typeId() == QMetaType::ULong) {
        bool ok = false;
        const qulonglong n = v.toULongLong(&ok);
        if (ok && n <= qulonglong(std::numeric_limits<qint64>::max()))
            return qint64(n);
        return std::nullopt;
    }
    if (isIntegerType(v))
        return v.toLongLong();
    if (isFloatType(v)) {
        const double d = v.toDouble();
        // 2^63 is the first double beyond the 64-bit range.
        if (std::isfinite(d) && d == std::trunc(d) && std::fabs(d) < 9223372036854775808.0)
            return qint64(d);
    }
    return std::nullopt;
}

std::optional<double> toDouble(const QVariant& v) {
    if (v.typeId() == QMetaType::QString) {
        bool ok = false;
        const double d = v.toString().trimmed().toDouble(&ok);
        return ok ? std::optional<double>(d) : std::nullopt;
    }
    if (isIntegerType(v) || isFloatType(v))
        return v.toDouble();
    return std::nullopt;
}

std::optional<QString> toText(const QVariant& v) {
    if (v.typeId() == QMetaType::QString || isIntegerType(v) || isFloatType(v))
        return v.toString();
    // The INI file reads a value with commas as a list, split at each comma
    // and trimmed: a hand-written path like "Bücher, alt" is still one text.
    if (v.typeId() == QMetaType::QStringList)
        return v.toStringList().join(u", ");
    return std::nullopt;
}

std::optional<QDateTime> toDateTime(const QVariant& v) {
    if (v.typeId() == QMetaType::QDateTime && v.toDateTime().isValid())
        return v.toDateTime();
    return std::nullopt;
}

} // namespace orvik::prefs
