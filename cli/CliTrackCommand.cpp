#include "cli/CliCommand.h"

#include "backend/DVBackendService.h"
#include "cli/CliTrack.h"


namespace {

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

} // namespace

TCommand TrackCommand()
{
    return {QStringLiteral("track"),
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
            RunTrack};
}
