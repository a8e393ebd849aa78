#include "librarycorpus.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>

using namespace Qt::StringLiterals;

namespace orvik::bench {

namespace {

// Function words by falling frequency (drawn Zipf-like), and content words of
// which about a quarter carry an umlaut or ß: roughly one non-ASCII character
// per 60 bytes, as in ordinary German prose. The search benchmark's queries
// are drawn from these, and "Xylophon" is in neither.
const QStringList functionWords = {
    u"der"_s,   u"die"_s,  u"und"_s,  u"in"_s,     u"den"_s,   u"von"_s,   u"zu"_s,    u"das"_s,
    u"mit"_s,   u"sich"_s, u"des"_s,  u"auf"_s,    u"für"_s,   u"ist"_s,   u"im"_s,    u"dem"_s,
    u"nicht"_s, u"ein"_s,  u"eine"_s, u"als"_s,    u"auch"_s,  u"es"_s,    u"an"_s,    u"aus"_s,
    u"er"_s,    u"hat"_s,  u"dass"_s, u"sie"_s,    u"nach"_s,  u"bei"_s,   u"um"_s,    u"am"_s,
    u"noch"_s,  u"wie"_s,  u"über"_s, u"so"_s,     u"zum"_s,   u"war"_s,   u"nur"_s,   u"oder"_s,
    u"aber"_s,  u"vor"_s,  u"bis"_s,  u"mehr"_s,   u"durch"_s, u"man"_s,   u"wir"_s,   u"ich"_s,
    u"schon"_s, u"wenn"_s, u"dann"_s, u"wieder"_s, u"heute"_s, u"immer"_s, u"würde"_s, u"können"_s};
const QStringList contentWords = {
    u"Garten"_s,     u"Apfel"_s,   u"Äpfel"_s,   u"Straße"_s,   u"Brücke"_s,  u"Frühling"_s,
    u"Woche"_s,      u"Idee"_s,    u"Projekt"_s, u"Gespräch"_s, u"Zukunft"_s, u"Stadt"_s,
    u"Regen"_s,      u"Sonne"_s,   u"Morgen"_s,  u"Abend"_s,    u"Arbeit"_s,  u"Freund"_s,
    u"Zeit"_s,       u"Buch"_s,    u"Fenster"_s, u"Kaffee"_s,   u"Café"_s,    u"Tagebuch"_s,
    u"Fluss"_s,      u"Wald"_s,    u"Weg"_s,     u"Haus"_s,     u"Tür"_s,     u"Größe"_s,
    u"Gedanke"_s,    u"Plan"_s,    u"Brief"_s,   u"Reise"_s,    u"Zug"_s,     u"Küche"_s,
    u"schreiben"_s,  u"gehen"_s,   u"denken"_s,  u"lesen"_s,    u"finden"_s,  u"müssen"_s,
    u"sehen"_s,      u"machen"_s,  u"kommen"_s,  u"wissen"_s,   u"fühlen"_s,  u"hören"_s,
    u"ruhig"_s,      u"schön"_s,   u"groß"_s,    u"klein"_s,    u"spät"_s,    u"früh"_s,
    u"leise"_s,      u"hell"_s,    u"dunkel"_s,  u"warm"_s,     u"kalt"_s,    u"natürlich"_s,
    u"gemütlich"_s,  u"draußen"_s, u"später"_s,  u"während"_s,  u"zurück"_s,  u"weiß"_s,
    u"Österreich"_s, u"Übung"_s,   u"öffnen"_s,  u"Ärger"_s};

const QStringList codeLines = {u"let größe = breite * höhe;"_s,
                               u"# kein Titel, nur ein Kommentar"_s,
                               u"for (auto& blatt : gruppe) zähle(blatt);"_s,
                               u"> auch kein Zitat"_s,
                               u"- keine Liste, sondern Code"_s,
                               u"print(\"Grüße aus der Küche\")"_s,
                               u"if a < b && c > d { return **x; }"_s,
                               u"echo \"Straße\" | grep -i strasse"_s};

const std::array<QString, 4> rules = {u"---"_s, u"***"_s, u"___"_s, u"- - -"_s};
const std::array<QString, 4> languages = {QString(), u"cpp"_s, u"python"_s, u"sh"_s};

quint32 below(std::mt19937& rng, quint32 n) {
    return rng() % n;
}

// Uniform in the open interval (0, 1).
double unit(std::mt19937& rng) {
    return (double(rng()) + 0.5) / 4294967296.0;
}

qint64 utf8Length(QStringView text) {
    qint64 n = 0;
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        // A surrogate pair is four bytes, two for each half.
        n += u < 0x80 ? 1 : u < 0x800 ? 2 : QChar::isSurrogate(u) ? 2 : 3;
    }
    return n;
}

class Prose {
public:
    explicit Prose(std::mt19937& rng) : m_rng(rng) {}

