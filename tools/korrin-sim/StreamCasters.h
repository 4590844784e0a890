#pragma once
// The libSluice casters of one stream, used through sluice.h only: opened from an output
// plan, fed every encoded frame, closed again.

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "OutputPlan.h"
#include "sluice.h"

namespace ksim {

/// One entry of a plan as it was opened: its handle, or why it could not be.
struct OpenedOutput {
    int handle = -1;  // -1: not cast (failure says why)
    int protocol = 0;
    std::string address;  // "0.0.0.0:8081" (a listener; RTSP adds its path) or "host:port"
    std::string failure;
};

class StreamCasters {
public:
    using Log = std::function<void(const std::string&)>;

    StreamCasters() = default;
    ~StreamCasters() { close(); }
    StreamCasters(const StreamCasters&) = delete;
    StreamCasters& operator=(const StreamCasters&) = delete;

    /// Closes what is open, then opens one caster per entry of the plan with this stream
    /// description, sets the entry's options and adds its target; a caster that refuses an
    /// option or the target is closed again. Each success and failure is logged through
    /// log, by the entry's label (option values never).
    /// Returns how many casters are open.
    size_t open(const std::vector<CasterPlan>& casters, const sluice_media_format& format,
                const Log& log);
    void close();
    size_t count() const { return m_handles.size(); }
    /// Every entry of the last open(), in plan order, also those that failed.
    const std::vector<OpenedOutput>& outputs() const { return m_outputs; }

    /// The stream's RTMP push: its address (the URL without user information) and its
    /// SLUICE_STATE_*. False when it has none open. Any thread.
    bool rtmpStatus(std::string& address, int& state) const;

    /// The RTSP port the last open() could not serve on (sluice_open refused it); 0 when
    /// none failed or since close().
    int failedRtspPort() const { return m_failedRtspPort; }

    /// Hands one frame to every open caster (time stamps in microseconds).
    void write(int type, const uint8_t* data, int size, int64_t ptsUs, bool key);

private:
    std::vector<int> m_handles;
    mutable std::mutex m_rtmpMutex;  // the push's handle, read by the status thread
    int m_rtmpHandle = -1;
    std::string m_rtmpAddress;
    std::vector<OpenedOutput> m_outputs;
    int m_failedRtspPort = 0;
};

}  // namespace ksim
