#include <QCoreApplication>
#include <gtest/gtest.h>

// The daemon's tests run on an event loop without windows, as the daemon does.
int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
