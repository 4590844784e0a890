#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>

#include "MediaRecords.h"
#include "OutputsState.h"

namespace enc {

/// The last copy of each status record the media process sent. One writer (the main loop,
/// through applyMessage) and any number of readers: every record is replaced and read as
/// one whole copy under a short lock, so a reader never sees a record half replaced.
/// All records start zero-filled.
class MediaState {
public:
    MediaState();
    MediaState(const MediaState&) = delete;
    MediaState& operator=(const MediaState&) = delete;

    /// The process-wide instance the program entry and the device handler share.
    static MediaState& instance();

    /// A received datagram (header and payload, at least size bytes readable): the payload
    /// of a known status code replaces its record whole; bytes the datagram did not carry
    /// count as zero. True when the code named a record, false (nothing changed) otherwise.
    bool applyMessage(const uint8_t* datagram, size_t size);

    /// Zero-fills the input signal, audio input, system status and active stream records
    /// (done once before the main loop starts receiving).
    void clearStatusRecords();

    InputSignalRecord inputSignal() const;
    AudioInputRecord audioInput() const;
    EncodeStatusRecord encodeStatus() const;
    ActiveStreamRecord activeStream() const;
    SystemStatusRecord systemStatus() const;
    RtmpStatusRecord rtmpStatus() const;

    void setInputSignal(const InputSignalRecord& record);
    void setAudioInput(const AudioInputRecord& record);
    void setEncodeStatus(const EncodeStatusRecord& record);
    void setActiveStream(const ActiveStreamRecord& record);
    void setSystemStatus(const SystemStatusRecord& record);
    void setRtmpStatus(const RtmpStatusRecord& record);

    /// The outputs status of each stream (code 4880), kept beside the records above.
    const OutputsState& outputs() const { return m_outputs; }
    /// The steady clock in milliseconds, the time base of outputs().
    static int64_t nowMs();

    /// The record size a status code announces, 0 for any other code.
    static size_t recordSize(int code);

private:
    template <class Record>
    Record read(const Record& record) const;
    template <class Record>
    void write(Record& target, const Record& value);

    mutable std::mutex m_mutex;
    InputSignalRecord m_inputSignal;
    AudioInputRecord m_audioInput;
    EncodeStatusRecord m_encodeStatus;
    ActiveStreamRecord m_activeStream;
    SystemStatusRecord m_systemStatus;
    RtmpStatusRecord m_rtmpStatus;
    OutputsState m_outputs;
};

}  // namespace enc
