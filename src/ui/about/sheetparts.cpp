#include "sheetparts.h"

#include <QDialog>
#include <QFrame>
#include <QLabel>
#include <QLayout>
#include <QPainter>
#include <QPixmap>

using namespace Qt::StringLiterals;

namespace orvik::ui::sheetparts {

namespace {

QFont scaled(const QFont& body, qreal points) {
    QFont font = body;
    const qreal base = body.pointSizeF() > 0 ? body.pointSizeF() : 10.0;
    font.setPointSizeF(base * points / 13.0);
    return font;
}

} // namespace

QFont caption(const QFont& body) {
    return scaled(body, 10.0);
}

QFont callout(const QFont& body) {
    return scaled(body, 12.0);
}

QFont serif(qreal pointSize, QFont::Weight weight) {
    QFont font(u"serif"_s);
    font.setStyleHint(QFont::Serif);
    font.setPointSizeF(pointSize);
    font.setWeight(weight);
    return font;
}

QColor secondary(const QWidget* widget) {
    QColor colour = widget->palette().color(QPalette::WindowText);
    colour.setAlphaF(0.55f);
    return colour;
}

void makeSecondary(QLabel* label) {
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, secondary(label));
    label->setPalette(palette);
}

QFrame* divider(QWidget* parent) {
    auto* line = new QFrame(parent);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    return line;
}

QLabel* tintedIcon(const QIcon& icon, int size, const QColor& colour, QWidget* parent) {
    auto* label = new QLabel(parent);
    QPixmap pixmap = icon.pixmap(QSize(size, size));
    if (!pixmap.isNull()) {
        // Theme icons come in their own colours; the dialogs want one muted or
        // accent colour, so only the icon's shape is kept.
        QPainter painter(&pixmap);
        painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
        painter.fillRect(pixmap.rect(), colour);
    }
    label->setPixmap(pixmap);
    label->setFixedSize(size, size);
    return label;
}

void fitHeight(QDialog* dialog, int width) {
    QLayout* layout = dialog->layout();
    layout->activate();
    const int height = layout->hasHeightForWidth() ? layout->totalHeightForWidth(width)
                                                   : layout->totalSizeHint().height();
    dialog->setFixedSize(width, height);
}

} // namespace orvik::ui::sheetparts
