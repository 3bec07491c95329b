// A backend for showing automatic mode by hand: the substitute on a fixed port with the test
// credentials and count generated received invoices, which answers "NS" (refused by the exchange)
// for every invoice uploaded to it from then on. It prints each upload it turned NS, and serves
// until SIGTERM or SIGINT.
//
// Usage: demo_verdict PKI-FOLDER PORT [count]

#include "substitute/SubstituteBackend.h"
#include "substitute/SubstituteDocuments.h"
#include "substitute/SubstituteSeedData.h"
#include "tests/support/Substitute.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <thread>

namespace {

volatile std::sig_atomic_t stopSignal = 0;

void OnStop(int signal)
{
    stopSignal = signal;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "Usage: %s PKI-FOLDER PORT [count]\n", argv[0]);
        return 2;
    }
    const std::string pki = argv[1];
    substitute::Options options;
    options.CertFile = pki + "/server.pem";
    options.KeyFile = pki + "/server.key";
    options.Username = kTestUsername;
    options.Password = kTestPassword;
    options.Port = std::atoi(argv[2]);
    const int count = argc > 3 ? std::atoi(argv[3]) : 0;

    std::signal(SIGTERM, OnStop);
    std::signal(SIGINT, OnStop);
    try {
        substitute::Backend backend(options);
        for (int n = 1; n <= count; ++n) {
            substitute::InvoiceSummary summary{"TD01",        "2024-05-01",         "D-" + std::to_string(n),
                                               "100.00",      "Fornitore Demo Srl", "01111111111",
                                               "01111111111", "Studio Rossi",       "RSSMRA80A01H501U",
                                               "01234567890"};
            char name[64];
            std::snprintf(name, sizeof name, "IT01111111111_D%05d.xml", n);
            backend.AddReceivedInvoice(name, substitute::InvoiceXml(summary), "2024-05-02", "08:00:00");
        }
        std::printf("listening on %d with %d more received invoices\n", backend.Port(), count);
        std::fflush(stdout);
        std::set<std::string> refused;
        while (stopSignal == 0) {
            for (const substitute::StoredInvoice& invoice : backend.Invoices()) {
                if (!refused.insert(invoice.IdCoda).second)
                    continue;
                backend.SetNotifications(invoice.IdCoda,
                                         {{"RC", "2024-05-02 09:00:00", "2024-05-02 09:00:05"},
                                          {"NS", "2024-05-02 09:10:00", "2024-05-02 09:10:05"}});
                std::printf("%s (queue id %s) turned NS\n", invoice.FileName.c_str(), invoice.IdCoda.c_str());
                std::fflush(stdout);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "demo_verdict: %s\n", e.what());
        return 1;
    }
    return 0;
}
