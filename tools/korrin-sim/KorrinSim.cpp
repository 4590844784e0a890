#include "KorrinSim.h"

#include <chrono>
#include <cstdio>

#include "MediaMessage.h"
#include "SettingsKeys.h"
#include "board/Board.h"
#include "sluice.h"

namespace ksim {
namespace {

constexpr const char* kSettingsFile = "/mnt/config/encoder.ini";
// The web credentials, which also protect RTSP unless [security] rtspAuth is 0.
constexpr const char* kPasswordFile = "/mnt/config/user.htpasswd";
// Quillon's [security] key; read from the file so korrin-sim needs nothing more of it.
constexpr const char* kRtspAuthKey = "rtspAuth";
constexpr const char* kServerSocket = "/tmp/server.socket";  // ours
constexpr const char* kClientSocket = "/tmp/client.socket";  // Quillon's
// How long one wait for a change code may last, so a stop request is seen quickly.
constexpr int kPollMs = 100;
// A real encoder's sub stream rests while the main stream needs more than this.
constexpr int kSubMaxMainFps = 30;
constexpr int kAudioChannels = 2;

const char* codeMeaning(int code) {
    switch (code) {
        case enc::kCodeUpgradeStarting:
            return "an upgrade is starting";
        case enc::kCodeAudioChanged:
            return "audio or system settings changed";
        case enc::kCodeMainChroma:
            return "main stream picture adjustment changed";
        case enc::kCodeSubChroma:
            return "sub stream picture adjustment changed";
        case enc::kCodeOutputChanged:
            return "output settings changed";
        case enc::kCodeMainVideo:
            return "main stream encoder settings changed";
        case enc::kCodeSubVideo:
            return "sub stream encoder settings changed";
        case enc::kCodeMainProtocol:
            return "main stream publishing settings changed";
        case enc::kCodeSubProtocol:
            return "sub stream publishing settings changed";
        case enc::kCodeMainOverlay:
            return "main stream overlays changed";
        case enc::kCodeSubOverlay:
            return "sub stream overlays changed";
        default:
            return "unknown code";
    }
}

}  // namespace

void logLine(const std::string& text) {
    std::printf("korrin-sim: %s\n", text.c_str());
    std::fflush(stdout);
}

KorrinSim::KorrinSim(const SimOptions& options) : m_options(options), m_input(options.input) {}

KorrinSim::~KorrinSim() = default;

int KorrinSim::run(const volatile sig_atomic_t* stop) {
    sluice_init();
    std::string why;
    if (!m_peer.open(board::path(kServerSocket), board::path(kClientSocket), why)) {
        logLine(why);
        sluice_quit();
        return 1;
    }
    logLine("media link bound at " + board::path(kServerSocket) + ", status records go to " +
            board::path(kClientSocket));
    refreshInput();
    logLine("input: " + std::string(m_input.kindName()) + " " + m_input.describe() +
            (m_input.lineIn ? ", audio from the line input" : ""));
    for (int i = 0; i < 2; ++i) {
        m_streams[i] = std::make_unique<SimStream>(i, logLine);
    }
    loadSettings();
    configureStreams(false, false, false, false);

    using Clock = std::chrono::steady_clock;
    const auto period = std::chrono::milliseconds(m_options.statusIntervalMs);
    auto nextStatus = Clock::now();
    while (*stop == 0) {
        const auto now = Clock::now();
        if (now >= nextStatus) {
            refreshInput();
            sendStatus();
            nextStatus += period;
            if (nextStatus < now) {
                nextStatus = now + period;
            }
            continue;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(nextStatus - now).count();
        sendRtmpStatus(false);
        int code = 0;
        if (m_peer.receiveCode(int(std::min<long long>(left + 1, kPollMs)), &code)) {
            handleCode(code);
        }
    }
    logLine("stopping");
    for (auto& stream : m_streams) {
        stream.reset();
    }
    sluice_quit();
    m_peer.close();
    return 0;
}

void KorrinSim::loadSettings() {
    const std::string path = board::path(kSettingsFile);
    m_settings = enc::EncoderConfigFile();
    if (!m_settings.load(path)) {
        logLine("no settings file at " + path + "; using the defaults");
    }
}

std::string KorrinSim::rtspPasswordFile() const {
    // [security] rtspAuth: 1 (also when missing) protects RTSP with the web credentials,
    // 0 lets anybody view.
    int rtspAuth = 1;
    m_settings.ini().getValue(enc::keys::kSecuritySection, kRtspAuthKey, rtspAuth);
    return rtspAuth != 0 ? board::path(kPasswordFile) : std::string();
}

StreamConfig KorrinSim::configFor(int index) {
    StreamConfig config;
    config.input = m_input;
    std::string note;
    config.video = encodeParamsFor(index, m_settings.video[index], m_input, &note);
    if (!note.empty()) {
        logLine(std::string(index == 0 ? "main" : "sub") + " stream settings: " + note);
    }
    OutputPlan plan =
        planOutputs(m_settings.protocol[index], m_settings.srt[index], m_options.allowNetwork);
    planRtsp(plan, m_settings.protocol[index], rtspPasswordFile());
    if (config.video.cbr) {
        planMuxRate(plan, config.video.bitrateKbps, m_settings.audio.sampleRate);
    }
    // After the mux rate: a push carries FLV, not a transport stream.
    planRtmp(plan, m_settings.protocol[index], m_options.allowNetwork);
    planHttpOutputs(plan, m_settings.protocol[index], index == 0 ? "main" : "sub");
    config.casters = plan.casters;
    for (const std::string& line : plan.skipped) {
        logLine(std::string(index == 0 ? "main" : "sub") + " stream: " + line);
    }
    // The audio settings keep the sampling frequency in "resample" and the bit rate in
    // "sampleRate".
    config.audioSampleRate = m_settings.audio.resample;
    config.audioBitrate = m_settings.audio.sampleRate;
    config.audioChannels = kAudioChannels;
    config.enabled = !m_stopped;
    return config;
}

void KorrinSim::configureStreams(bool restartMain, bool restartSub, bool reopenMain,
                                 bool reopenSub) {
    if (m_settings.audio.codec != "AAC") {
        const std::string note =
            "audio codec '" + m_settings.audio.codec + "' is not simulated; the streams carry AAC";
        if (note != m_audioNote) {
            logLine(note);
        }
        m_audioNote = note;
    } else {
        m_audioNote.clear();
    }
    const StreamConfig main = configFor(0);
    StreamConfig sub = configFor(1);
    const bool pause = main.enabled && main.video.fps > kSubMaxMainFps;
    if (pause != m_subPaused) {
        logLine(pause ? "sub stream off: the main stream runs above 30 fps"
                      : "sub stream on again: the main stream runs at 30 fps or less");
        m_subPaused = pause;
    }
    sub.enabled = sub.enabled && !pause;
    m_streams[0]->configure(main, restartMain, reopenMain);
    m_streams[1]->configure(sub, restartSub, reopenSub);
}

void KorrinSim::handleCode(int code) {
    const std::string head =
        "change code " + std::to_string(code) + " (" + codeMeaning(code) + "): ";
    switch (code) {
        case enc::kCodeMainVideo:
        case enc::kCodeSubVideo:
        case enc::kCodeMainProtocol:
        case enc::kCodeSubProtocol: {
            const bool main = code == enc::kCodeMainVideo || code == enc::kCodeMainProtocol;
            const bool video = code == enc::kCodeMainVideo || code == enc::kCodeSubVideo;
            logLine(head + "re-reading the settings, " +
                    (video ? "restarting the " : "re-opening the casters of the ") +
                    (main ? "main" : "sub") + (video ? " encoder" : " stream") +
                    (m_stopped ? "; the streams start again" : ""));
            m_stopped = false;
            loadSettings();
            configureStreams(main && video, !main && video, main && !video, !main && !video);
            break;
        }
        case enc::kCodeUpgradeStarting:
            logLine(head + "stopping the streams");
            m_stopped = true;
            configureStreams(false, false, false, false);
            break;
        default:
            logLine(head + "noted, nothing to do");
            break;
    }
}

void KorrinSim::refreshInput() {
    if (m_options.controlFile.empty()) {
        return;
    }
    InputState next = m_options.input;
    std::string why;
    if (!applyInputFile(next, m_options.controlFile, why)) {
        logLine(m_options.controlFile + ": " + why);
    }
    if (next != m_input) {
        m_input = next;
        logLine("input now: " + std::string(m_input.kindName()) + " " + m_input.describe() +
                (m_input.lineIn ? ", audio from the line input" : ""));
        if (m_streams[0]) {
            configureStreams(false, false, false, false);
        }
    }
}

void KorrinSim::sendStatus() {
    const StreamReport main = m_streams[0]->report();
    const StreamReport sub = m_streams[1]->report();
    AudioReport audio = m_streams[0]->audioReport();
    if (!audio.running) {
        audio = m_streams[1]->audioReport();
    }
    const StatusRecords r = buildStatusRecords(m_input, main, sub, audio);
    bool sent = m_peer.sendRecord(enc::kCodeInputSignal, &r.input, sizeof r.input);
    sent = m_peer.sendRecord(enc::kCodeAudioInput, &r.audio, sizeof r.audio) && sent;
    sent = m_peer.sendRecord(enc::kCodeEncodeStatus, &r.encode, sizeof r.encode) && sent;
    sent = m_peer.sendRecord(enc::kCodeSystemStatus, &r.system, sizeof r.system) && sent;
    sent = m_peer.sendRecord(enc::kCodeActiveStream, &r.active, sizeof r.active) && sent;
    sendRtmpStatus(true);
    const auto now = std::chrono::steady_clock::now();
    for (int i = 0; i < 2; ++i) {
        const SimStream& stream = *m_streams[i];
        for (const auto& part : m_outputsReporter.update(i, stream.outputs(), stream.videoFrames(),
                                                         stream.videoBytes(), now)) {
            sent = m_peer.sendRecord(enc::kCodeOutputsStatus, part.data(), part.size()) && sent;
        }
    }
    if (!m_linkKnown || sent != m_linkUp) {
        logLine(sent ? "status records reach " + board::path(kClientSocket)
                     : "nobody listens at " + board::path(kClientSocket) +
                           " yet (is Quillon running?); status records are dropped until it does");
        m_linkKnown = true;
        m_linkUp = sent;
    }
}

void KorrinSim::sendRtmpStatus(bool always) {
    // One record for the device: the main stream's push, else the sub stream's.
    std::string address;
    int mode = 0;
    for (const auto& stream : m_streams) {
        if (stream && stream->rtmpStatus(address, mode)) {
            break;
        }
        address.clear();
        mode = 0;
    }
    if (!always && address == m_rtmpAddress && mode == m_rtmpMode) {
        return;
    }
    m_rtmpAddress = address;
    m_rtmpMode = mode;
    const enc::RtmpStatusRecord record = buildRtmpRecord(address, mode);
    m_peer.sendRecord(enc::kCodeRtmpStatus, &record, sizeof record);
}

}  // namespace ksim
