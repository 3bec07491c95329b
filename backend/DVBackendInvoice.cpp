// Operations on one invoice the backend holds: its status with the notification history, the
// download of its document as Base64 text, and the update of its management state.

#include "backend/AnswerDecoding.h"
#include "backend/DVBackendRecordList.h"
#include "backend/DVBackendService.h"
#include "log/LogFile.h"
#include "util/Errors.h"
#include "util/Text.h"

#include <array>

namespace {

using TStatoSetter = void (TFAEStatoFattura::*)(const QString&);

struct TStatoMember
{
    const char* Path;
    TStatoSetter Store;
};

// Read one after the other, each stored before the next is read; the first one missing ends
// the call. The identifier's member is spelled in lower case by the backend.
const std::array<TStatoMember, 6> kRequiredStatoMembers = {{
    {"result.StatoFattura", &TFAEStatoFattura::SetStatoFattura},
    {"result.idfattura", &TFAEStatoFattura::SetIdFattura},
    {"result.CodiceStatoFattura", &TFAEStatoFattura::SetCodiceStatoFattura},
    {"result.StatoEstesoFattura", &TFAEStatoFattura::SetStatoEstesoFattura},
    {"result.TipoDocumento", &TFAEStatoFattura::SetTipoDocumento},
    {"result.Id_SDI", &TFAEStatoFattura::SetId_SDI},
}};

// Dates the backend leaves out until the invoice has got that far: a missing one costs a warning.
const std::array<TStatoMember, 3> kOptionalStatoMembers = {{
    {"result.DataInvio", &TFAEStatoFattura::SetDataInvio},
    {"result.DataConsegna", &TFAEStatoFattura::SetDataConsegna},
    {"result.OraConsegna", &TFAEStatoFattura::SetOraConsegna},
}};

QStringList InvoiceRequestLines(const char* operation, const QString& idFattura)
{
    return {QStringLiteral("QELT_REQ=") + QLatin1String(operation),
            QStringLiteral("QELT_RESPONSE_FORMAT=JSON"), QStringLiteral("idcoda=") + idFattura};
}

} // namespace

std::unique_ptr<TFAEStatoFattura> TDVBackendService::FAEGetStatusbyId(const QString& IdFattura)
{
    const std::unique_ptr<TJSONValue> answer =
        CheckResponse(PostForm(InvoiceRequestLines("FAEGetStatusbyId", IdFattura)));

    auto stato = std::make_unique<TFAEStatoFattura>();
    for (const TStatoMember& member : kRequiredStatoMembers)
        ((*stato).*member.Store)(ReadPathText(*answer, QLatin1String(member.Path)));
    for (const TStatoMember& member : kOptionalStatoMembers) {
        QString text;
        if (TryReadPathText(*answer, QLatin1String(member.Path), text))
            ((*stato).*member.Store)(text);
        else if (AppLog)
            AppLog->WriteLogWrn(QStringLiteral("Valore \"%1\" non trovato").arg(QLatin1String(member.Path)));
    }
    AppendRecordsFromArray(ReadPathArray(*answer, QStringLiteral("result.seq_NOTIFICA")),
                           stato->seq_NOTIFICA());
    return stato;
}

std::unique_ptr<TFAEGetXmlById> TDVBackendService::FAEGetXmlbyId(const QString& IdFattura,
                                                                 const QString& TipoXml)
{
    QStringList lines = InvoiceRequestLines("FAEGetXmlbyId", IdFattura);
    if (!TipoXml.isEmpty())
        lines << QStringLiteral("TipoXML=") + TipoXml;
    lines << QStringLiteral("TipoFileOut=base64");
    const std::unique_ptr<TJSONValue> answer = CheckResponse(PostForm(lines));

    // The download reports its refusal inside "result": any "Error" that reads as text, even an
    // empty one, means there is no document.
    QString error;
    if (TryReadPathText(*answer, QStringLiteral("result.Error"), error))
        throw EVornError(error);
    return RecordFromJson<TFAEGetXmlById>(ToJsonText(ReadPathValue(*answer, QStringLiteral("result"))));
}

std::unique_ptr<TFAEGetXmlById> TDVBackendService::FAEGetXmlbyId(const QString& IdFattura)
{
    return FAEGetXmlbyId(IdFattura, QString());
}

void TDVBackendService::FAEAggiornaStato(const QString& IdFattura, const QString& CodiceStato)
{
    // Written before anything is sent, so the attempt is on record even when the backend is
    // out of reach.
    if (AppLog) {
        AppLog->WriteLog(QStringLiteral("FAEAggiornaStato"));
        AppLog->WriteLog(QStringLiteral("IdFattura: ") + IdFattura + QStringLiteral(" - ") +
                         QStringLiteral("CodiceStato: ") + CodiceStato);
    }
    QStringList lines = InvoiceRequestLines("FAEAggiornaStato", IdFattura);
    lines << QStringLiteral("CodiceStato=") + CodiceStato;
    const std::unique_ptr<TJSONValue> answer = CheckResponse(PostForm(lines));

    // Only the exact outcome "KO" is a refusal; its text comes padded with blanks and line breaks.
    if (ReadPathText(*answer, QStringLiteral("result.Esito")) == QLatin1String("KO"))
        throw EVornError(TrimControl(ReadPathText(*answer, QStringLiteral("result.Error"))));
}
