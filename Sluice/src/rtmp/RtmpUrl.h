#pragma once

#include <string>

namespace av {

/// What the push caster needs to know about an "rtmp://" or "rtmps://" destination URL
/// ("rtmp://[user:password@]host[:port]/app/stream"). The user information is passed on to
/// FFmpeg only; every text meant for people uses shown(), which leaves it out.
class RtmpUrl {
public:
    /// False (and nothing kept) unless text begins with rtmp:// or rtmps:// (any case),
    /// names a host and has a path; control characters and spaces are refused.
    bool parse(const std::string& text);

    const std::string& full() const { return m_full; }
    /// The URL without user information, for logs and status texts.
    const std::string& shown() const { return m_shown; }
    bool secure() const { return m_secure; }
    bool empty() const { return m_full.empty(); }

    /// text with the user information of every URL in it removed ("scheme://user:pw@host"
    /// becomes "scheme://host"), for texts that may quote a URL (FFmpeg's messages).
    static std::string stripUserInfo(const std::string& text);

private:
    std::string m_full;
    std::string m_shown;
    bool m_secure = false;
};

}  // namespace av
