#pragma once

#include <QString>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

enum TTagLogFile : std::uint8_t
{
    lfOff = 0,
    lfError = 1,
    lfWarning = 2,
    lfNormal = 3
};

QString LogLevelName(TTagLogFile level);

// The date separator of a short date format such as "dd.MM.yy": its first character that is not a
// letter, a blank, a quote or a format mark (the Arabic locales write "d\u200f/M\u200f/yyyy");
// "/" when there is none (the C locale's "d MMM yyyy").
QChar DateSeparatorOf(const QString& shortDateFormat);

// The process-wide text log: level filter, size limit with one ".st" history file, and a
// re-entrant lock under which every logged line waits before it is written.
class TLogFile
{
public:
    static constexpr std::int32_t kDefaultMaxSize = 10485760;

    // Where every line that goes into the file also goes, as it is written: the agent's standard
    // error under a service manager, for the journal. Given at construction, so that the start
    // lines go there too. It must not throw.
    using TLineEcho = std::function<void(TTagLogFile level, const QString& message)>;

    // Throws (EInOutError and friends) when the log cannot be opened or created.
    explicit TLogFile(QString fileName, std::int32_t maxSize = kDefaultMaxSize, TLineEcho echo = {});
    virtual ~TLogFile();
    TLogFile(const TLogFile&) = delete;
    TLogFile& operator=(const TLogFile&) = delete;

    // The section Level of a configuration file, read without applying it; empty when there is
    // no such file.
    struct TSettings
    {
        bool Active = true;
        std::optional<TTagLogFile> Level; // empty: the text names no level, which leaves it as it is
    };
    static std::optional<TSettings> ReadSettings(const QString& configFileName);
    // Applies them and logs the level now in force.
    void ApplySettings(const TSettings& settings);
    // Both at once: the configuration file's settings, when there is a file.
    void Init(const QString& configFileName);

    // Where a log that outgrew its limit goes: the one history file beside it.
    static QString HistoryFileName(const QString& logFileName);

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
    // Test seam: presets the count of logged lines since construction or the last rotation.
    void SetLineCountForTesting(std::uint64_t count);

private:
    void DoWriteLog(TTagLogFile level, const QString& msg);
    void CheckLogSize();
    QString FormatLogLine(TTagLogFile level, const QString& msg) const;
    // The line as it goes into the file: Windows-1252, CR LF.
    QByteArray EncodeLine(TTagLogFile level, const QString& msg) const;

    // The file is opened and closed within each operation, so no handle is kept here.
    QString FFileName;
    std::int32_t FMaxSize;
    // Logged lines since construction or the last rotation. 64 bits wide: a 16-bit count would wrap
    // after 32767 lines and skip the size check for the next 32869, letting the log outgrow its limit.
    std::uint64_t FCountW = 0;
    mutable std::recursive_mutex FLock;
    // Read outside the lock by every writer, so atomic.
    std::atomic<bool> FActive{false};
    std::atomic<TTagLogFile> FLevel{lfWarning};
    std::chrono::milliseconds FWriteDelay{100};
    QChar FDateSeparator;
    TLineEcho FEcho;
};

// The one process-wide log, created first at start-up and freed last at shut-down.
// Code that may run without it (the command-line client, tests) checks it for null.
extern std::unique_ptr<TLogFile> AppLog;
