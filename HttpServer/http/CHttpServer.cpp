#include "CHttpServer.h"

#include <arpa/inet.h>
#include <civetweb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <thread>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "DocumentPath.h"
#include "HttpReply.h"
#include "MultipartParser.h"
#include "PasswordFile.h"
#include "SameOrigin.h"
#include "UploadReceiver.h"

using http::DocumentPath;
using http::HttpReply;
using http::MultipartParser;
using http::PasswordFile;
using http::SameOrigin;
using http::UploadReceiver;

namespace {

// How often stop() knocks at the listener until civetweb has stopped.
constexpr std::chrono::milliseconds kWakeIntervalMs{20};

// Opens and closes a connection to the listener, which ends its wait for traffic.
void knock(const std::string& address, int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return;
    }
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    if (::inet_pton(AF_INET, address.c_str(), &addr.sin_addr) == 1) {
        ::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr);
    }
    ::close(fd);
}

// Upload bodies pass through a buffer of this size; files are written as they arrive.
constexpr size_t kReadBufferBytes = 16 * 1024;

void send(mg_connection* conn, const std::string& reply) {
    mg_write(conn, reply.data(), reply.size());
}

// Answers without reading the rest of the request, so the connection cannot be reused.
int sendAndClose(mg_connection* conn, int status, const std::string& reply) {
    send(conn, reply);
    mg_disable_connection_keep_alive(conn);
    return status;
}

// A client that asks before sending its body ("Expect: 100-continue", curl does for large
// uploads) gets the go-ahead here; civetweb sends it only for its own file handlers.
void continueIfExpected(mg_connection* conn) {
    const char* expect = mg_get_header(conn, "Expect");
    if (expect != nullptr && mg_strcasecmp(expect, "100-continue") == 0) {
        send(conn, "HTTP/1.1 100 Continue\r\n\r\n");
    }
}

// Reads the body of an "/api" or "/sys/" request into body: 0 when it is complete, else the
// status it was refused with (413 answered and closed; 400 when the client broke off).
int readControlBody(mg_connection* conn, std::string& body) {
    const long long limit = CHttpServer::kMaxBodyBytes;
    if (mg_get_request_info(conn)->content_length > limit) {
        return sendAndClose(conn, 413, HttpReply::json(413, "{}"));
    }
    continueIfExpected(conn);
    char buf[4096];
    for (;;) {
        const int n = mg_read(conn, buf, sizeof buf);
        if (n == 0) {
            return 0;
        }
        if (n < 0) {
            mg_disable_connection_keep_alive(conn);
            return 400;
        }
        if (static_cast<long long>(body.size()) + n > limit) {
            return sendAndClose(conn, 413, HttpReply::json(413, "{}"));
        }
        body.append(buf, static_cast<size_t>(n));
    }
}

// civetweb's own text for a refused page (it is not a JSON route).
int pageError(mg_connection* conn, int status) {
    mg_send_http_error(conn, status, "%s", status == 403 ? "Forbidden" : "Not Found");
    return status;
}

std::string formVariable(const std::string& body, const char* name, bool& tooLong) {
    char value[PasswordFile::kMaxField + 1];
    const int n = mg_get_var(body.data(), body.size(), name, value, sizeof value);
    if (n == -2) {
        tooLong = true;
    }
    return n >= 0 ? std::string(value, static_cast<size_t>(n)) : std::string();
}

}  // namespace

CHttpServer::CHttpServer(const std::string& authFile) : m_authFile(authFile) {
    static std::once_flag libraryReady;
    std::call_once(libraryReady, [] { mg_init_library(0); });
    ensureAuthFile(authFile);
}

CHttpServer::~CHttpServer() {
    stop();
}

bool CHttpServer::setDocumentRoot(const std::string& path) {
    if (path.empty()) {
        return false;
    }
    std::lock_guard<std::mutex> lock(m_configMutex);
    m_documentRoot = path;
    return true;
}

bool CHttpServer::setUploadDir(const std::string& path) {
    if (path.empty()) {
        return false;
    }
    std::lock_guard<std::mutex> lock(m_configMutex);
    m_uploadDir = path;
    return true;
}

