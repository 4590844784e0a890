#include "DatagramBatch.h"

#include <netinet/in.h>
#include <netinet/udp.h>

#include <cerrno>
#include <cstring>

namespace av {

bool DatagramBatch::add(const void* head, size_t headSize, const void* body, size_t bodySize) {
    if (m_count == kMaxDatagrams) {
        return false;
    }
    m_parts[2 * m_count] = {const_cast<void*>(head), headSize};
    m_parts[2 * m_count + 1] = {const_cast<void*>(body), bodySize};
    m_sizes[m_count] = headSize + bodySize;
    ++m_count;
    return true;
}

size_t DatagramBatch::plan(size_t first) {
    size_t messages = 0;
    for (size_t i = first; i < m_count; ++messages) {
        Message& message = m_messages[messages];
        message = Message{i, 1, 0};
        const size_t size = m_sizes[i];
        if (m_segment && size > 0) {
            size_t bytes = size;
            while (i + message.count < m_count && message.count < kMaxSegments) {
                const size_t next = m_sizes[i + message.count];
                if (next == 0 || next > size || bytes + next > kMaxMessageBytes) {
                    break;
                }
                bytes += next;
                ++message.count;
                if (next < size) {
                    break;  // only the last segment may be shorter
                }
            }
            if (message.count > 1) {
                message.segment = static_cast<uint16_t>(size);
            }
        }
        mmsghdr& header = m_headers[messages];
        header = mmsghdr{};
        header.msg_hdr.msg_iov = &m_parts[2 * i];
        header.msg_hdr.msg_iovlen = 2 * message.count;
        if (message.segment != 0) {
            auto* control = reinterpret_cast<cmsghdr*>(m_control[messages]);
            header.msg_hdr.msg_control = control;
            header.msg_hdr.msg_controllen = sizeof m_control[messages];
            control->cmsg_level = SOL_UDP;
            control->cmsg_type = UDP_SEGMENT;
            control->cmsg_len = CMSG_LEN(sizeof(uint16_t));
            std::memcpy(CMSG_DATA(control), &message.segment, sizeof(uint16_t));
        }
        i += message.count;
    }
    return messages;
}

DatagramBatch::Result DatagramBatch::send(int fd) {
    Result result;
    size_t next = 0;
    while (next < m_count) {
        const size_t messages = plan(next);
        const int sent = ::sendmmsg(fd, m_headers, static_cast<unsigned>(messages), MSG_NOSIGNAL);
        if (sent > 0) {
            const Message& last = m_messages[sent - 1];
            for (int i = 0; i < sent; ++i) {
                result.sent += m_messages[i].count;
            }
            next = last.first + last.count;
            continue;
        }
        const int error = errno;
        const Message& failed = m_messages[0];
        if (failed.segment != 0 && (error == EINVAL || error == EIO || error == EOPNOTSUPP)) {
            // An older kernel, or a device or route that cannot segment: the same datagrams
            // one message each, from now on.
            m_segment = false;
            continue;
        }
        result.lost += failed.count;
        result.error = error;
        next = failed.first + failed.count;
    }
    m_count = 0;
    return result;
}

}  // namespace av
