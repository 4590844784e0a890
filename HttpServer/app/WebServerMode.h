#pragma once
// The web-server mode of Quillon ("Quillon 1").

#include <string>

/// Runs the configuration web server until SIGINT, SIGUSR1 or SIGTERM:
///  1. installs the signal dispositions (ShutdownSignals), prints "start web server...";
///  2. opens the media link ("/tmp/client.socket" to "/tmp/server.socket");
///  3. builds the device handler, which loads "/mnt/config/encoder.ini";
///  4. builds the HTTP server, prints "load web path:<web root>";
///  5. upload directory "/var/", document root "/root/custom_files/web/website/", password
///     file "/mnt/config/user.htpasswd", then starts it on port 80 (or QUILLON_HTTP_PORT);
///     a port that cannot be bound ends the process with status 1;
///  6. zero-fills the media process's status records;
///  7. starts the LTE monitor when connectionType is 2;
///  8. prints "npt enable:%d, interval:%d, server:%s";
///  9. loops: relays one status record (waiting up to 3 s), synchronises the clock when
///     due, sleeps 100 ms;
/// 10. after a signal: stops the server and the LTE monitor and returns 0.
/// Every path is a board path, taken under BOARD_ROOT in the sandbox. A signal ends every
/// wait of the loop (and the sleeps of a clock synchronisation) at once, so the process
/// ends within one pass.
class WebServerMode {
public:
    /// The environment variable that overrides the web server's port, so that a sandbox
    /// or an unprivileged user can run the server.
    static constexpr const char* kPortVariable = "QUILLON_HTTP_PORT";
    static constexpr const char* kWebRoot = "/root/custom_files/web/website/";
    static constexpr const char* kUploadDir = "/var/";
    static constexpr const char* kPasswordFile = "/mnt/config/user.htpasswd";

    /// Runs the mode on the calling (main) thread; the process's exit status.
    static int run();

    /// The port to listen on: defaultPort, or the variable's value when it is a decimal
    /// number 1..65535. Any other value is reported ("QUILLON_HTTP_PORT ... is not a port")
    /// and ignored. envValue is the variable's text, nullptr when unset.
    static int httpPort(const char* envValue, int defaultPort);
};
