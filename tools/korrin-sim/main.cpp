// korrin-sim: a stand-in for the encoder's media process, so the appliance runs on any
// Linux machine. See `korrin-sim --help` and the README.

#include <csignal>
#include <cstdio>

#include "KorrinSim.h"
#include "SimOptions.h"

namespace {

volatile sig_atomic_t g_stop = 0;

void onSignal(int) {
    g_stop = 1;
}

}  // namespace

#if defined(BUILD_SANITIZED)
// libx265 3.5 keeps buffers of its frame filter after x265_encoder_close (the context is freed
// with avcodec_free_context); LeakSanitizer reports them at exit. The leak is the library's
// and is suppressed for it alone, for sanitizer builds of this program.
extern "C" __attribute__((visibility("default"), used)) const char* __lsan_default_suppressions() {
    return "leak:libx265.so\n";
}
#endif

int main(int argc, char** argv) {
    ksim::SimOptions options;
    std::string why;
    if (!ksim::parseOptions(argc, argv, options, why)) {
        std::fprintf(stderr, "korrin-sim: %s\n\n%s", why.c_str(), ksim::usageText());
        return 2;
    }
    if (options.help) {
        std::fputs(ksim::usageText(), stdout);
        return 0;
    }
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);

    ksim::KorrinSim sim(options);
    return sim.run(&g_stop);
}
