#include "HttpMediaCasterConnection.h"

#include <event2/buffer.h>
#include <event2/bufferevent.h>

#include <algorithm>
#include <cstring>

#include "CLog.h"

namespace av {

HttpMediaCasterConnection::HttpMediaCasterConnection(int requestTimeoutMs)
    : m_requestTimeoutMs(requestTimeoutMs) {}

HttpMediaCasterConnection::~HttpMediaCasterConnection() = default;

int HttpMediaCasterConnection::onOpen(int fd) {
    const int status = TcpMediaCasterConnection::onOpen(fd);
    m_requestDeadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(m_requestTimeoutMs);
    armRequestTimeout(getBufferEvent());
    return status;
}

void HttpMediaCasterConnection::armRequestTimeout(bufferevent* bev) {
    if (isStreaming()) {
        bufferevent_set_timeouts(bev, nullptr, nullptr);
        return;
    }
    setReadDeadline(bev, m_requestDeadline);
}

void HttpMediaCasterConnection::onEvent(bufferevent* bev, short events) {
    if ((events & BEV_EVENT_TIMEOUT) != 0 && !isStreaming()) {
        CLog::debug("%s(%s) no request within %d ms\n", className(), peerName().c_str(),
                    m_requestTimeoutMs);
        requestClose();
        return;
    }
    TcpMediaCasterConnection::onEvent(bev, events);
}

void HttpMediaCasterConnection::onRead(bufferevent* bev) {
    if (isStreaming()) {
        TcpMediaCasterConnection::onRead(bev);
        return;
    }
    const size_t available = evbuffer_get_length(bufferevent_get_input(bev));
    if (available == 0 || !m_readBuffer.ensure(available)) {
        return;
    }
    const size_t n = bufferevent_read(bev, m_readBuffer.data(), available);
    m_parser.parse(reinterpret_cast<const char*>(m_readBuffer.data()), n,
                   [this, bev](const HttpMessage&, const std::string&) {
                       endParseFailures();
                       bufferevent_write(bev, kResponseHeader, std::strlen(kResponseHeader));
                       // Only now: no chunk may reach the client before the header.
                       m_state = kStreaming;
                   });
    armRequestTimeout(bev);
}

void HttpMediaCasterConnection::onClose() {
    bufferevent* bev = getBufferEvent();
    if (bev != nullptr) {
        bufferevent_lock(bev);  // the parser belongs to the loop's read callback
        endParseFailures();
        bufferevent_unlock(bev);
    }
    TcpMediaCasterConnection::onClose();
}

void HttpMediaCasterConnection::endParseFailures() {
    const uint64_t failures = m_parser.endFailures();
    if (failures > 1) {
        CLog::warning("%s(%s) %llu reads could not be parsed\n", className(), peerName().c_str(),
                      static_cast<unsigned long long>(failures));
    }
}

}  // namespace av
