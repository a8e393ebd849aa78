#include "updatesheet.h"

#include "sheetparts.h"
#include "updates/updatechecker.h"

#include <QDesktopServices>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace orvik::ui {

namespace {

constexpr int sheetWidth = 460;
constexpr int notesMaxHeight = 210;
// A feed can list any number of notes; a label each would take seconds and
// hundreds of megabytes for a hostile one.
constexpr qsizetype maxShownNotes = 50;

QLabel* noteLabel(const QString& text, const QFont& font, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setFont(font);
    label->setTextFormat(Qt::PlainText);
    return label;
}

} // namespace

std::function<void(const QUrl&)>& downloadOpener() {
    static std::function<void(const QUrl&)> opener = [](const QUrl& url) {
        QDesktopServices::openUrl(url);
    };
    return opener;
}

bool isSafeDownloadAddress(const QUrl& url) {
    return url.isValid() && url.scheme().toLower() == u"https" && !url.host().isEmpty();
}

UpdateSheet::UpdateSheet(AvailableUpdate update, std::function<void()> onClose, QWidget* parent)
    : QDialog(parent), m_update(std::move(update)), m_onClose(std::move(onClose)) {
    setWindowModality(Qt::WindowModal);
    setWindowTitle(title());
    setAccessibleName(title());
    setAccessibleDescription(untertitel());

    auto* stack = new QVBoxLayout(this);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(0);

    auto* header = new QHBoxLayout;
    header->setContentsMargins(22, 22, 22, 16);
    header->setSpacing(14);
    header->setAlignment(Qt::AlignTop);
    QLabel* icon = sheetparts::tintedIcon(QIcon::fromTheme(u"download"_s), 30,
                                          palette().color(QPalette::Highlight), this);
    icon->setAccessibleName(u"Update"_s);
    header->addWidget(icon, 0, Qt::AlignTop);
    auto* lines = new QVBoxLayout;
    lines->setSpacing(4);
    auto* heading = new QLabel(title(), this);
    heading->setObjectName(u"title"_s);
    heading->setTextFormat(Qt::PlainText);
    heading->setFont(sheetparts::serif(font().pointSizeF() * 15.0 / 13.0, QFont::DemiBold));
    heading->setAccessibleName(title());
    lines->addWidget(heading);
    auto* subtitle = new QLabel(untertitel(), this);
    subtitle->setObjectName(u"untertitel"_s);
    subtitle->setTextFormat(Qt::PlainText);
    subtitle->setFont(sheetparts::caption(font()));
    subtitle->setAccessibleName(untertitel());
    sheetparts::makeSecondary(subtitle);
    lines->addWidget(subtitle);
    header->addLayout(lines);
    header->addStretch(1);
    stack->addLayout(header);

    if (!m_update.notes.isEmpty()) {
        stack->addWidget(sheetparts::divider(this));
        auto* content = new QWidget;
        auto* rows = new QVBoxLayout(content);
        rows->setContentsMargins(22, 16, 22, 16);
        rows->setSpacing(8);
        const QFont rowFont = sheetparts::callout(font());
        const QStringList shown = m_update.notes.mid(0, maxShownNotes);
        for (const QString& note : shown) {
            auto* row = new QHBoxLayout;
            row->setSpacing(8);
            QLabel* bullet = noteLabel(u"\u00b7"_s, rowFont, content);
            sheetparts::makeSecondary(bullet);
            QLabel* text = noteLabel(note, rowFont, content);
            text->setObjectName(u"note"_s);
            text->setWordWrap(true);
            text->setAccessibleName(note);
            row->addWidget(bullet, 0, Qt::AlignTop);
            row->addWidget(text, 1, Qt::AlignTop);
            rows->addLayout(row);
        }
        if (m_update.notes.size() > maxShownNotes) {
            QLabel* more = noteLabel(u"\u2026"_s, rowFont, content);
            more->setObjectName(u"moreNotes"_s);
            more->setAccessibleDescription(
                QStringLiteral("%1 weitere Neuerungen").arg(m_update.notes.size() - maxShownNotes));
            sheetparts::makeSecondary(more);
            // Under the notes' text, not under their bullets.
            auto* row = new QHBoxLayout;
            row->setSpacing(8);
            row->addSpacing(QFontMetrics(rowFont).horizontalAdvance(u"\u00b7"_s));
            row->addWidget(more, 1);
            rows->addLayout(row);
        }
        m_notes = new QScrollArea(this);
        m_notes->setObjectName(u"notes"_s);
        m_notes->setAccessibleName(u"Neuerungen"_s);
        m_notes->setFrameShape(QFrame::NoFrame);
        m_notes->setWidgetResizable(true);
        m_notes->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        m_notes->setWidget(content);
        rows->activate();
        const int needed = rows->hasHeightForWidth() ? rows->totalHeightForWidth(sheetWidth)
                                                     : rows->totalSizeHint().height();
        m_notes->setFixedHeight(std::min(needed, notesMaxHeight));
        stack->addWidget(m_notes);
    }

    stack->addWidget(sheetparts::divider(this));

    auto* buttons = new QHBoxLayout;
    buttons->setContentsMargins(22, 16, 22, 16);
    buttons->setSpacing(10);
    m_skip = new QPushButton(u"Diese Fassung \u00fcbergehen"_s, this);
    m_skip->setFlat(true);
    {
        QPalette muted = m_skip->palette();
        muted.setColor(QPalette::ButtonText, sheetparts::secondary(m_skip));
        m_skip->setPalette(muted);
    }
    m_later = new QPushButton(u"Sp\u00e4ter"_s, this);
    m_download = new QPushButton(u"Laden \u2026"_s, this);
    for (QPushButton* button : {m_skip, m_later, m_download}) {
        button->setAccessibleName(button->text());
        // Return belongs to "Laden …" wherever the focus is.
        button->setAutoDefault(false);
    }
    m_download->setDefault(true);
    buttons->addWidget(m_skip, 0, Qt::AlignVCenter);
    buttons->addStretch(1);
    buttons->addWidget(m_later, 0, Qt::AlignVCenter);
    buttons->addWidget(m_download, 0, Qt::AlignVCenter);
    stack->addLayout(buttons);

    connect(m_skip, &QPushButton::clicked, this, &UpdateSheet::skipVersion);
    connect(m_later, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_download, &QPushButton::clicked, this, &UpdateSheet::openDownload);

    sheetparts::fitHeight(this, sheetWidth);
    m_download->setFocus();
}

