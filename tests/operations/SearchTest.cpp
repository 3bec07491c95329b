// FAEAttivaSearch and FAEPassivaSearch: the eighteen request lines, the reading of the total and
// the invoice array, their failures, and the log entries of the received-invoice search.

#include "tests/operations/OperationsTestSupport.h"

#include <QDate>

namespace operations_test {
namespace {

// Day counts since 30 December 1899, written out: a namespace-scope EncodeDateTime would run
// before the calendar constants of another translation unit are initialised.
constexpr TDateTime k31December2023 = 45291;
constexpr TDateTime k1January2024 = 45292;
constexpr TDateTime k2February2024 = 45324;
constexpr TDateTime k5March2024 = 45356;
constexpr TDateTime k7July2024 = 45480;

TEST(SearchDates, DayCountsAreTheDatesTheyName)
{
    EXPECT_EQ(k31December2023, EncodeDateTime(QDate(2023, 12, 31)));
    EXPECT_EQ(k1January2024, EncodeDateTime(QDate(2024, 1, 1)));
    EXPECT_EQ(k2February2024, EncodeDateTime(QDate(2024, 2, 2)));
    EXPECT_EQ(k5March2024, EncodeDateTime(QDate(2024, 3, 5)));
    EXPECT_EQ(k7July2024, EncodeDateTime(QDate(2024, 7, 7)));
}

const char kEmptyTotal[] = R"({"NumeroTotale":"0"})";

class SearchTest : public OperationsTest
{
protected:
    TFAEAttivaList SearchIssued()
    {
        return Client.FAEAttivaSearch(50, 0, {}, 0, 0, {}, {}, {}, {}, 0, 0, 0, {}, {}, {}, {});
    }

