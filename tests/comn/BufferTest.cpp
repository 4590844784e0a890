#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "ByteBuffer.h"
#include "MemBuffer.h"

namespace {

std::string text(const ByteBuffer& b) {
    return std::string(reinterpret_cast<const char*>(b.data()), b.size());
}

// Null or empty writes allocate nothing; the first write allocates (size + 16 spare) * 2,
// and ensure grows only past the capacity, keeping the bytes and the terminating zero.
TEST(ByteBuffer, GrowsOnlyWhenNeededAndKeepsTheBytesTerminated) {
    ByteBuffer b;
    EXPECT_TRUE(b.write(nullptr, 5));
    EXPECT_TRUE(b.write("x", 0));
    EXPECT_TRUE(b.empty());
    EXPECT_EQ(b.capacity(), 0u);
    EXPECT_EQ(b.data(), nullptr);

    ASSERT_TRUE(b.write("0123456789", 10));
    EXPECT_EQ(b.capacity(), 36u);  // (10 + 16 + 0) * 2 = 52 allocated, 16 of them spare
    EXPECT_EQ(b.data()[10], 0);
    const uint8_t* before = b.data();
    EXPECT_TRUE(b.ensure(36));
    EXPECT_EQ(b.data(), before);
    EXPECT_TRUE(b.ensure(37));
    EXPECT_EQ(b.capacity(), 194u);  // (37 + 16 + 52) * 2 = 210 allocated
    EXPECT_EQ(text(b), "0123456789");
    EXPECT_EQ(b.data()[10], 0);
    EXPECT_TRUE(b.expect(100));
    EXPECT_GE(b.capacity(), 110u);
}

TEST(ByteBuffer, ClearKeepsTheArrayAndCleanupFreesIt) {
    ByteBuffer b;
    b.write("abcdef", 6);
    const uint8_t* array = b.data();
    b.clear();
    EXPECT_TRUE(b.empty());
    b.write("xy", 2);
    EXPECT_EQ(b.data(), array);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(b.data())), "xy");
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
    EXPECT_EQ(text(b), expected);
    EXPECT_EQ(b.data()[b.size()], 0);
}

TEST(MemBuffer, ReserveDoublesFromTheCurrentCapacity) {
    MemBuffer m;
    EXPECT_TRUE(m.reserve(100));
    EXPECT_EQ(m.capacity(), 100u);
    EXPECT_TRUE(m.reserve(101));
    EXPECT_EQ(m.capacity(), 200u);
    EXPECT_FALSE(m.reserve(150));
    EXPECT_EQ(m.capacity(), 200u);
    EXPECT_TRUE(m.reserve(801));
    EXPECT_EQ(m.capacity(), 1600u);
    MemBuffer sized(64);
    EXPECT_EQ(sized.capacity(), 64u);
    sized.resize(200);
    EXPECT_EQ(sized.size(), 200u);
    EXPECT_EQ(sized.capacity(), 256u);
}

TEST(MemBuffer, AppendClearCopyAndRelease) {
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
    MemBuffer b;
    b.append("zz", 2);
    b.copyFrom(m);
    EXPECT_EQ(b.size(), 1u);
    EXPECT_EQ(std::memcmp(b.data(), "x", 1), 0);
    b.release();
    EXPECT_EQ(b.data(), nullptr);
    EXPECT_EQ(b.capacity(), 0u);
}

}  // namespace
