// A sync engine bringing in, then taking away, a burst of sheets in the group
// the window shows, while the writer types into the open sheet.
//
//   bench_burst [--files N] [--seconds S] [--runs R]
//
// Another thread writes N sheets into the shown group, spread evenly over S
// seconds, the way a sync engine does (a hidden temporary file renamed into
// place), then removes them at the same pace. Meanwhile a character is typed
// into the open sheet every 50 ms. For each phase:
// - the longest gap a 5 ms timer on the event loop saw, that is the longest
//   the window froze;
// - how often the sheet list grew or shrank (the steps the burst took).
// The run fails when the selection moved, a typed character is missing from
// the editor or the saved sheet, or the list does not end as the disk is.
//
// Besides the table, one line per case for scripts:
//   ROW <tab> case-id <tab> value <tab> - <tab> unit

#include "store/librarystore.h"
#include "ui/editor/editorpane.h"
#include "ui/editor/markdowneditor.h"
#include "ui/window/mainwindow.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QKeyEvent>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <thread>

using namespace Qt::StringLiterals;
using namespace orvik;

namespace {

QTextStream out(stdout);
QTextStream err(stderr);

bool writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QByteArray sheetText(int n) {
    QByteArray text = "# Notiz " + QByteArray::number(n) + "\n\n";
    while (text.size() < 2048)
        text += "Ein Absatz, der von einem anderen Gerät kommt und *etwas* Markdown hat.\n";
    return text;
}

QString sheetName(int n) {
    return u"notiz-"_s + QString::number(n).rightJustified(4, u'0') + u".md"_s;
}

struct Phase {
    double longestPauseMs = 0;
    int steps = 0;
};

// Runs `work` on another thread while the event loop turns, until `done`
// holds; measures the loop's longest pause and the list's changes meanwhile.
template <typename Work, typename Done>
Phase during(LibraryStore& store, QWidget* editor, QString& typed, Work work, Done done) {
    Phase phase;
    QMetaObject::Connection counting = QObject::connect(
        &store, &LibraryStore::sheetsChanged, [&, size = store.sheets().size()]() mutable {
            // The open sheet's entry follows every keystroke: only count
            // changes the burst made.
            if (std::exchange(size, store.sheets().size()) != size)
                ++phase.steps;
        });
    std::atomic_bool finished = false;
    std::thread thread([&] {
        work();
        finished = true;
    });
    QElapsedTimer clock;
    clock.start();
    qint64 last = clock.elapsed();
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    tick.setInterval(5);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        phase.longestPauseMs = std::max<double>(phase.longestPauseMs, double(now - last));
        last = now;
    });
    QTimer typing;
    typing.setInterval(50);
    int next = 0;
    QObject::connect(&typing, &QTimer::timeout, [&] {
        const QString letter(QChar(u'a' + (next++ % 26)));
        QKeyEvent press(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier, letter);
        QApplication::sendEvent(editor, &press);
        QKeyEvent release(QEvent::KeyRelease, Qt::Key_A, Qt::NoModifier, letter);
        QApplication::sendEvent(editor, &release);
        typed += letter;
    });
    tick.start();
    typing.start();
    QElapsedTimer limit;
    limit.start();
    while (!(finished && done()) && limit.elapsed() < 60000)
        QApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
    thread.join();
    QObject::disconnect(counting);
    if (!done())
        err << "the list did not follow the disk within a minute\n";
    return phase;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    int files = 1000;
    double seconds = 2;
    int runs = 3;
    const QStringList args = app.arguments();
    for (qsizetype i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == u"--files")
            files = args[i + 1].toInt();
        else if (args[i] == u"--seconds")
            seconds = args[i + 1].toDouble();
        else if (args[i] == u"--runs")
            runs = args[i + 1].toInt();
    }
    std::vector<double> addPause, removePause, addSteps, removeSteps;
    bool sound = true;
    for (int run = 0; run < runs; ++run) {
        QTemporaryDir dir;
        const QString root = dir.filePath(u"Bibliothek"_s);
        const QString group = root + u"/Ideen"_s;
        QDir().mkpath(group);
        const QString open = group + u"/offen.md"_s;
        writeFile(open, "# Offen\n\nHier schreibe ich.");
        LibraryStore::Options options;
        options.root = root;
        options.backupSchedule = false;
        options.dailyContext = [] { return QtFuture::makeReadyFuture(QString()); };
        LibraryStore store(options);
        ui::MainWindow window(store);
        window.resize(1200, 800);
        window.show();
        const auto settled = [&] { return !store.isListing() && !store.isReadingSheet(); };
        while (!settled())
            QApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
        const QList<Folder> groups = store.folders();
        const auto ideas = std::ranges::find(groups, u"Ideen"_s, &Folder::name);
        store.setSelectedFolderID(ideas->url);
        while (!settled() || store.sheets().isEmpty())
            QApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
        store.setSelectedSheetID(QUrl::fromLocalFile(open));
        while (!settled())
            QApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
        ui::MarkdownEditor* editor = window.editorPane()->editor();
        editor->setFocus();
        QTextCursor end = editor->textCursor();
        end.movePosition(QTextCursor::End);
        editor->setTextCursor(end);
        const QString before = editor->toPlainText();
        QString typed;
        const auto pace = std::chrono::microseconds(qint64(seconds * 1e6 / files));

        const Phase added = during(
            store, editor, typed,
            [&] {
                const auto start = std::chrono::steady_clock::now();
                for (int i = 0; i < files; ++i) {
                    const QString name = sheetName(i);
                    const QString temp = group + u"/.syncthing."_s + name + u".tmp"_s;
                    writeFile(temp, sheetText(i));
                    QFile::rename(temp, group + u'/' + name);
                    std::this_thread::sleep_until(start + pace * (i + 1));
                }
            },
            [&] { return settled() && store.sheets().size() == files + 1; });
        const Phase removed = during(
            store, editor, typed,
            [&] {
                const auto start = std::chrono::steady_clock::now();
                for (int i = 0; i < files; ++i) {
                    QFile::remove(group + u'/' + sheetName(i));
                    std::this_thread::sleep_until(start + pace * (i + 1));
                }
            },
            [&] { return settled() && store.sheets().size() == 1; });

        const bool stayed = store.selectedSheetID() == QUrl::fromLocalFile(open);
        const bool kept = editor->toPlainText() == before + typed;
        window.close(); // saves what waits
        QFile saved(open);
        const bool written =
            saved.open(QIODevice::ReadOnly) && QString::fromUtf8(saved.readAll()) == before + typed;
        if (!stayed || !kept || !written) {
            err << "run " << run << ": selection kept " << stayed << ", text in editor " << kept
                << ", text on disk " << written << '\n';
            sound = false;
        }
        addPause.push_back(added.longestPauseMs);
        removePause.push_back(removed.longestPauseMs);
        addSteps.push_back(added.steps);
        removeSteps.push_back(removed.steps);
        out << "run " << run << ": arriving " << added.longestPauseMs << " ms longest pause, "
            << added.steps << " steps; leaving " << removed.longestPauseMs << " ms, "
            << removed.steps << " steps" << Qt::endl;
    }
    out << "ROW\tburst-add\t" << median(addPause) << "\t-\tms\n";
    out << "ROW\tburst-remove\t" << median(removePause) << "\t-\tms\n";
    out << "ROW\tburst-add-steps\t" << median(addSteps) << "\t-\tsteps\n";
    out << "ROW\tburst-remove-steps\t" << median(removeSteps) << "\t-\tsteps\n";
    out.flush();
    return sound ? 0 : 1;
}
