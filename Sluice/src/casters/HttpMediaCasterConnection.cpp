#include "HttpMediaCasterConnection.h"

#include <event2/buffer.h>
#include <event2/bufferevent.h>

#include <cstring>

namespace av {

HttpMediaCasterConnection::~HttpMediaCasterConnection() = default;

void HttpMediaCasterConnection::onRead(bufferevent* bev) {
    const size_t available = evbuffer_get_length(bufferevent_get_input(bev));
    if (available == 0 || !m_readBuffer.ensure(available)) {
        return;
    }
    const size_t n = bufferevent_read(bev, m_readBuffer.data(), available);
    m_parser.parse(reinterpret_cast<const char*>(m_readBuffer.data()), n,
                   [this, bev](const HttpMessage&, const std::string&) {
                       bufferevent_write(bev, kResponseHeader, std::strlen(kResponseHeader));
                       // Only now: no chunk may reach the client before the header.
                       m_state = kStreaming;
                   });
}

}  // namespace av
