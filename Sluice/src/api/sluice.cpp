// The exported C interface: each function checks its arguments and calls the application.
#include "sluice.h"

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

#include "CLog.h"
#include "LibrarySettings.h"
#include "TsApplication.h"

using av::TsApplication;
using av::TsMediaCaster;

namespace {

static_assert(sizeof(sluice_destination_stats) == 384, "sluice_destination_stats is 384 bytes");
// A record shorter than this would not even say which destination it is.
constexpr uint32_t kMinStatsSize = offsetof(sluice_destination_stats, connected_since_us);
static_assert(kMinStatsSize == 80, "the identity fields end at 80");
// size, protocol, state, last_errno: the least a caller of sluice_get_output_status must know.
constexpr uint32_t kMinOutputStatusSize = 16;

sluice_destination_stats toRecord(const av::DestinationStats& stats) {
    sluice_destination_stats record{};
    record.protocol = stats.protocol;
    std::snprintf(record.address, sizeof record.address, "%s", stats.address.c_str());
    record.port = stats.port;
    record.last_errno = stats.counters.lastErrno;
    record.connected_since_us = stats.connectedSinceUs;
    record.datagrams = stats.counters.datagrams;
    record.bytes = stats.counters.bytes;
    record.send_errors = stats.counters.sendErrors;
    record.dropped = stats.counters.dropped;
    record.jam_episodes = stats.counters.jamEpisodes;
    record.backlog_bytes = stats.counters.backlogBytes;
    if (stats.hasTransport) {
        record.transport_valid = SLUICE_STATS_HAS_RTT | SLUICE_STATS_HAS_LOST |
                                 SLUICE_STATS_HAS_RETRANSMITTED | SLUICE_STATS_HAS_LATENCY |
                                 SLUICE_STATS_HAS_SEND_RATE;
        record.rtt_us = stats.rttUs;
        record.lost_packets = stats.lostPackets;
        record.retransmitted_packets = stats.retransmittedPackets;
        record.latency_ms = stats.latencyMs;
        record.send_rate_bps = stats.sendRateBps;
    }
    record.rtsp_transport = stats.rtspTransport;
    record.rtcp_port = stats.rtcpPort;
    record.receiver_reports = stats.receiverReports;
    if (stats.hasReceiverReport) {
        record.transport_valid |= SLUICE_STATS_HAS_LOST | SLUICE_STATS_HAS_JITTER;
        record.lost_packets = stats.lostPackets;
        record.jitter_us = stats.jitterUs;
    }
    record.state = stats.state;
    record.connects = stats.connects;
    record.reconnects = stats.reconnects;
    record.frames = stats.frames;
    record.frames_dropped = stats.framesDropped;
    record.last_success_us = stats.lastSuccessUs;
    record.requests = stats.requests;
    record.clients_seen = stats.clientsSeen;
    record.playlist_bytes = stats.playlistBytes;
    record.segment_bytes = stats.segmentBytes;
    record.overruns = stats.overruns;
    std::snprintf(record.state_text, sizeof record.state_text, "%s", stats.stateText.c_str());
    return record;
}

// No C++ exception may cross into the caller's C code.
template <class F>
int guarded(F body) {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return ENOMEM;
    } catch (...) {
        return EINVAL;
    }
}

// Runs body with the open caster of handle (guarded); ENOENT when the handle names none.
template <class F>
int withCaster(int handle, F body) {
    return guarded([&] {
        auto caster = TsApplication::instance().find(handle);
        return caster == nullptr ? ENOENT : body(*caster);
    });
}

}  // namespace