    QString word() {
        if (below(m_rng, 5) < 3)
            return functionWords[zipfRank()];
        return contentWords[below(m_rng, quint32(contentWords.size()))];
    }

    QString sentence(int minWords, int extraWords) {
        const int length = minWords + int(below(m_rng, quint32(extraWords + 1)));
        QString s;
        for (int w = 0; w < length; ++w) {
            QString next = word();
            if (w == 0)
                next[0] = next[0].toUpper();
            s += markup(next);
            s += w + 1 < length ? u" "_s : below(m_rng, 8) == 0 ? u"!"_s : u"."_s;
        }
        return s;
    }

    QString sentences(int count) {
        QString s;
        for (int i = 0; i < count; ++i) {
            if (i > 0)
                s += u' ';
            s += sentence(5, 11);
        }
        return s;
    }

    QString block() {
        const quint32 kind = below(m_rng, 100);
        if (kind < 5) {
            // Level 2 most often, 6 rarely.
            static constexpr std::array<int, 10> levels = {2, 2, 2, 2, 3, 3, 3, 4, 5, 6};
            return QString(levels[below(m_rng, 10)], u'#') + u' ' + sentence(2, 5) + u"\n\n"_s;
        }
        if (kind == 5)
            return u"# "_s + sentence(2, 3) + u"\n\n"_s;
        if (kind < 9) {
            QString quote;
            for (int i = 0, n = 1 + int(below(m_rng, 3)); i < n; ++i)
                quote += (below(m_rng, 6) == 0 ? u"> > "_s : u"> "_s) + sentence(5, 9) + u'\n';
            return quote + u'\n';
        }
        if (kind < 17) {
            const QChar bullet = u"-*+"_s[below(m_rng, 3)];
            QString list;
            for (int i = 0, n = 2 + int(below(m_rng, 5)); i < n; ++i) {
                const QString indent = i > 0 && below(m_rng, 5) == 0 ? u"  "_s : QString();
                list += indent + bullet + u' ' + sentence(3, 8) + u'\n';
            }
            return list + u'\n';
        }
        if (kind < 21) {
            QString list;
            for (int i = 0, n = 2 + int(below(m_rng, 4)); i < n; ++i)
                list += QString::number(i + 1) + u". "_s + sentence(3, 8) + u'\n';
            return list + u'\n';
        }
        if (kind < 25) {
            static const std::array<QString, 4> boxes = {u"[ ]"_s, u"[ ]"_s, u"[x]"_s, u"[X]"_s};
            QString list;
            for (int i = 0, n = 2 + int(below(m_rng, 5)); i < n; ++i)
                list += u"- "_s + boxes[below(m_rng, 4)] + u' ' + sentence(2, 6) + u'\n';
            return list + u'\n';
        }
        if (kind < 28) {
            QString code = u"```"_s + languages[below(m_rng, 4)] + u'\n';
            for (int i = 0, n = 2 + int(below(m_rng, 7)); i < n; ++i)
                code += codeLines[below(m_rng, quint32(codeLines.size()))] + u'\n';
            return code + u"```\n\n"_s;
        }
        if (kind < 30)
            return rules[below(m_rng, 4)] + u"\n\n"_s;
        // Paragraphs, now and then with soft line breaks.
        QString paragraph;
        for (int i = 0, n = 1 + int(below(m_rng, 3)); i < n; ++i) {
            if (i > 0)
                paragraph += u'\n';
            paragraph += sentences(1 + int(below(m_rng, 3)));
        }
        return paragraph + u"\n\n"_s;
    }

private:
    QString markup(const QString& w) {
        switch (below(m_rng, 90)) {
        case 0:
            return u"**"_s + w + u"**"_s;
        case 1:
            return u"__"_s + w + u"__"_s;
        case 2:
            return u"*"_s + w + u"*"_s;
        case 3:
            return u"_"_s + w + u"_"_s;
        case 4:
            return u"`"_s + w + u"`"_s;
        case 5:
            return u"``"_s + w + u"``"_s;
        case 6:
            return u"["_s + w + u"](https://orvik.de/notizen/"_s +
                   QString::number(below(m_rng, 10000)) + u')';
        case 7:
        case 8:
            return u"„"_s + w + u"“"_s;
        default:
            return w;
        }
    }

