#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace enc {

/// The value of the variable `name` in a form-encoded text ("a=1&index=2"): the first
/// occurrence whose name matches in any letter case, with "%XX" escapes and "+" (a blank)
/// decoded. A "%" not followed by two hex digits stays as it is. Absent: std::nullopt.
std::optional<std::string> formValue(std::string_view data, std::string_view name);

}  // namespace enc
