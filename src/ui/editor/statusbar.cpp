#include "statusbar.h"

#include <QAccessible>
#include <QEvent>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QPainter>

using namespace Qt::StringLiterals;

namespace orvik::ui {

StatusBar::StatusBar(QWidget* parent)
    : QWidget(parent), m_wordsLabel(new QLabel(this)),
      m_dotLabel(new QLabel(QString(QChar(0x00B7)), this)), m_timeLabel(new QLabel(this)),
      m_savedLabel(new QLabel(this)), m_noteLabel(new QLabel(this)) {
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(20, 8, 20, 8);
    row->setSpacing(8);
    row->addWidget(m_wordsLabel, 0, Qt::AlignVCenter);
    row->addWidget(m_dotLabel, 0, Qt::AlignVCenter);
    row->addWidget(m_timeLabel, 0, Qt::AlignVCenter);
    row->addSpacing(8);
    row->addWidget(m_noteLabel, 0, Qt::AlignVCenter);
    row->addStretch(1);
    row->addWidget(m_savedLabel, 0, Qt::AlignVCenter);

    const QFont caption = QFontDatabase::systemFont(QFontDatabase::SmallestReadableFont);
    for (QLabel* label : {m_wordsLabel, m_dotLabel, m_timeLabel, m_savedLabel, m_noteLabel})
        label->setFont(caption);
    // A separator says nothing to a screen reader.
    m_dotLabel->setAccessibleName(QString());
    m_dotLabel->setAccessibleDescription(QString());
    setAccessibleName(QStringLiteral("Statusleiste"));
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    refresh();
}

void StatusBar::setWordCount(int words) {
    if (words == m_words)
        return;
    m_words = words;
    refresh();
}

void StatusBar::setModified(const QDateTime& modified) {
    if (modified == m_modified)
        return;
    m_modified = modified;
    refresh();
}

void StatusBar::setSaveFailed(bool failed) {
    if (failed == m_failed)
        return;
    m_failed = failed;
    refresh();
    // Said once when it happens; a screen reader does not watch the row.
    if (failed) {
        QAccessibleEvent alert(m_savedLabel, QAccessible::Alert);
        QAccessible::updateAccessibility(&alert);
    }
}

void StatusBar::setShownPlain(bool plain) {
    if (plain == m_plain)
        return;
    m_plain = plain;
    refresh();
}

void StatusBar::setEditorPalette(const Palette& palette) {
    m_palette = palette;
    refresh();
    update();
}

QString StatusBar::wordsText(int words) {
    return QString::number(words) + QStringLiteral(" Wörter");
}

int StatusBar::readingMinutes(int words) {
    return std::max(1, words / 200);
}

QString StatusBar::readingTimeText(int words) {
    return QString::number(readingMinutes(words)) + QStringLiteral(" Min. Lesezeit");
}

QString StatusBar::savedText(const QDateTime& modified, bool failed, const QDate& today) {
    if (failed)
        return QStringLiteral("Nicht gesichert");
    if (!modified.isValid())
        return QString();
    // The user's language is German, whatever the process locale says.
    const QLocale german(QLocale::German, QLocale::Germany);
    const QDateTime local = modified.toLocalTime();
    const QString time = german.toString(local.time(), QLocale::ShortFormat);
    const QDate date = local.date();
    if (date == today)
        return QStringLiteral("Gesichert ") + time;
    const QString day =
        german.toString(date, date.year() == today.year() ? u"d. MMM"_s : u"d. MMM yyyy"_s);
    return QStringLiteral("Gesichert ") + day + QStringLiteral(", ") + time;
}

QString StatusBar::wordsShown() const {
    return m_wordsLabel->text();
}
QString StatusBar::readingTimeShown() const {
    return m_timeLabel->text();
}
QString StatusBar::savedShown() const {
    return m_savedLabel->text();
}
QString StatusBar::noteShown() const {
    return m_noteLabel->text();
}

void StatusBar::refresh() {
    m_wordsLabel->setText(wordsText(m_words));
    m_timeLabel->setText(readingTimeText(m_words));
    m_savedLabel->setText(savedText(m_modified, m_failed));
    m_savedLabel->setAccessibleName(m_savedLabel->text());
    m_noteLabel->setText(
        m_plain
            ? QStringLiteral("Sehr lange Zeilen werden ohne Auszeichnung und nur zum Lesen gezeigt")
            : QString());
    m_noteLabel->setAccessibleName(m_noteLabel->text());
    m_noteLabel->setVisible(m_plain);
    const QColor colour = m_palette.color(Palette::Role::Quote, palette());
    for (QLabel* label : {m_wordsLabel, m_dotLabel, m_timeLabel, m_savedLabel, m_noteLabel}) {
        QPalette p = label->palette();
        p.setColor(QPalette::WindowText, colour);
        label->setPalette(p);
    }
    setAccessibleDescription(
        wordsText(m_words) + u", "_s + readingTimeText(m_words) +
        (m_savedLabel->text().isEmpty() ? QString() : u", "_s + m_savedLabel->text()) +
        (m_plain ? u", "_s + m_noteLabel->text() : QString()));
}

void StatusBar::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange)
        refresh();
}

void StatusBar::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), m_palette.color(Palette::Role::Paper, palette()));
    QColor hairline = m_palette.color(Palette::Role::Syntax, palette());
    hairline.setAlphaF(hairline.alphaF() * 0.3f);
    painter.fillRect(QRectF(0, 0, width(), 0.5), hairline);
}

} // namespace orvik::ui
