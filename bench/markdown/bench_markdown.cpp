// Markdown to HTML throughput on generated German sheets (seeded: headings,
// paragraphs with bold, italics, code and links, quotes, lists, tasks, fenced
// code, umlauts and typographic quotes), against copying the same text and
// scanning it once for line breaks and markup characters in the same process.
//
//   bench_markdown [--mb M] [--seed S | --file PATH] [--runs N] [--styled KB]
//                  [--cmark] [--case ID]
//
// Each figure is the median of N runs. --file converts that sheet instead of
// generated text. --styled also times the styled exports (PDF, DOCX, RTF) of
// the first KB kilobytes, the size of a long sheet.
//
// --cmark compares with cmark-gfm (on the PATH) on the same bytes, without its
// process start-up (see below). Ours then counts the whole way from UTF-8 bytes to
// UTF-8 HTML, as cmark-gfm's does. --case ID prints, for scripts/bench.sh,
//   ROW <ID> <our MB/s> <cmark-gfm MB/s or -> MB/s

#include "markdown/exporter.h"
#include "markdown/markdowntohtml.h"

#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTextStream>

#include <algorithm>
#include <functional>
#include <random>
#include <vector>

using namespace Qt::StringLiterals;
using namespace orvik;

namespace {

QTextStream out(stdout);

struct Options {
    double megabytes = 4;
    quint32 seed = 7;
    int runs = 5;
    int styledKb = 0;
    QString file;
    QString caseId;
    bool cmark = false;
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
        else if (a == u"--file")
            o.file = value, ++i;
        else if (a == u"--case")
            o.caseId = value, ++i;
        else if (a == u"--cmark")
            o.cmark = true;
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

double medianOf(int runs, const std::function<void()>& work) {
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer t;
        t.start();
        work();
        times.push_back(double(t.nsecsElapsed()) / 1e6);
    }
    std::sort(times.begin(), times.end());
    const size_t n = times.size();
    return n % 2 ? times[n / 2] : (times[n / 2 - 1] + times[n / 2]) / 2;
}

// Milliseconds for one run of cmark-gfm on `paths`, output discarded.
double cmarkMs(const QString& exe, const QStringList& paths) {
    QProcess p;
    p.setStandardOutputFile(QProcess::nullDevice());
    QElapsedTimer t;
    t.start();
    p.start(exe, paths);
    if (!p.waitForFinished(-1) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        qFatal("cmark-gfm failed on %s", qPrintable(paths.value(0)));
    return double(t.nsecsElapsed()) / 1e6;
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
    QByteArray bytes;
    if (!o.file.isEmpty()) {
        QFile f(o.file);
        if (!f.open(QIODevice::ReadOnly))
            qFatal("cannot read %s", qPrintable(o.file));
        bytes = f.readAll();
    } else {
        bytes = generate(o).toUtf8();
    }
    const QString text = QString::fromUtf8(bytes);
    const double mb = double(bytes.size()) / (1024.0 * 1024.0);
    out << "corpus: " << (o.file.isEmpty() ? u"generated"_s : o.file) << ", "
        << QString::number(mb, 'f', 2) << " MB UTF-8, " << text.count(u'\n') << " lines, median of "
        << o.runs << '\n';

    volatile qsizetype sink = 0;
    const double baseline = medianOf(o.runs, [&] {
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
        const double t = medianOf(o.runs, [&] { size = MarkdownToHTML::body(text, style).size(); });
        report(label, t, size);
    }

    if (o.cmark || !o.caseId.isEmpty()) {
        const double ours = medianOf(o.runs, [&] {
            const QString html =
                MarkdownToHTML::body(QString::fromUtf8(bytes), MarkdownToHTML::ListStyle::Markup);
            sink = sink + html.toUtf8().size();
        });
        const double ourRate = mb / (ours / 1000);
        out << "UTF-8 to HTML as UTF-8: " << ms(ours) << ", " << QString::number(ourRate, 'f', 1)
            << " MB/s\n";
        QString peer = u"-"_s;
        const QString exe = o.cmark ? QStandardPaths::findExecutable(u"cmark-gfm"_s) : QString();
        if (o.cmark && exe.isEmpty()) {
            out << "cmark-gfm: not found\n";
        } else if (o.cmark) {
            QTemporaryDir dir;
            const QString input = dir.filePath(u"in.md"_s);
            QFile in(input);
            if (!in.open(QIODevice::WriteOnly) || in.write(bytes) != bytes.size())
                qFatal("cannot write the cmark-gfm input");
            in.close();
            // cmark-gfm joins the files it is given: the time for k copies
            // less the time for one is k - 1 conversions without start-up.
            const int copies =
                int(std::clamp<qint64>(8 * 1048576 / std::max<qint64>(bytes.size(), 1), 2, 200));
            QStringList many;
            for (int i = 0; i < copies; ++i)
                many.append(input);
            const double once = medianOf(o.runs, [&] { cmarkMs(exe, {input}); });
            const double all = medianOf(o.runs, [&] { cmarkMs(exe, many); });
            // Never below a microsecond, so that the rate stays finite.
            const double theirs = std::max((all - once) / (copies - 1), 0.001);
            const double theirRate = mb / (theirs / 1000);
            out << "cmark-gfm: " << ms(once) << " once, " << ms(all) << " for " << copies
                << " copies = " << ms(theirs) << " a copy, " << QString::number(theirRate, 'f', 1)
                << " MB/s; ours " << QString::number(ourRate / theirRate, 'f', 2)
                << "x its throughput\n";
            peer = QString::number(theirRate, 'f', 3);
        }
        if (!o.caseId.isEmpty())
            out << "ROW\t" << o.caseId << '\t' << QString::number(ourRate, 'f', 3) << '\t' << peer
                << "\tMB/s\n";
    }

    if (o.styledKb > 0) {
        const QString sheet = text.left(o.styledKb * 1024);
        QTemporaryDir dir;
        out << "styled exports of " << o.styledKb << " KB:\n";
        for (const Exporter::Format f : {Exporter::Format::Pdf, Exporter::Format::Docx,
                                         Exporter::Format::Rtf, Exporter::Format::Html}) {
            const QString path = dir.filePath(u"x."_s + Exporter::fileExtension(f));
            const double t = medianOf(std::min(o.runs, 3), [&] {
                Exporter::write(sheet, u"Bench"_s, f, u"DejaVu Serif"_s, path);
            });
            out << "  " << Exporter::title(f) << ": " << ms(t) << '\n';
        }
    }
    return sink == -1;
}
