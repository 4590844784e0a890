#pragma once
// An SRT receiver on loopback for the SRT caster tests, on libsrt: a caller of the caster's
// listener, or a listener the caster calls. It collects every message it receives, and it
// never skips a packet that comes too late (libsrt's too-late drop is off, which also stops
// the sender from dropping for it): however loaded the machine, what it gets is exactly what
// the caster handed to libsrt for it, once the link has caught up.
#include <srt/srt.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace sluicetest {

class SrtReceiver {
public:
    SrtReceiver();
    /// Ends the link (or the listener) and the thread.
    ~SrtReceiver();
    SrtReceiver(const SrtReceiver&) = delete;
    SrtReceiver& operator=(const SrtReceiver&) = delete;

    /// Calls 127.0.0.1:port (from the local address from, when given: another loopback
    /// address plays another host); false when the link cannot be made (refused, wrong
    /// passphrase).
    bool call(uint16_t port, const std::string& passphrase = "", const char* from = nullptr);
    /// Listens on 127.0.0.1:port (0: any free port) for one caller; false on failure.
    bool listen(uint16_t port, const std::string& passphrase = "");
    /// The port listened on.
    uint16_t port() const { return m_port; }
    /// Ends the link and the listener, as a receiver that goes away does.
    void close();

    std::string received();
    size_t receivedSize();
    /// Each message's source time (libsrt's, in microseconds of the receiver's clock): when
    /// the sender handed it to libsrt, whatever the network and the load did afterwards.
    std::vector<int64_t> sourceTimesUs();
    /// A caller accepted by listen() has connected (at some time).
    bool accepted() const { return m_accepted; }

private:
    bool prepare(SRTSOCKET socket, const std::string& passphrase);
    void receive(SRTSOCKET socket);
    void acceptLoop();

    SRTSOCKET m_socket = SRT_INVALID_SOCK;
    SRTSOCKET m_listener = SRT_INVALID_SOCK;
    uint16_t m_port = 0;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_accepted{false};
    std::thread m_thread;
    std::mutex m_mutex;
    std::string m_bytes;
    std::vector<int64_t> m_sourceTimesUs;
};

}  // namespace sluicetest
