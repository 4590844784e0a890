#pragma once
// A peerlo process inside a private network namespace with a sandbox board, and a UDP
// socket in the peer namespace that plays the management tool. peerlo's broadcasts and
// multicasts never leave the two namespaces.

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>

#include "ChildProcess.h"
#include "DiscoveryPacket.h"
#include "TestSupport.h"

namespace peerlo_test {

/// One datagram received by the tool socket.
struct Datagram {
    std::string bytes;
    std::string from;
    std::string to;  // destination address: broadcast, group or the tool's own
    discover::DiscoveryPacket packet() const;
};

class PeerloHarness {
public:
    static constexpr const char* kDeviceIp = "192.168.77.10";
    static constexpr const char* kToolIp = "192.168.77.1";

    /// Makes the namespaces (with default routes, so limited broadcast has a way out), the
    /// sandbox board and the tool socket. Check ok() before use.
    PeerloHarness();
    ~PeerloHarness();
    PeerloHarness(const PeerloHarness&) = delete;
    PeerloHarness& operator=(const PeerloHarness&) = delete;

    bool ok() const { return m_ok; }
    const std::string& reason() const { return m_reason; }
    const testsupport::SandboxBoard& board() const { return m_board; }

    /// Starts "peerlo 1" inside and, with waitUntilListening, waits until it listens.
    /// False when it could not be started or did not listen in time.
    bool start(bool waitUntilListening = true);
    /// Runs "ip -n <inside namespace> <args>"; its exit status.
    int ipInside(const std::string& args) const;
    /// Everything peerlo printed so far (standard output and error).
    std::string output() const;
    /// Waits until peerlo's output contains text.
    bool waitForOutput(const std::string& text,
                       std::chrono::milliseconds timeout = std::chrono::seconds(15)) const;
    /// Waits until board.log contains the line.
    bool waitForBoardLine(const std::string& line,
                          std::chrono::milliseconds timeout = std::chrono::seconds(15)) const;

    /// Sends bytes from the tool socket to the address, port 9002.
    bool send(const void* data, size_t size, const std::string& address = kDeviceIp);
    bool send(const discover::DiscoveryPacket& p, const std::string& address = kDeviceIp) {
        return send(&p, sizeof p, address);
    }
    /// Sends bytes to the device, port 9002, as if from source (any address) at the tool
    /// socket's port: a raw socket writes the IP header, so the source is what an attacker
    /// claims. Replies to the broadcast address or the group reach the tool socket.
    bool sendSpoofed(const std::string& source, const void* data, size_t size);
    /// The next datagram for the tool socket, or nothing within the timeout.
    std::optional<Datagram> receive(std::chrono::milliseconds timeout = std::chrono::seconds(10));

    /// Runs build/bin/peerlo-client with the arguments in the peer namespace; its exit
    /// status, with standard output and error in out (replaced).
    int client(const std::string& args, std::string* out) const;

private:
    testsupport::NetNamespace m_ns;
    testsupport::SandboxBoard m_board;
    bool m_ok = false;
    std::string m_reason;
    int m_toolFd = -1;
    int m_rawFd = -1;
    testsupport::ChildProcess m_peerlo;
};

}  // namespace peerlo_test
