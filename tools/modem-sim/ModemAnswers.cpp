#include "ModemAnswers.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <sstream>

namespace modemsim {
namespace {

std::string upper(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return text;
}

std::string trim(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) {
        return std::string();
    }
    const size_t last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

std::set<std::string> commandList(const std::string& value) {
    std::set<std::string> list;
    std::stringstream in(value);
    std::string item;
    while (std::getline(in, item, ',')) {
        item = upper(trim(item));
        if (!item.empty()) {
            list.insert(item);
        }
    }
    return list;
}

// An information answer as the EC20 family sends it.
std::string info(const std::string& line) {
    return "\r\n" + line + "\r\n\r\nOK\r\n";
}

const char* const kOk = "\r\nOK\r\n";
const char* const kError = "\r\nERROR\r\n";

}  // namespace

const char* ModemAnswers::keysHelp() {
    return "  imei=DIGITS      answer to AT+GSN            (default 866123456789012)\n"
           "  iccid=DIGITS     answer to AT+CCID           (default 89860012345678901234)\n"
           "  cpin=TEXT        answer to AT+CPIN?          (default READY)\n"
           "  cgreg=N,STAT     answer to AT+CGREG?         (default 0,1)\n"
           "  csq=RSSI,BER     answer to AT+CSQ            (default 18,99)\n"
           "  cops=NAME        operator in AT+COPS?        (default CHN-UNICOM; empty: none)\n"
           "  echo=on|off      echo each command first     (default on)\n"
           "  silent=CMD,...   commands left unanswered    (ALL for every command)\n"
           "  error=CMD,...    commands answered ERROR     (ALL for every command)\n";
}

bool ModemAnswers::set(const std::string& key, const std::string& value, std::string& why) {
    if (key == "imei") {
        m_imei = value;
    } else if (key == "iccid") {
        m_iccid = value;
    } else if (key == "cpin") {
        m_cpin = value;
    } else if (key == "cgreg") {
        m_cgreg = value;
    } else if (key == "csq") {
        m_csq = value;
    } else if (key == "cops") {
        m_cops = value;
    } else if (key == "echo") {
        if (value != "on" && value != "off") {
            why = "echo takes on or off";
            return false;
        }
        m_echo = value == "on";
    } else if (key == "silent") {
        m_silent = commandList(value);
    } else if (key == "error") {
        m_error = commandList(value);
    } else {
        why = "unknown key '" + key + "'";
        return false;
    }
    return true;
}

bool ModemAnswers::applyFile(const std::string& path, std::string& why) {
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        line = trim(line);
        if (line.empty() || line[0] == '#') {
            continue;
        }
        const size_t eq = line.find('=');
        if (eq == std::string::npos) {
            why = "line without '=': " + line;
            return false;
        }
        if (!set(trim(line.substr(0, eq)), trim(line.substr(eq + 1)), why)) {
            return false;
        }
    }
    return true;
}

bool ModemAnswers::listed(const std::set<std::string>& list, const std::string& command) {
    return list.count("ALL") != 0 || list.count(command) != 0;
}

std::string ModemAnswers::answer(const std::string& command) const {
    if (listed(m_error, command)) {
        return kError;
    }
    if (command == "AT") {
        return kOk;
    }
    if (command == "AT+GSN") {
        return info(m_imei);
    }
    if (command == "AT+CCID") {
        return info("+CCID: " + m_iccid);
    }
    if (command == "AT+CPIN?") {
        return info("+CPIN: " + m_cpin);
    }
    if (command == "AT+CGREG?") {
        return info("+CGREG: " + m_cgreg);
    }
    if (command == "AT+CSQ") {
        return info("+CSQ: " + m_csq);
    }
    if (command == "AT+COPS?") {
        return m_cops.empty() ? info("+COPS: 0") : info("+COPS: 0,0,\"" + m_cops + "\",7");
    }
    if (command.compare(0, 8, "AT+CFUN=") == 0) {
        return kOk;
    }
    return kError;
}

std::string ModemAnswers::reply(const std::string& command) const {
    const std::string normalised = upper(command);
    if (listed(m_silent, normalised)) {
        return std::string();
    }
    std::string bytes = m_echo ? command + "\r" : std::string();
    return bytes + answer(normalised);
}

}  // namespace modemsim
