#include "windowstyler.h"

#include <QApplication>
#include <QPointer>
#include <QTimer>
#include <QWidget>

namespace orvik::ui {

void WindowStyler::schedule(QWidget* widget, std::optional<QColor> background) {
    QTimer::singleShot(0, widget, [target = QPointer<QWidget>(widget), background] {
        if (target)
            apply(target, background);
    });
}

void WindowStyler::apply(QWidget* widget, std::optional<QColor> background) {
    QWidget* window = widget ? widget->window() : nullptr;
    if (!window)
        return;
    QPalette palette = window->palette();
    palette.setColor(QPalette::Window,
                     background.value_or(QApplication::palette().color(QPalette::Window)));
    window->setPalette(palette);
    window->setAutoFillBackground(true);
}

} // namespace orvik::ui
