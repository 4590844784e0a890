#include "ShutdownSignals.h"

#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <initializer_list>
#include <thread>

#include "WakeEvent.h"

namespace {

// Only lock-free atomics may be touched from a signal handler.
std::atomic<bool> g_running{false};
static_assert(std::atomic<bool>::is_always_lock_free, "the running flag is set by a handler");
std::atomic<comn::WakeEvent*> g_wake{nullptr};
static_assert(std::atomic<comn::WakeEvent*>::is_always_lock_free, "read by a handler");

const char* lineFor(int sig) {
    switch (sig) {
        case SIGHUP:
            return "Get a signal -- SIGHUP\n";
        case SIGINT:
            return "Get a signal -- SIGINT\n";
        case SIGUSR1:
            return "Get a signal -- SIGUSR1\n";
        case SIGTERM:
            return "Get a signal -- SIGTERM\n";
        default:
            return nullptr;
    }
}

void handle(int sig) {
    ShutdownSignals::onSignal(sig);
}

}  // namespace

void ShutdownSignals::onSignal(int sig) {
    const int savedErrno = errno;  // the interrupted code may be looking at errno
    if (const char* line = lineFor(sig)) {
        // write(), not stdio: the only output call that is safe inside a handler.
        [[maybe_unused]] const ssize_t n = ::write(STDOUT_FILENO, line, std::strlen(line));
    }
    g_running = false;
    if (comn::WakeEvent* wake = g_wake.load()) {
        wake->wake();
    }
    errno = savedErrno;
}

void ShutdownSignals::install() {
    if (g_wake.load() == nullptr) {
        // Never destroyed: a signal may still arrive while the process exits.
        g_wake = new comn::WakeEvent;
    }
    g_running = true;
    struct sigaction action {};
    action.sa_handler = handle;
    sigemptyset(&action.sa_mask);
    // Other threads' system calls go on; the main loop's waits watch wakeFd() anyway.
    action.sa_flags = SA_RESTART;
    for (const int sig : {SIGINT, SIGUSR1, SIGTERM}) {
        ::sigaction(sig, &action, nullptr);
    }
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    ::sigaction(SIGPIPE, &ignore, nullptr);
}

bool ShutdownSignals::running() {
    return g_running.load();
}

int ShutdownSignals::wakeFd() {
    comn::WakeEvent* wake = g_wake.load();
    return wake != nullptr ? wake->fd() : -1;
}

bool ShutdownSignals::waitForStop(std::chrono::milliseconds duration) {
    if (comn::WakeEvent* wake = g_wake.load()) {
        wake->wait(duration);
    } else {
        std::this_thread::sleep_for(duration);
    }
    return !running();
}
