#include "RtspSession.h"

#include <arpa/inet.h>
#include <event2/event.h>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "ClockTime.h"

namespace av {

namespace {

uint32_t random32() {
    uint32_t value = 0;
    if (getrandom(&value, sizeof value, 0) != static_cast<ssize_t>(sizeof value)) {
        value = static_cast<uint32_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    }
    return value;
}

void put16(uint8_t* out, uint32_t value) {
    out[0] = static_cast<uint8_t>(value >> 8);
    out[1] = static_cast<uint8_t>(value);
}

void put32(uint8_t* out, uint32_t value) {
    out[0] = static_cast<uint8_t>(value >> 24);
    out[1] = static_cast<uint8_t>(value >> 16);
    out[2] = static_cast<uint8_t>(value >> 8);
    out[3] = static_cast<uint8_t>(value);
}

uint32_t get32(const uint8_t* in) {
    return (static_cast<uint32_t>(in[0]) << 24) | (static_cast<uint32_t>(in[1]) << 16) |
           (static_cast<uint32_t>(in[2]) << 8) | in[3];
}

int64_t wallUs() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// RTCP packet types (RFC 3550).
constexpr uint8_t kSenderReport = 200;
constexpr uint8_t kReceiverReport = 201;
// Seconds from 1900 (NTP) to 1970 (Unix).
constexpr uint64_t kNtpOffset = 2208988800ULL;

int udpSocket(int port) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return -1;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    address.sin_port = htons(static_cast<uint16_t>(port));
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// The multicast datagrams' time to live, and the interface they leave by.
bool multicastOptions(int fd, int ttl, const std::string& localAddress) {
    const unsigned char hops = static_cast<unsigned char>(ttl);
    if (setsockopt(fd, IPPROTO_IP, IP_MULTICAST_TTL, &hops, sizeof hops) != 0) {
        return false;
    }
    in_addr local{};
    if (!localAddress.empty() && inet_pton(AF_INET, localAddress.c_str(), &local) == 1 &&
        (ntohl(local.s_addr) >> 24) != 127) {
        return setsockopt(fd, IPPROTO_IP, IP_MULTICAST_IF, &local, sizeof local) == 0;
    }
    return true;
}

bool connectTo(int fd, const std::string& ip, int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    if (inet_pton(AF_INET, ip.c_str(), &address.sin_addr) != 1) {
        return false;
    }
    return ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
}

}  // namespace

RtspSession::RtspSession(std::string id, std::shared_ptr<RtspMount> mount, uint64_t connectionId,
                         const std::string& peerAddress, uint16_t peerPort, event_base* base)
    : m_id(std::move(id)),
      m_mount(std::move(mount)),
      m_connectionId(connectionId),
      m_peerAddress(peerAddress),
      m_peerPort(peerPort),
      m_base(base),
      m_createdUs(wallUs()) {
    for (Track& track : m_tracks) {
        track.ssrc = random32();
        track.seq = static_cast<uint16_t>(random32());
        track.tsBase = random32();
    }
}

RtspSession::~RtspSession() {
    for (Track& track : m_tracks) {
        closeTrack(track);
    }
}

void RtspSession::closeTrack(Track& track) {
    for (event** e : {&track.rtpEvent, &track.rtcpEvent}) {
        if (*e != nullptr) {
            event_free(*e);
            *e = nullptr;
        }
    }
    for (int* fd : {&track.rtpFd, &track.rtcpFd}) {
        if (*fd >= 0) {
            ::close(*fd);
            *fd = -1;
        }
    }
}

bool RtspSession::hasTrack(int track) const {
    return track >= 0 && track < RtspStreamInfo::kMaxTracks && m_tracks[track].setUp;
}

bool RtspSession::anyTrack() const {
    return hasTrack(0) || hasTrack(1);
}

bool RtspSession::bindPair(Track& track, int firstPort, int lastPort, int* cursor) {
    // RTP on an even port, RTCP on the next one (RFC 3550's convention, which some clients
    // expect).
    const int first = (firstPort + 1) & ~1;
    const int pairs = (lastPort - first + 1) / 2;
    if (pairs <= 0) {
        return false;
    }
    for (int probe = 0; probe < pairs; ++probe) {
        const int index = (*cursor + probe) % pairs;
        const int port = first + index * 2;
        const int rtp = udpSocket(port);
        if (rtp < 0) {
            continue;
        }
        const int rtcp = udpSocket(port + 1);
        if (rtcp < 0) {
            ::close(rtp);
            continue;
        }
        *cursor = (index + 1) % pairs;
        track.rtpFd = rtp;
        track.rtcpFd = rtcp;
        track.serverRtpPort = port;
        return true;
    }
    return false;
}

bool RtspSession::setUp(int track, RtspTransport& transport, int firstPort, int lastPort,
                        int* cursor, std::string& answer) {
    if (track < 0 || track >= RtspStreamInfo::kMaxTracks) {
        answer = "404 Not Found";
        return false;
    }
    if (m_kindChosen && transport.kind != m_kind) {
        answer = "461 Unsupported Transport";
        return false;
    }
    Track& t = m_tracks[track];
    if (transport.kind == RtspTransport::Kind::TcpInterleaved) {
        if (transport.rtpChannel < 0) {
            transport.rtpChannel = track * 2;
            transport.rtcpChannel = track * 2 + 1;
        }
        bool rtcp;
        const int taken = trackOfChannel(transport.rtpChannel, rtcp);
        const int takenToo = trackOfChannel(transport.rtcpChannel, rtcp);
        if ((taken >= 0 && taken != track) || (takenToo >= 0 && takenToo != track) ||
            transport.rtpChannel == transport.rtcpChannel) {
            answer = "461 Unsupported Transport";
            return false;
        }
        t.rtpChannel = transport.rtpChannel;
        t.rtcpChannel = transport.rtcpChannel;
    } else if (transport.kind == RtspTransport::Kind::UdpUnicast) {
        closeTrack(t);  // a repeated SETUP replaces the ports
        if (!bindPair(t, firstPort, lastPort, cursor)) {
            answer = "453 Not Enough Bandwidth";
            return false;
        }
        if (!connectTo(t.rtpFd, m_peerAddress, transport.clientRtpPort) ||
            !connectTo(t.rtcpFd, m_peerAddress, transport.clientRtcpPort)) {
            closeTrack(t);
            answer = "461 Unsupported Transport";
            return false;
        }
        t.clientRtpPort = transport.clientRtpPort;
        t.clientRtcpPort = transport.clientRtcpPort;
        t.rtpEvent =
            event_new(m_base, t.rtpFd, EV_READ | EV_PERSIST, &RtspSession::readCallback, this);
        t.rtcpEvent =
            event_new(m_base, t.rtcpFd, EV_READ | EV_PERSIST, &RtspSession::readCallback, this);
        if (t.rtpEvent == nullptr || t.rtcpEvent == nullptr) {
            closeTrack(t);
            answer = "500 Internal Server Error";
            return false;
        }
        event_add(t.rtpEvent, nullptr);
        event_add(t.rtcpEvent, nullptr);
    } else {
        // Multicast: the packets are the stream's sender's; the client only listens.
    }
    m_kind = transport.kind;
    m_kindChosen = true;
    t.setUp = true;
    return true;
}

bool RtspSession::setUpMulticast(int track, const std::string& group, int port, int ttl,
                                 const std::string& localAddress, int firstPort, int lastPort,
                                 int* cursor) {
    Track& t = m_tracks[track];
    closeTrack(t);
    if (!bindPair(t, firstPort, lastPort, cursor)) {
        return false;
    }
    const int rtpPort = port + 2 * track;
    if (!multicastOptions(t.rtpFd, ttl, localAddress) ||
        !multicastOptions(t.rtcpFd, ttl, localAddress) || !connectTo(t.rtpFd, group, rtpPort) ||
        !connectTo(t.rtcpFd, group, rtpPort + 1)) {
        closeTrack(t);
        return false;
    }
    t.clientRtpPort = rtpPort;
    t.clientRtcpPort = rtpPort + 1;
    m_kind = RtspTransport::Kind::UdpMulticast;
    m_kindChosen = true;
    t.setUp = true;
    return true;
}

std::string RtspSession::multicastHeader(int track, const std::string& group, int port,
                                         int ttl) const {
    char text[256];
    std::snprintf(text, sizeof text,
                  "RTP/AVP;multicast;destination=%s;port=%d-%d;ttl=%d;ssrc=%08X;mode=play",
                  group.c_str(), port + 2 * track, port + 2 * track + 1, ttl, m_tracks[track].ssrc);
    return text;
}

std::string RtspSession::transportHeader(int track) const {
    const Track& t = m_tracks[track];
    char text[256];
    if (m_kind == RtspTransport::Kind::TcpInterleaved) {
        std::snprintf(text, sizeof text,
                      "RTP/AVP/TCP;unicast;interleaved=%d-%d;ssrc=%08X;mode=play", t.rtpChannel,
                      t.rtcpChannel, t.ssrc);
    } else {
        std::snprintf(text, sizeof text,
                      "RTP/AVP;unicast;client_port=%d-%d;server_port=%d-%d;ssrc=%08X;mode=play",
                      t.clientRtpPort, t.clientRtcpPort, t.serverRtpPort, t.serverRtpPort + 1,
                      t.ssrc);
    }
    return text;
}

int RtspSession::trackOfChannel(int channel, bool& rtcp) const {
    for (int i = 0; i < RtspStreamInfo::kMaxTracks; ++i) {
        if (!m_tracks[i].setUp || m_kind != RtspTransport::Kind::TcpInterleaved) {
            continue;
        }
        if (m_tracks[i].rtpChannel == channel || m_tracks[i].rtcpChannel == channel) {
            rtcp = m_tracks[i].rtcpChannel == channel;
            return i;
        }
    }
    return -1;
}

void RtspSession::play(bool on) {
    if (on && !m_playing) {
        m_waitKey = true;
    }
    m_playing = on;
}

std::string RtspSession::rtpInfo(const std::string& baseUrl, int64_t mediaUs) const {
    std::string text;
    const RtspStreamInfo& info = m_mount->info();
    for (int i = 0; i < info.trackCount; ++i) {
        const Track& t = m_tracks[i];
        if (!t.setUp) {
            continue;
        }
        const uint32_t rtptime =
            t.tsBase + static_cast<uint32_t>(mediaUs / 1000000 * info.clockRate[i] +
                                             mediaUs % 1000000 * info.clockRate[i] / 1000000);
        char entry[512];
        std::snprintf(entry, sizeof entry, "%surl=%s/trackID=%d;seq=%u;rtptime=%u",
                      text.empty() ? "" : ",", baseUrl.c_str(), i, t.seq, rtptime);
        text += entry;
    }
    return text;
}

void RtspSession::send(const RtpFrame& frame, RtspInterleavedSink* sink) {
    if (!m_playing || !hasTrack(frame.track)) {
        return;
    }
    const RtspStreamInfo& info = m_mount->info();
    if (info.isVideo[frame.track] && m_waitKey) {
        if (!frame.key) {
            return;  // a decoder can only start at a key picture
        }
        m_waitKey = false;
    }
    if (m_kind == RtspTransport::Kind::TcpInterleaved && sink != nullptr) {
        // A client that stopped reading loses whole frames, never parts of one, and its
        // backlog stays bounded.
        const size_t backlog = sink->backlog();
        if (m_jammed && backlog <= kResumeBacklog) {
            m_jammed = false;
            m_waitKey = true;  // frames were lost: the picture can only resume at a key frame
        } else if (!m_jammed && backlog > kMaxBacklog) {
            m_jammed = true;
            ++m_jams;
        }
        if (m_jammed || (info.isVideo[frame.track] && m_waitKey && !frame.key)) {
            ++m_dropped;
            return;
        }
        if (info.isVideo[frame.track] && m_waitKey) {
            m_waitKey = false;
        }
    }
    Track& t = m_tracks[frame.track];
    const uint32_t timestamp = t.tsBase + frame.timestamp;
    const int payloadType = info.payloadType[frame.track];
    if (m_kind != RtspTransport::Kind::TcpInterleaved) {
        sendDatagrams(t, payloadType, timestamp, frame);
    } else if (sink != nullptr) {
        writeInterleaved(t, payloadType, timestamp, frame, *sink);
    }
    t.lastTs = timestamp;
    t.sent = true;
}

void RtspSession::writeRtpHeader(Track& track, int payloadType, bool marker, uint32_t timestamp,
                                 uint8_t* rtp) {
    rtp[0] = 0x80;  // version 2, no padding, no extension, no CSRC
    rtp[1] = static_cast<uint8_t>((marker ? 0x80 : 0) | (payloadType & 0x7F));
    put16(rtp + 2, track.seq);
    put32(rtp + 4, timestamp);
    put32(rtp + 8, track.ssrc);
    ++track.seq;
}

void RtspSession::writeInterleaved(Track& track, int payloadType, uint32_t timestamp,
                                   const RtpFrame& frame, RtspInterleavedSink& sink) {
    // The whole frame in one write, the payloads straight from the shared frame.
    const size_t count = frame.packets.size();
    m_interleavedHeaders.resize(16 * count);
    m_interleavedParts.resize(2 * count);
    for (size_t i = 0; i < count; ++i) {
        const RtpFrame::Packet& packet = frame.packets[i];
        uint8_t* header = m_interleavedHeaders.data() + 16 * i;
        header[0] = '$';
        header[1] = static_cast<uint8_t>(track.rtpChannel);
        put16(header + 2, static_cast<uint32_t>(12 + packet.size));
        writeRtpHeader(track, payloadType, packet.marker, timestamp, header + 4);
        m_interleavedParts[2 * i] = {header, 16};
        m_interleavedParts[2 * i + 1] = {const_cast<uint8_t*>(frame.bytes.data() + packet.offset),
                                         packet.size};
        ++track.packets;
        track.octets += packet.size;
    }
    sink.writeParts(m_interleavedParts.data(), m_interleavedParts.size());
}

void RtspSession::sendDatagrams(Track& track, int payloadType, uint32_t timestamp,
                                const RtpFrame& frame) {
    if (!m_datagrams) {
        m_datagrams = std::make_unique<Datagrams>();
    }
    DatagramBatch& batch = m_datagrams->batch;
    size_t first = 0;  // packet of the frame the batch starts at
    for (size_t i = 0; i <= frame.packets.size(); ++i) {
        const size_t inBatch = i - first;
        if (i == frame.packets.size() || inBatch == DatagramBatch::kMaxDatagrams) {
            const DatagramBatch::Result result = batch.send(track.rtpFd);
            for (size_t k = first; k < first + result.sent; ++k) {
                track.octets += frame.packets[k].size;
            }
            track.packets += result.sent;
            if (result.lost > 0) {
                // Lost either way: a full socket buffer (the client's link cannot take the
                // rate) or no one listening on the client's port.
                m_sendErrors += result.lost;
                m_lastErrno = result.error;
                if (result.error == EAGAIN || result.error == EWOULDBLOCK ||
                    result.error == ENOBUFS) {
                    m_dropped += result.lost;
                }
            }
            first = i;
            if (i == frame.packets.size()) {
                break;
            }
        }
        const RtpFrame::Packet& packet = frame.packets[i];
        uint8_t* header = m_datagrams->headers[i - first];
        writeRtpHeader(track, payloadType, packet.marker, timestamp, header);
        batch.add(header, 12, frame.bytes.data() + packet.offset, packet.size);
    }
}

void RtspSession::sendRtcp(Track& track, const uint8_t* data, size_t size,
                           RtspInterleavedSink* sink) {
    if (m_kind == RtspTransport::Kind::TcpInterleaved) {
        if (sink == nullptr || m_jammed) {
            return;
        }
        uint8_t header[4] = {'$', static_cast<uint8_t>(track.rtcpChannel), 0, 0};
        put16(header + 2, static_cast<uint32_t>(size));
        sink->writeBytes(header, sizeof header);
        sink->writeBytes(data, size);
    } else if (::send(track.rtcpFd, data, size, MSG_NOSIGNAL) < 0) {
        ++m_sendErrors;
        m_lastErrno = errno;
    }
}

void RtspSession::report(int64_t nowMs, int64_t mediaUs, RtspInterleavedSink* sink) {
    if (!m_playing || nowMs - m_lastReportMs < kReportIntervalMs) {
        return;
    }
    m_lastReportMs = nowMs;
    const RtspStreamInfo& info = m_mount->info();
    const int64_t wall = wallUs();
    const uint32_t ntpSeconds = static_cast<uint32_t>(wall / 1000000 + kNtpOffset);
    const uint32_t ntpFraction = static_cast<uint32_t>(((wall % 1000000) << 32) / 1000000);
    static const char kCname[] = "libsluice";
    for (int i = 0; i < info.trackCount; ++i) {
        Track& t = m_tracks[i];
        if (!t.setUp || !t.sent) {
            continue;  // a report needs a timestamp the client has seen the like of
        }
        const uint32_t rtptime =
            t.tsBase + static_cast<uint32_t>(mediaUs / 1000000 * info.clockRate[i] +
                                             mediaUs % 1000000 * info.clockRate[i] / 1000000);
        // Sender report (28 bytes) and SDES with the CNAME (RFC 3550 wants both together).
        uint8_t packet[28 + 8 + 2 + sizeof kCname + 3] = {};
        packet[0] = 0x80;
        packet[1] = kSenderReport;
        put16(packet + 2, 6);
        put32(packet + 4, t.ssrc);
        put32(packet + 8, ntpSeconds);
        put32(packet + 12, ntpFraction);
        put32(packet + 16, rtptime);
        put32(packet + 20, static_cast<uint32_t>(t.packets));
        put32(packet + 24, static_cast<uint32_t>(t.octets));
        uint8_t* sdes = packet + 28;
        const size_t cnameLength = sizeof kCname - 1;
        const size_t sdesSize = (8 + 2 + cnameLength + 1 + 3) / 4 * 4;  // item, end, padding
        sdes[0] = 0x81;
        sdes[1] = 202;
        put16(sdes + 2, static_cast<uint32_t>(sdesSize / 4 - 1));
        put32(sdes + 4, t.ssrc);
        sdes[8] = 1;  // CNAME
        sdes[9] = static_cast<uint8_t>(cnameLength);
        std::memcpy(sdes + 10, kCname, cnameLength);
        sendRtcp(t, packet, 28 + sdesSize, sink);
    }
}

void RtspSession::onRtcp(const uint8_t* data, size_t size, int64_t nowMs) {
    m_lastActivityMs = nowMs;
    const RtspStreamInfo& info = m_mount->info();
    // A compound packet: walk every RTCP packet in it.
    size_t at = 0;
    while (at + 8 <= size) {
        const uint8_t* p = data + at;
        if ((p[0] >> 6) != 2) {
            return;
        }
        const size_t length = (static_cast<size_t>(p[2]) << 8 | p[3]) * 4 + 4;
        if (at + length > size) {
            return;
        }
        const int count = p[0] & 0x1F;
        size_t blocks = 0;
        if (p[1] == kReceiverReport) {
            blocks = 8;
            ++m_receiverReports;
        } else if (p[1] == kSenderReport) {
            blocks = 28;
        }
        if (blocks != 0) {
            for (int b = 0; b < count && blocks + 24 * (b + 1) <= length; ++b) {
                const uint8_t* block = p + blocks + 24 * b;
                const uint32_t ssrc = get32(block);
                for (int i = 0; i < info.trackCount; ++i) {
                    if (!m_tracks[i].setUp || m_tracks[i].ssrc != ssrc) {
                        continue;
                    }
                    // Cumulative loss is a signed 24-bit figure; jitter is in timestamp units.
                    int32_t lost = static_cast<int32_t>(get32(block + 4) << 8) >> 8;
                    if (i == 0 || !m_hasReport) {
                        m_lost = lost > 0 ? static_cast<uint64_t>(lost) : 0;
                    }
                    const uint32_t jitter = get32(block + 12);
                    if (info.isVideo[i] || info.trackCount == 1 || !m_hasReport) {
                        m_jitterUs = static_cast<int>(static_cast<uint64_t>(jitter) * 1000000 /
                                                      (info.clockRate[i] ? info.clockRate[i] : 1));
                    }
                    m_hasReport = true;
                }
            }
        }
        at += length;
    }
}

void RtspSession::readCallback(int fd, short, void* arg) {
    static_cast<RtspSession*>(arg)->onSocketReadable(fd);
}

void RtspSession::onSocketReadable(int fd) {
    uint8_t buffer[2048];
    // Bounded: a flood of datagrams cannot keep the loop here.
    for (int i = 0; i < 16; ++i) {
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n < 0) {
            return;
        }
        bool isRtcp = false;
        for (const Track& t : m_tracks) {
            isRtcp = isRtcp || (t.setUp && t.rtcpFd == fd);
        }
        if (isRtcp) {
            onRtcp(buffer, static_cast<size_t>(n), comn::ClockTime::getTime());
        }
        // Datagrams on the RTP port (NAT keep-alives of some players) are read and dropped.
    }
}

