#pragma once

// The invoice records of the backend's answers. Every value is the backend's text as it came.

#include "json/Record.h"

#include <QString>
#include <memory>
#include <vector>

// One issued (outgoing) invoice of a FAEAttivaSearch answer.
#define VORN_FAE_ATTIVA_FIELDS(X)                                                                            \
    X(IdFattura)                                                                                             \
    X(IdSDI)                                                                                                 \
    X(FatturaData)                                                                                           \
    X(FatturaNumero)                                                                                         \
    X(FatturaImporto)                                                                                        \
    X(InvioData)                                                                                             \
    X(InvioOra)                                                                                              \
    X(CedenteAnagrafica)                                                                                     \
    X(CedenteCodiceFiscale)                                                                                  \
    X(CedentePartitaIva)                                                                                     \
    X(CessionarioAnagrafica)                                                                                 \
    X(CessionarioCodiceFiscale)                                                                              \
    X(FatturaInversa)                                                                                        \
    X(FatturaLotto)                                                                                          \
    X(PosizioneLotto)                                                                                        \
    X(CodiceStatoGestionale)                                                                                 \
    X(StatoGestionale)                                                                                       \
    X(DataUltimaNotifica)                                                                                    \
    X(CodiceStatoSdi)                                                                                        \
    X(StatoFatturaSdi)                                                                                       \
    X(TipoDocumento)                                                                                         \
    X(StatoQuadrFattura)

// One received (incoming) invoice of a FAEPassivaSearch answer.
#define VORN_FAE_PASSIVA_FIELDS(X)                                                                           \
    X(IdFattura)                                                                                             \
    X(IdSDI)                                                                                                 \
    X(Nomefile)                                                                                              \
    X(FatturaData)                                                                                           \
    X(FatturaNumero)                                                                                         \
    X(FatturaImporto)                                                                                        \
    X(RicezioneData)                                                                                         \
    X(RicezioneOra)                                                                                          \
    X(CedenteAnagrafica)                                                                                     \
    X(CedenteCodiceFiscale)                                                                                  \
    X(CessionarioAnagrafica)                                                                                 \
    X(CessionarioCodiceFiscale)                                                                              \
    X(CessionarioPartitaIva)                                                                                 \
    X(FatturaLotto)                                                                                          \
    X(PosizioneLotto)                                                                                        \
    X(CodiceStatoGestionale)                                                                                 \
    X(StatoGestionale)                                                                                       \
    X(TipoDocumento)                                                                                         \
    X(StatoQuadrFattura)

#define VORN_FAE_PASSIVA_SEARCH_FIELDS(X) X(NumeroTotale)

// A downloaded invoice document; the content stays Base64 text.
#define VORN_FAE_GET_XML_BY_ID_FIELDS(X)                                                                     \
    X(NomeFileBase64)                                                                                        \
    X(FileBase64)                                                                                            \
    X(TipoXML)

// The answer to an invoice upload: Error not empty means refused; IdCodaInvio_1 is the queue
// identifier of an accepted invoice.
#define VORN_FAE_SEND_XML_FIELDS(X)                                                                          \
    X(NumRows)                                                                                               \
    X(Valido)                                                                                                \
    X(VerificaInvioRes)                                                                                      \
    X(Error)                                                                                                 \
    X(IdProgFattura_1)                                                                                       \
    X(IdCodaInvio_1)                                                                                         \
    X(NomeFileGenerato)                                                                                      \
    X(IdNotifica)

// One notification of an invoice's status.
#define VORN_FAE_NOTIFICA_FIELDS(X)                                                                          \
    X(TipoNotifica)                                                                                          \
    X(DataInvio)                                                                                             \
    X(DataRicezione)

// The status of one invoice; Id_SDI is spelled with an underscore here, as the backend does.
#define VORN_FAE_STATO_FATTURA_FIELDS(X)                                                                     \
    X(StatoFattura)                                                                                          \
    X(IdFattura)                                                                                             \
    X(CodiceStatoFattura)                                                                                    \
    X(StatoEstesoFattura)                                                                                    \
    X(TipoDocumento)                                                                                         \
    X(Id_SDI)                                                                                                \
    X(DataInvio)                                                                                             \
    X(DataConsegna)                                                                                          \
    X(OraConsegna)

class TFAEAttiva
{
    VORN_RECORD_TEXT_FIELDS(TFAEAttiva, VORN_FAE_ATTIVA_FIELDS)
};

class TFAEPassiva
{
    VORN_RECORD_TEXT_FIELDS(TFAEPassiva, VORN_FAE_PASSIVA_FIELDS)
};

class TFAEGetXmlById
{
    VORN_RECORD_TEXT_FIELDS(TFAEGetXmlById, VORN_FAE_GET_XML_BY_ID_FIELDS)
};

class TFAESendXml
{
    VORN_RECORD_TEXT_FIELDS(TFAESendXml, VORN_FAE_SEND_XML_FIELDS)
};

class TFAENotifica
{
    VORN_RECORD_TEXT_FIELDS(TFAENotifica, VORN_FAE_NOTIFICA_FIELDS)
};

// Owning lists: a record appended to one belongs to the list, which releases it with itself.
using TFAEAttivaList = std::vector<std::unique_ptr<TFAEAttiva>>;
using TFAEPassivaList = std::vector<std::unique_ptr<TFAEPassiva>>;
using TFAENotificaList = std::vector<std::unique_ptr<TFAENotifica>>;

// The answer of FAEPassivaSearch: the backend's total count and the invoices it sent.
class TFAEPassivaSearch
{
    VORN_RECORD_TEXT_FIELDS(TFAEPassivaSearch, VORN_FAE_PASSIVA_SEARCH_FIELDS)

public:
    TFAEPassivaList& Fatture() { return FFatture; }
    const TFAEPassivaList& Fatture() const { return FFatture; }

private:
    TFAEPassivaList FFatture;
};

class TFAEStatoFattura
{
    VORN_RECORD_TEXT_FIELDS(TFAEStatoFattura, VORN_FAE_STATO_FATTURA_FIELDS)

public:
    TFAENotificaList& seq_NOTIFICA() { return Fseq_NOTIFICA; }
    const TFAENotificaList& seq_NOTIFICA() const { return Fseq_NOTIFICA; }

private:
    TFAENotificaList Fseq_NOTIFICA;
};
