#pragma once
// One worker thread that runs posted jobs in order: the web server's slow board work,
// kept off its event loops.

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace http {

class WorkQueue {
public:
    /// A job is told whether the queue is stopping: it then only releases what it holds
    /// (the work itself is no longer wanted).
    using Job = std::function<void(bool stopping)>;

    WorkQueue();
    /// Stops the queue (see stop()).
    ~WorkQueue();
    WorkQueue(const WorkQueue&) = delete;
    WorkQueue& operator=(const WorkQueue&) = delete;

    /// Queues a job; from any thread. After stop() the job runs at once on the caller's
    /// thread, told that the queue is stopping.
    void post(Job job);
    /// Waits for the job in progress, runs every job still queued told that the queue is
    /// stopping, and ends the thread.
    void stop();

private:
    void run();

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<Job> m_jobs;
    bool m_stopping = false;
    std::thread m_thread;
};

}  // namespace http
