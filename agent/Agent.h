#pragma once

// vorn-agent: the dispatch cycle without a desktop, for an office server. It reads the same
// VORN_Automatic.ini and writes the same VORN_Automatic.log in its working directory as the window
// program, checks the settings as the window's settings check does (always in automatic mode), and
// runs the same dispatch cycle at the configured interval.

struct TAgentOptions
{
    bool Once = false;    // one check (every pass of a tick), then exit
    bool Journal = false; // under a service manager: every log line also goes to standard error
};

enum TAgentExit : int
{
    kAgentExitOk = 0,
    kAgentExitFailure = 1, // the settings check, the log or (with --once) a pass failed
    kAgentExitUsage = 2,
};

// Runs the agent in the working directory until SIGTERM or SIGINT (after the invoice in hand), or
// for one pass with Once; SIGHUP reads the settings again. Needs a QCoreApplication. Returns the
// process's exit code.
int RunAgent(const TAgentOptions& options);
