#pragma once

#include <cstddef>
#include <cstdint>

#include "NetAddress.h"

namespace av {

/// What a PacedDatagramSender reports to its owner, which words the log messages.
class DatagramSendObserver {
public:
    /// A datagram of size bytes did not go out whole to target (error: the errno, EMSGSIZE
    /// for a short send). On the sender's thread, with no lock of the sender held.
    virtual void onSendFailed(const av::NetAddress& target, size_t size, int error) = 0;
    /// The send queue overflowed (begins) or has recovered (dropped: datagrams lost in the
    /// episode). Once per episode each; on the writing thread, no lock of the sender held.
    virtual void onQueueOverflow(bool begins, uint64_t dropped) = 0;

protected:
    ~DatagramSendObserver() = default;
};

}  // namespace av
