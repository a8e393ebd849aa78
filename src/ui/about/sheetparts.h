#pragma once

#include <QColor>
#include <QFont>
#include <QIcon>

class QDialog;
class QFrame;
class QLabel;
class QWidget;

// Pieces both dialogs are built from, so that their captions, dividers and
// muted texts look alike.
namespace orvik::ui::sheetparts {

// Desktop type sizes relative to the body font, as the dialogs' layout was
// drawn for a 13-point body text.
QFont caption(const QFont& body);
QFont callout(const QFont& body);
QFont serif(qreal pointSize, QFont::Weight weight = QFont::Normal);

// The muted text colour of the current palette.
QColor secondary(const QWidget* widget);
void makeSecondary(QLabel* label);

QFrame* divider(QWidget* parent);

// A theme icon drawn in one colour at a square size.
QLabel* tintedIcon(const QIcon& icon, int size, const QColor& colour, QWidget* parent);

// A fixed width; the height follows the content, also after it changes.
void fitHeight(QDialog* dialog, int width);

} // namespace orvik::ui::sheetparts
