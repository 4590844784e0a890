#include "TimeSyncSchedule.h"

#include "Console.h"

namespace enc {
namespace {

constexpr int kLteConnection = 2;
constexpr int kDefaultIntervalHours = 4;
// A pass of the main loop waits up to 3 s for the media process; it counts as that long.
constexpr int64_t kSecondsPerPass = 3;

}  // namespace

TimeSyncSettings timeSyncSettings(const FtpSettings& ftp, const NetworkSettings& network) {
    TimeSyncSettings settings;
    settings.enabled = ftp.timeMode == 1;
    settings.lteMode = network.connectionType == kLteConnection;
    settings.intervalHours = ftp.ftptime > 0 ? ftp.ftptime : kDefaultIntervalHours;
    settings.server = ftp.timeServer.empty() ? kDefaultTimeServer : ftp.timeServer;
    return settings;
}

TimeSyncSchedule::TimeSyncSchedule(const TimeSyncSettings& settings) : m_settings(settings) {
    if (m_settings.intervalHours <= 0) {
        m_settings.intervalHours = kDefaultIntervalHours;
    }
}

void TimeSyncSchedule::printSettings() const {
    say("npt enable:%d, interval:%d, server:%s\n", m_settings.enabled ? 1 : 0,
        m_settings.intervalHours, m_settings.server.c_str());
}

bool TimeSyncSchedule::onPass(const std::function<void(const std::string& server)>& sync) {
    if (!active()) {
        return false;
    }
    const int64_t period = static_cast<int64_t>(m_settings.intervalHours) * 3600;
    const bool due = (m_ticks * kSecondsPerPass) % period == 0;
    if (due) {
        say("start NTP\n");
        sync(m_settings.server);
    }
    ++m_ticks;
    return due;
}

}  // namespace enc
