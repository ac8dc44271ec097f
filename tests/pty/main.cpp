#include <gtest/gtest.h>

#include <QCoreApplication>

// The serial ports deliver their events through the Qt event loop, so the tests need one.
int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
