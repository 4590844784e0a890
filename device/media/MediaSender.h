#pragma once

namespace enc {

/// Where the device handler sends its change codes (the media link, or a test's recorder).
class MediaSender {
public:
    virtual ~MediaSender() = default;
    /// Sends one change code with no payload. True when the datagram went out; callers
    /// ignore a failure (the media process rereads the settings on its next change).
    virtual bool sendMediaCode(int code) = 0;
};

}  // namespace enc
