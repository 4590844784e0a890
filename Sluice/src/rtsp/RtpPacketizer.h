#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "MediaCasterConfig.h"

namespace av {

/// One frame cut into RTP payloads, shared by every session of a stream: only the 12-byte
/// RTP header (sequence number, timestamp base, SSRC) differs per session and is written
/// when the packet is sent. Plain record; nobody changes it once made.
struct RtpFrame {
    struct Packet {
        uint32_t offset = 0;  // into bytes
        uint32_t size = 0;
        bool marker = false;
    };
    int track = 0;           // index of the media description: 0 video, 1 audio (when both)
    uint32_t timestamp = 0;  // in the track's clock, before the session's random base
    int64_t ptsUs = 0;
    bool key = false;  // video: an IRAP/IDR picture (sessions start at one)
    std::vector<uint8_t> bytes;
    std::vector<Packet> packets;
};

/// Cuts frames into RTP payloads: H.264 (RFC 6184, single NAL unit and FU-A, packetization
/// mode 1), H.265 (RFC 7798, single NAL unit and FU) and AAC (RFC 3640 mpeg4-generic,
/// AAC-hbr, one access unit per packet). Parameter sets seen in the stream (or given in the
/// configuration) are kept and sent in band before every key picture that lacks them, so a
/// client that joins later or lost the SDP's copy can still decode. Single-threaded.
class RtpPacketizer {
public:
    /// A payload of at most 1400 bytes: with the RTP, UDP and IPv4 headers (12 + 8 + 20)
    /// a packet stays below the 1500-byte Ethernet MTU, also inside a VPN or PPPoE link.
    static constexpr size_t kMaxPayload = 1400;
    static constexpr uint32_t kVideoClock = 90000;

    /// Tracks: video when videoCodec is H.264 or H.265, audio when audioCodec is AAC with a
    /// sample rate; the others are not served over RTSP.
    explicit RtpPacketizer(const MediaCasterConfig& config);

    bool hasVideo() const { return m_videoTrack >= 0; }
    bool hasAudio() const { return m_audioTrack >= 0; }
    int videoTrack() const { return m_videoTrack; }
    int audioTrack() const { return m_audioTrack; }
    int trackCount() const { return (m_videoTrack >= 0) + (m_audioTrack >= 0); }
    /// The clock of a track's RTP timestamps (90000 video, the sample rate for audio).
    uint32_t clockRate(int track) const;

    /// One Annex B access unit; null when the codec is not served or it held no picture.
    std::shared_ptr<RtpFrame> video(const uint8_t* data, size_t size, int64_t pts);
    /// One AAC frame with or without ADTS header; null when audio is not served.
    std::shared_ptr<RtpFrame> audio(const uint8_t* data, size_t size, int64_t pts);

    /// The media descriptions of the SDP, one per track with control "trackID=N", with the
    /// parameter sets known so far.
    std::string sdpMedia() const;
    /// The RTP payload type of a track (dynamic: 96 video, 97 audio).
    int payloadType(int track) const;

    /// Microseconds of a stream timestamp in its configured clock.
    int64_t videoUs(int64_t pts) const;
    int64_t audioUs(int64_t pts) const;

private:
    void rememberParameterSet(int type, const uint8_t* nal, size_t size);
    void addNal(RtpFrame& frame, const uint8_t* nal, size_t size);
    std::string audioConfigHex() const;

    int m_videoCodec = 0;
    int m_videoTrack = -1;
    int m_audioTrack = -1;
    int64_t m_videoClock = 1000000;
    int64_t m_audioClock = 48000;
    MediaCasterConfig m_config;
    // The latest parameter sets, NAL units without start code (H.264: SPS, PPS; H.265: VPS,
    // SPS, PPS).
    std::string m_vps;
    std::string m_sps;
    std::string m_pps;
};

}  // namespace av
