// sluice-cast: casts a media file through libSluice's public interface (sluice.h only).
// An example for integrators, and the sender the tests and benchmarks use.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <memory>
#include <thread>
#include <vector>

extern "C" {
#include <libavutil/log.h>
}

#include "CastOptions.h"
#include "MediaReader.h"
#include "StatsTable.h"
#include "sluice.h"

namespace {

enum ExitCode { kDone = 0, kUsage = 1, kInputTrouble = 2, kLibraryRefused = 3 };

std::atomic<bool> g_interrupted{false};

void onSignal(int) {
    g_interrupted = true;
}

/// The inputs with the frame each one has read ahead, merged in timestamp order.
class FrameSource {
public:
    bool open(const CastOptions& options, std::string& error) {
        m_readers.clear();
        bool needVideo = true;
        bool needAudio = true;
        for (const std::string& path : options.inputs) {
            auto reader = std::make_unique<MediaReader>();
            if (!reader->open(path, needVideo, needAudio, error)) {
                return false;
            }
            needVideo = needVideo && !reader->hasVideo();
            needAudio = needAudio && !reader->hasAudio();
            m_readers.push_back(std::move(reader));
        }
        m_pending.assign(m_readers.size(), CastFrame());
        m_hasPending.assign(m_readers.size(), false);
        for (size_t i = 0; i < m_readers.size(); ++i) {
            m_hasPending[i] = m_readers[i]->next(m_pending[i]);
        }
        return true;
    }

    /// The earliest timestamp among the frames read ahead (the start of this pass).
    int64_t firstPts() const {
        int64_t first = INT64_MAX;
        for (size_t i = 0; i < m_pending.size(); ++i) {
            if (m_hasPending[i]) {
                first = std::min(first, m_pending[i].ptsUs);
            }
        }
        return first == INT64_MAX ? 0 : first;
    }

    bool next(CastFrame& out) {
        int best = -1;
        for (size_t i = 0; i < m_pending.size(); ++i) {
            if (m_hasPending[i] && (best < 0 || m_pending[i].ptsUs < m_pending[best].ptsUs)) {
                best = static_cast<int>(i);
            }
        }
        if (best < 0) {
            return false;
        }
        out = std::move(m_pending[best]);
        m_hasPending[best] = m_readers[best]->next(m_pending[best]);
        return true;
    }

    /// The stream description for sluice_open (video from the first input that has it,
    /// audio likewise).
    void describe(sluice_media_format& format) const {
        for (const auto& reader : m_readers) {
            if (reader->hasVideo()) {
                format.video_codec = reader->videoCodec;
                format.width = reader->width;
                format.height = reader->height;
                format.video_profile = reader->videoProfile;
                format.video_clock = 1000000;
                format.video_config_size = static_cast<int32_t>(reader->videoConfig.size());
                format.video_config = reinterpret_cast<const uint8_t*>(reader->videoConfig.data());
            }
            if (reader->hasAudio()) {
                format.audio_codec = reader->audioCodec;
                format.channels = reader->channels;
                format.sample_rate = reader->sampleRate;
                format.audio_profile = reader->audioProfile;
                format.audio_clock = 1000000;
                format.audio_config_size = static_cast<int32_t>(reader->audioConfig.size());
                format.audio_config = reinterpret_cast<const uint8_t*>(reader->audioConfig.data());
            }
        }
    }

    bool sawReorderedFrames() const {
        for (const auto& reader : m_readers) {
            if (reader->sawReorderedFrames()) {
                return true;
            }
        }
        return false;
    }

private:
    std::vector<std::unique_ptr<MediaReader>> m_readers;
    std::vector<CastFrame> m_pending;
    std::vector<bool> m_hasPending;
};

bool writeSdp(const CastOptions& options) {
    const CastOptions::Target& target = options.targets.front();
    std::ofstream out(options.sdpFile, std::ios::trunc);
    out << "v=0\r\n"
        << "o=- 0 0 IN IP4 " << target.host << "\r\n"
        << "s=sluice-cast\r\n"
        << "c=IN IP4 " << target.host << "\r\n"
        << "t=0 0\r\n"
        << "m=video " << target.port << " RTP/AVP 33\r\n"
        << "a=rtpmap:33 MP2T/90000\r\n";
    return static_cast<bool>(out);
}

struct Totals {
    long video = 0;
    long audio = 0;
    int64_t mediaUs = 0;
};

void printStats(int handle) {
    std::vector<sluice_destination_stats> records;
    if (StatsTable::read(handle, records)) {
        std::fputs(StatsTable::format(records).c_str(), stdout);
        std::fflush(stdout);
    }
}

/// Casts every pass of the input; returns false when the input could not be read.
bool cast(int handle, const CastOptions& options, FrameSource& source, Totals& totals,
          std::string& error) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point start = Clock::now();
    int64_t passOffset = 0;  // where the current pass starts on the output timeline
    bool warned = false;
    const auto statsPeriod = std::chrono::seconds(options.statsSeconds);
    Clock::time_point nextStats = start + statsPeriod;
    for (int pass = 0; options.loops == 0 || pass < options.loops; ++pass) {
        if (pass > 0 && !source.open(options, error)) {
            return false;
        }
        const int64_t first = source.firstPts();
        int64_t passEnd = passOffset;
        CastFrame frame;
        while (!g_interrupted && source.next(frame)) {
            const int64_t pts = frame.ptsUs - first + passOffset;
            if (options.realTime) {
                std::this_thread::sleep_until(start + std::chrono::microseconds(pts));
            }
            sluice_media_packet packet = {};
            packet.type = frame.type;
            packet.data = frame.bytes.data();
            packet.size = static_cast<int32_t>(frame.bytes.size());
            packet.pts = pts;
            packet.duration = static_cast<int32_t>(frame.durationUs);
            packet.flags = frame.key ? SLUICE_FLAG_KEY : 0;
            sluice_write(handle, &packet);
            if (options.statsSeconds > 0 && Clock::now() >= nextStats) {
                printStats(handle);
                nextStats += statsPeriod;
            }
            (frame.type == SLUICE_PACKET_VIDEO ? totals.video : totals.audio) += 1;
            passEnd = std::max(passEnd, pts + frame.durationUs);
        }
        if (!warned && source.sawReorderedFrames()) {
            std::fprintf(stderr,
                         "sluice-cast: the video has B-frames; frames carry one timestamp, "
                         "so the stream will be broken (encode with -bf 0)\n");
            warned = true;
        }
        passOffset = passEnd;
        totals.mediaUs = passEnd;
        if (g_interrupted) {
            break;
        }
    }
    return true;
}

