// The send queue shared by a caster's datagram targets, and the pace of its sender.
#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <cerrno>
#include <string>
#include <vector>

#include "ByteClock.h"
#include "DatagramFanout.h"
#include "SendPace.h"

using av::ByteClock;
using av::Datagram;
using av::DatagramFanout;
using av::NetAddress;
using av::SendPace;

namespace {

DatagramFanout::DatagramRef datagram(uint8_t tag, size_t size = 188) {
    auto d = std::make_shared<Datagram>();
    const std::vector<uint8_t> bytes(size, tag);
    d->assign(nullptr, 0, bytes.data(), bytes.size());
    return d;
}

DatagramFanout::Destination destination(uint16_t port) {
    DatagramFanout::Destination d;
    d.address = NetAddress("127.0.0.1", port);
    d.socketAddress.sin_family = AF_INET;
    d.socketAddress.sin_port = htons(port);
    return d;
}

// What each destination (by port) is given per take, as tags.
std::vector<std::pair<uint16_t, uint8_t>> takeAll(DatagramFanout& fanout, size_t perDestination) {
    std::vector<DatagramFanout::Send> sends;
    fanout.take(perDestination, sends);
    std::vector<std::pair<uint16_t, uint8_t>> out;
    for (const auto& s : sends) {
        out.emplace_back(ntohs(s.socketAddress.sin_port), s.datagram->bytes[0]);
    }
    std::vector<DatagramFanout::Failure> failures;
    fanout.settle(sends, failures);
    return out;
}

using Taken = std::vector<std::pair<uint16_t, uint8_t>>;

}  // namespace

TEST(DatagramFanout, NothingIsQueuedWithoutDestinations) {
    DatagramFanout fanout(8);
    EXPECT_FALSE(fanout.push(datagram(1)));
    EXPECT_EQ(fanout.queued(), 0u);
    EXPECT_FALSE(fanout.hasPending());
}

// Each destination gets the same datagrams in the same order, at most perDestination per
// take, destinations in list order; one queued copy serves all of them.
TEST(DatagramFanout, EveryDestinationGetsTheSameDatagramsInOrderInSlices) {
    DatagramFanout fanout(16);
    fanout.setDestinations({destination(1), destination(2)});
    for (uint8_t tag = 0; tag < 6; ++tag) {
        fanout.push(datagram(tag));
    }
    EXPECT_EQ(fanout.maxBacklog(), 6u);
    EXPECT_EQ(takeAll(fanout, 4),
              (Taken{{1, 0}, {1, 1}, {1, 2}, {1, 3}, {2, 0}, {2, 1}, {2, 2}, {2, 3}}));
    EXPECT_EQ(fanout.queued(), 2u);  // what both have had is let go
    EXPECT_EQ(takeAll(fanout, 4), (Taken{{1, 4}, {1, 5}, {2, 4}, {2, 5}}));
    EXPECT_FALSE(fanout.hasPending());
    EXPECT_EQ(fanout.queued(), 0u);
}

// A destination added later starts with the next datagram; one that stays keeps its place
// and its counters; a removed one is forgotten, and what was on its way is not counted.
TEST(DatagramFanout, DestinationChangesKeepEveryoneElsesPlace) {
    DatagramFanout fanout(16);
    fanout.setDestinations({destination(1)});
    fanout.push(datagram(0));
    fanout.push(datagram(1));
    EXPECT_EQ(takeAll(fanout, 1), (Taken{{1, 0}}));
    fanout.setDestinations({destination(1), destination(2)});
    fanout.push(datagram(2));
    EXPECT_EQ(takeAll(fanout, 4), (Taken{{1, 1}, {1, 2}, {2, 2}}));

    fanout.push(datagram(3));
    std::vector<DatagramFanout::Send> sends;
    fanout.take(4, sends);
    fanout.setDestinations({destination(2)});  // 1 removed while its send is under way
    // A snapshot during the send still counts the datagram as backlog: not caught up yet.
    ASSERT_EQ(fanout.stats().size(), 1u);
    EXPECT_EQ(fanout.stats()[0].counters.backlogBytes, 188u);
    std::vector<DatagramFanout::Failure> failures;
    fanout.settle(sends, failures);
    const auto stats = fanout.stats();
    ASSERT_EQ(stats.size(), 1u);
    EXPECT_EQ(stats[0].address.port(), 2);
    EXPECT_EQ(stats[0].counters.datagrams, 2u);
    EXPECT_EQ(stats[0].counters.bytes, 2u * 188);
    EXPECT_EQ(stats[0].counters.backlogBytes, 0u);
}

