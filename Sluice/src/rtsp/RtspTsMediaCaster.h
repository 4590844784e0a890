#pragma once

#include <memory>
#include <string>
#include <vector>

#include "BasicTsMediaCaster.h"
#include "RtpPacketizer.h"
#include "RtspMount.h"
#include "RtspServer.h"

namespace av {

/// Serves the stream over RTSP: open() mounts it at "/" if free (the "path" option moves it) on the
/// RTSP server of its port, which it shares with every other caster of that port. Frames are
/// packetized once, on the writing thread, into RTP payloads that every session sends with
/// its own header (RtpPacketizer, RtspSession); no transport stream is made. Targets are
/// kept but not used.
///
/// Options (setOption): "path" (EEXIST when another stream has it), "auth_file" (digest
/// password file; "" turns authentication off), "max_sessions" (1..1024), "session_timeout"
/// (seconds, 1..3600), "udp_ports" ("first-last", the server ports of UDP sessions, for the
/// whole server), "multicast" ("GROUP:PORT", even port; "" offers none) and "multicast_ttl"
/// (1..255, default 16).
class RtspTsMediaCaster : public BasicTsMediaCaster {
public:
    RtspTsMediaCaster() = default;
    ~RtspTsMediaCaster() override;

    /// Joins (or starts) the server of port and mounts the stream at "/" when no other stream
    /// of the port has it (else it is served once "path" is set). 0, ENOENT (the port cannot
    /// be listened on) or ENODEV (no stream RTSP can carry: neither H.264/H.265 video nor AAC
    /// audio).
    int open(const std::string& ip, uint16_t port, const MediaCasterConfig& config) override;
    /// Ends every session of the stream and leaves the server.
    void close() override;
    bool isOpen() override;
    void removeAllTarget() override;
    int setOption(const std::string& name, const std::string& value) override;

    /// Packetizes the frame and hands it to the server's loop; never waits for the network.
    bool write(int type, const uint8_t* data, int size, int64_t pts, int duration,
               int flags) override;
    void onMuxData(const uint8_t*, size_t, int64_t, int) override {}
    std::vector<DestinationStats> destinationStats() override;

    /// The port served (0 when closed).
    uint16_t port();
    uint16_t localPort() override { return port(); }
    /// The server's (for tests that cannot wait for its time-outs); null when closed.
    std::shared_ptr<RtspServer> server();

private:
    std::shared_ptr<RtspServer> m_server;
    std::shared_ptr<RtspMount> m_mount;
    std::unique_ptr<RtpPacketizer> m_packetizer;
    uint64_t m_inboxDrops = 0;
};

}  // namespace av
