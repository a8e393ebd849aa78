// Typing in the editor against a bare QPlainTextEdit on the same generated
// German Markdown sheet (seeded: headings, emphasis, code spans and links,
// lists, tasks, quotes, fenced blocks, rules), shown offscreen.
//
//   bench_editor [--kb N] [--seed S] [--keys K]
//
// "open" puts the text into the widget and paints it once; "keystroke" is one
// typed character in the middle of the text, handled and painted, the median
// of K keys (default 400). A fence typed at the top flips every line below.
// The last column repeats the editor with German spell checking on, against
// the editor without it.

#include "spelling/spellchecker.h"
#include "ui/editor/markdowneditor.h"

#include "../common/markdowncorpus.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QTextStream>

#include <algorithm>
#include <random>

using namespace Qt::StringLiterals;

namespace {

using orvik::bench::markdown;

QTextStream out(stdout);

struct Figures {
    double open = 0;
    double keystroke = 0;
    double fence = 0;
};

void key(QWidget* w, Qt::Key code, const QString& text) {
    QKeyEvent press(QEvent::KeyPress, code, Qt::NoModifier, text);
    QApplication::sendEvent(w, &press);
    QKeyEvent release(QEvent::KeyRelease, code, Qt::NoModifier, text);
    QApplication::sendEvent(w, &release);
}

template <typename Open> Figures measure(QPlainTextEdit& edit, const Open& open, int keys) {
    Figures f;
    edit.resize(1000, 800);
    edit.show();
    QApplication::processEvents();
    QElapsedTimer t;
    t.start();
    open();
    edit.viewport()->repaint();
    QApplication::processEvents();
    f.open = t.nsecsElapsed() / 1e6;

    QTextCursor c = edit.textCursor();
    c.setPosition(edit.document()->characterCount() / 2);
    edit.setTextCursor(c);
    edit.centerCursor();
    QApplication::processEvents();
    std::vector<double> times;
    const QString typed = u"Grüße aus der Küche, **fett** und `code` "_s;
    for (int i = 0; i < keys; ++i) {
        const QString ch = typed.mid(i % typed.size(), 1);
        t.restart();
        key(&edit, Qt::Key_unknown, ch);
        edit.viewport()->repaint();
        QApplication::processEvents();
        times.push_back(t.nsecsElapsed() / 1e6);
    }
    std::nth_element(times.begin(), times.begin() + times.size() / 2, times.end());
    f.keystroke = times[times.size() / 2];

    edit.moveCursor(QTextCursor::Start);
    t.restart();
    for (int i = 0; i < 3; ++i)
        key(&edit, Qt::Key_unknown, u"`"_s);
    key(&edit, Qt::Key_Return, u"\r"_s);
    edit.viewport()->repaint();
    QApplication::processEvents();
    f.fence = t.nsecsElapsed() / 1e6;
    edit.hide();
    return f;
}

QString ms(double v) {
    return QString::number(v, 'f', v < 1 ? 3 : 1) + u" ms"_s;
}
QString ratio(double a, double b) {
    return QString::number(a / b, 'f', 2) + u'x';
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    qsizetype size = 1024 * 1024;
    quint32 seed = 42;
    int keys = 400;
    const QStringList args = app.arguments();
    for (qsizetype i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == u"--kb")
            size = args[i + 1].toLongLong() * 1024;
        else if (args[i] == u"--seed")
            seed = args[i + 1].toUInt();
        else if (args[i] == u"--keys")
            keys = std::max(1, args[i + 1].toInt());
    }
    std::mt19937 rng(seed);
    const QString text = markdown(rng, size);

    QPlainTextEdit plain;
    const Figures base = measure(
        plain, [&] { plain.setPlainText(text); }, keys);
    orvik::ui::MarkdownEditor editor;
    const Figures ours = measure(
        editor, [&] { editor.openDocument(u"/bench.md"_s, text); }, keys);

    Figures spelt;
    if (auto* checker = orvik::spelling::SpellChecker::shared()) {
        orvik::ui::MarkdownEditor checked;
        checked.setSpellChecker(checker);
        spelt = measure(
            checked, [&] { checked.openDocument(u"/bench.md"_s, text); }, keys);
    }

    out << "sheet: " << text.toUtf8().size() / 1024 << " KB, " << text.count(u'\n')
        << " lines, seed " << seed << "\n";
    out << "                 QPlainTextEdit   MarkdownEditor   ratio    with spelling    "
           "ratio to editor\n";
    const auto row = [](const char* name, double a, double b, double c) {
        out << QString::fromLatin1(name).leftJustified(17) << ms(a).leftJustified(17)
            << ms(b).leftJustified(17) << ratio(b, a).leftJustified(9)
            << (c > 0 ? ms(c).leftJustified(17) + ratio(c, b) : u"no de_DE dictionary"_s) << "\n";
    };
    row("open", base.open, ours.open, spelt.open);
    row("keystroke", base.keystroke, ours.keystroke, spelt.keystroke);
    row("fence at top", base.fence, ours.fence, spelt.fence);
    return 0;
}
