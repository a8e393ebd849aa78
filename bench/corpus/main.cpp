// Writes the benchmark corpus: a library of ten groups (one of them big) and
// three long single sheets, all from one seed.
//
//   orvik_bench_corpus --out DIR [--seed N] [--small | --large]
//
// Prints what it wrote as tab-separated lines for scripts:
//   LIBRARY <path> <bytes> <sheets>
//   GROUP <name> <sheets>        (the big group first)
//   SINGLE <path> <bytes>

#include "../common/librarycorpus.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QTextStream>

using namespace Qt::StringLiterals;

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    QTextStream err(stderr);
    QString folder;
    quint32 seed = 1;
    bool small = false;
    bool large = false;
    const QStringList args = app.arguments();
    for (qsizetype i = 1; i < args.size(); ++i) {
        bool ok = true;
        if (args[i] == u"--out" && i + 1 < args.size())
            folder = args[++i];
        else if (args[i] == u"--seed" && i + 1 < args.size())
            seed = args[++i].toUInt(&ok);
        else if (args[i] == u"--small")
            small = true;
        else if (args[i] == u"--large")
            large = true;
        else
            ok = false;
        if (!ok) {
            err << "usage: orvik_bench_corpus --out DIR [--seed N] [--small | --large]\n";
            return 2;
        }
    }
    if (folder.isEmpty()) {
        err << "usage: orvik_bench_corpus --out DIR [--seed N] [--small | --large]\n";
        return 2;
    }
    const auto options = small   ? orvik::bench::CorpusOptions::small(seed)
                         : large ? orvik::bench::CorpusOptions::large(seed)
                                 : orvik::bench::CorpusOptions::full(seed);
    QString error;
    const auto corpus = orvik::bench::writeCorpus(folder, options, &error);
    if (!corpus) {
        err << "orvik_bench_corpus: " << error << '\n';
        return 1;
    }
    int sheets = 0;
    for (const int n : corpus->sheetsPerGroup)
        sheets += n;
    out << "LIBRARY\t" << corpus->library << '\t' << corpus->libraryBytes << '\t' << sheets << '\n';
    for (qsizetype g = 0; g < corpus->groups.size(); ++g)
        out << "GROUP\t" << corpus->groups[g] << '\t' << corpus->sheetsPerGroup[g] << '\n';
    for (const QString& path : corpus->singles)
        out << "SINGLE\t" << path << '\t' << QFileInfo(path).size() << '\n';
    return 0;
}
