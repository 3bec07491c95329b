// Every operation ends with the request framework's failure, unchanged: transport, status,
// answers that are not JSON and the backend's top-level "error".

#include "tests/operations/OperationsTestSupport.h"
#include "tests/support/Print.h"

namespace operations_test {
namespace {

struct Operation
{
    const char* Name;
    std::function<void(TDVBackendService&)> Run;
};

void PrintTo(const Operation& operation, std::ostream* os)
{
    *os << operation.Name;
}

const std::vector<Operation> kOperations = {
    {"FAEAttivaSearch",
     [](TDVBackendService& c) {
         c.FAEAttivaSearch(1, 0, {}, 0, 0, {}, {}, {}, {}, 0, 0, 0, {}, {}, {}, {});
     }},
    {"FAEPassivaSearch",
     [](TDVBackendService& c) {
         c.FAEPassivaSearch(1, 0, {}, 0, 0, {}, {}, {}, {}, 0, 0, 0, {}, {}, {}, {});
     }},
    {"FAEGetStatusbyId", [](TDVBackendService& c) { c.FAEGetStatusbyId(QStringLiteral("1")); }},
    {"FAEGetXmlbyId", [](TDVBackendService& c) { c.FAEGetXmlbyId(QStringLiteral("1")); }},
    {"FAEGetXmlbyId kind",
     [](TDVBackendService& c) { c.FAEGetXmlbyId(QStringLiteral("1"), QStringLiteral("P7M")); }},
    {"FAEAggiornaStato",
     [](TDVBackendService& c) { c.FAEAggiornaStato(QStringLiteral("1"), QStringLiteral("X")); }},
    {"GetCodiceSoggetto", [](TDVBackendService& c) { c.GetCodiceSoggetto(QStringLiteral("X")); }},
    {"VR_CheckDatabase", [](TDVBackendService& c) { c.VR_CheckDatabase(); }},
};

class FramingTest : public OperationsTest, public testing::WithParamInterface<Operation>
{
};

TEST_P(FramingTest, FailsWithTheFrameworksMessage)
{
    const auto run = [&] { GetParam().Run(Client); };
    const std::vector<std::pair<substitute::ScriptedAnswer, QString>> cases = {
        {JsonAnswer(R"({"error":"","result":{}})", 503), QStringLiteral("Service Unavailable")},
        {JsonAnswer("<html>Manutenzione</html>"), QStringLiteral("Json non valido")},
        {JsonAnswer(R"({"error":"","result":{}} x)"), QStringLiteral("Json non valido")},
        {JsonAnswer(R"({"error":" Utente non autorizzato\r\n","result":{"Esito":"OK"}})"),
         QStringLiteral("Utente non autorizzato")},
        {JsonAnswer(R"({"result":{}})"), QStringLiteral("Value 'error' not found")},
    };
    for (const auto& [answer, message] : cases) {
        SCOPED_TRACE(message.toStdString());
        Backend.PushAnswer(answer);
        EXPECT_EQ(FailureOf(run), message);
    }

    Backend.PushAnswer(DroppedConnection());
    EXPECT_FALSE(FailureOf(run).isEmpty());
}

INSTANTIATE_TEST_SUITE_P(EveryOperation, FramingTest, testing::ValuesIn(kOperations),
                         [](const testing::TestParamInfo<Operation>& info) {
                             return TestNameOf(info.param.Name);
                         });

} // namespace
} // namespace operations_test
