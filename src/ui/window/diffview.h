#pragma once

#include "appearance/palette.h"
#include "safekeeping/worddiff.h"

#include <QTextEdit>

namespace orvik::ui {

// A text with the words that differ between two versions marked, in the
// colours of the sheet's own look, and read to assistive technology as the
// runs that differ. Either the whole way from the older text to the newer
// one (removed words struck through, inserted ones underlined), or one side
// of it, its own words marked, for two versions shown side by side.
class DiffView : public QTextEdit {
    Q_OBJECT
public:
    enum class Shows { Changes, OlderSide, NewerSide };

    explicit DiffView(QWidget* parent = nullptr);

    void setLook(const Palette& look);
    void setDiff(const QList<worddiff::Piece>& pieces, Shows shows = Shows::Changes);
    void clearDiff();

    // The runs in reading order, as assistive technology reads them:
    // "[entfernt: …] [eingefügt: …]"; a side's own words as "[nur hier: …]".
    static QString announced(const QList<worddiff::Piece>& pieces, Shows shows = Shows::Changes);

protected:
    void changeEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void render();

    Palette m_look = Palette::system();
    QList<worddiff::Piece> m_pieces;
    Shows m_shows = Shows::Changes;
};

} // namespace orvik::ui
