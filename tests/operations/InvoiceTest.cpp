// FAEGetStatusbyId, both forms of FAEGetXmlbyId and FAEAggiornaStato: requests, required and
// optional members, warnings, the download's "Error" rule and the state update's "KO" rule.

#include "tests/operations/OperationsTestSupport.h"

namespace operations_test {
namespace {

using InvoiceTest = OperationsTest;

const std::string kFullStatus =
    R"({"StatoFattura":"Consegnata","idfattura":"981","CodiceStatoFattura":"RC","StatoEstesoFattura":"Ricevuta )"
    R"(di consegna","TipoDocumento":"TD01","Id_SDI":"44120","DataInvio":"2024-03-05","DataConsegna":"2024-03-06",)"
    R"("OraConsegna":"10:30","seq_NOTIFICA":[{"TipoNotifica":"NS","DataInvio":"2024-03-05"},)"
    R"({"tiponotifica":"RC","DataRicezione":"2024-03-06","Altro":[1]}]})";

TEST_F(InvoiceTest, StatusSendsTheIdentifierAsIdcoda)
{
    Backend.PushAnswer(ResultAnswer(kFullStatus));
    Client.FAEGetStatusbyId(QStringLiteral("A B&C"));
    EXPECT_EQ(LastBody(Backend), "QELT_REQ=FAEGetStatusbyId&QELT_RESPONSE_FORMAT=JSON&idcoda=A+B%26C");
}

TEST_F(InvoiceTest, StatusFillsEveryFieldAndTheNotifications)
{
    ScopedAppLog log;
    Backend.PushAnswer(ResultAnswer(kFullStatus));
    const std::unique_ptr<TFAEStatoFattura> stato = Client.FAEGetStatusbyId(QStringLiteral("981"));
    EXPECT_EQ(stato->StatoFattura(), "Consegnata");
    EXPECT_EQ(stato->IdFattura(), "981");
    EXPECT_EQ(stato->CodiceStatoFattura(), "RC");
    EXPECT_EQ(stato->StatoEstesoFattura(), "Ricevuta di consegna");
    EXPECT_EQ(stato->TipoDocumento(), "TD01");
    EXPECT_EQ(stato->Id_SDI(), "44120");
    EXPECT_EQ(stato->DataInvio(), "2024-03-05");
    EXPECT_EQ(stato->DataConsegna(), "2024-03-06");
    EXPECT_EQ(stato->OraConsegna(), "10:30");
    ASSERT_EQ(stato->seq_NOTIFICA().size(), 2u);
    EXPECT_EQ(stato->seq_NOTIFICA()[0]->TipoNotifica(), "NS");
    EXPECT_EQ(stato->seq_NOTIFICA()[0]->DataInvio(), "2024-03-05");
    EXPECT_EQ(stato->seq_NOTIFICA()[1]->TipoNotifica(), "RC");
    EXPECT_EQ(stato->seq_NOTIFICA()[1]->DataRicezione(), "2024-03-06");
    EXPECT_TRUE(log.Entries().empty());
}

// The optional dates: absent, or not readable as text, cost a warning each, in their order.
struct OptionalCase
{
    const char* Name;
    std::string Members; // the optional members present in the answer
    QString DataInvio;
    QString DataConsegna;
    QString OraConsegna;
    std::vector<QString> Warnings;
};

const std::vector<OptionalCase> kOptionalCases = {
    {"delivery not yet",
     R"("DataInvio":"2024-03-05")",
     "2024-03-05",
     "",
     "",
     {R"(Valore "result.DataConsegna" non trovato)", R"(Valore "result.OraConsegna" non trovato)"}},
    {"none of them",
     "",
     "",
     "",
     "",
     {R"(Valore "result.DataInvio" non trovato)", R"(Valore "result.DataConsegna" non trovato)",
      R"(Valore "result.OraConsegna" non trovato)"}},
    {"null is found", R"("DataInvio":null,"DataConsegna":null,"OraConsegna":null)", "", "", "", {}},
    {"object and array are not text",
     R"("DataInvio":{},"DataConsegna":[],"OraConsegna":12)",
     "",
     "",
     "12",
     {R"(Valore "result.DataInvio" non trovato)", R"(Valore "result.DataConsegna" non trovato)"}},
    {"wrong case is missing",
     R"("datainvio":"x","DataConsegna":"y","OraConsegna":"z")",
     "",
     "y",
     "z",
     {R"(Valore "result.DataInvio" non trovato)"}},
};

