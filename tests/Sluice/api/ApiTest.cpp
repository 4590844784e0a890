// The exported interface, linked as an integrator links it: sluice.h and libSluice.so only.
#include <gtest/gtest.h>

#include <dirent.h>
#include <sched.h>
#include <unistd.h>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "SrtReceiver.h"
#include "TestSupport.h"
#include "UdpReceiver.h"
#include "sluice.h"

namespace {

sluice_media_format audioFormat() {
    sluice_media_format f = {};
    f.audio_codec = SLUICE_CODEC_AAC;
    f.channels = 2;
    f.sample_rate = 48000;
    f.audio_profile = 1;
    return f;
}

// A raw AAC frame: the library puts the ADTS header in front.
const std::string kAudioFrame(200, '\x21');

sluice_media_packet audioPacket(int64_t pts) {
    sluice_media_packet p = {};
    p.type = SLUICE_PACKET_AUDIO;
    p.data = reinterpret_cast<const uint8_t*>(kAudioFrame.data());
    p.size = static_cast<int32_t>(kAudioFrame.size());
    p.pts = pts;
    return p;
}

// The destination records of a caller whose record is `stride` bytes long (an older or a
// newer sluice.h): `slots` of them, every byte 0xAB before the call, so the test sees what the
// library wrote. Returns the call's result.
int statsAtStride(int handle, uint32_t stride, int slots, std::vector<unsigned char>& bytes,
                  int& count) {
    bytes.assign(static_cast<size_t>(stride) * static_cast<size_t>(slots), 0xAB);
    std::memcpy(bytes.data(), &stride, sizeof stride);
    return sluice_get_destination_stats(
        handle, reinterpret_cast<sluice_destination_stats*>(bytes.data()), slots, &count);
}

// Record i of such an array, as far as this sluice.h knows it (the rest zero).
sluice_destination_stats recordAt(const std::vector<unsigned char>& bytes, uint32_t stride,
                                  size_t i) {
    sluice_destination_stats record = {};
    std::memcpy(&record, bytes.data() + i * stride, std::min<size_t>(stride, sizeof record));
    return record;
}

class SluiceApi : public ::testing::Test {
protected:
    void SetUp() override {
        char cwd[4096];
        ASSERT_NE(::getcwd(cwd, sizeof cwd), nullptr);
        m_oldCwd = cwd;
        // The library reads SluiceLog.ini from the working directory: use an empty one.
        ASSERT_EQ(::chdir(m_dir.path().c_str()), 0);
        ASSERT_EQ(sluice_init(), 0);
    }
    void TearDown() override {
        for (int h = 0; h < 64; ++h) {
            sluice_close(h);
        }
        EXPECT_EQ(sluice_quit(), 0);
        ASSERT_EQ(::chdir(m_oldCwd.c_str()), 0);
    }

    int open(int protocol = SLUICE_PROTOCOL_UDP, int port = 0) {
        const sluice_media_format f = audioFormat();
        int handle = -2;
        EXPECT_EQ(sluice_open(&handle, protocol, port, &f), 0);
        return handle;
    }

    // Sends one second of audio through the handle to a receiver; returns what arrived.
    std::vector<std::string> castTo(int handle, sluicetest::UdpReceiver& receiver) {
        EXPECT_EQ(sluice_add_target(handle, "127.0.0.1", receiver.port()), 0);
        for (int i = 0; i < 50; ++i) {
            const sluice_media_packet p = audioPacket(i * 1024);
            EXPECT_EQ(sluice_write(handle, &p), 0);
        }
        sluice_close(handle);
        EXPECT_TRUE(receiver.waitQuiet());
        return receiver.datagrams();
    }

    testsupport::TempDir m_dir;
    std::string m_oldCwd;
};

}  // namespace

