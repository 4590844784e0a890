#include "HttpOutConnection.h"

#include <event2/buffer.h>
#include <event2/bufferevent.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "CLog.h"

namespace av {

namespace {

void releaseBody(const void*, size_t, void* hold) {
    delete static_cast<std::shared_ptr<const std::string>*>(hold);
}

}  // namespace

std::string HttpOutHead::ok(const char* contentType, size_t length, const char* cacheControl) {
    char head[512];
    std::snprintf(head, sizeof head,
                  "HTTP/1.1 200 OK\r\nContent-Type: %s\r\nContent-Length: %zu\r\n"
                  "Cache-Control: %s\r\nAccess-Control-Allow-Origin: *\r\n\r\n",
                  contentType, length, cacheControl);
    return head;
}

std::string HttpOutHead::stream(const char* contentType) {
    char head[512];
    std::snprintf(head, sizeof head,
                  "HTTP/1.1 200 OK\r\nContent-Type: %s\r\nCache-Control: no-cache\r\n"
                  "Access-Control-Allow-Origin: *\r\nConnection: close\r\n\r\n",
                  contentType);
    return head;
}

std::string HttpOutHead::error(int status, const char* reason) {
    char head[512];
    std::snprintf(head, sizeof head,
                  "HTTP/1.1 %d %s\r\nContent-Length: 0\r\nCache-Control: no-cache\r\n"
                  "Access-Control-Allow-Origin: *\r\n\r\n",
                  status, reason);
    return head;
}

HttpOutConnection::HttpOutConnection(HttpOutRouter& router, int requestTimeoutMs)
    : m_router(router), m_requestTimeoutMs(requestTimeoutMs) {}

HttpOutConnection::~HttpOutConnection() = default;

int HttpOutConnection::onOpen(int fd) {
    const int status = TcpMediaCasterConnection::onOpen(fd);
    m_requestDeadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(m_requestTimeoutMs);
    armRequestTimeout(getBufferEvent());
    return status;
}

void HttpOutConnection::armRequestTimeout(bufferevent* bev) {
    if (m_flvStream.load() != nullptr) {
        bufferevent_set_timeouts(bev, nullptr, nullptr);
        return;
    }
    setReadDeadline(bev, m_requestDeadline);
}

void HttpOutConnection::onEvent(bufferevent* bev, short events) {
    if ((events & BEV_EVENT_TIMEOUT) != 0 && m_flvStream.load() == nullptr) {
        CLog::debug("%s(%s) no request within %d ms\n", className(), peerName().c_str(),
                    m_requestTimeoutMs);
        requestClose();
        return;
    }
    TcpMediaCasterConnection::onEvent(bev, events);
}

void HttpOutConnection::onRead(bufferevent* bev) {
    evbuffer* input = bufferevent_get_input(bev);
    if (m_flvStream.load() != nullptr || isClosing()) {
        TcpMediaCasterConnection::onRead(bev);  // a stream's client has nothing more to ask
        return;
    }
    std::string bytes(evbuffer_get_length(input), '\0');
    const size_t n = bufferevent_read(bev, &bytes[0], bytes.size());
    size_t offset = 0;
    while (offset < n && m_flvStream.load() == nullptr && !isClosing()) {
        bool complete = false;
        HttpMessage request;
        const size_t used = m_parser.parse(bytes.data() + offset, n - offset,
                                           [&](const HttpMessage& message, const std::string&) {
                                               complete = true;
                                               request = message;
                                           });
        if (used == 0) {
            // Not HTTP: answered once, then the client goes.
            const std::string head = HttpOutHead::error(400, "Bad Request");
            bufferevent_write(bev, head.data(), head.size());
            requestClose();
            return;
        }
        offset += used;
        if (complete) {
            answer(bev, request);
        }
    }
    armRequestTimeout(bev);
}

void HttpOutConnection::answer(bufferevent* bev, const HttpMessage& request) {
    m_requestDeadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(m_requestTimeoutMs);
    HttpOutReply reply;
    const bool head = request.method == "HEAD";
    if (request.url.empty() || (request.method != "GET" && !head)) {
        reply.head = HttpOutHead::error(405, "Method Not Allowed");
    } else {
        const std::string path = request.url.substr(0, request.url.find('?'));
        m_router.route(path, peerAddress(), head, reply);
    }
    evbuffer* output = bufferevent_get_output(bev);
    if (evbuffer_get_length(output) > kMaxBuffered) {
        CLog::debug("%s(%s) asks faster than it reads\n", className(), peerName().c_str());
        requestClose();
        return;
    }
    bufferevent_write(bev, reply.head.data(), reply.head.size());
    if (reply.body != nullptr && !reply.body->empty()) {
        // The segment is shared by every client: referenced, not copied.
        auto* hold = new std::shared_ptr<const std::string>(reply.body);
        if (evbuffer_add_reference(output, reply.body->data(), reply.body->size(), &releaseBody,
                                   hold) != 0) {
            delete hold;
            requestClose();
            return;
        }
    }
    if (reply.flvStream != nullptr) {
        m_flvStream = reply.flvStream;  // from now on the writer sends the stream's tags
    }
}

}  // namespace av
