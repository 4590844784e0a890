#include "HttpConnection.h"

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

// One read takes at most this much; large reads keep the receiver's share of CPU small.
constexpr size_t kReadBytes = 256 * 1024;

}  // namespace

bool loopbackAddress(const std::string& host, int port, sockaddr_in& addr, std::string& error) {
    addr = {};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    if (::inet_pton(AF_INET, host.c_str(), &addr.sin_addr) != 1) {
        error = "not an IPv4 address: " + host;
        return false;
    }
    return true;
}

HttpConnection::HttpConnection(bool http, BodyFn body) : m_http(http), m_body(std::move(body)) {
    http_parser_init(&m_parser, HTTP_RESPONSE);
    m_parser.data = this;
}

HttpConnection::~HttpConnection() {
    if (m_fd >= 0) {
        ::close(m_fd);
    }
}

bool HttpConnection::connect(const sockaddr_in& addr, std::string& error) {
    m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (m_fd < 0) {
        error = std::string("socket: ") + std::strerror(errno);
        return false;
    }
    if (::connect(m_fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0 &&
        errno != EINPROGRESS) {
        error = std::string("connect: ") + std::strerror(errno);
        return false;
    }
    return true;
}

bool HttpConnection::finishConnect() {
    int failure = 0;
    socklen_t length = sizeof failure;
    ::getsockopt(m_fd, SOL_SOCKET, SO_ERROR, &failure, &length);
    m_connected = failure == 0;
    return m_connected;
}

bool HttpConnection::send(const std::string& request) {
    return ::send(m_fd, request.data(), request.size(), MSG_NOSIGNAL) ==
           static_cast<ssize_t>(request.size());
}

HttpConnection::Read HttpConnection::read(uint64_t& wire) {
    static char buffer[kReadBytes];
    wire = 0;
    const ssize_t n = ::recv(m_fd, buffer, sizeof buffer, MSG_DONTWAIT);
    if (n == 0) {
        return Read::kEnded;
    }
    if (n < 0) {
        return errno == EAGAIN || errno == EINTR ? Read::kMore : Read::kFailed;
    }
    wire = static_cast<uint64_t>(n);
    if (!m_http) {
        m_body(buffer, static_cast<size_t>(n));
        return Read::kMore;
    }
    static const http_parser_settings settings = [] {
        http_parser_settings s{};
        s.on_headers_complete = &HttpConnection::onHeadersComplete;
        s.on_body = &HttpConnection::onBody;
        s.on_message_complete = &HttpConnection::onMessageComplete;
        return s;
    }();
    const size_t parsed = http_parser_execute(&m_parser, &settings, buffer, static_cast<size_t>(n));
    if (parsed != static_cast<size_t>(n) || HTTP_PARSER_ERRNO(&m_parser) != HPE_OK) {
        return Read::kFailed;
    }
    return Read::kMore;
}

int HttpConnection::takeCompleted() {
    const int completed = m_completed;
    m_completed = 0;
    return completed;
}

int HttpConnection::onHeadersComplete(http_parser* parser) {
    static_cast<HttpConnection*>(parser->data)->m_headerDone = true;
    return 0;
}

int HttpConnection::onBody(http_parser* parser, const char* at, size_t length) {
    static_cast<HttpConnection*>(parser->data)->m_body(at, length);
    return 0;
}

int HttpConnection::onMessageComplete(http_parser* parser) {
    ++static_cast<HttpConnection*>(parser->data)->m_completed;
    return 0;
}
