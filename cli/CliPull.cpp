#include "cli/CliPull.h"

#include "backend/DVBackendService.h"
#include "cli/CliCommand.h"
#include "cli/CliFormat.h"

#include <QHash>

#include <cstdio>
#include <unistd.h>

QString PullProblemCliText(const TPullProblem& problem)
{
    static const QHash<TPullFault, QString> kTexts = {
        {TPullFault::NoIdentifier,
         QStringLiteral("invoice %1 (%2): the backend listed it without a usable identifier")},
        {TPullFault::Refused, QStringLiteral("invoice %1 (%2): %3")},
        {TPullFault::RefusedWithoutMessage,
         QStringLiteral("invoice %1 (%2): the backend refused it without a message")},
        {TPullFault::EmptyDocument, QStringLiteral("invoice %1 (%2): the backend sent an empty document")},
        {TPullFault::CannotWrite, QStringLiteral("invoice %1 (%2): cannot write %3: %4")},
        {TPullFault::NamesTaken, QStringLiteral("invoice %1 (%2): %3 and %4 are taken by other files")},
        {TPullFault::ListFailed, QStringLiteral("the list of received invoices failed after %1: %2")},
        {TPullFault::TotalNotACount, QStringLiteral("the backend's total '%1' is not a count")},
        {TPullFault::ListedFewer, QStringLiteral("the backend listed %1 of %2 invoices, then none")},
        {TPullFault::NothingNew,
         QStringLiteral(
             "the backend's page at %1 brought no invoice not listed before; the pull stops there")},
        {TPullFault::DiskFull,
         QStringLiteral("the disk of %1 has %2 MiB free; the pull stops before it leaves less than %3 MiB")},
        {TPullFault::NotAFolder, QStringLiteral("%1 is not a folder")},
        {TPullFault::IndexNotLocked, QStringLiteral("cannot lock %1: %2")},
        {TPullFault::IndexLockedOut,
         QStringLiteral("cannot lock %1: %2 (owner %3, mode %4; its owner can run: chmod %5 '%1')")},
        {TPullFault::IndexNotOpened, QStringLiteral("cannot open %1: %2")},
        {TPullFault::IndexNotRead, QStringLiteral("cannot read %1: %2")},
        {TPullFault::IndexNotWritten, QStringLiteral("cannot write %1: %2")},
    };
    QString text = kTexts.value(problem.Fault);
    for (const QString& argument : problem.Arguments)
        text = text.arg(argument);
    return text;
}

namespace {

int RunPull(const TCommandContext& context)
{
    TPullOptions options;
    options.Since = DateOption(context.Parser, QStringLiteral("since"));
    options.MaxDocuments = IntegerOption(context.Parser, QStringLiteral("max"), 0);
    if (context.Parser.isSet(QStringLiteral("max")) && options.MaxDocuments < 1)
        throw EUsageError(QStringLiteral("--max: '%1' is not a count of at least 1")
                              .arg(context.Parser.value(QStringLiteral("max"))));
    options.Folder = FolderArgument(context.Parser.value(QStringLiteral("into")), TSetting::CartellaRicevute,
                                    QStringLiteral("--into FOLDER"));
    const std::unique_ptr<TDVBackendService> client = ConfiguredClient();

    // Progress is for a person watching; a scheduled run's log gets the summary only.
    const bool terminal = ::isatty(STDERR_FILENO) == 1;
    TPullReport report;
    report.Problem = [&](const TPullProblem& problem) {
        if (terminal)
            std::fputs("\n", stderr);
        PrintError(PullProblemCliText(problem));
    };
    if (terminal) {
        report.Progress = [](qsizetype done, qsizetype total) {
            std::fprintf(stderr, "\r%s: %lld of %lld", qPrintable(kCliProgram), static_cast<long long>(done),
                         static_cast<long long>(total));
        };
        report.Waiting = [&] {
            PrintError(QStringLiteral("waiting for the other pull into %1").arg(options.Folder));
        };
    }
    const TPullSummary summary = PullReceivedInvoices(*client, options, report);
    if (terminal && summary.New + summary.AlreadyThere + summary.Failed > 0)
        std::fputs("\n", stderr);

    const QString stopped = summary.Stopped ? PullProblemCliText(*summary.Stopped) : QString();
    if (context.Json)
        Print(JsonText(QJsonObject{{QStringLiteral("Folder"), options.Folder},
                                   {QStringLiteral("new"), summary.New},
                                   {QStringLiteral("alreadyThere"), summary.AlreadyThere},
                                   {QStringLiteral("failed"), summary.Failed},
                                   {QStringLiteral("stopped"), stopped}}));
    else
        PrintLine(QStringLiteral("%1: %2 new, %3 already there, %4 failed")
                      .arg(options.Folder)
                      .arg(summary.New)
                      .arg(summary.AlreadyThere)
                      .arg(summary.Failed));
    if (summary.Cut)
        PrintError(QStringLiteral("stopped after %1 documents (--max); the next pull goes on from there")
                       .arg(options.MaxDocuments));
    if (!stopped.isEmpty())
        PrintError(stopped);
    return summary.Failed > 0 || !stopped.isEmpty() ? kExitFailure : kExitOk;
}

} // namespace

TCommand PullCommand()
{
    return {QStringLiteral("pull"),
            {},
            QStringLiteral(
                "Downloads the received invoices into FOLDER (default: %1 of the configuration "
                "file), each one once: the identifiers already pulled are kept in %2 in the "
                "folder, so files the accounting program took away are not fetched again. A second invoice "
                "with the same name gets its identifier in its name. Files appear whole or not at all; a "
                "second pull into the same folder waits for the first, and a pull removes the temporaries "
                "a killed one left. The pull stops with an error before the disk would hold less than "
                "%3 MiB free, and when a page of the backend's list brings no invoice not listed before. "
                "Exit status 1 when any invoice failed; the next pull fetches what is missing "
                "(FAEPassivaSearch, FAEGetXmlbyId).")
                .arg(SettingKey(TSetting::CartellaRicevute), kPullIndexFileName,
                     QString::number(kPullMinFreeBytes >> 20)),
            {{QStringLiteral("into"), QStringLiteral("FOLDER"), QStringLiteral("the folder to write into")},
             {QStringLiteral("since"), QStringLiteral("DATE"),
              QStringLiteral("only invoices received on or after DATE (yyyy-mm-dd)")},
             {QStringLiteral("max"), QStringLiteral("N"),
              QStringLiteral("fetch at most N documents; the next pull fetches the rest")}},
            RunPull};
}
