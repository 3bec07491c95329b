#include "cli/CliTrack.h"

#include "cli/Cli.h"
#include "cli/CliFormat.h"
#include "dispatch/OutgoingDispatch.h"
#include "util/Errors.h"
#include "util/Folders.h"

#include <QJsonArray>
#include <QJsonObject>

#include <algorithm>
#include <vector>

namespace {

// The mark of a line that needs action; no other line starts with it.
const QString kNeedsActionMark = QStringLiteral("!");

// Why nothing (or nothing usable) is known of an invoice; empty when its verdict is known.
QString Problem(const TTrackedInvoice& invoice)
{
    if (invoice.IdCoda.isEmpty())
        return QStringLiteral("no queue identifier in the name: not asked");
    if (invoice.Failed)
        return invoice.Failure.isEmpty() ? QStringLiteral("the backend failed without a message")
                                         : invoice.Failure;
    return {};
}

QString NotificationText(const TTrackedInvoice& invoice)
{
    const QString& type = invoice.Verdict.TipoNotifica;
    if (type.isEmpty())
        return Problem(invoice).isEmpty() ? QStringLiteral("(none)") : QString();
    const QString description = NotificationDescription(type);
    return description.isEmpty() ? type : type + u' ' + description;
}

QString Table(const std::vector<TTrackedInvoice>& invoices, const QString& inviate)
{
    std::vector<QStringList> rows;
    qsizetype needAction = 0;
    qsizetype failed = 0;
    for (const TTrackedInvoice& i : invoices) {
        needAction += i.NeedsAction();
        failed += i.Failed;
        rows.push_back({i.NeedsAction() ? kNeedsActionMark : QString(), i.File, i.IdCoda,
                        i.Verdict.CodiceStatoFattura, NotificationText(i), i.Verdict.DataInvio,
                        i.Verdict.DataRicezione, Problem(i)});
    }
    QString text =
        FormatTable({QString(), QStringLiteral("File"), QStringLiteral("IdCoda"), QStringLiteral("Stato"),
                     QStringLiteral("Notifica"), QStringLiteral("DataInvio"), QStringLiteral("DataRicezione"),
                     QStringLiteral("Nota")},
                    rows, kUncutCells);
    text += QStringLiteral("%1 invoice(s) in %2").arg(invoices.size()).arg(inviate);
    if (needAction > 0)
        text += QStringLiteral("; %1 refused (%2): correct and send again, then move the archived file away")
                    .arg(needAction)
                    .arg(kNeedsActionMark);
    if (failed > 0)
        text += QStringLiteral("; %1 could not be asked").arg(failed);
    return text + u'\n';
}

QString Json(const std::vector<TTrackedInvoice>& invoices)
{
    QJsonArray array;
    for (const TTrackedInvoice& i : invoices) {
        QJsonObject object{{QStringLiteral("File"), i.File},
                           {QStringLiteral("IdCoda"), i.IdCoda},
                           {QStringLiteral("CodiceStatoFattura"), i.Verdict.CodiceStatoFattura},
                           {QStringLiteral("TipoNotifica"), i.Verdict.TipoNotifica},
                           {QStringLiteral("DescrizioneNotifica"), NotificationDescription(i.Verdict.TipoNotifica)},
                           {QStringLiteral("DataInvio"), i.Verdict.DataInvio},
                           {QStringLiteral("DataRicezione"), i.Verdict.DataRicezione},
                           {QStringLiteral("needsAction"), i.NeedsAction()},
                           {QStringLiteral("fromCache"), i.FromCache}};
        if (const QString problem = Problem(i); !problem.isEmpty())
            object.insert(QStringLiteral("error"), problem);
        array.append(object);
    }
    return JsonText(array);
}

} // namespace

TTrackResult TrackInvoices(TDVBackendService& client, const TTrackOptions& options)
{
    TTrackFindings findings = TrackArchivedInvoices(client, options);
    std::vector<TTrackedInvoice>& invoices = findings.Invoices;
    std::stable_partition(invoices.begin(), invoices.end(),
                          [](const TTrackedInvoice& i) { return i.NeedsAction(); });

    const QString inviate = JoinPath(options.Folder, kCartellaInviate);
    TTrackResult result{options.Json ? Json(invoices) : Table(invoices, inviate), {}, kExitOk};
    if (findings.CacheError != 0)
        result.Warning =
            QStringLiteral("cannot write %1: %2").arg(options.CacheFile, SystemErrorText(findings.CacheError));
    if (std::any_of(invoices.begin(), invoices.end(),
                    [](const TTrackedInvoice& i) { return i.NeedsAction(); }))
        result.ExitCode = kExitNeedsAction;
    else if (std::any_of(invoices.begin(), invoices.end(), [](const TTrackedInvoice& i) { return i.Failed; }))
        result.ExitCode = kExitFailure;
    return result;
}
