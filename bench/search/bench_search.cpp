// Search timings on a German library, against reading every file's bytes in
// the same process and, with --rg, against ripgrep on the same folder.
//
//   bench_search [--corpus LIBRARY | --files N --mb M --groups G --seed S [--dir PATH]]
//                [--cold-query Q] [--rg]
//
// --corpus searches the groups (visible folders) of an existing library;
// otherwise a seeded library is generated, in a temporary folder or, with
// --dir, in PATH, which is kept. Cold: the first search of a fresh engine
// reads and folds every file (the page cache is warm: the baseline has read
// them). Then rounds of 20 queries on that engine: the first also derives the
// sheet data of files that become hits for the first time, the later ones are
// the warm search. Peak memory counts from just before the cold search.
//
// Besides the report, lines for scripts/bench.sh, tab-separated:
//   ROW search-cold <ms> <rg ms> ms       first search, one query
//   ROW search-warm <ms> <rg ms> ms       mean of 20 queries, warm engine
//   ROW search-memory <MB> <MB> MB        peak resident size, corpus size
//   ROW search-warm-index <ms> <rg ms> ms the warm search again, from the
//                                         library's index on disk as in the window
// with "-" for rg when --rg is not given or rg is missing.

#include "platform/timezone.h"
#include "search/searchengine.h"
#include "search/searchindex.h"

#include "../common/librarycorpus.h"

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
#include <vector>

using namespace Qt::StringLiterals;

namespace {

QTextStream out(stdout);

struct Options {
    int files = 2000;
    double megabytes = 10;
    int groups = 8;
    quint32 seed = 42;
    QString dir;
    QString corpus;
    QString coldQuery = u"Garten"_s;
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
        else if (a == u"--corpus")
            o.corpus = value, ++i;
        else if (a == u"--cold-query")
            o.coldQuery = value, ++i;
        else if (a == u"--rg")
            o.ripgrep = true;
    }
    return o;
}

QList<QUrl> generate(const QString& root, const Options& o) {
    orvik::bench::CorpusOptions c;
    c.seed = o.seed;
    c.sheets = o.files;
    c.groups = o.groups;
    c.bigGroupSheets = o.files / o.groups;
    c.libraryBytes = qint64(o.megabytes * 1024 * 1024);
    c.singleBytes.clear();
    QString error;
    const auto corpus = orvik::bench::writeCorpus(root, c, &error);
    if (!corpus)
        qFatal("cannot write the corpus: %s", qPrintable(error));
    QList<QUrl> folders;
    for (const QString& group : corpus->groups)
        folders.append(QUrl::fromLocalFile(corpus->library + u'/' + group));
    return folders;
}

// The groups of an existing library: its visible folders.
QList<QUrl> groupsOf(const QString& library) {
    QList<QUrl> folders;
    const QDir dir(library);
    for (const QString& name : dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name))
        folders.append(QUrl::fromLocalFile(dir.filePath(name)));
    return folders;
}

double readAll(const QList<QUrl>& folders, qint64& bytes) {
    QElapsedTimer t;
    t.start();
    bytes = 0;
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

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

QString number(double v) {
    return QString::number(v, 'f', 3);
}

} // namespace

