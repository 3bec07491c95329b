#pragma once

#include "automatic/AutomaticObserver.h"
#include "config/Settings.h"
#include "dispatch/CycleHealth.h"
#include "received/ReceivedPull.h"

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QtGlobal>
#include <exception>
#include <functional>
#include <vector>

class TDVBackendService;

// The settings as a person entered them: the window's boxes, or the file's values as the window
// would load them into its boxes (the interval as the decimal text of the stored number).
struct TSettingsTexts
{
    QString FirmType;
    QString Database;
    QString Username;
    QString Password;
    QString CartellaDaInviare;
    QString CartellaRicevute;
    QString CheckIntervalSec;
};

// What the settings check hands over to automatic mode.
struct TAutomaticSettings
{
    QString FirmType;
    TBackendCredentials Credentials;
    QString CartellaDaInviare; // trimmed; an existing folder with its Inviate and Errori
    QString CartellaRicevute;  // trimmed; empty: no received pass
    qint32 IntervalSec = 0;    // 0: no ticks
};

// The settings check, in its order and with its messages: the credentials, the outgoing folder
// (trimmed; given its sub-folders), the firm type, the interval (not trimmed). Throws EVornError at
// the first step that fails; a sub-folder made before the failure stays, nothing else is applied.
TAutomaticSettings CheckAutomaticSettings(const TSettingsTexts& texts);

// Automatic mode without its front end: the check timer and its ticks (the outgoing pass, then the
// received pass, then the verdict pass), the failure/recovery rule, stop and reload. The window and
// the agent drive it; it tells them what happened through their IAutomaticObserver and hands every
// failure of a pass to their exception hook. Ticks never overlap: the timer is stopped for the
// length of a tick and started afresh at its end, so the next one comes one full period later.
class TAutomaticEngine : public QObject
{
    Q_OBJECT

public:
    struct THooks
    {
        // The front end's exception hook, for a pass or a reload that failed. Must not throw.
        std::function<void(std::exception_ptr failure)> Failed;
        // The pause before the uploads; events go on being handled during it.
        std::function<void(quint32 ms)> Wait;
        // Asked before every invoice and between the passes: once it holds, the tick ends after
        // the invoice in hand.
        std::function<bool()> StopRequested;
        // Called when the check timer fires; empty: Tick(). The window runs it through its handler.
        std::function<void()> TickDue;
        // The clock of the verdict schedule; empty: the system's, in UTC.
        std::function<QDateTime()> Now;
    };

    // The passes after the outgoing one. Received: the received invoices into the folder, within
    // the tick's bound. Verdicts: the new final states of the invoices archived in the outgoing
    // folder's Inviate. Empty: the real ones (RunReceivedPass, TVerdictPass).
    struct TPasses
    {
        std::function<TReceivedPassResult(TDVBackendService& client, const QString& folder)> Received;
        std::function<std::vector<TVerdictNews>(TDVBackendService& client, const QString& outgoing)> Verdicts;
    };

    TAutomaticEngine(TDVBackendService& client, IAutomaticObserver& observer, THooks hooks,
                     TPasses passes = {});
    ~TAutomaticEngine() override;

    // The invoice extensions the outgoing pass takes, in the order that names the archive copies.
    static const QStringList& XmlMask();

    // The firm type and the credentials to the client, the folders to the passes, the interval to
    // the check timer: a
    // new period restarts a running count, the same period leaves it alone, 0 stops the ticks.
    void Apply(const TAutomaticSettings& settings);
    const TAutomaticSettings& Settings() const { return FSettings; }

    // Automatic mode on: the check timer is enabled (it keeps its count when it already was).
    void Start();
    // Automatic mode off: no more ticks; a tick in progress runs to its end. whenIdle, when given,
    // runs once no tick is in progress: now, or at the end of the one running.
    void Stop(std::function<void()> whenIdle = {});
    // Runs reload now, or at the end of the tick in progress so that the tick finishes with the
    // settings it began with. What it throws goes to the exception hook.
    void Reload(std::function<void()> reload);

    // One tick: the passes whose folder is set, each one's failure to the exception hook.
    void Tick();
    // The passes on their own. A failure goes to the exception hook; the outgoing pass's also
    // counts for the failure/recovery rule.
    void ProcessOutgoingInvoices();
    void ProcessReceivedInvoices();
    void ProcessVerdicts();

    // The check timer as the system means it: enabled, but disabled for the length of a tick;
    // ticking when its count runs (never with a period of 0).
    bool Enabled() const { return FEnabled; }
    bool Ticking() const { return FTimer.isActive(); }
    int PeriodMs() const { return FPeriodMs; }
    int RemainingMs() const { return FTimer.remainingTime(); }
    bool TickRunning() const { return FTickRunning; }

private:
    void EnableTimer();
    void DisableTimer();
    void SetPeriod(int ms);
    void EndTick();
    template <class Pass> void Guarded(Pass pass);
    bool StopRequested() const { return FHooks.StopRequested && FHooks.StopRequested(); }

    TDVBackendService& FClient;
    IAutomaticObserver& FObserver;
    THooks FHooks;
    TPasses FPasses;
    TAutomaticSettings FSettings;
    QTimer FTimer;
    int FPeriodMs = 0;
    bool FEnabled = false;
    bool FRunning = false; // automatic mode is on: a tick's end enables the timer again
    bool FTickRunning = false;
    std::function<void()> FWhenIdle;
    std::function<void()> FPendingReload;
    TCycleHealth FCycleHealth;
};
