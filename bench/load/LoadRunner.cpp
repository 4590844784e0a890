#include "LoadRunner.h"

#include <arpa/inet.h>
#include <strings.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "BenchClock.h"

struct LoadRunner::Connection {
    LoadRunner* owner = nullptr;
    size_t index = 0;  // in m_connections; the epoll tag
    int fd = -1;
    bool connected = false;
    gnutls_session_t tls = nullptr;
    bool handshaken = false;
    std::string out;  // request bytes not yet written
    size_t written = 0;
    int64_t sentNs = 0;       // 0: no request outstanding
    bool authorized = false;  // the outstanding request carried credentials
    bool answered = false;    // got at least one ok answer
    http_parser parser{};
    std::string field;
    std::string value;
    bool inValue = false;
    std::string challenge;
    bool complete = false;
    DigestSigner auth;

    Connection(LoadRunner* runner, const std::string& user, const std::string& password)
        : owner(runner), auth(user, password) {}

    void takeHeader() {
        if (!field.empty() && strcasecmp(field.c_str(), "WWW-Authenticate") == 0) {
            challenge = value;
        }
        field.clear();
        value.clear();
    }
};

namespace {

// One read takes at most this; the answers here are a few kilobytes.
constexpr size_t kReadBytes = 64 * 1024;
// In-flight requests get this long to finish once the time is up; they are not counted.
constexpr int64_t kDrainNs = 1000000000;

}  // namespace

LoadRunner::LoadRunner(sockaddr_in server, std::string host, Request request, std::string user,
                       std::string password, bool tls)
    : m_server(server),
      m_host(std::move(host)),
      m_request(std::move(request)),
      m_user(std::move(user)),
      m_password(std::move(password)),
      m_tls(tls) {
    if (m_tls) {
        gnutls_certificate_allocate_credentials(&m_credentials);
    }
}

LoadRunner::~LoadRunner() {
    for (auto& c : m_connections) {
        closeSocket(*c);
    }
    if (m_epoll >= 0) {
        ::close(m_epoll);
    }
    if (m_credentials != nullptr) {
        gnutls_certificate_free_credentials(m_credentials);
    }
}

LoadRunner::Result LoadRunner::run(int connections, double seconds, int timeoutMs) {
    m_epoll = epoll_create1(EPOLL_CLOEXEC);
    for (int i = 0; i < connections; ++i) {
        m_connections.push_back(std::make_unique<Connection>(this, m_user, m_password));
        m_connections.back()->index = m_connections.size() - 1;
        start(*m_connections.back());
    }
    const int64_t began = monotonicNs();
    const int64_t stopAt = began + static_cast<int64_t>(seconds * 1e9);
    const int64_t timeoutNs = static_cast<int64_t>(timeoutMs) * 1000000;
    epoll_event events[256];
    for (;;) {
        const int n = epoll_wait(m_epoll, events, 256, 10);
        for (int i = 0; i < n; ++i) {
            Connection& c = *m_connections[events[i].data.u64];
            if (!c.connected) {
                int failure = 0;
                socklen_t length = sizeof failure;
                ::getsockopt(c.fd, SOL_SOCKET, SO_ERROR, &failure, &length);
                if (failure != 0) {
                    fail(c, "connect");
                    continue;
                }
                c.connected = true;
                if (m_tls) {
                    handshake(c);
                } else {
                    flush(c);
                }
            } else if (m_tls && !c.handshaken) {
                handshake(c);
            } else if ((events[i].events & EPOLLOUT) != 0 && c.written < c.out.size()) {
                flush(c);
            } else {
                onReadable(c);
            }
        }
        const int64_t now = monotonicNs();
        if (!m_stopping && now >= stopAt) {
            m_stopping = true;
            m_result.seconds = static_cast<double>(now - began) / 1e9;
        }
        bool busy = false;
        for (auto& c : m_connections) {
            if (c->fd >= 0 && c->sentNs != 0) {
                if (now - c->sentNs > timeoutNs) {
                    fail(*c, "timeout");
                } else {
                    busy = true;
                }
            }
        }
        if (m_stopping && (!busy || now - stopAt > kDrainNs)) {
            break;
        }
    }
    return std::move(m_result);
}

