#pragma once

#include <string>

namespace comn {

/// Replaces the file at path with text, readable by its owner only (mode 0600): written to
/// a temporary file beside it, synced, then renamed over it, so a reader sees the old file
/// or the new one, never a part. False, with the reason in *error when given, on any
/// failure; the old file then stays as it was.
bool writePrivateFile(const std::string& path, const std::string& text,
                      std::string* error = nullptr);

}  // namespace comn
