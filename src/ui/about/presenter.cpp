#include "presenter.h"

#include "aboutsheet.h"
#include "ui/window/mainwindow.h"
#include "updatesheet.h"

#include <QPointer>

namespace orvik::ui {

void presentSheets(MainWindow& window) {
    QPointer<MainWindow> owner(&window);
    QObject::connect(&window, &MainWindow::aboutRequested, &window, [owner] {
        auto* sheet = new AboutSheet(
            [owner] {
                if (owner)
                    owner->aboutClosed();
            },
            owner);
        sheet->setAttribute(Qt::WA_DeleteOnClose);
        sheet->open();
    });
    QObject::connect(&window, &MainWindow::updateAvailable, &window,
                     [owner](const AvailableUpdate& update) {
                         auto* sheet = new UpdateSheet(
                             update,
                             [owner] {
                                 if (owner)
                                     owner->updateClosed();
                             },
                             owner);
                         sheet->setAttribute(Qt::WA_DeleteOnClose);
                         sheet->open();
                     });
}

} // namespace orvik::ui
