#include "DatagramBatch.h"

#include <netinet/in.h>
#include <netinet/udp.h>

#include <cerrno>
#include <cstring>

namespace av {

bool DatagramBatch::add(const void* head, size_t headSize, const void* body, size_t bodySize,
                        const sockaddr_in* to) {
    if (m_count == kMaxDatagrams) {
        return false;
    }
    m_hasTo[m_count] = to != nullptr;
    if (to != nullptr) {
        m_to[m_count] = *to;
    }
    m_parts[2 * m_count] = {const_cast<void*>(head), headSize};
    m_parts[2 * m_count + 1] = {const_cast<void*>(body), bodySize};
    m_sizes[m_count] = headSize + bodySize;
    ++m_count;
    return true;
}

bool DatagramBatch::sameDestination(size_t a, size_t b) const {
    if (m_hasTo[a] != m_hasTo[b]) {
        return false;
    }
    return !m_hasTo[a] || (m_to[a].sin_addr.s_addr == m_to[b].sin_addr.s_addr &&
                           m_to[a].sin_port == m_to[b].sin_port);
}

size_t DatagramBatch::plan(size_t first) {
    size_t messages = 0;
    for (size_t i = first; i < m_count; ++messages) {
        Message& message = m_messages[messages];
        message = Message{i, 1, 0};
        const size_t size = m_sizes[i];
        if (m_segment && size > 0 && i >= m_singleUntil) {
            size_t bytes = size;
            while (i + message.count < m_count && message.count < kMaxSegments) {
                const size_t next = m_sizes[i + message.count];
                if (next == 0 || next > size || bytes + next > kMaxMessageBytes ||
                    !sameDestination(i, i + message.count)) {
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
        if (m_hasTo[i]) {
            header.msg_hdr.msg_name = &m_to[i];
            header.msg_hdr.msg_namelen = sizeof m_to[i];
        }
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
            for (int i = 0; i < sent; ++i) {
                const Message& message = m_messages[i];
                size_t bytes = 0;
                for (size_t k = 0; k < message.count; ++k) {
                    bytes += m_sizes[message.first + k];
                }
                const int error = m_headers[i].msg_len == bytes ? 0 : EMSGSIZE;
                if (error == 0 && message.first < m_singleUntil) {
                    // Alone it went where the run could not: the kernel refuses to segment.
                    m_segment = false;
                }
                for (size_t k = 0; k < message.count; ++k) {
                    m_errors[message.first + k] = error;
                }
                (error == 0 ? result.sent : result.lost) += message.count;
                result.error = error != 0 ? error : result.error;
            }
            const Message& last = m_messages[sent - 1];
            next = last.first + last.count;
            continue;
        }
        const int error = errno;
        if (error == EINTR) {
            continue;
        }
        const Message& failed = m_messages[0];
        if (failed.segment != 0 && (error == EINVAL || error == EIO || error == EOPNOTSUPP)) {
            // An older kernel, a device or route that cannot segment, or a destination that
            // takes nothing (port 0): the run again one message each, which tells them apart.
            m_singleUntil = failed.first + failed.count;
            continue;
        }
        result.lost += failed.count;
        result.error = error;
        for (size_t k = 0; k < failed.count; ++k) {
            m_errors[failed.first + k] = error;
        }
        next = failed.first + failed.count;
    }
    m_count = 0;
    m_singleUntil = 0;
    return result;
}

}  // namespace av
