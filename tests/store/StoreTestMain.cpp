#include <QCoreApplication>

#include <gtest/gtest.h>

// Upload results come back through the Qt event loop, and the SQL driver is a
// plug-in: these tests need an application object.
int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
