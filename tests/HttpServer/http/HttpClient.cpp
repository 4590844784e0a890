#include "HttpClient.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>

namespace httptest {

HttpClient::HttpClient(int port, const char* source) {
    m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_fd >= 0 && source != nullptr) {
        sockaddr_in local{};
        local.sin_family = AF_INET;
        ::inet_pton(AF_INET, source, &local.sin_addr);
        if (::bind(m_fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
            ::close(m_fd);
            m_fd = -1;
        }
    }
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

std::optional<Reply> roundTrip(int port, const std::string& request, const char* source) {
    HttpClient client(port, source);
    if (!client.connected() || !client.send(request)) {
        return std::nullopt;
    }
    return client.read();
}

}  // namespace httptest
