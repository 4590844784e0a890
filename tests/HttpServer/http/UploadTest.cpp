#include <sys/stat.h>

#include <algorithm>
#include <filesystem>

#include "ServerFixture.h"

using namespace std::string_literals;

namespace {

using httptest::HttpClient;
using httptest::roundTrip;
using httptest::ScriptedHandler;
using testsupport::readFile;

const std::string kBoundary = "----formBoundary7MA4YWxk";

std::string part(const std::string& disposition, const std::string& content) {
    return "--" + kBoundary + "\r\nContent-Disposition: form-data; " + disposition +
           "\r\nContent-Type: application/octet-stream\r\n\r\n" + content + "\r\n";
}

std::string closing() {
    return "--" + kBoundary + "--\r\n";
}

std::string uploadHead(long long contentLength) {
    return "POST /upload HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: multipart/form-data; "
           "boundary=" +
           kBoundary + "\r\nContent-Length: " + std::to_string(contentLength) + "\r\n\r\n";
}

std::string uploadRequest(const std::string& body) {
    return uploadHead(body.size()) + body;
}

std::vector<std::string> filesIn(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

using httptest::isReply;

// Refusals carry no body; the reason phrase is the standard one.
::testing::AssertionResult isBadRequest(const std::optional<httptest::Reply>& reply) {
    return isReply(reply, 400, "");
}
::testing::AssertionResult isTooLarge(const std::optional<httptest::Reply>& reply) {
    return isReply(reply, 413, "");
}

class Upload : public httptest::ServerTest {};

TEST_F(Upload, StoredInTheSandboxUploadDirectoryAndReported) {
    testsupport::SandboxBoard board;
    ScriptedHandler handler;
    startServer(handler, false);
    server->setUploadDir(board.path("/var/"));
    const std::string content = "\x89PNG\r\n\x1a\n\0\r\n--x"s;
    HttpClient client(port);
    ASSERT_TRUE(client.send(
        uploadRequest(part(R"(name="logo"; filename="logo.png")", content) + closing())));
    const auto reply = client.read();
    ASSERT_TRUE(reply);
    const std::string path = board.root() + "/var//logo.png";
    EXPECT_TRUE(isReply(
        reply, 200,
        "Written " + std::to_string(content.size()) + " of POST data to file:" + path + "\n\n"));
    EXPECT_EQ(reply->header("content-type"), "text/plain");
    EXPECT_EQ(reply->header("connection"), "close");
    EXPECT_TRUE(client.closedByServer());
    EXPECT_EQ(readFile(path), content);
    EXPECT_EQ(handler.uploads(),
              (std::vector<std::pair<std::string, std::string>>{{"logo", path}}));
}

TEST_F(Upload, FormFieldsAreSkippedAndEveryFileIsStored) {
    ScriptedHandler handler;
    startServer(handler, false);
    const auto reply =
        roundTrip(port, uploadRequest(part(R"(name="note")", "just text") +
                                      part(R"(name="a"; filename="one.bin")", "1") +
                                      part(R"(name="b"; filename="two.bin")", "22") +
                                      part(R"(name="c"; filename="empty")", "") + closing()));
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->body, "Written 1 of POST data to file:" + uploadDir() + "/one.bin\n\n");
    EXPECT_EQ(filesIn(uploadDir()), (std::vector<std::string>{"empty", "one.bin", "two.bin"}));
    EXPECT_EQ(readFile(uploadDir() + "/two.bin"), "22");
    EXPECT_EQ(readFile(uploadDir() + "/empty"), "");
    ASSERT_EQ(handler.uploads().size(), 3u);
    EXPECT_EQ(handler.uploads()[1].first, "b");
}

// The name reduction itself is checked on UploadReceiver::storedName; here, that the server
// stores under the reduced name and refuses what reduces to nothing.
TEST_F(Upload, NameIsReducedToItsLastComponentOrRefused) {
    ScriptedHandler handler;
    startServer(handler, false);
    const auto send = [&](const std::string& name) {
        return roundTrip(
            port, uploadRequest(part("name=\"f\"; filename=\"" + name + "\"", "x") + closing()));
    };
    for (const char* name : {"", "..", "dir/..", "forged\nline.jpg"}) {
        EXPECT_TRUE(isBadRequest(send(name))) << name;
    }
    EXPECT_TRUE(handler.uploads().empty());
    for (const char* name : {"../../escape.txt", "..\\..\\escape.txt", "/etc/escape.txt"}) {
        EXPECT_EQ(send(name)->status, 200) << name;
    }
    EXPECT_EQ(filesIn(uploadDir()), std::vector<std::string>{"escape.txt"});
    EXPECT_FALSE(testsupport::fileExists(dir() + "/escape.txt"));
}

TEST_F(Upload, RequestsThatAreNotAMultipartUploadAreRefused) {
    ScriptedHandler handler;
    startServer(handler, false);
    EXPECT_TRUE(isBadRequest(
        post("/upload", "a=b", "Content-Type: application/x-www-form-urlencoded\r\n")));
    EXPECT_TRUE(isBadRequest(get("/upload")));
    EXPECT_TRUE(isBadRequest(post("/upload", "x", "Content-Type: multipart/form-data\r\n")));
    // Well-formed type, broken body: no closing delimiter, or no file part at all.
    EXPECT_TRUE(isBadRequest(
        roundTrip(port, uploadRequest(part(R"(name="f"; filename="cut.bin")", "data")))));
    EXPECT_TRUE(
        isBadRequest(roundTrip(port, uploadRequest(part(R"(name="note")", "text") + closing()))));
    EXPECT_TRUE(filesIn(uploadDir()).empty());
    EXPECT_TRUE(handler.uploads().empty());
}

TEST_F(Upload, UnwritableDirectoryAnswersTheOpenFailure) {
    ScriptedHandler handler;
    startServer(handler, false);
    server->setUploadDir(dir() + "/missing");
    // The library sends the standard reason phrase; what failed is said in the body.
    EXPECT_TRUE(
        isReply(roundTrip(port, uploadRequest(part(R"(name="f"; filename="a")", "x") + closing())),
                500, "Failed to open a file"));
    EXPECT_TRUE(handler.uploads().empty());
}

TEST_F(Upload, ClientThatAsksFirstIsToldToContinue) {
    ScriptedHandler handler;
    startServer(handler, false);
    const std::string body = part(R"(name="f"; filename="asked.bin")", "abc") + closing();
    std::string head = uploadHead(body.size());
    head.insert(head.size() - 2, "Expect: 100-continue\r\n");
    HttpClient client(port);
    ASSERT_TRUE(client.send(head));
    const auto goAhead = client.read();
    ASSERT_TRUE(goAhead);
    EXPECT_EQ(goAhead->raw, "HTTP/1.1 100 Continue\r\n\r\n");
    ASSERT_TRUE(client.send(body));
    const auto reply = client.read();
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->status, 200);
    EXPECT_EQ(readFile(uploadDir() + "/asked.bin"), "abc");
}

