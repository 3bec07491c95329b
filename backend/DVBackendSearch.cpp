// The searches over issued (FAEAttivaSearch) and received (FAEPassivaSearch) invoices.

#include "backend/AnswerDecoding.h"
#include "backend/DVBackendRecordList.h"
#include "backend/DVBackendService.h"
#include "log/LogFile.h"

namespace {

// The eighteen lines of both searches, always all of them and in this order: the backend reads
// an empty value as "no filter". Only the names of the two date bounds differ ("Invio" for the
// sending date of issued invoices, "Ricezione" for the receipt date of received ones).
QStringList SearchRequestLines(const QString& operation, const QString& dateBound, qint32 risultatiLimite,
                               qint32 risultatiOffset, const QString& risultatiOrdinamentoInverso,
                               const QString& dataDa, const QString& dataA, const QString& cessionarioCfPiva,
                               const QString& cessionarioDenominazione, const QString& cedenteCfPiva,
                               const QString& cedenteDenominazione, const QString& fatturaDataDa,
                               const QString& fatturaDataA, const QString& fatturaData,
                               const QString& fatturaNumero, const QString& codiceStatoGestionale,
                               const QString& fatturaDaId, const QString& fatturaAId)
{
    return {
        QStringLiteral("QELT_REQ=") + operation,
        QStringLiteral("QELT_RESPONSE_FORMAT=JSON"),
        QStringLiteral("RisultatiLimite=") + QString::number(risultatiLimite),
        QStringLiteral("RisultatiOffset=") + QString::number(risultatiOffset),
        QStringLiteral("RisultatiOrdinamentoInverso=") + risultatiOrdinamentoInverso,
        dateBound + QStringLiteral("DataDa=") + dataDa,
        dateBound + QStringLiteral("DataA=") + dataA,
        QStringLiteral("CessionarioCfPiva=") + cessionarioCfPiva,
        QStringLiteral("CessionarioDenominazione=") + cessionarioDenominazione,
        QStringLiteral("CedenteCfPiva=") + cedenteCfPiva,
        QStringLiteral("CedenteDenominazione=") + cedenteDenominazione,
        QStringLiteral("FatturaDataDa=") + fatturaDataDa,
        QStringLiteral("FatturaDataA=") + fatturaDataA,
        QStringLiteral("FatturaData=") + fatturaData,
        QStringLiteral("FatturaNumero=") + fatturaNumero,
        QStringLiteral("CodiceStatoGestionale=") + codiceStatoGestionale,
        QStringLiteral("FatturaDaId=") + fatturaDaId,
        QStringLiteral("FatturaAId=") + fatturaAId,
    };
}

void LogNormal(const QString& message)
{
    if (AppLog)
        AppLog->WriteLog(message);
}

// A total of exactly "0" means there is nothing to read: the backend may then leave the array
// out altogether. Any other text, "00" included, promises an array.
bool IsEmptyTotal(const QString& numeroTotale)
{
    return numeroTotale == QLatin1String("0");
}

} // namespace

TFAEAttivaList TDVBackendService::FAEAttivaSearch(
    qint32 RisultatiLimite, qint32 RisultatiOffset, const QString& RisultatiOrdinamentoInverso,
    TDateTime InvioDataDa, TDateTime InvioDataA, const QString& CessionarioCfPiva,
    const QString& CessionarioDenominazione, const QString& CedenteCfPiva,
    const QString& CedenteDenominazione, TDateTime FatturaDataDa, TDateTime FatturaDataA,
    TDateTime FatturaData, const QString& FatturaNumero, const QString& CodiceStatoGestionale,
    const QString& FatturaDaId, const QString& FatturaAId)
{
    const QStringList lines = SearchRequestLines(
        QStringLiteral("FAEAttivaSearch"), QStringLiteral("Invio"), RisultatiLimite, RisultatiOffset,
        RisultatiOrdinamentoInverso, DateToDVStr(InvioDataDa), DateToDVStr(InvioDataA), CessionarioCfPiva,
        CessionarioDenominazione, CedenteCfPiva, CedenteDenominazione, DateToDVStr(FatturaDataDa),
        DateToDVStr(FatturaDataA), DateToDVStr(FatturaData), FatturaNumero, CodiceStatoGestionale,
        FatturaDaId, FatturaAId);
    const std::unique_ptr<TJSONValue> answer = CheckResponse(PostForm(lines));

    TFAEAttivaList fatture;
    if (IsEmptyTotal(ReadPathText(*answer, QStringLiteral("result.NumeroTotale"))))
        return fatture;
    AppendRecordsFromArray(ReadPathArray(*answer, QStringLiteral("result.seq_FATTURE")), fatture);
    return fatture;
}

std::unique_ptr<TFAEPassivaSearch> TDVBackendService::FAEPassivaSearch(
    qint32 RisultatiLimite, qint32 RisultatiOffset, const QString& RisultatiOrdinamentoInverso,
    TDateTime RicezioneDataDa, TDateTime RicezioneDataA, const QString& CessionarioCfPiva,
    const QString& CessionarioDenominazione, const QString& CedenteCfPiva,
    const QString& CedenteDenominazione, TDateTime FatturaDataDa, TDateTime FatturaDataA,
    TDateTime FatturaData, const QString& FatturaNumero, const QString& CodiceStatoGestionale,
    const QString& FatturaDaId, const QString& FatturaAId)
{
    const QStringList lines = SearchRequestLines(
        QStringLiteral("FAEPassivaSearch"), QStringLiteral("Ricezione"), RisultatiLimite, RisultatiOffset,
        RisultatiOrdinamentoInverso, DateToDVStr(RicezioneDataDa), DateToDVStr(RicezioneDataA),
        CessionarioCfPiva, CessionarioDenominazione, CedenteCfPiva, CedenteDenominazione,
        DateToDVStr(FatturaDataDa), DateToDVStr(FatturaDataA), DateToDVStr(FatturaData), FatturaNumero,
        CodiceStatoGestionale, FatturaDaId, FatturaAId);

    // The request lines carry only the filters; the credentials travel in the header, never here.
    LogNormal(QStringLiteral("FAEPassivaSearch ") + FBaseUrl);
    LogNormal(QStringLiteral("FAEPassivaSearch ParamList"));
    for (const QString& line : lines)
        LogNormal(line);

    const std::unique_ptr<TJSONValue> answer = CheckResponse(PostForm(lines));
    if (AppLog)
        AppLog->WriteLog(ToJsonText(*answer));

    auto search = std::make_unique<TFAEPassivaSearch>();
    const QString numeroTotale = ReadPathText(*answer, QStringLiteral("result.NumeroTotale"));
    search->SetNumeroTotale(numeroTotale);
    if (!IsEmptyTotal(numeroTotale))
        AppendRecordsFromArray(ReadPathArray(*answer, QStringLiteral("result.seq_FATTURE")),
                               search->Fatture());
    return search;
}