bool CHttpServer::setAuthFile(const std::string& path) {
    {
        std::lock_guard<std::mutex> lock(m_configMutex);
        m_authFile = path;
    }
    if (!path.empty()) {
        ensureAuthFile(path);
    }
    return true;
}

void CHttpServer::setListenAddress(const std::string& address) {
    std::lock_guard<std::mutex> lock(m_configMutex);
    m_listenAddress = address;
}

void CHttpServer::setHandler(HttpHandler* handler) {
    std::lock_guard<std::mutex> lock(m_handlerMutex);
    m_handler = handler;
}

std::string CHttpServer::documentRoot() const {
    std::lock_guard<std::mutex> lock(m_configMutex);
    return m_documentRoot;
}

std::string CHttpServer::uploadDir() const {
    std::lock_guard<std::mutex> lock(m_configMutex);
    return m_uploadDir;
}

std::string CHttpServer::authFile() const {
    std::lock_guard<std::mutex> lock(m_configMutex);
    return m_authFile;
}

void CHttpServer::ensureAuthFile(const std::string& path) {
    if (PasswordFile::exists(path)) {
        return;
    }
    std::lock_guard<std::mutex> lock(m_handlerMutex);
    if (m_handler != nullptr) {
        m_handler->handleRtspInfo(PasswordFile::kDefaultUser, PasswordFile::kDefaultPassword);
    }
    if (!PasswordFile::write(path, PasswordFile::kDefaultUser, PasswordFile::kDefaultPassword)) {
        std::printf("web server: cannot write the password file %s\n", path.c_str());
    }
}

bool CHttpServer::start(int port, HttpHandler* handler) {
    if (port < 0 || handler == nullptr || isRunning()) {
        return false;
    }
    setHandler(handler);
    std::string listen = std::to_string(port);
    {
        std::lock_guard<std::mutex> lock(m_configMutex);
        if (!m_listenAddress.empty()) {
            listen = m_listenAddress + ":" + listen;
        }
    }
    const std::string threads = std::to_string(kWorkerThreads);
    const std::string timeout = std::to_string(kRequestTimeoutMs);
    const std::string keepAlive = std::to_string(kKeepAliveTimeoutMs);
    // No document root: civetweb's own file serving is never reached, every path is ours.
    // No CGI, server-side includes, listings or CORS answers of its own either.
    const char* options[] = {"listening_ports",
                             listen.c_str(),
                             "num_threads",
                             threads.c_str(),
                             "request_timeout_ms",
                             timeout.c_str(),
                             "keep_alive_timeout_ms",
                             keepAlive.c_str(),
                             "enable_keep_alive",
                             "yes",
                             // Files go out as a header write and a body write; without this
                             // the body waits for the client's delayed ACK (40 ms a file).
                             "tcp_nodelay",
                             "1",
                             "enable_directory_listing",
                             "no",
                             "cgi_pattern",
                             "",
                             "ssi_pattern",
                             "",
                             "access_control_allow_origin",
                             "",
                             "access_control_allow_methods",
                             "",
                             "access_control_allow_headers",
                             "",
                             "authentication_domain",
                             PasswordFile::kRealm,
                             "static_file_max_age",
                             "0",
                             nullptr};
    mg_callbacks callbacks{};
    // civetweb's diagnostics would go to standard error; the server reports its own.
    callbacks.log_message = [](const mg_connection*, const char*) { return 1; };
    mg_context* context = mg_start(&callbacks, this, options);
    if (context == nullptr) {
        std::printf("\nweb server can not bind port : %d\n, exit !!!", port);
        std::fflush(stdout);
        std::exit(1);
    }
    // civetweb tries handlers in the order they were registered.
    mg_set_request_handler(context, "/api**", &CHttpServer::onApi, this);
    mg_set_request_handler(context, "/upload**", &CHttpServer::onUpload, this);
    mg_set_request_handler(context, "/sys/**", &CHttpServer::onSystem, this);
    mg_set_request_handler(context, "**", &CHttpServer::onPage, this);
    mg_server_port bound{};
    if (mg_get_server_ports(context, 1, &bound) == 1) {
        m_boundPort = bound.port;
    }
    m_context = context;
    return true;
}

