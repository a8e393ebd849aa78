#pragma once

#include <QDateTime>
#include <QString>
#include <QVariant>

#include <optional>

// The per-user preferences, QSettings("Orvik", "Orvik"), read by kind. A value
// stored in the INI file comes back as text, one set in this process keeps its
// type: each reader accepts both and gives nothing for any other kind.
namespace orvik::prefs {

// Nothing when the key is absent.
std::optional<QVariant> value(const QString& key);
void setValue(const QString& key, const QVariant& value);

// A boolean: true/false in any case, or the numbers 1 and 0.
std::optional<bool> toBool(const QVariant& v);
// A whole number that fits 64 bits (text of digits, or an integral number).
std::optional<qint64> toInteger(const QVariant& v);
// A number (text in C notation, or any numeric type).
std::optional<double> toDouble(const QVariant& v);
// Text (numbers count as their text; a list, as the INI file reads a text
// with commas, is joined again with ", ").
std::optional<QString> toText(const QVariant& v);
// A valid date and time.
std::optional<QDateTime> toDateTime(const QVariant& v);

} // namespace orvik::prefs
