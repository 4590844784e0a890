#pragma once
// The device's time zones: POSIX names such as "CST-8", kept in the board's "/etc/TZ".

#include <array>
#include <string>

namespace enc {

/// The 24 zone names the device knows. Entry i stands for the zone hour i - 12, so
/// "CST-12" is -12, "CST-0" is 0, "CST-8" is 8 and "CST-23" is 11.
const std::array<const char*, 24>& zoneTable();

/// -h * 3600 seconds for the table entry whose name equals `name` exactly (so "CST-8"
/// gives -28800); prints "<name>, tz_index:<h>" to standard error. 0 for any other name.
int zoneOffset(const std::string& name);

/// The first word of the board's "/etc/TZ", or "" when the file is missing or empty.
std::string boardZoneName();

/// zoneOffset of boardZoneName(); 0 when "/etc/TZ" is missing.
int boardZoneOffset();

}  // namespace enc
