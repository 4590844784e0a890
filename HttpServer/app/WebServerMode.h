#pragma once
// The web-server mode of Quillon ("Quillon 1").

#include <string>

/// Runs the configuration web server until SIGINT, SIGUSR1 or SIGTERM:
///  1. installs the signal dispositions (ShutdownSignals), prints "start web server...";
///  2. opens the media link ("/tmp/client.socket" to "/tmp/server.socket");
///  3. builds the device handler, which loads "/mnt/config/encoder.ini";
///  4. builds the HTTP server, prints "load web path:<web root>";
///  5. upload directory "/var/", document root "/root/custom_files/web/website/", password
///     file "/mnt/config/user.htpasswd", then starts it on port 80 (or QUILLON_HTTP_PORT)
///     and HTTPS on port 443 (or QUILLON_HTTPS_PORT) with the device's key and certificate
///     (made at first start in "/mnt/config/"); prints "web server listening on port N" and
///     "https listening on port N" with the ports bound (port 0 binds a free one); a port
///     that cannot be bound, or a password file that cannot be created, ends the mode with
///     status 1: the device never serves without authentication. Plain HTTP redirects to
///     HTTPS while "[security] httpsOnly=1" is in the settings file;
///  6. zero-fills the media process's status records;
///  7. starts the LTE monitor when connectionType is 2;
///  8. prints "npt enable:%d, interval:%d, server:%s";
///  9. loops: relays one status record (waiting up to 3 s), synchronises the clock when
///     due, sleeps 100 ms;
/// 10. after a signal: stops the server and the LTE monitor and returns 0.
/// Every path is a board path, taken under BOARD_ROOT in the sandbox. A signal ends every
/// wait of the loop (and the sleeps of a clock synchronisation) at once, so the process
/// ends within one pass.
namespace WebServerMode {

/// The environment variable that overrides the web server's port, so that a sandbox
/// or an unprivileged user can run the server.
constexpr const char* kPortVariable = "QUILLON_HTTP_PORT";
constexpr const char* kHttpsPortVariable = "QUILLON_HTTPS_PORT";
constexpr int kDefaultHttpsPort = 443;
/// The device's HTTPS key and certificate, private to the device (mode 0600).
constexpr const char* kTlsKeyFile = "/mnt/config/https-key.pem";
constexpr const char* kTlsCertFile = "/mnt/config/https-cert.pem";
constexpr const char* kWebRoot = "/root/custom_files/web/website/";
constexpr const char* kUploadDir = "/var/";
constexpr const char* kPasswordFile = "/mnt/config/user.htpasswd";

/// Runs the mode on the calling (main) thread; the process's exit status.
int run();

/// The port to listen on: defaultPort, or the variable's value when it is a decimal
/// number 0..65535 (0: a free port, reported once bound). Any other value is reported
/// ("<variable>=<value> is not a port") and ignored. envValue is the variable's text,
/// nullptr when unset.
int port(const char* variable, const char* envValue, int defaultPort);

}  // namespace WebServerMode
