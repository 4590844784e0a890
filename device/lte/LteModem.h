#pragma once
// The AT queries of the LTE monitor, each one command and its answer.

#include <string>

namespace enc {

class AtPort;

/// The modem's queries over an open AtPort. Used by the monitor thread only.
class LteModem {
public:
    explicit LteModem(AtPort& port) : m_port(port) {}

    /// "AT": true as soon as a "K" arrives (prints "recv OK") or the answer holds "OK";
    /// on time-out prints "AT recv end, len:<n>" and fails.
    bool checkAt();
    /// "AT+GSN": the IMEI (15 to 20 digits).
    bool readImei(std::string& imei);
    /// "AT+CCID": the SIM's ICCID (15 to 20 digits).
    bool readIccid(std::string& iccid);
    /// "AT+CPIN?": true when the answer holds "READY".
    bool checkSim();
    /// "AT+CGREG?": 1 when the answer holds "CGREG" (the modem's echo included), else 0.
    int checkPacketRegistration();
    /// "AT+CSQ": the signal value.
    bool readSignal(int& signal);
    /// "AT+COPS?": 0 with the operator's name, -1 when the answer names no known operator.
    int readOperator(std::string& name);

private:
    AtPort& m_port;
};

}  // namespace enc
