#include <QCoreApplication>
#include <gtest/gtest.h>

// Tests that use QObjects, timers or the request dispatcher need an application object
// and run their event loop through TestSupport.h.
int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
