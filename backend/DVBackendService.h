#pragma once

#include "backend/HttpsClient.h"
#include "util/DateTime.h"
#include "json/Fatture.h"
#include "json/InfoDatabase.h"
#include "json/Json.h"
#include "json/Soggetto.h"

#include <QString>
#include <QStringList>
#include <memory>

// Synchronous client of the invoicing backend: one HTTPS POST per operation, JSON answers.
class TDVBackendService
{
public:
    // The production client: service domain and CA bundle are the build's constants.
    TDVBackendService();
    // For tests: another service domain ("localhost:PORT") and CA file; short time-outs allowed.
    TDVBackendService(QString serviceDomain, THttpsSettings transport);

    const QString& Username() const { return FUsername; }
    void SetUsername(const QString& value) { FUsername = value; }
    const QString& Password() const { return FPassword; }
    void SetPassword(const QString& value) { FPassword = value; }
    const QString& FirmType() const { return FFirmType; }
    void SetFirmType(const QString& value);
    const QString& BaseUrl() const { return FBaseUrl; }

    TDateTime DVStrToDate(const QString& value) const;

    // Upload of one invoice file: read from its path, or the bytes a caller has read already, under
    // the file's bare name.
    std::unique_ptr<TFAESendXml> FAESendXml(const QString& PathFileXml, bool FatturaInversa);
    std::unique_ptr<TFAESendXml> FAESendXml(const QByteArray& content, const QString& fileName,
                                            bool FatturaInversa);

    // Searches.
    TFAEAttivaList FAEAttivaSearch(qint32 RisultatiLimite, qint32 RisultatiOffset,
                                   const QString& RisultatiOrdinamentoInverso, TDateTime InvioDataDa,
                                   TDateTime InvioDataA, const QString& CessionarioCfPiva,
                                   const QString& CessionarioDenominazione, const QString& CedenteCfPiva,
                                   const QString& CedenteDenominazione, TDateTime FatturaDataDa,
                                   TDateTime FatturaDataA, TDateTime FatturaData,
                                   const QString& FatturaNumero, const QString& CodiceStatoGestionale,
                                   const QString& FatturaDaId, const QString& FatturaAId);
    std::unique_ptr<TFAEPassivaSearch> FAEPassivaSearch(
        qint32 RisultatiLimite, qint32 RisultatiOffset, const QString& RisultatiOrdinamentoInverso,
        TDateTime RicezioneDataDa, TDateTime RicezioneDataA, const QString& CessionarioCfPiva,
        const QString& CessionarioDenominazione, const QString& CedenteCfPiva,
        const QString& CedenteDenominazione, TDateTime FatturaDataDa, TDateTime FatturaDataA,
        TDateTime FatturaData, const QString& FatturaNumero, const QString& CodiceStatoGestionale,
        const QString& FatturaDaId, const QString& FatturaAId);

    // One invoice: status, document, management state.
    std::unique_ptr<TFAEStatoFattura> FAEGetStatusbyId(const QString& IdFattura);
    std::unique_ptr<TFAEGetXmlById> FAEGetXmlbyId(const QString& IdFattura, const QString& TipoXml);
    std::unique_ptr<TFAEGetXmlById> FAEGetXmlbyId(const QString& IdFattura);
    void FAEAggiornaStato(const QString& IdFattura, const QString& CodiceStato);

    // Registry and database.
    QString GetCodiceSoggetto(const QString& CodiceFiscale);
    QString InsUpdSoggetto(const TSoggetto& Soggetto);
    std::unique_ptr<TInfoDatabase> VR_CheckDatabase();

private:
    friend struct DVBackendServiceTestAccess;

    QString DateToDVStr(TDateTime value) const;
    THeaderList AuthHeaders() const;
    THttpResponse PostForm(const QStringList& lines) const;
    // The request of every operation: this body with its type and the authorization header.
    THttpResponse PostBody(const QString& contentType, const QByteArray& body) const;

    QString FBaseUrl;
    QString FFirmType;
    QString FUsername;
    QString FPassword;
    QString FServiceDomain;
    // One for the client's life, so that TLS sessions resume from one request to the next.
    std::unique_ptr<THttpsClient> FHttps;
};
