#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "DrainStats.h"

/// RTSP clients of one server (no authentication), for one epoll loop: each sets up every
/// track of the stream over UDP (its own RTP/RTCP socket pair) or interleaved on its TCP
/// connection, and counts the RTP packets and bytes that arrive. Client i speaks from
/// 127.0.0.(2 + i), so that a server's per-address limit sees one connection per address.
///
/// open() does the exchange up to SETUP at once, blocking (loopback, before any media
/// flows), then sends every PLAY in one burst, so that the clients start as nearly together
/// as a server lets them; ready() tells when every PLAY was answered. Bytes are whole RTP packets
/// (header included); per client, the packets received and the packets its sequence numbers say
/// were sent between its first and its last one (DrainStats::packets, expectedPackets).
class RtspDrain {
public:
    RtspDrain() = default;
    ~RtspDrain();
    RtspDrain(const RtspDrain&) = delete;
    RtspDrain& operator=(const RtspDrain&) = delete;

    bool open(const std::string& host, int port, int count, bool tcp, int receiveBuffer,
              DrainStats& stats, std::string& error);
    /// Every descriptor to watch for reading, with its tag for onReadable.
    size_t descriptorCount() const { return m_watched.size(); }
    int descriptor(size_t tag) const { return m_watched[tag].fd; }
    /// Reads what is waiting on descriptor tag. False when its connection ended.
    bool onReadable(size_t tag, DrainStats& stats);
    /// Every client's PLAY was answered (a refusal counts in DrainStats::errors).
    bool ready() const { return m_played == m_clients.size(); }
    /// Fills stats.packets and stats.expectedPackets.
    void finish(DrainStats& stats) const;

private:
    struct Track {
        bool seen = false;
        uint16_t lastSeq = 0;
        int64_t firstExt = 0;
        int64_t lastExt = 0;
        uint64_t packets = 0;
    };
    struct Client {
        int fd = -1;
        std::string address;
        std::string session;
        std::vector<int> udp;  // per track: RTP then RTCP socket
        std::vector<Track> tracks;
        std::string pending;  // bytes not yet a whole frame or answer
        bool played = false;  // its PLAY was answered
    };
    struct Watched {
        int fd;
        size_t client;
        int track;  // UDP RTP socket's track; -1: the RTSP connection; -2: an RTCP socket
    };

    bool request(Client& client, const std::string& method, const std::string& uri,
                 const std::string& extra, std::string& answer, std::string& error);
    void onPacket(size_t client, int track, const uint8_t* data, size_t size, DrainStats& stats);

    std::vector<Client> m_clients;
    std::vector<Watched> m_watched;
    bool m_tcp = false;
    int m_cseq = 0;
    size_t m_played = 0;
};
