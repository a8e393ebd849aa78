#pragma once

#include <QByteArray>
#include <QCryptographicHash>
#include <QList>
#include <QString>

#include <optional>

// Sheet texts that prove themselves whole: a header with the version and the
// payload's length, the payload, and a checksum over both. A file cut short,
// padded, mixed from two versions or empty fails the check.
namespace orvik::probe {

inline QByteArray checksum(const QByteArray& body) {
    return QCryptographicHash::hash(body, QCryptographicHash::Sha1).toHex();
}

// Version `version` of a sheet, with `length` bytes of payload that differ
// from one version to the next.
inline QByteArray versionText(int version, int length) {
    QByteArray body =
        "# Fassung " + QByteArray::number(version) + " Länge " + QByteArray::number(length) + '\n';
    static const QByteArray alphabet = "abcdefghijklmnopqrstuvwxyz \n";
    QByteArray payload(length, Qt::Uninitialized);
    quint32 x = 2654435761u * quint32(version + 1);
    for (char& c : payload) {
        x = x * 1664525u + 1013904223u;
        c = alphabet.at(int((x >> 24) % quint32(alphabet.size())));
    }
    body += payload;
    return body + "\nPrüfsumme " + checksum(body) + '\n';
}

// The version a text holds, or nothing when the text is not one whole version.
inline std::optional<int> wholeVersion(const QByteArray& text) {
    const qsizetype sumAt = text.lastIndexOf("\nPrüfsumme ");
    if (sumAt < 0 || !text.endsWith('\n'))
        return std::nullopt;
    const QByteArray body = text.left(sumAt);
    const QByteArray sum = text.mid(sumAt + qsizetype(sizeof("\nPrüfsumme ")) - 1).chopped(1);
    if (checksum(body) != sum)
        return std::nullopt;
    const QList<QByteArray> header = body.left(body.indexOf('\n')).split(' ');
    if (header.size() != 5 || header[1] != "Fassung")
        return std::nullopt;
    bool ok = false;
    const int version = header[2].toInt(&ok);
    return ok ? std::optional<int>(version) : std::nullopt;
}

} // namespace orvik::probe
