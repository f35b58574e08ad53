#include <QCoreApplication>

#include <gtest/gtest.h>

// The key source reads its connection through Qt's loop: every test needs an application.
int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
