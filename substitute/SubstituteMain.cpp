// vorn-substitute-backend: serves the substitute backend until SIGTERM or SIGINT.

#include "substitute/SubstituteBackend.h"
#include "substitute/SubstituteSeedData.h"

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <exception>
#include <map>
#include <pthread.h>
#include <string>

namespace {

void Usage(const char* program)
{
    std::fprintf(
        stderr,
        "usage: %s --cert FILE --key FILE --port N --user USER --password PASSWORD [--bind ADDRESS]\n"
        "          [--received N] [--page-size N]\n"
        "  --port 0 picks a free port; the port in use is printed as \"listening on PORT\".\n"
        "  --received N holds N more received invoices (for measuring a pull); --page-size N caps\n"
        "  every search answer at N invoices.\n",
        program);
}

// Received invoice number n of a generated set: about 1.3 KB, dated over one month.
void AddGeneratedReceived(substitute::Backend& backend, int n)
{
    substitute::InvoiceSummary summary{
        "TD01",        "2024-05-01",  "G-" + std::to_string(n), "100.00",           "Fornitore Generato Srl",
        "01111111111", "01111111111", "Studio Rossi",           "RSSMRA80A01H501U", "01234567890"};
    char name[64];
    std::snprintf(name, sizeof name, "IT01111111111_G%06d.xml", n);
    char date[16];
    std::snprintf(date, sizeof date, "2024-05-%02d", 1 + n % 28);
    backend.AddReceivedInvoice(name, substitute::InvoiceXml(summary), date, "08:00:00");
}

} // namespace

int main(int argc, char** argv)
{
    const char* const allowed[] = {"--cert",     "--key",  "--port",     "--user",
                                   "--password", "--bind", "--received", "--page-size"};
    std::map<std::string, std::string> values = {
        {"--bind", "127.0.0.1"}, {"--received", "0"}, {"--page-size", "0"}};
    for (int i = 1; i < argc; i += 2) {
        const std::string name = argv[i];
        const bool known =
            std::any_of(std::begin(allowed), std::end(allowed), [&](const char* a) { return name == a; });
        if (!known || i + 1 >= argc) {
            Usage(argv[0]);
            return 2;
        }
        values[name] = argv[i + 1];
    }
    if (values.size() != std::size(allowed)) {
        Usage(argv[0]);
        return 2;
    }

    // Block the stop signals before any thread starts, so that every thread inherits the mask
    // and the signals wait here for sigwait.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    try {
        substitute::Options options;
        options.CertFile = values["--cert"];
        options.KeyFile = values["--key"];
        options.Username = values["--user"];
        options.Password = values["--password"];
        options.BindAddress = values["--bind"];
        options.Port = std::stoi(values["--port"]);
        options.MaxPageSize = std::stoi(values["--page-size"]);
        substitute::Backend backend(options);
        for (int n = 1, count = std::stoi(values["--received"]); n <= count; ++n)
            AddGeneratedReceived(backend, n);
        std::printf("listening on %d\n", backend.Port());
        std::fflush(stdout);
        int received = 0;
        sigwait(&stopSignals, &received);
        std::printf("stopping on %s\n", strsignal(received));
        std::fflush(stdout);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "vorn-substitute-backend: %s\n", e.what());
        return 1;
    }
    return 0;
}