    std::unique_ptr<TFAEPassivaSearch> SearchReceived()
    {
        return Client.FAEPassivaSearch(50, 0, {}, 0, 0, {}, {}, {}, {}, 0, 0, 0, {}, {}, {}, {});
    }
};

// Every value in its own line and place; texts form-encoded, dates as yyyy-MM-dd.
TEST_F(SearchTest, IssuedSearchSendsEveryFilterInItsLine)
{
    Backend.PushAnswer(ResultAnswer(kEmptyTotal));
    Client.FAEAttivaSearch(25, 50, QStringLiteral("S"), k1January2024, k5March2024,
                           QStringLiteral("IT01234567890"), QStringLiteral("Rossi & Figli"),
                           QStringLiteral("RSSMRA80A01H501U"), QStringLiteral("Caffè Centrale"),
                           k31December2023, k2February2024, k7July2024, QStringLiteral("2024/15"),
                           QStringLiteral("RIC"), QStringLiteral("100"), QStringLiteral("200"));
    EXPECT_EQ(LastBody(Backend), "QELT_REQ=FAEAttivaSearch&QELT_RESPONSE_FORMAT=JSON"
                                 "&RisultatiLimite=25&RisultatiOffset=50&RisultatiOrdinamentoInverso=S"
                                 "&InvioDataDa=2024-01-01&InvioDataA=2024-03-05"
                                 "&CessionarioCfPiva=IT01234567890&CessionarioDenominazione=Rossi+%26+Figli"
                                 "&CedenteCfPiva=RSSMRA80A01H501U&CedenteDenominazione=Caff%C3%A8+Centrale"
                                 "&FatturaDataDa=2023-12-31&FatturaDataA=2024-02-02&FatturaData=2024-07-07"
                                 "&FatturaNumero=2024%2F15&CodiceStatoGestionale=RIC"
                                 "&FatturaDaId=100&FatturaAId=200");
}

TEST_F(SearchTest, ReceivedSearchNamesItsDateBoundsAfterTheReceipt)
{
    Backend.PushAnswer(ResultAnswer(kEmptyTotal));
    Client.FAEPassivaSearch(10, 20, QStringLiteral("N"), k1January2024, k5March2024, QStringLiteral("a"),
                            QStringLiteral("b"), QStringLiteral("c"), QStringLiteral("d"), k31December2023,
                            k2February2024, k7July2024, QStringLiteral("e"), QStringLiteral("f"),
                            QStringLiteral("g"), QStringLiteral("h"));
    EXPECT_EQ(LastBody(Backend), "QELT_REQ=FAEPassivaSearch&QELT_RESPONSE_FORMAT=JSON"
                                 "&RisultatiLimite=10&RisultatiOffset=20&RisultatiOrdinamentoInverso=N"
                                 "&RicezioneDataDa=2024-01-01&RicezioneDataA=2024-03-05"
                                 "&CessionarioCfPiva=a&CessionarioDenominazione=b&CedenteCfPiva=c"
                                 "&CedenteDenominazione=d&FatturaDataDa=2023-12-31&FatturaDataA=2024-02-02"
                                 "&FatturaData=2024-07-07&FatturaNumero=e&CodiceStatoGestionale=f"
                                 "&FatturaDaId=g&FatturaAId=h");
}

// Empty texts and zero dates still send their lines, each ending with "=".
TEST_F(SearchTest, EmptyFiltersStillSendAllEighteenLines)
{
    const std::string emptyTail = "&RisultatiOrdinamentoInverso=&%1DataDa=&%1DataA=&CessionarioCfPiva="
                                  "&CessionarioDenominazione=&CedenteCfPiva=&CedenteDenominazione="
                                  "&FatturaDataDa=&FatturaDataA=&FatturaData=&FatturaNumero="
                                  "&CodiceStatoGestionale=&FatturaDaId=&FatturaAId=";
    const auto expected = [&](const char* operation, const char* bound, const char* limit) {
        return QStringLiteral("QELT_REQ=%1&QELT_RESPONSE_FORMAT=JSON&RisultatiLimite=%2&RisultatiOffset=0")
                   .arg(QLatin1String(operation), QLatin1String(limit))
                   .toStdString() +
               QString::fromStdString(emptyTail)
                   .replace(QStringLiteral("%1"), QLatin1String(bound))
                   .toStdString();
    };

    Backend.PushAnswer(ResultAnswer(kEmptyTotal));
    Client.FAEAttivaSearch(-1, 0, {}, 0, 0, {}, {}, {}, {}, 0, 0, 0, {}, {}, {}, {});
    EXPECT_EQ(LastBody(Backend), expected("FAEAttivaSearch", "Invio", "-1"));

    Backend.PushAnswer(ResultAnswer(kEmptyTotal));
    Client.FAEPassivaSearch(0, 0, {}, 0, 0, {}, {}, {}, {}, 0, 0, 0, {}, {}, {}, {});
    EXPECT_EQ(LastBody(Backend), expected("FAEPassivaSearch", "Ricezione", "0"));
    EXPECT_EQ(Backend.Requests().back().Fields.size(), 18u);
}

// The total decides whether the array is read at all; only the exact text "0" means "nothing".
struct TotalCase
{
    const char* Name;
    std::string Result;
    QString NumeroTotale;
    std::vector<QString> Ids; // IdFattura of the records, in order
};

const std::vector<TotalCase> kTotalCases = {
    {"zero without array", R"({"NumeroTotale":"0"})", "0", {}},
    {"zero ignores a full array", R"({"NumeroTotale":"0","seq_FATTURE":[{"IdFattura":"1"}]})", "0", {}},
    {"zero ignores a broken array", R"({"NumeroTotale":"0","seq_FATTURE":[null,true]})", "0", {}},
    {"count with empty array", R"({"NumeroTotale":"12","seq_FATTURE":[]})", "12", {}},
    {"double zero is not zero", R"({"NumeroTotale":"00","seq_FATTURE":[{"IdFattura":"7"}]})", "00", {"7"}},
    {"blank zero is not zero", R"({"NumeroTotale":" 0","seq_FATTURE":[{"IdFattura":"8"}]})", " 0", {"8"}},
    {"numeric total keeps its literal",
     R"({"NumeroTotale":2,"seq_FATTURE":[{"IdFattura":"1"},{"IdFattura":2}]})",
     "2",
     {"1", "2"}},
    {"array order kept",
     R"({"NumeroTotale":"3","seq_FATTURE":[{"IdFattura":"c"},{"IdFattura":"a"},{}]})",
     "3",
     {"c", "a", ""}},
};

TEST_F(SearchTest, TotalDecidesWhetherTheArrayIsRead)
{
    for (const TotalCase& c : kTotalCases) {
        SCOPED_TRACE(c.Name);
        Backend.PushAnswer(ResultAnswer(c.Result));
        const TFAEAttivaList issued = SearchIssued();
        std::vector<QString> issuedIds;
        for (const auto& fattura : issued)
            issuedIds.push_back(fattura->IdFattura());
        EXPECT_EQ(issuedIds, c.Ids);

        Backend.PushAnswer(ResultAnswer(c.Result));
        const std::unique_ptr<TFAEPassivaSearch> received = SearchReceived();
        std::vector<QString> receivedIds;
        for (const auto& fattura : received->Fatture())
            receivedIds.push_back(fattura->IdFattura());
        EXPECT_EQ(receivedIds, c.Ids);
        EXPECT_EQ(received->NumeroTotale(), c.NumeroTotale);
    }
}

TEST_F(SearchTest, IssuedInvoicesAreMappedFieldByField)
{
    Backend.PushAnswer(ResultAnswer(
        R"({"NumeroTotale":"1","seq_FATTURE":[{"IdFattura":"981","IdSDI":"44120","FatturaData":"2024-03-05",)"
        R"("FatturaNumero":"15/A","FatturaImporto":1220.50,"cedentepartitaiva":"01234567890",)"
        R"("CessionarioAnagrafica":"Caff\u00e8 Centrale","StatoFatturaSdi":null,"TipoDocumento":{"x":1},)"
        R"("Sconosciuto":[1,2],"DataUltimaNotifica":"2024-03-06 10:00"}]})"));
    const TFAEAttivaList issued = SearchIssued();
    ASSERT_EQ(issued.size(), 1u);
    const TFAEAttiva& fattura = *issued.front();
    EXPECT_EQ(fattura.IdFattura(), "981");
    EXPECT_EQ(fattura.IdSDI(), "44120");
    EXPECT_EQ(fattura.FatturaData(), "2024-03-05");
    EXPECT_EQ(fattura.FatturaNumero(), "15/A");
    EXPECT_EQ(fattura.FatturaImporto(), "1220.50");
    EXPECT_EQ(fattura.CedentePartitaIva(), "01234567890");
    EXPECT_EQ(fattura.CessionarioAnagrafica(), QStringLiteral("Caffè Centrale"));
    EXPECT_EQ(fattura.StatoFatturaSdi(), "");
    EXPECT_EQ(fattura.TipoDocumento(), "");
    EXPECT_EQ(fattura.DataUltimaNotifica(), "2024-03-06 10:00");
    EXPECT_EQ(fattura.InvioData(), "");
}

TEST_F(SearchTest, ReceivedInvoicesAreMappedFieldByField)
{
    Backend.PushAnswer(ResultAnswer(
        R"({"NumeroTotale":"40","seq_FATTURE":[{"IdFattura":"5","Nomefile":"IT01234567890_00001.xml",)"
        R"("RicezioneData":"2024-03-05","RicezioneOra":"09:15","CessionarioPartitaIva":"09876543210"},)"
        R"({"IdFattura":"6","NOMEFILE":"IT01234567890_00002.xml"}]})"));
    const std::unique_ptr<TFAEPassivaSearch> received = SearchReceived();
    EXPECT_EQ(received->NumeroTotale(), "40");
    ASSERT_EQ(received->Fatture().size(), 2u);
    EXPECT_EQ(received->Fatture()[0]->Nomefile(), "IT01234567890_00001.xml");
    EXPECT_EQ(received->Fatture()[0]->RicezioneData(), "2024-03-05");
    EXPECT_EQ(received->Fatture()[0]->RicezioneOra(), "09:15");
    EXPECT_EQ(received->Fatture()[0]->CessionarioPartitaIva(), "09876543210");
    EXPECT_EQ(received->Fatture()[1]->IdFattura(), "6");
    EXPECT_EQ(received->Fatture()[1]->Nomefile(), "IT01234567890_00002.xml");
}

// Failures of the answer's reading: no partial list comes back, nothing leaks.
const std::vector<FailureCase> kSearchFailures = {
    {"no result", R"({"error":""})", "Value 'result.NumeroTotale' not found"},
    {"no total, array present", R"({"error":"","result":{"seq_FATTURE":[]}})",
     "Value 'result.NumeroTotale' not found"},
    {"total object", R"({"error":"","result":{"NumeroTotale":{},"seq_FATTURE":[]}})",
     "Conversion from TJSONObject to string is not supported"},
    {"total array", R"({"error":"","result":{"NumeroTotale":[],"seq_FATTURE":[]}})",
     "Conversion from TJSONArray to string is not supported"},
    {"total but no array", R"({"error":"","result":{"NumeroTotale":"3"}})",
     "Value 'result.seq_FATTURE' not found"},
    {"double zero needs the array", R"({"error":"","result":{"NumeroTotale":"00"}})",
     "Value 'result.seq_FATTURE' not found"},
    {"array null", R"({"error":"","result":{"NumeroTotale":"3","seq_FATTURE":null}})",
     "Invalid class typecast"},
    {"array object", R"({"error":"","result":{"NumeroTotale":"3","seq_FATTURE":{}}})",
     "Invalid class typecast"},
    {"null element after good ones",
     R"({"error":"","result":{"NumeroTotale":"3","seq_FATTURE":[{"IdFattura":"1"},{"IdFattura":"2"},null]}})",
     "The input value is not a valid Object"},
    {"string element", R"({"error":"","result":{"NumeroTotale":"1","seq_FATTURE":["x"]}})",
     "The input value is not a valid Object"},
    {"array element", R"({"error":"","result":{"NumeroTotale":"1","seq_FATTURE":[[]]}})",
     "The input value is not a valid Object"},
    {"field true", R"({"error":"","result":{"NumeroTotale":"1","seq_FATTURE":[{"IdFattura":true}]}})",
     "Invalid class typecast"},
    {"field array",
     R"({"error":"","result":{"NumeroTotale":"2","seq_FATTURE":[{"IdFattura":"1"},{"fatturanumero":[]}]}})",
     "Cannot set value for field fatturanumero as it is expected to be an array instead of string"},
};

TEST_F(SearchTest, IssuedSearchFailsOnEveryBrokenAnswer)
{
    ExpectFailures(kSearchFailures, [&] { SearchIssued(); });
}

TEST_F(SearchTest, ReceivedSearchFailsOnEveryBrokenAnswer)
{
    ExpectFailures(kSearchFailures, [&] { SearchReceived(); });
}

// URL, "ParamList", the eighteen lines as sent, then the accepted answer re-serialised compactly.
TEST_F(SearchTest, ReceivedSearchLogsTwentyOneEntries)
{
    ScopedAppLog log;
    Backend.PushAnswer(
        JsonAnswer("{ \"error\" : \"\",\n \"result\" : { \"NumeroTotale\" : \"1\", \"seq_FATTURE\" : "
                   "[ { \"IdFattura\" : \"a/b\", \"CedenteAnagrafica\" : \"Caff\xC3\xA8\" } ] } }"));
    Client.FAEPassivaSearch(5, 0, {}, k1January2024, 0, QStringLiteral("IT0 1"), {}, {}, {}, 0, 0, 0, {}, {},
                            {}, {});

    const QString url = QString::fromStdString(EndpointUrl(Backend.Port()));
    const std::vector<LogEntry> expected = {
        Normal(QStringLiteral("FAEPassivaSearch ") + url),
        Normal(QStringLiteral("FAEPassivaSearch ParamList")),
        Normal(QStringLiteral("QELT_REQ=FAEPassivaSearch")),
        Normal(QStringLiteral("QELT_RESPONSE_FORMAT=JSON")),
        Normal(QStringLiteral("RisultatiLimite=5")),
        Normal(QStringLiteral("RisultatiOffset=0")),
        Normal(QStringLiteral("RisultatiOrdinamentoInverso=")),
        Normal(QStringLiteral("RicezioneDataDa=2024-01-01")),
        Normal(QStringLiteral("RicezioneDataA=")),
        Normal(QStringLiteral("CessionarioCfPiva=IT0 1")),
        Normal(QStringLiteral("CessionarioDenominazione=")),
        Normal(QStringLiteral("CedenteCfPiva=")),
        Normal(QStringLiteral("CedenteDenominazione=")),
        Normal(QStringLiteral("FatturaDataDa=")),
        Normal(QStringLiteral("FatturaDataA=")),
        Normal(QStringLiteral("FatturaData=")),
        Normal(QStringLiteral("FatturaNumero=")),
        Normal(QStringLiteral("CodiceStatoGestionale=")),
        Normal(QStringLiteral("FatturaDaId=")),
        Normal(QStringLiteral("FatturaAId=")),
        Normal(QStringLiteral(R"({"error":"","result":{"NumeroTotale":"1","seq_FATTURE":)"
                              R"([{"IdFattura":"a\/b","CedenteAnagrafica":"Caff\u00E8"}]}})")),
    };
    EXPECT_EQ(log.Entries(), expected);
}

TEST_F(SearchTest, ReceivedSearchNeverLogsTheCredentials)
{
    ScopedAppLog log;
    Backend.PushAnswer(ResultAnswer(kEmptyTotal));
    SearchReceived();
    const std::vector<QString> messages = log.Messages();
    ASSERT_EQ(messages.size(), 21u);
    const QString authorization = DVBackendServiceTestAccess::AuthHeaders(Client).front().Value;
    for (const QString& message : messages) {
        EXPECT_FALSE(message.contains(QString::fromUtf8(kTestPassword))) << message.toStdString();
        EXPECT_FALSE(message.contains(authorization.mid(6))) << message.toStdString();
    }
}

// Entries already written stay: the request's when sending fails, the answer's when reading fails.
TEST_F(SearchTest, ReceivedSearchKeepsItsEntriesWhenItFails)
{
    {
        ScopedAppLog log;
        Backend.PushAnswer(DroppedConnection());
        EXPECT_THROW(SearchReceived(), EVornError);
        const std::vector<QString> messages = log.Messages();
        ASSERT_EQ(messages.size(), 20u);
        EXPECT_EQ(messages.back(), "FatturaAId=");
    }
    {
        ScopedAppLog log;
        Backend.PushAnswer(ResultAnswer(R"({"NumeroTotale":"1","seq_FATTURE":[null]})"));
        EXPECT_EQ(FailureOf([&] { SearchReceived(); }), "The input value is not a valid Object");
        const std::vector<QString> messages = log.Messages();
        ASSERT_EQ(messages.size(), 21u);
        EXPECT_EQ(messages.back(), R"({"error":"","result":{"NumeroTotale":"1","seq_FATTURE":[null]}})");
    }
}

TEST_F(SearchTest, IssuedSearchWritesNoLogEntry)
{
    ScopedAppLog log;
    Backend.PushAnswer(ResultAnswer(R"({"NumeroTotale":"1","seq_FATTURE":[{"IdFattura":"1"}]})"));
    EXPECT_EQ(SearchIssued().size(), 1u);
    Backend.PushAnswer(ResultAnswer(R"({"NumeroTotale":"1"})"));
    EXPECT_THROW(SearchIssued(), EVornError);
    EXPECT_TRUE(log.Entries().empty());
}

} // namespace
} // namespace operations_test
