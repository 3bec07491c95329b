#include "cli/CliTrack.h"

#include "backend/DVBackendService.h"
#include "cli/Cli.h"
#include "cli/CliFormat.h"
#include "dispatch/ArchiveName.h"
#include "dispatch/OutgoingDispatch.h"
#include "util/Folders.h"
#include "util/SafeWrite.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <optional>
#include <vector>

namespace {

const QString kNeedsActionType = QStringLiteral("NS");

// The mark of a line that needs action; no other line starts with it.
const QString kNeedsActionMark = QStringLiteral("!");

// After one of these the exchange sends nothing more for the invoice: no need to ask again.
bool IsFinal(const QString& tipoNotifica)
{
    static const QStringList kFinal = {QStringLiteral("RC"), QStringLiteral("NS"), QStringLiteral("DT"),
                                       QStringLiteral("NE"), QStringLiteral("AT")};
    return kFinal.contains(tipoNotifica);
}

// What a line shows of one archived invoice.
struct TTrackedInvoice
{
    QString File;
    QString IdCoda;
    QString CodiceStatoFattura;
    QString TipoNotifica; // of the latest notification; empty when there is none
    QString DataInvio;
    QString DataRicezione;
    bool FromCache = false;
    bool Failed = false; // asked, but no answer came
    QString Problem;     // why nothing (or nothing usable) is known

    bool NeedsAction() const { return TipoNotifica == kNeedsActionType; }
};

// The final states learned so far, by queue identifier, for one backend and user: a cache written
// by another user or for another backend is not this one's and is left unused (then replaced).
class TStatusCache
{
public:
    TStatusCache(QString fileName, QString owner) : FFileName(std::move(fileName)), FOwner(std::move(owner))
    {
        QFile file(FFileName);
        if (!file.open(QIODevice::ReadOnly))
            return;
        // A damaged cache only costs the requests it would have saved.
        const QJsonObject root = QJsonDocument::fromJson(file.readAll()).object();
        if (root.value(QStringLiteral("Backend")).toString() == FOwner)
            FStates = root.value(QStringLiteral("Stati")).toObject();
    }

    std::optional<TTrackedInvoice> Find(const QString& idCoda) const
    {
        const QJsonValue found = FStates.value(idCoda);
        if (!found.isObject())
            return std::nullopt;
        const QJsonObject state = found.toObject();
        TTrackedInvoice invoice;
        invoice.IdCoda = idCoda;
        invoice.CodiceStatoFattura = state.value(QStringLiteral("CodiceStatoFattura")).toString();
        invoice.TipoNotifica = state.value(QStringLiteral("TipoNotifica")).toString();
        invoice.DataInvio = state.value(QStringLiteral("DataInvio")).toString();
        invoice.DataRicezione = state.value(QStringLiteral("DataRicezione")).toString();
        invoice.FromCache = true;
        if (!IsFinal(invoice.TipoNotifica))
            return std::nullopt;
        return invoice;
    }

    void Learn(const TTrackedInvoice& invoice)
    {
        if (!IsFinal(invoice.TipoNotifica)) {
            FChanged = FStates.contains(invoice.IdCoda) || FChanged;
            FStates.remove(invoice.IdCoda);
            return;
        }
        FStates.insert(invoice.IdCoda,
                       QJsonObject{{QStringLiteral("CodiceStatoFattura"), invoice.CodiceStatoFattura},
                                   {QStringLiteral("TipoNotifica"), invoice.TipoNotifica},
                                   {QStringLiteral("DataInvio"), invoice.DataInvio},
                                   {QStringLiteral("DataRicezione"), invoice.DataRicezione}});
        FChanged = true;
    }

