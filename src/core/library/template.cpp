#include "template.h"

#include <QLocale>

using namespace Qt::StringLiterals;

namespace orvik {

namespace {
QList<Template> makeAll() {
    using K = Folder::Kind;
    return {
        Template::blank(),
        {u"Tagebucheintrag"_s, u"book.closed"_s, K::Diary,
         u"# {{wochentag}}, {{datum}}\n\n\n\n\n{{kontext}}"_s, true},
        {u"Tagebuch ohne Tageskontext"_s, u"book"_s, K::Diary, u"# {{wochentag}}, {{datum}}\n\n"_s,
         false},
        {u"Morgenseiten"_s, u"sunrise"_s, K::Diary,
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
         u"{{kontext}}"_s,
         true},
        {u"Wochenrückblick"_s, u"calendar"_s, K::Diary,
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
         u"## Worauf es nächste Woche ankommt\n\n"_s,
         false},
        {u"Projektidee"_s, u"lightbulb"_s, K::Projects,
         u"#\n"
         u"\n"
         u"**Angelegt:** {{datum}}\n"
         u"\n"
         u"## Das Problem\n\n\n"
         u"## Die Idee\n\n\n"
         u"## Für wen\n\n\n"
         u"## Nächste Schritte\n"
         u"- [ ]\n"
         u"- [ ]\n"_s,
         false},
        {u"Schnelle Notiz"_s, u"bolt"_s, K::Quick, u"#\n\n"_s, false},
    };
}
} // namespace

Template Template::blank() {
    return {u"Leeres Blatt"_s, u"doc"_s, Folder::Kind::Ideas, u"# \n\n"_s, false};
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
    return named(u"Tagebucheintrag"_s).value_or(blank());
}

QString Template::render(const QDateTime& date) const {
    const QLocale german(QLocale::German, QLocale::Germany);
    const QDateTime local = date.toLocalTime();
    QString text = body;
    text.replace(u"{{datum}}"_s, german.toString(local, u"d. MMMM yyyy"_s));
    text.replace(u"{{wochentag}}"_s, german.toString(local, u"dddd"_s));
    text.replace(u"{{zeit}}"_s, german.toString(local, u"HH:mm"_s));
    text.replace(u"{{kontext}}"_s, wantsDailyContext ? dailytext::loadingBlock() : QString());
    return text;
}

namespace dailytext {
QString loadingBlock() {
    return u"---\n\n*Wetter und Nachrichten werden geladen \u2026*"_s;
}
QString fallbackBlock() {
    return u"---\n\n*Wetter und Nachrichten waren nicht abrufbar.*"_s;
}
} // namespace dailytext

} // namespace orvik