// One at a time: add appends (a second add of the same address is refused), remove takes
// out only that one, and a destination whose name did not resolve is listed and counts its
// datagrams as dropped but is never sent to.
TEST(DatagramFanout, SingleAddsAndRemovesAndAnUnresolvedDestination) {
    DatagramFanout fanout(16);
    EXPECT_TRUE(fanout.addDestination(destination(1)));
    EXPECT_FALSE(fanout.addDestination(destination(1)));
    DatagramFanout::Destination unresolved = destination(3);
    unresolved.resolved = false;
    EXPECT_TRUE(fanout.addDestination(destination(2)));
    EXPECT_TRUE(fanout.addDestination(unresolved));
    fanout.push(datagram(0));
    fanout.removeDestination(NetAddress("127.0.0.1", 1));
    fanout.removeDestination(NetAddress("127.0.0.1", 9));  // none: nothing changes
    fanout.push(datagram(1));
    EXPECT_EQ(takeAll(fanout, 4), (Taken{{2, 0}, {2, 1}}));
    const auto stats = fanout.stats();
    ASSERT_EQ(stats.size(), 2u);
    EXPECT_EQ(stats[0].address.port(), 2);
    EXPECT_EQ(stats[1].address.port(), 3);
    EXPECT_EQ(stats[1].counters.dropped, 2u);
    EXPECT_EQ(stats[1].counters.datagrams, 0u);
    EXPECT_EQ(fanout.queued(), 0u);
}

// Full: the oldest whole datagram goes, counted for each destination that had not had it.
TEST(DatagramFanout, AFullQueueDropsTheOldestAndCountsItPerDestination) {
    DatagramFanout fanout(3);
    fanout.setDestinations({destination(1), destination(2)});
    fanout.push(datagram(0));
    fanout.push(datagram(1));
    fanout.push(datagram(2));
    std::vector<DatagramFanout::Send> sends;
    fanout.take(1, sends);                   // both have datagram 0 on its way
    EXPECT_FALSE(fanout.push(datagram(3)));  // 0 was let go: room again
    EXPECT_TRUE(fanout.push(datagram(4)));   // drops 1
    EXPECT_TRUE(fanout.push(datagram(5)));   // drops 2
    EXPECT_EQ(fanout.queued(), 3u);
    std::vector<DatagramFanout::Failure> failures;
    fanout.settle(sends, failures);
    EXPECT_EQ(takeAll(fanout, 4), (Taken{{1, 3}, {1, 4}, {1, 5}, {2, 3}, {2, 4}, {2, 5}}));
    for (const auto& s : fanout.stats()) {
        EXPECT_EQ(s.counters.dropped, 2u);
        EXPECT_EQ(s.counters.datagrams, 4u);
    }
}

TEST(DatagramFanout, FailedSendsAreCountedWithTheirErrnoAndReported) {
    DatagramFanout fanout(8);
    fanout.setDestinations({destination(1), destination(2)});
    fanout.push(datagram(0, 1316));
    fanout.push(datagram(1, 376));
    std::vector<DatagramFanout::Send> sends;
    fanout.take(4, sends);
    ASSERT_EQ(sends.size(), 4u);
    sends[2].error = ECONNREFUSED;  // destination 2, first datagram
    sends[3].error = EMSGSIZE;
    std::vector<DatagramFanout::Failure> failures;
    fanout.settle(sends, failures);
    ASSERT_EQ(failures.size(), 2u);
    EXPECT_EQ(failures[0].address.port(), 2);
    EXPECT_EQ(failures[0].size, 1316u);
    EXPECT_EQ(failures[0].error, ECONNREFUSED);
    const auto stats = fanout.stats();
    EXPECT_EQ(stats[0].counters.datagrams, 2u);
    EXPECT_EQ(stats[0].counters.bytes, 1316u + 376);
    EXPECT_EQ(stats[0].counters.sendErrors, 0u);
    EXPECT_EQ(stats[1].counters.datagrams, 0u);
    EXPECT_EQ(stats[1].counters.sendErrors, 2u);
    EXPECT_EQ(stats[1].counters.lastErrno, EMSGSIZE);
}

TEST(DatagramFanout, BacklogIsTheBytesNotYetTakenAndClearCountsThemDropped) {
    DatagramFanout fanout(8);
    fanout.setDestinations({destination(1)});
    fanout.push(datagram(0, 1316));
    fanout.push(datagram(1, 188));
    EXPECT_EQ(fanout.stats()[0].counters.backlogBytes, 1316u + 188);
    takeAll(fanout, 1);
    EXPECT_EQ(fanout.stats()[0].counters.backlogBytes, 188u);
    fanout.clear();
    EXPECT_EQ(fanout.stats()[0].counters.backlogBytes, 0u);
    EXPECT_EQ(fanout.stats()[0].counters.dropped, 1u);
    EXPECT_FALSE(fanout.hasPending());
}