    // Rank r with probability proportional to 1 / (r + 1).
    qsizetype zipfRank() {
        static const std::vector<double> cumulative = [] {
            std::vector<double> c;
            double sum = 0;
            for (qsizetype r = 0; r < functionWords.size(); ++r)
                c.push_back(sum += 1.0 / double(r + 1));
            for (double& v : c)
                v /= sum;
            return c;
        }();
        const double u = unit(m_rng);
        const auto it = std::lower_bound(cumulative.begin(), cumulative.end(), u);
        return std::min(qsizetype(it - cumulative.begin()), functionWords.size() - 1);
    }

    std::mt19937& m_rng;
};

bool writeFile(const QString& path, const QByteArray& bytes, const QDateTime& modified,
               QString* error) {
    QFile f(path);
    // NewOnly: a generator run never replaces a file that is already there.
    // The date goes on after the last write, which would move it again.
    if (!f.open(QIODevice::WriteOnly | QIODevice::NewOnly) || f.write(bytes) != bytes.size() ||
        !f.flush() || !f.setFileTime(modified, QFileDevice::FileModificationTime)) {
        if (error)
            *error = path + u": "_s + f.errorString();
        return false;
    }
    return true;
}

} // namespace

CorpusOptions CorpusOptions::full(quint32 seed) {
    CorpusOptions o;
    o.seed = seed;
    return o;
}

CorpusOptions CorpusOptions::large(quint32 seed) {
    CorpusOptions o;
    o.seed = seed;
    o.sheets = 100000;
    o.groups = 20;
    o.bigGroupSheets = 20000;
    o.libraryBytes = 500LL * 1024 * 1024;
    return o;
}

CorpusOptions CorpusOptions::small(quint32 seed) {
    CorpusOptions o;
    o.seed = seed;
    o.sheets = 300;
    o.bigGroupSheets = 60;
    o.libraryBytes = 1536 * 1024;
    o.singleBytes = {16 * 1024, 64 * 1024, 256 * 1024};
    return o;
}

QStringList groupNames(int count) {
    static const QStringList names = {
        u"Tagebuch"_s, u"Ideen"_s,   u"Projekte"_s, u"Schnelle Notiz"_s, u"Reisen"_s,
        u"Küche"_s,    u"Lektüre"_s, u"Briefe"_s,   u"Garten"_s,         u"Gespräche"_s};
    QStringList result;
    for (int i = 0; i < count; ++i)
        result.append(i < names.size() ? names[i] : u"Gruppe %1"_s.arg(i + 1));
    return result;
}

QList<qint64> sheetSizes(std::mt19937& rng, int count, qint64 total) {
    QList<qint64> sizes;
    if (count <= 0)
        return sizes;
    // A title and a line: what the shortest real notes hold.
    constexpr double smallest = 80;
    const double mean = std::max(smallest, double(total) / count);
    const double largest = std::max(smallest, 40 * mean);
    // Log-normal with sigma 1: the mean is the median times e^(1/2).
    const double sigma = 1.0;
    const double mu = std::log(mean) - sigma * sigma / 2;
    std::vector<double> raw;
    raw.reserve(size_t(count));
    for (int i = 0; i < count; ++i) {
        const double z =
            std::sqrt(-2 * std::log(unit(rng))) * std::cos(2 * std::numbers::pi * unit(rng));
        raw.push_back(std::exp(mu + sigma * z));
    }
    // Clamping moves the sum; a few rounds of scaling bring it back.
    for (int round = 0; round < 4; ++round) {
        double sum = 0;
        for (double& v : raw)
            sum += v = std::clamp(v, smallest, largest);
        const double factor = double(total) / sum;
        for (double& v : raw)
            v *= factor;
    }
    for (const double v : raw)
        sizes.append(std::max(qint64(smallest), qint64(std::llround(v))));
    return sizes;
}

