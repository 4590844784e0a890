#pragma once

#include <string>

/// A "Vm..." line of /proc/<pid>/status in KiB ("self" for this process); -1 when unreadable.
/// field: "VmRSS" (resident now) or "VmHWM" (resident peak).
long procStatusKb(const std::string& pid, const char* field);

/// Number of sockets this process has open (entries of /proc/self/fd that are sockets).
int ownSocketCount();
