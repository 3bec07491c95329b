#pragma once

// The track cache: one file beside the configuration (TrackCacheFilePath) that vorn-cli track,
// the window and the agent share. It holds, by queue identifier, the final states learned, the
// notification types already told in automatic mode, and when each invoice not final yet was
// archived and asked. It belongs to one backend and user: a cache written for another is not this
// one's and is left unused (then replaced).
//
// A change is made under a lock (a lock file beside the cache) to the content as it is on disk at
// that moment, and the file is replaced whole: two programs never lose each other's marks, and a
// crash leaves the old cache or the new one. A cache that cannot be read only costs the requests
// it would have saved.

#include "track/TrackRules.h"

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <functional>
#include <map>

class TDVBackendService;

// When an invoice not final yet was archived and asked (UTC), for its schedule.
struct TVerdictAsks
{
    QDateTime Archived;
    QDateTime LastAsked; // null: not asked yet
    int Asks = 0;

    bool operator==(const TVerdictAsks&) const = default;
};

struct TTrackCacheContent
{
    std::map<QString, TInvoiceVerdict> FinalStates; // only final ones (IsFinalNotification)
    std::map<QString, QStringList> Told;            // notification types already told
    std::map<QString, TVerdictAsks> Asks;
};

class TTrackCache
{
public:
    // owner: whose cache it is (OwnerOf the client that asks).
    TTrackCache(QString path, QString owner);

    static QString OwnerOf(const TDVBackendService& client);

    const QString& Path() const { return FPath; }

    // The content as it is on disk now; empty when it is missing, damaged or another's.
    TTrackCacheContent Read() const;

    // Under the cache's lock: change gets the content as it is on disk now, and when it returns
    // true, that content replaces the file whole. 0, or the errno of the step that failed
    // (nothing changed on disk then).
    int Update(const std::function<bool(TTrackCacheContent&)>& change) const;

private:
    TTrackCacheContent Read(int& error) const;

    QString FPath;
    QString FOwner;
};
