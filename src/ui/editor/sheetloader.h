#pragma once

#include <QList>
#include <QString>

namespace orvik::ui {

// Whether `text` holds a line longer than `longLine` units, or more than
// `longRun` units in a row without a blank: more than Qt lays out while the
// window stays responsive.
bool tooLongToLayOut(QStringView text, qsizetype longLine, qsizetype longRun);

// What a view shows of a sheet, and when: a large sheet arrives in pieces,
// and a sheet shown plain in rows of the view only, which break long lines
// where the text does not.
class SheetLoader {
public:
    // What the view shows of `text` first: all of it when it holds no more
    // than `atOnce` units, else a first piece of about `piece`, the others
    // following from next().
    QString start(const QString& text, bool plain, qsizetype atOnce, qsizetype piece);
    bool isLoading() const { return !m_incoming.isNull(); }
    // The next piece as the view shows it; the last one ends the loading.
    QString next();
    void stop();
    qsizetype loaded() const { return m_loaded; }
    qsizetype total() const { return m_incoming.size(); }

    // Between positions in the text and in the view: the same but in a
    // plain view, whose rows add breaks of their own.
    int viewPosition(qsizetype textPosition) const;
    qsizetype textPosition(int viewPosition) const;

private:
    qsizetype pieceEnd(const QString& text, qsizetype from) const;
    QString shown(const QString& text, qsizetype from, qsizetype to);

    // The sheet being loaded (null when none is) and how much of it is shown.
    QString m_incoming;
    qsizetype m_loaded = 0;
    qsizetype m_piece = 0;
    bool m_plain = false;
    // Where a plain view breaks rows the text does not break: text positions.
    QList<qsizetype> m_cuts;
};

} // namespace orvik::ui
