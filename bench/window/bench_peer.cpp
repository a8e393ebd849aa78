// One editor program as a writer meets it, measured from outside on an X
// server: the same for Orvik and for a peer, neither needs to cooperate.
//
//   bench_peer --case ID [--chars N] [--cps N] [--pages N] [--settle MS] [--shown-only]
//              -- PROGRAM ARGS...
//
// - shown: from starting PROGRAM to the last change of the screen before it
//   stays still for --settle ms while the program rests (a blinking caret,
//   under 600 pixels, is no change; resting is at most a tenth of that time
//   on the CPU, so that a program still loading behind a still window is not
//   taken for done): the first paint with the sheet loaded. The screen is
//   grabbed about every 10 ms, so the figure is that coarse.
// - cpu: the caret is put into the middle of the sheet (Strg+Ende, then
//   --pages times Bild auf), then xdotool types N characters at --cps a
//   second; the CPU time of the program and its children (user + system,
//   /proc/PID/stat) from before the first key until the screen is still
//   again, per character. The kernel counts in ticks of 10 ms, so N keys
//   give a resolution of 10/N ms. Left out with --shown-only, which reports
//   the first change of the screen, the window's first paint, instead.
//
// Prints, for scripts:
//   ROW <tab> ID-shown <tab> ms <tab> - <tab> ms
//   ROW <tab> ID-cpu <tab> ms per character <tab> - <tab> ms
//   ROW <tab> ID-first <tab> ms <tab> - <tab> ms         (--shown-only)

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QProcess>
#include <QScreen>
#include <QTextStream>
#include <QThread>

#include <algorithm>
#include <csignal>
#include <optional>

#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

QTextStream out(stdout);
QTextStream err(stderr);

QImage grab() {
    return QGuiApplication::primaryScreen()->grabWindow(0).toImage().convertToFormat(
        QImage::Format_RGB32);
}

// Whether two frames differ by more than a blinking caret.
bool changed(const QImage& a, const QImage& b) {
    if (a.size() != b.size())
        return true;
    constexpr int caret = 600;
    int differing = 0;
    for (int y = 0; y < a.height(); ++y) {
        const auto* p = reinterpret_cast<const quint32*>(a.constScanLine(y));
        const auto* q = reinterpret_cast<const quint32*>(b.constScanLine(y));
        for (int x = 0; x < a.width(); ++x)
            if (p[x] != q[x] && ++differing > caret)
                return true;
    }
    return false;
}

// CPU ticks of a process and of every process below it.
qint64 ticksOfTree(qint64 root) {
    QHash<qint64, qint64> parent, ticks;
    for (const QString& entry : QDir(u"/proc"_s).entryList(QDir::Dirs)) {
        bool number = false;
        const qint64 pid = entry.toLongLong(&number);
        if (!number)
            continue;
        QFile stat(u"/proc/"_s + entry + u"/stat"_s);
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray line = stat.readAll();
        // The command may hold spaces and parentheses: fields follow the last ')'.
        const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
        if (fields.size() < 13)
            continue;
        parent.insert(pid, fields[1].toLongLong());
        ticks.insert(pid, fields[11].toLongLong() + fields[12].toLongLong());
    }
    qint64 sum = 0;
    for (auto it = ticks.cbegin(); it != ticks.cend(); ++it) {
        for (qint64 p = it.key(); p > 1; p = parent.value(p, 0))
            if (p == root) {
                sum += it.value();
                break;
            }
    }
    return sum;
}

// Grabs until the screen stayed still for `settleMs` while the program
// (and what it started) mostly rested: a program still loading may show a
// still window for seconds. The time of the last change since `clock`
// started, or nothing when it never settled; `first` gets the first change.
std::optional<qint64> lastChange(const QProcess& program, const QElapsedTimer& clock,
                                 qint64 settleMs, qint64 limitMs, bool needChange,
                                 qint64* first = nullptr) {
    const qint64 pid = program.processId();
    const double msPerTick = 1000.0 / double(::sysconf(_SC_CLK_TCK));
    QList<std::pair<qint64, qint64>> load; // (ms, CPU ticks), every 100 ms
    QImage before = grab();
    qint64 last = clock.elapsed();
    bool any = false;
    while (clock.elapsed() < limitMs && program.state() == QProcess::Running) {
        QThread::msleep(10);
        const qint64 now = clock.elapsed();
        if (load.isEmpty() || now - load.last().first >= 100)
            load.append({now, ticksOfTree(pid)});
        QImage shot = grab();
        if (changed(before, shot)) {
            last = now;
            if (!any && first)
                *first = last;
            any = true;
            before = std::move(shot);
            continue;
        }
        if (now - last < settleMs || (!any && needChange))
            continue;
        // CPU over the settle time: at most a tenth of it.
        const auto since = std::find_if(load.cbegin(), load.cend(), [&](const auto& sample) {
            return sample.first >= now - settleMs;
        });
        if (since != load.cend() && now - since->first >= settleMs * 9 / 10 &&
            double(load.last().second - since->second) * msPerTick <= double(settleMs) / 10)
            return last;
    }
    return std::nullopt;
}

