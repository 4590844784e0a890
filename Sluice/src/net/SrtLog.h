#pragma once

/// Sends libsrt's own messages (rejected handshakes, broken links) to the library's logger
/// instead of standard error, so that without "SluiceLog.ini" the process stays silent, and
/// sets libsrt's level from the lowest threshold of the logger's sinks, so that libsrt does
/// not even format what no sink would keep. libsrt's logging is process-wide: call it before
/// each start of libsrt (the logger's configuration may have changed since). Any thread.
void routeSrtLog();
