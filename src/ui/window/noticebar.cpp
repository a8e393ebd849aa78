#include "noticebar.h"

#include <QAccessible>
#include <QApplication>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QToolButton>

#include <utility>

using namespace Qt::StringLiterals;

namespace orvik::ui {

NoticeBar::NoticeBar(QWidget* parent)
    : QFrame(parent), m_label(new QLabel(this)), m_actionButton(new QPushButton(this)),
      m_close(new QToolButton(this)) {
    setObjectName(u"notice"_s);
    setAccessibleName(u"Hinweis"_s);
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(20, 8, 12, 8);
    row->setSpacing(8);
    m_label->setWordWrap(true);
    m_label->setTextFormat(Qt::PlainText);
    m_label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    row->addWidget(m_label, 1, Qt::AlignVCenter);
    m_actionButton->hide();
    m_actionButton->setAccessibleName(u"Vorschlag des Hinweises annehmen"_s);
    // Enter takes the offer, as in a dialog.
    m_actionButton->setAutoDefault(true);
    row->addWidget(m_actionButton, 0, Qt::AlignVCenter);
    connect(m_actionButton, &QPushButton::clicked, this, [this] {
        const auto action = std::exchange(m_action, nullptr);
        dismiss();
        if (action)
            action();
    });
    m_close->setText(u"\u00D7"_s);
    m_close->setAccessibleName(u"Hinweis schließen"_s);
    m_close->setToolTip(u"Hinweis schließen"_s);
    m_close->setAutoRaise(true);
    m_close->setFocusPolicy(Qt::StrongFocus);
    row->addWidget(m_close, 0, Qt::AlignTop);
    connect(m_close, &QToolButton::clicked, this, &NoticeBar::dismiss);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Maximum);
    hide();
}

void NoticeBar::showNotice(const QString& text) {
    showNotice(text, {}, nullptr);
}

void NoticeBar::showNotice(const QString& text, const QString& actionText,
                           std::function<void()> action) {
    m_action = std::move(action);
    m_actionButton->setText(actionText);
    if (!actionText.isEmpty())
        m_actionButton->setAccessibleName(actionText);
    m_actionButton->setVisible(!actionText.isEmpty() && m_action);
    m_label->setText(text);
    m_label->setAccessibleName(text);
    show();
    QAccessibleEvent alert(m_label, QAccessible::Alert);
    QAccessible::updateAccessibility(&alert);
}

void NoticeBar::dismiss() {
    const bool hadFocus = isAncestorOf(QApplication::focusWidget());
    hide();
    m_action = nullptr;
    m_label->clear();
    m_label->setAccessibleName(QString());
    if (hadFocus)
        Q_EMIT focusReleased();
}

QString NoticeBar::text() const {
    return isVisible() ? m_label->text() : QString();
}

void NoticeBar::setEditorPalette(const Palette& editorPalette) {
    m_palette = editorPalette;
    QPalette p = m_label->palette();
    p.setColor(QPalette::WindowText, m_palette.color(Palette::Role::Text, palette()));
    m_label->setPalette(p);
    update();
}

QString NoticeBar::textFor(const ExternalChange& change, bool shown) {
    const QString sheet =
        shown ? u"Dieses Blatt"_s
              : u"Das Blatt „"_s + QFileInfo(change.sheet.toLocalFile()).fileName() + u'“';
    switch (change.kind) {
    case ExternalChange::Kind::Reloaded:
        return sheet + u" wurde außerhalb von Orvik geändert und neu geladen."_s;
    case ExternalChange::Kind::KeptBoth:
        return sheet +
               u" wurde außerhalb von Orvik geändert. Deine Fassung steht im Blatt, die andere "
               u"liegt daneben als „"_s +
               change.keptAs + u"“."_s;
    case ExternalChange::Kind::Recreated:
        return sheet + u" wurde außerhalb von Orvik gelöscht und wieder gesichert."_s;
    }
    return {};
}

void NoticeBar::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        dismiss();
        return;
    }
    QFrame::keyPressEvent(event);
}

void NoticeBar::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), m_palette.color(Palette::Role::Paper, palette()));
    QColor tint = m_palette.color(Palette::Role::Link, palette());
    tint.setAlphaF(0.10f);
    painter.fillRect(rect(), tint);
    QColor hairline = m_palette.color(Palette::Role::Syntax, palette());
    hairline.setAlphaF(hairline.alphaF() * 0.3f);
    painter.fillRect(QRectF(0, height() - 0.5, width(), 0.5), hairline);
}

} // namespace orvik::ui
