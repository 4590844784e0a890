#pragma once

#include <netinet/in.h>
#include <sys/uio.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "DatagramBatch.h"
#include "DestinationStats.h"
#include "RtpPacketizer.h"
#include "RtspMount.h"
#include "RtspTransport.h"

struct event;
struct event_base;

namespace av {

/// Where a TCP-interleaved session writes: its RTSP connection.
class RtspInterleavedSink {
public:
    /// Bytes written to the connection and not yet sent.
    virtual size_t backlog() const = 0;
    virtual void writeBytes(const void* data, size_t size) = 0;
    /// The parts one after the other, as writeBytes of each would.
    virtual void writeParts(const iovec* parts, size_t count) = 0;

protected:
    ~RtspInterleavedSink() = default;
};

/// One client's RTSP session on one stream: per track its SSRC, sequence number and
/// timestamp base (random, RFC 3550), its transport (UDP sockets from the server's port range,
/// or channels on the RTSP connection), counters and the latest receiver report. Sends the
/// stream's shared RTP frames with its own headers, and an RTCP sender report every 5 s.
///
/// Loop thread only. Owns its UDP sockets and their events; the destructor frees them.
class RtspSession {
public:
    /// Unsent bytes on the connection above which a TCP client counts as jammed (as the TCP
    /// caster does); it loses whole frames until it has drained to a quarter of this.
    static constexpr size_t kMaxBacklog = 1024000;
    static constexpr size_t kResumeBacklog = kMaxBacklog / 4;
    /// RTCP sender reports this often, so that clients can align audio and video.
    static constexpr int64_t kReportIntervalMs = 5000;

    RtspSession(std::string id, std::shared_ptr<RtspMount> mount, uint64_t connectionId,
                const std::string& peerAddress, uint16_t peerPort, event_base* base);
    ~RtspSession();
    RtspSession(const RtspSession&) = delete;
    RtspSession& operator=(const RtspSession&) = delete;

    const std::string& id() const { return m_id; }
    const std::shared_ptr<RtspMount>& mount() const { return m_mount; }
    uint64_t connectionId() const { return m_connectionId; }
    RtspTransport::Kind kind() const { return m_kind; }
    bool hasTrack(int track) const;
    bool anyTrack() const;

    /// Sets up a track with the transport the client asked for. UDP unicast: binds an RTP and
    /// RTCP socket pair from [firstPort, lastPort] (starting at *cursor, which moves on) and
    /// connects them to the client; TCP: takes the client's channels or the next free pair.
    /// All tracks of a session share one transport kind. False (nothing changed) when the
    /// kind differs from an earlier track's or no port pair is free; `answer` then says why.
    /// Multicast: the client's session only notes the track; its packets come from the
    /// stream's multicast sender (setUpMulticast).
    bool setUp(int track, RtspTransport& transport, int firstPort, int lastPort, int* cursor,
               std::string& answer);
    /// The stream's one multicast sender: a track's RTP and RTCP to group:port+2*track and
    /// the next port, with this TTL, leaving through the interface of localAddress (the
    /// route's when it is loopback or empty).
    bool setUpMulticast(int track, const std::string& group, int port, int ttl,
                        const std::string& localAddress, int firstPort, int lastPort, int* cursor);
    /// The Transport header of the SETUP answer for a track. A multicast client's comes from
    /// the sender (multicastHeader).
    std::string transportHeader(int track) const;
    std::string multicastHeader(int track, const std::string& group, int port, int ttl) const;

    /// PLAY: from the next key picture on (audio at once). PAUSE: nothing is sent.
    void play(bool on);
    bool isPlaying() const { return m_playing; }
    /// "url=...;seq=...;rtptime=..." of every set-up track, for the RTP-Info header.
    std::string rtpInfo(const std::string& baseUrl, int64_t mediaUs) const;

