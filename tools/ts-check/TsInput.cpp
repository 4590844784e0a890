#include "TsInput.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

extern "C" {
#include <libavformat/avio.h>
#include <libavutil/error.h>
}

namespace {

using Clock = std::chrono::steady_clock;

bool startsWith(const std::string& text, const char* prefix) {
    return text.compare(0, std::strlen(prefix), prefix) == 0;
}

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// How long a poll waits before the limits are looked at again.
constexpr int kPollMs = 50;
// Datagrams stamped by the kernel are read this often, in batches (8 MB of socket buffer
// holds 10 ms of up to 6 Gbit/s).
constexpr int kStampedPauseMs = 10;

// The time limits of an input that can stall (a socket, a pipe, a URL): the whole duration,
// the wait for the first data, the silence after data came.
class InputLimits {
public:
    explicit InputLimits(const InputOptions& options)
        : m_options(options), m_start(Clock::now()), m_lastData(m_start) {}

    void sawData() {
        m_anyData = true;
        m_lastData = Clock::now();
    }
    bool expired() const {
        if (m_options.durationS > 0 && secondsSince(m_start) >= m_options.durationS) {
            return true;
        }
        return m_anyData ? secondsSince(m_lastData) >= m_options.idleS
                         : secondsSince(m_start) >= m_options.waitS;
    }
    // FFmpeg's interrupt callback: its protocols poll and ask it while they wait.
    static int interrupt(void* self) { return static_cast<InputLimits*>(self)->expired() ? 1 : 0; }

private:
    const InputOptions& m_options;
    Clock::time_point m_start;
    Clock::time_point m_lastData;
    bool m_anyData = false;
};

bool isRegularFile(int fd) {
    struct stat st {};
    return ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
}

// Splits "udp://HOST:PORT" (HOST may be empty or @GROUP) into host and port.
bool hostAndPort(const std::string& source, std::string& host, uint16_t& port) {
    const std::string rest = source.substr(source.find("://") + 3);
    const size_t colon = rest.rfind(':');
    if (colon == std::string::npos) {
        return false;
    }
    host = rest.substr(0, colon);
    if (!host.empty() && host[0] == '@') {
        host.erase(0, 1);
    }
    const long value = std::strtol(rest.c_str() + colon + 1, nullptr, 10);
    if (value < 0 || value > 65535) {
        return false;
    }
    port = static_cast<uint16_t>(value);
    return true;
}

}  // namespace

bool TsInput::isDatagram(const std::string& source) {
    return startsWith(source, "udp://") || startsWith(source, "rtp://");
}

bool TsInput::read(const InputOptions& options, const Bytes& bytes, const Datagram& datagram,
                   std::string& error) {
    if (isDatagram(options.source)) {
        return readDatagrams(options, startsWith(options.source, "rtp://"), datagram, error);
    }
    if (options.source.find("://") != std::string::npos) {
        return readUrl(options, bytes, error);
    }
    return readStream(options, bytes, error);
}

