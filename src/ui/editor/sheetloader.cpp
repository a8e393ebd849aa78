#include "sheetloader.h"

#include <algorithm>

namespace orvik::ui {

namespace {

// Units of one row of a plain view. While a sheet loads, the view lays out
// the rows at its end on every piece: rows of 4096 letters cost 30 to 90 ms
// a piece, rows of 1024 a few.
constexpr qsizetype plainRow = 1024;

// The end of the row of a plain view that starts at `at`: a line of the
// text, or at most `plainRow` units of a longer one, cut after a blank in
// the row's second half where there is one, never between "\r" and "\n"
// nor between surrogates. `cut`: the view breaks there, the text does not.
qsizetype rowEnd(const QString& text, qsizetype at, bool& cut) {
    cut = false;
    const qsizetype limit = std::min(text.size(), at + plainRow);
    const qsizetype newline = QStringView(text).mid(at, limit - at).indexOf(u'\n');
    if (newline >= 0)
        return at + newline + 1;
    if (limit == text.size())
        return limit;
    cut = true;
    const qsizetype half = plainRow / 2;
    const qsizetype blank = QStringView(text).mid(at + half, half).lastIndexOf(u' ');
    if (blank >= 0)
        return at + half + blank + 1;
    const QChar last = text[limit - 1];
    return last == u'\r' || last.isHighSurrogate() ? limit - 1 : limit;
}

// What a plain view shows of the text from `from` to the row end `to`. NUL
// shows as "\uFFFD", which text fonts carry: for NUL itself (and for its
// symbol U+2400) Qt finds no glyph and asks the system's fonts again for
// every one, ten times slower than for a letter.
// `cuts` gains the text positions the view breaks at where the text does not.
QString plainRows(const QString& text, qsizetype from, qsizetype to, QList<qsizetype>& cuts) {
    QString rows;
    rows.reserve(to - from + (to - from) / (plainRow / 2) + 1);
    for (qsizetype at = from; at < to;) {
        bool cut = false;
        const qsizetype end = rowEnd(text, at, cut);
        rows += QStringView(text).mid(at, end - at);
        if (cut) {
            rows += u'\n';
            cuts.append(end);
        }
        at = end;
    }
    rows.replace(QChar(0), QChar(0xFFFD));
    return rows;
}

} // namespace

// Qt lays a line out in time linear in its length, and a run with no blank
// to break it at in quadratic time; the editor lays an edited line out twice
// and styles it too. Offscreen with Qt 6.4, a styled line of 120 Ki units of
// prose paused the window for 400 ms, a run of 16 Ki letters for 350 ms, of
// NUL for 540 ms. At the limits used (16 Ki and 4 Ki) no pause reached 50 ms,
// half the 100 ms a window may freeze.
bool tooLongToLayOut(QStringView text, qsizetype longLine, qsizetype longRun) {
    qsizetype line = 0;
    qsizetype run = 0;
    for (const QChar c : text) {
        if (c == u'\n') {
            line = 0;
            run = 0;
            continue;
        }
        ++line;
        run = c.isSpace() ? 0 : run + 1;
        if (line > longLine || run > longRun)
            return true;
    }
    return false;
}

QString SheetLoader::start(const QString& text, bool plain, qsizetype atOnce, qsizetype piece) {
    stop();
    m_plain = plain;
    m_piece = piece;
    m_cuts.clear();
    qsizetype first = text.size();
    if (text.size() > atOnce) {
        m_incoming = text;
        first = pieceEnd(text, 0);
        m_loaded = first;
    }
    return m_plain                ? plainRows(text, 0, first, m_cuts)
           : first == text.size() ? text
                                  : text.left(first);
}

QString SheetLoader::next() {
    const qsizetype from = m_loaded;
    m_loaded = pieceEnd(m_incoming, from);
    return shown(m_incoming, from, m_loaded);
}

void SheetLoader::stop() {
    m_incoming = QString();
    m_loaded = 0;
}

QString SheetLoader::shown(const QString& text, qsizetype from, qsizetype to) {
    return m_plain ? plainRows(text, from, to, m_cuts) : text.mid(from, to - from);
}

qsizetype SheetLoader::pieceEnd(const QString& text, qsizetype from) const {
    const qsizetype size = text.size();
    if (m_plain) {
        // Rows of long lines cost Qt more than text of short lines.
        qsizetype end = from;
        for (bool cut = false; end < size && end - from < m_piece / 4;)
            end = rowEnd(text, end, cut);
        return end;
    }
    qsizetype end = from + m_piece;
    if (end >= size)
        return size;
    // Whole lines where there are any; a line is never cut between "\r" and
    // "\n", nor a character between its surrogates.
    const qsizetype newline = text.indexOf(u'\n', end);
    if (newline >= 0 && newline - end < m_piece)
        return newline + 1;
    if (text[end - 1] == u'\r' || text[end - 1].isHighSurrogate())
        --end;
    return end;
}

int SheetLoader::viewPosition(qsizetype textPosition) const {
    const auto before = std::upper_bound(m_cuts.begin(), m_cuts.end(), textPosition);
    return int(textPosition + (before - m_cuts.begin()));
}

qsizetype SheetLoader::textPosition(int viewPosition) const {
    // The break before the text's position c_i stands at c_i + i in the view.
    qsizetype low = 0;
    qsizetype high = m_cuts.size();
    while (low < high) {
        const qsizetype mid = (low + high) / 2;
        if (m_cuts[mid] + mid < viewPosition)
            low = mid + 1;
        else
            high = mid;
    }
    return viewPosition - low;
}

} // namespace orvik::ui
