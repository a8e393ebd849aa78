#include "preferences.h"

#include <QFile>
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
    return std::nullopt;
}

std::optional<QString> textAsWritten(const QString& key) {
    const std::optional<QVariant> stored = value(key);
    if (!stored)
        return std::nullopt;
    if (stored->typeId() != QMetaType::QStringList)
        return toText(*stored);
    // Only a hand-written line comes back as a list; its own text is the value,
    // unless it uses the file's quoting or escapes, which the list has undone.
    const QStringList parts = stored->toStringList();
    QFile file(settings().fileName());
    if (file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        bool general = true;
        while (!file.atEnd()) {
            const QString line = QString::fromUtf8(file.readLine()).trimmed();
            if (line.startsWith(u'['))
                general = line == u"[General]";
            else if (general && line.startsWith(key) &&
                     line.mid(key.size()).trimmed().startsWith(u'=')) {
                const QString written = line.mid(line.indexOf(u'=') + 1).trimmed();
                if (!written.contains(u'"') && !written.contains(u'\\'))
                    return written;
            }
        }
    }
    return parts.join(u", ");
}

std::optional<QDateTime> toDateTime(const QVariant& v) {
    if (v.typeId() == QMetaType::QDateTime && v.toDateTime().isValid())
        return v.toDateTime();
    return std::nullopt;
}

bool Flag::read() const {
    const auto stored = value(key.toString());
    return stored ? toBool(*stored).value_or(fallback) : fallback;
}

void Flag::write(bool on) const {
    setValue(key.toString(), on);
}

} // namespace orvik::prefs
