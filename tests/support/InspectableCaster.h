#pragma once
// A TCP or HTTP caster that shows what the server holds of the bytes its clients sent.
#include <event2/buffer.h>
#include <event2/bufferevent.h>
#include <sys/ioctl.h>

#include <cstddef>
#include <memory>

#include "TcpConnection.h"

namespace sluicetest {

template <class Caster>
class InspectableCaster : public Caster {
public:
    ~InspectableCaster() override { this->close(); }
    /// Bytes waiting in the connections' sockets and input buffers: 0 once the loop has read
    /// and handled everything the clients sent.
    size_t unreadInput() {
        size_t total = 0;
        this->connections().forEach(
            [&](int fd, const std::shared_ptr<av::TcpConnection>& connection) {
                int queued = 0;
                ::ioctl(fd, FIONREAD, &queued);
                total += static_cast<size_t>(queued);
                total += evbuffer_get_length(bufferevent_get_input(connection->getBufferEvent()));
            });
        return total;
    }
};

}  // namespace sluicetest
