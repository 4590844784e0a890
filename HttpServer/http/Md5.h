#pragma once
// MD5 in lowercase hex, the hash of HTTP digest authentication (browsers and curl use it).

#include <string>
#include <string_view>

namespace http {

class Md5 {
public:
    virtual ~Md5() = default;

    /// The 32 lowercase hex digits of the MD5 digest of text.
    static std::string hex(std::string_view text);
};

}  // namespace http
