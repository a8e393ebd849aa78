#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QStringView>

#include <array>
#include <bitset>
#include <optional>
#include <vector>

// Search folding: the comparison form in which case and diacritics no longer
// matter. A code point folds by canonical decomposition, dropping non-spacing
// marks, simple case folding and finally "ß" to "ss". Texts are folded once,
// as UTF-8 bytes, so that a query is a plain byte search afterwards.
namespace orvik::search {

// A pair of matching character boundaries in the original and the folded
// text. Offsets between two checkpoints are found by walking the characters
// forward from the earlier one, which keeps the map at a few bytes per
// kilobyte of text.
struct Checkpoint {
    quint32 original;
    quint32 folded;
};

struct FoldedText {
    QByteArray bytes; // shares the original when folding changed nothing
    // Ascending, starting at {0, 0}; empty when every character kept its
    // length, so that offsets agree (the equal-length expansion "ß" to "ss"
    // aside, which is caught by rounding to the original's character boundaries).
    std::vector<Checkpoint> checkpoints;
};

// Checks that `text` is strict UTF-8 and folds it in the same pass; nothing
// for invalid input. Texts of 4 GiB and more count as invalid (32-bit offsets).
std::optional<FoldedText> foldUtf8(const QByteArray& text);

// The same into `out`, reusing its memory: for a text folded for one search
// and not kept. false for invalid input; `out.bytes` never shares `text`.
bool foldUtf8Into(QByteArrayView text, FoldedText& out);

// Folds strict UTF-8 like foldUtf8 and appends to `exceptions` what it takes
// to get the original back from the folded bytes: most characters fold to
// themselves, so only the others are noted. false for invalid input or a
// character whose fold is too long to note.
bool foldWithExceptions(QByteArrayView text, QByteArray& folded, QByteArray& exceptions);

// The original bytes [from, to) of a text folded by foldWithExceptions, from
// its folded form and exceptions, appended to `out`; `from` and `to` are
// original offsets. Also gives the folded offset `foldedFrom` matching
// `from` when that is a character boundary. false when the exceptions do not
// fit the folded bytes.
bool restoreOriginal(QByteArrayView folded, QByteArrayView exceptions, qsizetype from, qsizetype to,
                     QByteArray& out, qsizetype* foldedFrom = nullptr);

// The original offsets of the characters the ascending folded offsets lie
// in, in place, from the exceptions; false when they do not fit or an
// offset lies past the end.
bool originalOffsetsOf(QByteArrayView folded, QByteArrayView exceptions,
                       std::array<qsizetype, 2>& offsets);

// The folded form of a query, comparable with FoldedText::bytes.
QByteArray foldQuery(QStringView query);

// Offset in the original text of folded offset `offset`. A position inside the
// folded form of one character widens to that whole character: the start of a
// range moves to the character's start, the end of a range to its end. Marks
// dropped by folding stick to the character before them.
qsizetype originalStart(const FoldedText& folded, QByteArrayView original, qsizetype offset);
qsizetype originalEnd(const FoldedText& folded, QByteArrayView original, qsizetype offset);

// Finds a folded phrase in folded text.
class PhraseFinder {
public:
    explicit PhraseFinder(QByteArray needle);

    qsizetype size() const { return m_needle.size(); }
    // First occurrence at or after `from`, or -1.
    qsizetype indexIn(QByteArrayView haystack, qsizetype from) const;

    // Whether a text not yet folded may hold the phrase, told without folding
    // it. Most texts of a library lack a rare word, and looking costs less
    // than folding: Absent means strict UTF-8 without the phrase, Invalid no
    // strict UTF-8, Possible that folding must tell (also whether it is valid).
    enum class Presence { Absent, Possible, Invalid };
    Presence presenceIn(QByteArrayView original) const;

private:
    QByteArray m_needle;
    // Two neighbouring ASCII bytes of the needle that every occurrence
    // covers: each comes from that byte in either case or from a character
    // whose fold holds it; m_pair < 0 when the needle has no such pair.
    qsizetype m_pair = -1;
    // The characters from U+0080 to U+2FFF that fold to something holding
    // one of the pair, or to nothing, and so may be part of an occurrence
    // without the pair appearing as ASCII.
    std::bitset<0x3000> m_pairSources;
};

} // namespace orvik::search
