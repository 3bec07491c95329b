#pragma once

// vorn-cli: the backend client's operations from the command line. The credentials and the firm
// type come from VORN_Automatic.ini in the working folder, read as the window program reads them.

#include <QStringList>

enum TCliExit : int
{
    kExitOk = 0,
    kExitFailure = 1,     // the backend refused, or the client could not do its part
    kExitUsage = 2,       // the command line is wrong; nothing was sent
    kExitNeedsAction = 3, // track: an invoice was refused by the exchange and has to be sent again
};

// Runs one command line (arguments[0] is the program) and returns the process's exit code.
// Results go to standard output, messages to standard error.
int RunCli(const QStringList& arguments);
