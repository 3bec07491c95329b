#pragma once

// The failure a test expects, by its message text.

#include "util/Errors.h"

#include <QString>
#include <gtest/gtest.h>

// The message of the EVornError that action throws; a failure of the test when it throws none.
template <class Action> QString FailureOf(Action action)
{
    try {
        action();
    } catch (const EVornError& error) {
        return error.Message();
    }
    ADD_FAILURE() << "expected an EVornError, nothing was thrown";
    return QStringLiteral("<no failure>");
}