void LoadRunner::start(Connection& c) {
    if (m_stopping) {
        return;
    }
    c.fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    c.connected = false;
    // On loopback the connections come from 127.0.0.1, .2, ... 16 each: as many clients as
    // a LAN has, each within the server's limit of 16 connections per address.
    if (c.fd >= 0 && (ntohl(m_server.sin_addr.s_addr) >> 24) == 127) {
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_addr.s_addr = htonl((127u << 24) + 1 + static_cast<uint32_t>(c.index / 16));
        ::bind(c.fd, reinterpret_cast<sockaddr*>(&local), sizeof local);
    }
    http_parser_init(&c.parser, HTTP_RESPONSE);
    c.parser.data = &c;
    if (c.fd < 0 ||
        (::connect(c.fd, reinterpret_cast<sockaddr*>(&m_server), sizeof m_server) != 0 &&
         errno != EINPROGRESS)) {
        ++m_result.errors["connect"];
        closeSocket(c);
        return;
    }
    epoll_event event{};
    event.events = EPOLLOUT;
    event.data.u64 = c.index;
    epoll_ctl(m_epoll, EPOLL_CTL_ADD, c.fd, &event);
    if (m_tls) {
        c.handshaken = false;
        gnutls_init(&c.tls, GNUTLS_CLIENT | GNUTLS_NONBLOCK);
        gnutls_set_default_priority(c.tls);
        gnutls_credentials_set(c.tls, GNUTLS_CRD_CERTIFICATE, m_credentials);
        gnutls_transport_set_int(c.tls, c.fd);
    }
    sendNext(c);
}

void LoadRunner::handshake(Connection& c) {
    const int rc = gnutls_handshake(c.tls);
    if (rc == GNUTLS_E_AGAIN || rc == GNUTLS_E_INTERRUPTED) {
        watch(c, gnutls_record_get_direction(c.tls) == 1 ? EPOLLOUT : EPOLLIN);
        return;
    }
    if (rc < 0) {
        fail(c, "tls");
        return;
    }
    c.handshaken = true;
    flush(c);
}

// send()/recv() or their TLS counterparts; -1 with errno EAGAIN when the socket is not ready.
ssize_t LoadRunner::sendSome(Connection& c, const char* data, size_t size) {
    if (!m_tls) {
        return ::send(c.fd, data, size, MSG_NOSIGNAL);
    }
    const ssize_t n = gnutls_record_send(c.tls, data, size);
    if (n == GNUTLS_E_AGAIN || n == GNUTLS_E_INTERRUPTED) {
        errno = EAGAIN;
        return -1;
    }
    return n < 0 ? -1 : n;
}

ssize_t LoadRunner::recvSome(Connection& c, char* data, size_t size) {
    if (!m_tls) {
        return ::recv(c.fd, data, size, 0);
    }
    const ssize_t n = gnutls_record_recv(c.tls, data, size);
    if (n == GNUTLS_E_AGAIN || n == GNUTLS_E_INTERRUPTED) {
        errno = EAGAIN;
        return -1;
    }
    return n < 0 ? -1 : n;
}

void LoadRunner::sendNext(Connection& c) {
    std::string text = m_request.method + " " + m_request.target + " HTTP/1.1\r\nHost: " + m_host +
                       "\r\nUser-Agent: bench-http-load\r\n";
    c.authorized = c.auth.hasChallenge();
    if (c.authorized) {
        text += "Authorization: " + c.auth.sign(m_request.method, m_request.target) + "\r\n";
    }
    if (!m_request.body.empty() || m_request.method == "POST") {
        text += "Content-Type: " + m_request.contentType +
                "\r\nContent-Length: " + std::to_string(m_request.body.size()) + "\r\n";
    }
    text += "\r\n" + m_request.body;
    c.out = std::move(text);
    c.written = 0;
    c.sentNs = monotonicNs();
    c.complete = false;
    c.challenge.clear();
    if (c.connected) {
        flush(c);
    }
}

void LoadRunner::flush(Connection& c) {
    while (c.written < c.out.size()) {
        const ssize_t n = sendSome(c, c.out.data() + c.written, c.out.size() - c.written);
        if (n < 0) {
            if (errno == EAGAIN) {
                watch(c, EPOLLIN | EPOLLOUT);
                return;
            }
            fail(c, "send");
            return;
        }
        c.written += static_cast<size_t>(n);
    }
    watch(c, EPOLLIN);
}

