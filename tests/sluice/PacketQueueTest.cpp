// Media packets and the packet queue: stale-data dropping and waiting pops.
#include <gtest/gtest.h>

#include <thread>

#include "MediaPacket.h"
#include "MediaPacketQueue.h"

using av::MediaPacket;
using av::MediaPacketQueue;

namespace {

std::shared_ptr<MediaPacket> packet(char kind) {
    // 'A' audio, 'K' video key frame, 'V' video non-key frame
    auto p = std::make_shared<MediaPacket>();
    p->type = kind == 'A' ? 1 : 0;
    p->flags = kind == 'K' ? 1 : 0;
    p->assign(&kind, 1);
    return p;
}

std::string kinds(MediaPacketQueue& queue) {
    std::string out;
    std::shared_ptr<MediaPacket> p;
    while (queue.pop(p)) {
        out += static_cast<char>(p->data[0]);
    }
    return out;
}

void fill(MediaPacketQueue& queue, const std::string& sequence) {
    for (char c : sequence) {
        queue.push(packet(c));
    }
}

}  // namespace

TEST(MediaPacket, DataAndSizeFollowTheStore) {
    MediaPacket p;
    EXPECT_EQ(p.data, nullptr);
    EXPECT_EQ(p.size, 0u);
    p.assign("abc", 3);
    EXPECT_EQ(p.size, 3u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(p.data), p.size), "abc");
    p.append("de", 2);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(p.data), p.size), "abcde");
    p.resize(2);
    EXPECT_EQ(p.size, 2u);
    p.reserve(1000);
    EXPECT_GE(p.capacity(), 1000u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(p.data), p.size), "ab");
}

TEST(MediaPacket, ClearKeepsTheCapacity) {
    MediaPacket p(512);
    EXPECT_EQ(p.capacity(), 512u);
    p.assign("xyz", 3);
    p.type = 1;
    p.pts = 99;
    p.duration = 3;
    p.flags = 1;
    p.clear();
    EXPECT_EQ(p.size, 0u);
    EXPECT_EQ(p.capacity(), 512u);
    EXPECT_EQ(p.type, 0);
    EXPECT_EQ(p.pts, 0);
    EXPECT_EQ(p.duration, 0);
    EXPECT_EQ(p.flags, 0);
}

TEST(MediaPacket, CopyFromTakesFieldsAndBytes) {
    MediaPacket a;
    a.assign("key", 3);
    a.type = 0;
    a.pts = 1234;
    a.duration = 40;
    a.flags = 1;
    MediaPacket b;
    b.copyFrom(a);
    EXPECT_TRUE(b.isVideo());
    EXPECT_TRUE(b.isKey());
    EXPECT_EQ(b.pts, 1234);
    EXPECT_EQ(b.duration, 40);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(b.data), b.size), "key");
    EXPECT_NE(b.data, a.data);
}

TEST(MediaPacketQueue, DropToLastKeyKeepsASingleKeyFrame) {
    MediaPacketQueue queue;
    fill(queue, "K");
    EXPECT_EQ(queue.dropToLastKey(), 0u);
    EXPECT_EQ(kinds(queue), "K");
}

TEST(MediaPacketQueue, DropToLastKeyStartsAtTheLastKeyFrame) {
    MediaPacketQueue queue;
    fill(queue, "AKAVKA");
    EXPECT_EQ(queue.dropToLastKey(), 4u);
    EXPECT_EQ(kinds(queue), "KA");
}

TEST(MediaPacketQueue, AKeyFrameOnlyAtTheFrontIsNoDropPoint) {
    MediaPacketQueue queue;
    fill(queue, "KVAVA");
    EXPECT_EQ(queue.dropToLastKey(), 0u);
    EXPECT_EQ(kinds(queue), "KVAVA");
}

TEST(MediaPacketQueue, WithoutKeyFramesNothingIsDropped) {
    MediaPacketQueue queue;
    EXPECT_EQ(queue.dropToLastKey(), 0u);
    fill(queue, "VAVA");
    EXPECT_EQ(queue.dropToLastKey(), 0u);
    EXPECT_EQ(queue.size(), 4u);
}

TEST(MediaPacketQueue, AudioFlaggedAsKeyIsNoDropPoint) {
    MediaPacketQueue queue;
    fill(queue, "VV");
    auto audioKey = packet('A');
    audioKey->flags = 1;
    queue.push(audioKey);
    EXPECT_EQ(queue.dropToLastKey(), 0u);
}

TEST(MediaPacketQueue, PushReturnsTheLengthAndPopIsFirstInFirstOut) {
    MediaPacketQueue queue;
    EXPECT_TRUE(queue.empty());
    EXPECT_EQ(queue.push(packet('K')), 1u);
    EXPECT_EQ(queue.push(packet('A')), 2u);
    EXPECT_FALSE(queue.empty());
    EXPECT_EQ(kinds(queue), "KA");
    EXPECT_TRUE(queue.empty());
}

TEST(MediaPacketQueue, PopWithZeroTimeoutOnAnEmptyQueueReturnsAtOnce) {
    MediaPacketQueue queue;
    std::shared_ptr<MediaPacket> out;
    EXPECT_FALSE(queue.pop(out, 0));
    EXPECT_EQ(out, nullptr);
}

TEST(MediaPacketQueue, PopWithTimeoutGivesUpWhenNothingArrives) {
    MediaPacketQueue queue;
    std::shared_ptr<MediaPacket> out;
    EXPECT_FALSE(queue.pop(out, 30));
}

TEST(MediaPacketQueue, PopWithoutLimitWaitsForThePush) {
    MediaPacketQueue queue;
    std::shared_ptr<MediaPacket> out;
    std::thread consumer([&] { queue.pop(out, -1); });
    queue.push(packet('K'));
    consumer.join();
    ASSERT_NE(out, nullptr);
    EXPECT_TRUE(out->isKey());
}

TEST(MediaPacketQueue, PopWithTimeoutTakesAPacketPushedWhileWaiting) {
    MediaPacketQueue queue;
    std::shared_ptr<MediaPacket> out;
    bool got = false;
    std::thread consumer([&] { got = queue.pop(out, 10000); });
    queue.push(packet('V'));
    consumer.join();
    EXPECT_TRUE(got);
}