TEST_F(InvoiceTest, MissingOptionalMembersCostOneWarningEach)
{
    for (const OptionalCase& c : kOptionalCases) {
        SCOPED_TRACE(c.Name);
        ScopedAppLog log;
        std::string result = R"({"StatoFattura":"s","idfattura":"1","CodiceStatoFattura":"c",)"
                             R"("StatoEstesoFattura":"e","TipoDocumento":"t","Id_SDI":"i","seq_NOTIFICA":[])";
        if (!c.Members.empty())
            result += "," + c.Members;
        Backend.PushAnswer(ResultAnswer(result + "}"));
        const std::unique_ptr<TFAEStatoFattura> stato = Client.FAEGetStatusbyId(QStringLiteral("1"));
        EXPECT_EQ(stato->DataInvio(), c.DataInvio);
        EXPECT_EQ(stato->DataConsegna(), c.DataConsegna);
        EXPECT_EQ(stato->OraConsegna(), c.OraConsegna);
        EXPECT_TRUE(stato->seq_NOTIFICA().empty());
        std::vector<LogEntry> expected;
        for (const QString& warning : c.Warnings)
            expected.push_back(Warning(warning));
        EXPECT_EQ(log.Entries(), expected);
    }
}

TEST_F(InvoiceTest, StatusFailsOnTheFirstMissingRequiredMember)
{
    const std::string tail = R"("DataInvio":"d","DataConsegna":"d","OraConsegna":"o")";
    ExpectFailures(
        {
            {"no result", R"({"error":""})", "Value 'result.StatoFattura' not found"},
            {"identifier in the other case",
             R"({"error":"","result":{"StatoFattura":"s","IdFattura":"1","CodiceStatoFattura":"c",)"
             R"("StatoEstesoFattura":"e","TipoDocumento":"t","Id_SDI":"i","seq_NOTIFICA":[]}})",
             "Value 'result.idfattura' not found"},
            {"two missing: the first is named",
             R"({"error":"","result":{"StatoFattura":"s","idfattura":"1","StatoEstesoFattura":"e",)"
             R"("seq_NOTIFICA":[]}})",
             "Value 'result.CodiceStatoFattura' not found"},
            {"SDI identifier without underscore",
             R"({"error":"","result":{"StatoFattura":"s","idfattura":"1","CodiceStatoFattura":"c",)"
             R"("StatoEstesoFattura":"e","TipoDocumento":"t","IdSDI":"i","seq_NOTIFICA":[]}})",
             "Value 'result.Id_SDI' not found"},
            {"required member object",
             R"({"error":"","result":{"StatoFattura":{},"idfattura":"1","seq_NOTIFICA":[]}})",
             "Conversion from TJSONObject to string is not supported"},
            {"no notifications",
             R"({"error":"","result":{"StatoFattura":"s","idfattura":"1","CodiceStatoFattura":"c",)"
             R"("StatoEstesoFattura":"e","TipoDocumento":"t","Id_SDI":"i",)" +
                 tail + "}}",
             "Value 'result.seq_NOTIFICA' not found"},
            {"notifications null",
             R"({"error":"","result":{"StatoFattura":"s","idfattura":"1","CodiceStatoFattura":"c",)"
             R"("StatoEstesoFattura":"e","TipoDocumento":"t","Id_SDI":"i","seq_NOTIFICA":null}})",
             "Invalid class typecast"},
            {"notification not an object",
             R"({"error":"","result":{"StatoFattura":"s","idfattura":"1","CodiceStatoFattura":"c",)"
             R"("StatoEstesoFattura":"e","TipoDocumento":"t","Id_SDI":"i","seq_NOTIFICA":[{},"NS"]}})",
             "The input value is not a valid Object"},
            {"notification field false",
             R"({"error":"","result":{"StatoFattura":"s","idfattura":"1","CodiceStatoFattura":"c",)"
             R"("StatoEstesoFattura":"e","TipoDocumento":"t","Id_SDI":"i",)"
             R"("seq_NOTIFICA":[{"TipoNotifica":"NS"},{"DataInvio":false}]}})",
             "Invalid class typecast"},
        },
        [&] { Client.FAEGetStatusbyId(QStringLiteral("1")); });
}

