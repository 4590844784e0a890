#pragma once

#include <gnutls/gnutls.h>
#include <http_parser.h>
#include <netinet/in.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "DigestSigner.h"

/// A closed-loop HTTP load: N keep-alive connections, each sending its next request as soon
/// as the previous answer is complete, for a fixed time, from one epoll thread. Answers 401
/// with a digest challenge are answered once per connection and not counted; every other
/// answer is a sample (200) or an error (anything else, a broken connection, a time-out).
/// With TLS every connection makes its handshake once (not counted) and then keeps it; the
/// server's certificate is not checked (the load measures the server, not the trust).
class LoadRunner {
public:
    struct Request {
        std::string method = "GET";
        std::string target = "/";  // path and query
        std::string body;
        std::string contentType = "application/json";
    };
    struct Result {
        long ok = 0;
        int answered = 0;  // connections that got at least one ok answer
        long challenges = 0;
        std::map<std::string, long> errors;
        double seconds = 0;
        std::vector<uint32_t> latencyUs;  // one per answer counted as ok
    };

    LoadRunner(sockaddr_in server, std::string host, Request request, std::string user,
               std::string password, bool tls = false);
    ~LoadRunner();
    LoadRunner(const LoadRunner&) = delete;
    LoadRunner& operator=(const LoadRunner&) = delete;

    Result run(int connections, double seconds, int timeoutMs);

private:
    struct Connection;

    void start(Connection& c);
    void handshake(Connection& c);
    ssize_t sendSome(Connection& c, const char* data, size_t size);
    ssize_t recvSome(Connection& c, char* data, size_t size);
    void sendNext(Connection& c);
    void flush(Connection& c);
    void onReadable(Connection& c);
    void onAnswer(Connection& c);
    void fail(Connection& c, const std::string& kind);
    void closeSocket(Connection& c);
    void watch(Connection& c, unsigned events);

    static int onHeaderField(http_parser* parser, const char* at, size_t length);
    static int onHeaderValue(http_parser* parser, const char* at, size_t length);
    static int onMessageComplete(http_parser* parser);

    sockaddr_in m_server;
    std::string m_host;
    Request m_request;
    std::string m_user;
    std::string m_password;
    bool m_tls = false;
    gnutls_certificate_credentials_t m_credentials = nullptr;
    int m_epoll = -1;
    bool m_stopping = false;
    std::vector<std::unique_ptr<Connection>> m_connections;
    Result m_result;
};
