#include "exportmenu.h"

#include "appearance/editorstyle.h"
#include "platform/files.h"
#include "services.h"
#include "store/librarystore.h"

#include <QAction>
#include <QFileInfo>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>

#include <algorithm>
#include <exception>

using namespace Qt::StringLiterals;

namespace orvik::ui {

namespace ExportAction {

void exportSheet(LibraryStore& store, Exporter::Format format, const QString& fontFamily,
                 QWidget* parent) {
    store.flushPendingSave();
    const auto sheet = store.selectedSheet();
    if (!sheet)
        return;
    QString markdown = store.currentText();
    if (markdown.isEmpty())
        markdown = files::readText(sheet->path()).value_or(QString());
    run(markdown, sheet->title, format, fontFamily, parent);
}

void exportFolder(LibraryStore& store, Exporter::Format format, const QString& fontFamily,
                  QWidget* parent) {
    store.flushPendingSave();
    const auto folder = store.selectedFolder();
    if (!folder || store.sheets().isEmpty())
        return;
    QList<Sheet> sheets = store.sheets();
    std::stable_sort(sheets.begin(), sheets.end(),
                     [](const Sheet& a, const Sheet& b) { return a.modified < b.modified; });
    run(Exporter::combine(sheets), folder->name, format, fontFamily, parent);
}

void run(const QString& markdown, const QString& title, Exporter::Format format,
         const QString& fontFamily, QWidget* parent) {
    const QString path = services().chooseExportFile(
        parent, u"Exportieren als "_s + Exporter::title(format),
        safeFileName(title) + u'.' + Exporter::fileExtension(format), format);
    if (path.isEmpty())
        return;
    try {
        Exporter::write(markdown, title, format, fontFamily, path);
    } catch (const Exporter::ExportError& error) {
        showError(error.description(), parent);
        return;
    } catch (const std::exception& error) {
        showError(QString::fromLocal8Bit(error.what()), parent);
        return;
    }
    services().reveal(QFileInfo(path).absoluteFilePath());
}

void showError(const QString& description, QWidget* parent) {
    QMessageBox box(parent);
    box.setIcon(QMessageBox::Warning);
    box.setText(u"Export fehlgeschlagen"_s);
    box.setInformativeText(description);
    box.setStandardButtons(QMessageBox::Ok);
    box.button(QMessageBox::Ok)->setText(u"OK"_s);
    box.exec();
}

QString safeFileName(const QString& title) {
    return Exporter::safeFileName(title);
}

} // namespace ExportAction

ExportMenuContent::ExportMenuContent(LibraryStore& store, QMenu* menu, QWidget* dialogParent)
    : QObject(menu), m_store(store), m_dialogParent(dialogParent) {
    // The family as stored, not as resolved: the HTML page names it and lets
    // the reader's fonts fall back.
    const auto fontFamily = [] { return AppearancePreferences::current().fontFamily; };
    menu->addSection(u"Dieses Blatt"_s);
    for (const Exporter::Format format : Exporter::allFormats()) {
        QAction* action = menu->addAction(Exporter::title(format));
        connect(action, &QAction::triggered, this, [this, format, fontFamily] {
            ExportAction::exportSheet(m_store, format, fontFamily(), m_dialogParent);
        });
        m_sheetActions.append(action);
    }
    menu->addSection(u"Ganze Gruppe"_s);
    for (const Exporter::Format format : Exporter::allFormats()) {
        QAction* action = menu->addAction(Exporter::title(format) + u" \u2026"_s);
        connect(action, &QAction::triggered, this, [this, format, fontFamily] {
            ExportAction::exportFolder(m_store, format, fontFamily(), m_dialogParent);
        });
        m_folderActions.append(action);
    }
    connect(menu, &QMenu::aboutToShow, this, &ExportMenuContent::refresh);
    connect(&store, &LibraryStore::selectedSheetIDChanged, this, &ExportMenuContent::refresh);
    connect(&store, &LibraryStore::selectedFolderIDChanged, this, &ExportMenuContent::refresh);
    connect(&store, &LibraryStore::sheetsChanged, this, &ExportMenuContent::refresh);
    connect(&store, &LibraryStore::searchHitsChanged, this, &ExportMenuContent::refresh);
    refresh();
}

void ExportMenuContent::refresh() {
    const bool hasSheet = m_store.selectedSheet().has_value();
    const bool hasGroup = !m_store.sheets().isEmpty() && !m_store.isViewingTrash();
    for (QAction* action : std::as_const(m_sheetActions))
        action->setEnabled(hasSheet);
    for (QAction* action : std::as_const(m_folderActions))
        action->setEnabled(hasGroup);
}

} // namespace orvik::ui