// The table search starts after the last slot handed out; quit empties the table.
TEST_F(SluiceApi, HandlesAreHandedOutInTurnAndTheSixtyFifthIsMinusOne) {
    EXPECT_EQ(open(), 0);
    EXPECT_EQ(open(), 1);
    EXPECT_EQ(open(), 2);
    sluice_close(0);
    EXPECT_EQ(open(), 3);
    for (int expected = 4; expected < 64; ++expected) {
        ASSERT_EQ(open(), expected);
    }
    EXPECT_EQ(open(), 0);  // the only free slot, after wrapping
    const sluice_media_format f = audioFormat();
    int handle = 5;
    EXPECT_EQ(sluice_open(&handle, SLUICE_PROTOCOL_UDP, 0, &f), 0);
    EXPECT_EQ(handle, -1);
    sluice_close(5);
    EXPECT_EQ(open(), 5);
    ASSERT_EQ(sluice_quit(), 0);
    ASSERT_EQ(sluice_init(), 0);
    EXPECT_EQ(open(), 0);
}

TEST_F(SluiceApi, UnknownHandlesGiveEnoent) {
    const sluice_media_packet p = audioPacket(0);
    const int closed = open();
    sluice_close(closed);
    for (int handle : {64, -1, closed, 1000}) {
        EXPECT_EQ(sluice_write(handle, &p), ENOENT) << handle;
        EXPECT_EQ(sluice_add_target(handle, "127.0.0.1", 5000), ENOENT) << handle;
        EXPECT_EQ(sluice_remove_target(handle, "127.0.0.1", 5000), ENOENT) << handle;
        EXPECT_EQ(sluice_remove_all_target(handle), ENOENT) << handle;
        EXPECT_EQ(sluice_close(handle), ENOENT) << handle;
    }
}

TEST_F(SluiceApi, MissingPointersAndEmptyAddressesGiveEinval) {
    const int handle = open();
    EXPECT_EQ(sluice_write(handle, nullptr), EINVAL);
    sluice_media_packet p = audioPacket(0);
    p.data = nullptr;
    EXPECT_EQ(sluice_write(handle, &p), EINVAL);
    EXPECT_EQ(sluice_add_target(handle, "", 5000), EINVAL);
    EXPECT_EQ(sluice_add_target(handle, nullptr, 5000), EINVAL);
    EXPECT_EQ(sluice_remove_target(handle, "", 5000), EINVAL);
    EXPECT_EQ(sluice_remove_target(handle, nullptr, 5000), EINVAL);
    const sluice_media_format f = audioFormat();
    EXPECT_EQ(sluice_open(nullptr, SLUICE_PROTOCOL_UDP, 0, &f), EINVAL);
    int h = -2;
    EXPECT_EQ(sluice_open(&h, SLUICE_PROTOCOL_UDP, 0, nullptr), EINVAL);
    EXPECT_EQ(h, -2);
}

TEST_F(SluiceApi, TargetsAreUniquePerCaster) {
    const int handle = open();
    EXPECT_EQ(sluice_add_target(handle, "127.0.0.1", 5000), 0);
    EXPECT_EQ(sluice_add_target(handle, "127.0.0.1", 5000), EACCES);
    EXPECT_EQ(sluice_add_target(handle, "127.0.0.1", 5001), 0);
    EXPECT_EQ(sluice_remove_target(handle, "10.9.9.9", 1), 0);  // never added
    EXPECT_EQ(sluice_remove_target(handle, "127.0.0.1", 5000), 0);
    EXPECT_EQ(sluice_add_target(handle, "127.0.0.1", 5000), 0);
    EXPECT_EQ(sluice_remove_all_target(handle), 0);
    EXPECT_EQ(sluice_add_target(handle, "127.0.0.1", 5001), 0);
}

// Protocol 3 is RTP (12-byte header, payload type 33); every number without a caster UDP.
TEST_F(SluiceApi, ProtocolsChooseUdpOrRtp) {
    for (int protocol : {0, 1, 3, 42}) {
        sluicetest::UdpReceiver receiver;
        const auto datagrams = castTo(open(protocol), receiver);
        ASSERT_FALSE(datagrams.empty()) << protocol;
        const size_t header = protocol == SLUICE_PROTOCOL_RTP ? 12 : 0;
        for (const std::string& d : datagrams) {
            ASSERT_EQ(static_cast<uint8_t>(d[header]), 0x47) << protocol;
            ASSERT_EQ((d.size() - header) % 188, 0u) << protocol;
        }
        if (header != 0) {
            EXPECT_EQ(static_cast<uint8_t>(datagrams[0][0]), 0x80);
            EXPECT_EQ(static_cast<uint8_t>(datagrams[0][1]), 33);
        }
    }
}

