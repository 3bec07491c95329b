#pragma once

// What the operation tests add to the backend client's test support: a real log file as AppLog
// (level normal, no write delay) whose entries can be read back, and a few answer helpers.

#include "log/LogFile.h"
#include "tests/support/BackendTest.h"
#include "tests/support/LogEntries.h"

#include <QTemporaryDir>
#include <chrono>
#include <string>
#include <vector>

namespace operations_test {

// Installs a log in a temporary folder as the process-wide AppLog for its lifetime.
class ScopedAppLog
{
public:
    ScopedAppLog();
    ~ScopedAppLog();
    ScopedAppLog(const ScopedAppLog&) = delete;
    ScopedAppLog& operator=(const ScopedAppLog&) = delete;

    // The entries written since construction, without the log's own start lines.
    std::vector<LogEntry> Entries() const;
    std::vector<QString> Messages() const;

private:
    QTemporaryDir FDir;
    QString FFileName;
};

// The raw form body that the substitute recorded for the last request.
inline std::string LastBody(const substitute::Backend& backend)
{
    const auto requests = backend.Requests();
    return requests.empty() ? std::string("<no request>") : requests.back().Body;
}

// One answer of a table: the JSON body the backend sends and the failure message expected.
struct FailureCase
{
    const char* Name;
    std::string Body;
    QString Message;
};

class OperationsTest : public BackendTest
{
protected:
    // Runs `action` against each case's answer and checks the failure message; the ASan leak
    // checker catches anything the failing operation does not release.
    template <class Action> void ExpectFailures(const std::vector<FailureCase>& cases, Action action)
    {
        for (const FailureCase& c : cases) {
            SCOPED_TRACE(c.Name);
            Backend.PushAnswer(JsonAnswer(c.Body));
            EXPECT_EQ(FailureOf([&] { action(); }), c.Message);
        }
    }
};

} // namespace operations_test
