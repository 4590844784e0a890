#include "RtspConnection.h"

#include <sys/socket.h>

#include <algorithm>

namespace av {

void RtspConnection::writeParts(const iovec* parts, size_t count) {
    evbuffer* output = bufferevent_get_output(m_bev);
    size_t first = 0;   // first part not wholly sent
    size_t offset = 0;  // bytes of it sent
    if (evbuffer_get_length(output) == 0) {
        const int fd = bufferevent_getfd(m_bev);
        while (first < count) {
            constexpr size_t kMaxParts = 1024;  // IOV_MAX
            const iovec* chunk = parts + first;
            const size_t n = std::min(count - first, kMaxParts);
            msghdr message{};
            message.msg_iov = const_cast<iovec*>(chunk);
            message.msg_iovlen = n;
            const ssize_t sent = ::sendmsg(fd, &message, MSG_DONTWAIT | MSG_NOSIGNAL);
            if (sent <= 0) {
                // Full, or broken: the buffer keeps the rest, and the connection's own write
                // reports a broken link as before.
                break;
            }
            size_t left = static_cast<size_t>(sent);
            size_t i = 0;
            for (; i < n && left >= chunk[i].iov_len; ++i) {
                left -= chunk[i].iov_len;
            }
            first += i;
            if (i < n) {
                offset = left;
                break;  // the socket took part of the chunk: it is full
            }
        }
    }
    for (; first < count; ++first, offset = 0) {
        evbuffer_add(output, static_cast<const uint8_t*>(parts[first].iov_base) + offset,
                     parts[first].iov_len - offset);
    }
}

}  // namespace av
