#pragma once

namespace comn {

/// One process-wide instance of T, created on first use (thread-safe local static
/// initialisation) and destroyed at process exit. T's constructor must be reachable
/// from a derived class (public or protected).
template <class T>
class Singleton : private T {
public:
    static T& instance() {
        static Singleton<T> object;
        return object;
    }

private:
    Singleton() = default;
    ~Singleton() = default;
};

}  // namespace comn
