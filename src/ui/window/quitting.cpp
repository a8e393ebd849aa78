#include "quitting.h"

#include "store/librarystore.h"

#include <QGuiApplication>
#include <QSessionManager>
#include <QSocketNotifier>

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace orvik::ui {

namespace {

int terminationPipe[2] = {-1, -1};

void onTerminationSignal(int) {
    // Only async-signal-safe work here: the event loop reads the byte.
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(terminationPipe[0], &byte, 1);
}

} // namespace

void keepTextWhenEnding(QGuiApplication& app, LibraryStore& store) {
    const auto keep = [&store] {
        store.flushPendingSave();
        store.rescueUnsaved();
    };
    QObject::connect(&app, &QCoreApplication::aboutToQuit, &store, keep);
    QObject::connect(&app, &QGuiApplication::commitDataRequest, &store,
                     [keep](QSessionManager&) { keep(); });

    if (terminationPipe[0] < 0 &&
        ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, terminationPipe) != 0)
        return;
    auto* notifier = new QSocketNotifier(terminationPipe[1], QSocketNotifier::Read, &store);
    QObject::connect(notifier, &QSocketNotifier::activated, &store, [notifier, keep] {
        notifier->setEnabled(false);
        char byte = 0;
        [[maybe_unused]] const auto read = ::read(terminationPipe[1], &byte, 1);
        keep();
        // Not quit(): that asks every window to close, and a window holding
        // text that cannot be written would wait for an answer.
        QCoreApplication::exit(0);
    });
    struct sigaction action = {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
}

} // namespace orvik::ui
