// vorn-cli search-issued and search-received against the substitute.

#include "tests/cli/CliProgram.h"

#include <QJsonArray>
#include <QJsonObject>

#include <gtest/gtest.h>

namespace {

TEST_F(CliBackendTest, SearchIssuedSendsTheFiltersAndPrintsATable)
{
    substitute::ScriptedAnswer answer;
    answer.Headers = {{"Content-Type", "application/json"}};
    answer.Body = R"({"error":"","result":{"NumeroTotale":"2","seq_FATTURE":[)"
                  R"({"IdFattura":"11","FatturaNumero":"2024/1","CessionarioAnagrafica":"Bar Sport"},)"
                  R"({"IdFattura":"12","FatturaNumero":"2024/2","FatturaImporto":"10.00"}]}})";
    Backend->PushAnswer(answer);
    const CliRun run =
        Cli.Run({QStringLiteral("search-issued"), QStringLiteral("--limit"), QStringLiteral("-1"),
                 QStringLiteral("--offset=5"), QStringLiteral("--reverse"), QStringLiteral("--from"),
                 QStringLiteral("2024-01-31"), QStringLiteral("--invoice-date"), QStringLiteral("2024-02-29"),
                 QStringLiteral("--customer-name"), QStringLiteral("Bar Sport"), QStringLiteral("--id-to"),
                 QStringLiteral("99")});
    ASSERT_EQ(run.ExitCode, 0) << Describe(run);
    const substitute::ReceivedRequest request = LastRequest();
    EXPECT_EQ(request.Body,
              "QELT_REQ=FAEAttivaSearch&QELT_RESPONSE_FORMAT=JSON&RisultatiLimite=-1"
              "&RisultatiOffset=5&RisultatiOrdinamentoInverso=S&InvioDataDa=2024-01-31&InvioDataA="
              "&CessionarioCfPiva=&CessionarioDenominazione=Bar+Sport&CedenteCfPiva="
              "&CedenteDenominazione=&FatturaDataDa=&FatturaDataA=&FatturaData=2024-02-29"
              "&FatturaNumero=&CodiceStatoGestionale=&FatturaDaId=&FatturaAId=99");
    const QStringList lines = run.Out.split(u'\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 4) << Describe(run);
    EXPECT_TRUE(lines[0].startsWith(QStringLiteral("IdFattura  FatturaData  FatturaNumero")));
    EXPECT_TRUE(lines[1].startsWith(QStringLiteral("11         ")));
    EXPECT_TRUE(lines[1].contains(QStringLiteral("Bar Sport")));
    EXPECT_EQ(lines[3], "2 invoice(s)");
}

TEST_F(CliBackendTest, SearchReceivedAsJsonCarriesEveryField)
{
    const CliRun run = Cli.Run({QStringLiteral("search-received"), QStringLiteral("--json"),
                                QStringLiteral("--from"), QStringLiteral("2024-03-01")});
    ASSERT_EQ(run.ExitCode, 0) << Describe(run);
    EXPECT_EQ(LastRequest().Field("RicezioneDataDa"), "2024-03-01");
    EXPECT_EQ(LastRequest().Field("RisultatiLimite"), "100");
    const QJsonObject json = JsonOf(run).object();
    const QJsonArray fatture = json.value(QStringLiteral("Fatture")).toArray();
    EXPECT_EQ(json.value(QStringLiteral("NumeroTotale")).toString(), QString::number(fatture.size()));
    ASSERT_FALSE(fatture.isEmpty());
    for (const QJsonValue& fattura : fatture) {
        EXPECT_EQ(fattura.toObject().size(), 19);
        EXPECT_GE(fattura.toObject().value(QStringLiteral("RicezioneData")).toString(),
                  QStringLiteral("2024-03-01"));
    }
}

} // namespace
