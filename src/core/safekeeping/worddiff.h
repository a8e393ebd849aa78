#pragma once

#include <QList>
#include <QString>

// What changed between two versions of a sheet, word by word: paragraphs are
// compared first, and only those that differ word by word, so that a long
// sheet with a few edits costs little more than reading it. A paragraph moved
// elsewhere shows as removed at its old place and inserted at its new one.
// Words, the spaces between them and characters are never split: an umlaut
// written with a combining mark or an emoji of several code points stays whole.
namespace orvik::worddiff {

struct Piece {
    enum class Kind { Same, Inserted, Removed };
    Kind kind = Kind::Same;
    QString text;
    friend bool operator==(const Piece&, const Piece&) = default;
};

// The way from `older` to `newer`: the Same and Removed pieces spell
// `older`, the Same and Inserted pieces spell `newer`. Neighbouring pieces of
// one kind are joined.
QList<Piece> diff(const QString& older, const QString& newer);

struct Counts {
    int inserted = 0; // words
    int removed = 0;
};
Counts countWords(const QList<Piece>& pieces);

} // namespace orvik::worddiff
