#include "diffview.h"

#include <QEvent>
#include <QKeyEvent>
#include <QTextCursor>
#include <QTextDocument>

using namespace Qt::StringLiterals;

namespace orvik::ui {

namespace {

constexpr int announcedRuns = 60;
constexpr int announcedRunLength = 160;

QColor mixed(const QColor& ground, const QColor& tint, qreal amount) {
    return QColor::fromRgbF(float(ground.redF() + (tint.redF() - ground.redF()) * amount),
                            float(ground.greenF() + (tint.greenF() - ground.greenF()) * amount),
                            float(ground.blueF() + (tint.blueF() - ground.blueF()) * amount));
}

using Kind = worddiff::Piece::Kind;

// The kind of piece a side marks as its own; the other kind is not in its text.
Kind ownKind(DiffView::Shows shows) {
    return shows == DiffView::Shows::NewerSide ? Kind::Inserted : Kind::Removed;
}

bool belongs(const worddiff::Piece& piece, DiffView::Shows shows) {
    return shows == DiffView::Shows::Changes || piece.kind == Kind::Same ||
           piece.kind == ownKind(shows);
}

} // namespace

DiffView::DiffView(QWidget* parent) : QTextEdit(parent) {
    setReadOnly(true);
    setTextInteractionFlags(Qt::TextSelectableByKeyboard | Qt::TextSelectableByMouse);
    // Tab leaves the text for the next control, as in any form.
    setTabChangesFocus(true);
}

void DiffView::setLook(const Palette& look) {
    if (look == m_look)
        return;
    m_look = look;
    render();
}

void DiffView::setDiff(const QList<worddiff::Piece>& pieces, Shows shows) {
    m_pieces = pieces;
    m_shows = shows;
    render();
    setAccessibleDescription(announced(m_pieces, m_shows));
}

void DiffView::clearDiff() {
    m_pieces.clear();
    render();
    setAccessibleDescription({});
}

QString DiffView::announced(const QList<worddiff::Piece>& pieces, Shows shows) {
    // Runs of one kind apart only by spaces are read as one.
    QList<std::pair<Kind, QString>> runs;
    bool joinable = false;
    QString gap;
    for (const worddiff::Piece& piece : pieces) {
        if (!belongs(piece, shows))
            continue;
        if (piece.kind == Kind::Same) {
            joinable = joinable && piece.text.trimmed().isEmpty();
            gap += piece.text;
            continue;
        }
        if (joinable && runs.last().first == piece.kind)
            runs.last().second += gap + piece.text;
        else
            runs.append({piece.kind, piece.text});
        joinable = true;
        gap.clear();
    }
    QStringList read;
    for (const auto& [kind, text] : std::as_const(runs)) {
        QString words = text.simplified();
        if (words.isEmpty())
            continue;
        if (read.size() == announcedRuns) {
            read.append(u"und weitere Änderungen"_s);
            break;
        }
        if (words.size() > announcedRunLength)
            words = words.left(announcedRunLength) + u'\u2026';
        const QString name = shows != Shows::Changes  ? u"[nur hier: "_s
                             : kind == Kind::Inserted ? u"[eingefügt: "_s
                                                      : u"[entfernt: "_s;
        read.append(name + words + u']');
    }
    if (!read.isEmpty())
        return read.join(u' ');
    return shows == Shows::Changes ? u"Keine Änderungen gegenüber dem jetzigen Text"_s
                                   : u"Keine Unterschiede"_s;
}

void DiffView::render() {
    // Removed and inserted words differ by more than their tint: struck
    // through and underlined. A side of two shows only its own words, which
    // nothing removes: underlined in a tint of their own.
    const QPalette qt = palette();
    const QColor paper = m_look.color(Palette::Role::Paper, qt);
    const QColor ink = m_look.color(Palette::Role::Text, qt);
    const qreal strength = isDark(qt) || paper.lightnessF() < 0.5 ? 0.42 : 0.28;
    QPalette shown = palette();
    shown.setColor(QPalette::Base, paper);
    shown.setColor(QPalette::Text, ink);
    // Set on the viewport: a palette change of the view itself would render again.
    viewport()->setPalette(shown);
    viewport()->setAutoFillBackground(true);

    QTextCharFormat same;
    same.setForeground(ink);
    QTextCharFormat inserted = same;
    inserted.setBackground(mixed(paper, QColor(0x2f, 0xa8, 0x4f), strength));
    inserted.setFontUnderline(true);
    QTextCharFormat removed = same;
    removed.setBackground(mixed(paper, QColor(0xd6, 0x45, 0x3d), strength));
    removed.setFontStrikeOut(true);
    QTextCharFormat own = same;
    own.setBackground(mixed(paper, QColor(0xe0, 0xa0, 0x20), strength));
    own.setFontUnderline(true);

    // Filled before the view shows it, without undo: a long sheet is laid out
    // once, not after every piece.
    auto* document = new QTextDocument(this);
    document->setUndoRedoEnabled(false);
    document->setDefaultFont(font());
    QTextCursor cursor(document);
    for (const worddiff::Piece& piece : std::as_const(m_pieces)) {
        if (!belongs(piece, m_shows))
            continue;
        const QTextCharFormat& look = piece.kind == Kind::Same       ? same
                                      : m_shows != Shows::Changes    ? own
                                      : piece.kind == Kind::Inserted ? inserted
                                                                     : removed;
        cursor.insertText(piece.text, look);
    }
    // The view deletes the document it showed before, being its parent.
    setDocument(document);
    moveCursor(QTextCursor::Start);
}

void DiffView::keyPressEvent(QKeyEvent* event) {
    // Enter while reading means nothing here; it must not reach the window's
    // default button and decide anything.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        event->accept();
        return;
    }
    QTextEdit::keyPressEvent(event);
}

void DiffView::changeEvent(QEvent* event) {
    QTextEdit::changeEvent(event);
    if (event->type() == QEvent::PaletteChange)
        render();
}

} // namespace orvik::ui
