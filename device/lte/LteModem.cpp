#include "LteModem.h"

#include "AtAnswers.h"
#include "AtPort.h"
#include "Console.h"

namespace enc {
namespace {

// Answer buffers: the short answers fit 128 bytes with the echo; the others get 256.
constexpr size_t kShortAnswer = 128;
constexpr size_t kLongAnswer = 256;

}  // namespace

bool LteModem::checkAt() {
    m_port.sendAt("AT\r");
    const std::string answer = m_port.readAnswer(kShortAnswer, true);
    if (!answer.empty() && answer.back() == 'K') {
        say("recv OK\n");
        return true;
    }
    say("AT recv end, len:%d\n", static_cast<int>(answer.size()));
    return false;
}

bool LteModem::readImei(std::string& imei) {
    m_port.sendAt("AT+GSN\r");
    const auto digits = parseImei(m_port.readAnswer(kShortAnswer, true));
    if (!digits) {
        return false;
    }
    imei = *digits;
    return true;
}

bool LteModem::readIccid(std::string& iccid) {
    m_port.sendAt("AT+CCID\r");
    const auto digits = parseIccid(m_port.readAnswer(kShortAnswer, false));
    if (!digits) {
        return false;
    }
    iccid = *digits;
    return true;
}

bool LteModem::checkSim() {
    m_port.sendAt("AT+CPIN?\r");
    return m_port.readAnswer(kLongAnswer, false).find("READY") != std::string::npos;
}

int LteModem::checkPacketRegistration() {
    m_port.sendAt("AT+CGREG?\r");
    return m_port.readAnswer(kLongAnswer, false).find("CGREG") != std::string::npos ? 1 : 0;
}

bool LteModem::readSignal(int& signal) {
    m_port.sendAt("AT+CSQ\r");
    const auto value = parseSignal(m_port.readAnswer(kLongAnswer, false));
    if (!value) {
        return false;
    }
    signal = *value;
    return true;
}

int LteModem::readOperator(std::string& name) {
    m_port.sendAt("AT+COPS?\r");
    const auto found = parseOperator(m_port.readAnswer(kLongAnswer, false));
    if (!found) {
        return -1;
    }
    name = *found;
    return 0;
}

}  // namespace enc
