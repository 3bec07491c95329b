#include "track/TrackRules.h"

#include "backend/DVBackendService.h"
#include "util/Errors.h"

#include <QStringList>

#include <algorithm>

QString NotificationDescription(const QString& tipoNotifica)
{
    static const std::pair<const char*, const char*> kDescriptions[] = {
        {"RC", "consegnata"}, {"MC", "mancata consegna"},   {"NS", "scartata"},
        {"NE", "esito"},      {"DT", "decorrenza termini"}, {"AT", "attestazione di trasmissione"},
    };
    for (const auto& [code, description] : kDescriptions)
        if (tipoNotifica == QLatin1String(code))
            return QString::fromUtf8(description);
    return {};
}

const TFAENotifica* LatestNotification(const TFAENotificaList& history, const TDVBackendService& client)
{
    // Unreadable dates rank below every readable one.
    const auto when = [&](const TFAENotifica& n) {
        TDateTime latest = -1e9;
        for (const QString* text : {&n.DataInvio(), &n.DataRicezione()}) {
            try {
                latest = std::max(latest, client.DVStrToDate(*text));
            } catch (const EVornError&) {
            }
        }
        return latest;
    };
    const TFAENotifica* found = nullptr;
    TDateTime foundWhen = 0;
    for (const auto& notification : history) {
        const TDateTime at = when(*notification);
        if (!found || at >= foundWhen) {
            found = notification.get();
            foundWhen = at;
        }
    }
    return found;
}

bool IsFinalNotification(const QString& tipoNotifica)
{
    static const QStringList kFinal = {QStringLiteral("RC"), QStringLiteral("NS"), QStringLiteral("DT"),
                                       QStringLiteral("NE"), QStringLiteral("AT")};
    return kFinal.contains(tipoNotifica);
}

TInvoiceVerdict VerdictOfStatus(const TFAEStatoFattura& stato, const TDVBackendService& client)
{
    TInvoiceVerdict verdict;
    verdict.CodiceStatoFattura = stato.CodiceStatoFattura();
    if (const TFAENotifica* latest = LatestNotification(stato.seq_NOTIFICA(), client)) {
        verdict.TipoNotifica = latest->TipoNotifica();
        verdict.DataInvio = latest->DataInvio();
        verdict.DataRicezione = latest->DataRicezione();
    }
    return verdict;
}
