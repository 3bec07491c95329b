// GetCodiceSoggetto, InsUpdSoggetto and VR_CheckDatabase.

#include "tests/operations/OperationsTestSupport.h"

namespace operations_test {
namespace {

using RegistryTest = OperationsTest;

TEST_F(RegistryTest, SubjectLookupSendsTheTaxCode)
{
    for (const QString& codiceFiscale : {QStringLiteral("RSSMRA80A01H501U"), QString()}) {
        SCOPED_TRACE(codiceFiscale.toStdString());
        Backend.PushAnswer(ResultAnswer(R"({"RESU":"S","CodiceSoggetto":"000123"})"));
        EXPECT_EQ(Client.GetCodiceSoggetto(codiceFiscale), "000123");
        EXPECT_EQ(LastBody(Backend),
                  "QELT_REQ=GetCodiceSoggetto&QELT_RESPONSE_FORMAT=JSON&IN_CodiceFiscaleSoggetto=" +
                      codiceFiscale.toStdString());
    }
}

// Only the exact outcome "N" is a refusal; the code is read after any other outcome.
TEST_F(RegistryTest, SubjectCodeFollowsEveryOutcomeButN)
{
    for (const char* resu : {R"("S")", R"("n")", R"("")", "null", "0"}) {
        SCOPED_TRACE(resu);
        Backend.PushAnswer(
            ResultAnswer(R"({"RESU":)" + std::string(resu) + R"(,"Error":"x","CodiceSoggetto":42})"));
        EXPECT_EQ(Client.GetCodiceSoggetto(QStringLiteral("X")), "42");
    }
}

TEST_F(RegistryTest, SubjectLookupFailsOnNAndBrokenAnswers)
{
    ExpectFailures(
        {
            {"N keeps the blanks",
             R"({"error":"","result":{"RESU":"N","Error":"  Soggetto inesistente \r\n"}})",
             "  Soggetto inesistente \r\n"},
            {"N without a code", R"({"error":"","result":{"RESU":"N","Error":"Soggetto inesistente"}})",
             "Soggetto inesistente"},
            {"N without error", R"({"error":"","result":{"RESU":"N","CodiceSoggetto":"1"}})",
             "Value 'result.Error' not found"},
            {"n is no refusal", R"({"error":"","result":{"RESU":"n","Error":"x"}})",
             "Value 'result.CodiceSoggetto' not found"},
            {"no outcome", R"({"error":"","result":{"CodiceSoggetto":"1"}})",
             "Value 'result.RESU' not found"},
            {"outcome object", R"({"error":"","result":{"RESU":{}}})",
             "Conversion from TJSONObject to string is not supported"},
            {"code array", R"({"error":"","result":{"RESU":"S","CodiceSoggetto":[]}})",
             "Conversion from TJSONArray to string is not supported"},
        },
        [&] { Client.GetCodiceSoggetto(QStringLiteral("RSSMRA80A01H501U")); });
}

TEST_F(RegistryTest, SubjectInsertSendsNothing)
{
    TSoggetto soggetto;
    soggetto.SetINS_CodiceFiscale(QStringLiteral("RSSMRA80A01H501U"));
    soggetto.SetINS_CognomeDenomina(QStringLiteral("Rossi"));
    EXPECT_EQ(Client.InsUpdSoggetto(soggetto), QString());
    EXPECT_EQ(Client.InsUpdSoggetto(TSoggetto()), QString());
    EXPECT_TRUE(Backend.Requests().empty());
    EXPECT_EQ(soggetto.INS_CognomeDenomina(), "Rossi");
}

TEST_F(RegistryTest, DatabaseCheckSendsTwoLinesAndMapsTheResult)
{
    Backend.PushAnswer(ResultAnswer(
        R"({"Database":"DEMO01","ESITO":"OK","Installazione":"12","Tipologia":"aziende","Stato":"A",)"
        R"("AccettazioneContratto":"S","Extra":{"a":[true]},"Altro":[1]})"));
    const std::unique_ptr<TInfoDatabase> info = Client.VR_CheckDatabase();
    EXPECT_EQ(LastBody(Backend), "QELT_REQ=VR_CheckDatabase&QELT_RESPONSE_FORMAT=JSON");
    EXPECT_EQ(info->Database(), "DEMO01");
    EXPECT_EQ(info->Esito(), "OK");
    EXPECT_EQ(info->Installazione(), "12");
    EXPECT_EQ(info->Tipologia(), "aziende");
    EXPECT_EQ(info->Stato(), "A");
    EXPECT_EQ(info->AccettazioneContratto(), "S");
}

// The outcome is the caller's to judge: "KO" comes back like any other text.
TEST_F(RegistryTest, DatabaseCheckJudgesNothing)
{
    Backend.PushAnswer(ResultAnswer(R"({"Esito":"KO"})"));
    EXPECT_EQ(Client.VR_CheckDatabase()->Esito(), "KO");
    Backend.PushAnswer(ResultAnswer("{}"));
    const std::unique_ptr<TInfoDatabase> empty = Client.VR_CheckDatabase();
    for (const auto& field : TInfoDatabase::FieldTable())
        EXPECT_EQ((*empty).*field.Member, QString()) << field.Name.data();
}

TEST_F(RegistryTest, DatabaseCheckFailsOnBrokenAnswers)
{
    ExpectFailures(
        {
            {"no result", R"({"error":""})", "Value 'result' not found"},
            {"result null", R"({"error":"","result":null})", "Invalid class typecast"},
            {"result array", R"({"error":"","result":[{}]})", "Invalid class typecast"},
            {"result text", R"({"error":"","result":"OK"})", "Invalid class typecast"},
            {"field true", R"({"error":"","result":{"Esito":true}})", "Invalid class typecast"},
            {"field array", R"({"error":"","result":{"stato":[]}})",
             "Cannot set value for field stato as it is expected to be an array instead of string"},
        },
        [&] { Client.VR_CheckDatabase(); });
}

} // namespace
} // namespace operations_test
