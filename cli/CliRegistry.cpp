#include "cli/CliCommand.h"

#include "backend/DVBackendService.h"
#include "cli/CliFormat.h"

namespace {

int RunCheckDatabase(const TCommandContext& context)
{
    const std::unique_ptr<TInfoDatabase> info = ConfiguredClient()->VR_CheckDatabase();
    Print(context.Json ? JsonText(RecordToJson(*info)) : RecordToText(*info));
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
        PrintLine(codiceSoggetto);
    return kExitOk;
}

} // namespace

TCommand CheckDatabaseCommand()
{
    return {QStringLiteral("check-database"),
            {},
            QStringLiteral("Shows what the backend knows of the configured database (VR_CheckDatabase)."),
            {},
            RunCheckDatabase};
}

TCommand SubjectCommand()
{
    return {QStringLiteral("subject"),
            {QStringLiteral("CF")},
            QStringLiteral("Prints the backend's subject code for the tax code CF (GetCodiceSoggetto)."),
            {},
            RunSubject};
}
