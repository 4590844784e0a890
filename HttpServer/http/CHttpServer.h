#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "HttpServer.h"

struct MHD_Connection;
struct MHD_Daemon;

namespace http {
class DigestGuard;
class OwnHosts;
class WorkQueue;
struct HttpExchange;
struct HttpPeer;
}  // namespace http

/// The web server on libmicrohttpd: one event-loop thread serves plain HTTP and, when
/// configured, the library's own poll() thread serves HTTPS beside it (its epoll mode would
/// spin on a handshake that waits for the client, because GnuTLS reads the socket there
/// behind the library's back).
///
/// Routes, by the start of the (decoded) request path:
/// - "/api...": the rest of the path goes to HttpHandler::handleApi with the method, the
///   raw query string and the body (at most kMaxBodyBytes); the reply is the JSON reply with
///   200 for result 0, 405 (with Allow) for kMethodNotAllowed and 500 otherwise, or 404
///   with "{}" when no handler is set.
/// - "/upload...": a multipart form, parsed as it arrives; every part with a file name is
///   stored in the upload directory as "<dir>/<last component of the name>" and reported to
///   handleUpload.
/// - "/sys/...": "/sys/password" replaces the password file from the form variables "user"
///   and "password" (400 when they cannot be stored) and reports them to handleRtspInfo;
///   anything else is 404 with "{}".
/// - "/metrics" (exactly): the metrics page (setMetrics) for GET and HEAD, as
///   "text/plain; version=0.0.4"; its callers give "Authorization: Bearer TOKEN" instead of
///   digest credentials (401 without figures when no token is set or it is wrong; a wrong one
///   counts as a failed login), 404 while no page is set.
/// - anything else: a file under the document root (a directory serves its index.html).
///
/// Every request needs digest credentials against the password file (realm "HttpServer";
/// MD5 with qop=auth; nonces of this server instance only, which expire; every nonce count
/// higher than the last; the header's URI that of the request)
/// unless authentication was turned off with setAuthFile(""). When the file cannot be read,
/// every request is refused (401). An address with too many failed logins gets 429 for a
/// while. Requests whose Origin/Referer is not the device itself, or whose Sec-Fetch-Site
/// is cross-site, are refused (403) on the control routes; a NUL in the path is refused
/// (400) everywhere.
///
/// When kMaxConnections are open, a new connection makes room by closing the oldest one that
/// waits for its request, first among those that never completed one; when every
/// connection is in a request, the new one is refused. Slow or silent clients therefore
/// cannot keep anyone else out.
///
/// Threads: the handler is called on the event-loop threads, one request at a time; a
/// request the handler says runsLong is made on a worker thread instead (its connection
/// suspended meanwhile), beside the others. The setters may be called while the server
/// runs; they apply to later requests. start() and stop() belong to one controlling
/// thread.
class CHttpServer : public HttpServer {
public:
    /// Request bodies of "/api" and "/sys/" larger than this are refused with 413.
    static constexpr long long kMaxBodyBytes = 64 * 1024;
    /// An uploaded file larger than this is refused with 413 (firmware images are smaller).
    static constexpr long long kMaxUploadBytes = 64LL * 1024 * 1024;
    /// Room for the multipart framing and form fields around the file in an upload body.
    static constexpr long long kUploadFramingBytes = 64 * 1024;
    /// A client must complete its request headers this long after connecting (or after its
    /// previous reply), and a connection idle this long is closed: slow clients cannot hold
    /// connections open.
    static constexpr std::chrono::seconds kHeaderTimeout{10};
    static constexpr std::chrono::seconds kIdleTimeout{10};
    /// Connections one client address may hold at once (a browser opens six).
    static constexpr unsigned kConnectionsPerAddress = 16;
    /// Connections in all, HTTP and HTTPS together; descriptors beyond stay with the rest of
    /// the device.
    static constexpr unsigned kMaxConnections = 800;
    /// How long a digest nonce stays valid; a client with an older one is told it is stale.
    static constexpr unsigned kNonceTimeoutSeconds = 300;

    /// authFile is the password file; when it does not exist it is written with the default
    /// credentials ("admin", "740163"), so that a fresh device is never open.
    explicit CHttpServer(const std::string& authFile = "user.htpasswd");
    /// Stops the server when it still runs.
    ~CHttpServer() override;
    CHttpServer(const CHttpServer&) = delete;
    CHttpServer& operator=(const CHttpServer&) = delete;

    bool setDocumentRoot(const std::string& path) override;
    bool setUploadDir(const std::string& path) override;
    bool setAuthFile(const std::string& path) override;
    /// Port 0 binds a free port (see boundPort()). When a port cannot be bound, prints
    /// "\nweb server can not bind port : <port>\n, exit !!!" and returns false with
    /// bindFailed() set: the program ends then, the device being useless without its web
    /// server. False too when already running,
    /// and (with a message) when the password file is set but missing or unreadable (it
    /// could not be created): the server never serves without authentication.
    bool start(int port, HttpHandler* handler) override;
    void stop() override;
    bool isRunning() const override;

