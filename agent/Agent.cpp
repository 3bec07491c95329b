#include "agent/Agent.h"

#include "automatic/AutomaticEngine.h"
#include "automatic/Notices.h"
#include "backend/DVBackendService.h"
#include "config/ConfigFile.h"
#include "config/Settings.h"
#include "log/LogFile.h"
#include "util/Errors.h"
#include "util/EventWait.h"
#include "util/ProcessSignals.h"
#include "util/StopRequest.h"

#include <QCoreApplication>
#include <QFileInfo>

#include <csignal>
#include <cstdio>
#include <exception>
#include <memory>
#include <optional>

namespace {

// What the configuration file gives the agent: the window's settings check passed on the values it
// would load into its boxes, and the log's settings, which a reload applies only together with the
// rest.
struct TAgentSettings
{
    TAutomaticSettings Automatic;
    std::optional<TLogFile::TSettings> Log;
};

// Only a missing file is said differently from the window: the window would show empty boxes, a
// service has nobody to type into them.
TAgentSettings ReadCheckedSettings()
{
    const QString path = ConfigFilePath();
    if (!QFileInfo(path).isFile())
        throw EVornError(QStringLiteral("%1 not found: vorn-agent reads its settings from the "
                                        "configuration file in its working directory")
                             .arg(path));
    const TConfigFile config(path);
    TSettingsTexts texts;
    texts.FirmType = ReadSetting(config, TSetting::FirmType).toString();
    texts.Database = ReadSetting(config, TSetting::Database).toString();
    texts.Username = ReadSetting(config, TSetting::Username).toString();
    texts.Password = ReadSetting(config, TSetting::Password).toString();
    texts.CartellaDaInviare = ReadSetting(config, TSetting::CartellaDaInviare).toString();
    texts.CartellaRicevute = ReadSetting(config, TSetting::CartellaRicevute).toString();
    // The window shows the stored number in its box and checks the box's text.
    texts.CheckIntervalSec = QString::number(ReadSetting(config, TSetting::CheckIntervalSec).toInt());
    TAgentSettings settings;
    settings.Automatic = CheckAutomaticSettings(texts);
    settings.Log = TLogFile::ReadSettings(path);
    return settings;
}

// The journal takes a line's priority from its "<n>" prefix: 3 error, 4 warning, 6 information;
// every physical line needs its own.
void EchoToJournal(TTagLogFile level, const QString& message)
{
    const char* priority = level == lfError ? "<3>" : level == lfWarning ? "<4>" : "<6>";
    for (const QString& line : message.split(u'\n'))
        std::fprintf(stderr, "%s%s\n", priority, line.toUtf8().constData());
}

void PrintError(const QString& message, bool journal)
{
    if (journal)
        EchoToJournal(lfError, message);
    else
        std::fprintf(stderr, "vorn-agent: %s\n", message.toLocal8Bit().constData());
}

void Log(const QString& message)
{
    if (AppLog)
        AppLog->WriteLog(message);
}

// Automatic mode's news as the agent tells them: one log line each with the window's notice text,
// a warning where someone should look. The received and the verdict passes write their own lines.
class TAgentLog final : public IAutomaticObserver
{
public:
    void InvoiceRefused(const QString& N, const QString& backendText) override
    {
        Write(RefusedNotice(N, backendText));
    }
    void InvoicesReceived(qsizetype, const QString&) override {}
    void VerdictChanged(const TVerdictNews&) override {}
    void PassesFailing(const QString& message) override { Write(FailingNotice(message)); }
    void PassesWorkingAgain() override { Write(WorkingAgainNotice()); }

private:
    static void Write(const TNotice& notice)
    {
        if (!AppLog)
            return;
        if (notice.Kind == TNotice::TKind::Information)
            AppLog->WriteLog(NoticeLine(notice));
        else
            AppLog->WriteLogWrn(NoticeLine(notice));
    }
};

class TAgent
{
public:
    explicit TAgent(const TAgentOptions& options) : FOptions(options), FEngine(FClient, FLog, Hooks()) {}

