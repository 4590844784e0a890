#pragma once

#include <string>

#include "EncoderRecords.h"

namespace enc {

class LteState;
class MediaState;

/// Assembles the live status records of the web API from the media process's records, the
/// LTE monitor's state, the board's files and the interfaces. Reads whole record copies, so
/// the main loop and the LTE monitor may replace records meanwhile. Both states must
/// outlive this object.
class LiveStatus {
public:
    LiveStatus(const MediaState& media, const LteState& lte) : m_media(media), m_lte(lte) {}

    /// The input: the optional input description file when present, else the media
    /// process's records; stored is what was reported last (kept where the file is partial).
    InputStatus input(int index, const InputStatus& stored, const AudioSettings& audio) const;
    /// Fills the video and audio texts and the output addresses of stream index (0 or 1).
    void stream(int index, const VideoSettings& video, const AudioSettings& audio,
                const ProtocolSettings& mainProtocol, const ProtocolSettings& protocol,
                StreamStatus& out) const;
    /// stored with the device's serial number, versions and uptime.
    SysInfo sysInfo(const SysInfo& stored) const;
    /// stored with the modem's state and the LTE interface's addresses.
    LteStatus lte(const LteStatus& stored) const;
    /// url's rtsp text tells when the media process could not open stream index's RTSP port.
    void rtspServed(int index, const ProtocolSettings& protocol, StreamUrl& url) const;
    /// The active stream's format with the two RTSP names.
    StreamFormat streamFormat(const std::string& mainRtspName,
                              const std::string& subRtspName) const;

    /// The address of the interface in use, as text ("0.0.0.0" when none).
    static std::string deviceAddress();

private:
    const MediaState& m_media;
    const LteState& m_lte;
};

}  // namespace enc
