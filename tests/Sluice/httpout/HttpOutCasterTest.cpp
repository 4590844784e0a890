// The HLS and HTTP-FLV outputs with players we did not write (ffprobe, ffmpeg, ts-check) and
// with raw clients on loopback: the playlist's window and headers, FLV's start, outputs
// sharing a port by path, refusals, and many clients with one stalled.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "Background.h"
#include "Feeder.h"
#include "FlvTsMediaCaster.h"
#include "HlsTsMediaCaster.h"
#include "MediaClip.h"
#include "TcpClient.h"
#include "TestSupport.h"
#include "sluice.h"

using av::FlvTsMediaCaster;
using av::HlsTsMediaCaster;
using sluicetest::Feeder;
using testsupport::waitFor;

namespace {

struct Got {
    int status = 0;
    std::string head;
    std::string body;
    bool has(const std::string& line) const { return head.find(line) != std::string::npos; }
};

/// One GET on a fresh connection, read to the end of its Content-Length body.
Got httpGet(uint16_t port, const std::string& path) {
    Got got;
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const timeval timeout{5, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return got;
    }
    const std::string request = "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
    if (send(fd, request.data(), request.size(), MSG_NOSIGNAL) < 0) {
        ::close(fd);
        return got;
    }
    std::string data;
    char buffer[65536];
    size_t want = std::string::npos;
    while (want == std::string::npos || data.size() < want) {
        const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) {
            break;
        }
        data.append(buffer, static_cast<size_t>(n));
        const size_t end = data.find("\r\n\r\n");
        if (want == std::string::npos && end != std::string::npos) {
            got.head = data.substr(0, end + 2);
            const size_t length = got.head.find("Content-Length: ");
            want = end + 4 +
                   (length == std::string::npos ? 0 : std::stoul(got.head.substr(length + 16)));
        }
    }
    ::close(fd);
    if (data.size() >= 12 && data.compare(0, 9, "HTTP/1.1 ") == 0) {
        got.status = std::stoi(data.substr(9, 3));
        got.body = data.substr(std::min(data.size(), got.head.size() + 2));
    }
    return got;
}

/// The value after "#EXT-X-MEDIA-SEQUENCE:" (-1 when absent).
long mediaSequence(const std::string& playlist) {
    const size_t at = playlist.find("#EXT-X-MEDIA-SEQUENCE:");
    return at == std::string::npos ? -1 : std::stol(playlist.substr(at + 22));
}

/// The segment names of a playlist, in order.
std::vector<std::string> segmentsOf(const std::string& playlist) {
    std::vector<std::string> names;
    size_t start = 0;
    while (start < playlist.size()) {
        const size_t end = playlist.find('\n', start);
        const std::string line = playlist.substr(start, end - start);
        if (!line.empty() && line[0] != '#') {
            names.push_back(line);
        }
        start = end == std::string::npos ? playlist.size() : end + 1;
    }
    return names;
}

/// The video tags of an FLV response: (timestamp ms, key frame), in order.
std::vector<std::pair<uint32_t, bool>> flvVideoTags(const std::string& response) {
    std::vector<std::pair<uint32_t, bool>> tags;
    size_t at = response.find("FLV\x01");
    if (at == std::string::npos) {
        return tags;
    }
    const auto byte = [&](size_t i) { return static_cast<uint8_t>(response[i]); };
    for (at += 13; at + 11 <= response.size();) {
        const size_t size = (byte(at + 1) << 16) | (byte(at + 2) << 8) | byte(at + 3);
        const uint32_t ms =
            (byte(at + 7) << 24) | (byte(at + 4) << 16) | (byte(at + 5) << 8) | byte(at + 6);
        if (at + 11 + size + 4 > response.size()) {
            break;
        }
        if (byte(at) == 9 && size > 1 && byte(at + 12) == 1) {  // a picture, not a header
            tags.emplace_back(ms, (byte(at + 11) >> 4) == 1);
        }
        at += 11 + size + 4;
    }
    return tags;
}

struct Clip {
    std::vector<sluicetest::TestFrame> frames;
    sluicetest::ClipInfo info;
};

const Clip& clip() {
    static testsupport::TempDir dir;
    static Clip c;
    if (c.frames.empty()) {
        std::string error;
        EXPECT_TRUE(sluicetest::makeClip(dir.path(), 2, 320, 240, error)) << error;
        EXPECT_TRUE(sluicetest::readFrames(dir.file("clip.mp4"), c.frames, c.info, error)) << error;
    }
    return c;
}