// Protocol 7 pushes over RTMP: no targets, its own options, off until it has a URL.
TEST_F(SluiceApi, RtmpPushTakesAUrlInsteadOfTargets) {
    const int handle = open(SLUICE_PROTOCOL_RTMP);
    EXPECT_EQ(sluice_add_target(handle, "127.0.0.1", 1935), 13);
    EXPECT_EQ(sluice_set_option(handle, "url", "srt://127.0.0.1:1/x"), 22);
    EXPECT_EQ(sluice_set_option(handle, "maxclients", "4"), 22);
    sluice_output_status status{};
    status.size = sizeof status;
    ASSERT_EQ(sluice_get_output_status(handle, &status), 0);
    EXPECT_EQ(status.protocol, SLUICE_PROTOCOL_RTMP);
    EXPECT_EQ(status.state, SLUICE_STATE_OFF);
    EXPECT_EQ(status.destinations, 0);
    EXPECT_EQ(sluice_set_option(handle, "url", "rtmp://u:pw@127.0.0.1:1/live/s"), 0);
    sluice_destination_stats record{};
    record.size = sizeof record;
    int count = 0;
    ASSERT_EQ(sluice_get_destination_stats(handle, &record, 1, &count), 0);
    ASSERT_EQ(count, 1);
    EXPECT_EQ(record.protocol, SLUICE_PROTOCOL_RTMP);
    EXPECT_STREQ(record.address, "rtmp://127.0.0.1:1/live/s");
    EXPECT_EQ(sluice_close(handle), 0);
}

TEST_F(SluiceApi, NoUsableStreamOrABoundPortGivesEnodev) {
    const sluice_media_format none = {};
    int handle = -2;
    EXPECT_EQ(sluice_open(&handle, SLUICE_PROTOCOL_UDP, 0, &none), ENODEV);
    const testsupport::TakenPort bound(testsupport::TakenPort::Kind::Udp);
    ASSERT_NE(bound.port(), 0);
    const sluice_media_format f = audioFormat();
    EXPECT_EQ(sluice_open(&handle, SLUICE_PROTOCOL_UDP, bound.port(), &f), ENODEV);
    EXPECT_EQ(sluice_open(&handle, SLUICE_PROTOCOL_RTP, bound.port(), &f), ENODEV);
    EXPECT_EQ(handle, -2);
}

// Opened with port 0, every caster tells the port it got; an SRT caster listens only when
// asked to.
TEST_F(SluiceApi, LocalPortTellsWhichPortAnOpenWithZeroGot) {
    for (int protocol :
         {SLUICE_PROTOCOL_UDP, SLUICE_PROTOCOL_RTP, SLUICE_PROTOCOL_TCP, SLUICE_PROTOCOL_HTTP}) {
        const int handle = open(protocol);
        int port = 0;
        ASSERT_EQ(sluice_get_local_port(handle, &port), 0) << protocol;
        ASSERT_GT(port, 0) << protocol;
        // The port is really the caster's: nobody else may bind it now.
        const sluice_media_format f = audioFormat();
        int other = -2;
        EXPECT_NE(sluice_open(&other, protocol, port, &f), 0) << protocol;
        EXPECT_EQ(other, -2) << protocol;
    }
    const int srt = open(SLUICE_PROTOCOL_SRT);
    int port = -1;
    ASSERT_EQ(sluice_get_local_port(srt, &port), 0);
    EXPECT_EQ(port, 0);  // calls out only
    for (const char* bad : {"", "-1", "65536", "12x"}) {
        EXPECT_EQ(sluice_set_option(srt, "listen", bad), EINVAL) << bad;
    }
    ASSERT_EQ(sluice_set_option(srt, "listen", "0"), 0);
    ASSERT_EQ(sluice_get_local_port(srt, &port), 0);
    ASSERT_GT(port, 0);
    // Its port is taken: another listener cannot have it, and the caster keeps calling out.
    const int second = open(SLUICE_PROTOCOL_SRT);
    EXPECT_EQ(sluice_set_option(second, "listen", std::to_string(port).c_str()), EINVAL);
    int secondPort = -1;
    ASSERT_EQ(sluice_get_local_port(second, &secondPort), 0);
    EXPECT_EQ(secondPort, 0);

    EXPECT_EQ(sluice_get_local_port(srt, nullptr), EINVAL);
    EXPECT_EQ(sluice_get_local_port(64, &port), ENOENT);
    sluice_close(srt);
    EXPECT_EQ(sluice_get_local_port(srt, &port), ENOENT);
}

