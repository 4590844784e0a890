#include "UdpDrain.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

#include "BenchClock.h"

namespace {

// The RTP fixed header without CSRCs.
constexpr uint64_t kRtpHeaderBytes = 12;
// Datagrams taken per recvmmsg call; larger batches gain nothing measurable.
constexpr int kBatch = 64;
// Room for one datagram; the senders never exceed 1328 bytes (RTP over 1316 bytes of TS).
constexpr int kSlotBytes = 2048;

}  // namespace

UdpDrain::~UdpDrain() {
    for (int fd : m_fds) {
        ::close(fd);
    }
}

bool UdpDrain::open(int count, bool rtp, int receiveBuffer, DrainStats& stats, std::string& error) {
    m_rtp = rtp;
    for (int i = 0; i < count; ++i) {
        const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd < 0) {
            error = std::string("socket: ") + std::strerror(errno);
            return false;
        }
        m_fds.push_back(fd);
        if (::setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &receiveBuffer, sizeof receiveBuffer) !=
            0) {
            ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
        }
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof addr;
        if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
            ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &length) != 0) {
            error = std::string("bind: ") + std::strerror(errno);
            return false;
        }
        m_ports.push_back(ntohs(addr.sin_port));
        struct stat info {};
        ::fstat(fd, &info);
        m_inodes.push_back(static_cast<unsigned long>(info.st_ino));
    }
    stats.bytes.assign(count, 0);
    return true;
}

std::vector<int> UdpDrain::ports() const {
    return m_ports;
}

void UdpDrain::onReadable(size_t index, DrainStats& stats) {
    static char buffers[kBatch][kSlotBytes];
    mmsghdr messages[kBatch];
    iovec vectors[kBatch];
    for (;;) {
        for (int i = 0; i < kBatch; ++i) {
            vectors[i] = {buffers[i], kSlotBytes};
            messages[i] = {};
            messages[i].msg_hdr.msg_iov = &vectors[i];
            messages[i].msg_hdr.msg_iovlen = 1;
        }
        const int n = ::recvmmsg(m_fds[index], messages, kBatch, MSG_DONTWAIT, nullptr);
        if (n <= 0) {
            return;
        }
        uint64_t wire = 0;
        uint64_t payload = 0;
        for (int i = 0; i < n; ++i) {
            const uint64_t length = messages[i].msg_len;
            wire += length;
            payload += m_rtp ? (length > kRtpHeaderBytes ? length - kRtpHeaderBytes : 0) : length;
        }
        stats.datagrams += static_cast<uint64_t>(n);
        stats.arrived(index, payload, wire, monotonicNs());
        if (n < kBatch) {
            return;
        }
    }
}

void UdpDrain::countDrops(DrainStats& stats) const {
    // Columns: sl local rem st tx:rx tr:when retrnsmt uid timeout inode ref pointer drops
    std::ifstream in("/proc/net/udp");
    std::string line;
    std::getline(in, line);
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string skip;
        unsigned long inode = 0;
        unsigned long long drops = 0;
        for (int i = 0; i < 9; ++i) {
            fields >> skip;
        }
        fields >> inode >> skip >> skip >> drops;
        for (unsigned long own : m_inodes) {
            if (own == inode) {
                stats.kernelDrops += drops;
            }
        }
    }
}