// SRT listens when asked (sluice_open with port 0 would not); every listener tells its port,
// so that --port 0 (any free port) is usable by whoever started us.
bool announceListener(int handle, const CastOptions& options) {
    if (options.protocol == SLUICE_PROTOCOL_SRT) {
        const std::string port = std::to_string(options.localPort);
        const int rc = sluice_set_option(handle, "listen", port.c_str());
        if (rc != 0) {
            std::fprintf(stderr, "sluice-cast: cannot listen on port %s: %d\n", port.c_str(), rc);
            return false;
        }
    }
    int port = 0;
    sluice_get_local_port(handle, &port);
    std::printf("sluice-cast: listening on port %d\n", port);
    std::fflush(stdout);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    CastOptions options;
    std::string error;
    if (!options.parse(argc, argv, error)) {
        std::fprintf(stderr, "sluice-cast: %s\n\n%s", error.c_str(), CastOptions::usage());
        return kUsage;
    }
    if (options.help) {
        std::fputs(CastOptions::usage(), stdout);
        return kDone;
    }
    av_log_set_level(AV_LOG_ERROR);  // reading the input; sluice_init takes FFmpeg's log over
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);

    FrameSource source;
    if (!source.open(options, error)) {
        std::fprintf(stderr, "sluice-cast: %s\n", error.c_str());
        return kInputTrouble;
    }
    if (!options.sdpFile.empty() && !writeSdp(options)) {
        std::fprintf(stderr, "sluice-cast: cannot write %s\n", options.sdpFile.c_str());
        return kUsage;
    }

    sluice_init();
    sluice_media_format format = {};
    source.describe(format);
    int handle = -1;
    // SRT opens its listener afterwards (announceListener), on whatever port was asked for.
    const int openPort = options.protocol == SLUICE_PROTOCOL_SRT ? 0 : options.localPort;
    const int status = sluice_open(&handle, options.protocol, openPort, &format);
    if (status != 0 || handle < 0) {
        std::fprintf(stderr, "sluice-cast: sluice_open failed: %d\n", status);
        sluice_quit();
        return kLibraryRefused;
    }
    for (const auto& option : options.casterOptions) {
        const int rc = sluice_set_option(handle, option.first.c_str(), option.second.c_str());
        if (rc != 0) {
            // The value may be a passphrase: name the option only.
            std::fprintf(stderr, "sluice-cast: option %s refused: %d\n", option.first.c_str(), rc);
            sluice_close(handle);
            sluice_quit();
            return kLibraryRefused;
        }
    }
    if (options.listens() && !announceListener(handle, options)) {
        sluice_close(handle);
        sluice_quit();
        return kLibraryRefused;
    }
    for (const CastOptions::Target& target : options.targets) {
        const int rc = sluice_add_target(handle, target.host.c_str(), target.port);
        if (rc != 0) {
            std::fprintf(stderr, "sluice-cast: sluice_add_target %s:%d failed: %d\n",
                         target.host.c_str(), target.port, rc);
            sluice_close(handle);
            sluice_quit();
            return kLibraryRefused;
        }
    }

    Totals totals;
    const bool ok = cast(handle, options, source, totals, error);
    if (options.statsSeconds > 0) {
        // The final figures once the queued datagrams are out (a few seconds at most), and
        // before close, which forgets the destinations.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        std::vector<sluice_destination_stats> records;
        while (StatsTable::read(handle, records) &&
               std::any_of(records.begin(), records.end(),
                           [](const auto& r) { return r.backlog_bytes > 0; }) &&
               std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        printStats(handle);
    }
    sluice_close(handle);
    sluice_quit();
    if (!ok) {
        std::fprintf(stderr, "sluice-cast: %s\n", error.c_str());
        return kInputTrouble;
    }
    if (!options.quiet) {
        std::printf("sluice-cast: %ld video and %ld audio frames, %.2f s of media, %zu target(s)\n",
                    totals.video, totals.audio, static_cast<double>(totals.mediaUs) / 1e6,
                    options.targets.size());
    }
    return kDone;
}