TEST_F(InvoiceTest, WarningsStayWhenTheStatusFailsLater)
{
    ScopedAppLog log;
    Backend.PushAnswer(ResultAnswer(R"({"StatoFattura":"s","idfattura":"1","CodiceStatoFattura":"c",)"
                                    R"("StatoEstesoFattura":"e","TipoDocumento":"t","Id_SDI":"i",)"
                                    R"("DataInvio":"d","DataConsegna":"d"})"));
    EXPECT_EQ(FailureOf([&] { Client.FAEGetStatusbyId(QStringLiteral("1")); }),
              "Value 'result.seq_NOTIFICA' not found");
    EXPECT_EQ(log.Entries(), std::vector<LogEntry>{Warning(R"(Valore "result.OraConsegna" non trovato)")});
}

const std::string kDocument =
    R"({"NomeFileBase64":"IT01234567890_00001.xml","FileBase64":"PD94bWw/Pg==","TipoXML":"FPR12"})";

struct DownloadRequestCase
{
    const char* Name;
    std::function<std::unique_ptr<TFAEGetXmlById>(TDVBackendService&)> Call;
    std::string Body;
};

TEST_F(InvoiceTest, DownloadSendsTheKindOnlyWhenGiven)
{
    const std::vector<DownloadRequestCase> cases = {
        {"one argument", [](TDVBackendService& c) { return c.FAEGetXmlbyId(QStringLiteral("981")); },
         "QELT_REQ=FAEGetXmlbyId&QELT_RESPONSE_FORMAT=JSON&idcoda=981&TipoFileOut=base64"},
        {"empty kind", [](TDVBackendService& c) { return c.FAEGetXmlbyId(QStringLiteral("981"), QString()); },
         "QELT_REQ=FAEGetXmlbyId&QELT_RESPONSE_FORMAT=JSON&idcoda=981&TipoFileOut=base64"},
        {"a kind",
         [](TDVBackendService& c) { return c.FAEGetXmlbyId(QStringLiteral("981"), QStringLiteral("P7M")); },
         "QELT_REQ=FAEGetXmlbyId&QELT_RESPONSE_FORMAT=JSON&idcoda=981&TipoXML=P7M&TipoFileOut=base64"},
    };
    for (const DownloadRequestCase& c : cases) {
        SCOPED_TRACE(c.Name);
        Backend.PushAnswer(ResultAnswer(kDocument));
        const std::unique_ptr<TFAEGetXmlById> document = c.Call(Client);
        EXPECT_EQ(LastBody(Backend), c.Body);
        EXPECT_EQ(document->NomeFileBase64(), "IT01234567890_00001.xml");
        EXPECT_EQ(document->FileBase64(), "PD94bWw/Pg==");
        EXPECT_EQ(document->TipoXML(), "FPR12");
    }
}

TEST_F(InvoiceTest, DownloadPassesOverAnErrorThatIsNoText)
{
    for (const char* error : {R"({"x":1})", "[]"}) {
        SCOPED_TRACE(error);
        Backend.PushAnswer(
            ResultAnswer(R"({"Error":)" + std::string(error) + R"(,"NomeFileBase64":"a.xml"})"));
        EXPECT_EQ(Client.FAEGetXmlbyId(QStringLiteral("1"))->NomeFileBase64(), "a.xml");
    }
}

