#include "services.h"

#include "ui/reveal.h"

#include <QFileDialog>
#include <QHash>
#include <QMessageBox>
#include <QPushButton>
#include <QStandardPaths>

namespace orvik::ui {

namespace {

QString askForExportFile(QWidget* parent, const QString& dialogTitle, const QString& proposedName,
                         Exporter::Format format) {
    QFileDialog dialog(parent, dialogTitle);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    const QString extension = Exporter::fileExtension(format);
    dialog.setNameFilter(Exporter::title(format) + u" (*."_qs + extension + u')');
    dialog.setDefaultSuffix(extension);
    dialog.setDirectory(QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation));
    dialog.selectFile(proposedName);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().constFirst();
}

bool askToConfirm(QWidget* parent, const QString& question, const QString& confirmText) {
    QMessageBox box(parent);
    box.setIcon(QMessageBox::Warning);
    box.setWindowTitle(u"Orvik"_qs);
    box.setText(question);
    box.setInformativeText(u"Das kann nicht rückgängig gemacht werden."_qs);
    QPushButton* yes = box.addButton(confirmText, QMessageBox::DestructiveRole);
    QPushButton* no = box.addButton(u"Abbrechen"_qs, QMessageBox::RejectRole);
    box.setDefaultButton(no);
    box.setEscapeButton(no);
    box.exec();
    return box.clickedButton() == yes;
}

QuitChoice askBeforeQuitting(QWidget* parent, const QString& question, const QString& reason) {
    QMessageBox box(parent);
    box.setIcon(QMessageBox::Warning);
    box.setWindowTitle(u"Orvik"_qs);
    box.setAccessibleName(u"Nicht gesicherter Text"_qs);
    box.setText(question);
    box.setInformativeText(reason);
    QPushButton* rescue = box.addButton(u"Text retten und beenden"_qs, QMessageBox::AcceptRole);
    QPushButton* quit = box.addButton(u"Trotzdem beenden"_qs, QMessageBox::DestructiveRole);
    QPushButton* stay = box.addButton(u"Abbrechen"_qs, QMessageBox::RejectRole);
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
    static WindowServices instance{revealInFileManager, askForExportFile, askToConfirm,
                                   askBeforeQuitting};
    return instance;
}

void setUpIconTheme() {
    QStringList paths = QIcon::themeSearchPaths();
    for (const QString& data :
         QStandardPaths::standardLocations(QStandardPaths::GenericDataLocation))
        if (const QString icons = data + u"/icons"_qs; !paths.contains(icons))
            paths.append(icons);
    QIcon::setThemeSearchPaths(paths);
    QIcon::setFallbackThemeName(u"breeze"_qs);
    if (QIcon::themeName().isEmpty() || QIcon::themeName() == u"hicolor")
        QIcon::setThemeName(u"breeze"_qs);
}

QString iconNameForSymbol(const QString& symbol) {
    static const QHash<QString, QString> names{
        {u"square.and.arrow.up"_qs, u"document-export"_qs},
        {u"circle.lefthalf.filled"_qs, u"contrast"_qs},
        {u"sun.max"_qs, u"weather-clear"_qs},
        {u"moon"_qs, u"weather-clear-night"_qs},
        {u"sun.haze"_qs, u"weather-few-clouds"_qs},
        {u"moon.haze"_qs, u"weather-few-clouds-night"_qs},
        {u"textformat"_qs, u"preferences-desktop-font"_qs},
        {u"doc.badge.plus"_qs, u"document-new-from-template"_qs},
        {u"book.closed"_qs, u"view-pim-journal"_qs},
        {u"book"_qs, u"journal-new"_qs},
        {u"sunrise"_qs, u"brightness-high"_qs},
        {u"calendar"_qs, u"view-calendar-week"_qs},
        {u"lightbulb"_qs, u"help-hint"_qs},
        {u"bolt"_qs, u"flash"_qs},
        {u"doc"_qs, u"text-x-generic"_qs},
        {u"doc.text"_qs, u"text-x-generic"_qs},
        {u"square.and.pencil"_qs, u"document-new"_qs},
        {u"square.stack.3d.up"_qs, u"dialog-layers"_qs},
        {u"folder"_qs, u"folder"_qs},
        {u"trash"_qs, u"user-trash"_qs},
        {u"plus"_qs, u"list-add"_qs},
        {u"magnifyingglass"_qs, u"edit-find"_qs},
    };
    return names.value(symbol, u"text-x-generic"_qs);
}

QIcon symbolIcon(const QString& symbol) {
    return QIcon::fromTheme(iconNameForSymbol(symbol));
}

} // namespace orvik::ui
