#include "cli/Cli.h"

#include "backend/DVBackendService.h"
#include "cli/CliDocument.h"
#include "cli/CliFormat.h"
#include "cli/CliPull.h"
#include "cli/CliTrack.h"
#include "config/ConfigFile.h"
#include "config/Settings.h"
#include "util/Errors.h"
#include "util/Text.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>
#include <cstdio>
#include <exception>
#include <unistd.h>
#include <vector>

namespace {

const QString kProgram = QStringLiteral("vorn-cli");

// A wrong command line: found before anything is read or sent.
class EUsageError : public EVornError
{
public:
    using EVornError::EVornError;
};

void Print(const QString& text)
{
    std::fputs(text.toUtf8().constData(), stdout);
}

void PrintError(const QString& text)
{
    std::fputs((kProgram + QStringLiteral(": ") + text + u'\n').toUtf8().constData(), stderr);
}

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

// --- reading option values -------------------------------------------------------------------

// A date option as the backend's date: yyyy-mm-dd, and 0 ("no date") when the option is absent.
TDateTime DateOption(const QCommandLineParser& parser, const QString& name)
{
    if (!parser.isSet(name))
        return 0;
    const QString text = parser.value(name);
    static const QRegularExpression kPattern(QStringLiteral("^([0-9]{4})-([0-9]{2})-([0-9]{2})$"));
    const QRegularExpressionMatch match = kPattern.match(text);
    const QDate date = match.hasMatch() ? QDate(match.captured(1).toInt(), match.captured(2).toInt(),
                                                match.captured(3).toInt())
                                        : QDate();
    if (!date.isValid())
        throw EUsageError(
            QStringLiteral("--%1: '%2' is not a valid date; write it as yyyy-mm-dd").arg(name, text));
    // The backend client reads the day before 1900 (day 0 of its calendar) as "no date".
    if (date < QDate(1900, 1, 1))
        throw EUsageError(QStringLiteral("--%1: '%2' is before 1900-01-01").arg(name, text));
    return EncodeDateTime(date);
}

qint32 IntegerOption(const QCommandLineParser& parser, const QString& name, qint32 defaultValue)
{
    if (!parser.isSet(name))
        return defaultValue;
    const QString text = parser.value(name);
    static const QRegularExpression kPattern(QStringLiteral("^-?[0-9]+$"));
    bool ok = false;
    const qint32 value = kPattern.match(text).hasMatch() ? text.toInt(&ok) : 0;
    if (!ok)
        throw EUsageError(QStringLiteral("--%1: '%2' is not a whole number").arg(name, text));
    return value;
}

// --- the configured client -------------------------------------------------------------------

// The same settings, decoding and checks as the window's start-up and settings check, so the
// command line reaches the backend as the same user the window does.
std::unique_ptr<TDVBackendService> ConfiguredClient()
{
    const QString fileName = QDir::current().absoluteFilePath(kConfigFileName);
    if (!QFileInfo(fileName).isFile())
        throw EVornError(QStringLiteral("%1 not found: the credentials are read from the configuration file "
                                        "in the working folder")
                             .arg(fileName));
    const TBackendSettings settings = ReadBackendSettings(TConfigFile(fileName));

    auto client = std::make_unique<TDVBackendService>();
    client->SetFirmType(settings.FirmType);
    client->SetUsername(settings.Credentials.Username);
    client->SetPassword(settings.Credentials.Password);
    return client;
}

// A folder setting, trimmed as the window trims it; empty when the file or the key is missing.
QString ConfiguredFolder(TSetting setting)
{
    TConfigFile config(ConfigFilePath());
    const QString folder = TrimControl(ReadSetting(config, setting).toString());
    config.Close();
    return folder;
}

// The folder a command works on: given on the command line, or else the configured one. Neither
// is a wrong command line: nothing is asked.
QString FolderArgument(const QString& given, TSetting setting, const QString& option)
{
    if (!given.isEmpty())
        return given;
    const QString folder = ConfiguredFolder(setting);
    if (folder.isEmpty())
        throw EUsageError(QStringLiteral("no folder: give %1, or set %2 in section %3 of %4")
                              .arg(option, SettingKey(setting), SettingSection(setting), kConfigFileName));
    return folder;
}

// --- the commands ----------------------------------------------------------------------------

int RunCheckDatabase(const TCommandContext& context)
{
    const std::unique_ptr<TInfoDatabase> info = ConfiguredClient()->VR_CheckDatabase();
    Print(context.Json ? JsonText(RecordToJson(*info)) : RecordToText(*info));
    return kExitOk;
}

struct TSearchFilters
{
    qint32 Limit;
    qint32 Offset;
    QString Reverse;
    TDateTime From;
    TDateTime To;
    QString Customer;
    QString CustomerName;
    QString Supplier;
    QString SupplierName;
    TDateTime InvoiceFrom;
    TDateTime InvoiceTo;
    TDateTime InvoiceDate;
    QString Number;
    QString State;
    QString IdFrom;
    QString IdTo;
};

constexpr qint32 kDefaultLimit = 100;

TSearchFilters ReadSearchFilters(const QCommandLineParser& parser)
{
    const auto text = [&](const char* name) { return parser.value(QLatin1String(name)); };
    const auto date = [&](const char* name) { return DateOption(parser, QLatin1String(name)); };
    return {
        IntegerOption(parser, QStringLiteral("limit"), kDefaultLimit),
        IntegerOption(parser, QStringLiteral("offset"), 0),
        // The backend's own switch value for a reversed order; absent means its default order.
        parser.isSet(QStringLiteral("reverse")) ? QStringLiteral("S") : QString(),
        date("from"),
        date("to"),
        text("customer"),
        text("customer-name"),
        text("supplier"),
        text("supplier-name"),
        date("invoice-from"),
        date("invoice-to"),
        date("invoice-date"),
        text("number"),
        text("state"),
        text("id-from"),
        text("id-to"),
    };
}

int RunSearchIssued(const TCommandContext& context)
{
    const TSearchFilters f = ReadSearchFilters(context.Parser);
    const TFAEAttivaList fatture = ConfiguredClient()->FAEAttivaSearch(
        f.Limit, f.Offset, f.Reverse, f.From, f.To, f.Customer, f.CustomerName, f.Supplier, f.SupplierName,
        f.InvoiceFrom, f.InvoiceTo, f.InvoiceDate, f.Number, f.State, f.IdFrom, f.IdTo);
    if (context.Json) {
        Print(JsonText(RecordsToJson(fatture)));
        return kExitOk;
    }
    Print(RecordsToTable(fatture, {QStringLiteral("IdFattura"), QStringLiteral("FatturaData"),
                                   QStringLiteral("FatturaNumero"), QStringLiteral("FatturaImporto"),
                                   QStringLiteral("CessionarioAnagrafica"), QStringLiteral("InvioData"),
                                   QStringLiteral("StatoGestionale"), QStringLiteral("StatoFatturaSdi")}));
    Print(QStringLiteral("%1 invoice(s)\n").arg(fatture.size()));
    return kExitOk;
}

int RunSearchReceived(const TCommandContext& context)
{
    const TSearchFilters f = ReadSearchFilters(context.Parser);
    const std::unique_ptr<TFAEPassivaSearch> search = ConfiguredClient()->FAEPassivaSearch(
        f.Limit, f.Offset, f.Reverse, f.From, f.To, f.Customer, f.CustomerName, f.Supplier, f.SupplierName,
        f.InvoiceFrom, f.InvoiceTo, f.InvoiceDate, f.Number, f.State, f.IdFrom, f.IdTo);
    if (context.Json) {
        QJsonObject object = RecordToJson(*search);
        object.insert(QStringLiteral("Fatture"), RecordsToJson(search->Fatture()));
        Print(JsonText(object));
        return kExitOk;
    }
    Print(RecordsToTable(search->Fatture(),
                         {QStringLiteral("IdFattura"), QStringLiteral("FatturaData"),
                          QStringLiteral("FatturaNumero"), QStringLiteral("FatturaImporto"),
                          QStringLiteral("CedenteAnagrafica"), QStringLiteral("RicezioneData"),
                          QStringLiteral("StatoGestionale")}));
    Print(QStringLiteral("%1 invoice(s) of %2\n").arg(search->Fatture().size()).arg(search->NumeroTotale()));
    return kExitOk;
}

int RunStatus(const TCommandContext& context)
{
    const std::unique_ptr<TFAEStatoFattura> stato =
        ConfiguredClient()->FAEGetStatusbyId(context.Arguments[0]);
    if (context.Json) {
        QJsonObject object = RecordToJson(*stato);
        object.insert(QStringLiteral("seq_NOTIFICA"), RecordsToJson(stato->seq_NOTIFICA()));
        Print(JsonText(object));
        return kExitOk;
    }
    Print(RecordToText(*stato));
    Print(QStringLiteral("\nNotifiche:\n"));
    Print(stato->seq_NOTIFICA().empty()
              ? QStringLiteral("(none)\n")
              : RecordsToTable(stato->seq_NOTIFICA(),
                               {QStringLiteral("TipoNotifica"), QStringLiteral("DataInvio"),
                                QStringLiteral("DataRicezione")}));
    return kExitOk;
}

int RunDownload(const TCommandContext& context)
{
    const QString& idFattura = context.Arguments[0];
    const QString outFile = context.Parser.value(QStringLiteral("out"));
    const bool replace = context.Parser.isSet(QStringLiteral("force"));
    const std::unique_ptr<TFAEGetXmlById> document =
        ConfiguredClient()->FAEGetXmlbyId(idFattura, context.Parser.value(QStringLiteral("kind")));

    const QByteArray content = DecodeDocumentBase64(document->FileBase64());
    if (content.isEmpty())
        throw EVornError(QStringLiteral("The backend sent an empty document for invoice %1").arg(idFattura));
    // The backend's name is only a suggestion: it must not place the file outside this folder.
    const QString fileName =
        outFile.isEmpty() ? SafeDocumentFileName(document->NomeFileBase64(), idFattura) : outFile;
    WriteDocumentFile(fileName, content, replace);

    if (context.Json) {
        QJsonObject object = RecordToJson(*document);
        object.remove(QStringLiteral("FileBase64"));
        object.insert(QStringLiteral("File"), QFileInfo(fileName).absoluteFilePath());
        object.insert(QStringLiteral("Bytes"), static_cast<qint64>(content.size()));
        Print(JsonText(object));
        return kExitOk;
    }
    Print(QStringLiteral("Saved %1 (%2 bytes)\n").arg(fileName).arg(content.size()));
    return kExitOk;
}

int RunSetState(const TCommandContext& context)
{
    const QString& idFattura = context.Arguments[0];
    const QString& codiceStato = context.Arguments[1];
    ConfiguredClient()->FAEAggiornaStato(idFattura, codiceStato);
    if (context.Json)
        Print(JsonText(QJsonObject{{QStringLiteral("IdFattura"), idFattura},
                                   {QStringLiteral("CodiceStato"), codiceStato}}));
    else
        Print(QStringLiteral("Invoice %1: management state set to %2\n").arg(idFattura, codiceStato));
    return kExitOk;
}

int RunSubject(const TCommandContext& context)
{
    const QString& codiceFiscale = context.Arguments[0];
    const QString codiceSoggetto = ConfiguredClient()->GetCodiceSoggetto(codiceFiscale);
    if (context.Json)
        Print(JsonText(QJsonObject{{QStringLiteral("CodiceFiscale"), codiceFiscale},
                                   {QStringLiteral("CodiceSoggetto"), codiceSoggetto}}));
    else
        Print(codiceSoggetto + u'\n');
    return kExitOk;
}

int RunTrack(const TCommandContext& context)
{
    TTrackOptions options;
    options.Folder =
        FolderArgument(context.Arguments.value(0), TSetting::CartellaDaInviare, QStringLiteral("FOLDER"));
    const TDateTime since = DateOption(context.Parser, QStringLiteral("since"));
    options.Since = since == 0 ? QDate() : DecodeDateTime(since).date();
    options.Refresh = context.Parser.isSet(QStringLiteral("refresh"));
    options.Json = context.Json;
    options.CacheFile = TrackCacheFilePath();
    const TTrackResult result = TrackInvoices(*ConfiguredClient(), options);
    Print(result.Output);
    if (!result.Warning.isEmpty())
        PrintError(result.Warning);
    return result.ExitCode;
}

int RunPull(const TCommandContext& context)
{
    TPullOptions options;
    options.Folder = FolderArgument(context.Parser.value(QStringLiteral("into")), TSetting::CartellaRicevute,
                                    QStringLiteral("--into FOLDER"));
    options.Since = DateOption(context.Parser, QStringLiteral("since"));
    const std::unique_ptr<TDVBackendService> client = ConfiguredClient();

    // Progress is for a person watching; a scheduled run's log gets the summary only.
    const bool terminal = ::isatty(STDERR_FILENO) == 1;
    TPullReport report;
    report.Problem = [&](const QString& message) {
        if (terminal)
            std::fputs("\n", stderr);
        PrintError(message);
    };
    if (terminal) {
        report.Progress = [](qsizetype done, qsizetype total) {
            std::fprintf(stderr, "\r%s: %lld of %lld", qPrintable(kProgram), static_cast<long long>(done),
                         static_cast<long long>(total));
        };
        report.Waiting = [](const QString& message) { PrintError(message); };
    }
    const TPullSummary summary = PullReceivedInvoices(*client, options, report);
    if (terminal && summary.New + summary.AlreadyThere + summary.Failed > 0)
        std::fputs("\n", stderr);

    if (context.Json)
        Print(JsonText(QJsonObject{{QStringLiteral("Folder"), options.Folder},
                                   {QStringLiteral("new"), summary.New},
                                   {QStringLiteral("alreadyThere"), summary.AlreadyThere},
                                   {QStringLiteral("failed"), summary.Failed},
                                   {QStringLiteral("stopped"), summary.Stopped}}));
    else
        Print(QStringLiteral("%1: %2 new, %3 already there, %4 failed\n")
                  .arg(options.Folder)
                  .arg(summary.New)
                  .arg(summary.AlreadyThere)
                  .arg(summary.Failed));
    if (!summary.Stopped.isEmpty())
        PrintError(summary.Stopped);
    return summary.Failed > 0 || !summary.Stopped.isEmpty() ? kExitFailure : kExitOk;
}

std::vector<TOptionSpec> SearchOptions(const QString& dateMeaning)
{
    return {
        {QStringLiteral("limit"), QStringLiteral("N"),
         QStringLiteral("at most N invoices (default %1)").arg(kDefaultLimit)},
        {QStringLiteral("offset"), QStringLiteral("N"),
         QStringLiteral("skip the first N invoices (default 0)")},
        {QStringLiteral("reverse"), QString(), QStringLiteral("reverse the backend's order")},
        {QStringLiteral("from"), QStringLiteral("DATE"),
         dateMeaning + QStringLiteral(" from DATE (yyyy-mm-dd)")},
        {QStringLiteral("to"), QStringLiteral("DATE"), dateMeaning + QStringLiteral(" up to DATE")},
        {QStringLiteral("invoice-from"), QStringLiteral("DATE"), QStringLiteral("invoice date from DATE")},
        {QStringLiteral("invoice-to"), QStringLiteral("DATE"), QStringLiteral("invoice date up to DATE")},
        {QStringLiteral("invoice-date"), QStringLiteral("DATE"), QStringLiteral("invoice date exactly DATE")},
        {QStringLiteral("customer"), QStringLiteral("CF"),
         QStringLiteral("customer's tax code or VAT number")},
        {QStringLiteral("customer-name"), QStringLiteral("TEXT"), QStringLiteral("customer's name")},
        {QStringLiteral("supplier"), QStringLiteral("CF"),
         QStringLiteral("supplier's tax code or VAT number")},
        {QStringLiteral("supplier-name"), QStringLiteral("TEXT"), QStringLiteral("supplier's name")},
        {QStringLiteral("number"), QStringLiteral("TEXT"), QStringLiteral("invoice number")},
        {QStringLiteral("state"), QStringLiteral("CODE"), QStringLiteral("management-state code")},
        {QStringLiteral("id-from"), QStringLiteral("ID"), QStringLiteral("invoice identifier from ID")},
        {QStringLiteral("id-to"), QStringLiteral("ID"), QStringLiteral("invoice identifier up to ID")},
    };
}

const std::vector<TCommand>& Commands()
{
    static const std::vector<TCommand> kCommands = {
        {QStringLiteral("check-database"),
         {},
         QStringLiteral("Shows what the backend knows of the configured database (VR_CheckDatabase)."),
         {},
         RunCheckDatabase},
        {QStringLiteral("search-issued"),
         {},
         QStringLiteral("Lists issued invoices that match the filters (FAEAttivaSearch)."),
         SearchOptions(QStringLiteral("sending date")),
         RunSearchIssued},
        {QStringLiteral("search-received"),
         {},
         QStringLiteral("Lists received invoices that match the filters, with the backend's total count "
                        "(FAEPassivaSearch)."),
         SearchOptions(QStringLiteral("receipt date")),
         RunSearchReceived},
        {QStringLiteral("status"),
         {QStringLiteral("ID")},
         QStringLiteral("Shows the status of invoice ID and its notifications (FAEGetStatusbyId)."),
         {},
         RunStatus},
        {QStringLiteral("download"),
         {QStringLiteral("ID")},
         QStringLiteral(
             "Saves the document of invoice ID into the working folder, under the name the backend "
             "gives it (made a bare file name), or as FILE (FAEGetXmlbyId). An existing file is "
             "kept unless --force is given."),
         {{QStringLiteral("kind"), QStringLiteral("K"),
           QStringLiteral("the kind of document the backend should send")},
          {QStringLiteral("out"), QStringLiteral("FILE"), QStringLiteral("write the document to FILE")},
          {QStringLiteral("force"), QString(), QStringLiteral("replace an existing file")}},
         RunDownload},
        {QStringLiteral("set-state"),
         {QStringLiteral("ID"), QStringLiteral("CODE")},
         QStringLiteral("Sets the management state of invoice ID to CODE (FAEAggiornaStato)."),
         {},
         RunSetState},
        {QStringLiteral("subject"),
         {QStringLiteral("CF")},
         QStringLiteral("Prints the backend's subject code for the tax code CF (GetCodiceSoggetto)."),
         {},
         RunSubject},
        {QStringLiteral("track"),
         {QStringLiteral("[FOLDER]")},
         QStringLiteral(
             "Shows what became of each invoice archived in the Inviate folder of the outgoing folder "
             "FOLDER (default: %2 of the configuration file): its queue identifier, read "
             "from the archive name, its status code and its latest notification (FAEGetStatusbyId). "
             "Invoices refused by the exchange (NS) need action: they are listed first, marked with "
             "\"!\", and the exit status is 3. Final states (RC, NS, DT, NE, AT) are kept in %1 beside "
             "the configuration file and not asked again.")
             .arg(kTrackCacheFileName, SettingKey(TSetting::CartellaDaInviare)),
         {{QStringLiteral("since"), QStringLiteral("DATE"),
           QStringLiteral("only archive files modified on or after DATE (yyyy-mm-dd)")},
          {QStringLiteral("refresh"), QString(),
           QStringLiteral("ask the backend even for known final states")}},
         RunTrack},
        {QStringLiteral("pull"),
         {},
         QStringLiteral(
             "Downloads the received invoices into FOLDER (default: %1 of the configuration "
             "file), each one once: the identifiers already pulled are kept in .vorn-pull.index in the "
             "folder, so files the accounting program took away are not fetched again. A second invoice "
             "with the same name gets its identifier in its name. Files appear whole or not at all; a "
             "second pull into the same folder waits for the first. Exit status 1 when any invoice "
             "failed; the next pull fetches what is missing (FAEPassivaSearch, FAEGetXmlbyId).")
             .arg(SettingKey(TSetting::CartellaRicevute)),
         {{QStringLiteral("into"), QStringLiteral("FOLDER"), QStringLiteral("the folder to write into")},
          {QStringLiteral("since"), QStringLiteral("DATE"),
           QStringLiteral("only invoices received on or after DATE (yyyy-mm-dd)")}},
         RunPull},
    };
    return kCommands;
}

// --- help ------------------------------------------------------------------------------------

QString Synopsis(const TCommand& command)
{
    QString text = kProgram + QStringLiteral(" [--json] ") + command.Name;
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
                       .arg(kProgram);
    for (const TCommand& command : Commands()) {
        text += u'\n' + QStringLiteral("  ") + Synopsis(command) + u'\n';
        text += Wrapped(command.Description, 4);
        text += OptionLines(command.Options);
    }
    return text + u'\n' + CommonHelp();
}

const QString kHelpHint = QStringLiteral("(see %1 --help)").arg(kProgram);

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
