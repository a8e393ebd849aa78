#include "worddiff.h"

#include "library/sheet.h"

#include <QHash>
#include <QTextBoundaryFinder>

#include <optional>
#include <vector>

namespace orvik::worddiff {

namespace {

using Kind = Piece::Kind;

// How much comparing one run of differences may cost before it is shown as
// removed and inserted whole: a rewritten sheet needs no finer answer, and
// the comparison must stay quick however the texts differ.
constexpr qint64 workLimit = 20'000'000;
// Each step of differences keeps a row of the search, so their number is
// bounded apart: 2,000 steps keep at most 16 MB.
constexpr qsizetype stepLimit = 2000;

struct Op {
    Kind kind;
    qsizetype index; // into the older sequence for Same and Removed, the newer for Inserted
};

// The shortest edit script between two sequences (E. W. Myers, "An O(ND)
// difference algorithm and its variations", 1986); nothing if it costs more
// than `workLimit` or takes more than `stepLimit` edits.
template <typename Equal>
std::optional<std::vector<Op>> shortestEdit(qsizetype n, qsizetype m, Equal equal) {
    const qsizetype max = n + m;
    const qsizetype offset = max + 1;
    std::vector<int> v(size_t(2 * max + 3), 0);
    std::vector<std::vector<int>> trace;
    qint64 work = 0;
    qsizetype found = -1;
    for (qsizetype d = 0; d <= max && found < 0; ++d) {
        if (d > stepLimit)
            return std::nullopt;
        trace.emplace_back(v.begin() + (offset - d - 1), v.begin() + (offset + d + 2));
        for (qsizetype k = -d; k <= d; k += 2) {
            qsizetype x = (k == -d || (k != d && v[offset + k - 1] < v[offset + k + 1]))
                              ? v[offset + k + 1]
                              : v[offset + k - 1] + 1;
            qsizetype y = x - k;
            const qsizetype snakeStart = x;
            while (x < n && y < m && equal(x, y)) {
                ++x;
                ++y;
            }
            work += 1 + (x - snakeStart);
            v[offset + k] = int(x);
            if (x >= n && y >= m) {
                found = d;
                break;
            }
        }
        if (work > workLimit)
            return std::nullopt;
    }
    std::vector<Op> ops;
    qsizetype x = n;
    qsizetype y = m;
    for (qsizetype d = found; d >= 0; --d) {
        const std::vector<int>& saved = trace[size_t(d)];
        const auto at = [&](qsizetype k) { return saved[size_t(k + d + 1)]; };
        const qsizetype k = x - y;
        qsizetype previousK = k;
        qsizetype previousX = 0;
        qsizetype previousY = 0;
        if (d > 0) {
            previousK = (k == -d || (k != d && at(k - 1) < at(k + 1))) ? k + 1 : k - 1;
            previousX = at(previousK);
            previousY = previousX - previousK;
        }
        while (x > previousX && y > previousY) {
            ops.push_back({Kind::Same, --x});
            --y;
        }
        if (d == 0)
            break;
        if (x == previousX)
            ops.push_back({Kind::Inserted, previousY});
        else
            ops.push_back({Kind::Removed, previousX});
        x = previousX;
        y = previousY;
    }
    return std::vector<Op>(ops.rbegin(), ops.rend());
}

// Paragraphs, each with the line break that ends it.
QList<QStringView> paragraphs(QStringView text) {
    QList<QStringView> list;
    qsizetype start = 0;
    while (start < text.size()) {
        qsizetype end = text.indexOf(u'\n', start);
        end = end < 0 ? text.size() : end + 1;
        list.append(text.mid(start, end - start));
        start = end;
    }
    return list;
}

// Words and the runs of space between them, cut only between characters as
// the reader sees them.
QList<QStringView> tokens(QStringView text) {
    QList<QStringView> list;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text.data(), text.size());
    qsizetype start = 0;
    qsizetype position = 0;
    bool space = false;
    while (position < text.size()) {
        const qsizetype next = finder.toNextBoundary();
        const qsizetype end = next < 0 ? text.size() : next;
        const bool isSpace = text[position].isSpace();
        if (position > start && isSpace != space) {
            list.append(text.mid(start, position - start));
            start = position;
        }
        space = isSpace;
        position = end;
    }
    if (start < text.size())
        list.append(text.mid(start));
    return list;
}

class Builder {
public:
    void add(Kind kind, QStringView text) {
        if (text.isEmpty())
            return;
        if (!m_pieces.isEmpty() && m_pieces.last().kind == kind)
            m_pieces.last().text += text;
        else
            m_pieces.append({kind, text.toString()});
    }
    QList<Piece> take() { return std::move(m_pieces); }

private:
    QList<Piece> m_pieces;
};

QString joined(const QList<QStringView>& parts, qsizetype from, qsizetype to) {
    QString text;
    for (qsizetype i = from; i < to; ++i)
        text += parts[i];
    return text;
}

// Compares two sequences of text parts; `changed` gets each run that differs,
// as the removed and the inserted text.
template <typename Changed>
void compare(const QList<QStringView>& a, const QList<QStringView>& b, Builder& out,
             Changed changed) {
    qsizetype prefix = 0;
    while (prefix < a.size() && prefix < b.size() && a[prefix] == b[prefix])
        ++prefix;
    qsizetype suffix = 0;
    while (suffix < a.size() - prefix && suffix < b.size() - prefix &&
           a[a.size() - 1 - suffix] == b[b.size() - 1 - suffix])
        ++suffix;
    out.add(Kind::Same, joined(a, 0, prefix));
    const qsizetype n = a.size() - prefix - suffix;
    const qsizetype m = b.size() - prefix - suffix;
    std::vector<size_t> ha(static_cast<size_t>(n));
    std::vector<size_t> hb(static_cast<size_t>(m));
    for (qsizetype i = 0; i < n; ++i)
        ha[size_t(i)] = qHash(a[prefix + i]);
    for (qsizetype j = 0; j < m; ++j)
        hb[size_t(j)] = qHash(b[prefix + j]);
    const auto ops = shortestEdit(n, m, [&](qsizetype i, qsizetype j) {
        return ha[size_t(i)] == hb[size_t(j)] && a[prefix + i] == b[prefix + j];
    });
    if (!ops) {
        changed(joined(a, prefix, prefix + n), joined(b, prefix, prefix + m));
    } else {
        QString removed;
        QString inserted;
        const auto flush = [&] {
            if (!removed.isEmpty() || !inserted.isEmpty())
                changed(std::exchange(removed, {}), std::exchange(inserted, {}));
        };
        for (const Op& op : *ops) {
            if (op.kind == Kind::Same) {
                flush();
                out.add(Kind::Same, a[prefix + op.index]);
            } else if (op.kind == Kind::Removed) {
                removed += a[prefix + op.index];
            } else {
                inserted += b[prefix + op.index];
            }
        }
        flush();
    }
    out.add(Kind::Same, joined(a, a.size() - suffix, a.size()));
}

} // namespace

QList<Piece> diff(const QString& older, const QString& newer) {
    Builder out;
    compare(paragraphs(older), paragraphs(newer), out,
            [&](const QString& removed, const QString& inserted) {
                if (removed.isEmpty() || inserted.isEmpty()) {
                    out.add(Kind::Removed, removed);
                    out.add(Kind::Inserted, inserted);
                    return;
                }
                compare(tokens(removed), tokens(inserted), out,
                        [&](const QString& wordsRemoved, const QString& wordsInserted) {
                            out.add(Kind::Removed, wordsRemoved);
                            out.add(Kind::Inserted, wordsInserted);
                        });
            });
    return out.take();
}

Counts countWords(const QList<Piece>& pieces) {
    Counts counts;
    for (const Piece& piece : pieces) {
        if (piece.kind == Kind::Inserted)
            counts.inserted += Sheet::countWords(piece.text);
        else if (piece.kind == Kind::Removed)
            counts.removed += Sheet::countWords(piece.text);
    }
    return counts;
}

} // namespace orvik::worddiff
