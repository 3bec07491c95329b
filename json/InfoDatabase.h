#pragma once

// What the backend says about the tenant's database (the answer of VR_CheckDatabase).

#include "json/Record.h"

#define VORN_INFO_DATABASE_FIELDS(X)                                                                         \
    X(Database)                                                                                              \
    X(Esito)                                                                                                 \
    X(Installazione)                                                                                         \
    X(Tipologia)                                                                                             \
    X(Stato)                                                                                                 \
    X(AccettazioneContratto)

class TInfoDatabase
{
    VORN_RECORD_TEXT_FIELDS(TInfoDatabase, VORN_INFO_DATABASE_FIELDS)
};
