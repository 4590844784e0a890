// The media link: messages on the wire, the drain step, receiving with its time-out, and the
// status records copied into MediaState.

#include "MediaLink.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "MediaMessage.h"
#include "MediaStandIn.h"
#include "MediaState.h"
#include "TestSupport.h"
#include "WakeEvent.h"

namespace {

using testsupport::MediaStandIn;
using testsupport::SandboxBoard;

class MediaLinkTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(link.startMediaLink());
        standIn = std::make_unique<MediaStandIn>(board.path(enc::MediaLink::kServerSocket),
                                                 board.path(enc::MediaLink::kClientSocket));
        ASSERT_TRUE(standIn->ok());
    }

    bool pending() const {
        pollfd p{link.fd(), POLLIN, 0};
        return ::poll(&p, 1, 0) == 1 && (p.revents & POLLIN) != 0;
    }

    SandboxBoard board;
    enc::MediaLink link;
    std::unique_ptr<MediaStandIn> standIn;
};

TEST_F(MediaLinkTest, ChangeCodeReachesTheBoundPeerAsAKindZeroHeader) {
    EXPECT_TRUE(testsupport::fileExists(board.path("/tmp/client.socket")));  // under the root
    ASSERT_TRUE(link.sendMediaCode(enc::kCodeSubVideo));
    ASSERT_TRUE(standIn->waitForCount(1));
    const auto m = standIn->messages().front();
    EXPECT_EQ(m.magic, "HT_O");
    EXPECT_EQ(m.code, 4708);
    EXPECT_EQ(m.length, 0);
    EXPECT_EQ(m.length2, 0);
    EXPECT_EQ(m.size, 36u);
}

TEST_F(MediaLinkTest, GeneralMessagesCarryKindMagicAndPayload) {
    const uint8_t payload[5] = {1, 2, 3, 4, 5};
    ASSERT_TRUE(link.sendMediaMessage(1, 77, payload, sizeof payload));
    ASSERT_TRUE(link.sendMediaMessage(2, 78, nullptr, 0));
    std::vector<uint8_t> big(enc::kMediaMaxPayload, 9);
    ASSERT_TRUE(link.sendMediaMessage(0, 79, big.data(), big.size()));
    big.push_back(9);
    EXPECT_FALSE(link.sendMediaMessage(0, 80, big.data(), big.size()));
    ASSERT_TRUE(standIn->waitForCount(3));
    const auto m = standIn->messages();
    ASSERT_EQ(m.size(), 3u);
    EXPECT_EQ(m[0].magic, "HT_V");
    EXPECT_EQ(m[0].length, 5);
    EXPECT_EQ(m[0].length2, 5);
    EXPECT_EQ(m[0].payload, std::vector<uint8_t>(payload, payload + 5));
    EXPECT_EQ(m[1].magic, std::string(4, '\0'));
    EXPECT_EQ(m[2].size, 256u);
}

TEST_F(MediaLinkTest, WithoutPeerOrSocketSendingFailsQuietly) {
    standIn.reset();
    EXPECT_FALSE(link.sendMediaCode(enc::kCodeAudioChanged));
    link.closeLink();
    EXPECT_EQ(link.fd(), -1);
    EXPECT_FALSE(link.sendMediaCode(enc::kCodeAudioChanged));
    uint8_t buffer[64];
    EXPECT_FALSE(link.receiveMediaMessage(buffer, sizeof buffer));
    EXPECT_FALSE(link.openLink(nullptr));
    EXPECT_FALSE(link.openLink(std::string(200, 'x').c_str()));
}

TEST_F(MediaLinkTest, SendingDrainsStatusAlreadyWaiting) {
    enc::InputSignalRecord record{};
    ASSERT_TRUE(standIn->sendRecord(enc::kCodeInputSignal, &record, sizeof record));
    ASSERT_TRUE(standIn->sendRecord(enc::kCodeInputSignal, &record, sizeof record));
    ASSERT_TRUE(pending());
    ASSERT_TRUE(link.sendMediaCode(enc::kCodeMainVideo));
    EXPECT_FALSE(pending());
    ASSERT_TRUE(standIn->waitForCode(enc::kCodeMainVideo));
}

