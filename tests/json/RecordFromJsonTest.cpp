#include "json/RecordFromJson.h"
#include "tests/json/JsonTestUtil.h"
#include "util/Errors.h"
#include "json/Fatture.h"
#include "json/InfoDatabase.h"
#include "json/Json.h"
#include "json/Soggetto.h"

#include <gtest/gtest.h>

#include <QStringList>
#include <optional>

namespace {

template <class T> QStringList FieldNames()
{
    QStringList names;
    for (const TRecordField<T>& field : T::FieldTable())
        names << QString(field.Name);
    return names;
}

QStringList Prefixed(const char* properties)
{
    QStringList names;
    for (const QString& name : QString::fromLatin1(properties).split(u' ', Qt::SkipEmptyParts))
        names << QStringLiteral("F") + name;
    return names;
}

// The names the backend's members are matched against, in declaration order, written out once more
// here so that a misspelt or dropped field in the headers shows.
TEST(RecordFields, EveryClassDeclaresItsFieldsInOrder)
{
    EXPECT_EQ(FieldNames<TFAEAttiva>(),
              Prefixed("IdFattura IdSDI FatturaData FatturaNumero FatturaImporto InvioData InvioOra "
                       "CedenteAnagrafica CedenteCodiceFiscale CedentePartitaIva CessionarioAnagrafica "
                       "CessionarioCodiceFiscale FatturaInversa FatturaLotto PosizioneLotto "
                       "CodiceStatoGestionale StatoGestionale DataUltimaNotifica CodiceStatoSdi "
                       "StatoFatturaSdi TipoDocumento StatoQuadrFattura"));
    EXPECT_EQ(FieldNames<TFAEPassiva>(),
              Prefixed("IdFattura IdSDI Nomefile FatturaData FatturaNumero FatturaImporto RicezioneData "
                       "RicezioneOra CedenteAnagrafica CedenteCodiceFiscale CessionarioAnagrafica "
                       "CessionarioCodiceFiscale CessionarioPartitaIva FatturaLotto PosizioneLotto "
                       "CodiceStatoGestionale StatoGestionale TipoDocumento StatoQuadrFattura"));
    EXPECT_EQ(FieldNames<TFAEPassivaSearch>(), Prefixed("NumeroTotale"));
    EXPECT_EQ(FieldNames<TFAEGetXmlById>(), Prefixed("NomeFileBase64 FileBase64 TipoXML"));
    EXPECT_EQ(FieldNames<TFAESendXml>(), Prefixed("NumRows Valido VerificaInvioRes Error IdProgFattura_1 "
                                                  "IdCodaInvio_1 NomeFileGenerato IdNotifica"));
    EXPECT_EQ(FieldNames<TFAENotifica>(), Prefixed("TipoNotifica DataInvio DataRicezione"));
    EXPECT_EQ(FieldNames<TFAEStatoFattura>(),
              Prefixed("StatoFattura IdFattura CodiceStatoFattura StatoEstesoFattura TipoDocumento Id_SDI "
                       "DataInvio DataConsegna OraConsegna"));
    EXPECT_EQ(FieldNames<TInfoDatabase>(),
              Prefixed("Database Esito Installazione Tipologia Stato AccettazioneContratto"));
    const QStringList soggetto = FieldNames<TSoggetto>();
    ASSERT_EQ(soggetto.size(), 42);
    EXPECT_EQ(soggetto.front(), QStringLiteral("FINS_CreaUtente"));
    EXPECT_EQ(soggetto[13], QStringLiteral("FINS_Res_Nazione"));
    EXPECT_EQ(soggetto[28], QStringLiteral("FINS_Cellulare"));
    EXPECT_EQ(soggetto.back(), QStringLiteral("FINS_RelCodSoggEsterno"));
}

TEST(RecordFields, AccessorsReadAndWriteTheTabledField)
{
    TFAESendXml sent;
    sent.SetIdCodaInvio_1(QStringLiteral("Q1"));
    sent.SetError(QStringLiteral("refused"));
    for (const auto& field : TFAESendXml::FieldTable()) {
        SCOPED_TRACE(QString(field.Name).toStdString());
        const QString expected = field.Name == QLatin1StringView("FIdCodaInvio_1") ? QStringLiteral("Q1")
                                 : field.Name == QLatin1StringView("FError")       ? QStringLiteral("refused")
                                                                                   : QString();
        EXPECT_EQ(sent.*field.Member, expected);
    }
    TSoggetto soggetto;
    soggetto.SetINS_PEC(QStringLiteral("pec@example.it"));
    EXPECT_EQ(soggetto.INS_PEC(), QStringLiteral("pec@example.it"));
    EXPECT_TRUE(soggetto.INS_Email().isEmpty());
}

// Every mapped class fills each of its fields from the member of the same name, in both forms.
template <class T> class RecordFromJsonEveryField : public testing::Test
{
};
using TMappedRecords =
    testing::Types<TFAEAttiva, TFAEPassiva, TFAENotifica, TFAEGetXmlById, TFAESendXml, TInfoDatabase>;
TYPED_TEST_SUITE(RecordFromJsonEveryField, TMappedRecords);

TYPED_TEST(RecordFromJsonEveryField, EachMemberFillsItsField)
{
    TJSONObject object;
    int index = 0;
    for (const auto& field : TypeParam::FieldTable())
        object.Add(QString(field.Name).mid(1), std::make_unique<TJSONString>(QString::number(++index)));
    const std::unique_ptr<TypeParam> fromObject = RecordFromJson<TypeParam>(object);
    const std::unique_ptr<TypeParam> fromText = RecordFromJson<TypeParam>(ToJsonText(object));
    index = 0;
    for (const auto& field : TypeParam::FieldTable()) {
        SCOPED_TRACE(QString(field.Name).toStdString());
        EXPECT_EQ((*fromObject).*field.Member, QString::number(++index));
        EXPECT_EQ((*fromText).*field.Member, QString::number(index));
    }
}

TYPED_TEST(RecordFromJsonEveryField, AnEmptyObjectGivesEmptyTexts)
{
    const std::unique_ptr<TypeParam> record = RecordFromJson<TypeParam>(QStringLiteral(" {} "));
    for (const auto& field : TypeParam::FieldTable())
        EXPECT_TRUE(((*record).*field.Member).isEmpty()) << QString(field.Name).toStdString();
}

struct TMappingCase
{
    const char* Json;
    // Expected NumRows, Error and IdCodaInvio_1, or the failure.
    const char* NumRows;
    const char* Error;
    const char* IdCodaInvio;
    const char* Failure = nullptr;
};

TEST(RecordFromJson, MemberValuesFollowTheMappingRules)
{
    const TMappingCase cases[] = {
        {R"({"idcodainvio_1":"Q-7","Error":""})", "", "", "Q-7"},
        {R"({"IDCODAINVIO_1":12345,"NumRows":1})", "1", "", "12345"},
        {R"({"NumRows":12.50,"IdCodaInvio_1":-1E+3})", "12.50", "", "-1E+3"},
        {R"({"Error":null})", "", "", ""},
        {R"({"Error":"x","error":null})", "", "", ""},
        {R"({"IdCodaInvio_1":"A","idcodainvio_1":"B"})", "", "", "B"},
        {R"({"Error":{"a":1}})", "", "", ""},
        {R"({"Error":"kept","Error":{"a":[true]}})", "", "kept", ""},
        {R"({"Unknown":[1],"Other":true,"X":{},"Y":null})", "", "", ""},
        {R"({"FError":"x","FIdCodaInvio_1":"y","Erro":"z","Errors":"w","Error ":"v"})", "", "", ""},
        // Only ASCII letters are folded: U+017F (long s) is not "s".
        {"{\"VerificaInvioRe\xC5\xBF\":\"x\",\"NumRow\xC5\xBF\":\"1\"}", "", "", ""},
        {R"({"Error":"ko\n\u00e8"})", "", "ko\n\xC3\xA8", ""},
        {R"({"Error":false})", nullptr, nullptr, nullptr, "Invalid class typecast"},
        {R"({"NumRows":"1","Valido":true})", nullptr, nullptr, nullptr, "Invalid class typecast"},
        {R"({"Error":["a"]})", nullptr, nullptr, nullptr,
         "Cannot set value for field Error as it is expected to be an array instead of string"},
        {R"({"eRRoR":[]})", nullptr, nullptr, nullptr,
         "Cannot set value for field eRRoR as it is expected to be an array instead of string"},
        {R"({"Error":"x","Error":[]})", nullptr, nullptr, nullptr,
         "Cannot set value for field Error as it is expected to be an array instead of string"},
        {"null", nullptr, nullptr, nullptr, "The input value is not a valid Object"},
        {"[]", nullptr, nullptr, nullptr, "The input value is not a valid Object"},
        {R"([{"Error":""}])", nullptr, nullptr, nullptr, "The input value is not a valid Object"},
        {R"("text")", nullptr, nullptr, nullptr, "The input value is not a valid Object"},
        {"12", nullptr, nullptr, nullptr, "The input value is not a valid Object"},
        {"true", nullptr, nullptr, nullptr, "The input value is not a valid Object"},
        {"", nullptr, nullptr, nullptr, "The input value is not a valid Object"},
        {R"({"Error":"x")", nullptr, nullptr, nullptr, "The input value is not a valid Object"},
        {R"({"Error":"x"} {})", nullptr, nullptr, nullptr, "The input value is not a valid Object"},
    };
    for (const TMappingCase& c : cases) {
        SCOPED_TRACE(c.Json);
        std::unique_ptr<TFAESendXml> record;
        QString failure;
        try {
            record = RecordFromJson<TFAESendXml>(QString::fromUtf8(c.Json));
        } catch (const EVornError& error) {
            failure = error.Message();
        }
        if (c.Failure) {
            EXPECT_EQ(failure, QString::fromLatin1(c.Failure));
            EXPECT_FALSE(record);
            continue;
        }
        ASSERT_TRUE(record) << failure.toStdString();
        EXPECT_EQ(record->NumRows(), QString::fromUtf8(c.NumRows));
        EXPECT_EQ(record->Error(), QString::fromUtf8(c.Error));
        EXPECT_EQ(record->IdCodaInvio_1(), QString::fromUtf8(c.IdCodaInvio));
    }
}

TEST(RecordFromJson, ObjectFormMapsAMemberOfAParsedAnswer)
{
    const auto answer =
        Parse(R"({"error":"","result":{"Database":"DEMO","esito":"OK","Stato":1,"Extra":[1]}})");
    ASSERT_TRUE(answer);
    const QString before = ToJsonText(*answer);
    const std::unique_ptr<TInfoDatabase> info =
        RecordFromJson<TInfoDatabase>(ReadPathObject(*answer, QStringLiteral("result")));
    EXPECT_EQ(info->Database(), QStringLiteral("DEMO"));
    EXPECT_EQ(info->Esito(), QStringLiteral("OK"));
    EXPECT_EQ(info->Stato(), QStringLiteral("1"));
    EXPECT_TRUE(info->Tipologia().isEmpty());
    EXPECT_EQ(ToJsonText(*answer), before);

    const auto bad = Parse(R"({"Database":"DEMO","Esito":true})");
    ASSERT_TRUE(bad);
    EXPECT_THROW(RecordFromJson<TInfoDatabase>(static_cast<const TJSONObject&>(*bad)), EVornError);
}

// The lists own their records: releasing the record releases them (LeakSanitizer watches).
TEST(RecordLists, OwningListsKeepInsertionOrder)
{
    auto stato = std::make_unique<TFAEStatoFattura>();
    for (const char* kind : {"RC", "NS", "MC"}) {
        stato->seq_NOTIFICA().push_back(
            RecordFromJson<TFAENotifica>(QStringLiteral(R"({"TipoNotifica":"%1","DataInvio":"2024-03-05"})")
                                             .arg(QLatin1StringView(kind))));
    }
    ASSERT_EQ(stato->seq_NOTIFICA().size(), 3u);
    EXPECT_EQ(stato->seq_NOTIFICA()[0]->TipoNotifica(), QStringLiteral("RC"));
    EXPECT_EQ(stato->seq_NOTIFICA()[2]->TipoNotifica(), QStringLiteral("MC"));
    const TFAEStatoFattura& constStato = *stato;
    EXPECT_EQ(constStato.seq_NOTIFICA()[1]->DataInvio(), QStringLiteral("2024-03-05"));
    stato.reset();

    auto search = std::make_unique<TFAEPassivaSearch>();
    search->SetNumeroTotale(QStringLiteral("2"));
    search->Fatture().push_back(RecordFromJson<TFAEPassiva>(QStringLiteral(R"({"Nomefile":"a.xml"})")));
    search->Fatture().push_back(RecordFromJson<TFAEPassiva>(QStringLiteral(R"({"nomefile":"b.xml"})")));
    EXPECT_EQ(search->Fatture()[1]->Nomefile(), QStringLiteral("b.xml"));
    search.reset();
}

} // namespace
