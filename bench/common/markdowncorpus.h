#pragma once

// A seeded generator of German Markdown for the benchmarks: sentences with
// umlauts and ß, emphasis, code spans, links and quotes, in headings, lists,
// task lists, quotes, fenced blocks, rules and paragraphs.

#include <QString>
#include <QStringList>

#include <random>

namespace orvik::bench {

using namespace Qt::StringLiterals;

inline const QStringList words = {
    u"der"_s,       u"die"_s,    u"und"_s,     u"nicht"_s,    u"für"_s,      u"über"_s,
    u"auch"_s,      u"noch"_s,   u"wieder"_s,  u"heute"_s,    u"würde"_s,    u"können"_s,
    u"Garten"_s,    u"Äpfel"_s,  u"Straße"_s,  u"Brücke"_s,   u"Frühling"_s, u"Gespräch"_s,
    u"Zukunft"_s,   u"Küche"_s,  u"Größe"_s,   u"Tagebuch"_s, u"Gedanke"_s,  u"Reise"_s,
    u"schreiben"_s, u"fühlen"_s, u"hören"_s,   u"müssen"_s,   u"ruhig"_s,    u"schön"_s,
    u"groß"_s,      u"spät"_s,   u"draußen"_s, u"während"_s,  u"zurück"_s,   u"weiß"_s};

inline QString sentence(std::mt19937& rng) {
    const int length = 6 + int(rng() % 12);
    QString s;
    for (int w = 0; w < length; ++w) {
        QString word = words[rng() % words.size()];
        if (w == 0)
            word[0] = word[0].toUpper();
        switch (rng() % 60) {
        case 0:
            word = u"**"_s + word + u"**"_s;
            break;
        case 1:
            word = u"*"_s + word + u"*"_s;
            break;
        case 2:
            word = u"`"_s + word + u"`"_s;
            break;
        case 3:
            word = u"["_s + word + u"](https://orvik.de/"_s + word + u")"_s;
            break;
        case 4:
            word = u"„"_s + word + u"“"_s;
            break;
        default:
            break;
        }
        s += word + (w + 1 < length ? u" "_s : u"."_s);
    }
    return s;
}

inline QString markdown(std::mt19937& rng, qsizetype utf8Bytes) {
    QString text = u"# Tagebuch\n\n"_s;
    qsizetype bytes = text.toUtf8().size();
    while (bytes < utf8Bytes) {
        QString block;
        const unsigned kind = rng() % 20;
        if (kind == 0) {
            block = u"## "_s + sentence(rng) + u"\n\n"_s;
        } else if (kind == 1) {
            block = u"### "_s + sentence(rng) + u"\n\n"_s;
        } else if (kind < 4) {
            for (int i = 0, n = 2 + int(rng() % 4); i < n; ++i)
                block += (rng() % 3 == 0 ? u"- [ ] "_s : u"- "_s) + sentence(rng) + u'\n';
            block += u'\n';
        } else if (kind == 4) {
            block = u"> "_s + sentence(rng) + u"\n\n"_s;
        } else if (kind == 5) {
            block = u"```\n"_s;
            for (int i = 0, n = 2 + int(rng() % 6); i < n; ++i)
                block += u"let x = "_s + QString::number(rng() % 1000) + u";\n"_s;
            block += u"```\n\n"_s;
        } else if (kind == 6) {
            block = u"---\n\n"_s;
        } else {
            for (int i = 0, n = 1 + int(rng() % 5); i < n; ++i)
                block += sentence(rng) + u' ';
            block = block.trimmed() + u"\n\n"_s;
        }
        text += block;
        bytes += block.toUtf8().size();
    }
    return text;
}

} // namespace orvik::bench
