// The editor against a bare QPlainTextEdit on the same German Markdown sheets
// (1 MB and 5 MB), shown offscreen, both measured in this process.
//
//   bench_editor [--file1 PATH] [--file5 PATH] [--seed S] [--keys K] [--runs R]
//                [--spelling] [--shapes-only | --no-shapes] [--shape-scale F]
//
// Without --file1/--file5 the sheets are generated (seeded: headings,
// emphasis, code spans and links, lists, tasks, quotes, fenced blocks, rules).
//
// - open: the text put into the widget, styled completely (idle work run to
//   its end) and painted; median of R runs. The 5 MB sheet is loaded the
//   same way, in pieces as the editor does with sheets that large.
// - type: one typed character in the middle of the text, handled and
//   painted; median of K keys.
// - type with modes: the same with focus and typewriter mode on and the
//   outline and preview beside the text, against the editor alone.
// - fence: "```" and Enter typed at the top, which flips every line below
//   into code, until the lines in view are restyled and painted; median of
//   R runs. The lines out of view follow in idle time.
//
// - pause-*: pathological sheets (one 8 MB line of letters, of NUL, of
//   words; a note holding a 5 MB data URI; 100 MB of NUL) opened, loaded,
//   styled, scrolled to the end and typed into once: the longest gap a 10 ms
//   timer on the event loop saw, that is the longest the window froze.
//   --shape-scale shrinks the shapes (smoke runs); --no-shapes leaves them
//   out; --shapes-only skips the
//   rest.
//
// Besides the table, one line per case for scripts:
//   ROW <tab> case-id <tab> editor median <tab> peer median or - <tab> ms

#include "spelling/spellchecker.h"
#include "ui/editor/markdowneditor.h"
#include "ui/editor/outlinepanel.h"
#include "ui/editor/previewpanel.h"

#include "../common/markdowncorpus.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextStream>
#include <QTimer>

#include <algorithm>
#include <functional>
#include <random>

using namespace Qt::StringLiterals;

namespace {

using orvik::bench::markdown;
using orvik::ui::MarkdownEditor;

QTextStream out(stdout);
QTextStream err(stderr);

double median(std::vector<double> v) {
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

void key(QWidget* w, Qt::Key code, const QString& text) {
    QKeyEvent press(QEvent::KeyPress, code, Qt::NoModifier, text);
    QApplication::sendEvent(w, &press);
    QKeyEvent release(QEvent::KeyRelease, code, Qt::NoModifier, text);
    QApplication::sendEvent(w, &release);
}

// Lets idle styling run to its end, so that one measurement starts clean.
void settle(QPlainTextEdit& edit) {
    if (auto* editor = qobject_cast<MarkdownEditor*>(&edit))
        editor->finishStyling();
    QApplication::processEvents();
}

struct Widget {
    QPlainTextEdit& edit;
    std::function<void(const QString&)> open;

    void show() {
        edit.resize(1000, 800);
        edit.show();
        QApplication::processEvents();
    }

    double openOnce(const QString& text) {
        QElapsedTimer t;
        t.start();
        open(text);
        if (auto* editor = qobject_cast<MarkdownEditor*>(&edit)) {
            // A sheet above the editor's limit arrives in pieces.
            while (editor->isLoading() || editor->stylingPending())
                QApplication::processEvents();
        }
        edit.viewport()->repaint();
        QApplication::processEvents();
        return t.nsecsElapsed() / 1e6;
    }

    double typing(int keys) {
        QTextCursor c = edit.textCursor();
        c.setPosition(edit.document()->characterCount() / 2);
        edit.setTextCursor(c);
        edit.centerCursor();
        settle(edit);
        std::vector<double> times;
        const QString typed = u"Grüße aus der Küche, **fett** und `code` "_s;
        QElapsedTimer t;
        for (int i = 0; i < keys; ++i) {
            const QString ch = typed.mid(i % typed.size(), 1);
            t.start();
            key(&edit, Qt::Key_unknown, ch);
            edit.viewport()->repaint();
            QApplication::processEvents();
            times.push_back(t.nsecsElapsed() / 1e6);
        }
        return median(times);
    }

    double fence(int runs) {
        std::vector<double> times;
        QElapsedTimer t;
        for (int r = 0; r < runs; ++r) {
            edit.moveCursor(QTextCursor::Start);
            edit.verticalScrollBar()->setValue(0);
            settle(edit);
            t.start();
            for (int i = 0; i < 3; ++i)
                key(&edit, Qt::Key_unknown, u"`"_s);
            key(&edit, Qt::Key_Return, u"\r"_s);
            edit.viewport()->repaint();
            times.push_back(t.nsecsElapsed() / 1e6);
            for (int i = 0; i < 4; ++i)
                key(&edit, Qt::Key_Backspace, QString());
            settle(edit);
        }
        return median(times);
    }
};

// The longest the event loop went without turning while `start` opened a
// sheet and the editor loaded, styled and showed it to its end; stops
// waiting after `capMs`.
double longestPause(MarkdownEditor& editor, const QString& text, qint64 capMs) {
    QElapsedTimer clock;
    clock.start();
    qint64 last = 0;
    qint64 worst = 0;
    int phase = 0;
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    probe.setInterval(10);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        worst = std::max(worst, now - last);
        last = now;
        if (phase == 1 && !editor.isLoading() && !editor.stylingPending()) {
            // Where a writer goes next: the end, and a word typed there.
            phase = 2;
            QTimer::singleShot(0, &editor, [&] {
                editor.moveCursor(QTextCursor::End);
                editor.ensureCursorVisible();
                QTimer::singleShot(20, &editor, [&] {
                    key(&editor, Qt::Key_unknown, u"x"_s);
                    QTimer::singleShot(50, &editor, [&] { phase = 3; });
                });
            });
        }
    });
    probe.start();
    last = clock.nsecsElapsed();
    QTimer::singleShot(0, &editor, [&] {
        editor.openDocument(u"/pathological.md"_s, text);
        phase = 1;
    });
    while (phase != 3 && clock.elapsed() < capMs)
        QApplication::processEvents(QEventLoop::WaitForMoreEvents);
    probe.stop();
    return std::max(worst, clock.nsecsElapsed() - last) / 1e6;
}

