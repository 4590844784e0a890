#include "MediaState.h"

#include <chrono>
#include <cstring>

#include "MediaMessage.h"

namespace enc {
namespace {

// The one table of status codes: which record each one replaces.
struct StatusBinding {
    int code;
    size_t size;
};

constexpr StatusBinding kStatusRecords[] = {
    {kCodeInputSignal, sizeof(InputSignalRecord)},
    {kCodeAudioInput, sizeof(AudioInputRecord)},
    {kCodeEncodeStatus, sizeof(EncodeStatusRecord)},
    {kCodeActiveStream, sizeof(ActiveStreamRecord)},
    {kCodeSystemStatus, sizeof(SystemStatusRecord)},
    {kCodeRtmpStatus, sizeof(RtmpStatusRecord)},
};

template <class Record>
Record fromPayload(const uint8_t* payload, size_t available) {
    Record record;
    std::memset(&record, 0, sizeof record);
    std::memcpy(&record, payload, available < sizeof record ? available : sizeof record);
    return record;
}

}  // namespace

MediaState::MediaState() {
    std::memset(&m_inputSignal, 0, sizeof m_inputSignal);
    std::memset(&m_audioInput, 0, sizeof m_audioInput);
    std::memset(&m_encodeStatus, 0, sizeof m_encodeStatus);
    std::memset(&m_activeStream, 0, sizeof m_activeStream);
    std::memset(&m_systemStatus, 0, sizeof m_systemStatus);
    std::memset(&m_rtmpStatus, 0, sizeof m_rtmpStatus);
}

MediaState& MediaState::instance() {
    static MediaState state;
    return state;
}

int64_t MediaState::nowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

size_t MediaState::recordSize(int code) {
    for (const auto& binding : kStatusRecords) {
        if (binding.code == code) {
            return binding.size;
        }
    }
    return 0;
}

bool MediaState::applyMessage(const uint8_t* datagram, size_t size) {
    if (datagram == nullptr || size < kMediaHeaderSize) {
        return false;
    }
    int32_t code = 0;
    std::memcpy(&code, datagram + offsetof(MediaMessage, code), sizeof code);
    const uint8_t* payload = datagram + kMediaHeaderSize;
    const size_t available = size - kMediaHeaderSize;
    switch (code) {
        case kCodeInputSignal:
            setInputSignal(fromPayload<InputSignalRecord>(payload, available));
            return true;
        case kCodeAudioInput:
            setAudioInput(fromPayload<AudioInputRecord>(payload, available));
            return true;
        case kCodeEncodeStatus:
            setEncodeStatus(fromPayload<EncodeStatusRecord>(payload, available));
            return true;
        case kCodeActiveStream:
            setActiveStream(fromPayload<ActiveStreamRecord>(payload, available));
            return true;
        case kCodeSystemStatus:
            setSystemStatus(fromPayload<SystemStatusRecord>(payload, available));
            return true;
        case kCodeRtmpStatus:
            setRtmpStatus(fromPayload<RtmpStatusRecord>(payload, available));
            return true;
        case kCodeOutputsStatus:
            return m_outputs.applyPart(payload, available, nowMs());
        default:
            return false;
    }
}

void MediaState::clearStatusRecords() {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::memset(&m_inputSignal, 0, sizeof m_inputSignal);
    std::memset(&m_audioInput, 0, sizeof m_audioInput);
    std::memset(&m_systemStatus, 0, sizeof m_systemStatus);
    std::memset(&m_activeStream, 0, sizeof m_activeStream);
}

template <class Record>
Record MediaState::read(const Record& record) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return record;
}

template <class Record>
void MediaState::write(Record& target, const Record& value) {
    std::lock_guard<std::mutex> lock(m_mutex);
    target = value;
}

InputSignalRecord MediaState::inputSignal() const {
    return read(m_inputSignal);
}
AudioInputRecord MediaState::audioInput() const {
    return read(m_audioInput);
}
EncodeStatusRecord MediaState::encodeStatus() const {
    return read(m_encodeStatus);
}
ActiveStreamRecord MediaState::activeStream() const {
    return read(m_activeStream);
}
SystemStatusRecord MediaState::systemStatus() const {
    return read(m_systemStatus);
}
RtmpStatusRecord MediaState::rtmpStatus() const {
    return read(m_rtmpStatus);
}

void MediaState::setInputSignal(const InputSignalRecord& r) {
    write(m_inputSignal, r);
}
void MediaState::setAudioInput(const AudioInputRecord& r) {
    write(m_audioInput, r);
}
void MediaState::setEncodeStatus(const EncodeStatusRecord& r) {
    write(m_encodeStatus, r);
}
void MediaState::setActiveStream(const ActiveStreamRecord& r) {
    write(m_activeStream, r);
}
void MediaState::setSystemStatus(const SystemStatusRecord& r) {
    write(m_systemStatus, r);
}
void MediaState::setRtmpStatus(const RtmpStatusRecord& r) {
    write(m_rtmpStatus, r);
}

}  // namespace enc