TEST_F(InvoiceTest, DownloadFailsOnEveryRefusalAndBrokenAnswer)
{
    ExpectFailures(
        {
            {"error text, untrimmed", R"({"error":"","result":{"Error":" Documento non disponibile\r\n"}})",
             " Documento non disponibile\r\n"},
            {"empty error still refuses", R"({"error":"","result":{"Error":"","FileBase64":"QQ=="}})", ""},
            {"null error still refuses", R"({"error":"","result":{"Error":null}})", ""},
            {"numeric error", R"({"error":"","result":{"Error":404}})", "404"},
            {"no result", R"({"error":""})", "Value 'result' not found"},
            {"result array", R"({"error":"","result":[]})", "The input value is not a valid Object"},
            {"result text", R"({"error":"","result":"PD94"})", "The input value is not a valid Object"},
            {"result null", R"({"error":"","result":null})", "The input value is not a valid Object"},
            {"field true", R"({"error":"","result":{"FileBase64":true}})", "Invalid class typecast"},
            {"field array", R"({"error":"","result":{"TipoXML":["a"]}})",
             "Cannot set value for field TipoXML as it is expected to be an array instead of string"},
        },
        [&] { Client.FAEGetXmlbyId(QStringLiteral("1"), QStringLiteral("FPR12")); });
}

TEST_F(InvoiceTest, StateUpdateSendsTheCodeAndLogsBeforeSending)
{
    ScopedAppLog log;
    Backend.PushAnswer(ResultAnswer(R"({"Esito":"OK"})"));
    Client.FAEAggiornaStato(QStringLiteral("981"), QStringLiteral("PAG"));
    EXPECT_EQ(LastBody(Backend),
              "QELT_REQ=FAEAggiornaStato&QELT_RESPONSE_FORMAT=JSON&idcoda=981&CodiceStato=PAG");
    EXPECT_EQ(log.Entries(),
              (std::vector<LogEntry>{Normal(QStringLiteral("FAEAggiornaStato")),
                                     Normal(QStringLiteral("IdFattura: 981 - CodiceStato: PAG"))}));
}

TEST_F(InvoiceTest, StateUpdateLogsItsEntriesEvenWhenTheBackendIsOutOfReach)
{
    ScopedAppLog log;
    TDVBackendService unreachable(QStringLiteral("localhost:1"), TestTransport());
    unreachable.SetFirmType(QStringLiteral("aziende"));
    EXPECT_THROW(unreachable.FAEAggiornaStato(QStringLiteral("7"), QString()), EVornError);
    EXPECT_EQ(log.Messages(), (std::vector<QString>{QStringLiteral("FAEAggiornaStato"),
                                                    QStringLiteral("IdFattura: 7 - CodiceStato: ")}));
}

// Only the exact outcome "KO" refuses; anything else, even "ko" or nothing, is success.
TEST_F(InvoiceTest, StateUpdateSucceedsOnEveryOutcomeButKO)
{
    for (const char* esito : {R"("OK")", R"("ko")", R"("")", R"(" KO")", "null", "1"}) {
        SCOPED_TRACE(esito);
        Backend.PushAnswer(ResultAnswer(R"({"Esito":)" + std::string(esito) + R"(,"Error":"ignored"})"));
        EXPECT_NO_THROW(Client.FAEAggiornaStato(QStringLiteral("1"), QStringLiteral("PAG")));
    }
}

TEST_F(InvoiceTest, StateUpdateFailsOnKOAndBrokenAnswers)
{
    ExpectFailures(
        {
            {"KO, text trimmed", R"({"error":"","result":{"Esito":"KO","Error":"  Stato non ammesso\r\n"}})",
             "Stato non ammesso"},
            {"KO without error", R"({"error":"","result":{"Esito":"KO"}})", "Value 'result.Error' not found"},
            {"KO with object error", R"({"error":"","result":{"Esito":"KO","Error":{}}})",
             "Conversion from TJSONObject to string is not supported"},
            {"no outcome", R"({"error":"","result":{"Error":"x"}})", "Value 'result.Esito' not found"},
            {"outcome array", R"({"error":"","result":{"Esito":["KO"]}})",
             "Conversion from TJSONArray to string is not supported"},
        },
        [&] { Client.FAEAggiornaStato(QStringLiteral("1"), QStringLiteral("PAG")); });
}

} // namespace
} // namespace operations_test