QString germanMarkdown(std::mt19937& rng, qint64 utf8Bytes) {
    Prose prose(rng);
    QString text = u"# "_s + prose.sentence(2, 4) + u"\n\n"_s;
    qint64 bytes = utf8Length(text);
    while (bytes < utf8Bytes) {
        const QString block = prose.block();
        text += block;
        bytes += utf8Length(block);
    }
    return text;
}

std::optional<Corpus> writeCorpus(const QString& out, const CorpusOptions& o, QString* error) {
    const auto fail = [error](const QString& why) {
        if (error)
            *error = why;
        return std::nullopt;
    };
    if (o.sheets < 1 || o.groups < 1 || o.bigGroupSheets < 0 || o.bigGroupSheets > o.sheets ||
        o.libraryBytes < 0)
        return fail(u"impossible corpus options"_s);
    const QDir root(out);
    Corpus corpus;
    corpus.library = QDir::cleanPath(root.absoluteFilePath(u"library"_s));
    const QString singleFolder = QDir::cleanPath(root.absoluteFilePath(u"single"_s));
    for (const QString& path : {corpus.library, singleFolder}) {
        if (QFileInfo::exists(path) || QFileInfo(path).isSymLink())
            return fail(path + u" exists already"_s);
    }
    corpus.groups = groupNames(o.groups);
    for (const QString& group : std::as_const(corpus.groups)) {
        if (!QDir().mkpath(corpus.library + u'/' + group))
            return fail(u"cannot create "_s + corpus.library + u'/' + group);
    }
    if (!QDir().mkpath(singleFolder))
        return fail(u"cannot create "_s + singleFolder);

    std::mt19937 rng(o.seed);
    const QList<qint64> sizes = sheetSizes(rng, o.sheets, o.libraryBytes);

    // Which group each sheet goes to: a shuffle, so that the big group gets
    // short and long sheets and old and new ones alike.
    std::vector<int> group(size_t(o.sheets));
    for (int i = 0; i < o.sheets; ++i)
        group[size_t(i)] =
            i < o.bigGroupSheets || o.groups == 1 ? 0 : 1 + (i - o.bigGroupSheets) % (o.groups - 1);
    for (int i = o.sheets - 1; i > 0; --i)
        std::swap(group[size_t(i)], group[size_t(below(rng, quint32(i + 1)))]);
    corpus.sheetsPerGroup = QList<int>(o.groups, 0);

    // Newest first, hours to days apart; the name is the creation stamp as
    // the app gives it, in UTC so that no time zone changes the bytes.
    QDateTime moment(QDate(2026, 6, 1), QTime(9, 0), Qt::UTC);
    for (int i = 0; i < o.sheets; ++i) {
        moment = moment.addSecs(-qint64(1200 + below(rng, 8 * 3600)));
        const QString text = germanMarkdown(rng, sizes[i]);
        const int g = group[size_t(i)];
        const QString path = corpus.library + u'/' + corpus.groups[g] + u'/' +
                             moment.toString(u"yyyy-MM-dd-HHmmss"_s) + u".md"_s;
        const QByteArray bytes = text.toUtf8();
        QString why;
        if (!writeFile(path, bytes, moment, &why))
            return fail(why);
        corpus.libraryBytes += bytes.size();
        ++corpus.sheetsPerGroup[g];
    }
    const QDateTime now(QDate(2026, 6, 1), QTime(10, 0), Qt::UTC);
    for (qsizetype i = 0; i < o.singleBytes.size(); ++i) {
        const QString path = singleFolder + u"/sheet-%1.md"_s.arg(i + 1);
        QString why;
        if (!writeFile(path, germanMarkdown(rng, o.singleBytes[i]).toUtf8(), now, &why))
            return fail(why);
        corpus.singles.append(path);
    }
    return corpus;
}

} // namespace orvik::bench