bool TsInput::readStream(const InputOptions& options, const Bytes& bytes, std::string& error) {
    const bool standardInput = options.source == "-";
    const int fd = standardInput ? 0 : ::open(options.source.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = "cannot open " + options.source + ": " + std::strerror(errno);
        return false;
    }
    // A file is read to its end; a pipe or socket on stdin can stall like a network input.
    const bool mayStall = !isRegularFile(fd);
    InputLimits limits(options);
    std::vector<uint8_t> buffer(188 * 1024);
    ssize_t n = 0;
    for (;;) {
        if (mayStall) {
            if (limits.expired()) {
                break;
            }
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, kPollMs) == 0) {
                continue;
            }
        }
        n = ::read(fd, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        limits.sawData();
        bytes(buffer.data(), static_cast<size_t>(n));
    }
    if (!standardInput) {
        ::close(fd);
    }
    if (n < 0) {
        error = "cannot read " + options.source + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

bool TsInput::readUrl(const InputOptions& options, const Bytes& bytes, std::string& error) {
    // FFmpeg's protocols read the URL (HTTP with chunked bodies, and the rest).
    // A server that accepts and stays silent, or stops after the headers or a chunk, would
    // block a read for good: the interrupt callback ends any wait past the limits.
    InputLimits limits(options);
    const AVIOInterruptCB interrupt{&InputLimits::interrupt, &limits};
    AVIOContext* io = nullptr;
    const int rc = avio_open2(&io, options.source.c_str(), AVIO_FLAG_READ, &interrupt, nullptr);
    if (rc < 0) {
        char text[128];
        av_strerror(rc, text, sizeof text);
        error = "cannot open " + options.source + ": " +
                (rc == AVERROR_EXIT ? "no answer within the time limits" : text);
        return false;
    }
    std::vector<uint8_t> buffer(188 * 64);
    while (!limits.expired()) {
        const int n = avio_read_partial(io, buffer.data(), static_cast<int>(buffer.size()));
        if (n <= 0) {
            break;
        }
        limits.sawData();
        bytes(buffer.data(), static_cast<size_t>(n));
    }
    avio_closep(&io);
    return true;
}

bool TsInput::readDatagrams(const InputOptions& options, bool rtp, const Datagram& datagram,
                            std::string& error) {
    std::string host;
    uint16_t port = 0;
    if (!hostAndPort(options.source, host, port)) {
        error = "bad address (udp://HOST:PORT or rtp://HOST:PORT): " + options.source;
        return false;
    }
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    ::setsockopt(fd, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on);
    int size = 8 * 1024 * 1024;
    if (::setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &size, sizeof size) != 0) {
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    in_addr group{};
    const bool multicast =
        !host.empty() && inet_aton(host.c_str(), &group) != 0 && IN_MULTICAST(ntohl(group.s_addr));
    if (!host.empty() && inet_aton(host.c_str(), &address.sin_addr) == 0) {
        error = "not an IPv4 address: " + host;
        ::close(fd);
        return false;
    }
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        error = "cannot bind " + options.source + ": " + std::strerror(errno);
        ::close(fd);
        return false;
    }
    // Port 0 takes any free port: say which, so a test or script can send there.
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    std::fprintf(stderr, "ts-check: listening on udp port %d\n", ntohs(address.sin_port));
    std::fflush(stderr);
    if (multicast) {
        ip_mreq membership{};
        membership.imr_multiaddr = group;
        membership.imr_interface.s_addr = htonl(INADDR_ANY);
        ::setsockopt(fd, IPPROTO_IP, IP_ADD_MEMBERSHIP, &membership, sizeof membership);
    }

    InputLimits limits(options);
    int lastSequence = -1;
    std::vector<uint8_t> buffer(65536);
    char control[256];
    bool stamped = false;  // the kernel stamps arrivals: reading late changes nothing measured
    while (!limits.expired()) {
        if (stamped) {
            // Read what queued meanwhile in one go rather than be woken for every datagram: a
            // sender on the same machine pays for each wake-up of its receivers.
            std::this_thread::sleep_for(std::chrono::milliseconds(kStampedPauseMs));
        }
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, kPollMs) <= 0) {
            continue;
        }
        while (!limits.expired()) {
            iovec vector{buffer.data(), buffer.size()};
            msghdr message{};
            message.msg_iov = &vector;
            message.msg_iovlen = 1;
            message.msg_control = control;
            message.msg_controllen = sizeof control;
            const ssize_t n = ::recvmsg(fd, &message, MSG_DONTWAIT);
            if (n < 0) {
                break;  // drained
            }
            if (n == 0) {
                continue;
            }
            int64_t arrival = -1;
            for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
                if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMPNS) {
                    timespec stamp{};
                    std::memcpy(&stamp, CMSG_DATA(c), sizeof stamp);
                    arrival = static_cast<int64_t>(stamp.tv_sec) * 1'000'000'000 + stamp.tv_nsec;
                }
            }
            stamped = arrival >= 0;
            if (arrival < 0) {
                arrival = std::chrono::duration_cast<std::chrono::nanoseconds>(
                              Clock::now().time_since_epoch())
                              .count();
            }
            limits.sawData();
            size_t offset = 0;
            uint64_t lost = 0;
            if (rtp) {
                const auto* b = buffer.data();
                if (n < 12 || (b[0] >> 6) != 2) {
                    continue;  // not RTP
                }
                offset = 12 + 4 * static_cast<size_t>(b[0] & 0x0F);
                if ((b[0] & 0x10) != 0 && static_cast<size_t>(n) >= offset + 4) {
                    offset += 4 + 4 * static_cast<size_t>(b[offset + 2] << 8 | b[offset + 3]);
                }
                if (offset > static_cast<size_t>(n)) {
                    continue;
                }
                const int sequence = b[2] << 8 | b[3];
                if (lastSequence >= 0) {
                    const int gap = (sequence - lastSequence - 1) & 0xFFFF;
                    lost = gap < 0x8000 ? static_cast<uint64_t>(gap) : 0;
                }
                lastSequence = sequence;
            }
            datagram(buffer.data() + offset, static_cast<size_t>(n) - offset, arrival, lost);
        }
    }
    ::close(fd);
    return true;
}
