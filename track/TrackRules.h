#pragma once

// The rules of a sent invoice's verdict: what the exchange's notifications mean, which one tells
// an invoice's state, after which nothing more comes, and which one needs a person.

#include "json/Fatture.h"

#include <QString>

class TDVBackendService;

// The exchange's notification types that the rules name.
inline const QString kNotificaScarto = QStringLiteral("NS");          // refused by the exchange
inline const QString kNotificaMancataConsegna = QStringLiteral("MC"); // not delivered (yet)

// The short Italian description of a standard notification type of the exchange (RC, MC, NS, NE,
// DT, AT); empty for any other code.
QString NotificationDescription(const QString& tipoNotifica);

// The latest notification of a status history by its dates (the later of DataInvio and
// DataRicezione, read as the backend writes dates); of equal or unreadable dates, the one listed
// last. Null for an empty history.
const TFAENotifica* LatestNotification(const TFAENotificaList& history, const TDVBackendService& client);

// After one of these (RC, NS, DT, NE, AT) the exchange sends nothing more for the invoice: there is
// no need to ask again.
bool IsFinalNotification(const QString& tipoNotifica);

// Refused by the exchange: the invoice must be corrected and sent again.
inline bool NeedsAction(const QString& tipoNotifica)
{
    return tipoNotifica == kNotificaScarto;
}

// What one status answer says of an invoice: its status code and its latest notification.
struct TInvoiceVerdict
{
    QString CodiceStatoFattura;
    QString TipoNotifica; // of the latest notification; empty when there is none
    QString DataInvio;
    QString DataRicezione;

    bool operator==(const TInvoiceVerdict&) const = default;
};

TInvoiceVerdict VerdictOfStatus(const TFAEStatoFattura& stato, const TDVBackendService& client);
