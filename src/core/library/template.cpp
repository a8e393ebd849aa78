#include "template.h"

#include <QLocale>

namespace orvik {

namespace {
QList<Template> makeAll() {
    using K = Folder::Kind;
    return {
        Template::blank(),
        {u"Tagebucheintrag"_qs, u"book.closed"_qs, K::Diary,
         u"# {{wochentag}}, {{datum}}\n\n\n\n\n{{kontext}}"_qs, true},
        {u"Tagebuch ohne Tageskontext"_qs, u"book"_qs, K::Diary,
         u"# {{wochentag}}, {{datum}}\n\n"_qs, false},
        {u"Morgenseiten"_qs, u"sunrise"_qs, K::Diary,
         u"# Morgenseiten \u2013 {{wochentag}}, {{datum}}\n"
         u"\n"
         u"*Begonnen um {{zeit}}. Drei Seiten, ohne abzusetzen, ohne zu\n"
         u"urteilen. Was oben liegt, darf zuerst heraus.*\n"
         u"\n"
         u"## Womit ich aufgewacht bin\n"
         u"\n"
         u"\n"
         u"## Was mir durch den Kopf geht\n"
         u"\n"
         u"\n"
         u"## Was heute ansteht\n"
         u"\n"
         u"\n"
         u"## Wofür ich heute dankbar sein will\n"
         u"\n"
         u"\n"
         u"\n"
         u"{{kontext}}"_qs,
         true},
        {u"Wochenrückblick"_qs, u"calendar"_qs, K::Diary,
         u"# Wochenrückblick \u2013 {{datum}}\n"
         u"\n"
         u"## Die Woche Tag für Tag\n"
         u"\n"
         u"**Montag**\n\n\n"
         u"**Dienstag**\n\n\n"
         u"**Mittwoch**\n\n\n"
         u"**Donnerstag**\n\n\n"
         u"**Freitag**\n\n\n"
         u"**Samstag**\n\n\n"
         u"**Sonntag**\n\n\n"
         u"## Was gut lief\n\n\n"
         u"## Was ich anders machen will\n\n\n"
         u"## Worauf es nächste Woche ankommt\n\n"_qs,
         false},
        {u"Projektidee"_qs, u"lightbulb"_qs, K::Projects,
         u"#\n"
         u"\n"
         u"**Angelegt:** {{datum}}\n"
         u"\n"
         u"## Das Problem\n\n\n"
         u"## Die Idee\n\n\n"
         u"## Für wen\n\n\n"
         u"## Nächste Schritte\n"
         u"- [ ]\n"
         u"- [ ]\n"_qs,
         false},
        {u"Schnelle Notiz"_qs, u"bolt"_qs, K::Quick, u"#\n\n"_qs, false},
    };
}
} // namespace

Template Template::blank() {
    return {u"Leeres Blatt"_qs, u"doc"_qs, Folder::Kind::Ideas, u"# \n\n"_qs, false};
}

const QList<Template>& Template::all() {
    static const QList<Template> templates = makeAll();
    return templates;
}

std::optional<Template> Template::named(const QString& title) {
    for (const Template& t : all())
        if (t.title == title)
            return t;
    return std::nullopt;
}

Template Template::diaryDefault() {
    return named(u"Tagebucheintrag"_qs).value_or(blank());
}

QString Template::render(const QDateTime& date) const {
    const QLocale german(QLocale::German, QLocale::Germany);
    const QDateTime local = date.toLocalTime();
    QString text = body;
    text.replace(u"{{datum}}"_qs, german.toString(local, u"d. MMMM yyyy"_qs));
    text.replace(u"{{wochentag}}"_qs, german.toString(local, u"dddd"_qs));
    text.replace(u"{{zeit}}"_qs, german.toString(local, u"HH:mm"_qs));
    text.replace(u"{{kontext}}"_qs, wantsDailyContext ? dailytext::loadingBlock() : QString());
    return text;
}

namespace dailytext {
QString loadingBlock() {
    return u"---\n\n*Wetter und Nachrichten werden geladen \u2026*"_qs;
}
QString fallbackBlock() {
    return u"---\n\n*Wetter und Nachrichten waren nicht abrufbar.*"_qs;
}
} // namespace dailytext

} // namespace orvik
