#pragma once

#include <pthread.h>

namespace comn {

/// Recursive mutex: a thread that holds it may lock it again (casters call their
/// own locked operations from inside locked operations).
class Mutex {
public:
    Mutex();
    ~Mutex();
    Mutex(const Mutex&) = delete;
    Mutex& operator=(const Mutex&) = delete;

    void lock();
    void unlock();

private:
    pthread_mutex_t m_mutex;
};

/// Scoped guard. Locks on construction; unlock() releases early and only once.
class AutoLock {
public:
    explicit AutoLock(Mutex* mutex) : m_mutex(mutex), m_held(true) { m_mutex->lock(); }
    explicit AutoLock(Mutex& mutex) : AutoLock(&mutex) {}
    ~AutoLock() { unlock(); }
    AutoLock(const AutoLock&) = delete;
    AutoLock& operator=(const AutoLock&) = delete;

    void unlock() {
        if (m_held) {
            m_held = false;
            m_mutex->unlock();
        }
    }

private:
    Mutex* m_mutex;
    bool m_held;
};

}  // namespace comn