DestinationStats RtspSession::stats(const RtspInterleavedSink* sink,
                                    const RtspSession* multicastSender) const {
    DestinationStats stats;
    stats.address = m_peerAddress;
    stats.connectedSinceUs = m_createdUs;
    stats.rtspTransport = m_kind == RtspTransport::Kind::TcpInterleaved ? 2
                          : m_kind == RtspTransport::Kind::UdpMulticast ? 3
                                                                        : 1;
    const Track* tracks = multicastSender != nullptr ? multicastSender->m_tracks : m_tracks;
    for (int i = 0; i < RtspStreamInfo::kMaxTracks; ++i) {
        const Track& t = tracks[i];
        if (!t.setUp) {
            continue;
        }
        stats.counters.datagrams += t.packets;
        stats.counters.bytes +=
            t.octets + t.packets * (m_kind == RtspTransport::Kind::TcpInterleaved ? 16 : 12);
        if (stats.port == 0) {
            stats.port = m_kind == RtspTransport::Kind::TcpInterleaved
                             ? m_peerPort
                             : static_cast<uint16_t>(t.clientRtpPort);
            stats.rtcpPort = m_kind == RtspTransport::Kind::TcpInterleaved ? 0 : t.clientRtcpPort;
        }
    }
    if (stats.port == 0) {
        stats.port = m_peerPort;
    }
    stats.counters.dropped = m_dropped;
    stats.counters.jamEpisodes = m_jams;
    stats.counters.sendErrors = m_sendErrors;
    stats.counters.lastErrno = m_lastErrno;
    stats.counters.backlogBytes = sink != nullptr ? sink->backlog() : 0;
    stats.receiverReports = m_receiverReports;
    stats.hasReceiverReport = m_hasReport;
    stats.lostPackets = m_lost;
    stats.jitterUs = m_jitterUs;
    return stats;
}

}  // namespace av
