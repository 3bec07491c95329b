#include "log/LogFile.h"

#include "config/ConfigFile.h"
#include "config/Settings.h"
#include "util/Errors.h"
#include "util/SafeWrite.h"
#include "util/Text.h"
#include "util/UniqueFd.h"

#include <QDateTime>
#include <QFile>
#include <QLocale>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

std::unique_ptr<TLogFile> AppLog;

namespace {

constexpr std::uint64_t kLinesBeforeSizeCheck = 100;
// An old-style end-of-file mark among the last bytes is cut off before appending.
constexpr off_t kCtrlZWindow = 128;
constexpr char kCtrlZ = 0x1A;
// Longer messages (a whole answer, a hostile text) are cut: the log keeps its own size in check.
constexpr qsizetype kMaxMessageChars = 64 * 1024;
const QString kCutMark = QStringLiteral(" [... messaggio troncato]");

struct TLevelText
{
    TTagLogFile level;
    const char* name;
    const char* tag;
};
// Every tag is 7 characters, so every message starts in the same column.
constexpr TLevelText kLevels[] = {
    {lfOff, "", "]    - "},
    {lfError, "ERROR", "] ERR- "},
    {lfWarning, "WARNING", "] WRN- "},
    {lfNormal, "NORMAL", "]    - "},
};

const TLevelText& LevelText(TTagLogFile level)
{
    for (const auto& entry : kLevels)
        if (entry.level == level)
            return entry;
    return kLevels[0];
}

// A message is one line of the file whatever it holds, so that neither a file name nor a backend's
// text can forge a line: control characters are shown escaped (a Ctrl+Z among them, which would
// make the next append cut the log), and a message is cut at kMaxMessageChars.
QString OneLine(const QString& msg)
{
    QString line;
    line.reserve(std::min(msg.size(), kMaxMessageChars));
    for (qsizetype i = 0; i < msg.size(); ++i) {
        const QChar c = msg.at(i);
        const qsizetype room = kMaxMessageChars - line.size();
        if (!IsControlCharacter(c)) {
            // A pair of surrogates is one character: both fit or neither does.
            const qsizetype length = c.isHighSurrogate() && i + 1 < msg.size() ? 2 : 1;
            if (room < length)
                return line + kCutMark;
            line.append(msg.constData() + i, length);
            i += length - 1;
            continue;
        }
        const QString escaped =
            c == u'\r'   ? QStringLiteral("\\r")
            : c == u'\n' ? QStringLiteral("\\n")
            : c == u'\t' ? QStringLiteral("\\t")
                         : QStringLiteral("\\x") + QString::number(c.unicode(), 16).toUpper().rightJustified(2, u'0');
        if (room < escaped.size())
            return line + kCutMark;
        line += escaped;
    }
    return line;
}

[[noreturn]] void FailIo(int code)
{
    throw EInOutError(QStringLiteral("I/O error %1: %2").arg(code).arg(SystemErrorText(code)), code);
}

QByteArray NativePath(const QString& fileName)
{
    return QFile::encodeName(fileName);
}

bool FileExists(const QByteArray& path)
{
    struct stat st
    {
    };
    return ::stat(path.constData(), &st) == 0 && !S_ISDIR(st.st_mode);
}

// Other processes may read the log while a line goes in; writers that take the same lock wait.
// The lock is advisory: Linux has no mandatory share modes.
void LockForWriting(int fd)
{
    while (::flock(fd, LOCK_EX) != 0)
        if (errno != EINTR)
            FailIo(errno);
}

void WriteAllOrFail(int fd, const QByteArray& bytes)
{
    if (const int error = WriteAll(fd, bytes))
        FailIo(error);
}

// The close reports write-back failures of some file systems, so its result counts.
void CloseChecked(TUniqueFd& fd)
{
    if (::close(fd.Release()) != 0)
        FailIo(errno);
}

void CutAtCtrlZ(int fd)
{
    struct stat st
    {
    };
    if (::fstat(fd, &st) != 0)
        FailIo(errno);
    const off_t tailSize = std::min(st.st_size, kCtrlZWindow);
    char tail[kCtrlZWindow];
    const ssize_t n = ::pread(fd, tail, tailSize, st.st_size - tailSize);
    if (n < 0)
        FailIo(errno);
    if (const void* mark = std::memchr(tail, kCtrlZ, n)) {
        const off_t cut = st.st_size - tailSize + (static_cast<const char*>(mark) - tail);
        if (::ftruncate(fd, cut) != 0)
            FailIo(errno);
    }
}

// Through a link of ours the log goes where the link says; a link somebody else planted at the
// log's name is not written through.
QByteArray WritablePath(const QByteArray& path)
{
    QByteArray target;
    if (const int error = ResolveOwnLink(path, target))
        FailIo(error);
    return target;
}

// Opening for appending never creates the file: a deleted log stays deleted.
void AppendToFile(const QByteArray& path, const QByteArray& bytes)
{
    TUniqueFd fd(::open(WritablePath(path).constData(), O_RDWR | O_APPEND | O_CLOEXEC | O_NOFOLLOW));
    if (!fd.IsOpen())
        FailIo(errno);
    LockForWriting(fd.Get());
    CutAtCtrlZ(fd.Get());
    WriteAllOrFail(fd.Get(), bytes);
    CloseChecked(fd);
}

// A new log appears whole, with its first lines, and never in place of anything that is there.
void CreateFile(const QByteArray& path, const QByteArray& bytes)
{
    if (const int error = CreateFileWhole(WritablePath(path), bytes, 0666))
        FailIo(error);
}

qint64 FileSize(const QByteArray& path)
{
    struct stat st
    {
    };
    if (::stat(path.constData(), &st) != 0)
        FailIo(errno);
    return st.st_size;
}

QString AsciiUpper(const QString& text)
{
    QString upper = text;
    for (QChar& c : upper)
        if (c >= u'a' && c <= u'z')
            c = QChar(c.unicode() - 'a' + 'A');
    return upper;
}

QString TwoDigits(int value)
{
    return QString::number(value).rightJustified(2, u'0');
}

} // namespace

