#include <QCoreApplication>

#include <gtest/gtest.h>

// The notification queue hands operator messages back through the Qt event
// loop, so these tests need an application object.
int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
