#pragma once

#include <string>

namespace enc {

/// The limits document ("GET /api/limits"): every number the device clamps or refuses outside
/// its range, by document and JSON key, so that the pages check a form by the device's own
/// rules (publishedLimits, from the descriptors):
///   {"video":{"bitrate":{"min":256,"max":[12000,12000]},
///             "framerate":{"min":15,"max":[null,30],"aboveInput":2},...},...}
/// "max" has one value per instance (stream, or overlay of "osd"); null where the limit is the
/// input's measured frame rate plus "aboveInput".
namespace LimitsDocument {
std::string text();
}  // namespace LimitsDocument

}  // namespace enc
