// Widgets need a QApplication; this main takes the place of the shared one with its
// QCoreApplication. Without a chosen platform the windows open offscreen.

#include <QApplication>
#include <QLocale>
#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char** argv) {
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    // Dates in the strip follow the user's formats; tests and screenshots use one of them.
    setenv("LC_ALL", "en_US.UTF-8", 1);
    // The browser module, loaded by the tests that need it, shares OpenGL contexts with the widgets.
    QApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