// Nothing arrives: after the receive time-out the answer is no, with the buffer zero-filled.
TEST_F(MediaLinkTest, ReceiveGivesUpWhenNothingComes) {
    uint8_t buffer[enc::kMediaReceiveBufferSize];
    std::memset(buffer, 0xAB, sizeof buffer);
    EXPECT_FALSE(link.receiveMediaMessage(buffer, sizeof buffer));
    EXPECT_EQ(buffer[0], 0);
}

// A shutdown request outranks a waiting record: the main loop must see it first.
TEST_F(MediaLinkTest, ReadableWakeDescriptorEndsTheReceiveWithoutReading) {
    comn::WakeEvent wake;
    enc::MediaState state;
    enc::InputSignalRecord record{};
    record.width = 1920;
    ASSERT_TRUE(standIn->sendRecord(enc::kCodeInputSignal, &record, sizeof record));
    ASSERT_TRUE(testsupport::waitFor([&] { return pending(); }));
    wake.wake();
    EXPECT_FALSE(link.relayTo(state, wake.fd()));
    EXPECT_TRUE(pending());  // the record is still there for the next pass
    EXPECT_EQ(state.inputSignal().width, 0);
    wake.reset();
    EXPECT_TRUE(link.relayTo(state, wake.fd()));
    EXPECT_EQ(state.inputSignal().width, 1920);
}

TEST_F(MediaLinkTest, ReceiveZeroFillsBeforeEachDatagram) {
    std::vector<uint8_t> large(300, 0xEE);
    ASSERT_TRUE(standIn->sendRecord(enc::kCodeSystemStatus, large.data(), large.size()));
    ASSERT_TRUE(standIn->sendRecord(enc::kCodeInputSignal, large.data(), 4));
    uint8_t buffer[enc::kMediaReceiveBufferSize];
    size_t received = 0;
    ASSERT_TRUE(link.receiveMediaMessage(buffer, sizeof buffer, &received));
    EXPECT_EQ(received, 336u);
    ASSERT_TRUE(link.receiveMediaMessage(buffer, sizeof buffer, &received));
    EXPECT_EQ(received, 40u);
    for (size_t i = 40; i < sizeof buffer; ++i) {
        ASSERT_EQ(buffer[i], 0) << "stale byte at " << i;
    }
}

TEST_F(MediaLinkTest, EachRecordCodeReplacesItsRecord) {
    enc::MediaState state;
    struct Case {
        int code;
        size_t size;
        std::function<std::vector<uint8_t>()> read;
    };
    auto bytes = [](const auto& record) {
        const auto* p = reinterpret_cast<const uint8_t*>(&record);
        return std::vector<uint8_t>(p, p + sizeof record);
    };
    const std::vector<Case> cases = {
        {4715, 16, [&] { return bytes(state.inputSignal()); }},
        {4716, 20, [&] { return bytes(state.audioInput()); }},
        {4717, 128, [&] { return bytes(state.encodeStatus()); }},
        {4719, 132, [&] { return bytes(state.activeStream()); }},
        {4864, 364, [&] { return bytes(state.systemStatus()); }},
        {4866, 1032, [&] { return bytes(state.rtmpStatus()); }},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(enc::MediaState::recordSize(c.code), c.size);
        std::vector<uint8_t> payload(c.size);
        for (size_t i = 0; i < payload.size(); ++i) {
            payload[i] = static_cast<uint8_t>(i * 7 + c.code);
        }
        ASSERT_TRUE(standIn->sendRecord(c.code, payload.data(), payload.size()));
        ASSERT_TRUE(link.relayTo(state)) << c.code;
        EXPECT_EQ(c.read(), payload) << c.code;
    }
}

