#pragma once

#include <atomic>

#include "HttpMediaCasterConnection.h"
#include "TcpTsMediaCaster.h"

namespace av {

/// Serves the transport stream as the body of a never-ending HTTP/1.1 response in chunked
/// transfer encoding: a client that connects and sends any complete HTTP message gets
/// "HTTP/1.1 200 OK" with "Content-Type: video/MP2T", then one chunk per block
/// ("524\r\n" + 1316 bytes + "\r\n"). No terminating chunk is ever sent; the body ends when
/// the connection closes. Lifecycle, threads and results as for the TCP caster.
class HttpTsMediaCaster : public TcpTsMediaCaster {
public:
    HttpTsMediaCaster() = default;
    ~HttpTsMediaCaster() override;

    /// Time a new client has to complete its request (HttpMediaCasterConnection); for
    /// clients that connect afterwards.
    void setRequestTimeout(int ms) { m_requestTimeoutMs = ms; }

    /// Frames the block as one HTTP chunk and delivers it (see TcpTsMediaCaster::deliver).
    void onMuxData(const uint8_t* data, size_t size, int64_t pts, int flags) override;

protected:
    std::shared_ptr<TcpMediaCasterConnection> makeConnection() override;
    const char* casterName() const override { return "HttpTsMediaCaster"; }
    int protocol() const override;

private:
    std::atomic<int> m_requestTimeoutMs{HttpMediaCasterConnection::kRequestTimeoutMs};
};

}  // namespace av
