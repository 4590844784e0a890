#pragma once
// The raw replies of the web server, byte for byte as the device's pages and tools expect.

#include <string>
#include <string_view>

namespace http {

class HttpReply {
public:
    virtual ~HttpReply() = default;

    /// The reason text of a status code (trailing blanks included, as the device has always
    /// sent them); "" for a code without one.
    static std::string_view reason(int status);

    /// The JSON reply of "/api" and "/sys/": no-cache, JSON content type, any origin, and the
    /// body's length. The connection may stay open after it.
    static std::string json(int status, std::string_view body);

    /// The reply to a completed upload; the connection is closed after it.
    static std::string uploadStored(long long size, std::string_view path);

    /// An upload refusal without a body: "HTTP/1.1 <status> <reason>" and Content-Length 0.
    static std::string uploadRefused(int status, std::string_view reason);
};

}  // namespace http
