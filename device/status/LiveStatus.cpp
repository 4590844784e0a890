#include "LiveStatus.h"

#include <sys/sysinfo.h>
#include <unistd.h>

#include "Ipv4.h"
#include "LteState.h"
#include "MediaState.h"
#include "NetQuery.h"
#include "StatusReport.h"
#include "board/Board.h"

namespace enc {

namespace {
constexpr const char* kHardVersion = "HD 2.1 ";
}  // namespace

std::string LiveStatus::deviceAddress() {
    std::string name;
    getActiveInterface(name);
    return ipv4Text(getInterfaceAddress(name));
}

InputStatus LiveStatus::input(int index, const InputStatus& stored,
                              const AudioSettings& audio) const {
    InputStatus status = stored;
    if (!StatusReport::readMediaStateFile(board::path("/tmp/media_state"), status)) {
        status = StatusReport::inputStatus(index, m_media.inputSignal(), m_media.audioInput(),
                                           m_media.systemStatus(), audio);
    }
    return status;
}

void LiveStatus::stream(int index, const VideoSettings& video, const AudioSettings& audio,
                        const ProtocolSettings& mainProtocol, const ProtocolSettings& protocol,
                        StreamStatus& out) const {
    const std::string address = deviceAddress();
    out.video =
        StatusReport::streamVideoText(index, video, m_media.systemStatus(), m_media.inputSignal());
    out.audio = StatusReport::streamAudioText(audio, mainProtocol);
    StatusReport::streamAddresses(protocol, address, out);
}

SysInfo LiveStatus::sysInfo(const SysInfo& stored) const {
    SysInfo out = stored;
    out.devSeq = StatusReport::firstWord(board::path("/tmp/uid.txt"));
    out.softVersion = StatusReport::softVersion(board::path("/etc/fs-version"));
    out.hardVersion = kHardVersion;
    struct sysinfo info {};
    out.uptime = StatusReport::uptimeText(::sysinfo(&info) == 0 ? info.uptime : 0);
    return out;
}

LteStatus LiveStatus::lte(const LteStatus& stored) const {
    const LteSnapshot modem = m_lte.snapshot();  // one whole copy, never half updated
    LteStatus lte = stored;
    lte.state = modem.simReady;
    lte.server = modem.operatorName;
    lte.signal = modem.signal;
    lte.iccid = modem.iccid;
    lte.ip = ipv4Text(getInterfaceAddress("ppp0"));
    lte.gate = ipv4Text(getDefaultGateway());
    lte.mask = "255.255.255.255";
    lte.esimActive = ::access(board::path("/mnt/config/active_sim").c_str(), F_OK) == 0 ? 1 : 0;
    return lte;
}

void LiveStatus::rtspServed(int index, const ProtocolSettings& protocol, StreamUrl& url) const {
    StatusReport::rtspFailure(protocol, m_media.encodeStatus().stream[index], url);
}

StreamFormat LiveStatus::streamFormat(const std::string& mainRtspName,
                                      const std::string& subRtspName) const {
    return StatusReport::streamFormat(m_media.activeStream(), mainRtspName, subRtspName);
}

}  // namespace enc
