// sluice-cast, the example client, casting SRT: its usage rules, an encrypted listener read by
// Debian's ffprobe, and --stats listing a connected caller (srt-live-transmit) as an srt row.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <iterator>
#include <sstream>

#include "ChildProcess.h"
#include "KorrinSimProcess.h"
#include "TestSupport.h"

using testsupport::shell;
using testsupport::waitFor;

namespace {

constexpr const char* kPassphrase = "cast-secret-4Jm8w";

std::string cast() {
    return "'" + testsupport::programPath("sluice-cast") + "'";
}

/// Whether the output has a statistics row for an SRT peer on 127.0.0.1 that carries SRT's
/// own figures: the negotiated latency (both sides ask for libsrt's 120 ms) in the next to last
/// column, after the round trip, lost and retransmitted packets.
bool hasSrtRow(const std::string& output) {
    for (const std::string& line : testsupport::splitLines(output)) {
        if (line.rfind("127.0.0.1:", 0) != 0 || line.find(" srt ") == std::string::npos) {
            continue;
        }
        std::istringstream words(line);
        std::vector<std::string> fields{std::istream_iterator<std::string>(words), {}};
        if (fields.size() >= 5 && fields[fields.size() - 2] == "120" &&
            fields[fields.size() - 5] != "-") {
            return true;
        }
    }
    return false;
}

class SluiceCastSrt : public ::testing::Test {
protected:
    void SetUp() override {
        // Two seconds with a key frame a second, played in a loop.
        std::string out;
        ASSERT_EQ(shell("ffmpeg -v error -y -f lavfi -i testsrc2=size=320x240:rate=25 -f lavfi "
                        "-i sine=frequency=440:sample_rate=48000 -t 2 -c:v libx264 -preset "
                        "ultrafast -bf 0 -g 25 -pix_fmt yuv420p -c:a aac -ac 2 -b:a 64k '" +
                            m_dir.file("clip.mp4") + "' 2>&1",
                        &out),
                  0)
            << out;
    }

    testsupport::TempDir m_dir;
};

}  // namespace

TEST(SluiceCastSrtUsage, ListenerOrTargetNeededAndRefusedOptionsNamedWithoutTheirValue) {
    std::string out;
    EXPECT_EQ(shell(cast() + " -p srt x.mp4 2>&1", &out), 1);
    EXPECT_NE(out.find("srt needs --port"), std::string::npos) << out;
    EXPECT_EQ(shell(cast() + " -p srt -l 9000 -o passphrase x.mp4 2>&1", &out), 1);
    EXPECT_NE(out.find("NAME=VALUE"), std::string::npos) << out;
}

TEST_F(SluiceCastSrt, RefusedOptionEndsTheCastNamingTheOptionOnly) {
    std::string out;
    // Nine characters: one short of SRT's shortest passphrase.
    EXPECT_EQ(
        shell(cast() + " -p srt -l 0 -o passphrase=too-short '" + m_dir.file("clip.mp4") + "' 2>&1",
              &out),
        3);
    EXPECT_NE(out.find("option passphrase refused: 22"), std::string::npos) << out;
    EXPECT_EQ(out.find("too-short"), std::string::npos) << out;
}

TEST_F(SluiceCastSrt, EncryptedListenerIsReadByFfprobeAndStatsListTheCaller) {
    testsupport::ChildProcess sender;
    ASSERT_TRUE(sender.start({testsupport::programPath("sluice-cast"), "-q", "--loop", "0",
                              "--stats", "1", "-p", "srt", "-l", "0", "-o",
                              std::string("passphrase=") + kPassphrase, m_dir.file("clip.mp4")}));
    const int port = sender.waitForPort("sluice-cast: listening on port");
    ASSERT_NE(port, 0) << sender.output();

    const std::string url = "srt://127.0.0.1:" + std::to_string(port) + "?mode=caller";
    std::string details;
    EXPECT_EQ(toolstest::probe(url + "&passphrase=" + kPassphrase, &details), "h264 320x240,aac")
        << details;

    testsupport::ChildProcess receiver;
    ASSERT_TRUE(receiver.start(
        {"srt-live-transmit", "-q", url + "&passphrase=" + kPassphrase, "file://con"}));
    ASSERT_TRUE(waitFor([&] { return !receiver.output().empty(); }, std::chrono::seconds(15)));
    EXPECT_TRUE(waitFor([&] { return hasSrtRow(sender.output()); }, std::chrono::seconds(15)))
        << sender.output();
    receiver.stop();

    const int status = sender.stop(SIGINT);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(sender.output().find(kPassphrase), std::string::npos);
}
