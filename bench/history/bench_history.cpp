// The word diff of a sheet against its previous version, as the history
// shows it: a long sheet with edits spread over it (words changed, added and
// removed every few paragraphs, one paragraph moved to the end).
//
//   bench_history --file PATH [--runs N] [--case ID]
//
// The figure is the median of N runs (default 5). --case ID prints, for
// scripts/bench.sh,
//   ROW <ID> <milliseconds> - ms

#include "safekeeping/worddiff.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTextStream>

#include <algorithm>
#include <vector>

using namespace Qt::StringLiterals;
using namespace orvik;

namespace {

// The sheet as it may have been an hour earlier.
QString previousVersion(const QString& text) {
    QStringList paragraphs = text.split(u'\n');
    for (qsizetype i = 0; i < paragraphs.size(); ++i) {
        QString& p = paragraphs[i];
        if (i % 40 == 7)
            p = p.section(u' ', 0, 2) + u" früher"_s + p.section(u' ', 3);
        else if (i % 60 == 13)
            p = p.section(u' ', 1);
        else if (i % 90 == 21)
            p += u" und noch ein Satz, der später wegfiel."_s;
    }
    if (paragraphs.size() > 10)
        paragraphs.append(paragraphs.takeAt(3));
    return paragraphs.join(u'\n');
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    QString path;
    QString caseId;
    int runs = 5;
    for (qsizetype i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == u"--file")
            path = args[i + 1];
        else if (args[i] == u"--runs")
            runs = std::max(1, args[i + 1].toInt());
        else if (args[i] == u"--case")
            caseId = args[i + 1];
    }
    QFile file(path);
    if (path.isEmpty() || !file.open(QIODevice::ReadOnly)) {
        QTextStream(stderr) << "usage: bench_history --file PATH [--runs N] [--case ID]\n";
        return 2;
    }
    const QString current = QString::fromUtf8(file.readAll());
    const QString previous = previousVersion(current);
    std::vector<double> times;
    worddiff::Counts counts;
    for (int run = 0; run < runs; ++run) {
        QElapsedTimer timer;
        timer.start();
        const QList<worddiff::Piece> pieces = worddiff::diff(previous, current);
        times.push_back(double(timer.nsecsElapsed()) / 1e6);
        counts = worddiff::countWords(pieces);
    }
    std::sort(times.begin(), times.end());
    const double median = times[times.size() / 2];
    QTextStream out(stdout);
    out << "word diff of " << current.size()
        << " characters against the previous version: " << QString::number(median, 'f', 1)
        << " ms, +" << counts.inserted << " / -" << counts.removed << " words, median of " << runs
        << '\n';
    if (!caseId.isEmpty())
        out << "ROW\t" << caseId << '\t' << QString::number(median, 'f', 3) << "\t-\tms\n";
    return 0;
}
