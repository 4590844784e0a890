// sluice-cast serving raw TCP and chunked HTTP to real clients: ffprobe identifies the stream,
// curl receives a well-formed chunked body (and pipes into ffprobe as a user would).
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <map>
#include <thread>

#include "MediaClip.h"
#include "TestSupport.h"

using testsupport::shell;
using testsupport::waitFor;

namespace {

bool listening(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return ok;
}

/// A command line run on its own thread; stop() ends it with SIGTERM (by the process id it
/// wrote) and gives its exit status.
class Background {
public:
    Background(const std::string& commandLine, const std::string& pidFile) : m_pidFile(pidFile) {
        m_thread = std::thread([this, commandLine] {
            m_status = shell("echo $$ > '" + m_pidFile + "'; exec " + commandLine, &m_output);
            m_done = true;
        });
    }
    ~Background() { stop(); }
    int stop() {
        if (m_thread.joinable()) {
            waitFor([&] { return !testsupport::readFile(m_pidFile).empty() || m_done; });
            const std::string pid = testsupport::readFile(m_pidFile);
            if (!m_done && !pid.empty()) {
                ::kill(std::stoi(pid), SIGTERM);
            }
            m_thread.join();
        }
        return m_status;
    }
    bool done() const { return m_done; }
    const std::string& output() const { return m_output; }

private:
    std::string m_pidFile;
    std::string m_output;
    std::atomic<int> m_status{-1};
    std::atomic<bool> m_done{false};
    std::thread m_thread;
};

/// ffprobe's "stream|..." lines (also those listed under "program|") as field maps, by index.
std::map<int, std::map<std::string, std::string>> streams(const std::string& output) {
    std::map<int, std::map<std::string, std::string>> found;
    for (const std::string& line : testsupport::splitLines(output)) {
        const size_t start = line.find("stream|");
        if (start == std::string::npos) {
            continue;
        }
        std::map<std::string, std::string> fields;
        std::istringstream in(line.substr(start + 7));
        std::string item;
        while (std::getline(in, item, '|')) {
            const size_t eq = item.find('=');
            if (eq != std::string::npos) {
                fields[item.substr(0, eq)] = item.substr(eq + 1);
            }
        }
        if (fields.count("index") != 0) {
            found[std::stoi(fields["index"])] = fields;
        }
    }
    return found;
}

void expectTheClipsStreams(const std::string& output) {
    const auto found = streams(output);
    ASSERT_EQ(found.size(), 2u) << output;
    EXPECT_EQ(found.at(0).at("codec_name"), "h264") << output;
    EXPECT_EQ(found.at(0).at("width"), "320");
    EXPECT_EQ(found.at(0).at("height"), "240");
    EXPECT_EQ(found.at(1).at("codec_name"), "aac") << output;
}

// Two seconds of stream hold a key frame (one a second) with its parameter sets.
const char* kStreamEntries =
    " -analyzeduration 2000000 -show_entries stream=index,codec_name,width,height -of compact "
    "2>/dev/null";

class StreamTool : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(sluicetest::makeClip(m_dir.path(), 2, 320, 240, error)) << error;
    }

    /// sluice-cast serving the clip in a loop on a free port; waits until it listens.
    std::unique_ptr<Background> serve(const std::string& protocol) {
        for (int attempt = 0; attempt < 5; ++attempt) {
            m_port = testsupport::freeTcpPort();
            auto cast = std::make_unique<Background>(
                "'" + testsupport::programPath("sluice-cast") + "' -q --loop 0 -p " + protocol +
                    " -l " + std::to_string(m_port) + " '" + m_dir.file("clip.mp4") + "' 2>&1",
                m_dir.file("cast.pid"));
            if (waitFor([&] { return listening(m_port) || cast->done(); }) && !cast->done()) {
                return cast;
            }
        }
        ADD_FAILURE() << "sluice-cast did not start";
        return nullptr;
    }
    std::string url(const std::string& scheme) const {
        return scheme + "://127.0.0.1:" + std::to_string(m_port) + "/";
    }

    testsupport::TempDir m_dir;
    int m_port = 0;
};

}  // namespace

