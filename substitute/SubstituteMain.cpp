// vorn-substitute-backend: serves the substitute backend until SIGTERM or SIGINT.

#include "substitute/SubstituteBackend.h"

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
        "  --port 0 picks a free port; the port in use is printed as \"listening on PORT\".\n",
        program);
}

} // namespace

int main(int argc, char** argv)
{
    const char* const allowed[] = {"--cert", "--key", "--port", "--user", "--password", "--bind"};
    std::map<std::string, std::string> values = {{"--bind", "127.0.0.1"}};
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
        substitute::Backend backend(options);
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