extern "C" {

int sluice_init(void) {
    return guarded([] { return TsApplication::instance().init(); });
}

int sluice_quit(void) {
    return guarded([] { return TsApplication::instance().quit(); });
}

int sluice_open(int* handle, int protocol, int port, const sluice_media_format* format) {
    CLog::debug("sluice_open protocol:%d, port:%d\n", protocol, port);
    if (handle == nullptr || format == nullptr) {
        return EINVAL;
    }
    return guarded([&] {
        return TsApplication::instance().open(*handle, protocol, port,
                                              TsApplication::makeConfig(*format));
    });
}

int sluice_close(int handle) {
    return guarded([&] { return TsApplication::instance().close(handle); });
}

int sluice_add_target(int handle, const char* ip, int port) {
    if (ip == nullptr || ip[0] == '\0') {
        return EINVAL;
    }
    return withCaster(handle, [&](TsMediaCaster& caster) {
        return caster.addTarget(ip, static_cast<uint16_t>(port)) ? 0 : EACCES;
    });
}

int sluice_remove_target(int handle, const char* ip, int port) {
    if (ip == nullptr || ip[0] == '\0') {
        return EINVAL;
    }
    return withCaster(handle, [&](TsMediaCaster& caster) {
        caster.removeTarget(ip, static_cast<uint16_t>(port));
        return 0;
    });
}

int sluice_remove_all_target(int handle) {
    return withCaster(handle, [&](TsMediaCaster& caster) {
        caster.removeAllTarget();
        return 0;
    });
}

int sluice_write(int handle, const sluice_media_packet* packet) {
    if (packet == nullptr || packet->data == nullptr) {
        return EINVAL;
    }
    return withCaster(handle, [&](TsMediaCaster& caster) {
        caster.countFrameIn();
        caster.write(packet->type, packet->data, packet->size, packet->pts, packet->duration,
                     packet->flags);
        return 0;
    });
}

int sluice_set_option(int handle, const char* name, const char* value) {
    if (name == nullptr || value == nullptr) {
        return EINVAL;
    }
    return withCaster(handle, [&](TsMediaCaster& caster) { return caster.setOption(name, value); });
}

int sluice_get_local_port(int handle, int* port) {
    if (port == nullptr) {
        return EINVAL;
    }
    return withCaster(handle, [&](TsMediaCaster& caster) {
        *port = caster.localPort();
        return 0;
    });
}

int sluice_get_destination_stats(int handle, sluice_destination_stats* records, int capacity,
                                 int* count) {
    if (count == nullptr || capacity < 0 || (records == nullptr && capacity > 0) ||
        (capacity > 0 && records->size < kMinStatsSize)) {
        return EINVAL;
    }
    return withCaster(handle, [&](TsMediaCaster& caster) {
        const std::vector<av::DestinationStats> all = caster.destinationStats();
        *count = static_cast<int>(all.size());
        if (capacity == 0) {
            return 0;
        }
        // The caller's record size is the stride; fill what both sides know, zero the rest.
        const uint32_t stride = records->size;
        const size_t filled = std::min<size_t>(stride, sizeof(sluice_destination_stats));
        auto* out = reinterpret_cast<unsigned char*>(records);
        const size_t n = std::min(all.size(), static_cast<size_t>(capacity));
        for (size_t i = 0; i < n; ++i) {
            sluice_destination_stats record = toRecord(all[i]);
            record.size = static_cast<uint32_t>(filled);
            unsigned char* slot = out + i * stride;
            std::memcpy(slot, &record, filled);
            std::memset(slot + filled, 0, stride - filled);
        }
        return 0;
    });
}

int sluice_get_output_status(int handle, sluice_output_status* status) {
    if (status == nullptr || status->size < kMinOutputStatusSize) {
        return EINVAL;
    }
    return withCaster(handle, [&](TsMediaCaster& caster) {
        const av::OutputStatus health = caster.outputStatus();
        sluice_output_status record{};
        record.protocol = health.protocol;
        record.state = health.state;
        record.last_errno = health.lastErrno;
        record.local_port = health.localPort;
        record.destinations = health.destinations;
        record.frames_in = caster.framesIn();
        record.overruns = health.overruns;
        std::snprintf(record.state_text, sizeof record.state_text, "%s", health.stateText.c_str());
        const size_t filled = std::min<size_t>(status->size, sizeof record);
        record.size = static_cast<uint32_t>(filled);
        std::memcpy(status, &record, filled);
        return 0;
    });
}

void sluice_setQueueDuration(int value) {
    av::LibrarySettings::setQueueDuration(value);
}

void sluice_setSendBufSize(int bytes) {
    av::LibrarySettings::setSendBufferSize(bytes);
}

void sluice_set_stack_size(int bytes) {
    av::LibrarySettings::setStackSize(bytes);
}

}  // extern "C"