// An output's health: protocol, state, port and the frames it took; a short record gets
// just the fields it knows.
TEST_F(SluiceApi, OutputStatusTellsStatePortAndFramesTaken) {
    const int tcp = open(SLUICE_PROTOCOL_TCP);
    const int unknown = open(42);  // casts UDP, as ever
    for (int i = 0; i < 3; ++i) {
        const sluice_media_packet p = audioPacket(i * 1024);
        ASSERT_EQ(sluice_write(tcp, &p), 0);
    }
    sluice_output_status status;
    std::memset(&status, 0xAB, sizeof status);
    status.size = sizeof status;
    ASSERT_EQ(sluice_get_output_status(tcp, &status), 0);
    int port = 0;
    ASSERT_EQ(sluice_get_local_port(tcp, &port), 0);
    EXPECT_EQ(status.size, sizeof status);
    EXPECT_EQ(status.protocol, SLUICE_PROTOCOL_TCP);
    EXPECT_EQ(status.state, SLUICE_STATE_SERVING);
    EXPECT_EQ(status.local_port, port);
    EXPECT_EQ(status.destinations, 0);
    EXPECT_EQ(status.frames_in, 3u);
    EXPECT_EQ(status.overruns, 0u);
    EXPECT_STREQ(status.state_text, "");
    ASSERT_EQ(sluice_get_output_status(unknown, &status), 0);
    EXPECT_EQ(status.protocol, SLUICE_PROTOCOL_UDP);

    unsigned char shortRecord[24];
    std::memset(shortRecord, 0xAB, sizeof shortRecord);
    const uint32_t sixteen = 16;
    std::memcpy(shortRecord, &sixteen, sizeof sixteen);
    ASSERT_EQ(sluice_get_output_status(tcp, reinterpret_cast<sluice_output_status*>(shortRecord)),
              0);
    EXPECT_EQ(shortRecord[16], 0xAB);  // nothing past the caller's size
    status.size = 15;
    EXPECT_EQ(sluice_get_output_status(tcp, &status), EINVAL);
    EXPECT_EQ(sluice_get_output_status(tcp, nullptr), EINVAL);
    status.size = sizeof status;
    EXPECT_EQ(sluice_get_output_status(64, &status), ENOENT);
}

TEST_F(SluiceApi, CloseWhileAnotherThreadWrites) {
    // A caster closed on one thread is destroyed only after a concurrent write let go.
    for (int round = 0; round < 20; ++round) {
        const int handle = open();
        ASSERT_GE(handle, 0);
        std::atomic<bool> stop{false};
        std::thread writer([&] {
            for (int64_t pts = 0; !stop; pts += 1024) {
                const sluice_media_packet p = audioPacket(pts);
                const int rc = sluice_write(handle, &p);
                if (rc == 2) {
                    break;
                }
                ASSERT_EQ(rc, 0);
            }
        });
        std::this_thread::yield();
        sluice_close(handle);
        stop = true;
        writer.join();
    }
}

TEST_F(SluiceApi, SilentWithoutSettingsFile) {
    testing::internal::CaptureStdout();
    sluicetest::UdpReceiver receiver;
    const int handle = open();
    const sluice_media_packet p = audioPacket(100);
    sluice_write(handle, &p);
    sluice_write(handle, &p);  // a timestamp that does not advance is logged as a warning
    sluice_add_target(handle, "127.0.0.1", 0);
    castTo(handle, receiver);  // and send failures too
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    std::string listing;
    testsupport::shell("ls -A '" + m_dir.path() + "'", &listing);
    EXPECT_EQ(listing, "");
}

