#pragma once

#include <QColor>

#include <optional>

class QWidget;

namespace orvik::ui {

// Colours the window itself: with a palette that brings its own chrome the
// window takes the palette's toolbar colour, otherwise the desktop's.
class WindowStyler {
public:
    // Runs after the current event: a window that is being rebuilt is then in
    // place, and the last of several quick changes wins.
    static void schedule(QWidget* widget, std::optional<QColor> background);
    // Sets the background from scratch, so that leaving a sepia look restores
    // the desktop's colour.
    static void apply(QWidget* widget, std::optional<QColor> background);
};

} // namespace orvik::ui