void CHttpServer::stop() {
    mg_context* context = m_context.exchange(nullptr);
    if (context == nullptr) {
        return;
    }
    // civetweb's listener notices the stop only when its poll (2 s) ends; a connection ends
    // it at once, as the device's server has always woken its loop on stop. The waker keeps
    // knocking until mg_stop returns, since a knock before the stop flag is set is not enough.
    std::string address;
    {
        std::lock_guard<std::mutex> lock(m_configMutex);
        address = m_listenAddress.empty() ? "127.0.0.1" : m_listenAddress;
    }
    const int port = m_boundPort.load();
    std::mutex mutex;
    std::condition_variable stopped;
    bool done = false;
    std::thread waker([&] {
        std::unique_lock<std::mutex> lock(mutex);
        do {
            knock(address, port);
        } while (!stopped.wait_for(lock, kWakeIntervalMs, [&] { return done; }));
    });
    mg_stop(context);  // returns once every worker has finished its request
    {
        std::lock_guard<std::mutex> lock(mutex);
        done = true;
    }
    stopped.notify_one();
    waker.join();
    m_boundPort = 0;
}

bool CHttpServer::isRunning() const {
    return m_context.load() != nullptr;
}

int CHttpServer::onApi(mg_connection* conn, void* self) {
    return static_cast<CHttpServer*>(self)->serveApi(conn);
}

int CHttpServer::onUpload(mg_connection* conn, void* self) {
    return static_cast<CHttpServer*>(self)->serveUpload(conn);
}

int CHttpServer::onSystem(mg_connection* conn, void* self) {
    return static_cast<CHttpServer*>(self)->serveSystem(conn);
}

int CHttpServer::onPage(mg_connection* conn, void* self) {
    return static_cast<CHttpServer*>(self)->servePage(conn);
}

int CHttpServer::checkAccess(mg_connection* conn, bool controlRoute) {
    const std::string file = authFile();
    if (PasswordFile::exists(file) &&
        mg_check_digest_access_authentication(conn, PasswordFile::kRealm, file.c_str()) <= 0) {
        mg_send_digest_access_authentication_request(conn, PasswordFile::kRealm);
        return 401;
    }
    if (controlRoute &&
        !SameOrigin::allowed(mg_get_header(conn, "Host"), mg_get_header(conn, "Origin"),
                             mg_get_header(conn, "Referer"))) {
        return sendAndClose(conn, 403, HttpReply::json(403, "{}"));
    }
    return 0;
}

int CHttpServer::serveApi(mg_connection* conn) {
    if (const int refused = checkAccess(conn, true)) {
        return refused;
    }
    std::string body;
    if (const int refused = readControlBody(conn, body)) {
        return refused;
    }
    const mg_request_info* ri = mg_get_request_info(conn);
    const std::string_view apiPath = std::string_view(ri->local_uri).substr(4);  // after "/api"
    const std::string_view query = ri->query_string != nullptr ? ri->query_string : "";
    std::string response = "{}";
    int status = 404;
    {
        std::lock_guard<std::mutex> lock(m_handlerMutex);
        if (m_handler != nullptr) {
            const int result =
                m_handler->handleApi(ri->request_method, apiPath, query, body, response);
            status = result == 0 ? 200 : result == 400 ? 400 : 500;  // 400: refused unparsed
        }
    }
    send(conn, HttpReply::json(status, response));
    return status;
}

int CHttpServer::serveSystem(mg_connection* conn) {
    if (const int refused = checkAccess(conn, true)) {
        return refused;
    }
    std::string body;
    if (const int refused = readControlBody(conn, body)) {
        return refused;
    }
    const std::string_view systemPath =
        std::string_view(mg_get_request_info(conn)->local_uri).substr(4);
    const int status = systemPath == "/password" ? changePassword(body) : 404;
    send(conn, HttpReply::json(status, "{}"));
    return status;
}

// A user name or password that cannot be stored is refused, where the device used to write
// an empty or broken line that locked every user out.
int CHttpServer::changePassword(const std::string& body) {
    bool tooLong = false;
    const std::string user = formVariable(body, "user", tooLong);
    const std::string password = formVariable(body, "password", tooLong);
    if (tooLong || !PasswordFile::validUser(user)) {
        return 400;
    }
    std::lock_guard<std::mutex> lock(m_handlerMutex);
    if (!PasswordFile::write(authFile(), user, password)) {
        return 500;
    }
    if (m_handler != nullptr) {
        m_handler->handleRtspInfo(user, password);
    }
    return 200;
}

