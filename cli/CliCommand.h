#pragma once

// What every vorn-cli command is made of: its entry in the command table, the reading of option
// values, the configured client and folders, and the printing boundary. Each command family has
// a file of its own (CliSearch, CliInvoice, CliRegistry, CliTrackCommand, CliPull); Cli.cpp holds
// the table, the help and the run of one command line.

#include "cli/Cli.h"
#include "config/Settings.h"
#include "util/DateTime.h"
#include "util/Errors.h"

#include <QCommandLineParser>
#include <QString>
#include <QStringList>
#include <memory>
#include <vector>

class TDVBackendService;

inline const QString kCliProgram = QStringLiteral("vorn-cli");

// A wrong command line: found before anything is read or sent.
class EUsageError : public EVornError
{
public:
    using EVornError::EVornError;
};

struct TOptionSpec
{
    QString Name;
    QString ValueName; // empty: a switch
    QString Description;
};

struct TCommandContext
{
    const QCommandLineParser& Parser;
    QStringList Arguments; // the positional arguments after the command's name
    bool Json;
};

struct TCommand
{
    QString Name;
    QStringList ArgumentNames; // "[NAME]": one that may be left out
    QString Description;
    std::vector<TOptionSpec> Options;
    int (*Run)(const TCommandContext&); // returns the exit code
};

// The commands, one function each, in the order the help lists them.
TCommand CheckDatabaseCommand();
TCommand SearchIssuedCommand();
TCommand SearchReceivedCommand();
TCommand StatusCommand();
TCommand DownloadCommand();
TCommand SetStateCommand();
TCommand SubjectCommand();
TCommand TrackCommand();
TCommand PullCommand();

// Everything printed goes through these, so that no backend text or file name reaches a terminal
// with a control character in it (PrintableText). Print takes whole lines of output (tables, JSON,
// help); PrintLine one line of its own; PrintError one message for standard error.
void Print(const QString& text);
void PrintLine(const QString& line);
void PrintError(const QString& message);

// A date option as the backend's date: yyyy-mm-dd, and 0 ("no date") when the option is absent.
TDateTime DateOption(const QCommandLineParser& parser, const QString& name);
qint32 IntegerOption(const QCommandLineParser& parser, const QString& name, qint32 defaultValue);

// The same settings, decoding and checks as the window's start-up and settings check, so the
// command line reaches the backend as the same user the window does.
std::unique_ptr<TDVBackendService> ConfiguredClient();

// The folder a command works on: given on the command line, or else the configured one. Neither
// is a wrong command line: nothing is asked.
QString FolderArgument(const QString& given, TSetting setting, const QString& option);
