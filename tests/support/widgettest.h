#pragma once

#include "testenv.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

// Widget tests: a QApplication in an isolated home, at 96 dpi so that sizes
// in points and pixels agree.
#define ORVIK_WIDGET_TEST_MAIN(TestObject)                                                         \
    int main(int argc, char** argv) {                                                              \
        orvik::test::isolateHome();                                                                \
        QApplication app(argc, argv);                                                              \
        QApplication::setAttribute(Qt::AA_Use96Dpi, true);                                         \
        TestObject tc;                                                                             \
        QTEST_SET_MAIN_SOURCE_PATH                                                                 \
        return QTest::qExec(&tc, argc, argv);                                                      \
    }

// Tests of whole windows: also the app's style, icons and German Qt texts.
#define ORVIK_WINDOW_TEST_MAIN(TestObject)                                                         \
    int main(int argc, char** argv) {                                                              \
        orvik::test::isolateHome();                                                                \
        QApplication app(argc, argv);                                                              \
        QApplication::setAttribute(Qt::AA_Use96Dpi, true);                                         \
        QApplication::setStyle(QStringLiteral("Fusion"));                                          \
        orvik::ui::setUpIconTheme();                                                               \
        QTranslator translator;                                                                    \
        if (translator.load(QLocale(QLocale::German, QLocale::Germany), QStringLiteral("qtbase"),  \
                            QStringLiteral("_"),                                                   \
                            QLibraryInfo::path(QLibraryInfo::TranslationsPath)))                   \
            QCoreApplication::installTranslator(&translator);                                      \
        TestObject tc;                                                                             \
        QTEST_SET_MAIN_SOURCE_PATH                                                                 \
        return QTest::qExec(&tc, argc, argv);                                                      \
    }
