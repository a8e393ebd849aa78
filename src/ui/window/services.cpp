#include "services.h"

#include "ui/reveal.h"

#include <QFileDialog>
#include <QHash>
#include <QMessageBox>
#include <QPushButton>
#include <QStandardPaths>

using namespace Qt::StringLiterals;

namespace orvik::ui {

namespace {

QString askForExportFile(QWidget* parent, const QString& dialogTitle, const QString& proposedName,
                         Exporter::Format format) {
    QFileDialog dialog(parent, dialogTitle);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    const QString extension = Exporter::fileExtension(format);
    dialog.setNameFilter(Exporter::title(format) + u" (*."_s + extension + u')');
    dialog.setDefaultSuffix(extension);
    dialog.setDirectory(QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation));
    dialog.selectFile(proposedName);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().constFirst();
}

QStringList askForImportFiles(QWidget* parent) {
    QFileDialog dialog(parent, u"Importieren"_s);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFiles);
    dialog.setNameFilter(u"Markdown und Text (*.md *.markdown *.txt)"_s);
    dialog.setDirectory(QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation));
    if (dialog.exec() != QDialog::Accepted)
        return {};
    return dialog.selectedFiles();
}

bool askToConfirm(QWidget* parent, const QString& question, const QString& confirmText) {
    QMessageBox box(parent);
    box.setIcon(QMessageBox::Warning);
    box.setWindowTitle(u"Orvik"_s);
    box.setText(question);
    // What goes into the trash comes back from there; a restored version's
    // replaced text with one undo, and from the snapshot made before.
    if (confirmText != u"In den Papierkorb" && confirmText != u"Diese Fassung wiederherstellen")
        box.setInformativeText(u"Das kann nicht rückgängig gemacht werden."_s);
    QPushButton* yes = box.addButton(confirmText, QMessageBox::DestructiveRole);
    QPushButton* no = box.addButton(u"Abbrechen"_s, QMessageBox::RejectRole);
    box.setDefaultButton(no);
    box.setEscapeButton(no);
    box.exec();
    return box.clickedButton() == yes;
}

QuitChoice askBeforeQuitting(QWidget* parent, const QString& question, const QString& reason) {
    QMessageBox box(parent);
    box.setIcon(QMessageBox::Warning);
    box.setWindowTitle(u"Orvik"_s);
    box.setAccessibleName(u"Nicht gesicherter Text"_s);
    box.setText(question);
    box.setInformativeText(reason);
    QPushButton* rescue = box.addButton(u"Text retten und beenden"_s, QMessageBox::AcceptRole);
    QPushButton* quit = box.addButton(u"Trotzdem beenden"_s, QMessageBox::DestructiveRole);
    QPushButton* stay = box.addButton(u"Abbrechen"_s, QMessageBox::RejectRole);
    // Enter and Escape both keep the window and the text.
    box.setDefaultButton(stay);
    box.setEscapeButton(stay);
    box.exec();
    if (box.clickedButton() == rescue)
        return QuitChoice::Rescue;
    if (box.clickedButton() == quit)
        return QuitChoice::QuitAnyway;
    return QuitChoice::Stay;
}

} // namespace

WindowServices& services() {
    static WindowServices instance{revealInFileManager, askForExportFile, askForImportFiles,
                                   askToConfirm, askBeforeQuitting};
    return instance;
}

void setUpIconTheme() {
    QStringList paths = QIcon::themeSearchPaths();
    for (const QString& data :
         QStandardPaths::standardLocations(QStandardPaths::GenericDataLocation))
        if (const QString icons = data + u"/icons"_s; !paths.contains(icons))
            paths.append(icons);
    QIcon::setThemeSearchPaths(paths);
    QIcon::setFallbackThemeName(u"breeze"_s);
    if (QIcon::themeName().isEmpty() || QIcon::themeName() == u"hicolor")
        QIcon::setThemeName(u"breeze"_s);
}

QString iconNameForSymbol(const QString& symbol) {
    static const QHash<QString, QString> names{
        {u"square.and.arrow.up"_s, u"document-export"_s},
        {u"circle.lefthalf.filled"_s, u"contrast"_s},
        {u"sun.max"_s, u"weather-clear"_s},
        {u"moon"_s, u"weather-clear-night"_s},
        {u"sun.haze"_s, u"weather-few-clouds"_s},
        {u"moon.haze"_s, u"weather-few-clouds-night"_s},
        {u"textformat"_s, u"preferences-desktop-font"_s},
        {u"doc.badge.plus"_s, u"document-new-from-template"_s},
        {u"book.closed"_s, u"view-pim-journal"_s},
        {u"book"_s, u"journal-new"_s},
        {u"sunrise"_s, u"brightness-high"_s},
        {u"calendar"_s, u"view-calendar-week"_s},
        {u"lightbulb"_s, u"help-hint"_s},
        {u"bolt"_s, u"flash"_s},
        {u"doc"_s, u"text-x-generic"_s},
        {u"doc.text"_s, u"text-x-generic"_s},
        {u"square.and.pencil"_s, u"document-new"_s},
        {u"square.stack.3d.up"_s, u"dialog-layers"_s},
        {u"folder"_s, u"folder"_s},
        {u"trash"_s, u"user-trash"_s},
        {u"plus"_s, u"list-add"_s},
        {u"magnifyingglass"_s, u"edit-find"_s},
    };
    return names.value(symbol, u"text-x-generic"_s);
}

QIcon symbolIcon(const QString& symbol) {
    return QIcon::fromTheme(iconNameForSymbol(symbol));
}

} // namespace orvik::ui