    /// Serves HTTPS on this port too (0: a free port, see boundHttpsPort()), with this key
    /// and certificate (PEM); set before start(). A port that cannot be bound fails the start
    /// like the plain port ("\nhttps server can not bind port : ...").
    void setHttps(int port, const std::string& keyPem, const std::string& certPem);
    /// Asked for every plain HTTP request while HTTPS is served: when it returns true, GET
    /// and HEAD are redirected (301) to the same path over HTTPS and other methods refused
    /// (403). Called on the event-loop thread; it must be quick.
    void setHttpsOnly(std::function<bool()> httpsOnly);
    /// Names that count as the device's own in the cross-site check, besides "localhost",
    /// its host name and its interface addresses.
    void setOwnNames(const std::vector<std::string>& names);
    /// How long nonces and slow clients are given; for tests, set before start().
    void setTimeouts(unsigned nonceSeconds, std::chrono::seconds headerTimeout);

    /// The local address to listen on, set before start(); "" (the default) listens on all.
    void setListenAddress(const std::string& address);
    /// The ports the server listens on while it runs, 0 otherwise.
    int boundPort() const { return m_boundPort.load(); }
    /// The last start() failed because a port could not be bound (its message is printed).
    bool bindFailed() const { return m_bindFailed; }
    int boundHttpsPort() const { return m_boundHttpsPort.load(); }
    /// The metrics page and the check of its bearer token; both are called on the event-loop
    /// threads, one request at a time, and must be quick. Set before start().
    void setMetrics(std::function<bool(std::string_view token)> tokenMatches,
                    std::function<std::string()> page);
    /// Requests received and failed logins (digest or bearer) since start().
    struct Counters {
        uint64_t requests = 0;
        uint64_t authFailures = 0;
    };
    Counters counters() const;

    /// Replaces the handler; null detaches it (API and system requests then get 404). Waits
    /// for handler calls in progress (long ones too), so the old handler is unused once this
    /// returns; never call it from inside a handler call.
    void setHandler(HttpHandler* handler);

private:
    struct Callbacks;  // the library's callbacks, in the source file
    enum class Access { Granted, Refused };

    bool request(MHD_Connection* conn, const char* url, const char* method, const char* uploadData,
                 size_t* uploadDataSize, void** requestContext);
    /// Decides whether a new request may go on; when not, its refusal is queued.
    Access admit(MHD_Connection* conn, http::HttpExchange& ex, const char* method);
    bool redirectToHttps(MHD_Connection* conn, http::HttpExchange& ex, const char* method);
    /// False when the answer comes later.
    bool finish(MHD_Connection* conn, http::HttpExchange& ex, const char* method);

    /// False when the answer comes later: the request runs long (see runLong).
    bool serveApi(MHD_Connection* conn, http::HttpExchange& ex, const char* method);
    void runLong(MHD_Connection* conn, http::HttpExchange& ex, const char* method);
    void replyApi(MHD_Connection* conn, int status, const std::string& response);
    int serveSystem(MHD_Connection* conn, http::HttpExchange& ex);
    /// Queues 401 and counts a failed login unless the request carries the metrics token.
    bool admitBearer(MHD_Connection* conn, const std::string& client);
    void serveMetrics(MHD_Connection* conn, const char* method);
    void serveUpload(MHD_Connection* conn, http::HttpExchange& ex);
    void servePage(MHD_Connection* conn, http::HttpExchange& ex);

    MHD_Daemon* startDaemon(int port, bool tls, const char* what);
    void run();
    void closeSlowClients();
    /// Whether a new connection may come in, after closing an old one when the server is full.
    bool makeRoom();

    /// Writes the default credentials when the file is missing.
    void ensureAuthFile(const std::string& path);
    int changePassword(const std::string& body);

    std::string documentRoot() const;
    std::string uploadDir() const;
    std::string authFile() const;

    mutable std::mutex m_configMutex;  // guards the settings below
    std::string m_documentRoot = ".";
    std::string m_uploadDir = ".";
    std::string m_authFile;
    std::string m_listenAddress;
    std::function<bool()> m_httpsOnly;
    std::function<bool(std::string_view)> m_metricsTokenMatches;
    std::function<std::string()> m_metricsPage;
    int m_httpsPort = -1;  // -1: no HTTPS
    bool m_bindFailed = false;
    std::string m_keyPem;
    std::string m_certPem;
    unsigned m_nonceTimeout = kNonceTimeoutSeconds;
    std::chrono::seconds m_headerTimeout = kHeaderTimeout;

    std::mutex m_longCallMutex;  // held for a long handler call; taken before m_handlerMutex
    std::mutex m_handlerMutex;   // held for every other handler call: one request at a time
    HttpHandler* m_handler = nullptr;

    std::unique_ptr<http::OwnHosts> m_ownHosts;
    mutable std::mutex m_guardMutex;             // the event-loop threads share the guard
    std::unique_ptr<http::DigestGuard> m_guard;  // made anew by every start()
    std::mutex m_peersMutex;               // guards the table and the peers' deadlines and marks
    std::vector<http::HttpPeer*> m_peers;  // oldest first
    std::unique_ptr<http::WorkQueue> m_longCalls;  // while running

    MHD_Daemon* m_http = nullptr;
    MHD_Daemon* m_https = nullptr;
    int m_wakeFd = -1;
    std::atomic<bool> m_stopping{false};
    std::thread m_loop;
    std::atomic<bool> m_running{false};
    std::atomic<int> m_boundPort{0};
    std::atomic<int> m_boundHttpsPort{0};
    std::atomic<uint64_t> m_requests{0};
};
