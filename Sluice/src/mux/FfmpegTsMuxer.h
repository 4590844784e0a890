#pragma once

#include "ByteBuffer.h"
#include "TsMuxer.h"
#include "sluice.h"

struct AVFormatContext;
struct AVPacket;
struct AVStream;

namespace av {

/// The "mpegts" multiplexer of FFmpeg driven through a custom output: FFmpeg's bytes arrive
/// in a 1316-byte buffer (seven 188-byte TS packets, one datagram without fragmentation)
/// that is handed to the sink each time FFmpeg writes it out.
///
/// Timestamps are rescaled from the configuration's clocks to 90 kHz. Raw AAC frames get an
/// ADTS header; framed ones are written unchanged. Not thread-safe (see TsMuxer).
/// FFmpeg's logging is set up by sluice_init; nothing here needs global initialisation.
///
/// Constant rate (setMuxRate > 0): FFmpeg's own "muxrate" mode: null packets (PID 0x1FFF)
/// fill the stream to the rate and the PCRs follow the byte clock. Each frame gets
/// kMuxDelayUs of buffer: its bytes go out up to that long before it is decoded. A frame
/// that cannot be out by its decoding time (the encoder is above the rate) is not written:
/// it counts as an overrun, and video skips to the next key frame, so the stream stays valid
/// (continuity and PCRs run on). The owner logs the episodes.
class FfmpegTsMuxer : public TsMuxer {
public:
    static constexpr int kBlockSize = 1316;  // 7 TS packets: one datagram, no fragmentation
    static constexpr int kTsClock = 90000;   // MPEG-TS timestamps
    static constexpr int kDefaultVideoClock = 1000000;  // microseconds
    static constexpr int kDefaultWidth = 1920;
    static constexpr int kDefaultHeight = 1080;
    static constexpr int kAacCodec = SLUICE_CODEC_AAC;
    /// FFmpeg's "pcr_period" (ms): well inside the 40 ms TR 101 290 allows.
    static constexpr const char* kPcrPeriodMs = "20";
    /// FFmpeg's "pat_period" (s) for PAT and PMT: 100 ms apart at most at 25 frames/s.
    static constexpr const char* kTablePeriodSeconds = "0.05";
    /// Buffer per frame at a constant rate: a key frame of a one-second group of pictures
    /// at a fifth of the second's bytes fits twice over; FFmpeg's command line uses 0.7 s.
    static constexpr int64_t kMuxDelayUs = 500'000;
    static constexpr int64_t kTsPacketBytes = 188;
    static constexpr int64_t kTsPayloadBytes = 184;
    static constexpr int64_t kPesHeaderBytes = 19;  // with PTS and DTS

    FfmpegTsMuxer() = default;
    ~FfmpegTsMuxer() override;
    FfmpegTsMuxer(const FfmpegTsMuxer&) = delete;
    FfmpegTsMuxer& operator=(const FfmpegTsMuxer&) = delete;

    /// 0; ENODEV when neither stream could be created (both codecs 0 or unknown) or the output
    /// could not be made; a negative FFmpeg code when the header could not be written (the
    /// multiplexer is then closed again). An open multiplexer is closed first.
    int open(const MediaCasterConfig& config) override;
    void close() override;
    bool isOpen() override { return m_context != nullptr; }
    /// False when closed, for a type whose stream does not exist, or when FFmpeg refuses
    /// the frame.
    bool write(int type, const uint8_t* data, int size, int64_t pts, int duration,
               int flags) override;
    void setSink(TsMuxerSink* sink) override { m_sink = sink; }
    void setMuxRate(int64_t bitsPerSecond) override { m_muxRate = bitsPerSecond; }
    uint64_t overruns() const override { return m_overruns; }

    int videoStream() const { return m_videoStream; }
    int audioStream() const { return m_audioStream; }
    /// The 90 kHz timestamp of the last frame written.
    int64_t lastPts() const { return m_lastPts; }

private:
    static int onWrite(void* opaque, uint8_t* buffer, int size);
    /// A new video (else audio) stream of the codec (FFmpeg id, 0: none); null when the codec
    /// is unknown or the stream cannot be made.
    AVStream* newStream(int ffmpegCodecId, bool video);
    bool addVideoStream();
    bool addAudioStream();
    void release();
    /// Constant rate only: whether a frame of size bytes with this 90 kHz decoding time
    /// would leave the transport after it is due to be decoded.
    /// If not, the frame is booked in the schedule.
    bool wouldOverrun(int64_t dts90k, int size);
    /// Counts a refused frame; false for the caller to return.
    bool overrun();

    TsMuxerSink* m_sink = nullptr;
    AVFormatContext* m_context = nullptr;
    AVPacket* m_packet = nullptr;
    int m_videoStream = -1;
    int m_audioStream = -1;
    MediaCasterConfig m_config;
    ByteBuffer m_scratch;
    int64_t m_lastPts = 0;
    int64_t m_muxRate = 0;
    int64_t m_scheduleEnd90k = 0;  // byte clock at the end of the last frame booked
    uint64_t m_overruns = 0;
    bool m_skipToKey = false;  // a video frame was refused: its successors cannot decode
};

}  // namespace av
