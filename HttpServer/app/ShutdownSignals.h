#pragma once
// The web-server mode's running flag and the signals that clear it.

#include <chrono>

/// SIGINT, SIGUSR1 and SIGTERM go to one handler, which prints "Get a signal -- <name>",
/// clears the running flag and wakes every wait below; SIGPIPE is ignored (a client that
/// goes away must not end the device's web server). SIGHUP is left alone.
///
/// Thread rules: install() once from the main thread before any other thread starts; the
/// rest may be called from any thread. A signal may arrive on any thread of the process;
/// the handler only stores the flag and writes to an event descriptor, both safe there.
namespace ShutdownSignals {

/// Sets the running flag, then installs the dispositions, so that a signal during
/// start-up already ends the main loop before its first pass.
void install();

/// False once one of the signals has arrived.
bool running();

/// Readable once the flag has been cleared (for poll together with other descriptors);
/// -1 before install().
int wakeFd();

/// Waits up to duration, or until the flag is cleared (after install()). True when it
/// has been cleared.
bool waitForStop(std::chrono::milliseconds duration);

/// What the handler does for signal number sig; SIGHUP, SIGINT, SIGUSR1 and SIGTERM
/// have a name in the printed line, any other number prints none.
void onSignal(int sig);

}  // namespace ShutdownSignals
