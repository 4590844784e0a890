#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <thread>

#include "Md5.h"
#include "ServerFixture.h"

namespace {

using httptest::HttpClient;
using httptest::isJson;
using httptest::roundTrip;
using httptest::ScriptedHandler;
using testsupport::fileExists;
using testsupport::readFile;

std::string md5(const std::string& text) {
    return http::Md5::hex(text);
}

class HttpApi : public httptest::ServerTest {};

TEST_F(HttpApi, HandlerGetsMethodPathRawQueryAndBodyAndItsJsonIsSentAsIs) {
    ScriptedHandler handler;
    handler.response = R"({"ip":"1"})";
    startServer(handler, false);
    const auto reply = post("/api/video?index=1&x=%41", R"({"bitrate":4096})");
    ASSERT_TRUE(reply);
    EXPECT_TRUE(isJson(reply, 200, R"({"ip":"1"})"));
    ASSERT_TRUE(get("/api"));
    ASSERT_TRUE(get("/apiextra"));
    const auto calls = handler.api();
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[0].method, "POST");
    EXPECT_EQ(calls[0].path, "/video");
    EXPECT_EQ(calls[0].query, "index=1&x=%41");
    EXPECT_EQ(calls[0].body, R"({"bitrate":4096})");
    EXPECT_EQ(calls[1].method, "GET");
    EXPECT_EQ(calls[1].path, "");
    EXPECT_EQ(calls[2].path, "extra") << "the prefix is compared byte for byte";
}

TEST_F(HttpApi, FailuresAnswerTheirStatusWithJson) {
    ScriptedHandler handler;
    handler.result = kApiWrongMethod;
    startServer(handler, false);
    EXPECT_TRUE(isJson(get("/api/video"), 500, "{}"));
    handler.result = kApiFailed;
    handler.response = "unknown api";
    EXPECT_TRUE(isJson(get("/api/nothing"), 500, "unknown api"));
    EXPECT_TRUE(isJson(get("/sys/status"), 404, "{}"));
    EXPECT_EQ(get("/sys/password/x")->status, 404);
    server->setHandler(nullptr);
    EXPECT_TRUE(isJson(get("/api/network"), 404, "{}"));
    EXPECT_EQ(handler.api().size(), 2u);
    EXPECT_TRUE(handler.credentials().empty());
}

TEST_F(HttpApi, KeepAliveServesSeveralRequestsOnOneConnection) {
    ScriptedHandler handler;
    startServer(handler, false);
    HttpClient client(port);
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(client.send("POST /api/x HTTP/1.1\r\nHost: a\r\nContent-Length: 2\r\n\r\n{}"));
        const auto reply = client.read();
        ASSERT_TRUE(reply) << "request " << i;
        EXPECT_EQ(reply->status, 200);
    }
    EXPECT_EQ(handler.api().size(), 3u);
}

TEST_F(HttpApi, BodyLimit) {
    ScriptedHandler handler;
    startServer(handler, false);
    const std::string atLimit(CHttpServer::kMaxBodyBytes, 'a');
    EXPECT_EQ(post("/api/x", atLimit)->status, 200);
    EXPECT_TRUE(isJson(post("/api/x", atLimit + "a"), 413, "{}"));
    // A chunked body has no length up front: it is counted as it arrives.
    std::string chunked = "POST /api/x HTTP/1.1\r\nHost: a\r\nTransfer-Encoding: chunked\r\n\r\n";
    for (int i = 0; i < 17; ++i) {
        chunked += "1000\r\n" + std::string(4096, 'b') + "\r\n";
    }
    chunked += "0\r\n\r\n";
    EXPECT_EQ(roundTrip(port, chunked)->status, 413);
    EXPECT_EQ(post("/sys/password", "user=a&password=" + atLimit)->status, 413);
    ASSERT_EQ(handler.api().size(), 1u);
    EXPECT_EQ(handler.api()[0].body.size(), atLimit.size());
}

