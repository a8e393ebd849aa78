#pragma once

#include <QProcessEnvironment>
#include <QString>
#include <QTest>

namespace orvik::test {

// Points HOME and the XDG folders at a fresh temporary folder, so that no test
// ever sees the user's home, settings or library. Must run before the first
// QSettings or QStandardPaths call of the process.
QString isolateHome();

// This process's environment with HOME and the XDG configuration and data
// folders moved into `home`: for running orvik as a separate process.
QProcessEnvironment environmentWithHome(const QString& home);

// Writes raw bytes to a file, creating parent folders; fails the test on error.
bool writeBytes(const QString& path, const QByteArray& bytes);
QByteArray readBytes(const QString& path);

// Sets a file's modification time; returns false on failure.
bool setModified(const QString& path, const QDateTime& when);

// Removes a folder and all below it, names that are no UTF-8 included (which
// QDir cannot name), without starting a process: forking a threaded test
// process is not allowed under ThreadSanitizer.
void removeTree(const QString& path);

} // namespace orvik::test

// Like QTEST_GUILESS_MAIN, but inside an isolated home.
#define ORVIK_TEST_MAIN(TestObject)                                                                \
    int main(int argc, char** argv) {                                                              \
        orvik::test::isolateHome();                                                                \
        QCoreApplication app(argc, argv);                                                          \
        app.setAttribute(Qt::AA_Use96Dpi, true);                                                   \
        TestObject tc;                                                                             \
        QTEST_SET_MAIN_SOURCE_PATH                                                                 \
        return QTest::qExec(&tc, argc, argv);                                                      \
    }
