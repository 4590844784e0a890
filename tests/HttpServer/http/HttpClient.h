#pragma once
// A small HTTP/1.1 client for the server tests: raw requests over a loopback socket, the
// reply kept byte for byte (curl is the digest client).

#include <chrono>
#include <map>
#include <optional>
#include <string>

namespace httptest {

struct Reply {
    int status = 0;
    std::string raw;   ///< every byte of the reply
    std::string head;  ///< status line and headers, up to and including the blank line
    std::string body;
    std::map<std::string, std::string> headers;  ///< names in lower case
    std::string header(const std::string& lowerName) const {
        auto it = headers.find(lowerName);
        return it == headers.end() ? std::string() : it->second;
    }
};

class HttpClient {
public:
    /// Connects to 127.0.0.1:port, from the loopback address source when given (so tests
    /// can be several clients: 127.0.0.2, 127.0.0.3, ...).
    explicit HttpClient(int port, const char* source = nullptr);
    ~HttpClient();
    HttpClient(const HttpClient&) = delete;
    HttpClient& operator=(const HttpClient&) = delete;

    bool connected() const { return m_fd >= 0; }
    int fd() const { return m_fd; }
    bool send(const std::string& bytes);
    /// One reply: the body is Content-Length bytes, or everything up to the close.
    std::optional<Reply> read(std::chrono::milliseconds timeout = std::chrono::seconds(15));
    /// Whether the server closes the connection (nothing more arrives before the end).
    bool closedByServer(std::chrono::milliseconds timeout = std::chrono::seconds(15));

private:
    bool fill(std::chrono::steady_clock::time_point deadline);

    int m_fd = -1;
    std::string m_buffer;
    bool m_eof = false;
};

/// Sends one request on a fresh connection and reads the reply.
std::optional<Reply> roundTrip(int port, const std::string& request, const char* source = nullptr);

}  // namespace httptest
