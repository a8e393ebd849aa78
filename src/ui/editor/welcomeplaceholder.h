#pragma once

#include "appearance/palette.h"

#include <QWidget>

class QLabel;
class QToolButton;

namespace orvik {
class LibraryStore;
}

namespace orvik::ui {

// What the editor column shows while no sheet is selected: a greeting and a
// way to start writing at once.
class WelcomePlaceholder : public QWidget {
    Q_OBJECT
public:
    explicit WelcomePlaceholder(LibraryStore& store, QWidget* parent = nullptr);

    void setEditorPalette(const Palette& palette);
    QToolButton* newSheetButton() const { return m_button; }

Q_SIGNALS:
    // The button made a new sheet and selected it.
    void sheetStarted();

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void refresh();

    Palette m_palette = Palette::system();
    QLabel* m_symbol;
    QLabel* m_title;
    QLabel* m_subtitle;
    QToolButton* m_button;
};

} // namespace orvik::ui