    // Empty, or why the cache could not be written.
    QString Save() const
    {
        if (!FChanged)
            return {};
        const QJsonObject root{{QStringLiteral("Backend"), FOwner}, {QStringLiteral("Stati"), FStates}};
        const int error = ReplaceFile(QFile::encodeName(FFileName),
                                      QJsonDocument(root).toJson(QJsonDocument::Indented), 0600);
        return error == 0 ? QString()
                          : QStringLiteral("cannot write %1: %2").arg(FFileName, SystemErrorText(error));
    }

private:
    QString FFileName;
    QString FOwner;
    QJsonObject FStates;
    bool FChanged = false;
};

TTrackedInvoice AskBackend(TDVBackendService& client, const QString& idCoda)
{
    TTrackedInvoice invoice;
    invoice.IdCoda = idCoda;
    try {
        const std::unique_ptr<TFAEStatoFattura> stato = client.FAEGetStatusbyId(idCoda);
        invoice.CodiceStatoFattura = stato->CodiceStatoFattura();
        if (const TFAENotifica* latest = LatestNotification(stato->seq_NOTIFICA(), client)) {
            invoice.TipoNotifica = latest->TipoNotifica();
            invoice.DataInvio = latest->DataInvio();
            invoice.DataRicezione = latest->DataRicezione();
        }
    } catch (const EVornError& e) {
        invoice.Failed = true;
        invoice.Problem =
            e.Message().isEmpty() ? QStringLiteral("the backend failed without a message") : e.Message();
    }
    return invoice;
}

QString NotificationText(const TTrackedInvoice& invoice)
{
    if (invoice.TipoNotifica.isEmpty())
        return invoice.Problem.isEmpty() ? QStringLiteral("(none)") : QString();
    const QString description = NotificationDescription(invoice.TipoNotifica);
    return description.isEmpty() ? invoice.TipoNotifica : invoice.TipoNotifica + u' ' + description;
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
                        i.CodiceStatoFattura, NotificationText(i), i.DataInvio, i.DataRicezione, i.Problem});
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
                           {QStringLiteral("CodiceStatoFattura"), i.CodiceStatoFattura},
                           {QStringLiteral("TipoNotifica"), i.TipoNotifica},
                           {QStringLiteral("DescrizioneNotifica"), NotificationDescription(i.TipoNotifica)},
                           {QStringLiteral("DataInvio"), i.DataInvio},
                           {QStringLiteral("DataRicezione"), i.DataRicezione},
                           {QStringLiteral("needsAction"), i.NeedsAction()},
                           {QStringLiteral("fromCache"), i.FromCache}};
        if (!i.Problem.isEmpty())
            object.insert(QStringLiteral("error"), i.Problem);
        array.append(object);
    }
    return JsonText(array);
}

} // namespace

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

TTrackResult TrackInvoices(TDVBackendService& client, const TTrackOptions& options)
{
    const QString inviate = JoinPath(options.Folder, kCartellaInviate);
    const QDateTime since = options.Since.isNull() ? QDateTime() : options.Since.startOfDay();
    TStatusCache cache(options.CacheFile, client.BaseUrl() + u' ' + client.Username());

    std::vector<TTrackedInvoice> invoices;
    const std::unique_ptr<QStringList> names = ListFolder(JoinPath(inviate, QStringLiteral("*.*")));
    for (const QString& name : *names) {
        if (since.isValid() && QFileInfo(JoinPath(inviate, name)).lastModified() < since)
            continue;
        const QString idCoda = QueueIdentifierOfArchiveName(name);
        std::optional<TTrackedInvoice> invoice;
        if (idCoda.isEmpty()) {
            invoice.emplace();
            invoice->Problem = QStringLiteral("no queue identifier in the name: not asked");
        } else if (!options.Refresh) {
            invoice = cache.Find(idCoda);
        }
        if (!invoice) {
            invoice = AskBackend(client, idCoda);
            if (!invoice->Failed)
                cache.Learn(*invoice);
        }
        invoice->File = name;
        invoices.push_back(std::move(*invoice));
    }
    std::stable_partition(invoices.begin(), invoices.end(),
                          [](const TTrackedInvoice& i) { return i.NeedsAction(); });

    TTrackResult result{options.Json ? Json(invoices) : Table(invoices, inviate), {}, kExitOk};
    result.Warning = cache.Save();
    if (std::any_of(invoices.begin(), invoices.end(),
                    [](const TTrackedInvoice& i) { return i.NeedsAction(); }))
        result.ExitCode = kExitNeedsAction;
    else if (std::any_of(invoices.begin(), invoices.end(), [](const TTrackedInvoice& i) { return i.Failed; }))
        result.ExitCode = kExitFailure;
    return result;
}
