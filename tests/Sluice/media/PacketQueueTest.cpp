// Media packets and the packet queue: the byte store, stale-data dropping and waiting pops.
#include <gtest/gtest.h>

#include <thread>

#include "MediaPacket.h"
#include "MediaPacketQueue.h"

using av::MediaPacket;
using av::MediaPacketQueue;

namespace {

// 'A' audio, 'K' video key frame, 'V' video non-key frame, 'a' audio flagged as key
std::shared_ptr<MediaPacket> packet(char kind) {
    auto p = std::make_shared<MediaPacket>();
    p->type = kind == 'A' || kind == 'a' ? 1 : 0;
    p->flags = kind == 'K' || kind == 'a' ? 1 : 0;
    p->assign(&kind, 1);
    return p;
}

std::string text(const MediaPacket& p) {
    return std::string(reinterpret_cast<const char*>(p.data), p.size);
}

}  // namespace

TEST(MediaPacket, StoreGrowsAndClearKeepsTheCapacity) {
    MediaPacket p(512);
    p.assign("abc", 3);
    p.append("de", 2);
    EXPECT_EQ(text(p), "abcde");
    p.resize(2);
    EXPECT_EQ(text(p), "ab");
    p.type = 1;
    p.pts = 1234;
    p.duration = 40;
    p.flags = 1;
    MediaPacket copy;
    copy.copyFrom(p);
    EXPECT_EQ(text(copy), "ab");
    EXPECT_NE(copy.data, p.data);
    EXPECT_EQ(copy.type, 1);
    EXPECT_EQ(copy.pts, 1234);
    EXPECT_EQ(copy.duration, 40);
    EXPECT_EQ(copy.flags, 1);
    p.clear();
    EXPECT_EQ(p.size, 0u);
    EXPECT_EQ(p.capacity(), 512u);
    EXPECT_EQ(p.type + p.pts + p.duration + p.flags, 0);
}

TEST(MediaPacketQueue, DropToLastKeyStartsAtTheLastVideoKeyFrameAfterTheFront) {
    const struct {
        const char* queued;
        size_t dropped;
        const char* left;
    } cases[] = {
        {"", 0, ""},           {"K", 0, "K"},     {"AKAVKA", 4, "KA"},
        {"KVAVA", 0, "KVAVA"},                     // a key frame only at the front is no drop point
        {"VAVA", 0, "VAVA"},   {"VVa", 0, "VVa"},  // audio flagged as key neither
    };
    for (const auto& c : cases) {
        MediaPacketQueue queue;
        size_t length = 0;
        for (const char* k = c.queued; *k != '\0'; ++k) {
            length = queue.push(packet(*k));
        }
        EXPECT_EQ(length, queue.size());
        EXPECT_EQ(queue.dropToLastKey(), c.dropped) << c.queued;
        std::string left;
        std::shared_ptr<MediaPacket> p;
        while (queue.pop(p)) {
            left += text(*p);
        }
        EXPECT_EQ(left, c.left) << c.queued;
        EXPECT_TRUE(queue.empty());
    }
}

TEST(MediaPacketQueue, PopWaitsAsLongAsItIsTold) {
    MediaPacketQueue queue;
    std::shared_ptr<MediaPacket> out;
    EXPECT_FALSE(queue.pop(out, 0));
    EXPECT_EQ(out, nullptr);
    EXPECT_FALSE(queue.pop(out, 30));
    for (int timeout : {-1, 10000}) {
        bool got = false;
        std::thread consumer([&] { got = queue.pop(out, timeout); });
        queue.push(packet('K'));
        consumer.join();
        EXPECT_TRUE(got) << timeout;
        ASSERT_NE(out, nullptr);
        EXPECT_TRUE(out->isKey());
    }
}
