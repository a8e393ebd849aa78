#pragma once

#include "markdown/exporter.h"

#include <QIcon>
#include <QString>

#include <functional>

class QWidget;

namespace orvik::ui {

// The answers to "text that could not be written would be lost on quitting".
enum class QuitChoice {
    Stay,       // "Abbrechen": the window stays
    Rescue,     // the text goes to the rescue folder, then the app ends
    QuitAnyway, // "Trotzdem beenden": the text is let go
};

// What the window asks of the desktop. Replaceable, so that tests can stand in
// for the file manager and the save dialog without a desktop behind them.
struct WindowServices {
    // Shows a file or folder selected in the file manager.
    std::function<void(const QString& path)> reveal;
    // Asks where to export; an empty text when the user cancels.
    std::function<QString(QWidget* parent, const QString& dialogTitle, const QString& proposedName,
                          Exporter::Format format)>
        chooseExportFile;
    // Asks which Markdown or text files to bring in; empty when the user cancels.
    std::function<QStringList(QWidget* parent)> chooseImportFiles;
    // Asks before something that cannot be undone ("„Titel“ endgültig löschen?") or that
    // empties a group into the trash; true when the user chose `confirmText`. "Abbrechen"
    // is the default button.
    std::function<bool(QWidget* parent, const QString& question, const QString& confirmText)>
        confirm;
    // Asks what becomes of text that could not be written, before quitting;
    // `question` says which text, `reason` why and what the choices do.
    std::function<QuitChoice(QWidget* parent, const QString& question, const QString& reason)>
        askBeforeQuitting;
};

WindowServices& services();

// Makes the freedesktop icon themes findable on every platform plugin (the
// offscreen and minimal ones search none), with Breeze behind the desktop's
// theme so that no button stays blank. Call once after the QApplication.
void setUpIconTheme();

// The freedesktop icon standing in for one of the symbol names the interface
// is described with ("book.closed", "trash", ...).
QIcon symbolIcon(const QString& symbol);
QString iconNameForSymbol(const QString& symbol);

} // namespace orvik::ui
