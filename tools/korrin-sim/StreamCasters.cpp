#include "StreamCasters.h"

namespace ksim {
namespace {

std::string openFailure(int rc, int protocol) {
    std::string text = "sluice_open returned " + std::to_string(rc);
    if (rc == 19 && (protocol == SLUICE_PROTOCOL_HTTP || protocol == SLUICE_PROTOCOL_TCP)) {
        text += " (ENODEV: this libSluice has no HTTP caster, or it cannot open)";
    } else if (rc == 19) {
        text += " (ENODEV: the socket could not be created or bound)";
    } else if (rc == 2) {
        text += " (ENOENT: the listening port is taken or cannot be bound)";
    }
    return text;
}

// A listener's label ends with its port: the one it got, when the settings left it to the
// system (port 0).
std::string shownLabel(const CasterPlan& plan, int handle) {
    int port = 0;
    if (!plan.listens() || plan.localPort != 0 || sluice_get_local_port(handle, &port) != 0) {
        return plan.label;
    }
    return plan.label.substr(0, plan.label.rfind(' ') + 1) + std::to_string(port);
}

// Where receivers find a listener, or where a sender sends.
std::string addressOf(const CasterPlan& plan, int handle) {
    if (!plan.listens()) {
        return plan.host + ":" + std::to_string(plan.port);
    }
    int port = plan.localPort;
    if (handle >= 0) {
        sluice_get_local_port(handle, &port);
    }
    std::string address = "0.0.0.0:" + std::to_string(port);
    for (const CasterOption& option : plan.options) {
        if (plan.protocol == SLUICE_PROTOCOL_RTSP && option.name == "path") {
            address += option.value;
        }
    }
    return address;
}

}  // namespace

size_t StreamCasters::open(const std::vector<CasterPlan>& casters,
                           const sluice_media_format& format, const Log& log) {
    close();
    for (const CasterPlan& plan : casters) {
        int handle = -1;
        // An SRT caster listens when asked to (after its options, so that its first caller
        // meets them); sluice_open with port 0 would not listen.
        const bool srtListener = plan.protocol == SLUICE_PROTOCOL_SRT && plan.listens();
        const int rc =
            sluice_open(&handle, plan.protocol, srtListener ? 0 : plan.localPort, &format);
        auto failed = [&](const std::string& why) {
            log(plan.label + ": not cast, " + why);
            m_outputs.push_back(OpenedOutput{-1, plan.protocol, addressOf(plan, -1), why});
        };
        if (rc != 0 || handle < 0) {
            if (plan.protocol == SLUICE_PROTOCOL_RTSP && rc != 0) {
                m_failedRtspPort = plan.localPort;  // shown in the stream's status
            }
            failed(rc != 0 ? openFailure(rc, plan.protocol) : std::string("no free caster handle"));
            continue;
        }
        // Before any target or frame, so that the first link is made with them.
        std::string refused;
        for (const CasterOption& option : plan.options) {
            const int set = sluice_set_option(handle, option.name.c_str(), option.value.c_str());
            if (set != 0) {
                // The value may be the passphrase: name the option only.
                refused = "option " + option.name + " refused, sluice_set_option returned " +
                          std::to_string(set);
                break;
            }
        }
        if (refused.empty() && srtListener &&
            sluice_set_option(handle, "listen", std::to_string(plan.localPort).c_str()) != 0) {
            refused = "the listening port is taken or cannot be bound";
        }
        if (!refused.empty()) {
            failed(refused);
            sluice_close(handle);
            continue;
        }
        if (!plan.host.empty() && plan.protocol != SLUICE_PROTOCOL_RTMP) {
            const int added = sluice_add_target(handle, plan.host.c_str(), plan.port);
            if (added != 0) {
                failed("sluice_add_target returned " + std::to_string(added));
                sluice_close(handle);
                continue;
            }
        }
        log(shownLabel(plan, handle) + ": casting");
        m_handles.push_back(handle);
        if (plan.protocol == SLUICE_PROTOCOL_RTMP) {
            std::lock_guard<std::mutex> lock(m_rtmpMutex);
            m_rtmpHandle = handle;
            // The label's URL: the record's address field is too short for most URLs.
            m_rtmpAddress = plan.label.substr(std::string(kRtmpLabel).size());
        }
        m_outputs.push_back(OpenedOutput{handle, plan.protocol, addressOf(plan, handle), ""});
    }
    return m_handles.size();
}

void StreamCasters::close() {
    {
        std::lock_guard<std::mutex> lock(m_rtmpMutex);
        m_rtmpHandle = -1;
    }
    for (int handle : m_handles) {
        sluice_close(handle);
    }
    m_handles.clear();
    m_outputs.clear();
    m_failedRtspPort = 0;
}

bool StreamCasters::rtmpStatus(std::string& address, int& state) const {
    std::lock_guard<std::mutex> lock(m_rtmpMutex);
    sluice_destination_stats record{};
    record.size = sizeof record;
    int count = 0;
    if (m_rtmpHandle < 0 || sluice_get_destination_stats(m_rtmpHandle, &record, 1, &count) != 0 ||
        count < 1) {
        return false;
    }
    address = m_rtmpAddress;
    state = record.state;
    return true;
}

void StreamCasters::write(int type, const uint8_t* data, int size, int64_t ptsUs, bool key) {
    sluice_media_packet packet{};
    packet.type = type;
    packet.data = data;
    packet.size = size;
    packet.pts = ptsUs;
    packet.flags = key ? SLUICE_FLAG_KEY : 0;
    for (int handle : m_handles) {
        sluice_write(handle, &packet);
    }
}

}  // namespace ksim
