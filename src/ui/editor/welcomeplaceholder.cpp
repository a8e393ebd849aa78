#include "welcomeplaceholder.h"

#include "store/librarystore.h"

#include <QEvent>
#include <QIcon>
#include <QLabel>
#include <QPainter>
#include <QToolButton>
#include <QVBoxLayout>

namespace orvik::ui {

namespace {

constexpr int symbolSize = 44;

// Theme icons come in their own colours; the symbol wears the palette's.
QPixmap tinted(const QIcon& icon, int size, const QColor& colour, qreal dpr) {
    QPixmap pixmap = icon.pixmap(QSize(size, size), dpr);
    if (pixmap.isNull())
        return pixmap;
    QPainter painter(&pixmap);
    painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
    painter.fillRect(pixmap.rect(), colour);
    return pixmap;
}

QIcon themed(const QString& name, const QString& fallback) {
    return QIcon::fromTheme(name, QIcon::fromTheme(fallback));
}

} // namespace

WelcomePlaceholder::WelcomePlaceholder(LibraryStore& store, QWidget* parent)
    : QWidget(parent), m_symbol(new QLabel(this)),
      m_title(new QLabel(QStringLiteral("Orvik"), this)),
      m_subtitle(new QLabel(QStringLiteral("Wähle ein Blatt aus – oder beginne ein neues."), this)),
      m_button(new QToolButton(this)) {
    auto* stack = new QVBoxLayout(this);
    stack->setSpacing(16);
    stack->addStretch(1);
    stack->addWidget(m_symbol, 0, Qt::AlignHCenter);
    stack->addWidget(m_title, 0, Qt::AlignHCenter);
    stack->addWidget(m_subtitle, 0, Qt::AlignHCenter);
    stack->addSpacing(4);
    stack->addWidget(m_button, 0, Qt::AlignHCenter);
    stack->addStretch(1);

    m_symbol->setFixedSize(symbolSize, symbolSize);
    m_symbol->setAccessibleName(QStringLiteral("Stift"));
    QFont title(QStringLiteral("serif"));
    title.setStyleHint(QFont::Serif);
    title.setPixelSize(26);
    m_title->setFont(title);
    m_subtitle->setWordWrap(false);

    m_button->setText(QStringLiteral("Neues Blatt"));
    m_button->setAccessibleName(QStringLiteral("Neues Blatt"));
    m_button->setIcon(themed(QStringLiteral("document-new"), QStringLiteral("document-edit")));
    m_button->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    m_button->setAutoRaise(true);
    m_button->setFocusPolicy(Qt::StrongFocus);
    connect(m_button, &QToolButton::clicked, this, [this, &store] {
        if (store.quickNewSheet())
            Q_EMIT sheetStarted();
    });

    setAccessibleName(QStringLiteral("Willkommen"));
    setFocusProxy(m_button);
    refresh();
}

void WelcomePlaceholder::setEditorPalette(const Palette& palette) {
    m_palette = palette;
    refresh();
    update();
}

void WelcomePlaceholder::refresh() {
    const QPalette qt = palette();
    const QColor syntax = m_palette.color(Palette::Role::Syntax, qt);
    const QColor quote = m_palette.color(Palette::Role::Quote, qt);
    m_symbol->setPixmap(tinted(themed(QStringLiteral("document-edit"), QStringLiteral("edit")),
                               symbolSize, syntax, devicePixelRatioF()));
    const auto colour = [](QWidget* w, QPalette::ColorRole role, const QColor& c) {
        QPalette p = w->palette();
        p.setColor(role, c);
        w->setPalette(p);
    };
    colour(m_title, QPalette::WindowText, quote);
    colour(m_subtitle, QPalette::WindowText, syntax);
    colour(m_button, QPalette::ButtonText, m_palette.color(Palette::Role::Text, qt));
}

void WelcomePlaceholder::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange)
        refresh();
}

void WelcomePlaceholder::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), m_palette.color(Palette::Role::Paper, palette()));
}

} // namespace orvik::ui
