#pragma once

// vorn-cli end to end: the program as built, run in a temporary working folder that holds a
// VORN_Automatic.ini, against the substitute backend on the port the build's endpoint names. The
// fixtures are shared by the test files of the command families (outside any unnamed namespace,
// so that every file's tests of a suite have the same fixture).

#include "config/ConfigFile.h"
#include "config/Settings.h"
#include "substitute/SubstituteBackend.h"
#include "tests/support/EndToEnd.h"
#include "tests/support/Files.h"
#include "tests/support/Substitute.h"

#include <QJsonDocument>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

inline constexpr char kReceivedXml[] = "IT09876543210_00A1B.xml"; // the substitute's received invoice 900001

struct CliRun
{
    int ExitCode = -1;
    QString Out;
    QString Err;
};

inline std::string Describe(const CliRun& run)
{
    return "exit " + std::to_string(run.ExitCode) + "\nstdout:\n" + run.Out.toStdString() + "\nstderr:\n" +
           run.Err.toStdString();
}

// The program's runs, in a working folder of their own.
class CliProgram
{
public:
    CliRun Run(const QStringList& arguments) const
    {
        QProcess process;
        process.setWorkingDirectory(Dir.path());
        process.start(QStringLiteral(VORN_CLI_PATH), arguments);
        CliRun run;
        if (!process.waitForFinished(60000)) {
            process.kill();
            process.waitForFinished();
            ADD_FAILURE() << "vorn-cli did not finish";
            return run;
        }
        run.ExitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        run.Out = QString::fromUtf8(process.readAllStandardOutput());
        run.Err = QString::fromUtf8(process.readAllStandardError());
        return run;
    }

    // The window's way of storing the settings: trimmed texts, the password encoded.
    void WriteConfig(const QString& database, const QString& username, const QString& password) const
    {
        TConfigFile config(Dir.filePath(QStringLiteral("VORN_Automatic.ini")));
        config.WriteString(QStringLiteral("DLV"), QStringLiteral("Database"), database);
        config.WriteString(QStringLiteral("DLV"), QStringLiteral("Username"), username);
        config.WriteString(QStringLiteral("DLV"), QStringLiteral("Password"), EncodePassword(password));
        config.Close();
    }

    QByteArray FileContent(const QString& name) const { return ReadBytes(Dir.filePath(name)); }

    QTemporaryDir Dir;
};

// What needs no backend at all: help and the command-line checks.
class CliUsageTest : public testing::Test
{
protected:
    CliProgram Cli;
};

// The commands against the substitute backend. The program's endpoint is a build constant, so
// these run only in a build whose backend is the substitute on loopback (scripts/test's).
class CliBackendTest : public testing::Test
{
protected:
    void SetUp() override
    {
        if (const QString reason = EndToEndSkipReason(); !reason.isEmpty())
            GTEST_SKIP() << reason.toStdString();
        StartBackend(0);
        // Blanks around the texts, as a hand-edited file may have them: the user sent is still exact.
        Cli.WriteConfig(QStringLiteral(" %1 ").arg(kTestDatabase), QStringLiteral("%1\t").arg(kTestUser),
                        QStringLiteral(" %1 ").arg(kTestPassword));
    }

    // A fresh substitute on the build's port whose search answers hold at most maxPageSize invoices.
    void StartBackend(int maxPageSize)
    {
        substitute::Options options = SubstituteOptions(EndToEndPki(), EndToEndPort());
        options.MaxPageSize = maxPageSize;
        Backend.reset();
        Backend = std::make_unique<substitute::Backend>(options);
    }

    // The values of one field over the requests of one operation, in arrival order.
    std::vector<std::string> Sent(const std::string& operation, const std::string& field) const
    {
        std::vector<std::string> values;
        for (const substitute::ReceivedRequest& request : Backend->Requests())
            if (request.Field("QELT_REQ") == operation)
                values.push_back(request.Field(field));
        return values;
    }

    substitute::ReceivedRequest LastRequest() const
    {
        const auto requests = Backend->Requests();
        return requests.empty() ? substitute::ReceivedRequest{} : requests.back();
    }

    QJsonDocument JsonOf(const CliRun& run) const
    {
        QJsonParseError error;
        const QJsonDocument document = QJsonDocument::fromJson(run.Out.toUtf8(), &error);
        EXPECT_EQ(error.error, QJsonParseError::NoError) << Describe(run);
        return document;
    }

    CliProgram Cli;
    std::unique_ptr<substitute::Backend> Backend;
};
