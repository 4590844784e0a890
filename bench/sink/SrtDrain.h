#pragma once

#include <srt/srt.h>

#include <string>
#include <vector>

#include "DrainStats.h"

/// SRT callers (live mode) of one SRT listener, each an SRT socket of its own, as a player
/// connects. Messages are read without blocking from one libsrt epoll; each message's bytes
/// are TS payload. Connecting retries until the listener answers, so a sender that starts
/// listening only a moment after us (FFmpeg) is found too.
class SrtDrain {
public:
    SrtDrain() = default;
    ~SrtDrain();
    SrtDrain(const SrtDrain&) = delete;
    SrtDrain& operator=(const SrtDrain&) = delete;

    /// Connects count callers to host:port (latencyMs: the receiver delay asked for), each
    /// within connectTimeoutS, and prepares their epoll.
    bool open(const std::string& host, int port, int count, int latencyMs, int connectTimeoutS,
              DrainStats& stats, std::string& error);
    /// Waits up to timeoutMs for messages and reads every waiting one.
    void poll(int timeoutMs, DrainStats& stats);
    /// Every caller's link has ended (the sender closed it or it broke).
    bool allClosed() const;

private:
    std::vector<SRTSOCKET> m_sockets;
    std::vector<bool> m_ended;
    int m_epoll = -1;
    bool m_started = false;
};
