#pragma once

// The benchmark corpus: a library of group folders full of German Markdown
// sheets plus a few long single sheets, all drawn from one seed. The same
// seed gives the same bytes, names and modification dates on every machine
// with the same C library: only std::mt19937's raw output is used, never the
// standard distributions, whose results differ between standard libraries.

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>
#include <random>

namespace orvik::bench {

struct CorpusOptions {
    quint32 seed = 1;
    int sheets = 10000;
    int groups = 10;
    // The first group holds this many sheets, the others share the rest.
    int bigGroupSheets = 2000;
    qint64 libraryBytes = 50LL * 1024 * 1024;
    // Written as single/sheet-<n>.md, n counting from 1.
    QList<qint64> singleBytes = {100 * 1024, 1024 * 1024, 5 * 1024 * 1024};

    // What the benchmarks measure, a library ten times larger for the scale
    // runs, and a miniature for smoke runs.
    static CorpusOptions full(quint32 seed);
    static CorpusOptions large(quint32 seed);
    static CorpusOptions small(quint32 seed);
};

struct Corpus {
    QString library;           // OUT/library
    QStringList groups;        // folder names, the big group first
    QList<int> sheetsPerGroup; // in the order of groups
    QStringList singles;       // absolute paths, in the order of singleBytes
    qint64 libraryBytes = 0;   // sum of the sheets' sizes
};

// The group folder names, the big group first.
QStringList groupNames(int count);

// Sheet sizes that add up to about `total`: log-normal like a writer's notes
// (many short ones, a long tail of long ones), none below a title's worth.
QList<qint64> sheetSizes(std::mt19937& rng, int count, qint64 total);

// German prose as Markdown of at least `utf8Bytes` bytes (a block more at
// most), starting with a level-1 heading. Over some kilobytes it holds every
// construct the editor styles: headings of all six levels, paragraphs with
// bold, italic, code spans and links, quotes, bulleted, numbered and task
// lists, rules and fenced code blocks.
QString germanMarkdown(std::mt19937& rng, qint64 utf8Bytes);

// Writes the corpus below `out` (created when missing). Refuses, touching
// nothing, when out/library or out/single already exists; `error` says why
// it failed.
std::optional<Corpus> writeCorpus(const QString& out, const CorpusOptions& options,
                                  QString* error = nullptr);

} // namespace orvik::bench