TEST_F(StreamTool, FfprobeIdentifiesTheHttpStream) {
    auto cast = serve("http");
    ASSERT_NE(cast, nullptr);
    std::string out;
    EXPECT_EQ(shell("timeout 60 ffprobe -v error '" + url("http") + "'" + kStreamEntries, &out), 0);
    expectTheClipsStreams(out);
    EXPECT_EQ(cast->stop(), 0) << cast->output();
}

TEST_F(StreamTool, FfprobeIdentifiesTheRawTcpStream) {
    auto cast = serve("tcp");
    ASSERT_NE(cast, nullptr);
    std::string out;
    EXPECT_EQ(shell("timeout 60 ffprobe -v error '" + url("tcp") + "'" + kStreamEntries, &out), 0);
    expectTheClipsStreams(out);
    EXPECT_EQ(cast->stop(), 0) << cast->output();
}

// The body never ends by itself (no terminating chunk): curl gets whole chunks until the
// caster goes, and then reports the transfer as cut short (18).
TEST_F(StreamTool, CurlReceivesAWellFormedChunkedBody) {
    auto cast = serve("http");
    ASSERT_NE(cast, nullptr);
    const std::string raw = m_dir.file("raw"), headers = m_dir.file("headers");
    Background curl("curl -s --raw -D '" + headers + "' -o '" + raw + "' '" + url("http") + "'",
                    m_dir.file("curl.pid"));
    Background piped(
        "sh -c \"curl -s '" + url("http") + "' | ffprobe -v error -" + kStreamEntries + "\"",
        m_dir.file("piped.pid"));
    ASSERT_TRUE(waitFor([&] { return testsupport::readFile(raw).size() > 200000; },
                        std::chrono::seconds(30)));
    ASSERT_TRUE(waitFor([&] { return piped.done(); }, std::chrono::seconds(30)));
    EXPECT_EQ(cast->stop(), 0) << cast->output();
    EXPECT_EQ(curl.stop(), 18);
    expectTheClipsStreams(piped.output());

    EXPECT_EQ(testsupport::readFile(headers),
              "HTTP/1.1 200 OK\r\nCache-Control: no-cache\r\nContent-Type: video/MP2T\r\n"
              "Transfer-Encoding: chunked\r\n\r\n");
    // Chunk after chunk: a hexadecimal size line, that many bytes of whole TS packets, CR LF.
    const std::string body = testsupport::readFile(raw);
    std::string ts;
    size_t at = 0;
    int chunks = 0;
    while (at < body.size()) {
        const size_t eol = body.find("\r\n", at);
        ASSERT_NE(eol, std::string::npos) << "at " << at;
        const std::string sizeLine = body.substr(at, eol - at);
        ASSERT_EQ(sizeLine.find_first_not_of("0123456789ABCDEF"), std::string::npos) << sizeLine;
        const size_t size = std::stoul(sizeLine, nullptr, 16);
        ASSERT_GT(size, 0u) << "no terminating chunk is ever sent";
        ASSERT_LE(size, 1316u);
        ASSERT_EQ(size % 188, 0u);
        ASSERT_LE(eol + 2 + size + 2, body.size()) << "the body ends at a chunk boundary";
        ASSERT_EQ(static_cast<uint8_t>(body[eol + 2]), 0x47);
        ASSERT_EQ(body.compare(eol + 2 + size, 2, "\r\n"), 0);
        ts.append(body, eol + 2, size);
        at = eol + 2 + size + 2;
        ++chunks;
    }
    EXPECT_GT(chunks, 100);
    sluicetest::TsProbe probe;
    std::string error;
    ASSERT_TRUE(sluicetest::probeTs(ts, probe, error)) << error;
    ASSERT_EQ(probe.streams.size(), 2u);
    EXPECT_EQ(probe.streams[0].width, 320);
    EXPECT_EQ(probe.streams[0].height, 240);
}
