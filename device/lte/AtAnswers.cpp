#include "AtAnswers.h"

#include <cstdio>

namespace enc {
namespace {

// IMEIs have 15 digits; some modules report up to 20 (IMEISV and vendor variants). ICCIDs
// have 19 or 20.
constexpr size_t kMinDigits = 15;
constexpr size_t kMaxDigits = 20;
// Shorter answers cannot hold an ICCID line.
constexpr size_t kMinIccidAnswer = 11;
// An ICCID line ends no earlier than this position of the answer ("+CCID: " and digits).
constexpr size_t kIccidLineEndFrom = 17;

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}
bool isLineEnd(char c) {
    return c == '\r' || c == '\n';
}
bool digitCountOk(const std::string& digits) {
    return digits.size() >= kMinDigits && digits.size() <= kMaxDigits;
}

}  // namespace

std::optional<std::string> parseImei(const std::string& answer) {
    std::string digits;
    bool newLine = false;
    for (char c : answer) {
        if (isLineEnd(c)) {
            newLine = true;
        } else if (isDigit(c)) {
            if (newLine) {
                digits.clear();
                newLine = false;
            }
            digits += c;
        }
    }
    if (!digitCountOk(digits)) {
        return std::nullopt;
    }
    return digits;
}

std::optional<std::string> parseIccid(const std::string& answer) {
    if (answer.size() < kMinIccidAnswer) {
        return std::nullopt;
    }
    std::string digits;
    for (size_t i = 0; i < answer.size(); ++i) {
        const char c = answer[i];
        if (isLineEnd(c) && i >= kIccidLineEndFrom) {
            break;
        }
        if (isDigit(c)) {
            digits += c;
        }
    }
    if (!digitCountOk(digits)) {
        return std::nullopt;
    }
    return digits;
}

std::optional<int> parseSignal(const std::string& answer) {
    const size_t at = answer.find("CSQ:");
    if (at == std::string::npos) {
        return std::nullopt;
    }
    int rssi = 0;
    int ber = 0;
    if (std::sscanf(answer.c_str() + at + 4, "%d,%d", &rssi, &ber) < 1) {
        return std::nullopt;
    }
    return rssi;
}

const std::array<OperatorName, 3>& operatorTable() {
    static const std::array<OperatorName, 3> table = {{
        {"CHN-CT", "中国电信"},
        {"CHN-UNICOM", "中国联通"},
        {"CHINA MOBILE", "中国移动"},
    }};
    return table;
}

std::optional<std::string> parseOperator(const std::string& answer) {
    size_t start = 0;
    while (start < answer.size() && static_cast<unsigned char>(answer[start]) < 32) {
        ++start;
    }
    const size_t cops = answer.find("COPS:", start);
    if (cops == std::string::npos) {
        return std::nullopt;
    }
    for (const auto& entry : operatorTable()) {
        if (answer.find(entry.network, cops) != std::string::npos) {
            return std::string(entry.name);
        }
    }
    return std::nullopt;
}

}  // namespace enc
