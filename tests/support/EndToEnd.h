#pragma once

// What the end-to-end build was configured with: the program under test posts to
// https://<firm type>.<service domain>/... and trusts <build>/test-pki/ca.pem, which the
// test_pki fixture writes. A test that plays the backend for it listens on EndToEndPort() with
// EndToEndPki().ServerCert; since the port is fixed, such tests must not run in parallel: declare
// them with vorn_add_test(... END_TO_END) (tests/CMakeLists.txt).

#include "tests/support/TestPki.h"
#include "util/FileLock.h"

#include <QString>
#include <functional>
#include <optional>

QString EndToEndServiceDomain(); // as configured, e.g. "localhost:47443"
int EndToEndPort();              // its port; 443 when it names none
TestPki EndToEndPki();           // the files of the test_pki fixture (not generated here)

// Why the programs of this build cannot be tested end to end, for the test to skip with: they reach
// the backend only at the service domain and through the CA they were built with, which must be
// the substitute on loopback and the fixture's CA. Empty when they can.
QString EndToEndSkipReason();

// Asks done() every 20 ms until it holds or timeoutMs have passed; whether it held. For tests that
// watch another process (its files, its log) from outside.
bool WaitUntil(const std::function<bool()>& done, int timeoutMs);

// The fixed port is one for the whole machine, while CTest's resource lock holds only within one
// run: a test executable declared END_TO_END (VORN_TEST_HOLDS_SERVICE_PORT in its environment)
// holds a lock on a file named after the port in /tmp for its whole run, taken by its main before
// any test starts, so that a second test run on the same machine waits for the port instead of
// failing to listen on it. Empty when the executable does not need it or only lists its tests;
// a lock that cannot be taken is said on standard error and fails the run.
struct TServicePortHold
{
    bool Failed = false;
    std::optional<TFileLock> Lock;
};
TServicePortHold HoldServicePortWhenDeclared(int argc, char** argv);
