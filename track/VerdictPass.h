#pragma once

// The verdict pass of automatic mode: at each tick, the status of the invoices archived in
// "Inviate" that have no final state yet is asked of the backend on a schedule, and what the
// exchange newly said of them (a refusal NS, a missed delivery MC) is returned once per invoice.
//
// The schedule. An invoice archived with a queue identifier is asked first at a tick at least
// 1 minute after its archiving, then each time after a wait that doubles from 2 minutes up to
// 1 hour (2, 4, 8, 16, 32, 60, 60, ... minutes after the previous ask), until 30 days after its
// archiving; one that reaches a final state is not asked again. One pass asks at most maxRequests
// invoices, the longest overdue first, so a backlog is worked off over the next ticks.
//
// When an archive was archived: the time its inode last changed (st_ctime). The move into
// Inviate is a rename, which keeps the dropped file's modification time (often days before the
// upload) but sets the change time; a copy between file systems makes a new inode, whose change
// time is the copy's. The time is taken at the first ask and recorded, so a later change of the
// file's metadata (a chmod, a backup tool) does not move the schedule; an archive whose change
// time lies 30 days back is never asked, so the old archives of earlier versions cost nothing.
//
// Where the schedule lives: in the track cache with the final states, under its lock. A restart,
// or a second program (the window and an agent on one folder, vorn-cli track) on the same cache,
// goes on with the same schedule instead of asking everything again. What was told is marked in
// the cache in the same locked update that decides it is new, so it is returned once whichever
// program asked; when the cache cannot be updated nothing is returned (the next pass asks again
// and tells then), so a lost update costs a request, never a second telling. A refusal that
// vorn-cli track learned first is told too, without a request, while its invoice is followed.

#include "track/TrackCache.h"

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <functional>
#include <vector>

class TDVBackendService;

// A new NS or MC, said once per invoice.
struct TVerdictNews
{
    QString File;        // the archive's name in Inviate
    QString IdCoda;      // the backend's queue identifier
    QString Code;        // the latest notification's type: "NS" or "MC"
    QString Description; // its Italian description (NotificationDescription)
};

class TVerdictPass
{
public:
    static constexpr int kMaxRequestsPerRun = 20;
    static constexpr qint64 kFirstWaitSeconds = 60;
    static constexpr qint64 kLongestWaitSeconds = 3600;
    static constexpr qint64 kFollowDays = 30;

    // now: the clock the schedule goes by (the tests' own; QDateTime::currentDateTimeUtc in use).
    TVerdictPass(QString outgoingFolder, QString cacheFile, std::function<QDateTime()> now);

    // Asks the invoices that are due, at most maxRequests of them, and returns what is new.
    // A failed request is rescheduled like an answered one and the others are still asked; after
    // two failures in a row the pass ends (the backend is most likely out of reach, and every
    // further request would wait for its own time-out). Throws EInOutError when the track cache
    // cannot be updated.
    std::vector<TVerdictNews> Run(TDVBackendService& client, int maxRequests = kMaxRequestsPerRun);

    // Why invoices could not be asked in the last Run, one Italian line each, for the log.
    const QStringList& Problems() const { return FProblems; }
    // How many status requests the last Run sent.
    int RequestsSent() const { return FRequestsSent; }

    // When an invoice with this schedule is due next; null once its 30 days are over.
    static QDateTime NextAsk(const TVerdictAsks& asks);

private:
    QString FOutgoingFolder;
    QString FCacheFile;
    std::function<QDateTime()> FNow;
    QStringList FProblems;
    int FRequestsSent = 0;
};
