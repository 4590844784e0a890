#include "HttpTsMediaCaster.h"

#include <cstdio>

#include "sluice.h"

namespace av {

HttpTsMediaCaster::~HttpTsMediaCaster() {
    // Stopped here already, so the loop never sets up a connection for a half-gone caster.
    HttpTsMediaCaster::close();
}

void HttpTsMediaCaster::onMuxData(const uint8_t* data, size_t size, int64_t pts, int flags) {
    char sizeLine[64];
    const int lineLength =
        std::snprintf(sizeLine, sizeof sizeLine, "%lX\r\n", static_cast<unsigned long>(size));
    auto packet = std::make_shared<MediaPacket>();
    packet->reserve(static_cast<size_t>(lineLength) + size + 4);
    packet->append(sizeLine, static_cast<size_t>(lineLength));
    packet->append(data, size);
    packet->append("\r\n", 2);
    packet->pts = pts;
    packet->flags = flags;
    deliver(packet);
}

int HttpTsMediaCaster::protocol() const {
    return SLUICE_PROTOCOL_HTTP;
}

std::shared_ptr<TcpMediaCasterConnection> HttpTsMediaCaster::makeConnection() {
    return std::make_shared<HttpMediaCasterConnection>(m_requestTimeoutMs.load());
}

}  // namespace av
