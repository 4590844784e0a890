// The outputs status (code 4880): its wire layout, the split into datagrams and the reader's
// reassembly, which never shows half an update, and its staleness.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "OutputsState.h"
#include "OutputsStatusParts.h"

namespace {

std::vector<enc::OutputStatusEntry> outputs(size_t count, uint64_t bytes) {
    std::vector<enc::OutputStatusEntry> list(count);
    for (size_t i = 0; i < count; ++i) {
        list[i].protocol = int32_t(1 + i % 6);
        list[i].state = enc::kOutputServing;
        list[i].bytes = bytes + i;
        std::snprintf(list[i].address, sizeof list[i].address, "output %zu", i);
    }
    return list;
}

enc::OutputsStatusTotals totals(uint32_t sequence, uint8_t stream = 0) {
    enc::OutputsStatusTotals t;
    t.stream = stream;
    t.sequence = sequence;
    t.encoderBitrate = 2000000;
    t.encoderFpsMilli = 30000;
    return t;
}

bool apply(enc::OutputsState& state, const std::vector<uint8_t>& part, int64_t nowMs) {
    return state.applyPart(part.data(), part.size(), nowMs);
}

}  // namespace

TEST(OutputsStatusRecordTest, EveryPartFitsTheReceiveBufferAndCarriesItsPlace) {
    struct Case {
        size_t outputs;
        size_t parts;
    };
    for (const Case c : {Case{0, 1}, Case{1, 1}, Case{5, 1}, Case{6, 2}, Case{11, 3}, Case{64, 13},
                         Case{70, 13}}) {
        const auto parts = enc::outputsStatusParts(totals(9), outputs(c.outputs, 0));
        ASSERT_EQ(parts.size(), c.parts) << c.outputs;
        size_t covered = 0;
        for (size_t i = 0; i < parts.size(); ++i) {
            EXPECT_LE(parts[i].size() + enc::kMediaHeaderSize, enc::kMediaReceiveBufferSize);
            enc::OutputsStatusHeader h;
            std::memcpy(&h, parts[i].data(), sizeof h);
            EXPECT_EQ(h.version, 1);
            EXPECT_EQ(h.headerSize, 32);
            EXPECT_EQ(h.entrySize, 256);
            EXPECT_EQ(h.sequence, 9u);
            EXPECT_EQ(h.partIndex, i);
            EXPECT_EQ(h.partCount, c.parts);
            EXPECT_EQ(h.firstOutput, covered);
            EXPECT_EQ(h.outputCount, std::min<size_t>(c.outputs, 64));
            EXPECT_EQ(parts[i].size(), 32 + 256 * size_t(h.entryCount));
            covered += h.entryCount;
        }
        EXPECT_EQ(covered, std::min<size_t>(c.outputs, 64));
    }
}

TEST(OutputsStateTest, AnUpdateShowsOnlyOnceAllItsPartsAreIn) {
    enc::OutputsState state;
    const auto first = enc::outputsStatusParts(totals(1), outputs(7, 100));
    for (const auto& part : first) {
        EXPECT_TRUE(apply(state, part, 1000));
    }
    auto s = state.snapshot(0, 1000);
    ASSERT_TRUE(s.current.valid);
    ASSERT_EQ(s.current.outputs.size(), 7u);
    EXPECT_EQ(s.current.outputs[6].bytes, 106u);
    EXPECT_STREQ(s.current.outputs[6].address, "output 6");
    EXPECT_EQ(s.current.encoderBitrate, 2000000u);

    // The first half of update 2 arrives, the rest is lost: update 1 stays whole.
    const auto second = enc::outputsStatusParts(totals(2), outputs(7, 500));
    EXPECT_TRUE(apply(state, second[0], 2000));
    s = state.snapshot(0, 2000);
    EXPECT_EQ(s.current.sequence, 1u);
    EXPECT_EQ(s.current.outputs[0].bytes, 100u);
    EXPECT_EQ(s.current.outputs[6].bytes, 106u);

    // Update 3 arrives whole, its parts in reverse order; the stale half of 2 never mixes in.
    const auto third = enc::outputsStatusParts(totals(3), outputs(7, 900));
    EXPECT_TRUE(apply(state, third[1], 3000));
    EXPECT_TRUE(apply(state, second[1], 3000));  // abandons 3's half, starts 2 again...
    EXPECT_EQ(state.snapshot(0, 3000).current.sequence, 1u);  // ...which never completes
    EXPECT_TRUE(apply(state, third[1], 3000));
    EXPECT_TRUE(apply(state, third[1], 3000));  // a repeated part changes nothing
    EXPECT_TRUE(apply(state, third[0], 3100));
    s = state.snapshot(0, 3100);
    EXPECT_EQ(s.current.sequence, 3u);
    EXPECT_EQ(s.current.outputs[0].bytes, 900u);
    EXPECT_EQ(s.current.outputs[6].bytes, 906u);
    EXPECT_EQ(s.previous.sequence, 1u);                   // the rates are taken against it
    EXPECT_FALSE(state.snapshot(1, 3100).current.valid);  // the other stream is untouched
}

