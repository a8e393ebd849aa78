// Highlighter timings on generated German Markdown (seeded: headings,
// paragraphs with emphasis, code spans and links, lists, tasks, quotes,
// fenced blocks, rules), against plain work on the same text in the same
// process: one QRegularExpression pass (the bold pattern, every match taken)
// and a deep QString copy.
//
//   bench_highlighter [--kb N ...] [--seed S] [--runs R]
//
// Sizes default to 100 KB and 1 MB of UTF-8. Every figure is the best of R
// runs (default 7). "keystroke" is what an editor does for one typed
// character: the edited line's fence marks, pairing all marks of the text,
// the stretches whose code block membership changed, and the line's ranges.

#include "markdown/highlighter.h"

#include "../common/markdowncorpus.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QRegularExpression>
#include <QTextStream>

#include <algorithm>
#include <functional>
#include <random>

using namespace Qt::StringLiterals;
using namespace orvik::MarkdownHighlighter;

namespace {

using orvik::bench::markdown;

QTextStream out(stdout);

double bestOf(int runs, const std::function<void()>& work) {
    double best = 1e300;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer t;
        t.start();
        work();
        best = std::min(best, t.nsecsElapsed() / 1e6);
    }
    return best;
}

QString ms(double v) {
    return QString::number(v, 'f', v < 1 ? 3 : 1) + u" ms"_s;
}
QString ratio(double a, double b) {
    return QString::number(a / b, 'f', 2) + u'x';
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QList<qsizetype> sizes;
    quint32 seed = 42;
    int runs = 7;
    const QStringList args = app.arguments();
    for (qsizetype i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == u"--kb")
            sizes.append(args[i + 1].toLongLong() * 1024);
        else if (args[i] == u"--seed")
            seed = args[i + 1].toUInt();
        else if (args[i] == u"--runs")
            runs = std::max(1, args[i + 1].toInt());
    }
    if (sizes.isEmpty())
        sizes = {100 * 1024, 1024 * 1024};

    // Ranges do not depend on the font sizes, only on which faces exist.
    const Faces faces{{true, true, false}, {true, true, true}};
    const QRegularExpression bold(uR"((\*\*|__)(?=\S)(.+?)(?<=\S)\1)"_s);
    bold.optimize();
    volatile qsizetype sink = 0;

    for (const qsizetype size : sizes) {
        std::mt19937 rng(seed);
        const QString text = markdown(rng, size);
        qsizetype lineCount = 0;
        for (const QChar c : text)
            lineCount += c == u'\n';
        out << "text: " << text.toUtf8().size() / 1024 << " KB UTF-8, " << text.size()
            << " UTF-16 units, " << lineCount << " lines, seed " << seed << "\n";

        const double copy = bestOf(runs, [&] {
            QString c(text.constData(), text.size());
            sink = sink + c.size();
        });
        const double regex = bestOf(runs, [&] {
            auto it = bold.globalMatch(text);
            qsizetype n = 0;
            while (it.hasNext())
                n += it.next().capturedLength(2);
            sink = sink + n;
        });
        out << "  baseline QString copy: " << ms(copy) << "; one regex pass (bold): " << ms(regex)
            << "\n";

        QList<StyledRange> whole;
        const double all = bestOf(runs, [&] { whole = ranges(text, faces); });
        out << "  ranges, whole text: " << ms(all) << " (" << whole.size()
            << " ranges) = " << ratio(all, regex) << " regex pass, " << ratio(all, copy)
            << " copy\n";

        QList<CodeBlock> blocks;
        const double fences = bestOf(runs, [&] { blocks = codeBlocks(text); });
        out << "  code blocks, whole text: " << ms(fences) << " (" << blocks.size()
            << " blocks) = " << ratio(fences, regex) << " regex pass\n";

        const double lineByLine = bestOf(runs, [&] {
            qsizetype n = 0;
            for (qsizetype start = 0; start < text.size();) {
                qsizetype end = text.indexOf(u'\n', start);
                end = end < 0 ? text.size() : end + 1;
                n += lineRanges(QStringView(text).sliced(start, end - start), start, blocks, faces)
                         .size();
                start = end;
            }
            sink = sink + n;
        });
        out << "  ranges, line by line: " << ms(lineByLine) << " = " << ratio(lineByLine, all)
            << " whole text\n";

        // A typed character in a paragraph line at the middle of the text.
        qsizetype start = text.indexOf(u"\n\n"_s, text.size() / 2) + 2;
        while (!text[start].isUpper())
            start = text.indexOf(u'\n', start) + 1;
        const qsizetype end = text.indexOf(u'\n', start);
        const QStringView line = QStringView(text).sliced(start, end - start);
        const QList<FenceMark> marks = fenceMarks(text);
        const int keystrokes = 1000;
        const double keystroke =
            bestOf(runs,
                   [&] {
                       qsizetype n = 0;
                       for (int k = 0; k < keystrokes; ++k) {
                           n += fenceMarks(line, start).size();
                           n += pairFences(marks).size();
                           n += changedStretches(blocks, blocks, start + 5, 0, 1).size();
                           n += lineRanges(line, start, blocks, faces).size();
                       }
                       sink = sink + n;
                   }) /
            keystrokes;
        out << "  keystroke (" << line.size() << "-unit line, " << marks.size()
            << " fence marks): " << QString::number(keystroke * 1000, 'f', 1) << " us\n";
    }
    return 0;
}