TEST_F(HttpApi, ConcurrentRequestsReachTheHandlerOneAtATime) {
    // The first call waits for a second one to arrive beside it; serialised calls never do.
    struct Overlap : ScriptedHandler {
        std::mutex m;
        std::condition_variable cv;
        int inside = 0;
        int most = 0;
        ApiResult handleApi(std::string_view a, std::string_view b, std::string_view c,
                            std::string_view d, std::string& out) override {
            std::unique_lock<std::mutex> lock(m);
            most = std::max(most, ++inside);
            cv.notify_all();
            cv.wait_for(lock, std::chrono::milliseconds(300), [&] { return inside > 1; });
            --inside;
            lock.unlock();
            return ScriptedHandler::handleApi(a, b, c, d, out);
        }
    } handler;
    startServer(handler, false);
    std::vector<std::thread> clients;
    for (int i = 0; i < 4; ++i) {
        clients.emplace_back([this] { EXPECT_EQ(get("/api/x")->status, 200); });
    }
    for (auto& t : clients) {
        t.join();
    }
    EXPECT_EQ(handler.api().size(), 4u);
    EXPECT_EQ(handler.most, 1);
}

class HttpSystem : public httptest::ServerTest {};

TEST_F(HttpSystem, PasswordFormWritesTheOneLineFile) {
    ScriptedHandler handler;
    startServer(handler, true);
    const std::string file = authFile();

    EXPECT_TRUE(
        isJson(authed("POST", "/sys/password", "user=admin&password=s%20cret%21"), 200, "{}"));
    EXPECT_EQ(readFile(file), "admin:HttpServer:" + md5("admin:HttpServer:s cret!"));
    EXPECT_EQ(handler.credentials().back(),
              std::make_pair(std::string("admin"), std::string("s cret!")));
    // The new credentials are in force at once; the field names match in any case.
    DigestSigner changed("admin", "s cret!");
    EXPECT_EQ(authed("POST", "/sys/password", "USER=ops&Password=abcdef", "", &changed)->status,
              200);
    EXPECT_EQ(readFile(file), "ops:HttpServer:" + md5("ops:HttpServer:abcdef"));
    EXPECT_EQ(authed("GET", "/api/x")->status, 401) << "the old password is gone";
}

// Names and passwords that would break the file or the Authorization header (and so lock
// every user out) are refused, and nothing changes.
TEST_F(HttpSystem, UnusableCredentialsAreRefusedAndChangeNothing) {
    ScriptedHandler handler;
    startServer(handler, true);
    const std::string file = authFile();
    const std::string before = readFile(file);
    for (const std::string& body :
         {std::string("password=secret1"), std::string("user=&password=secret1"),
          std::string("user=a%5Cb&password=secret1"), std::string("user=a%3Ab&password=secret1"),
          std::string("user=a%0Ab&password=secret1"), std::string("user=a+b&password=secret1"),
          "user=" + std::string(33, 'u') + "&password=secret1", std::string("user=admin"),
          std::string("user=admin&password="), std::string("user=admin&password=12345"),
          "user=admin&password=" + std::string(65, 'p'),
          std::string("user=admin&password=se%3Acret"),
          std::string("user=admin&password=se%5Ccret"),
          std::string("user=admin&password=se%09cret"),
          std::string("user=admin&password=se%C3%A9cret")}) {
        EXPECT_TRUE(isJson(authed("POST", "/sys/password", body), 400, "{}")) << body;
    }
    EXPECT_EQ(readFile(file), before);
    EXPECT_TRUE(handler.credentials().empty());
    for (const std::string& body : {"user=" + std::string(32, 'u') + "&password=123456",
                                    "user=a-b_c.d@e&password=" + std::string(64, 'p'),
                                    std::string("user=admin&password=%21%22%23+~%7E")}) {
        EXPECT_EQ(post("/sys/password", body)->status, 401) << "needs credentials";
        testsupport::writeFile(file, before);
        EXPECT_EQ(authed("POST", "/sys/password", body)->status, 200) << body;
    }
}

