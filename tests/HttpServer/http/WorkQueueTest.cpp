// The web server's worker for long calls: jobs in order, and nothing lost at the stop.

#include <gtest/gtest.h>

#include <future>
#include <mutex>
#include <thread>
#include <vector>

#include "WorkQueue.h"

namespace {

// Every job runs exactly once: those queued run in order, the one in progress finishes,
// those left at the stop and those posted after it are told the queue stops (a suspended
// connection must be resumed either way).
TEST(WorkQueue, EveryJobRunsOnceInOrderAndTheLateOnesAreToldItStops) {
    http::WorkQueue queue;
    std::mutex mutex;
    std::vector<std::pair<int, bool>> ran;
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::promise<void> started;
    queue.post([&](bool stopping) {
        started.set_value();
        released.wait();
        std::lock_guard<std::mutex> lock(mutex);
        ran.emplace_back(0, stopping);
    });
    for (int i = 1; i <= 3; ++i) {
        queue.post([&, i](bool stopping) {
            std::lock_guard<std::mutex> lock(mutex);
            ran.emplace_back(i, stopping);
        });
    }
    started.get_future().wait();
    std::thread stopper([&] { queue.stop(); });
    release.set_value();
    stopper.join();
    queue.post([&](bool stopping) { ran.emplace_back(4, stopping); });
    ASSERT_EQ(ran.size(), 5u);
    EXPECT_EQ(ran[0], std::make_pair(0, false));
    for (int i = 1; i <= 4; ++i) {
        EXPECT_EQ(ran[i].first, i);
    }
    EXPECT_TRUE(ran[4].second) << "posted after the stop";
}

}  // namespace