std::string ffprobeStreams(const std::string& url) {
    std::string out;
    testsupport::shell(
        "timeout 30 ffprobe -v error -show_entries stream=codec_name,width -of compact '" + url +
            "' 2>&1",
        &out);
    return out;
}

}  // namespace

// ffprobe and ffmpeg read the playlist; the copy is a clean transport stream; the window
// slides one segment at a time with no gap; headers and unknown paths as promised.
TEST(HttpOutput, HlsPlaysAndItsWindowSlides) {
    const Clip& c = clip();
    HlsTsMediaCaster caster;
    ASSERT_EQ(caster.open("", 0, sluicetest::clipConfig(c.info)), 0);
    ASSERT_EQ(caster.setOption("path", "sub"), 0);
    ASSERT_EQ(caster.setOption("segment_ms", "1000"), 0);
    EXPECT_EQ(caster.setOption("window", "1"), EINVAL);
    EXPECT_EQ(caster.setOption("path", "../x"), EINVAL);
    const uint16_t port = caster.localPort();
    ASSERT_NE(port, 0);
    EXPECT_EQ(httpGet(port, "/sub.m3u8").status, 404);  // nothing made yet
    Feeder feeder(caster, c.frames);
    ASSERT_TRUE(waitFor([&] { return httpGet(port, "/sub.m3u8").status == 200; },
                        std::chrono::seconds(10)));

    const Got playlist = httpGet(port, "/sub.m3u8");
    EXPECT_TRUE(playlist.has("Cache-Control: no-cache")) << playlist.head;
    EXPECT_TRUE(playlist.has("Access-Control-Allow-Origin: *")) << playlist.head;
    EXPECT_TRUE(playlist.has("Content-Type: application/vnd.apple.mpegurl")) << playlist.head;
    EXPECT_NE(playlist.body.find("#EXT-X-PROGRAM-DATE-TIME:"), std::string::npos);
    const std::vector<std::string> names = segmentsOf(playlist.body);
    ASSERT_FALSE(names.empty());
    const Got segment = httpGet(port, "/" + names.front());
    EXPECT_EQ(segment.status, 200);
    EXPECT_TRUE(segment.has("Cache-Control: max-age=")) << segment.head;
    EXPECT_TRUE(segment.has("Access-Control-Allow-Origin: *"));
    ASSERT_GT(segment.body.size(), 188u);
    EXPECT_EQ(segment.body[0], 0x47);  // starts with a TS packet
    for (const char* path : {"/other.m3u8", "/sub-x.ts", "/sub-999999.ts", "/", "/sub.flv"}) {
        EXPECT_EQ(httpGet(port, path).status, 404) << path;
    }

    testsupport::TempDir dir;
    const std::string url = "http://127.0.0.1:" + std::to_string(port) + "/sub.m3u8";
    const std::string probe = ffprobeStreams(url);
    EXPECT_NE(probe.find("codec_name=h264|width=320"), std::string::npos) << probe;
    EXPECT_NE(probe.find("codec_name=aac"), std::string::npos) << probe;
    sluicetest::Background copy("timeout 40 ffmpeg -v error -i '" + url +
                                "' -t 10 -c copy -f mpegts - | '" +
                                testsupport::programPath("ts-check") + "' - 2>&1");
    // Meanwhile the media sequence rises one by one and the listed segments follow it.
    long last = mediaSequence(playlist.body);
    int rises = 0;
    while (!copy.done()) {
        const Got now = httpGet(port, "/sub.m3u8");
        const long sequence = mediaSequence(now.body);
        ASSERT_TRUE(sequence == last || sequence == last + 1) << last << " -> " << sequence;
        rises += sequence == last + 1 ? 1 : 0;
        last = sequence;
        const std::vector<std::string> listed = segmentsOf(now.body);
        EXPECT_LE(listed.size(), 6u);
        for (size_t i = 0; i < listed.size(); ++i) {
            EXPECT_EQ(listed[i], "sub-" + std::to_string(sequence + static_cast<long>(i)) + ".ts");
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
    }
    EXPECT_EQ(copy.finish(), 0) << copy.output();
    EXPECT_GE(rises, 5);
    EXPECT_EQ(httpGet(port, "/" + names.front()).status, 404);  // left the window

    const std::vector<av::DestinationStats> rows = caster.destinationStats();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].protocol, SLUICE_PROTOCOL_HLS);
    EXPECT_GT(rows[0].requests, 10u);
    EXPECT_EQ(rows[0].clientsSeen, 1u);
    EXPECT_GT(rows[0].segmentBytes, 0u);
    EXPECT_GT(rows[0].playlistBytes, 0u);
}

