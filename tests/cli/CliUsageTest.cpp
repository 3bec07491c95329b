// vorn-cli without a backend: help, wrong command lines, a missing or incomplete configuration.

#include "tests/cli/CliProgram.h"

#include <gtest/gtest.h>

namespace {

TEST_F(CliUsageTest, HelpExplainsEveryCommand)
{
    const CliRun run = Cli.Run({QStringLiteral("--help")});
    ASSERT_EQ(run.ExitCode, 0) << Describe(run);
    for (const char* text :
         {"check-database", "search-issued", "search-received", "status ID", "download", "set-state ID CODE",
          "subject CF", "--invoice-from DATE", "--customer-name", "--id-to", "--kind K", "--out FILE",
          "track [OPTIONS] [FOLDER]", "--refresh", "pull [OPTIONS]", "--into FOLDER", "--max N", "--json",
          "VORN_Automatic.ini", "Exit status"})
        EXPECT_TRUE(run.Out.contains(QLatin1String(text))) << text;

    const CliRun command = Cli.Run({QStringLiteral("download"), QStringLiteral("--help")});
    ASSERT_EQ(command.ExitCode, 0) << Describe(command);
    EXPECT_TRUE(command.Out.startsWith(QStringLiteral("Usage: vorn-cli [--json] download [OPTIONS] ID\n")))
        << Describe(command);
    EXPECT_FALSE(command.Out.contains(QStringLiteral("--invoice-from")));
}

// Usage errors exit 2 with a message that says what is wrong, before any configuration is read:
// the working folder here has none.
TEST_F(CliUsageTest, WrongCommandLinesExitTwo)
{
    const struct
    {
        QStringList Arguments;
        const char* Message;
    } cases[] = {
        {{}, "vorn-cli: no command given (see vorn-cli --help)\n"},
        {{"frobnicate"}, "vorn-cli: unknown command 'frobnicate' (see vorn-cli --help)\n"},
        {{"status"}, "vorn-cli: usage: vorn-cli [--json] status ID\n"},
        {{"set-state", "1"}, "vorn-cli: usage: vorn-cli [--json] set-state ID CODE\n"},
        {{"subject", "A", "B"}, "vorn-cli: usage: vorn-cli [--json] subject CF\n"},
        {{"status", "--kind", "x", "1"}, "vorn-cli: Unknown option 'kind'. (see vorn-cli --help)\n"},
        {{"search-issued", "--from", "2024-02-30"},
         "vorn-cli: --from: '2024-02-30' is not a valid date; write it as yyyy-mm-dd\n"},
        {{"search-received", "--invoice-date=5/3/2024"},
         "vorn-cli: --invoice-date: '5/3/2024' is not a valid date; write it as yyyy-mm-dd\n"},
        {{"search-received", "--to", "2024-3-05"},
         "vorn-cli: --to: '2024-3-05' is not a valid date; write it as yyyy-mm-dd\n"},
        {{"search-issued", "--invoice-to", "1899-12-30"},
         "vorn-cli: --invoice-to: '1899-12-30' is before 1900-01-01\n"},
        {{"search-issued", "--limit", "ten"}, "vorn-cli: --limit: 'ten' is not a whole number\n"},
        {{"search-issued", "--offset", "99999999999"},
         "vorn-cli: --offset: '99999999999' is not a whole number\n"},
        {{"search-issued", "--limit"}, "vorn-cli: Missing value after '--limit'. (see vorn-cli --help)\n"},
        {{"track", "a", "b"}, "vorn-cli: usage: vorn-cli [--json] track [OPTIONS] [FOLDER]\n"},
        {{"track", "--since", "ieri", "a"},
         "vorn-cli: --since: 'ieri' is not a valid date; write it as yyyy-mm-dd\n"},
        // Without a folder and without a configuration that names one, nothing is asked.
        {{"track"},
         "vorn-cli: no folder: give FOLDER, or set CartellaDaInviare in section FE of VORN_Automatic.ini\n"},
        {{"pull"},
         "vorn-cli: no folder: give --into FOLDER, or set CartellaRicevute in section FE of "
         "VORN_Automatic.ini\n"},
        {{"pull", "cartella"}, "vorn-cli: usage: vorn-cli [--json] pull [OPTIONS]\n"},
        {{"pull", "--max", "0"}, "vorn-cli: --max: '0' is not a count of at least 1\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Arguments.join(u' ').toStdString());
        const CliRun run = Cli.Run(c.Arguments);
        EXPECT_EQ(run.ExitCode, 2) << Describe(run);
        EXPECT_EQ(run.Err, QString::fromUtf8(c.Message));
        EXPECT_TRUE(run.Out.isEmpty());
    }
}

TEST_F(CliUsageTest, MissingConfigurationIsAClientFailure)
{
    const CliRun missing = Cli.Run({QStringLiteral("check-database")});
    EXPECT_EQ(missing.ExitCode, 1) << Describe(missing);
    EXPECT_TRUE(missing.Err.contains(QStringLiteral("VORN_Automatic.ini not found"))) << Describe(missing);

    // The same checks, in the same order, as the window's settings check.
    Cli.WriteConfig(QStringLiteral("  "), QStringLiteral("mario"), QStringLiteral("x"));
    EXPECT_EQ(Cli.Run({QStringLiteral("check-database")}).Err, "vorn-cli: Databse non specificato\n");
    Cli.WriteConfig(QStringLiteral("DEMO01"), QString(), QStringLiteral("x"));
    EXPECT_EQ(Cli.Run({QStringLiteral("check-database")}).Err, "vorn-cli: Username non specificato\n");
    Cli.WriteConfig(QStringLiteral("DEMO01"), QStringLiteral("mario"), QStringLiteral(" "));
    const CliRun noPassword = Cli.Run({QStringLiteral("check-database")});
    EXPECT_EQ(noPassword.ExitCode, 1);
    EXPECT_EQ(noPassword.Err, "vorn-cli: Password non specificata\n");
}

} // namespace
