#pragma once

#include <atomic>

namespace av {

/// The three library-wide settings. They are meant to be set before casters are created;
/// reads and writes are atomic so a late change is harmless.
class LibrarySettings {
public:
    static constexpr int kDefaultQueueDuration = 3000;
    static constexpr int kDefaultSendBufferSize = 2097152;  // 2 MiB of socket send buffer
    static constexpr int kDefaultStackSize = 0;             // system default

    /// Stored, not read by anything in the library. Any value is accepted.
    static void setQueueDuration(int value) { s_queueDuration = value; }
    static int queueDuration() { return s_queueDuration; }
    /// SO_SNDBUF for UDP casters and accepted clients; values <= 0 are ignored.
    static void setSendBufferSize(int bytes) {
        if (bytes > 0) {
            s_sendBufferSize = bytes;
        }
    }
    static int sendBufferSize() { return s_sendBufferSize; }
    /// Worker thread stack size for casters created afterwards; negative values are ignored.
    static void setStackSize(int bytes) {
        if (bytes >= 0) {
            s_stackSize = bytes;
        }
    }
    static int stackSize() { return s_stackSize; }

private:
    static inline std::atomic<int> s_queueDuration{kDefaultQueueDuration};
    static inline std::atomic<int> s_sendBufferSize{kDefaultSendBufferSize};
    static inline std::atomic<int> s_stackSize{kDefaultStackSize};
};

}  // namespace av