// FLV plays in ffprobe (H.264 and AAC) from the same port as HLS; paths are unique per port;
// a taken port and an H.265 stream are refused clearly.
TEST(HttpOutput, FlvSharesThePortAndRefusesWhatItCannotServe) {
    const Clip& c = clip();
    HlsTsMediaCaster hls;
    ASSERT_EQ(hls.open("", 0, sluicetest::clipConfig(c.info)), 0);
    ASSERT_EQ(hls.setOption("path", "sub"), 0);
    const uint16_t port = hls.localPort();
    FlvTsMediaCaster flv;
    ASSERT_EQ(flv.open("", port, sluicetest::clipConfig(c.info)), 0);
    EXPECT_EQ(flv.localPort(), port);
    ASSERT_EQ(flv.setOption("path", "/sub.flv"), 0);
    HlsTsMediaCaster second;
    ASSERT_EQ(second.open("", port, sluicetest::clipConfig(c.info)), 0);
    EXPECT_EQ(second.setOption("path", "sub"), EEXIST);
    EXPECT_EQ(second.setOption("path", "main"), 0);

    Feeder feeder(flv, c.frames);
    const std::string probe =
        ffprobeStreams("http://127.0.0.1:" + std::to_string(port) + "/sub.flv");
    EXPECT_NE(probe.find("codec_name=h264|width=320"), std::string::npos) << probe;
    EXPECT_NE(probe.find("codec_name=aac"), std::string::npos) << probe;

    testsupport::TakenPort taken;
    HlsTsMediaCaster refused;
    EXPECT_EQ(refused.open("", static_cast<uint16_t>(taken.port()), sluicetest::clipConfig(c.info)),
              ENOENT);

    av::MediaCasterConfig h265 = sluicetest::clipConfig(c.info);
    h265.videoCodec = SLUICE_CODEC_H265;
    FlvTsMediaCaster hevc;
    ASSERT_EQ(hevc.open("", 0, h265), 0);
    const av::OutputStatus status = hevc.outputStatus();
    EXPECT_EQ(status.state, SLUICE_STATE_FAILED);
    EXPECT_EQ(status.stateText, "HTTP-FLV needs H.264");
    EXPECT_EQ(httpGet(hevc.localPort(), "/live.flv").status, 404);
}

// 32 FLV clients and 32 HLS pollers at once, with one FLV client that never reads: everyone
// else keeps getting the stream, and what the stalled one holds stays within the jam limit.
TEST(HttpOutput, ManyClientsWithOneStalled) {
    const Clip& c = clip();
    HlsTsMediaCaster hls;
    ASSERT_EQ(hls.open("", 0, sluicetest::clipConfig(c.info)), 0);
    ASSERT_EQ(hls.setOption("segment_ms", "1000"), 0);
    const uint16_t port = hls.localPort();
    FlvTsMediaCaster flv;
    ASSERT_EQ(flv.open("", port, sluicetest::clipConfig(c.info)), 0);
    ASSERT_EQ(flv.setOption("maxperaddress", "128"), 0);
    Feeder hlsFeeder(hls, c.frames);
    Feeder flvFeeder(flv, c.frames);
    ASSERT_TRUE(waitFor([&] { return httpGet(port, "/live.m3u8").status == 200; },
                        std::chrono::seconds(10)));

    sluicetest::TcpClient stalled(port, 4096, false);
    ASSERT_TRUE(stalled.send("GET /live.flv HTTP/1.1\r\n\r\n"));
    std::vector<std::unique_ptr<sluicetest::TcpClient>> viewers;
    for (int i = 0; i < 32; ++i) {
        viewers.push_back(std::make_unique<sluicetest::TcpClient>(port));
        ASSERT_TRUE(viewers.back()->send("GET /live.flv HTTP/1.1\r\n\r\n"));
    }
    std::atomic<bool> stop{false};
    std::atomic<int> failures{0};
    std::atomic<int> segments{0};
    std::vector<std::thread> pollers;
    for (int i = 0; i < 32; ++i) {
        pollers.emplace_back([&] {
            while (!stop) {
                const Got list = httpGet(port, "/live.m3u8");
                const std::vector<std::string> names = segmentsOf(list.body);
                const Got segment = names.empty() ? Got() : httpGet(port, "/" + names.back());
                if (segment.status == 200 && segment.body.size() > 188) {
                    ++segments;
                } else {
                    ++failures;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(300));
            }
        });
    }
    std::this_thread::sleep_for(std::chrono::seconds(4));
    const size_t before = viewers.front()->receivedSize();
    EXPECT_TRUE(viewers.front()->waitForSize(before + 20000));
    stop = true;
    for (auto& poller : pollers) {
        poller.join();
    }
    EXPECT_EQ(failures.load(), 0);
    EXPECT_GE(segments.load(), 32 * 4);
    for (const auto& viewer : viewers) {
        const std::string bytes = viewer->received();
        EXPECT_EQ(bytes.compare(0, 15, "HTTP/1.1 200 OK"), 0);
        EXPECT_NE(bytes.find("FLV\x01"), std::string::npos);
        EXPECT_GT(bytes.size(), 100000u);
    }
    const std::vector<av::DestinationStats> rows = flv.destinationStats();
    EXPECT_EQ(rows.size(), 33u);
    for (const auto& row : rows) {
        EXPECT_EQ(row.protocol, SLUICE_PROTOCOL_FLV);
        EXPECT_LE(row.counters.backlogBytes, 1024000u + 65536u);
    }
    EXPECT_EQ(hls.destinationStats()[0].clientsSeen, 1u);  // all from 127.0.0.1
}

