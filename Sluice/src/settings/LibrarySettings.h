#pragma once

#include <atomic>

namespace av {

/// The three library-wide settings. They are meant to be set before casters are created;
/// reads and writes are atomic so a late change is harmless.
namespace LibrarySettings {

constexpr int kDefaultQueueDuration = 3000;
constexpr int kDefaultSendBufferSize = 2097152;  // 2 MiB of socket send buffer
constexpr int kDefaultStackSize = 0;             // system default

namespace detail {
inline std::atomic<int> queueDuration{kDefaultQueueDuration};
inline std::atomic<int> sendBufferSize{kDefaultSendBufferSize};
inline std::atomic<int> stackSize{kDefaultStackSize};
}  // namespace detail

/// Stored, not read by anything in the library. Any value is accepted.
inline void setQueueDuration(int value) {
    detail::queueDuration = value;
}
inline int queueDuration() {
    return detail::queueDuration;
}
/// SO_SNDBUF for UDP casters and accepted clients; values <= 0 are ignored.
inline void setSendBufferSize(int bytes) {
    if (bytes > 0) {
        detail::sendBufferSize = bytes;
    }
}
inline int sendBufferSize() {
    return detail::sendBufferSize;
}
/// Worker thread stack size for casters created afterwards; negative values are ignored.
inline void setStackSize(int bytes) {
    if (bytes >= 0) {
        detail::stackSize = bytes;
    }
}
inline int stackSize() {
    return detail::stackSize;
}

}  // namespace LibrarySettings

}  // namespace av
