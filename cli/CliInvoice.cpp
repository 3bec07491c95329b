#include "cli/CliCommand.h"

#include "backend/DVBackendService.h"
#include "cli/CliDocument.h"
#include "cli/CliFormat.h"
#include "received/ReceivedDocument.h"

#include <QFileInfo>

namespace {

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
    PrintLine(QStringLiteral("Saved %1 (%2 bytes)").arg(fileName).arg(content.size()));
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
        PrintLine(QStringLiteral("Invoice %1: management state set to %2").arg(idFattura, codiceStato));
    return kExitOk;
}

} // namespace

TCommand StatusCommand()
{
    return {QStringLiteral("status"),
            {QStringLiteral("ID")},
            QStringLiteral("Shows the status of invoice ID and its notifications (FAEGetStatusbyId)."),
            {},
            RunStatus};
}

TCommand DownloadCommand()
{
    return {
        QStringLiteral("download"),
        {QStringLiteral("ID")},
        QStringLiteral("Saves the document of invoice ID into the working folder, under the name the backend "
                       "gives it (made a bare file name), or as FILE (FAEGetXmlbyId). An existing file is "
                       "kept unless --force is given."),
        {{QStringLiteral("kind"), QStringLiteral("K"),
          QStringLiteral("the kind of document the backend should send")},
         {QStringLiteral("out"), QStringLiteral("FILE"), QStringLiteral("write the document to FILE")},
         {QStringLiteral("force"), QString(), QStringLiteral("replace an existing file")}},
        RunDownload};
}

TCommand SetStateCommand()
{
    return {QStringLiteral("set-state"),
            {QStringLiteral("ID"), QStringLiteral("CODE")},
            QStringLiteral("Sets the management state of invoice ID to CODE (FAEAggiornaStato)."),
            {},
            RunSetState};
}
