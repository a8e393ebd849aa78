// Search timings on a generated German library (seeded: Markdown, umlauts,
// ß, typographic quotes), against the time it takes merely to read every
// file's bytes in the same process.
//
//   bench_search [--files N] [--mb M] [--groups G] [--seed S] [--dir PATH] [--rg]
//
// Cold: the first search of a fresh engine reads and folds every file. Then
// two rounds of 20 queries on that engine: the first also derives the sheet
// data of files that become hits for the first time, the second is the warm
// search. Peak memory counts from just before the cold search. --rg also times
// `rg -i -F -c` on the same corpus (ripgrep on the PATH); --dir writes the
// corpus to PATH and keeps it.

#include "search/searchengine.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTextStream>
#include <QThread>

#include <algorithm>
#include <malloc.h>
#include <random>

using namespace Qt::StringLiterals;

namespace {

QTextStream out(stdout);

struct Options {
    int files = 2000;
    double megabytes = 10;
    int groups = 8;
    quint32 seed = 42;
    QString dir;
    bool ripgrep = false;
};

Options parse(const QStringList& args) {
    Options o;
    for (qsizetype i = 1; i < args.size(); ++i) {
        const QString& a = args[i];
        const QString value = i + 1 < args.size() ? args[i + 1] : QString();
        if (a == u"--files")
            o.files = value.toInt(), ++i;
        else if (a == u"--mb")
            o.megabytes = value.toDouble(), ++i;
        else if (a == u"--groups")
            o.groups = std::max(1, value.toInt()), ++i;
        else if (a == u"--seed")
            o.seed = value.toUInt(), ++i;
        else if (a == u"--dir")
            o.dir = value, ++i;
        else if (a == u"--rg")
            o.ripgrep = true;
    }
    return o;
}

// Function words by falling frequency (drawn Zipf-like), and content words
// of which about a quarter carry an umlaut or ß: roughly one non-ASCII
// character per 60 bytes, as in ordinary German prose.
const QStringList functionWords = {
    u"der"_s,   u"die"_s,  u"und"_s,  u"in"_s,     u"den"_s,   u"von"_s,   u"zu"_s,    u"das"_s,
    u"mit"_s,   u"sich"_s, u"des"_s,  u"auf"_s,    u"für"_s,   u"ist"_s,   u"im"_s,    u"dem"_s,
    u"nicht"_s, u"ein"_s,  u"eine"_s, u"als"_s,    u"auch"_s,  u"es"_s,    u"an"_s,    u"aus"_s,
    u"er"_s,    u"hat"_s,  u"dass"_s, u"sie"_s,    u"nach"_s,  u"bei"_s,   u"um"_s,    u"am"_s,
    u"noch"_s,  u"wie"_s,  u"über"_s, u"so"_s,     u"zum"_s,   u"war"_s,   u"nur"_s,   u"oder"_s,
    u"aber"_s,  u"vor"_s,  u"bis"_s,  u"mehr"_s,   u"durch"_s, u"man"_s,   u"wir"_s,   u"ich"_s,
    u"schon"_s, u"wenn"_s, u"dann"_s, u"wieder"_s, u"heute"_s, u"immer"_s, u"würde"_s, u"können"_s};
const QStringList contentWords = {
    u"Garten"_s,    u"Apfel"_s,   u"Äpfel"_s,   u"Straße"_s,   u"Brücke"_s,  u"Frühling"_s,
    u"Woche"_s,     u"Idee"_s,    u"Projekt"_s, u"Gespräch"_s, u"Zukunft"_s, u"Stadt"_s,
    u"Regen"_s,     u"Sonne"_s,   u"Morgen"_s,  u"Abend"_s,    u"Arbeit"_s,  u"Freund"_s,
    u"Zeit"_s,      u"Buch"_s,    u"Fenster"_s, u"Kaffee"_s,   u"Café"_s,    u"Tagebuch"_s,
    u"Fluss"_s,     u"Wald"_s,    u"Weg"_s,     u"Haus"_s,     u"Tür"_s,     u"Größe"_s,
    u"Gedanke"_s,   u"Plan"_s,    u"Brief"_s,   u"Reise"_s,    u"Zug"_s,     u"Küche"_s,
    u"schreiben"_s, u"gehen"_s,   u"denken"_s,  u"lesen"_s,    u"finden"_s,  u"müssen"_s,
    u"sehen"_s,     u"machen"_s,  u"kommen"_s,  u"wissen"_s,   u"fühlen"_s,  u"hören"_s,
    u"ruhig"_s,     u"schön"_s,   u"groß"_s,    u"klein"_s,    u"spät"_s,    u"früh"_s,
    u"leise"_s,     u"hell"_s,    u"dunkel"_s,  u"warm"_s,     u"kalt"_s,    u"natürlich"_s,
    u"gemütlich"_s, u"draußen"_s, u"später"_s,  u"während"_s,  u"zurück"_s,  u"weiß"_s};

// One sheet of roughly `size` bytes: a heading, paragraphs, lists, quotes and
// emphasis, as a writer would leave them.
QByteArray sheetText(std::mt19937& rng, qsizetype size) {
    const auto pick = [&](const QStringList& list) { return list[rng() % list.size()]; };
    // Rank r with probability proportional to 1 / (r + 1).
    static std::discrete_distribution<qsizetype> zipf = [] {
        std::vector<double> weights;
        for (qsizetype r = 0; r < functionWords.size(); ++r)
            weights.push_back(1.0 / double(r + 1));
        return std::discrete_distribution<qsizetype>(weights.begin(), weights.end());
    }();
    const auto word = [&] { return rng() % 5 < 3 ? functionWords[zipf(rng)] : pick(contentWords); };
    QString text = u"# "_s + pick(contentWords) + u' ' + word() + u"\n\n"_s;
    while (text.size() < size) {
        const unsigned kind = rng() % 10;
        QString line = kind == 0 ? u"- "_s : kind == 1 ? u"> "_s : kind == 2 ? u"## "_s : QString();
        const int sentences = kind < 3 ? 1 : 1 + int(rng() % 4);
        for (int s = 0; s < sentences; ++s) {
            const int length = 5 + int(rng() % 12);
            for (int w = 0; w < length; ++w) {
                QString next = word();
                if (w == 0)
                    next[0] = next[0].toUpper();
                if (rng() % 40 == 0)
                    next = u"**"_s + next + u"**"_s;
                else if (rng() % 60 == 0)
                    next = u"„"_s + next + u"“"_s;
                line += next + (w + 1 < length ? u" "_s : u". "_s);
            }
        }
        text += line.trimmed() + (kind == 2 ? u"\n\n"_s : u"\n"_s);
    }
    return text.toUtf8();
}

QList<QUrl> generate(const QString& root, const Options& o, qint64& totalBytes) {
    std::mt19937 rng(o.seed);
    QList<QUrl> folders;
    for (int g = 0; g < o.groups; ++g) {
        const QString folder = root + u"/Gruppe %1"_s.arg(g + 1);
        QDir().mkpath(folder);
        folders.append(QUrl::fromLocalFile(folder));
    }
    const qsizetype mean = qsizetype(o.megabytes * 1024 * 1024 / std::max(1, o.files));
    std::uniform_real_distribution<double> spread(0.2, 1.8);
    totalBytes = 0;
    for (int i = 0; i < o.files; ++i) {
        const QByteArray bytes = sheetText(rng, qsizetype(mean * spread(rng)));
        QFile f(folders[i % o.groups].toLocalFile() + u"/blatt-%1.md"_s.arg(i, 5, 10, QChar(u'0')));
        if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
            qFatal("cannot write the corpus");
        totalBytes += bytes.size();
    }
    return folders;
}

double readAll(const QList<QUrl>& folders) {
    QElapsedTimer t;
    t.start();
    qint64 bytes = 0;
    for (const QUrl& url : folders) {
        const QDir dir(url.toLocalFile());
        for (const QString& name : dir.entryList({u"*.md"_s}, QDir::Files, QDir::Name)) {
            QFile f(dir.filePath(name));
            if (f.open(QIODevice::ReadOnly))
                bytes += f.readAll().size();
        }
    }
    const double ms = t.nsecsElapsed() / 1e6;
    if (bytes == 0)
        qFatal("read nothing");
    return ms;
}

double timeSearch(orvik::SearchEngine& engine, const QString& query, const QList<QUrl>& folders,
                  qsizetype* hits = nullptr) {
    QElapsedTimer t;
    t.start();
    const auto result = engine.search(query, folders).result();
    const double ms = t.nsecsElapsed() / 1e6;
    if (hits)
        *hits = result.size();
    return ms;
}

double ripgrepMs(const QString& exe, const QString& query, const QString& root) {
    QProcess rg;
    QElapsedTimer t;
    t.start();
    rg.start(exe, {u"-i"_s, u"-F"_s, u"-c"_s, query, root});
    rg.waitForFinished(-1);
    return t.nsecsElapsed() / 1e6;
}

// Restarts the peak resident size (VmHWM) at the current size.
void resetPeakMemory() {
    QFile f(u"/proc/self/clear_refs"_s);
    if (f.open(QIODevice::WriteOnly))
        f.write("5");
}

qint64 statusKb(const QByteArray& field) {
    QFile f(u"/proc/self/status"_s);
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : f.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(field.size()).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const Options o = parse(app.arguments());
    QTemporaryDir temporary(QDir::tempPath() + u"/orvik-bench-search-XXXXXX"_s);
    const QString root = o.dir.isEmpty() ? temporary.path() : QDir(o.dir).absolutePath();
    qint64 corpusBytes = 0;
    const QList<QUrl> folders = generate(root, o, corpusBytes);
    // A library at rest: folders changed a moment ago are listed afresh on
    // every search (their times are too coarse to trust yet).
    QThread::sleep(3);
    out << "corpus: " << o.files << " files, " << o.groups << " groups, "
        << QString::number(corpusBytes / 1048576.0, 'f', 1) << " MB, seed " << o.seed << "\n";

    // The best of three, so that the page cache is warm for everybody.
    double baseline = 1e12;
    for (int i = 0; i < 3; ++i)
        baseline = std::min(baseline, readAll(folders));
    out << "read all bytes (QFile::readAll): " << QString::number(baseline, 'f', 1) << " ms\n";

    const QStringList queries = {u"garten"_s,       u"und"_s,       u"Straße"_s,    u"uber"_s,
                                 u"apfel"_s,        u"fruhling"_s,  u"Gemütlich"_s, u"strasse"_s,
                                 u"schon wieder"_s, u"cafe"_s,      u"Brücke"_s,    u"grosse"_s,
                                 u"nicht mehr"_s,   u"ZUKUNFT"_s,   u"leise"_s,     u"Küche"_s,
                                 u"Xylophon"_s,     u"die Stadt"_s, u"tur"_s,       u"weiss"_s};

    const auto ms = [](double v) { return QString::number(v, 'f', 1) + u" ms"_s; };
    const auto ratio = [](double a, double b) { return QString::number(a / b, 'f', 2) + u'x'; };

    // Memory counts from here: the generator's heap goes back first.
    ::malloc_trim(0);
    resetPeakMemory();

    orvik::SearchEngine engine;
    qsizetype hits = 0;
    const double cold = timeSearch(engine, u"Xylophon"_s, folders, &hits);
    out << "cold search 'Xylophon' (" << hits << " hits, first in process): " << ms(cold) << ", "
        << ratio(cold, baseline) << " read-all\n";
    double warm = 0;
    double slowest = 0;
    for (int round = 1; round <= 2; ++round) {
        warm = slowest = 0;
        for (const QString& q : queries) {
            const double t = timeSearch(engine, q, folders);
            warm += t;
            slowest = std::max(slowest, t);
        }
        out << (round == 1 ? "first" : "warm") << " search round, " << queries.size()
            << " queries: " << ms(warm / double(queries.size())) << " mean, " << ms(slowest)
            << " slowest; mean " << ratio(warm / double(queries.size()), baseline) << " read-all\n";
    }
    const double warmMean = warm / double(queries.size());
    const qint64 peakKb = statusKb("VmHWM:");
    out << "memory after warm search: " << statusKb("VmRSS:") / 1024 << " MB resident, peak "
        << peakKb / 1024 << " MB = " << ratio(peakKb * 1024.0, double(corpusBytes)) << " corpus\n";

    // Later engines find freed memory to reuse, so these are a little flattered.
    for (const QString& q : {u"garten"_s, u"und"_s}) {
        orvik::SearchEngine fresh;
        const double t = timeSearch(fresh, q, folders, &hits);
        out << "cold search '" << q << "' (" << hits << " hits): " << ms(t) << ", "
            << ratio(t, baseline) << " read-all\n";
    }

    if (o.ripgrep) {
        const QString rg = QStandardPaths::findExecutable(u"rg"_s);
        if (rg.isEmpty()) {
            out << "rg: not found\n";
        } else {
            double rgCold = 1e12;
            for (int i = 0; i < 3; ++i)
                rgCold = std::min(rgCold, ripgrepMs(rg, u"Xylophon"_s, root));
            double rgTotal = 0;
            for (const QString& q : queries)
                rgTotal += ripgrepMs(rg, q, root);
            const double rgMean = rgTotal / double(queries.size());
            out << "rg -i -F -c 'Xylophon', best of 3: " << ms(rgCold) << "; cold search "
                << ratio(cold, rgCold) << " rg\n";
            out << "rg -i -F -c, same " << queries.size() << " queries: " << ms(rgMean)
                << " mean; warm search " << ratio(warmMean, rgMean) << " rg\n";
        }
    }
    return 0;
}
