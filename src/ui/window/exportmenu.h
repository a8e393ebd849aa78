#pragma once

#include "markdown/exporter.h"

#include <QList>
#include <QObject>
#include <QPointer>

class QAction;
class QMenu;
class QWidget;

namespace orvik {
class LibraryStore;
}

namespace orvik::ui {

// Writing the selected sheet or group to a file the user picks. Everything
// runs modally on the UI thread.
namespace ExportAction {

void exportSheet(LibraryStore& store, Exporter::Format format, const QString& fontFamily,
                 QWidget* parent);
// All sheets of the selected group, oldest first, joined into one document.
void exportFolder(LibraryStore& store, Exporter::Format format, const QString& fontFamily,
                  QWidget* parent);
// Asks for the target, writes it and shows it in the file manager; a failure
// is shown in an alert, a cancelled dialog silently ends it.
void run(const QString& markdown, const QString& title, Exporter::Format format,
         const QString& fontFamily, QWidget* parent);
void showError(const QString& description, QWidget* parent);
QString safeFileName(const QString& title);

} // namespace ExportAction

// The export entries of a menu: every format for the sheet and, with " …",
// for the whole group. Keeps their enabled state in step with the store.
class ExportMenuContent : public QObject {
    Q_OBJECT
public:
    ExportMenuContent(LibraryStore& store, QMenu* menu, QWidget* dialogParent);

    QList<QAction*> sheetActions() const { return m_sheetActions; }
    QList<QAction*> folderActions() const { return m_folderActions; }

    void refresh();

private:
    LibraryStore& m_store;
    QPointer<QWidget> m_dialogParent;
    QList<QAction*> m_sheetActions;
    QList<QAction*> m_folderActions;
};

} // namespace orvik::ui
