#pragma once

#include <atomic>
#include <mutex>
#include <string>

#include "HttpServer.h"

struct mg_connection;
struct mg_context;

/// The web server on civetweb.
///
/// Routes, by the start of the (decoded) request path:
/// - "/api...": the rest of the path goes to HttpHandler::handleApi with the method, the
///   query string and the body (at most kMaxBodyBytes); the reply is the JSON reply with
///   200 for result 0 and 500 otherwise, or 404 with "{}" when no handler is set.
/// - "/upload...": a multipart form; every part with a file name is stored in the upload
///   directory as "<dir>/<last component of the name>" and reported to handleUpload.
/// - "/sys/...": "/sys/password" replaces the password file from the form variables "user"
///   and "password" and reports them to handleRtspInfo; anything else is 404 with "{}".
/// - anything else: a file under the document root (a directory serves its index.html).
///
/// While the password file exists, every request needs digest credentials against it
/// (realm "HttpServer"); without them it gets the digest challenge. Requests to the three
/// control routes whose Origin (or Referer) names another host than Host get 403.
///
/// Threads: civetweb serves requests on kWorkerThreads threads, but the handler is called
/// by one request at a time (one lock around every call), so it needs no locking of its
/// own. The setters may be called while the server runs; they apply to later requests.
/// start() and stop() belong to one controlling thread.
class CHttpServer : public HttpServer {
public:
    /// Request bodies of "/api" and "/sys/" larger than this are refused with 413.
    static constexpr long long kMaxBodyBytes = 64 * 1024;
    /// An uploaded file larger than this is refused with 413 (firmware images are smaller).
    static constexpr long long kMaxUploadBytes = 64LL * 1024 * 1024;
    /// Room for the multipart framing and form fields around the file in an upload body.
    static constexpr long long kUploadFramingBytes = 64 * 1024;
    /// A client that sends nothing for this long loses its connection.
    static constexpr int kRequestTimeoutMs = 10000;
    /// An idle keep-alive connection holds one worker; it is closed after this long, so that
    /// browsers keeping connections open do not shut other clients out.
    static constexpr int kKeepAliveTimeoutMs = 2000;
    /// civetweb gives every open connection a worker of its own: enough for a few browsers
    /// (six connections each) loading pages while an upload runs.
    static constexpr int kWorkerThreads = 16;

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
    /// Port 0 binds a free port (see boundPort()). When the port cannot be bound, prints
    /// "\nweb server can not bind port : <port>\n, exit !!!" and ends the process with
    /// status 1: the device is useless without its web server. False when already running.
    bool start(int port, HttpHandler* handler) override;
    void stop() override;
    bool isRunning() const override;

    /// The local address to listen on, set before start(); "" (the default) listens on all.
    void setListenAddress(const std::string& address);
    /// The port the server listens on while it runs, 0 otherwise.
    int boundPort() const { return m_boundPort.load(); }
    /// Replaces the handler; null detaches it (API and system requests then get 404). Waits
    /// for a handler call in progress, so the old handler is unused once this returns; never
    /// call it from inside a handler call.
    void setHandler(HttpHandler* handler);

private:
    static int onApi(mg_connection* conn, void* self);
    static int onUpload(mg_connection* conn, void* self);
    static int onSystem(mg_connection* conn, void* self);
    static int onPage(mg_connection* conn, void* self);

    int serveApi(mg_connection* conn);
    int serveUpload(mg_connection* conn);
    int serveSystem(mg_connection* conn);
    int servePage(mg_connection* conn);

    /// 0 when the request may go on; otherwise the status of the refusal already sent.
    int checkAccess(mg_connection* conn, bool controlRoute);
    /// Writes the default credentials when the file is missing.
    void ensureAuthFile(const std::string& path);
    int changePassword(const std::string& body);
    /// Reads and stores an upload; the status and reply text to send.
    int receiveUpload(mg_connection* conn, std::string& reply);

    std::string documentRoot() const;
    std::string uploadDir() const;
    std::string authFile() const;

    mutable std::mutex m_configMutex;  // guards the paths below
    std::string m_documentRoot = ".";
    std::string m_uploadDir = ".";
    std::string m_authFile;
    std::string m_listenAddress;

    std::mutex m_handlerMutex;  // held for every handler call: one request at a time
    HttpHandler* m_handler = nullptr;

    std::atomic<mg_context*> m_context{nullptr};
    std::atomic<int> m_boundPort{0};
};