bool xdotool(const QStringList& args) {
    return QProcess::execute(u"xdotool"_s, args) == 0;
}

} // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    QString id = u"editor"_s;
    int chars = 300, cps = 20, pages = 0;
    qint64 settle = 1500;
    bool shownOnly = false;
    QStringList command;
    const QStringList args = app.arguments();
    for (qsizetype i = 1; i < args.size(); ++i) {
        if (args[i] == u"--") {
            command = args.mid(i + 1);
            break;
        }
        if (args[i] == u"--shown-only") {
            shownOnly = true;
            continue;
        }
        if (i + 1 >= args.size())
            break;
        const QString value = args[++i];
        if (args[i - 1] == u"--case")
            id = value;
        else if (args[i - 1] == u"--chars")
            chars = value.toInt();
        else if (args[i - 1] == u"--cps")
            cps = value.toInt();
        else if (args[i - 1] == u"--pages")
            pages = value.toInt();
        else if (args[i - 1] == u"--settle")
            settle = value.toLongLong();
    }
    if (command.isEmpty() || chars <= 0 || cps <= 0) {
        err << "usage: bench_peer --case ID [--chars N] [--cps N] [--pages N] [--settle MS] "
               "[--shown-only] -- PROGRAM ARGS...\n";
        return 2;
    }
    const auto ticksPerMs = double(::sysconf(_SC_CLK_TCK)) / 1000;

    QProcess program;
    program.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    program.setStandardOutputFile(QProcess::nullDevice());
    QElapsedTimer clock;
    clock.start();
    program.start(command.first(), command.mid(1));
    if (!program.waitForStarted()) {
        err << "cannot start " << command.first() << '\n';
        return 1;
    }
    const qint64 pid = program.processId();
    qint64 firstPaint = 0;
    const std::optional<qint64> shown =
        lastChange(program, clock, settle, 120000, true, &firstPaint);
    const auto stop = [&] {
        program.terminate();
        if (!program.waitForFinished(5000))
            program.kill();
        program.waitForFinished(2000);
    };
    if (!shown || program.state() != QProcess::Running) {
        err << command.first() << " did not show a still window\n";
        stop();
        return 1;
    }

    if (shownOnly) {
        stop();
        out << id << ": first paint after " << firstPaint << " ms, still after " << *shown
            << " ms\n";
        out << "ROW\t" << id << "-first\t" << firstPaint << "\t-\tms\n";
        out << "ROW\t" << id << "-shown\t" << *shown << "\t-\tms\n";
        return 0;
    }

    const QString window = [&] {
        QProcess search;
        search.start(u"xdotool"_s,
                     {u"search"_s, u"--onlyvisible"_s, u"--pid"_s, QString::number(pid)});
        search.waitForFinished();
        return QString::fromUtf8(search.readAllStandardOutput()).split(u'\n').value(0);
    }();
    if (window.isEmpty() || !xdotool({u"windowfocus"_s, u"--sync"_s, window})) {
        err << "no window of " << command.first() << " to type into\n";
        stop();
        return 1;
    }
    xdotool({u"key"_s, u"ctrl+End"_s});
    if (pages > 0)
        xdotool(
            {u"key"_s, u"--delay"_s, u"2"_s, u"--repeat"_s, QString::number(pages), u"Prior"_s});
    QElapsedTimer still;
    still.start();
    lastChange(program, still, settle, 60000, false);

    QString text;
    const QString words = u"der schnelle text geht weiter "_s;
    while (text.size() < chars)
        text += words;
    text.truncate(chars);
    const qint64 before = ticksOfTree(pid);
    xdotool({u"type"_s, u"--delay"_s, QString::number(1000 / cps), text});
    QElapsedTimer after;
    after.start();
    lastChange(program, after, settle, 60000, false);
    const qint64 spent = ticksOfTree(pid) - before;
    const bool alive = program.state() == QProcess::Running;
    stop();
    if (!alive) {
        err << command.first() << " ended while typed into\n";
        return 1;
    }
    const double perChar = double(spent) / ticksPerMs / chars;
    out << id << ": shown after " << *shown << " ms; " << perChar << " ms CPU per typed character ("
        << spent << " ticks for " << chars << ")\n";
    out << "ROW\t" << id << "-shown\t" << *shown << "\t-\tms\n";
    out << "ROW\t" << id << "-cpu\t" << perChar << "\t-\tms\n";
    return 0;
}
