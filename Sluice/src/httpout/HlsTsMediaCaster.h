#pragma once

#include <memory>
#include <string>
#include <vector>

#include "BasicTsMediaCaster.h"
#include "HlsMount.h"
#include "HttpOutServer.h"

namespace av {

/// Serves the stream as HLS: MPEG-TS segments from the usual multiplexer, cut at key frames
/// (SegmentingTsMuxer), kept in memory (HlsMount) and served with their playlist by the HTTP
/// output server of the port, which HLS and FLV outputs of every stream share by path.
/// open() serves the stream as "/live" when no other output of the port has it (else it is
/// served once "path" names it). Targets are kept but not used.
///
/// Options: "path" (the name: "/NAME.m3u8"; EEXIST when taken on the port), "window"
/// (segments in the playlist, 2..30, default 6), "segment_ms" (shortest segment, 500..10000,
/// default 1000), "maxclients" and "maxperaddress" (the port's client limits).
class HlsTsMediaCaster : public BasicTsMediaCaster {
public:
    static constexpr const char* kDefaultName = "/live";

    HlsTsMediaCaster();
    ~HlsTsMediaCaster() override;

    /// 0, or ENOENT when the port cannot be listened on.
    int open(const std::string& ip, uint16_t port, const MediaCasterConfig& config) override;
    void close() override;
    bool isOpen() override;
    uint16_t localPort() override;
    int setOption(const std::string& name, const std::string& value) override;
    void onMuxData(const uint8_t* data, size_t size, int64_t pts, int flags) override;
    /// One row: the output's requests, clients seen in the last 30 s and bytes served.
    std::vector<DestinationStats> destinationStats() override;
    OutputStatus outputStatus() override;

    /// The server's (tests shorten its time-outs); null when closed.
    std::shared_ptr<HttpOutServer> server();

private:
    std::shared_ptr<HttpOutServer> m_server;
    std::shared_ptr<HlsMount> m_mount;
    bool m_mounted = false;
};

}  // namespace av
