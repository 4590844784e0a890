#pragma once
// Chief header of the common runtime: the worker thread base, plus the lock, singleton
// and clock classes that every long-running object uses with it.

#include <pthread.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "ClockTime.h"
#include "Mutex.h"
#include "Singleton.h"

namespace comn {

/// Worker thread base. A subclass implements run(), which polls isStopping().
///
/// Lifecycle: idle after construction, running between a successful start() and the end
/// of the worker, idle again afterwards; it can be started again. The worker thread is
/// kept joinable and is reaped by join(), stop(), the next start() or the destructor, so
/// stop() always returns once the worker has ended (no self-detach racing a join).
///
/// Destroying a running Thread is a programming error (assertion "isRunning() == false"):
/// owners stop the worker before the object goes.
class Thread {
public:
    Thread() = default;
    virtual ~Thread();
    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;

    /// Clears the stop flag and creates the worker. False when the thread could not be
    /// created, or when a worker is still running.
    bool start();

    /// Sets the stop flag, calls doStop() on this thread, then waits for the worker without
    /// time limit. Returns at once on an idle object. Must not be called from the worker.
    void stop();

    /// Waits for the worker to end. timeoutMs <= 0 waits without limit. True when the worker
    /// has ended (or never ran); false on time-out, or when called from the worker itself.
    bool join(int timeoutMs = -1);

    bool isRunning() const { return m_running.load(); }

    /// Stack size in bytes for the next start(); 0 selects the system default.
    void setStackSize(unsigned int bytes) { m_stackSize = bytes; }
    unsigned int getStackSize() const { return m_stackSize; }

    /// Scheduling of the running worker: 1..99 real-time (SCHED_FIFO) at that priority, 0 the
    /// normal scheduler. Returns 0, ESRCH when no worker runs, EINVAL out of range, or the
    /// system's refusal (EPERM without CAP_SYS_NICE or RLIMIT_RTPRIO): the worker then keeps
    /// its scheduling.
    int setRealtimePriority(int priority);

    /// Kernel thread id of the worker while it runs, 0 otherwise.
    int getThreadId() const { return m_threadId.load(); }

protected:
    /// The worker's body; its result is not used.
    virtual int run() = 0;
    /// Called on the worker before run(); false skips run() (cleanup() still runs).
    virtual bool startup() { return true; }
    /// Called on the worker after run() or after a failed startup().
    virtual void cleanup() {}
    /// Called on the stopping thread right after the stop flag is set, to wake the worker.
    /// Runs concurrently with the worker: only thread-safe actions belong here.
    virtual void doStop() {}

    /// The stop flag, polled by run() loops.
    bool isStopping() const { return m_stop.load(); }

private:
    static void* routine(void* arg);
    void reap();

    unsigned int m_stackSize = 0;
    std::atomic<int> m_threadId{0};
    std::atomic<bool> m_running{false};
    std::atomic<bool> m_stop{false};

    std::mutex m_stateMutex;  // guards m_handle, m_joinable and the end-of-worker signal
    std::condition_variable m_ended;
    std::mutex m_reapMutex;  // one pthread_join at a time
    pthread_t m_handle{};
    bool m_joinable = false;
};

}  // namespace comn
