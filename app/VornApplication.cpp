#include "app/VornApplication.h"

#include "util/Errors.h"

#include <cstdio>

TVornApplication::TVornApplication(int& argc, char** argv) : QApplication(argc, argv) {}

void TVornApplication::SetExceptionHandler(TExceptionHandler handler)
{
    FExceptionHandler = std::move(handler);
}

void TVornApplication::HandleException(std::exception_ptr failure)
{
    if (FExceptionHandler) {
        // The handler is the last stop: what it throws itself cannot be reported anywhere else.
        try {
            FExceptionHandler(failure);
            return;
        } catch (...) {
        }
    }
    std::fprintf(stderr, "%s\n", ExceptionMessage(failure).toLocal8Bit().constData());
}

bool TVornApplication::notify(QObject* receiver, QEvent* event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        HandleException(std::current_exception());
        return false;
    }
}

TVornApplication* TVornApplication::Instance()
{
    return dynamic_cast<TVornApplication*>(QCoreApplication::instance());
}
