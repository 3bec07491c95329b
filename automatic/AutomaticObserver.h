#pragma once

#include "track/VerdictPass.h"

#include <QString>
#include <QtGlobal>

// What automatic mode tells its front end. The engine never shows anything: the window turns these
// into desktop notices, the agent into log lines, the tests into a record. Every call comes on the
// engine's thread, during a tick; none may throw.
class IAutomaticObserver
{
public:
    virtual ~IAutomaticObserver() = default;

    // The outgoing pass: an invoice file taken from the folder, accepted under a queue identifier,
    // archived at its path, or refused with the backend's own text (it lies in Errori then).
    virtual void InvoiceFound(const QString& N) { Q_UNUSED(N); }
    virtual void InvoiceSent(const QString& N, const QString& idCoda) { Q_UNUSED(N); Q_UNUSED(idCoda); }
    virtual void InvoiceArchived(const QString& N, const QString& archivedPath)
    {
        Q_UNUSED(N);
        Q_UNUSED(archivedPath);
    }
    virtual void InvoiceRefused(const QString& N, const QString& backendText) = 0;
    // A received pass that brought count invoices into folder (never called with 0).
    virtual void InvoicesReceived(qsizetype count, const QString& folder) = 0;
    virtual void VerdictChanged(const TVerdictNews& verdict) = 0;
    // The first failed outgoing pass after passes that worked (message: its failure), and the
    // first pass that reached the backend again after them; never once per tick.
    virtual void PassesFailing(const QString& message) = 0;
    virtual void PassesWorkingAgain() = 0;
};
