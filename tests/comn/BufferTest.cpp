#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "ByteBuffer.h"
#include "MemBuffer.h"

namespace {

TEST(ByteBuffer, StartsEmpty) {
    ByteBuffer b;
    EXPECT_EQ(b.size(), 0u);
    EXPECT_TRUE(b.empty());
    EXPECT_EQ(b.capacity(), 0u);
    EXPECT_EQ(b.data(), nullptr);
}

TEST(ByteBuffer, FirstWriteAllocatesDoubleThePlusSpare) {
    ByteBuffer b;
    ASSERT_TRUE(b.write("0123456789", 10));
    // (10 + 16 + 0) * 2 = 52 allocated, 16 of them spare.
    EXPECT_EQ(b.capacity(), 36u);
    EXPECT_EQ(b.size(), 10u);
    EXPECT_EQ(b.data()[10], 0);
    EXPECT_STREQ(reinterpret_cast<const char*>(b.data()), "0123456789");
}

TEST(ByteBuffer, EnsureGrowsOnlyPastTheCapacity) {
    ByteBuffer b;
    b.write("0123456789", 10);
    const uint8_t* before = b.data();
    EXPECT_TRUE(b.ensure(36));
    EXPECT_EQ(b.data(), before);
    EXPECT_EQ(b.capacity(), 36u);
    EXPECT_TRUE(b.ensure(37));
    // (37 + 16 + 52) * 2 = 210 allocated.
    EXPECT_EQ(b.capacity(), 194u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(b.data()), b.size()), "0123456789");
    EXPECT_EQ(b.data()[10], 0);
}

TEST(ByteBuffer, NullOrEmptyWritesChangeNothing) {
    ByteBuffer b;
    EXPECT_TRUE(b.write(nullptr, 5));
    EXPECT_TRUE(b.write("x", 0));
    EXPECT_EQ(b.size(), 0u);
    EXPECT_EQ(b.capacity(), 0u);
}

TEST(ByteBuffer, ClearKeepsTheArrayForReuse) {
    ByteBuffer b;
    b.write("abcdef", 6);
    const uint8_t* array = b.data();
    b.clear();
    EXPECT_TRUE(b.empty());
    b.write("xy", 2);
    EXPECT_EQ(b.data(), array);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(b.data())), "xy");
}

TEST(ByteBuffer, ExpectAndCleanup) {
    ByteBuffer b;
    b.write("abc", 3);
    EXPECT_TRUE(b.expect(100));
    EXPECT_GE(b.capacity(), 103u);
    b.cleanup();
    EXPECT_EQ(b.data(), nullptr);
    EXPECT_EQ(b.capacity(), 0u);
    EXPECT_EQ(b.size(), 0u);
}

TEST(ByteBuffer, ManyAppendsKeepTheContents) {
    ByteBuffer b;
    std::string expected;
    for (int i = 0; i < 1000; ++i) {
        const std::string piece = std::to_string(i) + ",";
        b.write(piece.data(), piece.size());
        expected += piece;
    }
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(b.data()), b.size()), expected);
    EXPECT_EQ(b.data()[b.size()], 0);
}

TEST(MemBuffer, ReserveDoublesFromTheCurrentCapacity) {
    MemBuffer m;
    EXPECT_EQ(m.capacity(), 0u);
    EXPECT_TRUE(m.reserve(100));
    EXPECT_EQ(m.capacity(), 100u);
    EXPECT_TRUE(m.reserve(101));
    EXPECT_EQ(m.capacity(), 200u);
    EXPECT_FALSE(m.reserve(150));
    EXPECT_EQ(m.capacity(), 200u);
    EXPECT_TRUE(m.reserve(801));
    EXPECT_EQ(m.capacity(), 1600u);
}

TEST(MemBuffer, AppendAfterClearKeepsCapacity) {
    MemBuffer m;
    m.append("hello", 5);
    m.append(" world", 6);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(m.data()), m.size()), "hello world");
    const size_t cap = m.capacity();
    m.clear();
    EXPECT_EQ(m.size(), 0u);
    m.append("x", 1);
    EXPECT_EQ(m.capacity(), cap);
    EXPECT_EQ(m.data()[0], 'x');
}

TEST(MemBuffer, ConstructionReservesAndResizeSetsTheLength) {
    MemBuffer m(64);
    EXPECT_EQ(m.capacity(), 64u);
    EXPECT_EQ(m.size(), 0u);
    m.resize(200);
    EXPECT_EQ(m.size(), 200u);
    EXPECT_EQ(m.capacity(), 256u);
}

TEST(MemBuffer, CopyFromTakesTheOthersBytes) {
    MemBuffer a;
    a.append("abcdef", 6);
    MemBuffer b;
    b.append("zz", 2);
    b.copyFrom(a);
    EXPECT_EQ(b.size(), 6u);
    EXPECT_EQ(std::memcmp(b.data(), "abcdef", 6), 0);
    b.release();
    EXPECT_EQ(b.data(), nullptr);
    EXPECT_EQ(b.capacity(), 0u);
}

}  // namespace