QString LogLevelName(TTagLogFile level)
{
    return QString::fromLatin1(LevelText(level).name);
}

QChar DateSeparatorOf(const QString& shortDateFormat)
{
    for (const QChar c : shortDateFormat)
        if (!c.isLetter() && !c.isSpace() && c != u'\'' && c.category() != QChar::Other_Format)
            return c;
    return u'/';
}

TLogFile::TLogFile(QString fileName, std::int32_t maxSize, TLineEcho echo)
    : FFileName(std::move(fileName)), FMaxSize(maxSize),
      // The default locale is the user's regional settings unless the program chose another.
      FDateSeparator(DateSeparatorOf(QLocale().dateFormat(QLocale::ShortFormat))),
      FEcho(std::move(echo))
{
    // A failure here leaves no object, so nothing more is written (no "Log Stop" either).
    const QByteArray path = NativePath(FFileName);
    const bool exists = FileExists(path);
    if (exists)
        CheckLogSize();
    const QByteArray startLines = EncodeLine(lfNormal, QStringLiteral("Log Start")) +
                                  EncodeLine(lfNormal, QStringLiteral("Log Level: ") + LogLevelName(FLevel));
    if (exists)
        AppendToFile(path, startLines);
    else
        CreateFile(path, startLines);
    if (FEcho) {
        FEcho(lfNormal, QStringLiteral("Log Start"));
        FEcho(lfNormal, QStringLiteral("Log Level: ") + LogLevelName(FLevel));
    }
    FActive = true;
}

TLogFile::~TLogFile()
{
    if (FFileName.isEmpty())
        return;
    try {
        std::lock_guard lock(FLock);
        AppendToFile(NativePath(FFileName), EncodeLine(lfNormal, QStringLiteral("Log Stop")));
        if (FEcho)
            FEcho(lfNormal, QStringLiteral("Log Stop"));
    } catch (...) {
        // Shut-down goes on without its stop line; the log never reports on itself.
    }
}

std::optional<TLogFile::TSettings> TLogFile::ReadSettings(const QString& configFileName)
{
    if (!FileExists(NativePath(configFileName)))
        return std::nullopt;
    TConfigFile config(configFileName);
    TSettings settings;
    settings.Active = ReadSetting(config, TSetting::LogActive).toBool();
    const QString levelText = AsciiUpper(ReadSetting(config, TSetting::LogLevel).toString());
    for (const auto& entry : kLevels)
        if (entry.level != lfOff && levelText == QLatin1String(entry.name))
            settings.Level = entry.level;
    config.Close();
    return settings;
}