TEST_F(SluiceApi, SettingsFileInTheWorkingDirectoryTurnsLoggingOn) {
    testsupport::writeFile(m_dir.file("SluiceLog.ini"),
                           "[File]\nEnabled=true\nLevel=debug\nFileName=logs/sluice.log\n");
    ASSERT_EQ(sluice_init(), 0);
    const int handle = open(SLUICE_PROTOCOL_UDP, 0);
    const sluice_media_packet later = audioPacket(2048);
    const sluice_media_packet earlier = audioPacket(1024);
    sluice_write(handle, &later);
    sluice_write(handle, &earlier);
    const std::string log = testsupport::readFile(m_dir.file("logs/sluice.log"));
    EXPECT_NE(log.find("sluice_open protocol:1, port:0\n"), std::string::npos) << log;
    EXPECT_NE(log.find("UdpTsMediaCaster(0) open. ip: port:0\n"), std::string::npos);
    EXPECT_NE(
        log.find("(" + std::to_string(handle) + ") autio pts is invalid. last:2048, now:1024\n"),
        std::string::npos)
        << log;
}

// Argument checks of the statistics call.
TEST_F(SluiceApi, DestinationStatsCheckTheirArguments) {
    const int handle = open();
    sluice_destination_stats record = {};
    record.size = sizeof record;
    int count = -1;
    EXPECT_EQ(sluice_get_destination_stats(handle, &record, 1, nullptr), EINVAL);
    EXPECT_EQ(sluice_get_destination_stats(handle, nullptr, 1, &count), EINVAL);
    EXPECT_EQ(sluice_get_destination_stats(handle, &record, -1, &count), EINVAL);
    record.size = 79;  // shorter than the fields that say which destination it is
    EXPECT_EQ(sluice_get_destination_stats(handle, &record, 1, &count), EINVAL);
    EXPECT_EQ(sluice_get_destination_stats(64, nullptr, 0, &count), ENOENT);
    EXPECT_EQ(sluice_get_destination_stats(handle, nullptr, 0, &count), 0);
    EXPECT_EQ(count, 0);
}

// Per target, in the order added: exact counts of what went out and what failed; records of
// another size get what both sides know (an older, shorter one; a newer, longer one zeroed
// beyond what this library knows), and a short array gets the first targets only.
TEST_F(SluiceApi, DestinationStatsCountEveryTargetExactly) {
    sluicetest::UdpReceiver receiver;
    const int handle = open(SLUICE_PROTOCOL_RTP);
    ASSERT_EQ(sluice_add_target(handle, "127.0.0.1", receiver.port()), 0);
    ASSERT_EQ(sluice_add_target(handle, "127.0.0.1", 0), 0);  // refused by the system
    for (int i = 0; i < 100; ++i) {
        const sluice_media_packet p = audioPacket(i * 1024);
        ASSERT_EQ(sluice_write(handle, &p), 0);
    }
    sluice_destination_stats records[2] = {};
    int count = 0;
    auto settled = [&] {
        records[0].size = sizeof records[0];
        if (sluice_get_destination_stats(handle, records, 2, &count) != 0 || count != 2) {
            return false;
        }
        const uint64_t arrived = receiver.datagrams().size();
        return arrived > 0 && records[0].datagrams == arrived && records[0].backlog_bytes == 0 &&
               records[1].send_errors == arrived;
    };
    ASSERT_TRUE(testsupport::waitFor(settled));
    uint64_t bytes = 0;
    for (const std::string& d : receiver.datagrams()) {
        bytes += d.size();
    }
    EXPECT_EQ(records[0].protocol, SLUICE_PROTOCOL_RTP);
    EXPECT_STREQ(records[0].address, "127.0.0.1");
    EXPECT_EQ(records[0].port, receiver.port());
    EXPECT_EQ(records[0].bytes, bytes);
    EXPECT_EQ(records[0].send_errors, 0u);
    EXPECT_EQ(records[0].last_errno, 0);
    EXPECT_EQ(records[0].connected_since_us, 0);
    EXPECT_EQ(records[1].port, 0);
    EXPECT_EQ(records[1].datagrams, 0u);
    EXPECT_EQ(records[1].last_errno, EINVAL);

    // An older caller's record: only the identity fields.
    std::vector<unsigned char> shorter;
    ASSERT_EQ(statsAtStride(handle, 80, 2, shorter, count), 0);
    const sluice_destination_stats second = recordAt(shorter, 80, 1);
    EXPECT_EQ(second.size, 80u);
    EXPECT_EQ(second.last_errno, EINVAL);
    // A newer caller's record: what this library knows, the rest zeroed.
    std::vector<unsigned char> longer;
    const uint32_t newer = sizeof(sluice_destination_stats) + 24;
    ASSERT_EQ(statsAtStride(handle, newer, 1, longer, count), 0);
    EXPECT_EQ(count, 2);
    const sluice_destination_stats first = recordAt(longer, newer, 0);
    EXPECT_EQ(first.size, sizeof first);
    EXPECT_EQ(first.datagrams, records[0].datagrams);
    for (size_t i = sizeof first; i < longer.size(); ++i) {
        ASSERT_EQ(longer[i], 0) << i;
    }
}

