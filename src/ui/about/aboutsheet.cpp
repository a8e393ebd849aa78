#include "aboutsheet.h"

#include "sheetparts.h"
#include "updates/updatechecker.h"
#include "updatesheet.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace orvik::ui {

namespace {

constexpr int sheetWidth = 340;

} // namespace

AboutSheet::AboutSheet(std::function<void()> onClose, QWidget* parent)
    : QDialog(parent), m_onClose(std::move(onClose)) {
    setWindowModality(Qt::WindowModal);
    setWindowTitle(u"\u00dcber Orvik"_s);
    setAccessibleName(u"\u00dcber Orvik"_s);

    auto* stack = new QVBoxLayout(this);
    stack->setContentsMargins(26, 26, 26, 26);
    stack->setSpacing(14);

    QLabel* icon = sheetparts::tintedIcon(QIcon::fromTheme(u"document-edit"_s), 44,
                                          sheetparts::secondary(this), this);
    icon->setAccessibleName(u"Orvik"_s);
    stack->addWidget(icon, 0, Qt::AlignHCenter);

    auto* name = new QLabel(u"Orvik"_s, this);
    name->setFont(sheetparts::serif(26));
    name->setAccessibleName(u"Orvik"_s);
    stack->addWidget(name, 0, Qt::AlignHCenter);

    m_version = new QLabel(versionLine(), this);
    m_version->setTextFormat(Qt::PlainText);
    m_version->setFont(sheetparts::caption(font()));
    m_version->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    m_version->setAccessibleName(versionLine());
    sheetparts::makeSecondary(m_version);
    stack->addWidget(m_version, 0, Qt::AlignHCenter);

    auto* rule = new QVBoxLayout;
    rule->setContentsMargins(0, 2, 0, 2);
    rule->addWidget(sheetparts::divider(this));
    stack->addLayout(rule);

    m_autoCheck = new QCheckBox(u"Automatisch nach Updates suchen"_s, this);
    m_autoCheck->setAccessibleName(m_autoCheck->text());
    m_autoCheck->setChecked(UpdateChecker::automaticChecksEnabled());
    // No apply step: the switch is the preference.
    connect(m_autoCheck, &QCheckBox::toggled, this,
            [](bool on) { UpdatePreferences::automaticChecks.write(on); });
    stack->addWidget(m_autoCheck, 0, Qt::AlignHCenter);

    m_statusLabel = new QLabel(this);
    m_statusLabel->setTextFormat(Qt::PlainText);
    m_statusLabel->setFont(sheetparts::caption(font()));
    m_statusLabel->setAlignment(Qt::AlignCenter);
    m_statusLabel->setWordWrap(true);
    sheetparts::makeSecondary(m_statusLabel);
    stack->addWidget(m_statusLabel);

    auto* row = new QHBoxLayout;
    row->setContentsMargins(0, 2, 0, 0);
    row->setSpacing(10);
    m_check = new QPushButton(u"Nach Updates suchen"_s, this);
    m_done = new QPushButton(u"Fertig"_s, this);
    for (QPushButton* button : {m_check, m_done}) {
        button->setAccessibleName(button->text());
        // Return belongs to "Fertig" wherever the focus is.
        button->setAutoDefault(false);
    }
    m_done->setDefault(true);
    row->addWidget(m_check);
    row->addWidget(m_done);
    stack->addLayout(row);
    stack->setAlignment(row, Qt::AlignHCenter);

    connect(m_check, &QPushButton::clicked, this, &AboutSheet::runCheck);
    connect(m_done, &QPushButton::clicked, this, &QDialog::accept);

    refresh();
    m_done->setFocus();
}

QString AboutSheet::versionLine() {
    return u"Version "_s + UpdateChecker::currentVersion().description() + u" ("_s +
           UpdateChecker::currentBuild() + u")"_s;
}

void AboutSheet::done(int result) {
    const bool wasOpen = isVisible();
    QDialog::done(result);
    if (wasOpen && m_onClose)
        m_onClose();
}

void AboutSheet::runCheck() {
    if (m_isChecking)
        return;
    m_isChecking = true;
    m_status.reset();
    refresh();
    // The check outlives a dialog closed meanwhile; its answer then goes nowhere.
    QPointer<AboutSheet> self(this);
    UpdateChecker::check().then(this, [self](const UpdateCheckResult& result) {
        if (self)
            self->finishCheck(result);
    });
}

void AboutSheet::finishCheck(const UpdateCheckResult& result) {
    m_isChecking = false;
    switch (result.kind) {
    case UpdateCheckResult::Kind::Available:
        m_found = result.update;
        break;
    case UpdateCheckResult::Kind::Failed:
        m_status = result.message;
        break;
    case UpdateCheckResult::Kind::UpToDate:
        m_status = u"Du hast die neueste Fassung."_s;
        break;
    }
    refresh();
    if (m_found)
        presentUpdate();
}

void AboutSheet::presentUpdate() {
    if (m_updateSheet)
        m_updateSheet->close();
    QPointer<AboutSheet> self(this);
    auto* sheet = new UpdateSheet(
        *m_found,
        [self] {
            if (self)
                self->m_found.reset();
        },
        this);
    sheet->setAttribute(Qt::WA_DeleteOnClose);
    m_updateSheet = sheet;
    sheet->open();
}

void AboutSheet::refresh() {
    m_check->setEnabled(!m_isChecking);
    m_statusLabel->setText(m_status.value_or(QString()));
    m_statusLabel->setAccessibleName(m_status.value_or(QString()));
    m_statusLabel->setVisible(m_status.has_value());
    sheetparts::fitHeight(this, sheetWidth);
}

} // namespace orvik::ui
