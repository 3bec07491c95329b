#include "cli/CliCommand.h"

#include "backend/DVBackendService.h"
#include "cli/CliFormat.h"

namespace {

struct TSearchFilters
{
    qint32 Limit;
    qint32 Offset;
    QString Reverse;
    TDateTime From;
    TDateTime To;
    QString Customer;
    QString CustomerName;
    QString Supplier;
    QString SupplierName;
    TDateTime InvoiceFrom;
    TDateTime InvoiceTo;
    TDateTime InvoiceDate;
    QString Number;
    QString State;
    QString IdFrom;
    QString IdTo;
};

constexpr qint32 kDefaultLimit = 100;

TSearchFilters ReadSearchFilters(const QCommandLineParser& parser)
{
    const auto text = [&](const char* name) { return parser.value(QLatin1String(name)); };
    const auto date = [&](const char* name) { return DateOption(parser, QLatin1String(name)); };
    return {
        IntegerOption(parser, QStringLiteral("limit"), kDefaultLimit),
        IntegerOption(parser, QStringLiteral("offset"), 0),
        // The backend's own switch value for a reversed order; absent means its default order.
        parser.isSet(QStringLiteral("reverse")) ? QStringLiteral("S") : QString(),
        date("from"),
        date("to"),
        text("customer"),
        text("customer-name"),
        text("supplier"),
        text("supplier-name"),
        date("invoice-from"),
        date("invoice-to"),
        date("invoice-date"),
        text("number"),
        text("state"),
        text("id-from"),
        text("id-to"),
    };
}

int RunSearchIssued(const TCommandContext& context)
{
    const TSearchFilters f = ReadSearchFilters(context.Parser);
    const TFAEAttivaList fatture = ConfiguredClient()->FAEAttivaSearch(
        f.Limit, f.Offset, f.Reverse, f.From, f.To, f.Customer, f.CustomerName, f.Supplier, f.SupplierName,
        f.InvoiceFrom, f.InvoiceTo, f.InvoiceDate, f.Number, f.State, f.IdFrom, f.IdTo);
    if (context.Json) {
        Print(JsonText(RecordsToJson(fatture)));
        return kExitOk;
    }
    Print(RecordsToTable(fatture, {QStringLiteral("IdFattura"), QStringLiteral("FatturaData"),
                                   QStringLiteral("FatturaNumero"), QStringLiteral("FatturaImporto"),
                                   QStringLiteral("CessionarioAnagrafica"), QStringLiteral("InvioData"),
                                   QStringLiteral("StatoGestionale"), QStringLiteral("StatoFatturaSdi")}));
    PrintLine(QStringLiteral("%1 invoice(s)").arg(fatture.size()));
    return kExitOk;
}

int RunSearchReceived(const TCommandContext& context)
{
    const TSearchFilters f = ReadSearchFilters(context.Parser);
    const std::unique_ptr<TFAEPassivaSearch> search = ConfiguredClient()->FAEPassivaSearch(
        f.Limit, f.Offset, f.Reverse, f.From, f.To, f.Customer, f.CustomerName, f.Supplier, f.SupplierName,
        f.InvoiceFrom, f.InvoiceTo, f.InvoiceDate, f.Number, f.State, f.IdFrom, f.IdTo);
    if (context.Json) {
        QJsonObject object = RecordToJson(*search);
        object.insert(QStringLiteral("Fatture"), RecordsToJson(search->Fatture()));
        Print(JsonText(object));
        return kExitOk;
    }
    Print(RecordsToTable(search->Fatture(),
                         {QStringLiteral("IdFattura"), QStringLiteral("FatturaData"),
                          QStringLiteral("FatturaNumero"), QStringLiteral("FatturaImporto"),
                          QStringLiteral("CedenteAnagrafica"), QStringLiteral("RicezioneData"),
                          QStringLiteral("StatoGestionale")}));
    PrintLine(
        QStringLiteral("%1 invoice(s) of %2").arg(search->Fatture().size()).arg(search->NumeroTotale()));
    return kExitOk;
}

std::vector<TOptionSpec> SearchOptions(const QString& dateMeaning)
{
    return {
        {QStringLiteral("limit"), QStringLiteral("N"),
         QStringLiteral("at most N invoices (default %1)").arg(kDefaultLimit)},
        {QStringLiteral("offset"), QStringLiteral("N"),
         QStringLiteral("skip the first N invoices (default 0)")},
        {QStringLiteral("reverse"), QString(), QStringLiteral("reverse the backend's order")},
        {QStringLiteral("from"), QStringLiteral("DATE"),
         dateMeaning + QStringLiteral(" from DATE (yyyy-mm-dd)")},
        {QStringLiteral("to"), QStringLiteral("DATE"), dateMeaning + QStringLiteral(" up to DATE")},
        {QStringLiteral("invoice-from"), QStringLiteral("DATE"), QStringLiteral("invoice date from DATE")},
        {QStringLiteral("invoice-to"), QStringLiteral("DATE"), QStringLiteral("invoice date up to DATE")},
        {QStringLiteral("invoice-date"), QStringLiteral("DATE"), QStringLiteral("invoice date exactly DATE")},
        {QStringLiteral("customer"), QStringLiteral("CF"),
         QStringLiteral("customer's tax code or VAT number")},
        {QStringLiteral("customer-name"), QStringLiteral("TEXT"), QStringLiteral("customer's name")},
        {QStringLiteral("supplier"), QStringLiteral("CF"),
         QStringLiteral("supplier's tax code or VAT number")},
        {QStringLiteral("supplier-name"), QStringLiteral("TEXT"), QStringLiteral("supplier's name")},
        {QStringLiteral("number"), QStringLiteral("TEXT"), QStringLiteral("invoice number")},
        {QStringLiteral("state"), QStringLiteral("CODE"), QStringLiteral("management-state code")},
        {QStringLiteral("id-from"), QStringLiteral("ID"), QStringLiteral("invoice identifier from ID")},
        {QStringLiteral("id-to"), QStringLiteral("ID"), QStringLiteral("invoice identifier up to ID")},
    };
}

} // namespace

TCommand SearchIssuedCommand()
{
    return {QStringLiteral("search-issued"),
            {},
            QStringLiteral("Lists issued invoices that match the filters (FAEAttivaSearch)."),
            SearchOptions(QStringLiteral("sending date")),
            RunSearchIssued};
}

TCommand SearchReceivedCommand()
{
    return {QStringLiteral("search-received"),
            {},
            QStringLiteral("Lists received invoices that match the filters, with the backend's total count "
                           "(FAEPassivaSearch)."),
            SearchOptions(QStringLiteral("receipt date")),
            RunSearchReceived};
}
