#pragma once
// The simulated modem's answers to the AT commands the LTE monitor sends.

#include <set>
#include <string>

namespace modemsim {

class ModemAnswers {
public:
    /// Sets one answer by its option name without the dashes ("imei", "csq", "silent",
    /// ...). False with a reason for an unknown key or a bad value.
    bool set(const std::string& key, const std::string& value, std::string& why);

    /// Applies a control file of "key=value" lines ("#" starts a comment). A missing file
    /// changes nothing. False with a reason for the first bad line.
    bool applyFile(const std::string& path, std::string& why);

    /// The bytes the modem sends back for one command line (without its carriage return):
    /// the echo when on, then the answer. Empty for a silenced command.
    std::string reply(const std::string& command) const;

    /// The keys set() knows, for the usage text.
    static const char* keysHelp();

private:
    std::string answer(const std::string& command) const;
    static bool listed(const std::set<std::string>& list, const std::string& command);

    std::string m_imei = "866123456789012";
    std::string m_iccid = "89860012345678901234";
    std::string m_cpin = "READY";
    std::string m_cgreg = "0,1";
    std::string m_csq = "18,99";
    std::string m_cops = "CHN-UNICOM";
    bool m_echo = true;
    std::set<std::string> m_silent;
    std::set<std::string> m_error;
};

}  // namespace modemsim
