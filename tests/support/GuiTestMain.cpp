// The main of the GUI test executables: the window program's own application object (which routes
// escaped exceptions to the window's handler) for the whole run, on the offscreen platform.

#include "app/VornApplication.h"
#include "tests/support/EndToEnd.h"

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    const TServicePortHold portHold = HoldServicePortWhenDeclared(argc, argv);
    if (portHold.Failed)
        return 1;
    // Also when the test list is read at build time, where no test property sets it.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    TVornApplication application(argc, argv);
    // A test closes windows of its own; the application must outlive them all.
    application.setQuitOnLastWindowClosed(false);
    return RUN_ALL_TESTS();
}
