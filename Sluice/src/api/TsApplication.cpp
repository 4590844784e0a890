#include "TsApplication.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/log.h>
}
#include <event2/thread.h>

#include <cerrno>

#include "CLog.h"
#include "FlvTsMediaCaster.h"
#include "HlsTsMediaCaster.h"
#include "HttpTsMediaCaster.h"
#include "RtmpTsMediaCaster.h"
#include "RtpTsMediaCaster.h"
#include "RtspTsMediaCaster.h"
#include "Singleton.h"
#include "Socket.h"
#include "SrtTsMediaCaster.h"
#include "TcpTsMediaCaster.h"
#include "UdpTsMediaCaster.h"

namespace av {
namespace {

// FFmpeg's messages up to warning go to the library log with FFmpeg's own format.
void forwardFfmpegLog(void*, int level, const char* format, va_list args) {
    if (level >= 25) {
        return;
    }
    int ours;
    if (level < 9) {
        ours = CLog::kFatal;
    } else if (level < 17) {
        ours = CLog::kError;
    } else {
        ours = CLog::kWarning;
    }
    CLog::vlog(ours, format, args);
}

}  // namespace

TsApplication& TsApplication::instance() {
    return comn::Singleton<TsApplication>::instance();
}

int TsApplication::init() {
    if (CLog::config(kLogConfigFile) != 0) {
        CLog::setWriter(CLog::kDebugger, CLog::kAll, CLog::kDateTime);
    }
    comn::Socket::startup();
    avformat_network_init();
    av_log_set_level(AV_LOG_WARNING);
    av_log_set_callback(&forwardFfmpegLog);
    evthread_use_pthreads();
    return 0;
}

int TsApplication::quit() {
    clear();
    comn::Socket::cleanup();
    return 0;
}

std::shared_ptr<TsMediaCaster> TsApplication::createCaster(int protocol) {
    switch (protocol) {
        case SLUICE_PROTOCOL_RTP:
            return std::make_shared<RtpTsMediaCaster>();
        case SLUICE_PROTOCOL_TCP:
            return std::make_shared<TcpTsMediaCaster>();
        case SLUICE_PROTOCOL_HTTP:
            return std::make_shared<HttpTsMediaCaster>();
        case SLUICE_PROTOCOL_SRT:
            return std::make_shared<SrtTsMediaCaster>();
        case SLUICE_PROTOCOL_RTSP:
            return std::make_shared<RtspTsMediaCaster>();
        case SLUICE_PROTOCOL_RTMP:
            return std::make_shared<RtmpTsMediaCaster>();
        case SLUICE_PROTOCOL_HLS:
            return std::make_shared<HlsTsMediaCaster>();
        case SLUICE_PROTOCOL_FLV:
            return std::make_shared<FlvTsMediaCaster>();
        default:
            return std::make_shared<UdpTsMediaCaster>();
    }
}

MediaCasterConfig TsApplication::makeConfig(const sluice_media_format& format) {
    MediaCasterConfig config;
    config.videoCodec = format.video_codec;
    config.width = format.width;
    config.height = format.height;
    config.videoParam = format.video_param;
    config.formatParam15 = format.format_param15;
    config.videoProfile = format.video_profile;
    config.videoClock = format.video_clock;
    config.audioCodec = format.audio_codec;
    config.audioProfile = format.audio_profile;
    config.channels = format.channels;
    config.sampleRate = format.sample_rate;
    config.formatParam16 = format.format_param16;
    config.audioClock = format.audio_clock;
    if (format.video_config != nullptr && format.video_config_size >= 1) {
        config.videoConfig.assign(reinterpret_cast<const char*>(format.video_config),
                                  static_cast<size_t>(format.video_config_size));
    }
    if (format.audio_config != nullptr && format.audio_config_size >= 1) {
        config.audioConfig.assign(reinterpret_cast<const char*>(format.audio_config),
                                  static_cast<size_t>(format.audio_config_size));
    }
    return config;
}

int TsApplication::open(int& handle, int protocol, int port, const MediaCasterConfig& config) {
    std::shared_ptr<TsMediaCaster> caster = createCaster(protocol);
    if (caster == nullptr) {
        CLog::warning("sluice_open protocol:%d is not available\n", protocol);
        return ENODEV;
    }
    // Unknown protocol numbers cast UDP, as they always did.
    caster->setProtocolNumber(protocol >= SLUICE_PROTOCOL_TCP && protocol <= SLUICE_PROTOCOL_FLV
                                  ? protocol
                                  : SLUICE_PROTOCOL_UDP);
    const int status = caster->open("", static_cast<uint16_t>(port), config);
    if (status != 0) {
        return status;
    }
    handle = registerCaster(caster);
    caster->setId(handle);
    return 0;
}

int TsApplication::close(int handle) {
    std::shared_ptr<TsMediaCaster> caster = remove(handle);
    if (caster == nullptr) {
        return ENOENT;
    }
    caster->close();
    return 0;
}

int TsApplication::registerCaster(std::shared_ptr<TsMediaCaster> caster) {
    if (caster == nullptr) {
        return -1;
    }
    comn::AutoLock lock(m_mutex);
    if (m_count >= kMaxCasters) {
        return -1;
    }
    for (int probe = 0; probe < kMaxCasters; ++probe) {
        const int index = (m_nextSlot + probe) % kMaxCasters;
        if (!m_slots[index].used) {
            m_nextSlot = index;  // the next search starts here, not after it
            m_slots[index].caster = std::move(caster);
            m_slots[index].used = true;
            ++m_count;
            return index;
        }
    }
    return -1;
}

std::shared_ptr<TsMediaCaster> TsApplication::find(int handle) {
    if (handle < 0 || handle >= kMaxCasters) {
        return nullptr;
    }
    comn::AutoLock lock(m_mutex);
    return m_slots[handle].used ? m_slots[handle].caster : nullptr;
}

std::shared_ptr<TsMediaCaster> TsApplication::remove(int handle) {
    if (handle < 0 || handle >= kMaxCasters) {
        return nullptr;
    }
    comn::AutoLock lock(m_mutex);
    if (!m_slots[handle].used) {
        return nullptr;
    }
    std::shared_ptr<TsMediaCaster> caster = std::move(m_slots[handle].caster);
    m_slots[handle].caster.reset();
    m_slots[handle].used = false;
    --m_count;
    return caster;
}

void TsApplication::clear() {
    // Released outside the lock: the last reference may destroy a caster, which closes it.
    std::shared_ptr<TsMediaCaster> released[kMaxCasters];
    {
        comn::AutoLock lock(m_mutex);
        for (int i = 0; i < kMaxCasters; ++i) {
            released[i] = std::move(m_slots[i].caster);
            m_slots[i].caster.reset();
            m_slots[i].used = false;
        }
        m_count = 0;
        m_nextSlot = 0;
    }
}

int TsApplication::count() {
    comn::AutoLock lock(m_mutex);
    return m_count;
}

}  // namespace av