TEST(HttpServerLifecycle, StartArgumentsAndState) {
    testsupport::TempDir dir;
    ScriptedHandler handler;
    CHttpServer server(dir.file("user.htpasswd"));
    server.setListenAddress("127.0.0.1");
    EXPECT_FALSE(server.start(-1, &handler));
    EXPECT_FALSE(server.start(0, nullptr));
    EXPECT_FALSE(server.isRunning());
    EXPECT_EQ(server.boundPort(), 0);
    EXPECT_FALSE(server.setDocumentRoot(""));
    EXPECT_FALSE(server.setUploadDir(""));
    ASSERT_TRUE(server.start(0, &handler));
    EXPECT_TRUE(server.isRunning());
    EXPECT_FALSE(server.start(0, &handler)) << "already running";
    const int port = server.boundPort();
    EXPECT_GT(port, 0);
    server.stop();
    EXPECT_FALSE(server.isRunning());
    EXPECT_FALSE(HttpClient(port).connected());
    ASSERT_TRUE(server.start(0, &handler)) << "a stopped server starts again";
}

TEST(HttpServerLifecycle, DefaultCredentialsWrittenWhenMissing) {
    testsupport::TempDir dir;
    const std::string expected = "admin:HttpServer:" + md5("admin:HttpServer:740163");
    CHttpServer server(dir.file("a.htpasswd"));
    EXPECT_EQ(readFile(dir.file("a.htpasswd")), expected);

    const std::string kept = "ops:HttpServer:" + md5("ops:HttpServer:secret");
    testsupport::writeFile(dir.file("b.htpasswd"), kept);
    server.setAuthFile(dir.file("b.htpasswd"));
    EXPECT_EQ(readFile(dir.file("b.htpasswd")), kept);

    ScriptedHandler handler;
    server.setListenAddress("127.0.0.1");
    ASSERT_TRUE(server.start(0, &handler));
    server.setAuthFile(dir.file("c.htpasswd"));
    EXPECT_EQ(readFile(dir.file("c.htpasswd")), expected);
    ASSERT_EQ(handler.credentials().size(), 1u);
    EXPECT_EQ(handler.credentials()[0],
              std::make_pair(std::string("admin"), std::string("740163")));
    EXPECT_TRUE(server.setAuthFile(""));
}

// Never serving without authentication: no start without a password file; a broken one
// refuses every request while the server runs.
TEST(HttpServerLifecycle, FailsClosedAtStart) {
    testsupport::TempDir dir;
    ScriptedHandler handler;
    {
        CHttpServer server(dir.file("missing/user.htpasswd"));  // cannot be created
        server.setListenAddress("127.0.0.1");
        testing::internal::CaptureStdout();
        EXPECT_FALSE(server.start(0, &handler));
        EXPECT_NE(testing::internal::GetCapturedStdout().find("not serving without authentication"),
                  std::string::npos);
        EXPECT_FALSE(server.isRunning());
    }
    testsupport::writeFile(dir.file("broken.htpasswd"), "admin:HttpServer:");
    CHttpServer server(dir.file("broken.htpasswd"));
    server.setListenAddress("127.0.0.1");
    ASSERT_TRUE(server.start(0, &handler));
    const auto reply =
        roundTrip(server.boundPort(), "GET /api/x HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->status, 401);
    EXPECT_TRUE(handler.api().empty());
}

TEST(HttpServerLifecycle, PortInUseFailsTheStartWithTheMessage) {
    const testsupport::TakenPort busy;
    ASSERT_NE(busy.port(), 0);
    const int port = busy.port();

    testsupport::TempDir dir;
    int out[2];
    ASSERT_EQ(::pipe(out), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::dup2(out[1], STDOUT_FILENO);
        ScriptedHandler handler;
        CHttpServer server(dir.file("user.htpasswd"));
        server.setListenAddress("127.0.0.1");
        ::_exit(server.start(port, &handler) || !server.bindFailed() ? 0 : 1);
    }
    ::close(out[1]);
    std::string text;
    char buf[256];
    ssize_t n;
    while ((n = ::read(out[0], buf, sizeof buf)) > 0) {
        text.append(buf, static_cast<size_t>(n));
    }
    ::close(out[0]);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1);
    EXPECT_EQ(text, "\nweb server can not bind port : " + std::to_string(port) + "\n, exit !!!");
}

}  // namespace
