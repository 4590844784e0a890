#pragma once
// When the web-server mode's main loop synchronises the clock.

#include <cstdint>
#include <functional>
#include <string>

#include "EncoderRecords.h"

namespace enc {

/// The time synchronisation settings as the main loop uses them.
struct TimeSyncSettings {
    bool enabled = false;   // time_mode == 1
    bool lteMode = false;   // connectionType == 2 also synchronises
    int intervalHours = 4;  // "cycle", or 4 when it is 0 or less
    std::string server;     // "timeServer", or kDefaultTimeServer when empty
};

/// Public NTP pool used when the settings name no server.
constexpr const char* kDefaultTimeServer = "pool.ntp.org";

/// Derives the settings from the loaded "server" and "network" sections.
TimeSyncSettings timeSyncSettings(const FtpSettings& ftp, const NetworkSettings& network);

/// The main loop's synchronisation counter. Each pass of the loop counts as 3 seconds (it
/// waits up to 3 s for the media process); the clock is synchronised on the first pass and
/// then whenever passes × 3 is a multiple of interval × 3600. Used by the main thread only.
class TimeSyncSchedule {
public:
    explicit TimeSyncSchedule(const TimeSyncSettings& settings);

    /// Prints "npt enable:%d, interval:%d, server:%s".
    void printSettings() const;

    /// True when synchronisation is on or the device is in LTE mode.
    bool active() const { return m_settings.enabled || m_settings.lteMode; }

    /// One pass of the main loop. When active and due: prints "start NTP" and calls
    /// sync(server) synchronously. Then counts the pass (only while active). True when
    /// sync was called.
    bool onPass(const std::function<void(const std::string& server)>& sync);

    /// Passes counted so far.
    int64_t ticks() const { return m_ticks; }

    const TimeSyncSettings& settings() const { return m_settings; }

private:
    TimeSyncSettings m_settings;
    int64_t m_ticks = 0;
};

}  // namespace enc