namespace {

// Priorities of this process's threads on the real-time scheduler.
std::vector<int> realtimePriorities() {
    std::vector<int> found;
    DIR* tasks = ::opendir("/proc/self/task");
    while (dirent* entry = tasks != nullptr ? ::readdir(tasks) : nullptr) {
        const int tid = std::atoi(entry->d_name);
        sched_param param{};
        if (tid > 0 && ::sched_getscheduler(tid) == SCHED_FIFO &&
            ::sched_getparam(tid, &param) == 0) {
            found.push_back(param.sched_priority);
        }
    }
    if (tasks != nullptr) {
        ::closedir(tasks);
    }
    return found;
}

}  // namespace

// "priority" moves a UDP or RTP caster's sending thread to the real-time scheduler and back.
TEST_F(SluiceApi, PriorityMovesTheSendingThreadToTheRealTimeScheduler) {
    ASSERT_TRUE(realtimePriorities().empty());
    const int rtp = open(SLUICE_PROTOCOL_RTP);
    const int result = sluice_set_option(rtp, "priority", "7");
    if (result == EPERM) {
        GTEST_SKIP() << "this process may not use the real-time scheduler";
    }
    ASSERT_EQ(result, 0);
    EXPECT_EQ(realtimePriorities(), std::vector<int>{7});
    EXPECT_EQ(sluice_set_option(rtp, "priority", "0"), 0);
    EXPECT_TRUE(realtimePriorities().empty());
}