TEST(OutputsStateTest, MalformedPartsAreRefused) {
    enc::OutputsState state;
    const auto good = enc::outputsStatusParts(totals(1), outputs(3, 0))[0];
    auto with = [&](auto change) {
        std::vector<uint8_t> part = good;
        enc::OutputsStatusHeader h;
        std::memcpy(&h, part.data(), sizeof h);
        change(h, part);
        std::memcpy(part.data(), &h, sizeof h);
        return part;
    };
    using H = enc::OutputsStatusHeader;
    using P = std::vector<uint8_t>;
    const std::vector<std::pair<const char*, P>> bad = {
        {"cut short", P(good.begin(), good.end() - 1)},
        {"header only half there", P(good.begin(), good.begin() + 20)},
        {"stream 2", with([](H& h, P&) { h.stream = 2; })},
        {"version 0", with([](H& h, P&) { h.version = 0; })},
        {"small entries", with([](H& h, P&) { h.entrySize = 128; })},
        {"part beyond count", with([](H& h, P&) { h.partIndex = 1; })},
        {"no parts", with([](H& h, P&) { h.partCount = 0; })},
        {"entries beyond outputs", with([](H& h, P&) { h.firstOutput = 1; })},
        {"too many outputs", with([](H& h, P&) { h.outputCount = 65; })},
    };
    for (const auto& [name, part] : bad) {
        EXPECT_FALSE(apply(state, part, 0)) << name;
    }
    EXPECT_FALSE(state.snapshot(0, 0).current.valid);
    EXPECT_FALSE(state.applyPart(nullptr, 100, 0));

    // A larger header and entries of a later version are read for the fields known here.
    P grown(48 + 3 * 300, 0);
    H h;
    std::memcpy(&h, good.data(), sizeof h);
    h.headerSize = 48;
    h.entrySize = 300;
    std::memcpy(grown.data(), &h, sizeof h);
    for (size_t i = 0; i < 3; ++i) {
        std::memcpy(grown.data() + 48 + i * 300, good.data() + 32 + i * 256, 256);
    }
    grown[48 + 300 + 96 + 63] = 'x';  // an unterminated address stays inside its entry
    ASSERT_TRUE(apply(state, grown, 0));
    const auto s = state.snapshot(0, 0);
    ASSERT_EQ(s.current.outputs.size(), 3u);
    EXPECT_EQ(s.current.outputs[2].bytes, 2u);
    EXPECT_EQ(std::strlen(s.current.outputs[1].address), 8u);
}

TEST(OutputsStateTest, AnUpdateOlderThanFiveSecondsIsStale) {
    enc::OutputsState state;
    EXPECT_TRUE(state.snapshot(0, 0).stale);  // nothing received yet
    EXPECT_EQ(state.snapshot(0, 0).ageMs, -1);
    EXPECT_TRUE(state.snapshot(7, 0).stale);
    for (const auto& part : enc::outputsStatusParts(totals(1), outputs(2, 0))) {
        apply(state, part, 10000);
    }
    EXPECT_FALSE(state.snapshot(0, 10000).stale);
    EXPECT_FALSE(state.snapshot(0, 15000).stale);
    EXPECT_EQ(state.snapshot(0, 15000).ageMs, 5000);
    EXPECT_TRUE(state.snapshot(0, 15001).stale);
    EXPECT_TRUE(state.snapshot(0, 15001).current.valid);  // the last figures stay readable
}
