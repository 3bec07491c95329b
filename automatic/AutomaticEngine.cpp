#include "automatic/AutomaticEngine.h"

#include "automatic/Notices.h"
#include "backend/DVBackendService.h"
#include "dispatch/ArchiveName.h"
#include "dispatch/OutgoingDispatch.h"
#include "log/LogFile.h"
#include "util/Errors.h"
#include "util/Text.h"

#include <QScopeGuard>

TAutomaticSettings CheckAutomaticSettings(const TSettingsTexts& texts)
{
    TAutomaticSettings settings;
    settings.Credentials = CheckCredentials(texts.Database, texts.Username, texts.Password);
    // The folder checked, and given its sub-folders, is the trimmed one the passes work on: a
    // trailing blank names another folder, whose Inviate and Errori the cycle would never find.
    settings.CartellaDaInviare = TrimControl(texts.CartellaDaInviare);
    PrepareOutgoingFolder(settings.CartellaDaInviare);
    settings.FirmType = CheckFirmType(texts.FirmType);
    settings.CartellaRicevute = TrimControl(texts.CartellaRicevute);
    settings.IntervalSec = CheckIntervalSeconds(texts.CheckIntervalSec);
    return settings;
}

TAutomaticEngine::TAutomaticEngine(TDVBackendService& client, IAutomaticObserver& observer, THooks hooks,
                                   TPasses passes)
    : FClient(client), FObserver(observer), FHooks(std::move(hooks)), FPasses(std::move(passes))
{
    Q_ASSERT(FHooks.Failed && FHooks.Wait);
    if (!FPasses.Received)
        FPasses.Received = [](TDVBackendService& client, const QString& folder) {
            return RunReceivedPass(client, folder);
        };
    if (!FHooks.Now)
        FHooks.Now = [] { return QDateTime::currentDateTimeUtc(); };
    if (!FPasses.Verdicts)
        FPasses.Verdicts = [this](TDVBackendService& client, const QString& outgoing) {
            // The schedule and what was told live in the track cache, not in this object.
            TVerdictPass pass(outgoing, TrackCacheFilePath(), FHooks.Now);
            std::vector<TVerdictNews> news = pass.Run(client);
            if (AppLog)
                for (const QString& problem : pass.Problems())
                    AppLog->WriteLogWrn(problem);
            return news;
        };
    connect(&FTimer, &QTimer::timeout, this, [this] {
        if (FHooks.TickDue)
            FHooks.TickDue();
        else
            Tick();
    });
}

TAutomaticEngine::~TAutomaticEngine() = default;

const QStringList& TAutomaticEngine::XmlMask()
{
    return kInvoiceMask;
}

template <class Pass> void TAutomaticEngine::Guarded(Pass pass)
{
    try {
        pass();
    } catch (...) {
        FHooks.Failed(std::current_exception());
    }
}

void TAutomaticEngine::Apply(const TAutomaticSettings& settings)
{
    FClient.SetFirmType(settings.FirmType);
    FClient.SetUsername(settings.Credentials.Username);
    FClient.SetPassword(settings.Credentials.Password);
    FSettings = settings;
    SetPeriod(settings.IntervalSec * 1000);
}

void TAutomaticEngine::Start()
{
    FRunning = true;
    FWhenIdle = {};
    EnableTimer();
}

void TAutomaticEngine::Stop(std::function<void()> whenIdle)
{
    FRunning = false;
    DisableTimer();
    if (!whenIdle)
        return;
    if (FTickRunning)
        FWhenIdle = std::move(whenIdle);
    else
        whenIdle();
}

void TAutomaticEngine::Reload(std::function<void()> reload)
{
    if (FTickRunning)
        FPendingReload = std::move(reload);
    else
        Guarded(reload);
}

void TAutomaticEngine::Tick()
{
    DisableTimer();
    // Events run during the outgoing pass's pause: a tick that fires then (automatic mode left and
    // entered again) leaves the work to the tick that is paused, which restarts the timer at its end.
    if (FTickRunning)
        return;
    FTickRunning = true;
    const auto end = qScopeGuard([this] { EndTick(); });
    if (!FSettings.CartellaDaInviare.isEmpty())
        ProcessOutgoingInvoices();
    if (!FSettings.CartellaRicevute.isEmpty() && !StopRequested())
        ProcessReceivedInvoices();
    if (!FSettings.CartellaDaInviare.isEmpty() && !StopRequested())
        ProcessVerdicts();
}