// sluice_set_option: handle, name, value and protocol checks; the client limits apply to the
// TCP, HTTP and SRT casters, the rest to SRT only.
TEST_F(SluiceApi, SetOptionChecksItsArgumentsAndTheProtocol) {
    const int udp = open(SLUICE_PROTOCOL_UDP);
    const int srt = open(SLUICE_PROTOCOL_SRT);  // port 0: calls out only
    for (const int protocol : {SLUICE_PROTOCOL_TCP, SLUICE_PROTOCOL_HTTP}) {
        const int stream = open(protocol, 0);
        const struct {
            const char* name;
            const char* value;
            int result;
        } cases[] = {
            {"maxperaddress", "1", 0},      {"maxperaddress", "1024", 0},
            {"maxclients", "1", 0},         {"maxclients", "1024", 0},
            {"maxperaddress", "0", EINVAL}, {"maxperaddress", "1025", EINVAL},
            {"maxclients", "-1", EINVAL},   {"maxclients", "16 ", EINVAL},
            {"maxclients", "", EINVAL},     {"latency", "200", EINVAL},
        };
        for (const auto& c : cases) {
            EXPECT_EQ(sluice_set_option(stream, c.name, c.value), c.result)
                << protocol << " " << c.name << "=" << c.value;
        }
    }
    // The mux rate: on every transport-stream caster, 0 or 64 kbit/s .. 2 Gbit/s.
    for (const int protocol : {SLUICE_PROTOCOL_UDP, SLUICE_PROTOCOL_RTP, SLUICE_PROTOCOL_TCP,
                               SLUICE_PROTOCOL_HTTP, SLUICE_PROTOCOL_SRT}) {
        const int caster = open(protocol, 0);
        const struct {
            const char* value;
            int result;
        } cases[] = {{"2000000", 0},       {"0", 0},          {"64000", 0},
                     {"2000000000", 0},    {"63999", EINVAL}, {"2000000001", EINVAL},
                     {"-2000000", EINVAL}, {"2M", EINVAL},    {"", EINVAL}};
        for (const auto& c : cases) {
            EXPECT_EQ(sluice_set_option(caster, "muxrate", c.value), c.result)
                << protocol << " muxrate=" << c.value;
        }
        // Datagram casters only: gather_us 0 .. 50 ms, priority 0 .. 99 (0 needs no privilege).
        const bool datagrams = protocol == SLUICE_PROTOCOL_UDP || protocol == SLUICE_PROTOCOL_RTP;
        for (const char* value : {"0", "50000"}) {
            EXPECT_EQ(sluice_set_option(caster, "gather_us", value), datagrams ? 0 : EINVAL);
        }
        EXPECT_EQ(sluice_set_option(caster, "priority", "0"), datagrams ? 0 : EINVAL);
        for (const char* value : {"50001", "-1", "1ms", ""}) {
            EXPECT_EQ(sluice_set_option(caster, "gather_us", value), EINVAL) << value;
        }
        for (const char* value : {"100", "-1", "5 ", ""}) {
            EXPECT_EQ(sluice_set_option(caster, "priority", value), EINVAL) << value;
        }
    }
    EXPECT_EQ(sluice_set_option(udp, "maxclients", "4"), EINVAL);
    EXPECT_EQ(sluice_set_option(srt, "maxclients", "256"), 0);
    EXPECT_EQ(sluice_set_option(srt, "maxperaddress", "257"), EINVAL);
    EXPECT_EQ(sluice_set_option(64, "latency", "200"), ENOENT);
    EXPECT_EQ(sluice_set_option(-1, "latency", "200"), ENOENT);
    EXPECT_EQ(sluice_set_option(srt, nullptr, "200"), EINVAL);
    EXPECT_EQ(sluice_set_option(srt, "latency", nullptr), EINVAL);
    EXPECT_EQ(sluice_set_option(srt, "bogus", "1"), EINVAL);
    EXPECT_EQ(sluice_set_option(srt, "latency", "19"), EINVAL);
    EXPECT_EQ(sluice_set_option(udp, "latency", "200"), EINVAL);
    EXPECT_EQ(sluice_set_option(srt, "latency", "200"), 0);
    EXPECT_EQ(sluice_set_option(srt, "passphrase", ""), 0);
    // A target that is not up yet (a bound socket that never answers) is listed, without
    // transport figures.
    const testsupport::TakenPort silent(testsupport::TakenPort::Kind::Udp);
    ASSERT_EQ(sluice_add_target(srt, "127.0.0.1", silent.port()), 0);
    sluice_destination_stats record = {};
    record.size = sizeof record;
    int count = 0;
    ASSERT_EQ(sluice_get_destination_stats(srt, &record, 1, &count), 0);
    EXPECT_EQ(count, 1);
    EXPECT_EQ(record.protocol, SLUICE_PROTOCOL_SRT);
    EXPECT_EQ(record.transport_valid, 0u);
    EXPECT_EQ(record.connected_since_us, 0);
}

// A caller of an SRT listener: its record carries SRT's figures, also in a record of the
// first version's size (168 bytes, without the send rate).
TEST_F(SluiceApi, SrtCallersHaveTransportFigures) {
    const int handle = open(SLUICE_PROTOCOL_SRT);
    ASSERT_EQ(sluice_set_option(handle, "listen", "0"), 0);
    int port = 0;
    ASSERT_EQ(sluice_get_local_port(handle, &port), 0);
    sluice_destination_stats records[2] = {};
    int count = 0;
    auto listed = [&] {
        records[0].size = sizeof records[0];
        return sluice_get_destination_stats(handle, records, 2, &count) == 0 && count == 1;
    };
    sluicetest::SrtReceiver receiver;
    ASSERT_TRUE(receiver.call(static_cast<uint16_t>(port)));
    ASSERT_TRUE(testsupport::waitFor(listed));
    int64_t pts = 0;
    ASSERT_TRUE(testsupport::waitFor([&] {
        const sluice_media_packet p = audioPacket(pts += 1024);
        sluice_write(handle, &p);
        return receiver.receivedSize() > 0;
    }));
    ASSERT_TRUE(listed());
    EXPECT_EQ(records[0].protocol, SLUICE_PROTOCOL_SRT);
    EXPECT_STREQ(records[0].address, "127.0.0.1");
    EXPECT_EQ(records[0].transport_valid,
              static_cast<uint32_t>(SLUICE_STATS_HAS_RTT | SLUICE_STATS_HAS_LOST |
                                    SLUICE_STATS_HAS_RETRANSMITTED | SLUICE_STATS_HAS_LATENCY |
                                    SLUICE_STATS_HAS_SEND_RATE));
    EXPECT_EQ(records[0].latency_ms, 120);
    EXPECT_GT(records[0].connected_since_us, 0);
    EXPECT_GT(records[0].datagrams, 0u);

    std::vector<unsigned char> firstVersion;
    ASSERT_EQ(statsAtStride(handle, 168, 2, firstVersion, count), 0);
    const sluice_destination_stats old = recordAt(firstVersion, 168, 0);
    EXPECT_EQ(old.size, 168u);
    EXPECT_EQ(old.latency_ms, 120);
    EXPECT_EQ(firstVersion[168], 0xAB);  // the second slot is untouched: one destination only
}

