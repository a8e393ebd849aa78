// A data race on purpose between the main thread and a task on Qt's pool. The
// ThreadSanitizer run must report it (the test expects the failure); if not,
// the suppressions or the hand-over annotation hide races in our own code.

#include "platform/handover.h"

#include <QCoreApplication>
#include <QtConcurrentRun>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    int counter = 0;
    QFuture<void> task = QtConcurrent::run(orvik::handedOver([&counter] {
        for (int i = 0; i < 100000; ++i)
            ++counter;
    }));
    for (int i = 0; i < 100000; ++i)
        ++counter;
    task.waitForFinished();
    return counter > 0 ? 0 : 1;
}
