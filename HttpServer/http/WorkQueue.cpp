#include "WorkQueue.h"

namespace http {

WorkQueue::WorkQueue() : m_thread([this] { run(); }) {}

WorkQueue::~WorkQueue() {
    stop();
}

void WorkQueue::post(Job job) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_stopping) {
            m_jobs.push_back(std::move(job));
            m_wake.notify_one();
            return;
        }
    }
    job(true);
}

void WorkQueue::stop() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
        m_wake.notify_one();
    }
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

void WorkQueue::run() {
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return m_stopping || !m_jobs.empty(); });
        if (m_jobs.empty()) {
            return;  // stopping, nothing left
        }
        Job job = std::move(m_jobs.front());
        m_jobs.pop_front();
        const bool stopping = m_stopping;
        lock.unlock();
        job(stopping);
        lock.lock();
    }
}

}  // namespace http