TEST_F(Upload, DeclaredBodyTooLargeIsRefusedBeforeReading) {
    ScriptedHandler handler;
    startServer(handler, false);
    HttpClient client(port);
    ASSERT_TRUE(client.send(
        uploadHead(CHttpServer::kMaxUploadBytes + CHttpServer::kUploadFramingBytes + 1)));
    const auto reply = client.read();
    ASSERT_TRUE(reply);
    EXPECT_TRUE(isTooLarge(reply));
}

// Streams one file part of `size` bytes named big.bin and returns the reply.
std::optional<httptest::Reply> uploadOfSize(int port, long long size) {
    const std::string head = part(R"(name="fw"; filename="big.bin")", "");
    const std::string prefix = head.substr(0, head.size() - 2);  // without the part's CRLF
    const std::string suffix = "\r\n" + closing();
    HttpClient client(port);
    if (!client.send(uploadHead(static_cast<long long>(prefix.size()) + size +
                                static_cast<long long>(suffix.size())) +
                     prefix)) {
        return std::nullopt;
    }
    const std::string chunk(1 << 20, 'f');
    for (long long left = size; left > 0;) {
        const long long n = std::min<long long>(left, static_cast<long long>(chunk.size()));
        if (!client.send(chunk.substr(0, static_cast<size_t>(n)))) {
            break;  // the server may stop reading once it has refused
        }
        left -= n;
    }
    client.send(suffix);
    return client.read();
}

TEST_F(Upload, FileSizeLimit) {
    ScriptedHandler handler;
    startServer(handler, false);
    testsupport::writeFile(uploadDir() + "/big.bin", "old");
    const auto refused = uploadOfSize(port, CHttpServer::kMaxUploadBytes + 1);
    ASSERT_TRUE(refused);
    EXPECT_TRUE(isTooLarge(refused));
    EXPECT_EQ(filesIn(uploadDir()), std::vector<std::string>{"big.bin"}) << "no partial file";
    EXPECT_EQ(readFile(uploadDir() + "/big.bin"), "old") << "the earlier file is kept";
    EXPECT_TRUE(handler.uploads().empty());

    const auto stored = uploadOfSize(port, CHttpServer::kMaxUploadBytes);
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->status, 200);
    struct stat st {};
    ASSERT_EQ(::stat((uploadDir() + "/big.bin").c_str(), &st), 0);
    EXPECT_EQ(st.st_size, CHttpServer::kMaxUploadBytes);
}

TEST_F(Upload, CurlUploadWithDigestCredentials) {
    ScriptedHandler handler;
    startServer(handler, true);
    const std::string source = dir() + "/picture.jpg";
    testsupport::writeFile(source, std::string(3000000, 'j'));
    const std::string url = "http://127.0.0.1:" + std::to_string(port) + "/upload";
    const testsupport::HttpAnswer written =
        testsupport::curl(url, "--digest -u admin:740163 -F 'add=@" + source + "'");
    EXPECT_EQ(written.status, 200);
    EXPECT_EQ(written.body,
              "Written 3000000 of POST data to file:" + uploadDir() + "/picture.jpg\n\n");
    EXPECT_EQ(readFile(uploadDir() + "/picture.jpg"), std::string(3000000, 'j'));

    EXPECT_EQ(testsupport::curl(url, "-o /dev/null -F 'add=@" + source + "'").status, 401);
    EXPECT_EQ(handler.uploads().size(), 1u);
}

}  // namespace