TEST_F(MediaLinkTest, UnknownCodeIsIgnoredAndShortRecordsLeaveNoStaleBytes) {
    enc::MediaState state;
    std::vector<uint8_t> full(364, 0x55);
    ASSERT_TRUE(standIn->sendRecord(enc::kCodeSystemStatus, full.data(), full.size()));
    ASSERT_TRUE(link.relayTo(state));
    ASSERT_TRUE(standIn->sendRecord(4718, full.data(), full.size()));
    ASSERT_TRUE(link.relayTo(state));  // received, but changes nothing
    EXPECT_EQ(state.systemStatus().inputFps, 0x55555555);
    EXPECT_EQ(enc::MediaState::recordSize(4718), 0u);

    const int32_t count = 3;
    ASSERT_TRUE(standIn->sendRecord(enc::kCodeSystemStatus, &count, sizeof count));
    ASSERT_TRUE(link.relayTo(state));
    const auto sys = state.systemStatus();
    EXPECT_EQ(sys.textCount, 3);
    EXPECT_EQ(sys.inputFps, 0);
    EXPECT_EQ(sys.mainInputName[0], 0);
}

// Records that arrived together are all taken in one pass, in order, each on its own.
TEST_F(MediaLinkTest, WaitingRecordsAreAllTakenInOnePass) {
    enc::MediaState state;
    const std::vector<uint8_t> full(364, 0x55);
    const int32_t count = 3;
    enc::InputSignalRecord signal{};
    signal.rate = 50;
    ASSERT_TRUE(standIn->sendRecord(enc::kCodeSystemStatus, full.data(), full.size()));
    ASSERT_TRUE(standIn->sendRecord(enc::kCodeSystemStatus, &count, sizeof count));
    ASSERT_TRUE(standIn->sendRecord(enc::kCodeInputSignal, &signal, sizeof signal));
    ASSERT_TRUE(link.relayTo(state));
    EXPECT_EQ(state.systemStatus().textCount, 3);
    EXPECT_EQ(state.systemStatus().inputFps, 0);  // the short one came last
    EXPECT_EQ(state.inputSignal().rate, 50);
}

TEST(MediaStateTest, ClearingZeroesTheFourStatusRecordsOnly) {
    enc::MediaState state;
    enc::SystemStatusRecord sys{};
    sys.inputFps = 60;
    state.setSystemStatus(sys);
    enc::EncodeStatusRecord encode{};
    encode.stream[0].fps = 30;
    state.setEncodeStatus(encode);
    enc::InputSignalRecord signal{};
    signal.rate = 50;
    state.setInputSignal(signal);
    state.clearStatusRecords();
    EXPECT_EQ(state.systemStatus().inputFps, 0);
    EXPECT_EQ(state.inputSignal().rate, 0);
    EXPECT_EQ(state.encodeStatus().stream[0].fps, 30);
}

TEST(MediaStateTest, ReadersNeverSeeAHalfReplacedRecord) {
    enc::MediaState state;
    std::atomic<bool> stop{false};
    std::thread writer([&] {
        uint8_t datagram[36 + sizeof(enc::RtmpStatusRecord)];
        std::memset(datagram, 0, 36);
        const int32_t code = enc::kCodeRtmpStatus;
        std::memcpy(datagram + 8, &code, 4);
        for (uint8_t fill = 1; !stop; fill = static_cast<uint8_t>(fill % 250 + 1)) {
            std::memset(datagram + 36, fill, sizeof(enc::RtmpStatusRecord));
            state.applyMessage(datagram, sizeof datagram);
        }
    });
    bool torn = false;
    for (int i = 0; i < 20000 && !torn; ++i) {
        const auto r = state.rtmpStatus();
        const auto* p = reinterpret_cast<const uint8_t*>(&r);
        for (size_t k = 1; k < sizeof r; ++k) {
            if (p[k] != p[0]) {
                torn = true;
                break;
            }
        }
    }
    stop = true;
    writer.join();
    EXPECT_FALSE(torn);
}

}  // namespace
