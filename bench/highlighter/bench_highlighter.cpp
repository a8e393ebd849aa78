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

QTextStream out(stdout);

const QStringList words = {
    u"der"_s,       u"die"_s,    u"und"_s,     u"nicht"_s,    u"für"_s,      u"über"_s,
    u"auch"_s,      u"noch"_s,   u"wieder"_s,  u"heute"_s,    u"würde"_s,    u"können"_s,
    u"Garten"_s,    u"Äpfel"_s,  u"Straße"_s,  u"Brücke"_s,   u"Frühling"_s, u"Gespräch"_s,
    u"Zukunft"_s,   u"Küche"_s,  u"Größe"_s,   u"Tagebuch"_s, u"Gedanke"_s,  u"Reise"_s,
    u"schreiben"_s, u"fühlen"_s, u"hören"_s,   u"müssen"_s,   u"ruhig"_s,    u"schön"_s,
    u"groß"_s,      u"spät"_s,   u"draußen"_s, u"während"_s,  u"zurück"_s,   u"weiß"_s};

QString sentence(std::mt19937& rng) {
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

QString markdown(std::mt19937& rng, qsizetype utf8Bytes) {
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