// A stream above its mux rate: the frames that do not fit are counted in every destination's
// record and in the output's status.
TEST_F(SluiceApi, OverrunsOfTheMuxRateAreCountedPerDestinationAndOutput) {
    sluicetest::UdpReceiver receiver;
    const int udp = open(SLUICE_PROTOCOL_UDP);
    ASSERT_EQ(sluice_set_option(udp, "muxrate", "64000"), 0);  // the audio needs about 140k
    ASSERT_EQ(sluice_add_target(udp, "127.0.0.1", receiver.port()), 0);
    for (int i = 0; i < 100; ++i) {
        const sluice_media_packet p = audioPacket(i * 1024);
        ASSERT_EQ(sluice_write(udp, &p), 0);
    }
    sluice_destination_stats record = {};
    record.size = sizeof record;
    int count = 0;
    ASSERT_EQ(sluice_get_destination_stats(udp, &record, 1, &count), 0);
    ASSERT_EQ(count, 1);
    EXPECT_GT(record.overruns, 10u);
    sluice_output_status status = {};
    status.size = sizeof status;
    ASSERT_EQ(sluice_get_output_status(udp, &status), 0);
    EXPECT_EQ(status.overruns, record.overruns);
    EXPECT_LT(status.overruns, 100u);  // what fits still goes out
}

// "gather_us": a constant-rate stream's datagrams due close together leave together, a run
// per target cut by the kernel; every target still gets every datagram whole and in order.
TEST_F(SluiceApi, GatheredDatagramsArriveWholeAndInOrderAtEveryTarget) {
    sluicetest::UdpReceiver first;
    sluicetest::UdpReceiver second;
    const int rtp = open(SLUICE_PROTOCOL_RTP);
    ASSERT_EQ(sluice_set_option(rtp, "muxrate", "2000000"), 0);  // a datagram per 5.3 ms
    ASSERT_EQ(sluice_set_option(rtp, "gather_us", "20000"), 0);
    for (const sluicetest::UdpReceiver* receiver : {&first, &second}) {
        ASSERT_EQ(sluice_add_target(rtp, "127.0.0.1", receiver->port()), 0);
    }
    for (int i = 0; i < 25; ++i) {  // half a second
        const sluice_media_packet p = audioPacket(i * 1024);
        ASSERT_EQ(sluice_write(rtp, &p), 0);
    }
    sluice_close(rtp);  // sends what is queued, at the stream's pace
    const std::vector<std::string> got = first.datagrams();
    ASSERT_GT(got.size(), 80u);
    EXPECT_EQ(second.datagrams(), got);
    for (size_t i = 0; i < got.size(); ++i) {
        ASSERT_TRUE(got[i].size() > 12 && got[i].size() <= 12 + 1316) << i;
        ASSERT_EQ((got[i].size() - 12) % 188, 0u) << i;  // whole TS packets
        const auto sequence = [&](size_t k) {
            return static_cast<uint8_t>(got[k][2]) << 8 | static_cast<uint8_t>(got[k][3]);
        };
        if (i > 0) {
            ASSERT_EQ(sequence(i), (sequence(i - 1) + 1) & 0xFFFF) << i;
        }
    }
}
