// The end-to-end tests' entry: Qt for processes and images (no GUI of its
// own), and one display for all tests.
#include "X11Session.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

int main(int argc, char* argv[]) {
    QCoreApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new e2e::X11Session);
    return RUN_ALL_TESTS();
}
