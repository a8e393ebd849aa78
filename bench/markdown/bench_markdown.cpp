// Markdown to HTML throughput on generated German sheets (seeded: headings,
// paragraphs with bold, italics, code and links, quotes, lists, tasks, fenced
// code, umlauts and typographic quotes), against copying the same text and
// scanning it once for line breaks and markup characters in the same process.
//
//   bench_markdown [--mb M] [--seed S] [--runs N] [--styled KB]
//
// Each figure is the best of N runs. --styled also times the styled exports
// (PDF, DOCX, RTF) of the first KB kilobytes, the size of a long sheet.

#include "markdown/exporter.h"
#include "markdown/markdowntohtml.h"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QTemporaryDir>
#include <QTextStream>

#include <algorithm>
#include <functional>
#include <random>

using namespace Qt::StringLiterals;
using namespace orvik;

namespace {

QTextStream out(stdout);

struct Options {
    double megabytes = 4;
    quint32 seed = 7;
    int runs = 5;
    int styledKb = 0;
};

Options parse(const QStringList& args) {
    Options o;
    for (qsizetype i = 1; i < args.size(); ++i) {
        const QString& a = args[i];
        const QString value = i + 1 < args.size() ? args[i + 1] : QString();
        if (a == u"--mb")
            o.megabytes = value.toDouble(), ++i;
        else if (a == u"--seed")
            o.seed = value.toUInt(), ++i;
        else if (a == u"--runs")
            o.runs = std::max(1, value.toInt()), ++i;
        else if (a == u"--styled")
            o.styledKb = std::max(1, value.toInt()), ++i;
    }
    return o;
}

const QStringList words = {u"der"_s,     u"die"_s,    u"und"_s,      u"Garten"_s,  u"Äpfel"_s,
                           u"Straße"_s,  u"Brücke"_s, u"Frühling"_s, u"über"_s,    u"Gespräch"_s,
                           u"Zukunft"_s, u"Regen"_s,  u"heute"_s,    u"morgen"_s,  u"würde"_s,
                           u"können"_s,  u"„Idee“"_s, u"Woche"_s,    u"Projekt"_s, u"schön"_s,
                           u"müde"_s,    u"Café"_s,   u"größer"_s,   u"Abend"_s};

QString generate(const Options& o) {
    std::mt19937 random(o.seed);
    const auto pick = [&](int n) { return int(random() % quint32(n)); };
    const auto word = [&] {
        QString w = words[pick(int(words.size()))];
        switch (pick(40)) {
        case 0:
            return u"**"_s + w + u"**"_s;
        case 1:
            return u"*"_s + w + u"*"_s;
        case 2:
            return u"`"_s + w + u"`"_s;
        case 3:
            return u"["_s + w + u"](https://example.org/"_s + QString::number(pick(999)) + u")"_s;
        case 4:
            return u"_"_s + w + u"_"_s;
        default:
            return w;
        }
    };
    const auto sentence = [&](int n) {
        QStringList s;
        for (int i = 0; i < n; ++i)
            s << word();
        return s.join(u' ') + u'.';
    };
    const qsizetype target = qsizetype(o.megabytes * 1024 * 1024);
    QString text;
    while (text.size() < target) {
        switch (pick(10)) {
        case 0:
            text += QString(1 + pick(3), u'#') + u' ' + sentence(4) + u"\n\n"_s;
            break;
        case 1:
            text += u"> "_s + sentence(12) + u"\n> "_s + sentence(10) + u"\n\n"_s;
            break;
        case 2:
            for (int i = 0, n = 2 + pick(5); i < n; ++i)
                text += (pick(3) == 0 ? u"- [x] "_s : u"- "_s) + sentence(6) + u'\n';
            text += u'\n';
            break;
        case 3:
            for (int i = 0, n = 2 + pick(4); i < n; ++i)
                text += QString::number(i + 1) + u". "_s + sentence(6) + u'\n';
            text += u'\n';
            break;
        case 4:
            text += u"```\nlet a = b < c && d > e // "_s + sentence(5) + u"\n```\n\n"_s;
            break;
        case 5:
            text += u"---\n\n"_s;
            break;
        default:
            text += sentence(14) + u'\n' + sentence(12) + u'\n' + sentence(9) + u"\n\n"_s;
            break;
        }
    }
    return text;
}

double bestOf(int runs, const std::function<void()>& work) {
    double best = 1e300;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer t;
        t.start();
        work();
        best = std::min(best, double(t.nsecsElapsed()) / 1e6);
    }
    return best;
}

QString ms(double v) {
    return QString::number(v, 'f', 1) + u" ms"_s;
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const Options o = parse(app.arguments());
    const QString text = generate(o);
    const double mb = double(text.toUtf8().size()) / (1024.0 * 1024.0);
    out << "corpus: " << QString::number(mb, 'f', 2) << " MB UTF-8, " << text.count(u'\n')
        << " lines, seed " << o.seed << ", best of " << o.runs << '\n';

    volatile qsizetype sink = 0;
    const double baseline = bestOf(o.runs, [&] {
        QString copy(text.constData(), text.size());
        qsizetype n = 0;
        for (const QChar c : std::as_const(copy))
            n += c == u'\n' || c == u'*' || c == u'_' || c == u'`' || c == u'[';
        sink = sink + n;
    });
    out << "baseline (copy + one scan): " << ms(baseline) << '\n';

    const auto report = [&](const char* label, double t, qsizetype outputSize) {
        out << label << ": " << ms(t) << ", " << QString::number(mb / (t / 1000), 'f', 1)
            << " MB/s, " << QString::number(t / baseline, 'f', 1) << "x baseline (output "
            << QString::number(double(outputSize) / double(text.size()), 'f', 2) << "x input)\n";
    };
    for (const auto& [label, style] :
         {std::pair{"body, markup", MarkdownToHTML::ListStyle::Markup},
          std::pair{"body, paragraphs", MarkdownToHTML::ListStyle::Paragraphs}}) {
        qsizetype size = 0;
        const double t = bestOf(o.runs, [&] { size = MarkdownToHTML::body(text, style).size(); });
        report(label, t, size);
    }

    if (o.styledKb > 0) {
        const QString sheet = text.left(o.styledKb * 1024);
        QTemporaryDir dir;
        out << "styled exports of " << o.styledKb << " KB:\n";
        for (const Exporter::Format f : {Exporter::Format::Pdf, Exporter::Format::Docx,
                                         Exporter::Format::Rtf, Exporter::Format::Html}) {
            const QString path = dir.filePath(u"x."_s + Exporter::fileExtension(f));
            const double t = bestOf(std::min(o.runs, 3), [&] {
                Exporter::write(sheet, u"Bench"_s, f, u"DejaVu Serif"_s, path);
            });
            out << "  " << Exporter::title(f) << ": " << ms(t) << '\n';
        }
    }
    return sink == -1;
}
