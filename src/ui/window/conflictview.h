#pragma once

#include "appearance/palette.h"
#include "library/conflicts.h"
#include "safekeeping/worddiff.h"
#include "store/librarystore.h"

#include <QDialog>
#include <QUrl>

class QLabel;
class QPushButton;

namespace orvik::ui {

class DiffView;

// "Vergleichen": a conflict copy beside the sheet it was made of, each side's
// own words marked, and what becomes of them: the sheet stays and the copy
// goes into the trash, the copy's text becomes the sheet's, or both stay.
// Whatever is dropped lies in the trash. The texts are read and compared on
// another thread, and again when the group changes on disk.
class ConflictView : public QDialog {
    Q_OBJECT
public:
    ConflictView(LibraryStore& store, const QUrl& copy, const Palette& look,
                 QWidget* parent = nullptr);

    QUrl copy() const { return m_copy; }
    QUrl original() const { return m_original; }
    DiffView* sheetText() const { return m_sheetText; }
    DiffView* otherText() const { return m_otherText; }
    QPushButton* keepButton() const { return m_keep; }
    QPushButton* takeButton() const { return m_take; }
    QPushButton* bothButton() const { return m_both; }
    QString status() const;
    bool isIdle() const { return !m_reading; }

    // "Syncthing, 7. Dez. 2026, 13:05": who made the copy, and when.
    static QString origin(const library::ConflictName& name);

Q_SIGNALS:
    // The choice is made and done; `sheet` is the sheet that holds the text now.
    void resolved(const QUrl& sheet, orvik::ConflictChoice choice);

private:
    void load();
    void choose(ConflictChoice choice);
    void setStatus(const QString& text);

    LibraryStore& m_store;
    QUrl m_copy;
    QUrl m_original;
    QLabel* m_status = nullptr;
    DiffView* m_sheetText = nullptr;
    DiffView* m_otherText = nullptr;
    QPushButton* m_keep = nullptr;
    QPushButton* m_take = nullptr;
    QPushButton* m_both = nullptr;
    QList<worddiff::Piece> m_pieces; // shown
    quint64 m_generation = 0;
    bool m_reading = false;
};

} // namespace orvik::ui
