#include "LteState.h"

#include "Singleton.h"

namespace enc {

LteState& LteState::instance() {
    return comn::Singleton<LteState>::instance();
}

LteSnapshot LteState::snapshot() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    LteSnapshot copy = m_data;
    copy.running = m_running.load();
    return copy;
}

void LteState::setSignal(int signal) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_data.signal = signal;
}

void LteState::setRegistered(int registered) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_data.registered = registered;
}

void LteState::setSimReady(int simReady) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_data.simReady = simReady;
}

void LteState::setOperatorName(const std::string& name) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_data.operatorName = name;
}

void LteState::setIccid(const std::string& iccid) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_data.iccid = iccid;
}

void LteState::setImei(const std::string& imei) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_data.imei = imei;
}

void LteState::reset() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_data = LteSnapshot();
    m_running = false;
}

}  // namespace enc
