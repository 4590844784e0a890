#pragma once
// Runs build/bin/korrin-sim for a test against the sandbox board of the scope (BOARD_ROOT),
// with its output in a private temporary directory, and plays Quillon's end of the media
// link: a socket bound to the board's client address that collects the status records and
// sends change codes. The wire format is read at the documented offsets, independently of
// the project's record structures.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "ChildProcess.h"
#include "DatagramReceiver.h"
#include "TestSupport.h"
#include "UdpReceiver.h"

namespace toolstest {

/// Quillon's end of the media link.
class LinkClient {
public:
    /// Binds board path "/tmp/client.socket" of the sandbox at boardRoot.
    explicit LinkClient(const std::string& boardRoot);

    bool ok() const { return m_socket.ok(); }

    /// The payload of the last record received with this code (empty when none yet).
    std::vector<uint8_t> last(int code) const;
    /// How many records with this code arrived, and whether every one had a well-formed
    /// header (length equal to length2 and to the payload's size, magic "HT_V").
    size_t count(int code) const;
    bool headersWellFormed() const;
    void clear();

    /// Waits until a record with this code satisfies the predicate: the last one, or one of
    /// the few before it (records of one code may come in a burst, one per stream).
    bool waitFor(int code, const std::function<bool(const std::vector<uint8_t>&)>& predicate,
                 std::chrono::milliseconds timeout = std::chrono::seconds(15));

    /// Sends a change code as Quillon does: header "HT_O", no payload.
    bool sendCode(int code);

private:
    void receive(const uint8_t* data, size_t size);

    std::string m_server;
    mutable std::mutex m_mutex;
    std::map<int, std::vector<uint8_t>> m_last;
    std::map<int, std::deque<std::vector<uint8_t>>> m_recent;  // the last kRecent per code
    std::map<int, size_t> m_counts;
    bool m_wellFormed = true;
    testsupport::DatagramReceiver m_socket;  // last: its thread stops before the members above go
};

/// Little-endian reads at a record offset (0 when the record is too short).
int32_t i32(const std::vector<uint8_t>& record, size_t offset);
uint16_t u16(const std::vector<uint8_t>& record, size_t offset);
std::string text(const std::vector<uint8_t>& record, size_t offset, size_t size);

class KorrinSimProcess {
public:
    /// Starts korrin-sim with the options and waits until its media link socket is bound.
    /// The destructor stops it (SIGTERM) when still running.
    KorrinSimProcess(const std::string& boardRoot, const std::vector<std::string>& options = {},
                     const std::string& execPrefix = std::string());

    bool ok() const { return m_ready; }
    std::string output() const { return m_child.output(); }
    /// Waits until the output contains the text.
    bool waitForOutput(const std::string& text,
                       std::chrono::milliseconds timeout = std::chrono::seconds(15)) const {
        return m_child.waitForOutput(text, timeout);
    }
    /// The port of the nth complete line with "<label> N" (see ChildProcess::waitForPort).
    int waitForPort(const std::string& label, size_t nth = 1) const {
        return m_child.waitForPort(label, std::chrono::seconds(15), nth);
    }
    /// Sends SIGTERM and waits for the exit; the wait status, -1 when it did not end within
    /// 10 s (it is then killed), -2 when it was stopped before or never started.
    int stop() { return m_child.stop(); }

private:
    testsupport::ChildProcess m_child;
    bool m_ready = false;
};

/// What ffprobe sees at a URL: "codec WxH" of the first video stream plus ",aac" when there
/// is an AAC stream, or "" with the probe's output in *details.
std::string probe(const std::string& url, std::string* details = nullptr,
                  const std::string& prefix = std::string());
/// probe() of what a cast to the receiver brought after its first `from` bytes, once it has
/// about two seconds of the small test streams (150,000 bytes; at most 20 s are waited for).
std::string probeReceived(sluicetest::UdpReceiver& receiver, std::string* details = nullptr,
                          size_t from = 0);

}  // namespace toolstest
