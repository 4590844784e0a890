#pragma once

#include <set>

/// The IPv4 UDP ports this process's sockets are bound to, as the kernel lists them: how a
/// program learns the port a library bound for it when it asked for port 0 and the library
/// cannot tell (GStreamer's srtsink).
std::set<int> ownUdpPorts();
