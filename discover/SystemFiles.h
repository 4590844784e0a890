#pragma once

#include <optional>
#include <string>

namespace discover {

/// Readers of the board's text files that feed the device record. The parse functions take
/// the file's text so they can be checked without a board; read() takes a board path.
namespace SystemFiles {

/// The whole file at a board path; nothing when it cannot be read.
std::optional<std::string> read(const std::string& boardPath);

/// Gateway of the first route with destination 0.0.0.0 in the text of /proc/net/route
/// (header line skipped), dotted; empty when there is none.
std::string defaultGateway(const std::string& routeText);

/// The first "nameserver" of a resolver file; empty when there is none.
std::string firstNameServer(const std::string& resolvText);

/// The first blank-delimited word of the text (the UID file holds the UID and a newline).
std::string firstWord(const std::string& text);

}  // namespace SystemFiles

}  // namespace discover
