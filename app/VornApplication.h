#pragma once

#include "util/Errors.h"

#include <QApplication>
#include <QString>
#include <exception>
#include <functional>

// The application object. Every exception that escapes the handling of an event ends here instead
// of terminating the process, and goes to the exception handler that the main window installs.
class TVornApplication : public QApplication
{
public:
    using TExceptionHandler = std::function<void(std::exception_ptr)>;

    TVornApplication(int& argc, char** argv);

    // An empty handler restores the default: the message goes to standard error.
    void SetExceptionHandler(TExceptionHandler handler);
    void HandleException(std::exception_ptr failure);

    bool notify(QObject* receiver, QEvent* event) override;

    static TVornApplication* Instance();

private:
    TExceptionHandler FExceptionHandler;
};
