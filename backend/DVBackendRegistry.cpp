// The registry lookup by tax code, the (not offered) subject insert, and the database check.

#include "backend/AnswerDecoding.h"
#include "backend/DVBackendService.h"
#include "util/Errors.h"
#include "json/RecordFromJson.h"

QString TDVBackendService::GetCodiceSoggetto(const QString& CodiceFiscale)
{
    const std::unique_ptr<TJSONValue> answer = CheckResponse(
        PostForm({QStringLiteral("QELT_REQ=GetCodiceSoggetto"), QStringLiteral("QELT_RESPONSE_FORMAT=JSON"),
                  QStringLiteral("IN_CodiceFiscaleSoggetto=") + CodiceFiscale}));

    // "N" is the backend's "no such subject"; its message passes through exactly as it came.
    if (ReadPathText(*answer, QStringLiteral("result.RESU")) == QLatin1String("N"))
        throw EVornError(ReadPathText(*answer, QStringLiteral("result.Error")));
    return ReadPathText(*answer, QStringLiteral("result.CodiceSoggetto"));
}

QString TDVBackendService::InsUpdSoggetto(const TSoggetto& Soggetto)
{
    // The backend offers no insert or update of subjects to this client: nothing is sent.
    Q_UNUSED(Soggetto);
    return QString();
}

std::unique_ptr<TInfoDatabase> TDVBackendService::VR_CheckDatabase()
{
    const std::unique_ptr<TJSONValue> answer = CheckResponse(
        PostForm({QStringLiteral("QELT_REQ=VR_CheckDatabase"), QStringLiteral("QELT_RESPONSE_FORMAT=JSON")}));
    // Judging Esito and the rest is the caller's business.
    return RecordFromJson<TInfoDatabase>(ReadPathObject(*answer, QStringLiteral("result")));
}
