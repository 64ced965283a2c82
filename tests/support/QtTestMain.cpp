#include <QCoreApplication>

#include <gtest/gtest.h>

// Suites whose code delivers through the Qt event loop (engine events, the
// notification queue's hand-back, upload results) or loads the SQL driver
// plug-in need an application object.
int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
