#include "agent/Agent.h"

#include "backend/DVBackendService.h"
#include "config/ConfigFile.h"
#include "config/Settings.h"
#include "dispatch/OutgoingDispatch.h"
#include "log/LogFile.h"
#include "util/Errors.h"
#include "util/EventWait.h"
#include "util/ProcessSignals.h"
#include "util/Text.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QObject>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <exception>
#include <memory>

namespace {

// What the settings check hands over: the same values the window's check gives its backend client,
// its cycle and its check timer.
struct TAgentSettings
{
    QString FirmType;
    TBackendCredentials Credentials;
    QString CartellaDaInviare; // trimmed; exists, with its Inviate and Errori
    qint32 IntervalSec = 0;    // 0: no ticks, as in the window
};

// The file read as the window loads it into its boxes, then the window's settings check on those
// texts, in its order and with its messages. Only a missing file is said differently: the window
// would show empty boxes, a service has nobody to type into them.
TAgentSettings ReadCheckedSettings()
{
    const QString path = ConfigFilePath();
    if (!QFileInfo(path).isFile())
        throw EVornError(QStringLiteral("%1 not found: vorn-agent reads its settings from the "
                                        "configuration file in its working directory")
                             .arg(path));
    const TConfigFile config(path);
    const TBackendSettings backend = ReadBackendSettings(config);
    const QString folder = ReadSetting(config, TSetting::CartellaDaInviare).toString();
    const qint32 interval = ReadSetting(config, TSetting::CheckIntervalSec).toInt();

    TAgentSettings settings;
    settings.FirmType = backend.FirmType;
    settings.Credentials = backend.Credentials;
    settings.CartellaDaInviare = TrimControl(folder);
    PrepareOutgoingFolder(settings.CartellaDaInviare);
    // The window shows the stored number in its box and checks the box's text.
    settings.IntervalSec = CheckIntervalSeconds(QString::number(interval));
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

class TAgent : public QObject
{
    Q_OBJECT

public:
    explicit TAgent(const TAgentOptions& options) : FOptions(options)
    {
        FCheckTimer.setSingleShot(true);
        connect(&FCheckTimer, &QTimer::timeout, this, &TAgent::Tick);
    }

    int RunOnce()
    {
        const TProcessSignals stopSignals({SIGTERM, SIGINT}, [](int) {});
        Log(QStringLiteral("Caricamento configurazione"));
        try {
            Apply(ReadCheckedSettings());
            Dispatch();
            return kAgentExitOk;
        } catch (...) {
            Report(std::current_exception());
            return kAgentExitFailure;
        }
    }

    int RunService()
    {
        const TProcessSignals signalsHandled({SIGTERM, SIGINT, SIGHUP},
                                             [this](int signal) { OnSignal(signal); });
        Log(QStringLiteral("Caricamento configurazione"));
        try {
            Apply(ReadCheckedSettings());
        } catch (...) {
            Report(std::current_exception());
            return kAgentExitFailure;
        }
        Log(QStringLiteral("Modalità automatica attivata"));
        StartCheckTimer();
        QCoreApplication::exec();
        return kAgentExitOk;
    }

private:
    static bool StopRequested()
    {
        return TProcessSignals::Received(SIGTERM) || TProcessSignals::Received(SIGINT);
    }

    void Apply(const TAgentSettings& settings)
    {
        FClient.SetFirmType(settings.FirmType);
        FClient.SetUsername(settings.Credentials.Username);
        FClient.SetPassword(settings.Credentials.Password);
        FSettings = settings;
    }

    // The window's cycle; a stop ends its pause at once and the pass after the invoice in hand.
    void Dispatch()
    {
        TOutgoingDispatch(
            FSettings.CartellaDaInviare, kInvoiceMask, FClient,
            [](quint32 ms) { WaitPumpingUntil(ms, StopRequested); }, StopRequested)
            .ProcessOutgoingInvoices();
    }

    // As the window's exception hook in automatic mode: the message goes to the log at error
    // level. Standard error gets it too, unless the log has just echoed it there for the journal.
    void Report(std::exception_ptr failure) const
    {
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

    void StartCheckTimer()
    {
        // A period of 0 gives no ticks at all, as the window's check timer.
        if (FSettings.IntervalSec > 0)
            FCheckTimer.start(FSettings.IntervalSec * 1000);
    }

    // The timer is stopped for the length of the tick and started afresh at its end, so ticks
    // never overlap and the next one comes one full period later.
    void Tick()
    {
        FCheckTimer.stop();
        FTickRunning = true;
        try {
            Dispatch();
        } catch (...) {
            Report(std::current_exception());
        }
        FTickRunning = false;
        if (StopRequested()) {
            QCoreApplication::quit();
            return;
        }
        if (FReloadPending) {
            FReloadPending = false;
            Reload();
            return;
        }
        StartCheckTimer();
    }

    // During a tick only the pause handles events: a stop is heard by the cycle itself, and new
    // settings wait for the tick's end, so that the pass finishes with the ones it began with.
    void OnSignal(int signal)
    {
        if (signal == SIGHUP) {
            if (FTickRunning)
                FReloadPending = true;
            else
                Reload();
            return;
        }
        if (!FTickRunning)
            QCoreApplication::quit();
    }

    // Settings that fail the check are reported and the running ones stay; either way the check
    // timer starts its count again.
    void Reload()
    {
        FCheckTimer.stop();
        try {
            if (AppLog)
                AppLog->Init(ConfigFilePath());
            Log(QStringLiteral("Caricamento configurazione"));
            Apply(ReadCheckedSettings());
        } catch (...) {
            Report(std::current_exception());
        }
        StartCheckTimer();
    }

    TAgentOptions FOptions;
    TDVBackendService FClient;
    TAgentSettings FSettings;
    QTimer FCheckTimer;
    bool FTickRunning = false;
    bool FReloadPending = false;
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

#include "Agent.moc"
