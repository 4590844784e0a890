#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>

#include "DestinationStats.h"
#include "FlvPublisher.h"
#include "RtmpFrameQueue.h"
#include "RtmpUrl.h"
#include "TThread.h"

namespace av {

/// The sender thread of one RTMP push: connects, publishes the frames of its queue and, when
/// the server refuses, closes or disappears, tries again after a back-off of 1 s doubling to
/// 30 s (1 s again after a connection that published). Every connection starts with the
/// sequence headers and a key frame; timestamps run on across connections.
///
/// Threads: push() is the writer's and never waits for the network; start, stop and stats
/// from any thread (start and stop not concurrently). FFmpeg's blocking calls are cut short
/// by an interrupt callback: at once on stop, and after kIoTimeoutMs without progress.
class RtmpPusher : private comn::Thread {
public:
    /// No progress for this long ends a connection attempt or a send (FFmpeg polls the
    /// callback every 100 ms or so).
    static constexpr int64_t kIoTimeoutMs = 10000;
    static constexpr int kFirstBackoffMs = 1000;
    static constexpr int kMaxBackoffMs = 30000;

    RtmpPusher(int id, const RtmpUrl& url, const FlvTlsSettings& tls);
    ~RtmpPusher() override;
    RtmpPusher(const RtmpPusher&) = delete;
    RtmpPusher& operator=(const RtmpPusher&) = delete;

    /// The streams are known once the first key frame with parameter sets has arrived; the
    /// thread connects only then. False when the thread could not be made.
    bool start();
    /// Ends the connection (at once) and the thread.
    void stop();

    /// Hands over the stream description (first call wins) and queues a frame.
    void setStreams(const FlvStreams& streams);
    void push(RtmpFramePtr frame);

    /// The one destination record: state, counters, the URL without user information.
    DestinationStats stats();

private:
    int run() override;
    void doStop() override;
    /// One connection, from connect to loss. True when it published.
    bool publishOnce();
    void setState(int state, const std::string& text);
    void waitBackoff(int ms);
    static int interrupted(void* opaque);

    const int m_id;
    const RtmpUrl m_url;
    const FlvTlsSettings m_tls;
    RtmpFrameQueue m_queue;
    FlvPublisher m_publisher;

    std::atomic<bool> m_stopping{false};
    std::atomic<int64_t> m_ioDeadlineMs{0};  // monotonic; 0 = no I/O in progress

    std::mutex m_mutex;  // guards everything below
    std::condition_variable m_wake;
    bool m_haveStreams = false;
    FlvStreams m_streams;
    int m_state = 0;
    std::string m_stateText;
    uint64_t m_connects = 0;
    uint64_t m_reconnects = 0;
    uint64_t m_bytes = 0;
    uint64_t m_frames = 0;
    int64_t m_lastSuccessUs = 0;
    int m_lastErrno = 0;
    bool m_troubleSinceConnect = false;
    std::string m_loggedError;   // the sender thread's own
    int64_t m_lastVideoMs = -1;  // the last times sent, so that they never go back
    int64_t m_lastAudioMs = -1;
};

}  // namespace av
