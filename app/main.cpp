#include "app/Form_Main.h"
#include "app/MessageBox.h"
#include "app/VornApplication.h"
#include "backend/HttpsClient.h"
#include "util/ProcessSignals.h"

#include <csignal>
#include <memory>

int main(int argc, char** argv)
{
    // Before the toolkit starts any thread of its own.
    THttpsClient::GlobalInit();
    TVornApplication application(argc, argv);
    // The program ends when its window is closed, not when the last visible window goes: in
    // automatic mode the window is hidden, and a message box may be the only window for a while.
    application.setQuitOnLastWindowClosed(false);

    std::unique_ptr<TfrmMain> form;
    bool stopRequested = false;
    const TProcessSignals terminationSignals({SIGTERM, SIGINT}, [&](int) {
        stopRequested = true;
        // A modal box (for instance one shown while the window is being created) is closed first.
        QApplication::closeAllWindows();
        if (form)
            form->close();
        QCoreApplication::quit();
    });

    try {
        form = std::make_unique<TfrmMain>();
    } catch (...) {
        VornMessageBox::ShowError(nullptr, ExceptionMessage(std::current_exception()));
        return 1;
    }
    if (stopRequested)
        return 0;
    form->show();
    return application.exec();
}
