#pragma once

#include "automatic/AutomaticObserver.h"

#include <QString>
#include <QtGlobal>

// The texts automatic mode tells a person, written once: the window shows them as desktop notices,
// the agent writes them as log lines.
struct TNotice
{
    enum class TKind
    {
        Information,
        Warning,  // someone should look: a refused invoice
        Critical, // someone must act: nothing goes out
    };
    QString Title;
    QString Text; // one or more lines
    TKind Kind;
};

TNotice RefusedNotice(const QString& N, const QString& backendText);
TNotice FailingNotice(const QString& message);
TNotice WorkingAgainNotice();
TNotice ReceivedNotice(qsizetype count, const QString& folder);
// Only NS, refused by the exchange, is worth a desktop notice.
TNotice DiscardedNotice(const TVerdictNews& verdict);

// The notice as one log line: its title, ": " and its lines joined by " - ".
QString NoticeLine(const TNotice& notice);

// The log's lines of the received and the verdict passes, the same in every front end.
QString ReceivedLine(qsizetype count, const QString& folder);
QString VerdictLine(const TVerdictNews& verdict);
// NS: the exchange refused the invoice; any other new final state is only recorded.
bool IsDiscarded(const TVerdictNews& verdict);
