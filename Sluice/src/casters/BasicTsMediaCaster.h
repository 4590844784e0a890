#pragma once

#include <atomic>
#include <list>
#include <memory>
#include <string>
#include <unordered_map>

#include "H264PropDetector.h"
#include "LogEpisode.h"
#include "MediaCasterConfig.h"
#include "Mutex.h"
#include "NaluJoiner.h"
#include "NetAddress.h"
#include "TsMediaCaster.h"
#include "TsMuxer.h"
#include "TsMuxerSink.h"

namespace av {

/// The transport-independent part of every caster: identity, the target list, frame intake
/// (timestamp checks, key-frame detection, joining of parameter sets to the next picture)
/// and the multiplexer. A subclass adds the transport: open, close, isOpen and onMuxData.
///
/// Thread rules: every operation takes the caster's recursive mutex for its whole duration,
/// so a frame is parsed, joined, multiplexed and its output delivered to onMuxData (on the
/// writing thread, mutex held) as one unit. Subclasses take the same mutex (mutex()).
class BasicTsMediaCaster : public TsMediaCaster, public TsMuxerSink {
public:
    /// Creates an FfmpegTsMuxer whose sink is this caster.
    BasicTsMediaCaster();
    /// Subclasses close their transport and call closeMuxer() in their own destructor.
    ~BasicTsMediaCaster() override;
    BasicTsMediaCaster(const BasicTsMediaCaster&) = delete;
    BasicTsMediaCaster& operator=(const BasicTsMediaCaster&) = delete;

    void setId(int id) override;
    int getId() override;
    bool addTarget(const std::string& ip, uint16_t port) override;
    void removeTarget(const std::string& ip, uint16_t port) override;
    int targetCount() override;
    void removeAllTarget() override;
    /// Video: logs "(%d) video pts is invalid. ..." for a pts below the previous positive
    /// one (the frame is still written), detects key units, joins parameter sets; returns
    /// true. Audio: the same check (unless the subclass turns it off), then the frame goes
    /// to the multiplexer unchanged; returns whether the multiplexer took it.
    bool write(int type, const uint8_t* data, int size, int64_t pts, int duration,
               int flags) override;

    /// The caster's health with the multiplexer's overruns.
    OutputStatus outputStatus() override;

    /// A text nothing in the library reads; null empties it.
    void setLabel(const char* text);
    std::string getLabel();

protected:
    /// Opens the multiplexer with config, then keeps a copy of config and sets up the
    /// detector and joiner for its video codec (also when the multiplexer failed).
    /// Returns the multiplexer's status (0 on success).
    int openMuxer(const MediaCasterConfig& config);
    void closeMuxer();

    /// The target list and the configuration; subclasses read them under the mutex.
    const std::list<NetAddress>& targets() const { return m_targets; }
    /// Grows with every change of the target list, so subclasses can cache per-target data.
    uint64_t targetsVersion() const { return m_targetsVersion; }
    const MediaCasterConfig& config() const { return m_config; }
    comn::Mutex& mutex() { return m_mutex; }
    int id() const { return m_id.load(); }
    /// For subclasses that reset their copy of the configuration on close.
    void resetConfig() { m_config = MediaCasterConfig(); }

    /// Logs an addTarget or removeTarget; "(id) addTarget. ip:%s port:%d\n" by default.
    virtual void logTargetChange(const char* operation, const std::string& ip, uint16_t port);
    /// Logs the "video fmt. ..." and "audio fmt. ..." lines (and the configuration bytes in
    /// hexadecimal) of an open.
    static void logFormat(const MediaCasterConfig& config);
    /// The option "muxrate" (bits per second, 0 = variable): 0, or EINVAL for a bad value.
    /// A change reopens an open multiplexer, so it belongs right after open.
    int setMuxRateOption(const std::string& value);
    static constexpr int64_t kMinMuxRate = 64'000;
    static constexpr int64_t kMaxMuxRate = 2'000'000'000;  // FFmpeg takes an int
    /// The option's value (0 = variable).
    int64_t muxRate() {
        comn::AutoLock lock(m_mutex);
        return m_muxRate;
    }
    /// Frames the constant-rate multiplexer could not fit (every destination's overruns).
    uint64_t muxOverruns();

    /// Whether audio timestamps are checked like video ones.
    virtual bool checksAudioPts() const { return true; }

    std::shared_ptr<TsMuxer> m_muxer;

private:
    comn::Mutex m_mutex;
    std::atomic<int> m_id{0};  // also read by a sender thread for its log messages
    MediaCasterConfig m_config;
    int64_t m_lastVideoPts = 0;
    int64_t m_lastAudioPts = 0;
    H264PropDetector m_detector;
    std::shared_ptr<NaluJoiner> m_joiner;
    std::list<NetAddress> m_targets;
    // Finds a target without walking the list: adding or removing one costs the same at any
    // count.
    std::unordered_map<NetAddress, std::list<NetAddress>::iterator, NetAddressHash> m_targetIndex;
    uint64_t m_targetsVersion = 0;
    std::string m_label;
    int64_t m_muxRate = 0;
    uint64_t m_overrunsSeen = 0;
    LogEpisode m_overrunEpisode;

    /// The multiplexer's write, with overrun episodes logged once each.
    bool writeToMuxer(int type, const uint8_t* data, int size, int64_t pts, int flags);
};

}  // namespace av
