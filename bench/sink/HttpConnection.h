#pragma once

#include <http_parser.h>
#include <netinet/in.h>

#include <cstdint>
#include <functional>
#include <string>

/// One non-blocking client connection to a server on 127.0.0.1, for an epoll loop. In HTTP
/// mode what arrives goes through http_parser and only response bodies (chunk framing
/// removed) reach the body function; otherwise every byte does. Responses to successive
/// requests on a kept-alive connection are read one after the other.
class HttpConnection {
public:
    using BodyFn = std::function<void(const char* data, size_t size)>;

    HttpConnection(bool http, BodyFn body);
    ~HttpConnection();
    HttpConnection(const HttpConnection&) = delete;
    HttpConnection& operator=(const HttpConnection&) = delete;

    /// Starts connecting; the socket becomes writable once the connection is decided.
    bool connect(const sockaddr_in& addr, std::string& error);
    /// After the first writable event: whether the connection is up.
    bool finishConnect();
    int fd() const { return m_fd; }
    bool connected() const { return m_connected; }
    /// Sends a short request at once (it always fits the socket buffer of an idle client).
    bool send(const std::string& request);

    enum class Read { kMore, kEnded, kFailed };
    /// Reads what is waiting (wire: the bytes read, framing included).
    Read read(uint64_t& wire);

    /// A response head has arrived.
    bool headerDone() const { return m_headerDone; }
    /// The status of the last response whose head arrived.
    int status() const { return static_cast<int>(m_parser.status_code); }
    /// Responses that ended since the last call.
    int takeCompleted();

private:
    static int onHeadersComplete(http_parser* parser);
    static int onBody(http_parser* parser, const char* at, size_t length);
    static int onMessageComplete(http_parser* parser);

    int m_fd = -1;
    bool m_http;
    bool m_connected = false;
    bool m_headerDone = false;
    int m_completed = 0;
    BodyFn m_body;
    http_parser m_parser{};
};

/// addr for host:port; false when host is not an IPv4 address.
bool loopbackAddress(const std::string& host, int port, sockaddr_in& addr, std::string& error);
