#include "HlsTsMediaCaster.h"

#include <cerrno>

#include "CLog.h"
#include "OptionValue.h"
#include "sluice.h"

namespace av {

HlsTsMediaCaster::HlsTsMediaCaster()
    : HttpOutTsMediaCaster("HLS", "the multiplexer refused the stream",
                           std::make_shared<HlsMount>(kDefaultName)),
      m_mount(std::static_pointer_cast<HlsMount>(mount())) {
    // The usual multiplexer, cut into segments: its output still reaches onMuxData.
    m_muxer = std::make_shared<SegmentingTsMuxer>(m_muxer, *m_mount);
}

HlsTsMediaCaster::~HlsTsMediaCaster() {
    HlsTsMediaCaster::close();
    closeMuxer();
}

int HlsTsMediaCaster::setOption(const std::string& name, const std::string& value) {
    int64_t number = 0;
    if (name == "window" && parseOptionInteger(value, number) && number >= 2 && number <= 30) {
        m_mount->setWindow(static_cast<int>(number));
        return 0;
    }
    if (name == "segment_ms" && parseOptionInteger(value, number) && number >= 500 &&
        number <= 10000) {
        m_mount->setSegmentMs(static_cast<int>(number));
        return 0;
    }
    return HttpOutTsMediaCaster::setOption(name, value);
}

void HlsTsMediaCaster::onMuxData(const uint8_t* data, size_t size, int64_t, int) {
    m_mount->append(data, size);
}

std::vector<DestinationStats> HlsTsMediaCaster::destinationStats() {
    comn::AutoLock lock(mutex());
    const std::shared_ptr<HttpOutServer> port = server();
    if (port == nullptr) {
        return {};
    }
    const HlsMount::Counters counters = m_mount->counters();
    DestinationStats row;
    row.protocol = SLUICE_PROTOCOL_HLS;
    row.address = m_mount->key();
    row.port = port->port();
    row.state = serving() != nullptr ? SLUICE_STATE_SERVING : SLUICE_STATE_FAILED;
    row.stateText = serving() != nullptr ? "serving" : "path taken on this port";
    row.requests = counters.requests;
    row.clientsSeen = counters.clientsSeen;
    row.playlistBytes = counters.playlistBytes;
    row.segmentBytes = counters.segmentBytes;
    row.frames = counters.segments;
    row.counters.bytes = counters.playlistBytes + counters.segmentBytes;
    return {row};
}

}  // namespace av
