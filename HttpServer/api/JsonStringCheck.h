#pragma once

#include <string_view>

namespace enc {

/// Finds control characters in the strings of a JSON text, without parsing it.
///
/// Every text of an API document is stored in the settings file, one line per key, and
/// some are copied into other programs' files; a line break in one would add lines of the
/// sender's choosing. Stateless; safe from any thread.
class JsonStringCheck {
public:
    virtual ~JsonStringCheck() = default;

    /// True when a string in text holds a byte below 0x20 or 0x7F, written as it is or as an
    /// escape ("\n", "\t", "\u001b", "\u007f"...). Bytes outside strings do not count.
    static bool hasControlCharacter(std::string_view text);
};

}  // namespace enc
