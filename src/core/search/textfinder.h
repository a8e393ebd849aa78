#pragma once

#include <QList>
#include <QStringView>

// Finding a phrase inside one text as the library search finds it: case and
// diacritics do not matter ("ss" finds "ß", "e" finds "é" whether composed or
// not), and every hit covers whole characters of the original.
namespace orvik::search {

struct TextRange {
    qsizetype start = 0; // UTF-16 offsets into the searched text
    qsizetype end = 0;
    friend bool operator==(const TextRange&, const TextRange&) = default;
};

// The hits of `query` in `text`, ascending and not overlapping. Empty for an
// empty query or one that folds to nothing (a lone accent).
QList<TextRange> findFolded(QStringView text, QStringView query);

} // namespace orvik::search