void LoadRunner::onReadable(Connection& c) {
    static const http_parser_settings settings = [] {
        http_parser_settings s{};
        s.on_header_field = &LoadRunner::onHeaderField;
        s.on_header_value = &LoadRunner::onHeaderValue;
        s.on_message_complete = &LoadRunner::onMessageComplete;
        return s;
    }();
    static char buffer[kReadBytes];
    const ssize_t n = recvSome(c, buffer, sizeof buffer);
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
        return;
    }
    if (n <= 0) {
        // A server may close an idle keep-alive connection; only a lost answer is an error.
        if (c.sentNs != 0) {
            fail(c, n == 0 ? "closed" : "recv");
        } else {
            closeSocket(c);
            start(c);
        }
        return;
    }
    const size_t parsed = http_parser_execute(&c.parser, &settings, buffer, static_cast<size_t>(n));
    if (HTTP_PARSER_ERRNO(&c.parser) != HPE_OK && !c.complete) {
        fail(c, "parse");
        return;
    }
    (void)parsed;
    if (c.complete) {
        onAnswer(c);
    } else if (m_tls && c.fd >= 0 && gnutls_record_check_pending(c.tls) > 0) {
        onReadable(c);  // decrypted bytes wait inside the session, not on the socket
    }
}

void LoadRunner::onAnswer(Connection& c) {
    const int64_t now = monotonicNs();
    const unsigned status = c.parser.status_code;
    const bool keepAlive = http_should_keep_alive(&c.parser) != 0;
    const int64_t sent = c.sentNs;
    c.sentNs = 0;
    if (status == 401 && !c.challenge.empty() && !c.authorized) {
        ++m_result.challenges;
        c.auth.challenge(c.challenge);
    } else if (status == 200) {
        if (!m_stopping) {
            ++m_result.ok;
            if (!c.answered) {
                c.answered = true;
                ++m_result.answered;
            }
            m_result.latencyUs.push_back(static_cast<uint32_t>((now - sent) / 1000));
        }
    } else if (!m_stopping) {
        ++m_result.errors["status " + std::to_string(status)];
        if (status == 401) {
            c.auth.challenge(c.challenge);  // a stale nonce: start over with the new one
        }
    }
    if (m_stopping) {
        return;
    }
    // The parser stopped after this answer (pause in on_message_complete); start it afresh.
    http_parser_init(&c.parser, HTTP_RESPONSE);
    c.parser.data = &c;
    if (keepAlive) {
        sendNext(c);
    } else {
        closeSocket(c);
        start(c);
    }
}

void LoadRunner::fail(Connection& c, const std::string& kind) {
    if (!m_stopping) {
        ++m_result.errors[kind];
    }
    c.sentNs = 0;
    closeSocket(c);
    start(c);
}

void LoadRunner::closeSocket(Connection& c) {
    if (c.tls != nullptr) {
        gnutls_deinit(c.tls);
        c.tls = nullptr;
        c.handshaken = false;
    }
    if (c.fd >= 0) {
        epoll_ctl(m_epoll, EPOLL_CTL_DEL, c.fd, nullptr);
        ::close(c.fd);
        c.fd = -1;
    }
}

void LoadRunner::watch(Connection& c, unsigned events) {
    epoll_event event{};
    event.events = events;
    event.data.u64 = c.index;
    epoll_ctl(m_epoll, EPOLL_CTL_MOD, c.fd, &event);
}

int LoadRunner::onHeaderField(http_parser* parser, const char* at, size_t length) {
    Connection& c = *static_cast<Connection*>(parser->data);
    if (c.inValue) {
        c.takeHeader();
        c.inValue = false;
    }
    c.field.append(at, length);
    return 0;
}

int LoadRunner::onHeaderValue(http_parser* parser, const char* at, size_t length) {
    Connection& c = *static_cast<Connection*>(parser->data);
    c.value.append(at, length);
    c.inValue = true;
    return 0;
}

int LoadRunner::onMessageComplete(http_parser* parser) {
    Connection& c = *static_cast<Connection*>(parser->data);
    if (c.inValue) {
        c.takeHeader();
        c.inValue = false;
    }
    c.complete = true;
    http_parser_pause(parser, 1);  // one answer per request: stop here
    return 0;
}
