#pragma once

#include <QString>

namespace orvik::ui {

// Shows a file or folder selected in the desktop's file manager (freedesktop
// FileManager1 over D-Bus); without one, opens the folder that holds it.
void revealInFileManager(const QString& path);

} // namespace orvik::ui