QString ms(double v) {
    return QString::number(v, 'f', v < 1 ? 3 : 1) + u" ms"_s;
}

QString sheet(const QString& path, quint32 seed, qsizetype bytes) {
    if (path.isEmpty()) {
        std::mt19937 rng(seed);
        return markdown(rng, bytes);
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        err << "bench_editor: cannot read " << path << ": " << file.errorString() << "\n";
        return QString();
    }
    return QString::fromUtf8(file.readAll());
}

struct Row {
    QString id;
    double ours = 0;
    double peer = -1;
};

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    quint32 seed = 42;
    int keys = 400;
    int runs = 5;
    bool spelling = false;
    bool shapesOnly = false;
    bool noShapes = false;
    double scale = 1;
    QString file1;
    QString file5;
    const QStringList args = app.arguments();
    for (qsizetype i = 1; i < args.size(); ++i) {
        const QString& a = args[i];
        const bool hasValue = i + 1 < args.size();
        if (a == u"--spelling") {
            spelling = true;
        } else if (a == u"--shapes-only") {
            shapesOnly = true;
        } else if (a == u"--no-shapes") {
            noShapes = true;
        } else if (a == u"--shape-scale" && hasValue) {
            scale = std::clamp(args[++i].toDouble(), 0.001, 1.0);
        } else if (a == u"--file1" && hasValue) {
            file1 = args[++i];
        } else if (a == u"--file5" && hasValue) {
            file5 = args[++i];
        } else if (a == u"--seed" && hasValue) {
            seed = args[++i].toUInt();
        } else if (a == u"--keys" && hasValue) {
            keys = std::max(1, args[++i].toInt());
        } else if (a == u"--runs" && hasValue) {
            runs = std::max(1, args[++i].toInt());
        } else {
            err << "usage: bench_editor [--file1 PATH] [--file5 PATH] [--seed S] [--keys K] "
                   "[--runs R] [--spelling] [--shapes-only | --no-shapes] [--shape-scale F]\n";
            return 2;
        }
    }
    const QString text1 = shapesOnly ? QString() : sheet(file1, seed, 1024 * 1024);
    const QString text5 = shapesOnly ? QString() : sheet(file5, seed + 1, 5 * 1024 * 1024);
    if (!shapesOnly && (text1.isEmpty() || text5.isEmpty()))
        return 1;

    QList<Row> rows;
    if (!shapesOnly) {
        QPlainTextEdit plain;
        MarkdownEditor editor;
        Widget peer{plain, [&](const QString& t) { plain.setPlainText(t); }};
        Widget ours{editor, [&](const QString& t) { editor.openDocument(u"/bench.md"_s, t); }};
        peer.show();
        ours.show();
        std::vector<double> openPeer;
        std::vector<double> openOurs;
        for (int r = 0; r < runs; ++r) {
            openPeer.push_back(peer.openOnce(text1));
            openOurs.push_back(ours.openOnce(text1));
        }
        rows.append({u"editor-open-1mb"_s, median(openOurs), median(openPeer)});
        const double typePeer = peer.typing(keys);
        const double typeOurs = ours.typing(keys);
        rows.append({u"editor-type-1mb"_s, typeOurs, typePeer});
        // No peer: a bare view has nothing to restyle.
        rows.append({u"editor-fence-1mb"_s, ours.fence(runs), -1});
        // The writing modes and both panels against the same editor alone.
        QWidget row;
        auto* columns = new QHBoxLayout(&row);
        auto* withModes = new MarkdownEditor;
        withModes->setFocusMode(true);
        withModes->setTypewriterMode(true);
        columns->addWidget(new orvik::ui::OutlinePanel(withModes));
        columns->addWidget(withModes, 1);
        columns->addWidget(new orvik::ui::PreviewPanel(withModes), 1);
        Widget modes{*withModes,
                     [&](const QString& t) { withModes->openDocument(u"/bench.md"_s, t); }};
        row.resize(1800, 800);
        row.show();
        QApplication::processEvents();
        modes.openOnce(text1);
        rows.append({u"editor-modes-1mb"_s, modes.typing(keys), typeOurs});
    }
    if (!shapesOnly) {
        QPlainTextEdit plain;
        MarkdownEditor editor;
        Widget peer{plain, [&](const QString& t) { plain.setPlainText(t); }};
        Widget ours{editor, [&](const QString& t) { editor.openDocument(u"/bench.md"_s, t); }};
        peer.show();
        ours.show();
        peer.openOnce(text5);
        ours.openOnce(text5);
        const double typePeer = peer.typing(keys);
        const double typeOurs = ours.typing(keys);
        rows.append({u"editor-type-5mb"_s, typeOurs, typePeer});
    }
    if (!noShapes) {
        const auto mb = [scale](double n) { return qsizetype(n * scale * 1024 * 1024); };
        const auto repeated = [](const QString& unit, qsizetype size) {
            QString s = unit.repeated(size / unit.size() + 1);
            s.truncate(size);
            return s;
        };
        QString words;
        for (std::mt19937 rng(seed); words.size() < mb(8);) {
            words += orvik::bench::words[rng() % orvik::bench::words.size()];
            words += u' ';
        }
        const QString image =
            u"# Skizze\n\nDas Bild vom Markt:\n\n![Markt](data:image/png;base64,"_s +
            repeated(
                u"iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAYAAAAfFcSJAAAADUlEQVR42mNk+M9QDwADhgGAWjR9awAAAABJRU5ErkJggg"_s,
                mb(5)) +
            u")\n\nDanach ging es heim.\n"_s;
        const std::vector<std::pair<QString, QString>> shapes = {
            {u"pause-letters-8mb"_s, repeated(u"abcdefghijklmnopqrstuvwxyzäöüß"_s, mb(8))},
            {u"pause-nul-8mb"_s, QString(mb(8), QChar(0))},
            {u"pause-words-8mb"_s, words},
            {u"pause-datauri-5mb"_s, image},
            {u"pause-nul-100mb"_s, QString(mb(100), QChar(0))},
        };
        for (const auto& [id, text] : shapes) {
            MarkdownEditor editor;
            editor.resize(1000, 800);
            editor.show();
            QApplication::processEvents();
            const double pause = longestPause(editor, text, 60000);
            // The typed letter, unless the sheet is shown read-only.
            if (editor.text() != text && editor.text() != text + u'x')
                err << "bench_editor: " << id << " lost or changed text\n";
            rows.append({id, pause, -1});
        }
    }

    if (!shapesOnly)
        out << "sheets: " << text1.toUtf8().size() / 1024 << " KB (" << text1.count(u'\n')
            << " lines), " << text5.toUtf8().size() / 1024 << " KB (" << text5.count(u'\n')
            << " lines); "
            << (file1.isEmpty() ? u"generated, seed "_s + QString::number(seed) : file1) << "\n";
    out << "case               QPlainTextEdit   MarkdownEditor   ratio\n";
    for (const Row& r : std::as_const(rows)) {
        out << r.id.leftJustified(19) << (r.peer >= 0 ? ms(r.peer) : u"-"_s).leftJustified(17)
            << ms(r.ours).leftJustified(17)
            << (r.peer > 0 ? QString::number(r.ours / r.peer, 'f', 2) + u'x' : u"-"_s) << "\n";
    }

    if (spelling) {
        if (auto* checker = orvik::spelling::SpellChecker::shared()) {
            MarkdownEditor plainEditor;
            MarkdownEditor checked;
            checked.setSpellChecker(checker);
            Widget a{plainEditor,
                     [&](const QString& t) { plainEditor.openDocument(u"/bench.md"_s, t); }};
            Widget b{checked, [&](const QString& t) { checked.openDocument(u"/bench.md"_s, t); }};
            a.show();
            b.show();
            const double openA = a.openOnce(text1);
            const double openB = b.openOnce(text1);
            const double typeA = a.typing(keys);
            const double typeB = b.typing(keys);
            out << "with spelling, 1 MB: open " << ms(openB) << " ("
                << QString::number(openB / openA, 'f', 2) << "x the editor without), keystroke "
                << ms(typeB) << " (" << QString::number(typeB / typeA, 'f', 2) << "x)\n";
        } else {
            out << "with spelling: no de_DE dictionary\n";
        }
    }

    for (const Row& r : std::as_const(rows)) {
        out << "ROW\t" << r.id << '\t' << QString::number(r.ours, 'f', 3) << '\t'
            << (r.peer >= 0 ? QString::number(r.peer, 'f', 3) : u"-"_s) << "\tms\n";
    }
    return 0;
}
