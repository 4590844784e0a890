#include "HttpClient.h"

#include <arpa/inet.h>
#include <civetweb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>

namespace httptest {

HttpClient::HttpClient(int port) {
    m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (m_fd >= 0 && ::connect(m_fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}

HttpClient::~HttpClient() {
    if (m_fd >= 0) {
        ::close(m_fd);
    }
}

bool HttpClient::send(const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::send(m_fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n <= 0) {
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

bool HttpClient::fill(std::chrono::steady_clock::time_point deadline) {
    if (m_eof || m_fd < 0) {
        return false;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
        return false;
    }
    pollfd p{m_fd, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) {
        return false;
    }
    char buf[65536];
    const ssize_t n = ::recv(m_fd, buf, sizeof buf, 0);
    if (n <= 0) {
        m_eof = true;
        return false;
    }
    m_buffer.append(buf, static_cast<size_t>(n));
    return true;
}

std::optional<Reply> HttpClient::read(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    size_t end;
    while ((end = m_buffer.find("\r\n\r\n")) == std::string::npos) {
        if (!fill(deadline)) {
            return std::nullopt;
        }
    }
    Reply reply;
    reply.head = m_buffer.substr(0, end + 4);
    reply.status = std::atoi(reply.head.c_str() + 9);
    size_t lineStart = reply.head.find("\r\n") + 2;
    while (lineStart < end) {
        const size_t lineEnd = reply.head.find("\r\n", lineStart);
        const std::string line = reply.head.substr(lineStart, lineEnd - lineStart);
        const size_t colon = line.find(':');
        if (colon != std::string::npos) {
            std::string name = line.substr(0, colon);
            for (char& c : name) {
                c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            }
            size_t v = colon + 1;
            while (v < line.size() && line[v] == ' ') {
                ++v;
            }
            reply.headers[name] = line.substr(v);
        }
        lineStart = lineEnd + 2;
    }
    m_buffer.erase(0, end + 4);
    const std::string length = reply.header("content-length");
    if (reply.status / 100 == 1) {
        // an interim reply ("100 Continue") has no body
    } else if (!length.empty()) {
        const size_t want = std::strtoul(length.c_str(), nullptr, 10);
        while (m_buffer.size() < want) {
            if (!fill(deadline)) {
                return std::nullopt;
            }
        }
        reply.body = m_buffer.substr(0, want);
        m_buffer.erase(0, want);
    } else {
        while (fill(deadline)) {
        }
        reply.body = std::move(m_buffer);
        m_buffer.clear();
    }
    reply.raw = reply.head + reply.body;
    return reply;
}

bool HttpClient::closedByServer(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (fill(deadline)) {
    }
    return m_eof;
}

std::optional<Reply> roundTrip(int port, const std::string& request) {
    HttpClient client(port);
    if (!client.connected() || !client.send(request)) {
        return std::nullopt;
    }
    return client.read();
}

namespace {

std::string parameter(const std::string& challenge, const std::string& name) {
    const std::string key = name + "=\"";
    const size_t start = challenge.find(key);
    if (start == std::string::npos) {
        return {};
    }
    const size_t from = start + key.size();
    return challenge.substr(from, challenge.find('"', from) - from);
}

std::string md5(const std::string& text) {
    char hex[33];
    mg_md5(hex, text.c_str(), nullptr);
    return hex;
}

}  // namespace

std::string digestAuthorization(const std::string& challenge, const std::string& user,
                                const std::string& password, const std::string& method,
                                const std::string& uri) {
    const std::string realm = parameter(challenge, "realm");
    const std::string nonce = parameter(challenge, "nonce");
    const std::string cnonce = "0a4f113b";
    const std::string nc = "00000001";
    const std::string ha1 = md5(user + ":" + realm + ":" + password);
    const std::string ha2 = md5(method + ":" + uri);
    const std::string response = md5(ha1 + ":" + nonce + ":" + nc + ":" + cnonce + ":auth:" + ha2);
    return "Digest username=\"" + user + "\", realm=\"" + realm + "\", nonce=\"" + nonce +
           "\", uri=\"" + uri + "\", qop=auth, nc=" + nc + ", cnonce=\"" + cnonce +
           "\", response=\"" + response + "\"";
}

std::optional<Reply> roundTripWithDigest(int port, const std::string& method,
                                         const std::string& uri, const std::string& requestTail,
                                         const std::string& user, const std::string& password) {
    const std::string requestLine = method + " " + uri + " HTTP/1.1\r\n";
    const std::optional<Reply> challenge =
        roundTrip(port, requestLine + "Host: 127.0.0.1\r\nContent-Length: 0\r\n\r\n");
    if (!challenge || challenge->status != 401) {
        return challenge;
    }
    const std::string auth =
        digestAuthorization(challenge->header("www-authenticate"), user, password, method, uri);
    return roundTrip(port, requestLine + "Authorization: " + auth + "\r\n" + requestTail);
}

}  // namespace httptest
