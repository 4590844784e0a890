#pragma once

/// A port on 127.0.0.1 nobody uses right now, for a sender that binds it a moment later:
/// type SOCK_STREAM (TCP, HTTP) or SOCK_DGRAM (UDP, SRT). 0 when none could be found.
int freePort(int type);