void TLogFile::ApplySettings(const TSettings& settings)
{
    FActive = settings.Active;
    if (settings.Level)
        FLevel = *settings.Level;
    WriteLog(QStringLiteral("Log Level: ") + LogLevelName(FLevel));
}

void TLogFile::Init(const QString& configFileName)
{
    if (const std::optional<TSettings> settings = ReadSettings(configFileName))
        ApplySettings(*settings);
}

void TLogFile::WriteLog(const QString& msg)
{
    DoWriteLog(lfNormal, msg);
}

void TLogFile::WriteLogWrn(const QString& msg)
{
    DoWriteLog(lfWarning, msg);
}

void TLogFile::WriteLogErr(const QString& msg)
{
    DoWriteLog(lfError, msg);
}

void TLogFile::Delete()
{
    if (FFileName.isEmpty())
        return;
    std::lock_guard lock(FLock);
    if (::unlink(NativePath(FFileName).constData()) != 0)
        throw EVornError(QStringLiteral("Impossibile eliminare file di log: ") + FFileName);
}

bool TLogFile::Active() const
{
    return FActive;
}

void TLogFile::SetActive(bool value)
{
    if (value == FActive)
        return;
    if (value) {
        FActive = true;
        DoWriteLog(lfNormal, QStringLiteral("Log ON"));
    } else {
        DoWriteLog(lfNormal, QStringLiteral("Log OFF"));
        FActive = false;
    }
}

TTagLogFile TLogFile::Level() const
{
    return FLevel;
}

void TLogFile::SetLevel(TTagLogFile value)
{
    FLevel = value;
}

void TLogFile::SetWriteDelayForTesting(std::chrono::milliseconds delay)
{
    std::lock_guard lock(FLock);
    FWriteDelay = delay;
}

void TLogFile::SetLineCountForTesting(std::uint64_t count)
{
    std::lock_guard lock(FLock);
    FCountW = count;
}

void TLogFile::DoWriteLog(TTagLogFile level, const QString& msg)
{
    if (FFileName.isEmpty())
        throw EVornError(QStringLiteral("Il file di log non è stato creato"));
    if (!FActive || level > FLevel)
        return;
    std::lock_guard lock(FLock);
    if (FWriteDelay.count() > 0)
        std::this_thread::sleep_for(FWriteDelay);
    if (++FCountW > kLinesBeforeSizeCheck)
        CheckLogSize();
    const QString message = OneLine(msg);
    AppendToFile(NativePath(FFileName), EncodeLine(level, message));
    if (FEcho)
        FEcho(level, message);
}

QString TLogFile::HistoryFileName(const QString& logFileName)
{
    return logFileName + QStringLiteral(".st");
}

void TLogFile::CheckLogSize()
{
    std::lock_guard lock(FLock);
    const QByteArray path = NativePath(FFileName);
    if (FileSize(path) <= FMaxSize)
        return;
    const QString history = HistoryFileName(FFileName);
    const QByteArray historyPath = NativePath(history);
    struct stat st
    {
    };
    if (::lstat(historyPath.constData(), &st) == 0 && ::unlink(historyPath.constData()) != 0 &&
        errno != ENOENT)
        throw EVornError(QStringLiteral("Impossibile eliminare file storico: ") + history);
    if (RenameNoReplace(path, historyPath) != 0)
        throw EVornError(QStringLiteral("Impossibile rinominare file di log in file storico: ") + history);
    CreateFile(path, QByteArray());
    FCountW = 0;
}

QString TLogFile::FormatLogLine(TTagLogFile level, const QString& msg) const
{
    const QDateTime now = QDateTime::currentDateTime();
    const QDate date = now.date();
    const QTime time = now.time();
    const QString timestamp = TwoDigits(date.day()) + FDateSeparator + TwoDigits(date.month()) +
                              FDateSeparator + QString::number(date.year()).rightJustified(4, u'0') + u' ' +
                              TwoDigits(time.hour()) + u'.' + TwoDigits(time.minute()) + u'.' +
                              TwoDigits(time.second());
    return u'[' + timestamp + QLatin1String(LevelText(level).tag) + msg;
}

QByteArray TLogFile::EncodeLine(TTagLogFile level, const QString& msg) const
{
    return ToWindows1252(FormatLogLine(level, msg)) + "\r\n";
}
