#include "BasicTsMediaCaster.h"

#include <algorithm>
#include <cerrno>

#include "CLog.h"
#include "FfmpegTsMuxer.h"
#include "MediaFrame.h"
#include "OptionValue.h"

namespace av {

BasicTsMediaCaster::BasicTsMediaCaster() : m_muxer(std::make_shared<FfmpegTsMuxer>()) {
    m_muxer->setSink(this);
}

BasicTsMediaCaster::~BasicTsMediaCaster() {
    // Whatever the subclass left open must not call back into a half-destroyed caster.
    m_muxer->setSink(nullptr);
}

void BasicTsMediaCaster::setId(int id) {
    comn::AutoLock lock(m_mutex);
    m_id = id;
}

int BasicTsMediaCaster::getId() {
    comn::AutoLock lock(m_mutex);
    return m_id;
}

void BasicTsMediaCaster::logTargetChange(const char* operation, const std::string& ip,
                                         uint16_t port) {
    CLog::debug("(%d) %s. ip:%s port:%d\n", getId(), operation, ip.c_str(), port);
}

bool BasicTsMediaCaster::addTarget(const std::string& ip, uint16_t port) {
    logTargetChange("addTarget", ip, port);
    const NetAddress address(ip, port);
    comn::AutoLock lock(m_mutex);
    if (m_targetIndex.count(address) != 0) {
        return false;
    }
    m_targetIndex.emplace(address, m_targets.insert(m_targets.end(), address));
    ++m_targetsVersion;
    return true;
}

void BasicTsMediaCaster::removeTarget(const std::string& ip, uint16_t port) {
    logTargetChange("removeTarget", ip, port);
    const NetAddress address(ip, port);
    comn::AutoLock lock(m_mutex);
    auto it = m_targetIndex.find(address);
    if (it != m_targetIndex.end()) {
        m_targets.erase(it->second);
        m_targetIndex.erase(it);
        ++m_targetsVersion;
    }
}

int BasicTsMediaCaster::targetCount() {
    comn::AutoLock lock(m_mutex);
    return static_cast<int>(m_targets.size());
}

void BasicTsMediaCaster::removeAllTarget() {
    comn::AutoLock lock(m_mutex);
    m_targets.clear();
    m_targetIndex.clear();
    ++m_targetsVersion;
}

void BasicTsMediaCaster::logFormat(const MediaCasterConfig& config) {
    CLog::debug("video fmt. codec:%d,width:%d,height:%d,profile:%d,clock:%d\n", config.videoCodec,
                config.width, config.height, config.videoProfile, config.videoClock);
    if (!config.videoConfig.empty()) {
        CLog::debug(
            "video config. %s\n",
            comn::toHexString(config.videoConfig.data(), config.videoConfig.size()).c_str());
    }
    CLog::debug("audio fmt. codec: %d, freq:%d, channels:%d, profile:%d, clock:%d\n",
                config.audioCodec, config.sampleRate, config.channels, config.audioProfile,
                config.audioClock);
    if (!config.audioConfig.empty()) {
        CLog::debug(
            "audio config. %s\n",
            comn::toHexString(config.audioConfig.data(), config.audioConfig.size()).c_str());
    }
}

void BasicTsMediaCaster::setLabel(const char* text) {
    comn::AutoLock lock(m_mutex);
    m_label = text == nullptr ? "" : text;
}

std::string BasicTsMediaCaster::getLabel() {
    comn::AutoLock lock(m_mutex);
    return m_label;
}

int BasicTsMediaCaster::openMuxer(const MediaCasterConfig& config) {
    comn::AutoLock lock(m_mutex);
    const int status = m_muxer->open(config);
    m_config = config;
    m_detector.setCodec(config.videoCodec);
    m_joiner = NaluJoiner::create(config.videoCodec);
    return status;
}

void BasicTsMediaCaster::closeMuxer() {
    comn::AutoLock lock(m_mutex);
    if (m_muxer->isOpen()) {
        m_muxer->close();
    }
}

bool BasicTsMediaCaster::write(int type, const uint8_t* data, int size, int64_t pts, int duration,
                               int flags) {
    comn::AutoLock lock(m_mutex);
    if (type != kVideoFrame) {
        if (checksAudioPts() && m_lastAudioPts >= 1 && pts < m_lastAudioPts) {
            CLog::warning("(%d) autio pts is invalid. last:%lld, now:%lld\n", m_id.load(),
                          static_cast<long long>(m_lastAudioPts), static_cast<long long>(pts));
        }
        m_lastAudioPts = pts;
        (void)duration;
        return writeToMuxer(type, data, size, pts, flags);
    }

    if (m_lastVideoPts >= 1 && pts < m_lastVideoPts) {
        CLog::warning("(%d) video pts is invalid. last:%lld, now:%lld\n", m_id.load(),
                      static_cast<long long>(m_lastVideoPts), static_cast<long long>(pts));
    }
    bool isKey = false;
    int nalType = 0;
    const size_t length = size > 0 ? static_cast<size_t>(size) : 0;
    m_detector.parse(data, length, isKey, nalType);

    MediaFrame in;
    in.type = kVideoFrame;
    in.data = data;
    in.size = size;
    in.pts = pts;
    in.duration = 0;
    in.flags = isKey ? (flags | kKeyFrame) : flags;
    MediaFrame out;
    if (m_joiner == nullptr) {
        out = in;  // never opened: nothing to join with
        writeToMuxer(out.type, out.data, out.size, out.pts, out.flags);
    } else if (m_joiner->join(in, nalType, out)) {
        writeToMuxer(out.type, out.data, out.size, out.pts, out.flags);
    }
    m_lastVideoPts = pts;
    return true;
}

bool BasicTsMediaCaster::writeToMuxer(int type, const uint8_t* data, int size, int64_t pts,
                                      int flags) {
    const bool taken = m_muxer->write(type, data, size, pts, 0, flags);
    const uint64_t overruns = m_muxer->overruns();
    if (overruns != m_overrunsSeen) {
        m_overrunsSeen = overruns;
        if (m_overrunEpisode.occur()) {
            CLog::warning(
                "(%d) mux rate %lld bit/s exceeded: frames are dropped until the "
                "stream fits again\n",
                m_id.load(), static_cast<long long>(m_muxRate));
        }
    } else if (taken && m_overrunEpisode.open()) {
        CLog::warning("(%d) mux rate kept again: %llu frames did not fit\n", m_id.load(),
                      static_cast<unsigned long long>(m_overrunEpisode.end()));
    }
    return taken;
}

int BasicTsMediaCaster::setMuxRateOption(const std::string& value) {
    int64_t rate = 0;
    // 0: variable; otherwise at least a low-rate audio stream's worth, at most FFmpeg's int.
    if (!parseOptionInteger(value, rate) ||
        (rate != 0 && (rate < kMinMuxRate || rate > kMaxMuxRate))) {
        CLog::warning("(%d) option muxrate refused\n", m_id.load());
        return EINVAL;
    }
    comn::AutoLock lock(m_mutex);
    if (rate == m_muxRate) {
        return 0;
    }
    m_muxRate = rate;
    m_muxer->setMuxRate(rate);
    if (m_muxer->isOpen()) {
        // The rate is part of the stream's header: start the stream over with it.
        m_muxer->close();
        m_muxer->open(m_config);
    }
    CLog::debug("(%d) option muxrate:%lld\n", m_id.load(), static_cast<long long>(rate));
    return 0;
}

uint64_t BasicTsMediaCaster::muxOverruns() {
    comn::AutoLock lock(m_mutex);
    return m_muxer->overruns();
}

OutputStatus BasicTsMediaCaster::outputStatus() {
    OutputStatus status = TsMediaCaster::outputStatus();
    status.overruns = muxOverruns();
    return status;
}

}  // namespace av
