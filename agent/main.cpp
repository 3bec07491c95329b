#include "agent/Agent.h"
#include "backend/HttpsClient.h"

#include <QCoreApplication>
#include <QStringList>

#include <cstdio>

namespace {

const char kUsage[] = "Usage: vorn-agent [--once]\n"
                      "\n"
                      "Sends the invoices of the outgoing folder as VORN_Automatic does in automatic mode,\n"
                      "with VORN_Automatic.ini and VORN_Automatic.log in the working directory.\n"
                      "\n"
                      "    --once       one check as at each interval (the outgoing folder, then the\n"
                      "                 received invoices and the verdicts), then exit: 0 when it\n"
                      "                 completed, 1 when it failed (the message is on standard error)\n"
                      "    -h, --help   show this help\n"
                      "\n"
                      "Without --once it checks the folder at the configured interval until SIGTERM or\n"
                      "SIGINT, which end it within seconds (an upload in progress is cut off, its invoice\n"
                      "stays); SIGHUP reads the settings again.\n";

} // namespace

int main(int argc, char** argv)
{
    // Before anything could start a thread.
    THttpsClient::GlobalInit();
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("vorn-agent"));

    TAgentOptions options;
    // A service manager gives its services one of these; their standard error goes to the journal.
    options.Journal =
        !qEnvironmentVariableIsEmpty("JOURNAL_STREAM") || !qEnvironmentVariableIsEmpty("INVOCATION_ID");
    const QStringList arguments = QCoreApplication::arguments().mid(1);
    for (const QString& argument : arguments) {
        if (argument == QLatin1String("--once")) {
            options.Once = true;
        } else if (argument == QLatin1String("--help") || argument == QLatin1String("-h")) {
            std::fputs(kUsage, stdout);
            return kAgentExitOk;
        } else {
            std::fprintf(stderr, "vorn-agent: unknown argument '%s'\n%s", argument.toLocal8Bit().constData(),
                         kUsage);
            return kAgentExitUsage;
        }
    }
    return RunAgent(options);
}
