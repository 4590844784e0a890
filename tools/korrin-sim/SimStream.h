#pragma once
// One simulated stream (main or sub): a thread that draws the test picture and the tone in
// real time, encodes them and hands every frame to the stream's libSluice casters.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "AudioEncoder.h"
#include "EncodeParams.h"
#include "InputState.h"
#include "OutputPlan.h"
#include "StatusRecords.h"
#include "StreamCasters.h"
#include "VideoEncoder.h"

namespace ksim {

/// Everything a stream runs with; built from the settings file and the input.
struct StreamConfig {
    bool enabled = false;  // false: no encoder, no casters
    EncodeParams video;
    std::vector<CasterPlan> casters;
    int audioSampleRate = 48000;
    int audioChannels = 2;
    int audioBitrate = 64000;
    InputState input;  // shown in the picture
};

class SimStream {
public:
    using Log = std::function<void(const std::string&)>;

    /// index 0 is the main stream, 1 the sub stream. The thread starts idle.
    SimStream(int index, Log log);
    ~SimStream();
    SimStream(const SimStream&) = delete;
    SimStream& operator=(const SimStream&) = delete;

    /// Hands the stream a new configuration; its thread applies it before the next frame.
    /// restartEncoder: open a new video encoder even when the parameters are the same (the
    /// casters are re-opened too when the codec changed). reopenCasters: close and open the
    /// casters even when the plan is the same; the next picture is then a key frame.
    /// Changed parameters or casters are always applied. Any thread.
    void configure(const StreamConfig& config, bool restartEncoder, bool reopenCasters);

    /// What the stream encodes right now (all zero while it is off). Any thread.
    StreamReport report() const;
    AudioReport audioReport() const;

    /// The stream's RTMP push (StreamCasters::rtmpStatus). Any thread.
    bool rtmpStatus(std::string& address, int& state) const {
        return m_casters.rtmpStatus(address, state);
    }

    /// Frames encoded so far (video, audio); for tests and the exit summary.
    int64_t videoFrames() const;
    /// Encoded video bytes so far, for the measured bit rate. Any thread.
    int64_t videoBytes() const;
    /// The stream's outputs as last opened (none while it is off). Any thread; the handles
    /// may be closed by the stream thread at any moment, which libSluice tolerates.
    std::vector<OpenedOutput> outputs() const;

private:
    using Clock = std::chrono::steady_clock;

    void run();
    void apply(const StreamConfig& config, bool restartEncoder, bool reopenCasters);
    void shutDown();
    bool openVideo(const EncodeParams& params, Clock::time_point start);
    bool openAudio(const StreamConfig& config, Clock::time_point start);
    void openCasters();
    void produceVideo(Clock::time_point now);
    void produceAudio(Clock::time_point now);
    std::vector<std::string> pictureLines(int64_t frame) const;
    int64_t timelineUs(Clock::time_point t) const;
    void publishReport();
    void say(const std::string& text) const;

    const int m_index;
    const Log m_log;
    const Clock::time_point m_origin;

    // Shared with other threads.
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_stop = false;
    bool m_pending = false;
    StreamConfig m_next;
    bool m_nextRestart = false;
    bool m_nextReopen = false;
    StreamReport m_report;
    AudioReport m_audioReport;
    int64_t m_videoFrames = 0;
    int64_t m_videoBytes = 0;
    std::vector<OpenedOutput> m_outputs;

    // The stream thread's own.
    StreamConfig m_config;
    VideoEncoder m_video;
    AudioEncoder m_audio;
    StreamCasters m_casters;
    Clock::time_point m_videoStart;
    int64_t m_videoBaseUs = 0;
    int64_t m_lastVideoUs = 0;
    int64_t m_frameIndex = 0;
    bool m_forceKey = false;
    Clock::time_point m_audioStart;
    int64_t m_audioBaseUs = 0;
    int64_t m_audioFrames = 0;
    bool m_warnedLate = false;

    std::thread m_thread;  // last: starts after every member above exists
};

}  // namespace ksim
