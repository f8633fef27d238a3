#include <QCoreApplication>

#include <gtest/gtest.h>

// For tests that run processes with Qt Core but have no window, so they need not
// link the window library.
int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