QString UpdateSheet::title() const {
    return u"Orvik "_s + m_update.version.description() + u" ist verf\u00fcgbar"_s;
}

QString UpdateSheet::untertitel() const {
    QStringList pieces{u"Du hast "_s + m_update.current.raw};
    if (m_update.date && !m_update.date->isEmpty())
        pieces.append(u"erschienen "_s + *m_update.date);
    return pieces.join(u" \u00b7 "_s);
}

QStringList UpdateSheet::shownNotes() const {
    QStringList notes;
    if (!m_notes)
        return notes;
    const auto labels = m_notes->widget()->findChildren<QLabel*>(u"note"_s);
    for (const QLabel* label : labels)
        notes.append(label->text());
    return notes;
}

void UpdateSheet::done(int result) {
    const bool wasOpen = isVisible();
    QDialog::done(result);
    if (wasOpen && m_onClose)
        m_onClose();
}

void UpdateSheet::skipVersion() {
    UpdatePreferences::storeSkippedVersion(m_update.version.raw);
    reject();
}

void UpdateSheet::openDownload() {
    // Opening is fire and forget: a failure is not reported.
    if (isSafeDownloadAddress(m_update.downloadURL) && downloadOpener())
        downloadOpener()(m_update.downloadURL);
    accept();
}

} // namespace orvik::ui