// A client that fell behind so far that tags were dropped goes on from a key frame: its
// player never gets pictures whose references it lost.
TEST(HttpOutput, FlvClientResumesAtAKeyFrameAfterAJam) {
    const Clip& c = clip();
    FlvTsMediaCaster flv;
    ASSERT_EQ(flv.open("", 0, sluicetest::clipConfig(c.info)), 0);
    sluicetest::TcpClient client(flv.localPort(), 4096, false);
    ASSERT_TRUE(client.send("GET /live.flv HTTP/1.1\r\n\r\n"));
    ASSERT_TRUE(waitFor([&] { return flv.destinationStats().size() == 1; }));
    const int64_t clipUs = c.frames.back().ptsUs + 40000;
    int64_t offset = 0;
    // As fast as frames come: the client that does not read jams.
    for (int i = 0; i < 200 && flv.destinationStats()[0].counters.jamEpisodes == 0; ++i) {
        sluicetest::writeFrames(flv, c.frames, offset);
        offset += clipUs;
    }
    ASSERT_GT(flv.destinationStats()[0].counters.jamEpisodes, 0u);
    sluicetest::writeFrames(flv, c.frames, offset);  // dropped too, or partly
    offset += clipUs;
    client.resume();
    ASSERT_TRUE(waitFor([&] { return flv.destinationStats()[0].counters.backlogBytes == 0; },
                        std::chrono::seconds(20)));
    // The first frames after the jam are from the middle of a GOP.
    const std::vector<sluicetest::TestFrame> middle(c.frames.begin() + c.frames.size() / 4,
                                                    c.frames.end());
    for (int i = 0; i < 3; ++i) {
        sluicetest::writeFrames(flv, i == 0 ? middle : c.frames, offset);
        offset += clipUs;
        ASSERT_TRUE(waitFor([&] { return flv.destinationStats()[0].counters.backlogBytes == 0; },
                            std::chrono::seconds(20)));
    }
    // Everything sent has arrived: the bytes after the response head are all the tags'.
    const uint64_t sent = flv.destinationStats()[0].counters.bytes;
    ASSERT_TRUE(waitFor([&] {
        const std::string bytes = client.received();
        const size_t start = bytes.find("FLV\x01");
        return start != std::string::npos && bytes.size() - start >= sent;
    }));
    const auto tags = flvVideoTags(client.received());
    ASSERT_GT(tags.size(), 10u);
    EXPECT_TRUE(tags.front().second);
    int gaps = 0;
    for (size_t i = 1; i < tags.size(); ++i) {
        if (tags[i].first > tags[i - 1].first + 500) {
            ++gaps;
            EXPECT_TRUE(tags[i].second) << "after a gap at " << tags[i].first << " ms";
        }
    }
    EXPECT_GE(gaps, 1);
}