    int RunOnce()
    {
        const TProcessSignals stopSignals({SIGTERM, SIGINT}, [](int) {});
        if (!Start())
            return kAgentExitFailure;
        FEngine.Tick();
        return FFailed ? kAgentExitFailure : kAgentExitOk;
    }

    int RunService()
    {
        const TProcessSignals signalsHandled({SIGTERM, SIGINT, SIGHUP},
                                             [this](int signal) { OnSignal(signal); });
        if (!Start())
            return kAgentExitFailure;
        Log(QStringLiteral("Modalità automatica attivata"));
        FEngine.Start();
        QCoreApplication::exec();
        return kAgentExitOk;
    }

private:
    TAutomaticEngine::THooks Hooks()
    {
        TAutomaticEngine::THooks hooks;
        hooks.Failed = [this](std::exception_ptr failure) { Report(failure); };
        // A stop ends the pause at once and the pass after the invoice in hand.
        hooks.Wait = [](quint32 ms) { WaitPumpingUntil(ms, ProcessStopRequested); };
        hooks.StopRequested = ProcessStopRequested;
        return hooks;
    }

    // The first reading: the log took its settings when it was made.
    bool Start()
    {
        Log(QStringLiteral("Caricamento configurazione"));
        try {
            Apply(ReadCheckedSettings());
            return true;
        } catch (...) {
            Report(std::current_exception());
            return false;
        }
    }

    void Apply(const TAgentSettings& settings) { FEngine.Apply(settings.Automatic); }

    // A file that fails the check changes nothing, its log settings included: it is reported and
    // the running settings stay.
    void Reload()
    {
        Log(QStringLiteral("Caricamento configurazione"));
        const TAgentSettings settings = ReadCheckedSettings();
        if (AppLog && settings.Log)
            AppLog->ApplySettings(*settings.Log);
        Apply(settings);
    }

    // During a tick only the pause handles events: a stop is heard by the passes themselves, and
    // new settings wait for the tick's end.
    void OnSignal(int signal)
    {
        if (signal == SIGHUP)
            FEngine.Reload([this] { Reload(); });
        else
            FEngine.Stop([] { QCoreApplication::quit(); });
    }

    // As the window's exception hook in automatic mode: the message goes to the log at error
    // level. Standard error gets it too, unless the log has just echoed it there for the journal.
    void Report(std::exception_ptr failure)
    {
        FFailed = true;
        const QString message = ExceptionMessage(failure);
        bool echoed = false;
        try {
            if (AppLog) {
                AppLog->WriteLogErr(message);
                echoed = FOptions.Journal && AppLog->Active();
            }
        } catch (...) {
        }
        if (!echoed)
            PrintError(message, FOptions.Journal);
    }

    TAgentOptions FOptions;
    TDVBackendService FClient;
    TAgentLog FLog;
    TAutomaticEngine FEngine;
    bool FFailed = false;
};

} // namespace

int RunAgent(const TAgentOptions& options)
{
    try {
        AppLog = std::make_unique<TLogFile>(LogFilePath(), TLogFile::kDefaultMaxSize,
                                            options.Journal ? TLogFile::TLineEcho(EchoToJournal)
                                                            : TLogFile::TLineEcho());
        AppLog->Init(ConfigFilePath());
    } catch (...) {
        // Without its log the agent would run unseen: it does not start.
        PrintError(ExceptionMessage(std::current_exception()), options.Journal);
        AppLog.reset();
        return kAgentExitFailure;
    }
    int exitCode;
    {
        TAgent agent(options);
        exitCode = options.Once ? agent.RunOnce() : agent.RunService();
    }
    // The log's normal shut-down writes its stop line.
    AppLog.reset();
    return exitCode;
}

