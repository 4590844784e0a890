#include "RtmpPusher.h"

extern "C" {
#include <libavformat/avio.h>
#include <libavutil/error.h>
}

#include <algorithm>
#include <chrono>
#include <ctime>

#include "CLog.h"
#include "LibrarySettings.h"
#include "sluice.h"

namespace av {
namespace {

int64_t monotonicMs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

int64_t wallClockUs() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

}  // namespace

RtmpPusher::RtmpPusher(int id, const RtmpUrl& url, const FlvTlsSettings& tls)
    : m_id(id), m_url(url), m_tls(tls) {}

RtmpPusher::~RtmpPusher() {
    stop();
}

bool RtmpPusher::start() {
    m_stopping = false;
    setStackSize(static_cast<unsigned int>(LibrarySettings::stackSize()));
    setState(SLUICE_STATE_CONNECTING, "");
    return comn::Thread::start();
}

void RtmpPusher::stop() {
    comn::Thread::stop();
    m_publisher.close();
    setState(SLUICE_STATE_OFF, "");
}

void RtmpPusher::doStop() {
    m_stopping = true;
    m_queue.wake();
    std::lock_guard<std::mutex> lock(m_mutex);
    m_wake.notify_all();
}

void RtmpPusher::setStreams(const FlvStreams& streams) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_haveStreams) {
        m_streams = streams;
        m_haveStreams = true;
        m_wake.notify_all();
    }
}

void RtmpPusher::push(RtmpFramePtr frame) {
    m_queue.push(std::move(frame));
}

DestinationStats RtmpPusher::stats() {
    DestinationStats record;
    record.protocol = SLUICE_PROTOCOL_RTMP;
    record.address = m_url.shown();
    record.framesDropped = m_queue.dropped();
    record.counters.dropped = record.framesDropped;
    record.counters.backlogBytes = 0;
    std::lock_guard<std::mutex> lock(m_mutex);
    record.state = m_state;
    record.stateText = m_stateText;
    record.connects = m_connects;
    record.reconnects = m_reconnects;
    record.frames = m_frames;
    record.counters.datagrams = m_frames;
    record.counters.bytes = m_bytes;
    record.counters.lastErrno = m_lastErrno;
    record.lastSuccessUs = m_lastSuccessUs;
    record.connectedSinceUs = m_state == SLUICE_STATE_PUBLISHING ? m_lastSuccessUs : 0;
    return record;
}

int RtmpPusher::interrupted(void* opaque) {
    auto* self = static_cast<RtmpPusher*>(opaque);
    if (self->m_stopping.load()) {
        return 1;
    }
    const int64_t deadline = self->m_ioDeadlineMs.load();
    return deadline != 0 && monotonicMs() > deadline ? 1 : 0;
}

void RtmpPusher::setState(int state, const std::string& text) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_state = state;
    m_stateText = RtmpUrl::stripUserInfo(text);
}

void RtmpPusher::waitBackoff(int ms) {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_wake.wait_for(lock, std::chrono::milliseconds(ms), [this] { return m_stopping.load(); });
}

int RtmpPusher::run() {
    CLog::info("RtmpTsMediaCaster(%d) pushing to %s\n", m_id, m_url.shown().c_str());
    int backoffMs = kFirstBackoffMs;
    while (!m_stopping) {
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_wake.wait(lock, [this] { return m_haveStreams || m_stopping.load(); });
        }
        if (m_stopping || !m_queue.waitForKey(200)) {
            continue;
        }
        if (publishOnce()) {
            backoffMs = kFirstBackoffMs;
        }
        if (m_stopping) {
            break;
        }
        waitBackoff(backoffMs);
        backoffMs = std::min(backoffMs * 2, kMaxBackoffMs);
    }
    return 0;
}

bool RtmpPusher::publishOnce() {
    m_queue.skipToNewestKey();
    FlvStreams streams;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        streams = m_streams;
        m_state = SLUICE_STATE_CONNECTING;
    }
    std::string error;
    const AVIOInterruptCB interrupt{&RtmpPusher::interrupted, this};
    m_ioDeadlineMs = monotonicMs() + kIoTimeoutMs;
    int status = m_publisher.open(m_url.full(), streams, m_tls, interrupt, error);
    m_ioDeadlineMs = 0;
    bool published = false;
    if (status == 0) {
        published = true;
        std::lock_guard<std::mutex> lock(m_mutex);
        ++m_connects;
        if (m_connects > 1 || m_troubleSinceConnect) {
            ++m_reconnects;
        }
        m_troubleSinceConnect = false;
        m_lastSuccessUs = wallClockUs();
        m_lastErrno = 0;
        m_state = SLUICE_STATE_PUBLISHING;
        m_stateText.clear();
        CLog::info("RtmpTsMediaCaster(%d) publishing to %s\n", m_id, m_url.shown().c_str());
        m_loggedError.clear();
    }
    uint64_t bytesBefore = 0;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        bytesBefore = m_bytes;
    }
    while (status == 0 && !m_stopping) {
        RtmpFramePtr frame = m_queue.pop(500);
        if (frame == nullptr) {
            continue;
        }
        int64_t& last = frame->video ? m_lastVideoMs : m_lastAudioMs;
        RtmpFrame timed;
        const RtmpFrame* out = frame.get();
        if (frame->timeMs < last) {
            // A timestamp that goes back (an encoder glitch) is held at the previous one.
            timed = *frame;
            timed.timeMs = last;
            out = &timed;
        }
        m_ioDeadlineMs = monotonicMs() + kIoTimeoutMs;
        status = m_publisher.write(*out, error);
        m_ioDeadlineMs = 0;
        if (status == 0) {
            last = out->timeMs;
            std::lock_guard<std::mutex> lock(m_mutex);
            ++m_frames;
            m_bytes = bytesBefore + m_publisher.bytes();
        }
    }
    m_publisher.close();
    if (m_stopping) {
        return published;
    }
    error = RtmpUrl::stripUserInfo(error);
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_troubleSinceConnect = true;
        m_lastErrno = status == AVERROR_EXIT ? ETIMEDOUT : AVUNERROR(status);
        if (status == AVERROR_EXIT) {
            error =
                std::string(published ? "send" : "connect or publish") + ": no progress for 10 s";
        }
        m_state = SLUICE_STATE_RETRYING;
        m_stateText = error;
    }
    // Logged once per kind of trouble: a server that stays away does not fill the log.
    if (error != m_loggedError) {
        CLog::warning("RtmpTsMediaCaster(%d) %s: %s; trying again\n", m_id, m_url.shown().c_str(),
                      error.c_str());
        m_loggedError = error;
    }
    return published;
}

}  // namespace av