int main(int argc, char** argv) {
    // As the app does at start.
    orvik::platform::pinSystemTimeZone();
    QCoreApplication app(argc, argv);
    const Options o = parse(app.arguments());
    QTemporaryDir temporary(QDir::tempPath() + u"/orvik-bench-search-XXXXXX"_s);
    QString library;
    QList<QUrl> folders;
    if (!o.corpus.isEmpty()) {
        library = QDir(o.corpus).absolutePath();
        folders = groupsOf(library);
    } else {
        const QString root = o.dir.isEmpty() ? temporary.path() : QDir(o.dir).absolutePath();
        library = root + u"/library"_s;
        folders = generate(root, o);
        // A library at rest: folders changed a moment ago are listed afresh on
        // every search (their times are too coarse to trust yet).
        QThread::sleep(3);
    }
    if (folders.isEmpty())
        qFatal("no groups in %s", qPrintable(library));

    // The best of three, so that the page cache is warm for everybody.
    double baseline = 1e12;
    qint64 corpusBytes = 0;
    for (int i = 0; i < 3; ++i)
        baseline = std::min(baseline, readAll(folders, corpusBytes));
    out << "corpus: " << library << ", " << folders.size() << " groups, "
        << QString::number(corpusBytes / 1048576.0, 'f', 1) << " MB\n";
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
    const double cold = timeSearch(engine, o.coldQuery, folders, &hits);
    out << "cold search '" << o.coldQuery << "' (" << hits
        << " hits, first in process): " << ms(cold) << ", " << ratio(cold, baseline)
        << " read-all\n";
    // Round 1 fills the cache with the hits' sheet data; the median of the
    // later rounds is the warm figure.
    std::vector<double> warmRounds;
    for (int round = 1; round <= 4; ++round) {
        double total = 0;
        double slowest = 0;
        for (const QString& q : queries) {
            const double t = timeSearch(engine, q, folders);
            total += t;
            slowest = std::max(slowest, t);
        }
        const double mean = total / double(queries.size());
        if (round > 1)
            warmRounds.push_back(mean);
        out << (round == 1 ? "first" : "warm") << " search round, " << queries.size()
            << " queries: " << ms(mean) << " mean, " << ms(slowest) << " slowest; mean "
            << ratio(mean, baseline) << " read-all\n";
    }
    const double warmMean = median(warmRounds);
    const qint64 peakKb = statusKb("VmHWM:");
    const double peakMb = peakKb / 1024.0;
    const double corpusMb = corpusBytes / 1048576.0;
    out << "memory after warm search: " << statusKb("VmRSS:") / 1024 << " MB resident, peak "
        << qRound(peakMb) << " MB = " << ratio(peakMb, corpusMb) << " corpus\n";

    // The window's engine answers from the index once it has warmed it (after
    // the memory is taken: writing the index costs some).
    std::vector<double> indexRounds;
    {
        QStringList paths;
        for (const QUrl& url : folders)
            paths.append(url.toLocalFile());
        const QString indexFile = temporary.path() + u"/search.index"_s;
        orvik::search::SearchIndex::write(indexFile, paths, nullptr, qint64(64) << 20);
        orvik::SearchEngine indexed;
        indexed.useIndex(indexFile, orvik::SearchEngine::IndexWrites::ByCaller);
        for (int round = 0; round <= 3; ++round) {
            double total = 0;
            for (const QString& q : queries)
                total += timeSearch(indexed, q, folders);
            if (round > 0)
                indexRounds.push_back(total / double(queries.size()));
        }
    }
    const double indexMean = median(indexRounds);
    out << "warm search from the index, " << queries.size() << " queries: " << ms(indexMean)
        << " mean\n";

    // Later engines find freed memory to reuse, so these are a little flattered.
    for (const QString& q : {u"garten"_s, u"und"_s}) {
        orvik::SearchEngine fresh;
        const double t = timeSearch(fresh, q, folders, &hits);
        out << "cold search '" << q << "' (" << hits << " hits): " << ms(t) << ", "
            << ratio(t, baseline) << " read-all\n";
    }

    QString rgCold = u"-"_s;
    QString rgWarm = u"-"_s;
    if (o.ripgrep) {
        const QString rg = QStandardPaths::findExecutable(u"rg"_s);
        if (rg.isEmpty()) {
            out << "rg: not found\n";
        } else {
            std::vector<double> coldRuns;
            for (int i = 0; i < 5; ++i)
                coldRuns.push_back(ripgrepMs(rg, o.coldQuery, library));
            double rgTotal = 0;
            for (const QString& q : queries) {
                std::vector<double> runs;
                for (int i = 0; i < 3; ++i)
                    runs.push_back(ripgrepMs(rg, q, library));
                rgTotal += median(runs);
            }
            const double rgColdMs = median(coldRuns);
            const double rgMean = rgTotal / double(queries.size());
            out << "rg -i -F -c '" << o.coldQuery << "', median of 5: " << ms(rgColdMs)
                << "; cold search " << ratio(cold, rgColdMs) << " rg\n";
            out << "rg -i -F -c, same " << queries.size() << " queries: " << ms(rgMean)
                << " mean; warm search " << ratio(warmMean, rgMean) << " rg\n";
            rgCold = number(rgColdMs);
            rgWarm = number(rgMean);
        }
    }
    out << "ROW\tsearch-cold\t" << number(cold) << '\t' << rgCold << "\tms\n";
    out << "ROW\tsearch-warm\t" << number(warmMean) << '\t' << rgWarm << "\tms\n";
    out << "ROW\tsearch-warm-index\t" << number(indexMean) << '\t' << rgWarm << "\tms\n";
    out << "ROW\tsearch-memory\t" << number(peakMb) << '\t' << number(corpusMb) << "\tMB\n";
    return 0;
}
