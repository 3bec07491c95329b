#pragma once

#include <QString>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>

enum TTagLogFile : std::uint8_t { lfOff = 0, lfError = 1, lfWarning = 2, lfNormal = 3 };

QString LogLevelName(TTagLogFile level);

// The process-wide text log: level filter, size limit with one ".st" history file, and a
// re-entrant lock under which every logged line waits before it is written.
class TLogFile
{
public:
    static constexpr std::int32_t kDefaultMaxSize = 10485760;

    // Throws (EInOutError and friends) when the log cannot be opened or created.
    explicit TLogFile(QString fileName, std::int32_t maxSize = kDefaultMaxSize);
    virtual ~TLogFile();
    TLogFile(const TLogFile&) = delete;
    TLogFile& operator=(const TLogFile&) = delete;

    void Init(const QString& configFileName);

    void WriteLog(const QString& msg);
    void WriteLogWrn(const QString& msg);
    void WriteLogErr(const QString& msg);

    void Delete();

    bool Active() const;
    void SetActive(bool value);
    TTagLogFile Level() const;
    void SetLevel(TTagLogFile value);

    // Test seam: the pause every logged line takes under the lock (100 ms in the product).
    void SetWriteDelayForTesting(std::chrono::milliseconds delay);

private:
    // implementation-owned; see LogFile.cpp
};

// The one process-wide log, created first at start-up and freed last at shut-down.
// Code that may run without it (the command-line client, tests) checks it for null.
extern std::unique_ptr<TLogFile> AppLog;