void TAutomaticEngine::EndTick()
{
    FTickRunning = false;
    if (FWhenIdle) {
        const std::function<void()> whenIdle = std::exchange(FWhenIdle, {});
        whenIdle();
        return;
    }
    if (FPendingReload)
        Guarded(std::exchange(FPendingReload, {}));
    // Automatic mode left during the tick: the checks stay stopped until it is entered again.
    if (FRunning)
        EnableTimer();
}

void TAutomaticEngine::ProcessOutgoingInvoices()
{
    TOutgoingDispatch dispatch(FSettings.CartellaDaInviare, XmlMask(), FClient, FHooks.Wait,
                               FHooks.StopRequested);
    TDispatchEvents events;
    events.Found = [this](const QString& N) { FObserver.InvoiceFound(N); };
    events.Sent = [this](const QString& N, const QString& Q) { FObserver.InvoiceSent(N, Q); };
    events.Archived = [this](const QString& N, const QString& archived) { FObserver.InvoiceArchived(N, archived); };
    events.Refused = [this](const QString& N, const QString& backendText) {
        FObserver.InvoiceRefused(N, backendText);
    };
    dispatch.SetEvents(std::move(events));
    int answered = 0;
    try {
        answered = dispatch.ProcessOutgoingInvoices();
    } catch (...) {
        const std::exception_ptr failure = std::current_exception();
        // The hook logs every failure; the front end hears of the first of a run only.
        FHooks.Failed(failure);
        if (FCycleHealth.PassFailed() == TCycleHealth::TNotice::Failing)
            FObserver.PassesFailing(ExceptionMessage(failure));
        return;
    }
    if (FCycleHealth.PassEnded(answered) == TCycleHealth::TNotice::WorkingAgain)
        FObserver.PassesWorkingAgain();
}

void TAutomaticEngine::ProcessReceivedInvoices()
{
    Guarded([this] {
        const QString folder = FSettings.CartellaRicevute;
        const TReceivedPassResult result = FPasses.Received(FClient, folder);
        // A listing cut off by our own stop is no news: the next start goes on from the index.
        if (AppLog && !result.Stopped.isEmpty() && !StopRequested())
            AppLog->WriteLogWrn(result.Stopped);
        if (result.New <= 0)
            return;
        if (AppLog)
            AppLog->WriteLog(ReceivedLine(result.New, folder));
        FObserver.InvoicesReceived(result.New, folder);
    });
}

void TAutomaticEngine::ProcessVerdicts()
{
    Guarded([this] {
        for (const TVerdictNews& verdict : FPasses.Verdicts(FClient, FSettings.CartellaDaInviare)) {
            if (AppLog) {
                // NS needs someone to correct the invoice and send it again.
                if (IsDiscarded(verdict))
                    AppLog->WriteLogWrn(VerdictLine(verdict));
                else
                    AppLog->WriteLog(VerdictLine(verdict));
            }
            FObserver.VerdictChanged(verdict);
        }
    });
}

void TAutomaticEngine::EnableTimer()
{
    if (FEnabled)
        return;
    FEnabled = true;
    // "Enabled" with a period of 0 gives no ticks at all, while a running QTimer of period 0
    // would fire continuously.
    if (FPeriodMs > 0)
        FTimer.start(FPeriodMs);
}

void TAutomaticEngine::DisableTimer()
{
    FEnabled = false;
    FTimer.stop();
}

void TAutomaticEngine::SetPeriod(int ms)
{
    // Settings applied again with the same interval leave a running timer to its count; only a new
    // period restarts it.
    if (ms == FPeriodMs)
        return;
    FPeriodMs = ms;
    FTimer.setInterval(ms);
    if (FEnabled) {
        if (ms > 0)
            FTimer.start(ms);
        else
            FTimer.stop();
    }
}