    /// Sends a frame of the stream (nothing when paused, not set up, or waiting for a key
    /// picture). sink: the connection of a TCP session (null for UDP).
    void send(const RtpFrame& frame, RtspInterleavedSink* sink);
    /// A sender report per track when due. mediaUs: the stream's time now (see RtspMount).
    void report(int64_t nowMs, int64_t mediaUs, RtspInterleavedSink* sink);
    /// RTCP from the client (UDP socket or interleaved channel): counts receiver reports and
    /// keeps the latest loss and jitter. Any RTCP keeps the session alive.
    void onRtcp(const uint8_t* data, size_t size, int64_t nowMs);
    /// The interleaved channel's track and whether it is the RTCP channel; -1 when none.
    int trackOfChannel(int channel, bool& rtcp) const;

    void touch(int64_t nowMs) { m_lastActivityMs = nowMs; }
    int64_t lastActivityMs() const { return m_lastActivityMs; }

    /// The session's row in the per-destination records. A multicast client's counts are
    /// those of the stream's sender.
    DestinationStats stats(const RtspInterleavedSink* sink,
                           const RtspSession* multicastSender = nullptr) const;

private:
    struct Track {
        bool setUp = false;
        uint32_t ssrc = 0;
        uint16_t seq = 0;
        uint32_t tsBase = 0;
        uint32_t lastTs = 0;
        bool sent = false;
        uint64_t packets = 0;
        uint64_t octets = 0;
        int rtpChannel = -1;
        int rtcpChannel = -1;
        int rtpFd = -1;
        int rtcpFd = -1;
        event* rtpEvent = nullptr;
        event* rtcpEvent = nullptr;
        int serverRtpPort = 0;
        int clientRtpPort = 0;
        int clientRtcpPort = 0;
    };

    static void readCallback(int fd, short what, void* arg);
    void onSocketReadable(int fd);
    bool bindPair(Track& track, int firstPort, int lastPort, int* cursor);
    void closeTrack(Track& track);
    /// The 12-byte RTP header of the track's next packet, with this session's numbers.
    static void writeRtpHeader(Track& track, int payloadType, bool marker, uint32_t timestamp,
                               uint8_t* rtp);
    /// A frame's packets, each behind its header, to the client's UDP port in one batch.
    void sendDatagrams(Track& track, int payloadType, uint32_t timestamp, const RtpFrame& frame);
    /// A frame's packets, each framed for the RTSP connection, in one write.
    void writeInterleaved(Track& track, int payloadType, uint32_t timestamp, const RtpFrame& frame,
                          RtspInterleavedSink& sink);
    void sendRtcp(Track& track, const uint8_t* data, size_t size, RtspInterleavedSink* sink);

    const std::string m_id;
    const std::shared_ptr<RtspMount> m_mount;
    const uint64_t m_connectionId;
    const std::string m_peerAddress;
    const uint16_t m_peerPort;
    event_base* const m_base;
    const int64_t m_createdUs;
    RtspTransport::Kind m_kind = RtspTransport::Kind::UdpUnicast;
    bool m_kindChosen = false;
    Track m_tracks[RtspStreamInfo::kMaxTracks];
    bool m_playing = false;
    bool m_waitKey = true;
    bool m_jammed = false;
    int64_t m_lastActivityMs = 0;
    int64_t m_lastReportMs = 0;

    /// UDP: the batch and the headers it points at, made at the first frame.
    struct Datagrams {
        DatagramBatch batch;
        uint8_t headers[DatagramBatch::kMaxDatagrams][12];
    };
    std::unique_ptr<Datagrams> m_datagrams;
    /// TCP: one frame's packet headers and the parts (header, payload) to write, kept to
    /// spare allocations per frame.
    std::vector<uint8_t> m_interleavedHeaders;
    std::vector<iovec> m_interleavedParts;

    uint64_t m_dropped = 0;
    uint64_t m_jams = 0;
    uint64_t m_sendErrors = 0;
    int m_lastErrno = 0;
    uint64_t m_receiverReports = 0;
    bool m_hasReport = false;
    uint64_t m_lost = 0;
    int m_jitterUs = 0;
};

}  // namespace av
