#pragma once

#include <cstddef>
#include <string_view>

namespace enc {

/// How deeply a JSON text nests its arrays and objects, found without parsing it.
///
/// The parser recurses once per level, on the web server's worker stack; a body is measured
/// first so that no request can make that recursion deep. Brackets inside strings (with
/// their escapes) do not count. Stateless; safe from any thread.
class JsonDepth {
public:
    virtual ~JsonDepth() = default;

    /// Deepest nesting any API document needs is 2 (the overlay array of objects); 32
    /// leaves room for any sane client while keeping each parse to a few KiB of stack.
    static constexpr size_t kLimit = 32;

    /// True when no array or object in text lies deeper than limit levels. The scan stops
    /// at the first level past the limit, so its cost is bounded by the text's length.
    static bool within(std::string_view text, size_t limit = kLimit);
};

}  // namespace enc
