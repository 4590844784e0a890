#pragma once
// Reading the modem's answers. An answer is what arrived after a command, possibly
// starting with the modem's echo of the command, with line ends as the canonical TTY
// delivers them (carriage returns turned into line feeds).

#include <array>
#include <optional>
#include <string>

namespace enc {

/// The IMEI: the decimal digits of the last line that has any (a carriage return or line
/// feed starts a new collection). Present when 15 to 20 digits were collected.
std::optional<std::string> parseImei(const std::string& answer);

/// The ICCID: the decimal digits from the start of the answer, up to the first carriage
/// return or line feed at position 17 or later. Absent when fewer than 11 bytes arrived or
/// when not 15 to 20 digits were collected.
std::optional<std::string> parseIccid(const std::string& answer);

/// The signal value: the first number of "%d,%d" after "CSQ:". Absent without "CSQ:".
std::optional<int> parseSignal(const std::string& answer);

/// The operator names, by the text found in the AT+COPS? answer, tested in this order.
struct OperatorName {
    const char* network;  // as the modem reports it
    const char* name;     // UTF-8, as the web pages show it
};
const std::array<OperatorName, 3>& operatorTable();

/// The operator's name: after skipping leading bytes below 32, the answer must contain
/// "COPS:" and one of the table's network texts. Absent otherwise.
std::optional<std::string> parseOperator(const std::string& answer);

}  // namespace enc
