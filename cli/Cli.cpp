#include "cli/Cli.h"

#include "cli/CliCommand.h"
#include "cli/CliPull.h"
#include "config/Settings.h"

#include <QCommandLineParser>

#include <algorithm>
#include <exception>
#include <vector>

namespace {

const std::vector<TCommand>& Commands()
{
    static const std::vector<TCommand> kCommands = {
        CheckDatabaseCommand(), SearchIssuedCommand(), SearchReceivedCommand(),
        StatusCommand(),        DownloadCommand(),     SetStateCommand(),
        SubjectCommand(),       TrackCommand(),        PullCommand(),
    };
    return kCommands;
}

// --- help ------------------------------------------------------------------------------------

QString Synopsis(const TCommand& command)
{
    QString text = kCliProgram + QStringLiteral(" [--json] ") + command.Name;
    if (!command.Options.empty())
        text += QStringLiteral(" [OPTIONS]");
    for (const QString& argument : command.ArgumentNames)
        text += u' ' + argument;
    return text;
}

// Word-wrapped to fit a terminal, every line indented.
QString Wrapped(const QString& text, qsizetype indent)
{
    constexpr qsizetype kWidth = 96;
    QString result;
    QString line;
    for (const QString& word : text.split(u' ', Qt::SkipEmptyParts)) {
        if (!line.isEmpty() && indent + line.size() + 1 + word.size() > kWidth) {
            result += QString(indent, u' ') + line + u'\n';
            line.clear();
        }
        line += (line.isEmpty() ? QString() : QStringLiteral(" ")) + word;
    }
    return result + QString(indent, u' ') + line + u'\n';
}

QString OptionLines(const std::vector<TOptionSpec>& options)
{
    QString text;
    for (const TOptionSpec& option : options) {
        const QString name = QStringLiteral("--") + option.Name +
                             (option.ValueName.isEmpty() ? QString() : u' ' + option.ValueName);
        text += QStringLiteral("    ") + name.leftJustified(22) + u' ' + option.Description + u'\n';
    }
    return text;
}

// The keys named by the settings table, so the help cannot drift from what is read.
QString CommonHelp()
{
    const QString section = SettingSection(TSetting::Database);
    const QString keys = QStringList{SettingKey(TSetting::Database), SettingKey(TSetting::Username),
                                     SettingKey(TSetting::Password), SettingKey(TSetting::FirmType)}
                             .join(QStringLiteral(", "));
    return QStringLiteral(
               "Every command reads the backend's credentials and firm type from %1 in the\n"
               "working folder (section %2: %3), as the window program does.\n"
               "\n"
               "    --json                 print the result as JSON\n"
               "    -h, --help             show this help (after a command: that command's help)\n"
               "\n"
               "Exit status: 0 done; 1 the backend or the client failed (the message is on standard error);\n"
               "2 the command line is wrong (nothing was sent); 3 (track) an invoice needs action.\n")
        .arg(kConfigFileName, section, keys);
}

QString CommandHelp(const TCommand& command)
{
    QString text = QStringLiteral("Usage: ") + Synopsis(command) + QStringLiteral("\n\n") +
                   Wrapped(command.Description, 0);
    if (!command.Options.empty())
        text += QStringLiteral("\nOptions:\n") + OptionLines(command.Options);
    return text + u'\n' + CommonHelp();
}

QString GeneralHelp()
{
    QString text = QStringLiteral("Usage: %1 [--json] COMMAND [OPTIONS] [ARGUMENTS]\n\n"
                                  "Runs one operation of the invoicing backend.\n\nCommands:\n")
                       .arg(kCliProgram);
    for (const TCommand& command : Commands()) {
        text += u'\n' + QStringLiteral("  ") + Synopsis(command) + u'\n';
        text += Wrapped(command.Description, 4);
        text += OptionLines(command.Options);
    }
    return text + u'\n' + CommonHelp();
}

const QString kHelpHint = QStringLiteral("(see %1 --help)").arg(kCliProgram);

// --- running one command line ----------------------------------------------------------------

int Run(const QStringList& arguments)
{
    // The command is the first word that is not an option: the options in front of it (--json,
    // --help) take no value.
    const auto found = std::find_if(arguments.begin() + std::min<qsizetype>(1, arguments.size()),
                                    arguments.end(), [](const QString& a) { return !a.startsWith(u'-'); });
    if (found == arguments.end()) {
        if (arguments.contains(QStringLiteral("--help")) || arguments.contains(QStringLiteral("-h"))) {
            Print(GeneralHelp());
            return kExitOk;
        }
        throw EUsageError(QStringLiteral("no command given %1").arg(kHelpHint));
    }
    const auto command = std::find_if(Commands().begin(), Commands().end(),
                                      [&](const TCommand& c) { return c.Name == *found; });
    if (command == Commands().end())
        throw EUsageError(QStringLiteral("unknown command '%1' %2").arg(*found, kHelpHint));

    QCommandLineParser parser;
    const QCommandLineOption json(QStringLiteral("json"));
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    parser.addOption(json);
    parser.addOption(help);
    for (const TOptionSpec& option : command->Options)
        parser.addOption(option.ValueName.isEmpty()
                             ? QCommandLineOption(option.Name, option.Description)
                             : QCommandLineOption(option.Name, option.Description, option.ValueName));
    if (!parser.parse(arguments))
        throw EUsageError(parser.errorText() + u' ' + kHelpHint);
    if (parser.isSet(help)) {
        Print(CommandHelp(*command));
        return kExitOk;
    }

    QStringList positional = parser.positionalArguments();
    positional.removeFirst(); // the command's name
    const qsizetype required = std::count_if(command->ArgumentNames.begin(), command->ArgumentNames.end(),
                                             [](const QString& name) { return !name.startsWith(u'['); });
    if (positional.size() < required || positional.size() > command->ArgumentNames.size())
        throw EUsageError(QStringLiteral("usage: %1").arg(Synopsis(*command)));

    return command->Run({parser, positional, parser.isSet(json)});
}

} // namespace

int RunCli(const QStringList& arguments)
{
    try {
        return Run(arguments);
    } catch (const EUsageError& e) {
        PrintError(e.Message());
        return kExitUsage;
    } catch (const EPullError& e) {
        PrintError(PullProblemCliText(e.Problem()));
        return kExitFailure;
    } catch (const EVornError& e) {
        // A refusal without a text (the download's empty "Error") still has to say something.
        PrintError(e.Message().isEmpty() ? QStringLiteral("the backend refused the request without a message")
                                         : e.Message());
        return kExitFailure;
    } catch (const std::exception& e) {
        PrintError(QString::fromLocal8Bit(e.what()));
        return kExitFailure;
    }
}
