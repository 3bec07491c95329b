// The main of test executables that use Qt's event-loop objects: one QCoreApplication for the
// whole run, created before any test and destroyed after the last.

#include <QCoreApplication>

#include "tests/support/EndToEnd.h"

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    const TServicePortHold portHold = HoldServicePortWhenDeclared(argc, argv);
    if (portHold.Failed)
        return 1;
    QCoreApplication application(argc, argv);
    return RUN_ALL_TESTS();
}
