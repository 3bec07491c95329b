#include "automatic/Notices.h"

namespace {

const QString kDiscardedTitle = QStringLiteral("Fattura scartata");

} // namespace

TNotice RefusedNotice(const QString& N, const QString& backendText)
{
    return {QStringLiteral("Fattura rifiutata"), N + u'\n' + backendText, TNotice::TKind::Warning};
}

TNotice FailingNotice(const QString& message)
{
    return {QStringLiteral("Invio fatture interrotto"),
            message + u'\n' + QStringLiteral("Nuovo tentativo a ogni controllo."), TNotice::TKind::Critical};
}

TNotice WorkingAgainNotice()
{
    return {QStringLiteral("Invio fatture ripreso"),
            QStringLiteral("Il servizio risponde di nuovo: le fatture vengono inviate."),
            TNotice::TKind::Information};
}

TNotice ReceivedNotice(qsizetype count, const QString& folder)
{
    return {QStringLiteral("Fatture ricevute"), ReceivedLine(count, folder), TNotice::TKind::Information};
}

TNotice DiscardedNotice(const TVerdictNews& verdict)
{
    return {kDiscardedTitle, verdict.File + u'\n' + verdict.Description, TNotice::TKind::Warning};
}

QString NoticeLine(const TNotice& notice)
{
    return notice.Title + QStringLiteral(": ") + QString(notice.Text).replace(u'\n', QStringLiteral(" - "));
}

QString ReceivedLine(qsizetype count, const QString& folder)
{
    return QStringLiteral("%1 fatture ricevute in %2").arg(count).arg(folder);
}

bool IsDiscarded(const TVerdictNews& verdict)
{
    return verdict.Code == QLatin1String("NS");
}

QString VerdictLine(const TVerdictNews& verdict)
{
    const QString title = IsDiscarded(verdict) ? kDiscardedTitle : QStringLiteral("Esito fattura");
    return QStringLiteral("%1: %2 (IdCoda %3): %4 %5")
        .arg(title, verdict.File, verdict.IdCoda, verdict.Code, verdict.Description);
}
