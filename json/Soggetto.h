#pragma once

// A registry subject as the backend's insert-or-update request takes it.

#include "json/Record.h"

#define VORN_SOGGETTO_FIELDS(X)                                                                              \
    X(INS_CreaUtente)                                                                                        \
    X(INS_TipologiaUtente)                                                                                   \
    X(INS_CodiceFiscale)                                                                                     \
    X(INS_PIVA)                                                                                              \
    X(INS_PIVAEstera)                                                                                        \
    X(INS_CognomeDenomina)                                                                                   \
    X(INS_Nome)                                                                                              \
    X(INS_DenominazioneDitta)                                                                                \
    X(INS_Sesso)                                                                                             \
    X(INS_Nas_Data)                                                                                          \
    X(INS_Nas_CodCatastale)                                                                                  \
    X(INS_Nas_DescComune)                                                                                    \
    X(INS_Nas_Prov)                                                                                          \
    X(INS_Res_Nazione)                                                                                       \
    X(INS_Res_CodCatastale)                                                                                  \
    X(INS_Res_DescComune)                                                                                    \
    X(INS_Res_Prov)                                                                                          \
    X(INS_Res_Cap)                                                                                           \
    X(INS_Res_Frazione)                                                                                      \
    X(INS_Res_Indirizzo)                                                                                     \
    X(INS_Res_Civico)                                                                                        \
    X(INS_Res_Bis)                                                                                           \
    X(INS_Res_Scala)                                                                                         \
    X(INS_Res_Piano)                                                                                         \
    X(INS_Res_Interno)                                                                                       \
    X(INS_Res_Intestatario)                                                                                  \
    X(INS_Telefono)                                                                                          \
    X(INS_Fax)                                                                                               \
    X(INS_Cellulare)                                                                                         \
    X(INS_CellulareSMS)                                                                                      \
    X(INS_Email)                                                                                             \
    X(INS_PEC)                                                                                               \
    X(INS_CodiceExt)                                                                                         \
    X(INS_TipoCliente)                                                                                       \
    X(INS_CodClassific1)                                                                                     \
    X(INS_CodClassific2)                                                                                     \
    X(INS_CodClassific3)                                                                                     \
    X(INS_CodMandamento)                                                                                     \
    X(INS_MovSitoInternet)                                                                                   \
    X(INS_Relazione)                                                                                         \
    X(INS_RelCodiceFiscale)                                                                                  \
    X(INS_RelCodSoggEsterno)

class TSoggetto
{
    VORN_RECORD_TEXT_FIELDS(TSoggetto, VORN_SOGGETTO_FIELDS)
};
