#include "WebServerMode.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "CHttpServer.h"
#include "DemoHandler.h"
#include "EncoderConfigFile.h"
#include "EncoderHttpHandler.h"
#include "HttpsOnlySetting.h"
#include "LteMonitor.h"
#include "MediaLink.h"
#include "MediaState.h"
#include "MetricsPage.h"
#include "ShutdownSignals.h"
#include "TimeKeeping.h"
#include "TimeSyncSchedule.h"
#include "TlsIdentity.h"
#include "board/Board.h"

namespace {

using namespace std::chrono_literals;

constexpr int kLteConnection = 2;
constexpr int kMaxPort = 65535;
// Without a media link there is nothing to wait for; a pass still lasts as long as one
// with a link, since the time synchronisation counts every pass as 3 seconds.
constexpr auto kPassWait = 3000ms;
constexpr auto kPassPause = 100ms;

}  // namespace

int WebServerMode::port(const char* variable, const char* envValue, int defaultPort) {
    if (envValue == nullptr) {
        return defaultPort;
    }
    char* end = nullptr;
    const long value = std::strtol(envValue, &end, 10);
    const bool digitsOnly = *envValue >= '0' && *envValue <= '9' && end != nullptr && *end == 0;
    if (!digitsOnly || value < 0 || value > kMaxPort) {
        std::printf("%s=%s is not a port, using %d\n", variable, envValue, defaultPort);
        return defaultPort;
    }
    return static_cast<int>(value);
}

int WebServerMode::run() {
    ShutdownSignals::install();
    std::printf("start web server...\n");

    enc::MediaLink& link = enc::MediaLink::instance();
    link.startMediaLink();  // without it the link silently sends and receives nothing

    auto handler = std::make_unique<DemoHandler>();
    auto api = std::make_unique<enc::EncoderHttpHandler>(*handler);
    // Copied now: once the server runs, its requests reload the handler's settings on the
    // server's thread.
    const enc::NetworkSettings network = handler->settings().network;
    const enc::FtpSettings timeSettings = handler->settings().ftp;
    // The password file is ensured where the device keeps it, not in the working
    // directory.
    const std::string passwordFile = board::path(kPasswordFile);
    auto server = std::make_unique<CHttpServer>(passwordFile);
    const std::string webRoot = board::path(kWebRoot);
    std::printf("load web path:%s\n", webRoot.c_str());
    server->setUploadDir(board::path(kUploadDir));
    server->setDocumentRoot(webRoot);
    server->setAuthFile(passwordFile);
    // HTTPS beside HTTP, with a key and certificate of this device's own.
    http::TlsIdentity tls;
    std::string tlsError;
    const int httpsPort =
        port(kHttpsPortVariable, std::getenv(kHttpsPortVariable), kDefaultHttpsPort);
    if (tls.loadOrCreate(board::path(kTlsKeyFile), board::path(kTlsCertFile), tlsError)) {
        server->setHttps(httpsPort, tls.keyPem, tls.certPem);
    } else {
        std::printf("https: no key and certificate (%s); serving plain HTTP only\n",
                    tlsError.c_str());
    }
    // "/metrics" for monitoring systems, with the token the security settings store.
    const enc::MetricsToken metricsToken = handler->metricsToken();
    CHttpServer* const metricsServer = server.get();
    server->setMetrics(
        [metricsToken](std::string_view token) { return metricsToken.matches(token); },
        [metricsServer] {
            const CHttpServer::Counters c = metricsServer->counters();
            return enc::MetricsPage::render(enc::MediaState::instance(),
                                            enc::ServerCounters{c.requests, c.authFailures},
                                            enc::MediaState::nowMs());
        });
    HttpsOnlySetting httpsOnly(board::path(DemoHandler::kSettingsFile));
    server->setHttpsOnly([&httpsOnly] { return httpsOnly.enabled(); });
    // The port of the never-loaded default settings: the device always serves on 80.
    const int httpPort = port(kPortVariable, std::getenv(kPortVariable),
                              enc::EncoderConfigFile().protocol[0].httpPort);
    if (!server->start(httpPort, api.get())) {
        if (!server->bindFailed()) {  // a port that cannot be bound has said so already
            std::printf("web server can not start on port %d\n", httpPort);
        }
        return 1;
    }
    // Lines of their own, so that whoever chose port 0 learns the port.
    std::printf("web server listening on port %d\n", server->boundPort());
    if (server->boundHttpsPort() != 0) {
        std::printf("https listening on port %d\n", server->boundHttpsPort());
    }

    enc::MediaState& media = enc::MediaState::instance();
    media.clearStatusRecords();

    const bool lteMode = network.connectionType == kLteConnection;
    if (lteMode) {
        enc::startLteMonitor();
    }
    enc::TimeSyncSchedule schedule(enc::timeSyncSettings(timeSettings, network));
    schedule.printSettings();

    const enc::Sleeper sleeper = enc::steppedSleeper([] { return ShutdownSignals::running(); });
    while (ShutdownSignals::running()) {
        if (link.fd() >= 1) {
            link.relayTo(media, ShutdownSignals::wakeFd());
        } else {
            ShutdownSignals::waitForStop(kPassWait);
        }
        if (!ShutdownSignals::running()) {
            break;
        }
        schedule.onPass([&](const std::string& ntpServer) { enc::syncNtp(ntpServer, sleeper); });
        ShutdownSignals::waitForStop(kPassPause);
    }

    server->stop();
    if (lteMode) {
        enc::stopLteMonitor();
    }
    server.reset();
    api.reset();
    handler.reset();
    return 0;
}
