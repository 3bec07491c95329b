#pragma once

#include "automatic/AutomaticObserver.h"
#include "automatic/Notices.h"

#include <functional>

// Automatic mode's news as the window tells them: one desktop notice each for a refused invoice, a
// pass that brought received invoices, an invoice the exchange discarded, the start of a run of
// failed passes and its end. The rest (an invoice found, sent, archived) the log already says.
class TWindowNotices final : public IAutomaticObserver
{
public:
    using TShow = std::function<void(const TNotice& notice)>;
    explicit TWindowNotices(TShow show) : FShow(std::move(show)) {}

    void InvoiceRefused(const QString& N, const QString& backendText) override
    {
        FShow(RefusedNotice(N, backendText));
    }
    void InvoicesReceived(qsizetype count, const QString& folder) override
    {
        FShow(ReceivedNotice(count, folder));
    }
    void VerdictChanged(const TVerdictNews& verdict) override
    {
        if (IsDiscarded(verdict))
            FShow(DiscardedNotice(verdict));
    }
    void PassesFailing(const QString& message) override { FShow(FailingNotice(message)); }
    void PassesWorkingAgain() override { FShow(WorkingAgainNotice()); }

private:
    TShow FShow;
};
