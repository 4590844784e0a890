#pragma once

#include <string>

namespace av {

/// The name an HLS or FLV output is served under, from the "path" option's text: "sub",
/// "/sub", "/live/sub.m3u8" or "sub.flv" give "/sub" or "/live/sub". False for an empty
/// name, "." or ".." parts, or characters outside letters, digits, "-", "_", "." and "/".
bool normaliseOutputPath(const std::string& text, std::string& name);

}  // namespace av
