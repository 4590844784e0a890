#include "TThread.h"

#include <sched.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cassert>
#include <cerrno>
#include <chrono>

namespace comn {

Thread::~Thread() {
    assert(isRunning() == false);
    reap();
}

bool Thread::start() {
    if (isRunning()) {
        return false;
    }
    reap();  // a finished worker that nobody joined yet
    m_stop = false;

    std::lock_guard<std::mutex> lock(m_stateMutex);
    pthread_attr_t attr;
    pthread_attr_t* attrPtr = nullptr;
    if (m_stackSize != 0) {
        pthread_attr_init(&attr);
        pthread_attr_setstacksize(&attr, m_stackSize);
        attrPtr = &attr;
    }
    m_running = true;
    int rc = pthread_create(&m_handle, attrPtr, &Thread::routine, this);
    if (attrPtr != nullptr) {
        pthread_attr_destroy(&attr);
    }
    if (rc != 0) {
        m_running = false;
        return false;
    }
    m_joinable = true;
    return true;
}

void* Thread::routine(void* arg) {
    auto* self = static_cast<Thread*>(arg);
    self->m_threadId = static_cast<int>(syscall(SYS_gettid));
    if (!self->m_stop) {
        if (self->startup()) {
            self->run();
        }
        self->cleanup();
    }
    // Nothing of the object is touched after this block: a joiner may destroy it next.
    std::lock_guard<std::mutex> lock(self->m_stateMutex);
    self->m_threadId = 0;
    self->m_running = false;
    self->m_ended.notify_all();
    return nullptr;
}

int Thread::setRealtimePriority(int priority) {
    if (priority < 0 || priority > 99) {
        return EINVAL;
    }
    std::lock_guard<std::mutex> lock(m_stateMutex);
    if (!m_joinable || !m_running) {
        return ESRCH;
    }
    sched_param param{};
    param.sched_priority = priority;
    return pthread_setschedparam(m_handle, priority > 0 ? SCHED_FIFO : SCHED_OTHER, &param);
}

void Thread::stop() {
    m_stop = true;
    doStop();
    join(-1);
}

bool Thread::join(int timeoutMs) {
    {
        std::unique_lock<std::mutex> lock(m_stateMutex);
        if (!m_joinable) {
            return true;
        }
        if (m_running && pthread_equal(pthread_self(), m_handle)) {
            return false;  // a worker cannot wait for itself
        }
        auto ended = [this] { return !m_running.load(); };
        if (timeoutMs > 0) {
            if (!m_ended.wait_for(lock, std::chrono::milliseconds(timeoutMs), ended)) {
                return false;
            }
        } else {
            m_ended.wait(lock, ended);
        }
    }
    reap();
    return true;
}

void Thread::reap() {
    std::lock_guard<std::mutex> reapLock(m_reapMutex);
    pthread_t handle;
    {
        std::lock_guard<std::mutex> lock(m_stateMutex);
        if (!m_joinable || m_running) {
            return;
        }
        handle = m_handle;
    }
    pthread_join(handle, nullptr);
    std::lock_guard<std::mutex> lock(m_stateMutex);
    m_joinable = false;
}

}  // namespace comn
