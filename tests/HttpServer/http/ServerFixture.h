#pragma once
// A CHttpServer on 127.0.0.1 with a free port, its files in a temporary directory, and a
// handler that records every call.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "CHttpServer.h"
#include "DigestSigner.h"
#include "HttpClient.h"
#include "TestSupport.h"
#include "TlsIdentity.h"

namespace httptest {

class ScriptedHandler : public HttpHandler {
public:
    struct ApiCall {
        std::string method, path, query, body;
    };

    ApiResult result = kApiOk;
    std::string response;  // replaces the preset "{}" when not empty

    ApiResult handleApi(std::string_view method, std::string_view apiPath, std::string_view query,
                        std::string_view body, std::string& out) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_api.push_back(
            {std::string(method), std::string(apiPath), std::string(query), std::string(body)});
        if (!response.empty()) {
            out = response;
        }
        return result;
    }
    void handleUpload(const std::string& name, const std::string& path) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_uploads.emplace_back(name, path);
    }
    void handleRtspInfo(const std::string& user, const std::string& password) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_credentials.emplace_back(user, password);
    }

    std::vector<ApiCall> api() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_api;
    }
    std::vector<std::pair<std::string, std::string>> uploads() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_uploads;
    }
    std::vector<std::pair<std::string, std::string>> credentials() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_credentials;
    }

private:
    mutable std::mutex m_mutex;
    std::vector<ApiCall> m_api;
    std::vector<std::pair<std::string, std::string>> m_uploads;
    std::vector<std::pair<std::string, std::string>> m_credentials;
};

class ServerTest : public ::testing::Test {
protected:
    std::string authFile() const { return m_dir.file("user.htpasswd"); }
    std::string webRoot() const { return m_dir.file("web"); }
    std::string uploadDir() const { return m_dir.file("upload") + "/"; }
    std::string dir() const { return m_dir.path(); }

    /// Starts the server with the handler; withAuth keeps the default password file. Short
    /// nonce or header time-outs let the time-out tests finish quickly.
    void startServer(HttpHandler& handler, bool withAuth,
                     unsigned nonceSeconds = CHttpServer::kNonceTimeoutSeconds,
                     std::chrono::seconds headerTimeout = CHttpServer::kHeaderTimeout) {
        ::mkdir(webRoot().c_str(), 0755);
        ::mkdir(uploadDir().c_str(), 0755);
        server = std::make_unique<CHttpServer>(authFile());
        if (!withAuth) {
            server->setAuthFile("");
        }
        server->setTimeouts(nonceSeconds, headerTimeout);
        server->setDocumentRoot(webRoot());
        server->setUploadDir(uploadDir());
        server->setListenAddress("127.0.0.1");
        if (https) {
            http::TlsIdentity identity;
            std::string error;
            ASSERT_TRUE(identity.loadOrCreate(m_dir.file("key.pem"), m_dir.file("cert.pem"), error))
                << error;
            server->setHttps(0, identity.keyPem, identity.certPem);
        }
        ASSERT_TRUE(server->start(0, &handler));
        port = server->boundPort();
        ASSERT_GT(port, 0);
        httpsPort = server->boundHttpsPort();
    }

    void TearDown() override {
        if (server) {
            server->stop();
        }
    }

    std::optional<Reply> get(const std::string& target, const std::string& headers = "") {
        return roundTrip(port,
                         "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + headers + "\r\n");
    }
    std::optional<Reply> post(const std::string& target, const std::string& body,
                              const std::string& headers = "") {
        return roundTrip(port, "POST " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + headers +
                                   "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" +
                                   body);
    }

    /// A request with digest credentials (the default ones unless given): the first try
    /// fetches a challenge when the signer has none yet, and a stale nonce is renewed.
    std::optional<Reply> authed(const std::string& method, const std::string& target,
                                const std::string& body = "", const std::string& headers = "",
                                DigestSigner* with = nullptr) {
        DigestSigner& s = with != nullptr ? *with : signer;
        std::optional<Reply> reply;
        for (int attempt = 0; attempt < 3; ++attempt) {
            const std::string auth =
                s.nonce().empty() ? "" : "Authorization: " + s.sign(method, target) + "\r\n";
            reply = roundTrip(
                port, method + " " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + auth + headers +
                          "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body);
            if (!reply || reply->status != 401 || !s.challenge(reply->header("www-authenticate")) ||
                (!auth.empty() && !s.stale())) {
                return reply;
            }
        }
        return reply;
    }

    testsupport::TempDir m_dir;
    DigestSigner signer{"admin", "740163"};
    std::unique_ptr<CHttpServer> server;
    bool https = false;  // set before startServer: HTTPS beside HTTP, on httpsPort
    int port = 0;
    int httpsPort = 0;
};

/// A reply with this status, Content-Length and body (the reason phrase, the order of the
/// headers and the Date header are the web server library's).
inline ::testing::AssertionResult isReply(const std::optional<Reply>& reply, int status,
                                          const std::string& body) {
    if (!reply) {
        return ::testing::AssertionFailure() << "no reply";
    }
    if (reply->raw.rfind("HTTP/1.1 " + std::to_string(status) + " ", 0) != 0 ||
        reply->header("content-length") != std::to_string(body.size()) || reply->body != body) {
        return ::testing::AssertionFailure() << reply->raw;
    }
    return ::testing::AssertionSuccess();
}

/// The JSON reply of "/api" and "/sys/": the status, the headers the device has always sent
/// (no-cache, JSON content type, any origin, the length) and the body.
inline ::testing::AssertionResult isJson(const std::optional<Reply>& reply, int status,
                                         const std::string& body) {
    ::testing::AssertionResult plain = isReply(reply, status, body);
    if (!plain) {
        return plain;
    }
    if (reply->header("cache-control") != "no-cache" ||
        reply->header("content-type") != "application/json" ||
        reply->header("access-control-allow-origin") != "*") {
        return ::testing::AssertionFailure() << reply->raw;
    }
    return ::testing::AssertionSuccess();
}

}  // namespace httptest
