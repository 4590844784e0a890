#pragma once

#include <map>
#include <string>

namespace av {

/// One HTTP message as read from a client: request (method and url set) or response
/// (status set, url empty). Header names are canonical ("Content-Type"); a repeated header
/// keeps its last value. Plain value; copy freely.
class HttpMessage {
public:
    HttpMessage() = default;
    virtual ~HttpMessage() = default;
    HttpMessage(const HttpMessage&) = default;
    HttpMessage& operator=(const HttpMessage&) = default;

    /// Empties everything but the version and sets the status to 0.
    void clear();

    std::map<std::string, std::string> headers;
    std::string body;
    std::string version = "HTTP/1.1";  // fixed: the parser does not report it
    std::string method;
    std::string url;
    int status = 0;
};

}  // namespace av
