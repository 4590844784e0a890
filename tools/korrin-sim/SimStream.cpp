#include "SimStream.h"

#include <algorithm>
#include <cmath>
#include <ctime>

#include "TestPicture.h"

namespace ksim {
namespace {

// Time stamps start one second into the timeline, so the AAC encoder's priming frame
// (one frame before zero) still has a positive time stamp.
constexpr int64_t kTimelineStartUs = 1000000;
// Further behind than this, a stream skips ahead instead of trying to catch up.
constexpr auto kMaxLag = std::chrono::milliseconds(500);

const char* streamName(int index) {
    return index == 0 ? "main" : "sub";
}

std::string upper(std::string text) {
    for (char& c : text) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    return text;
}

std::string wallClockText() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    tm local{};
    localtime_r(&now.tv_sec, &local);
    char text[40];
    const size_t n = std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    std::snprintf(text + n, sizeof text - n, ".%03ld", now.tv_nsec / 1000000);
    return text;
}

bool sameAudio(const StreamConfig& a, const StreamConfig& b) {
    return a.audioSampleRate == b.audioSampleRate && a.audioChannels == b.audioChannels &&
           a.audioBitrate == b.audioBitrate;
}

}  // namespace

SimStream::SimStream(int index, Log log)
    : m_index(index), m_log(std::move(log)), m_origin(Clock::now()), m_thread([this] { run(); }) {}

SimStream::~SimStream() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_all();
    m_thread.join();
}

void SimStream::configure(const StreamConfig& config, bool restartEncoder, bool reopenCasters) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_next = config;
        m_pending = true;
        m_nextRestart = m_nextRestart || restartEncoder;
        m_nextReopen = m_nextReopen || reopenCasters;
    }
    m_wake.notify_all();
}

StreamReport SimStream::report() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_report;
}

int64_t SimStream::videoBytes() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_videoBytes;
}

std::vector<OpenedOutput> SimStream::outputs() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_outputs;
}

AudioReport SimStream::audioReport() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_audioReport;
}

int64_t SimStream::videoFrames() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_videoFrames;
}

void SimStream::run() {
    std::unique_lock<std::mutex> lock(m_mutex);
    while (!m_stop) {
        if (m_pending) {
            const StreamConfig config = m_next;
            const bool restart = m_nextRestart;
            const bool reopen = m_nextReopen;
            m_pending = m_nextRestart = m_nextReopen = false;
            lock.unlock();
            apply(config, restart, reopen);
            lock.lock();
            continue;
        }
        if (!m_video.isOpen()) {
            m_wake.wait(lock);
            continue;
        }
        const auto frame = std::chrono::duration<double>(1.0 / m_video.params().fps);
        const auto nextVideo =
            m_videoStart + std::chrono::duration_cast<Clock::duration>(frame * m_frameIndex);
        auto due = nextVideo;
        Clock::time_point nextAudio = Clock::time_point::max();
        if (m_audio.isOpen()) {
            const auto audioFrame =
                std::chrono::duration<double>(double(m_audio.frameSize()) / m_audio.sampleRate());
            nextAudio = m_audioStart +
                        std::chrono::duration_cast<Clock::duration>(audioFrame * m_audioFrames);
            due = std::min(due, nextAudio);
        }
        if (Clock::now() < due) {
            m_wake.wait_until(lock, due);
            continue;
        }
        lock.unlock();
        const Clock::time_point now = Clock::now();
        if (now >= nextVideo) {
            produceVideo(now);
        }
        if (now >= nextAudio) {
            produceAudio(now);
        }
        lock.lock();
    }
    lock.unlock();
    shutDown();
}

void SimStream::apply(const StreamConfig& config, bool restartEncoder, bool reopenCasters) {
    if (!config.enabled) {
        if (m_video.isOpen()) {
            say("stopped");
        }
        shutDown();
        m_config = config;
        publishReport();
        return;
    }
    const Clock::time_point now = Clock::now();
    const bool wasOpen = m_video.isOpen();
    const bool newVideo = !wasOpen || restartEncoder || config.video != m_config.video;
    const bool newAudio = !m_audio.isOpen() || !sameAudio(config, m_config);
    // The transport stream declares the codecs, so a new codec or audio format needs new
    // casters; a new size or rate does not (the parameter sets travel in the stream).
    const bool newCasters = !wasOpen || reopenCasters || newAudio ||
                            config.video.codec != m_config.video.codec ||
                            !(config.casters == m_config.casters);
    m_config = config;
    if (newVideo) {
        if (wasOpen && restartEncoder) {
            say("restarting the encoder");
        }
        if (!openVideo(config.video, now)) {
            shutDown();
            publishReport();
            return;
        }
    }
    if (newAudio) {
        openAudio(config, now);
    }
    if (newCasters) {
        openCasters();
    }
    publishReport();
}

void SimStream::shutDown() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_outputs.clear();
    }
    m_casters.close();
    m_video.close();
    m_audio.close();
}

bool SimStream::openVideo(const EncodeParams& params, Clock::time_point start) {
    std::string note;
    std::string why;
    const bool ok = m_video.open(params, note, why);
    if (!note.empty()) {
        say(note);
    }
    if (!ok) {
        say("cannot encode: " + why);
        return false;
    }
    say("encoding " + m_video.params().describe());
    m_videoStart = start;
    // A new encoder continues the stream's timeline; time stamps never step back.
    m_videoBaseUs = std::max(timelineUs(start), m_lastVideoUs + 1);
    m_frameIndex = 0;
    return true;
}

