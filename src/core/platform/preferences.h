#pragma once

#include <QDateTime>
#include <QString>
#include <QStringView>
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
// Text (numbers count as their text).
std::optional<QString> toText(const QVariant& v);
// The text of `key` as the user wrote it: the INI file reads an unquoted value
// with commas as a list, split and trimmed at each comma, yet a hand-edited
// path such as "/home/a/Bücher,alt" still means one text.
std::optional<QString> textAsWritten(const QString& key);
// A valid date and time.
std::optional<QDateTime> toDateTime(const QVariant& v);

// A yes/no preference, its key and default named once beside the group it
// belongs to, so that reading and writing cannot spell the key differently.
struct Flag {
    QStringView key;
    bool fallback = true;

    // The default when absent or of another kind than toBool reads.
    bool read() const;
    void write(bool on) const;
};

} // namespace orvik::prefs
