#pragma once

namespace orvik::ui {

class MainWindow;

// Opens the about sheet when the window asks for it and the update sheet for
// an update the automatic check found, each window-modal over the window, and
// reports their closing back to it.
void presentSheets(MainWindow& window);

} // namespace orvik::ui