// Before the rate is known, and when closing, bursts of four: the backlog spread over the
// horizon, never below the shortest tick. With a rate: one datagram per tick a quarter
// faster than the stream, until the backlog outgrows the smoothing budget; then bursts again.
TEST(SendPace, TicksFollowBacklogAndMeasuredRate) {
    using Tick = SendPace::Tick;
    auto same = [](Tick a, Tick b) {
        return a.periodNs == b.periodNs && a.perDestination == b.perDestination;
    };
    SendPace pace;
    EXPECT_TRUE(same(pace.next(0, false), {SendPace::kHorizonNs, 4}));
    EXPECT_TRUE(same(pace.next(4, false), {SendPace::kHorizonNs, 4}));
    EXPECT_TRUE(same(pace.next(5, false), {SendPace::kHorizonNs / 2, 4}));
    EXPECT_TRUE(same(pace.next(40, false), {SendPace::kHorizonNs / 10, 4}));
    EXPECT_TRUE(same(pace.next(1'000'000, false), {SendPace::kMinPeriodNs, 4}));
    EXPECT_TRUE(same(pace.next(1, true), {SendPace::kMinPeriodNs, 4}));

    // 1000 datagrams per second, arriving evenly: one per tick every 0.8 ms.
    for (int64_t i = 0; i <= 100; ++i) {
        pace.onArrival(i * 1'000'000);
    }
    EXPECT_NEAR(pace.rate(), 1000.0, 20.0);
    const Tick even = pace.next(1, false);
    EXPECT_EQ(even.perDestination, 1u);
    EXPECT_NEAR(static_cast<double>(even.periodNs), 0.8e6, 2e4);
    EXPECT_EQ(pace.next(250, false).perDestination, 1u);  // within 300 ms of stream
    // Far behind: bursts of four, the backlog spread over the horizon.
    EXPECT_TRUE(same(pace.next(400, false), {SendPace::kHorizonNs / 100, 4}));

    // A writer far ahead of real time: the even pace gives way to bursts before the
    // queue fills.
    SendPace fast;
    for (int64_t i = 0; i <= 100'000; ++i) {
        fast.onArrival(i * 1'000);
    }
    EXPECT_EQ(fast.next(SendPace::kSmoothingDatagrams, false).perDestination, 1u);
    EXPECT_TRUE(
        same(fast.next(SendPace::kSmoothingDatagrams + 1, false), {SendPace::kMinPeriodNs, 4}));
}

// Constant-rate streams: only datagrams due by the tick's time are taken, and the earliest
// due time is that of the furthest-behind destination's next datagram.
TEST(DatagramFanout, OnlyDueDatagramsAreTaken) {
    DatagramFanout fanout(16);
    fanout.setDestinations({destination(1), destination(2)});
    EXPECT_EQ(fanout.earliestDue(), INT64_MAX);
    for (uint8_t tag = 0; tag < 3; ++tag) {
        auto d = std::make_shared<Datagram>();
        d->assign(nullptr, 0, &tag, 1);
        d->dueNs = 100 * (tag + 1);
        fanout.push(d);
    }
    EXPECT_EQ(fanout.earliestDue(), 100);
    std::vector<DatagramFanout::Send> sends;
    // The burst it reports sets the pause before the next: a sender that is on time never waits
    // longer than its next datagram's due time.
    EXPECT_EQ(fanout.take(4, sends, 250), 2u);  // 100 and 200 for each: two 1-byte datagrams
    EXPECT_EQ(sends.size(), 4u);
    std::vector<DatagramFanout::Failure> failures;
    fanout.settle(sends, failures);
    EXPECT_EQ(fanout.earliestDue(), 300);
}

// The byte clock of a constant-rate stream: the first block is due a latency after its write,
// each later one when the bytes before it have gone at the rate, however early or late the
// writer (within kResyncNs; beyond, the clock starts afresh). A late sender bursts again no
// sooner than a burst takes at twice the rate. Without a rate nothing is held back.
TEST(ByteClock, BlocksAreDueByTheirBytes) {
    ByteClock clock;
    EXPECT_EQ(clock.due(1316, 5'000), 0);
    clock.setRate(8'000'000);  // a byte per microsecond
    const int64_t start = 1'000'000'000;
    const struct {
        int64_t writtenNs;
        int64_t dueNs;
    } blocks[] = {
        {start, start + ByteClock::kLatencyNs},
        {start, start + ByteClock::kLatencyNs + 1'000'000},                  // 1000 bytes on
        {start + 50'000'000, start + ByteClock::kLatencyNs + 2'000'000},     // an early writer
        {start + 400'000'000, start + ByteClock::kLatencyNs + 3'000'000},    // a late one
        {start + 700'000'000, start + 700'000'000 + ByteClock::kLatencyNs},  // paused: afresh
    };
    for (const auto& block : blocks) {
        EXPECT_EQ(clock.due(1000, block.writtenNs), block.dueNs) << block.writtenNs - start;
    }
    EXPECT_EQ(clock.nextBurst(0, 4000, 100), 2'000'000);  // 4000 bytes at 16 Mbit/s
    EXPECT_EQ(clock.nextBurst(0, 4000, 3'000'000), 3'000'000);
    clock.restart();
    EXPECT_EQ(clock.due(1000, 7), 7 + ByteClock::kLatencyNs);
}