bool SimStream::openAudio(const StreamConfig& config, Clock::time_point start) {
    std::string note;
    std::string why;
    const bool ok =
        m_audio.open(config.audioSampleRate, config.audioChannels, config.audioBitrate, note, why);
    if (!note.empty()) {
        say(note);
    }
    if (!ok) {
        say("no audio: " + why);
        return false;
    }
    m_audioStart = start;
    m_audioBaseUs = timelineUs(start);
    m_audioFrames = 0;
    return true;
}

void SimStream::openCasters() {
    sluice_media_format format{};
    format.video_codec = m_video.params().codec == "H.265" ? SLUICE_CODEC_H265 : SLUICE_CODEC_H264;
    format.width = m_video.params().width;
    format.height = m_video.params().height;
    format.video_clock = 1000000;  // time stamps in microseconds
    if (m_audio.isOpen()) {
        format.audio_codec = SLUICE_CODEC_AAC;
        format.channels = m_audio.channels();
        format.sample_rate = m_audio.sampleRate();
        format.audio_profile = 1;  // AAC LC
        format.audio_clock = 1000000;
        format.audio_config_size = static_cast<int32_t>(m_audio.config().size());
        format.audio_config = m_audio.config().data();
    }
    if (m_config.casters.empty()) {
        say("nothing to cast to (no output enabled, or every one skipped); encoding anyway");
    }
    m_casters.open(m_config.casters, format, [this](const std::string& text) { say(text); });
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_outputs = m_casters.outputs();
    }
    // Receivers of a new caster can start decoding at once.
    m_forceKey = true;
}

void SimStream::produceVideo(Clock::time_point now) {
    const auto frame = std::chrono::duration<double>(1.0 / m_video.params().fps);
    const auto scheduled =
        m_videoStart + std::chrono::duration_cast<Clock::duration>(frame * m_frameIndex);
    if (now - scheduled > kMaxLag) {
        if (!m_warnedLate) {
            say("cannot keep up in real time; skipping frames");
            m_warnedLate = true;
        }
        m_frameIndex = int64_t(std::chrono::duration<double>(now - m_videoStart) / frame);
    }
    const int fps = m_video.params().fps;
    const int64_t frameUs = m_videoBaseUs + m_frameIndex * 1000000 / fps;
    const PicturePlanes picture = m_video.picture();
    if (picture.data[0] != nullptr) {
        TestPicture::render(picture, double(frameUs - kTimelineStartUs) / 1e6,
                            pictureLines(m_frameIndex), !m_config.input.signal);
    }
    int64_t bytes = 0;
    const bool ok = m_video.encode(m_frameIndex, m_forceKey, [&](const VideoEncoder::Unit& unit) {
        bytes += unit.size;
        m_lastVideoUs = m_videoBaseUs + unit.pts * 1000000 / fps;
        m_casters.write(SLUICE_PACKET_VIDEO, unit.data, unit.size, m_lastVideoUs, unit.key);
    });
    if (!ok) {
        say("the video encoder failed on frame " + std::to_string(m_frameIndex));
    }
    m_forceKey = false;
    ++m_frameIndex;
    std::lock_guard<std::mutex> lock(m_mutex);
    ++m_videoFrames;
    m_videoBytes += bytes;
}

void SimStream::produceAudio(Clock::time_point now) {
    const int rate = m_audio.sampleRate();
    const auto audioFrame = std::chrono::duration<double>(double(m_audio.frameSize()) / rate);
    const auto scheduled =
        m_audioStart + std::chrono::duration_cast<Clock::duration>(audioFrame * m_audioFrames);
    if (now - scheduled > kMaxLag && !openAudio(m_config, now)) {
        return;  // a fresh encoder restarts the sound at the present
    }
    m_audio.encodeNext([&](const AudioEncoder::Unit& unit) {
        m_casters.write(SLUICE_PACKET_AUDIO, unit.data, unit.size,
                        m_audioBaseUs + unit.pts * 1000000 / rate, false);
    });
    ++m_audioFrames;
}

std::vector<std::string> SimStream::pictureLines(int64_t frame) const {
    const EncodeParams& p = m_video.params();
    std::vector<std::string> lines;
    lines.push_back(std::string("KORRIN-SIM ") + (m_index == 0 ? "MAIN" : "SUB") + " STREAM");
    lines.push_back(wallClockText());
    lines.push_back(upper(p.codec + " " + std::to_string(p.width) + "*" + std::to_string(p.height) +
                          " " + std::to_string(p.fps) + " FPS"));
    lines.push_back("GOP " + std::to_string(p.gop) + "  " + std::to_string(p.bitrateKbps) +
                    " KBIT/S");
    lines.push_back("INPUT " + std::string(m_config.input.kindName()) + " " +
                    upper(m_config.input.describe()));
    if (m_audio.isOpen()) {
        lines.push_back("AUDIO AAC " + std::to_string(m_audio.sampleRate()) + " HZ " +
                        std::to_string(m_audio.channels()) + " CH");
    }
    lines.push_back("FRAME " + std::to_string(frame));
    return lines;
}

int64_t SimStream::timelineUs(Clock::time_point t) const {
    return kTimelineStartUs +
           std::chrono::duration_cast<std::chrono::microseconds>(t - m_origin).count();
}

void SimStream::publishReport() {
    StreamReport report;
    if (m_video.isOpen()) {
        const EncodeParams& p = m_video.params();
        report = StreamReport{true, p.codec, p.width, p.height, p.fps, p.bitrateKbps};
    }
    report.rtspFailedPort = m_casters.failedRtspPort();
    AudioReport audio;
    if (m_audio.isOpen() && m_video.isOpen()) {
        audio = AudioReport{true, m_audio.sampleRate(), m_audio.channels(), m_audio.bitrate()};
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    m_report = report;
    m_audioReport = audio;
}

void SimStream::say(const std::string& text) const {
    m_log(std::string(streamName(m_index)) + " stream: " + text);
}

}  // namespace ksim