int CHttpServer::serveUpload(mg_connection* conn) {
    if (const int refused = checkAccess(conn, true)) {
        return refused;
    }
    std::string reply;
    const int status = receiveUpload(conn, reply);
    // The connection closes after the reply: its body has no length, and a refused upload
    // leaves the rest of the request unread.
    return sendAndClose(conn, status, reply);
}

// Every file of a refused upload is gone by the time this returns.
int CHttpServer::receiveUpload(mg_connection* conn, std::string& reply) {
    const char* type = mg_get_header(conn, "Content-Type");
    const std::optional<std::string> boundary =
        type != nullptr ? MultipartParser::boundaryOf(type) : std::nullopt;
    if (!boundary) {
        reply = HttpReply::uploadRefused(400, "Bad Request");
        return 400;
    }
    const long long limit = kMaxUploadBytes + kUploadFramingBytes;
    bool tooLarge = mg_get_request_info(conn)->content_length > limit;

    if (!tooLarge) {
        continueIfExpected(conn);
    }
    UploadReceiver receiver(uploadDir(), kMaxUploadBytes);
    MultipartParser parser(*boundary, receiver);
    std::vector<char> buffer(kReadBufferBytes);
    long long total = 0;
    while (!tooLarge && !parser.done() && !parser.failed()) {
        const int n = mg_read(conn, buffer.data(), buffer.size());
        if (n <= 0) {
            break;
        }
        total += n;
        tooLarge = total > limit;
        parser.feed(buffer.data(), static_cast<size_t>(n));
    }
    parser.finish();

    using Failure = UploadReceiver::Failure;
    if (tooLarge || receiver.failure() == Failure::TooLarge) {
        reply = HttpReply::uploadRefused(413, "Request Entity Too Large");
        return 413;
    }
    if (receiver.failure() == Failure::OpenFailed) {
        reply = HttpReply::uploadRefused(500, "Failed to open a file");
        return 500;
    }
    if (receiver.failure() == Failure::WriteFailed) {
        reply = HttpReply::uploadRefused(500, "Failed to write to a file");
        return 500;
    }
    if (!parser.done() || receiver.files().empty()) {
        reply = HttpReply::uploadRefused(400, "Bad Request");
        return 400;
    }
    std::lock_guard<std::mutex> lock(m_handlerMutex);
    if (!receiver.commit()) {
        reply = HttpReply::uploadRefused(500, "Failed to write to a file");
        return 500;
    }
    if (m_handler != nullptr) {
        for (const UploadReceiver::File& f : receiver.files()) {
            m_handler->handleUpload(f.field, f.path);
        }
    }
    const UploadReceiver::File& first = receiver.files().front();
    reply = HttpReply::uploadStored(first.size, first.path);
    return 200;
}

int CHttpServer::servePage(mg_connection* conn) {
    if (const int refused = checkAccess(conn, false)) {
        return refused;
    }
    const mg_request_info* ri = mg_get_request_info(conn);
    // The path as the client sent it (decoded, dot segments kept), so that a ".." is refused
    // rather than quietly resolved.
    const char* path = ri->local_uri_raw != nullptr ? ri->local_uri_raw : ri->local_uri;
    if (path == nullptr) {
        return pageError(conn, 404);
    }
    std::string file;
    switch (DocumentPath::resolve(documentRoot(), path, file)) {
        case DocumentPath::Result::Found:
            mg_send_file(conn, file.c_str());
            return 200;
        case DocumentPath::Result::Forbidden:
            return pageError(conn, 403);
        case DocumentPath::Result::NeedsSlash:
            send(conn, "HTTP/1.1 301 Moved Permanently\r\nLocation: " + DocumentPath::encode(path) +
                           "/\r\nContent-Length: 0\r\n\r\n");
            return 301;
        case DocumentPath::Result::NotFound:
            break;
    }
    return pageError(conn, 404);
}
