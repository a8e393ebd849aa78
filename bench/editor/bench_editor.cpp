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

#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QTextStream>

#include <algorithm>
#include <random>

using namespace Qt::StringLiterals;

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
