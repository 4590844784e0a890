#pragma once
// A URL-encoded form body ("user=admin&password=x"), as "/sys/password" receives it.

#include <optional>
#include <string>
#include <string_view>

namespace http {

class FormBody {
public:
    virtual ~FormBody() = default;

    /// The decoded value ('+' is a blank, %XX a byte) of the first variable whose name
    /// matches without regard to case; nothing when the variable is absent.
    static std::optional<std::string> value(std::string_view body, std::string_view name);
};

}  // namespace http
