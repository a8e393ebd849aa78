#pragma once

#include "folder.h"

#include <QDateTime>
#include <QList>
#include <QString>

namespace orvik {

// A built-in template for new sheets: body with the placeholders {{datum}},
// {{wochentag}}, {{zeit}} and {{kontext}}.
struct Template {
    QString title; // also the identity
    QString symbol;
    Folder::Kind preferredKind = Folder::Kind::Ideas;
    QString body;
    bool wantsDailyContext = false;

    QString id() const { return title; }

    // The seven templates, in menu order.
    static const QList<Template>& all();
    // "Tagebucheintrag", or the blank template if it is missing.
    static Template diaryDefault();
    // "Leeres Blatt": the fallback of the quick note and the diary entry.
    static Template blank();
    static std::optional<Template> named(const QString& title);

    // The body with the German date, weekday and time of `date` filled in.
    QString render(const QDateTime& date) const;

    friend bool operator==(const Template&, const Template&) = default;
};

namespace dailytext {
// Stands in a new diary sheet until the weather and headlines arrive.
QString loadingBlock();
// Replaces the loading block when neither weather nor headlines arrived.
QString fallbackBlock();
} // namespace dailytext

} // namespace orvik
