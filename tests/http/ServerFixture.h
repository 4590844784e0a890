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
#include "HttpClient.h"
#include "TestSupport.h"

namespace httptest {

class ScriptedHandler : public HttpHandler {
public:
    struct ApiCall {
        std::string method, path, query, body;
    };

    int result = 0;
    std::string response;  // replaces the preset "{}" when not empty

    int handleApi(std::string_view method, std::string_view apiPath, std::string_view query,
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

    /// Starts the server with the handler; withAuth keeps the default password file.
    void startServer(HttpHandler& handler, bool withAuth) {
        ::mkdir(webRoot().c_str(), 0755);
        ::mkdir(uploadDir().c_str(), 0755);
        server = std::make_unique<CHttpServer>(authFile());
        if (!withAuth) {
            server->setAuthFile("");
        }
        server->setDocumentRoot(webRoot());
        server->setUploadDir(uploadDir());
        server->setListenAddress("127.0.0.1");
        ASSERT_TRUE(server->start(0, &handler));
        port = server->boundPort();
        ASSERT_GT(port, 0);
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

    testsupport::TempDir m_dir;
    std::unique_ptr<CHttpServer> server;
    int port = 0;
};

/// The JSON reply exactly as the server must send it.
inline std::string jsonReply(const std::string& statusAndReason, const std::string& body) {
    return "HTTP/1.1 " + statusAndReason +
           "\r\nCache-Control: no-cache\r\nContent-Type: application/json\r\n"
           "Access-Control-Allow-Origin: *\r\nContent-Length: " +
           std::to_string(body.size()) + "\r\n\r\n" + body;
}

}  // namespace httptest
