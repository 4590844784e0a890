#pragma once
// The media process stand-in: the media link, the settings file and the two streams.

#include <csignal>
#include <memory>
#include <string>

#include "EncoderConfigFile.h"
#include "MediaPeer.h"
#include "OutputsReporter.h"
#include "SimOptions.h"
#include "SimStream.h"

namespace ksim {

class KorrinSim {
public:
    explicit KorrinSim(const SimOptions& options);
    ~KorrinSim();
    KorrinSim(const KorrinSim&) = delete;
    KorrinSim& operator=(const KorrinSim&) = delete;

    /// Binds the media link, starts the streams from the settings file and serves change
    /// codes and status records until *stop becomes nonzero. Returns the exit status: 0, or
    /// 1 when the media link could not be bound.
    int run(const volatile sig_atomic_t* stop);

private:
    void loadSettings();
    /// The password file RTSP checks digests against; empty when [security] rtspAuth is 0.
    std::string rtspPasswordFile() const;
    StreamConfig configFor(int index);
    /// Hands both streams their configuration from the settings and the input.
    void configureStreams(bool restartMain, bool restartSub, bool reopenMain, bool reopenSub);
    void handleCode(int code);
    void refreshInput();
    void sendStatus();
    /// The RtmpStatusRecord: when the push's address or state changed, or always.
    void sendRtmpStatus(bool always);

    SimOptions m_options;
    InputState m_input;
    enc::EncoderConfigFile m_settings;
    bool m_stopped = false;    // code 100 stopped the streams
    bool m_subPaused = false;  // the sub stream rests while the main stream runs above 30 fps
    bool m_linkUp = false;
    bool m_linkKnown = false;
    std::string m_audioNote;
    std::string m_rtmpAddress;  // what the last RTMP record said
    int m_rtmpMode = 0;
    MediaPeer m_peer;
    OutputsReporter m_outputsReporter;
    std::unique_ptr<SimStream> m_streams[2];
};

/// Writes "korrin-sim: <text>" as one line on standard output. Any thread.
void logLine(const std::string& text);

}  // namespace ksim
