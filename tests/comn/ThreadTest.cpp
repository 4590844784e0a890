#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <thread>

#include "TThread.h"
#include "TestSupport.h"

namespace {

using namespace std::chrono_literals;

// A worker that loops until asked to stop, recording which hooks ran.
class LoopThread : public comn::Thread {
public:
    std::atomic<bool> started{false};
    std::atomic<int> runs{0};
    std::atomic<int> cleanups{0};
    std::atomic<int> stops{0};
    bool startupResult = true;

protected:
    bool startup() override {
        started = true;
        return startupResult;
    }
    int run() override {
        ++runs;
        while (!isStopping()) {
            std::this_thread::sleep_for(1ms);
        }
        return 0;
    }
    void cleanup() override { ++cleanups; }
    void doStop() override { ++stops; }
};

// A worker that ends on its own after a given time.
class ShortThread : public comn::Thread {
public:
    explicit ShortThread(std::chrono::milliseconds d) : m_duration(d) {}
    ~ShortThread() override { join(); }

protected:
    int run() override {
        std::this_thread::sleep_for(m_duration);
        return 0;
    }

private:
    std::chrono::milliseconds m_duration;
};

TEST(Thread, StartRunsTheWorkerAndStopJoinsIt) {
    LoopThread t;
    EXPECT_FALSE(t.isRunning());
    ASSERT_TRUE(t.start());
    EXPECT_TRUE(t.isRunning());
    ASSERT_TRUE(testsupport::waitFor([&] { return t.runs == 1; }));
    t.stop();
    EXPECT_FALSE(t.isRunning());
    EXPECT_EQ(t.runs, 1);
    EXPECT_EQ(t.cleanups, 1);
    EXPECT_EQ(t.stops, 1);
    EXPECT_EQ(t.getThreadId(), 0);
}

// A never-started object: join returns at once, stop calls doStop without waiting.
TEST(Thread, AnIdleObjectJoinsAndStopsAtOnce) {
    LoopThread t;
    EXPECT_TRUE(t.join(-1));
    EXPECT_TRUE(t.join(10));
    t.stop();
    EXPECT_EQ(t.stops, 1);
    EXPECT_FALSE(t.isRunning());
}

TEST(Thread, TimedJoinFailsWhileTheWorkerRunsAndSucceedsAfterItEnds) {
    LoopThread t;
    ASSERT_TRUE(t.start());
    EXPECT_FALSE(t.join(20));
    EXPECT_TRUE(t.isRunning());
    t.stop();
    EXPECT_TRUE(t.join(20));
}

TEST(Thread, UntimedJoinWaitsForAWorkerThatEndsOnItsOwn) {
    ShortThread t(30ms);
    ASSERT_TRUE(t.start());
    EXPECT_TRUE(t.join(0));
    EXPECT_FALSE(t.isRunning());
}

TEST(Thread, FailingStartupSkipsRunButStillCleansUp) {
    LoopThread t;
    t.startupResult = false;
    ASSERT_TRUE(t.start());
    ASSERT_TRUE(t.join(5000));
    EXPECT_TRUE(t.started);
    EXPECT_EQ(t.runs, 0);
    EXPECT_EQ(t.cleanups, 1);
    EXPECT_FALSE(t.isRunning());
}

TEST(Thread, AStopRequestedBeforeTheWorkerBeginsSkipsEveryHook) {
    for (int i = 0; i < 20; ++i) {
        LoopThread t;
        ASSERT_TRUE(t.start());
        t.stop();
        // Either the worker began (run and cleanup once) or it saw the flag first (neither).
        EXPECT_EQ(t.runs, t.cleanups);
        EXPECT_FALSE(t.isRunning());
    }
}

// Started again after stopping, with a custom stack size on the last round.
TEST(Thread, CanBeStartedAgainAfterStoppingAndWithACustomStack) {
    LoopThread t;
    for (int i = 1; i <= 3; ++i) {
        if (i == 3) {
            t.setStackSize(256 * 1024);
        }
        ASSERT_TRUE(t.start());
        ASSERT_TRUE(testsupport::waitFor([&] { return t.runs == i; }));
        t.stop();
    }
    EXPECT_EQ(t.runs, 3);
    EXPECT_EQ(t.getStackSize(), 256u * 1024);
}

TEST(Thread, StopReturnsWhenTheWorkerEndedBeforeTheJoin) {
    // The worker ends on its own while stop() is on its way: stop() must still return.
    for (int i = 0; i < 50; ++i) {
        ShortThread t(std::chrono::milliseconds(i % 3));
        ASSERT_TRUE(t.start());
        t.stop();
        EXPECT_FALSE(t.isRunning());
    }
}

TEST(Thread, ConcurrentJoinersAllReturn) {
    ShortThread t(40ms);
    ASSERT_TRUE(t.start());
    std::atomic<int> joined{0};
    std::thread a([&] { joined += t.join(-1) ? 1 : 0; });
    std::thread b([&] { joined += t.join(5000) ? 1 : 0; });
    a.join();
    b.join();
    EXPECT_EQ(joined, 2);
}

TEST(ThreadDeathTest, DestroyingARunningThreadStopsTheProcess) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            auto* t = new LoopThread;
            t->start();
            delete t;
        },
        "isRunning\\(\\) == false");
}

TEST(MutexDeathTest, IsRecursive) {
    // In a child with an alarm: a lock that is not recursive hangs on the second lock, and
    // the alarm then ends the child with a signal instead of exit status 0.
    EXPECT_EXIT(
        {
            ::alarm(10);
            comn::Mutex m;
            comn::AutoLock outer(m);
            comn::AutoLock inner(&m);
            inner.unlock();
            inner.unlock();  // a second unlock of the guard is harmless
            comn::AutoLock again(m);
            std::_Exit(0);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST(Mutex, ExcludesOtherThreads) {
    comn::Mutex m;
    int counter = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 10000; ++i) {
                comn::AutoLock lock(m);
                ++counter;
            }
        });
    }
    for (auto& t : threads) {
        t.join();
    }
    EXPECT_EQ(counter, 40000);
}

struct Counted {
    Counted() { ++constructed; }
    static inline std::atomic<int> constructed{0};
    int value = 7;
};

TEST(Singleton, ConstructsOneInstanceOnFirstUse) {
    std::vector<std::thread> threads;
    std::atomic<Counted*> seen[4] = {};
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] { seen[t] = &comn::Singleton<Counted>::instance(); });
    }
    for (auto& t : threads) {
        t.join();
    }
    EXPECT_EQ(Counted::constructed, 1);
    for (auto& p : seen) {
        EXPECT_EQ(p.load(), seen[0].load());
    }
    EXPECT_EQ(comn::Singleton<Counted>::instance().value, 7);
}

TEST(StopWatch, MeasuresMonotonicMilliseconds) {
    comn::StopWatch watch;
    const int64_t before = comn::ClockTime::getTime();
    std::this_thread::sleep_for(20ms);
    EXPECT_GE(watch.elapsed(), 20);
    EXPECT_GE(comn::ClockTime::getTime(), before + 20);
}

}  // namespace
