#pragma once

#include <memory>
#include <string>
#include <vector>

#include "HlsMount.h"
#include "HttpOutTsMediaCaster.h"

namespace av {

/// Serves the stream as HLS at "/NAME.m3u8" (default "/live"): MPEG-TS segments from the
/// usual multiplexer, cut at key frames (SegmentingTsMuxer), kept in memory (HlsMount) and
/// served with their playlist by the HTTP output server of the port.
///
/// Options besides the shared ones: "window" (segments in the playlist, 2..30, default 6),
/// "segment_ms" (shortest segment, 500..10000, default 1000).
class HlsTsMediaCaster : public HttpOutTsMediaCaster {
public:
    static constexpr const char* kDefaultName = "/live";

    HlsTsMediaCaster();
    ~HlsTsMediaCaster() override;

    int setOption(const std::string& name, const std::string& value) override;
    void onMuxData(const uint8_t* data, size_t size, int64_t pts, int flags) override;
    /// One row: the output's requests, clients seen in the last 30 s and bytes served.
    std::vector<DestinationStats> destinationStats() override;

private:
    void onClosed() override { m_mount->reset(); }

    std::shared_ptr<HlsMount> m_mount;
};

}  // namespace av
