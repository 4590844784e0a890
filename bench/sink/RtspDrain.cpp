#include "RtspDrain.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "BenchClock.h"

namespace {

// One RTSP answer (head and SDP) is far below this; a longer one is an error of the server.
constexpr size_t kMaxAnswerBytes = 64 * 1024;
// The server answers at once on loopback; this only stops a run against a dead server.
constexpr int kAnswerTimeoutS = 10;
// Datagrams taken per recvmmsg call, as UdpDrain.
constexpr int kBatch = 64;
constexpr int kSlotBytes = 2048;
// Bytes read from an interleaved connection at once.
constexpr size_t kReadBytes = 256 * 1024;

std::string headerValue(const std::string& head, const std::string& name) {
    size_t at = 0;
    while ((at = head.find("\r\n", at)) != std::string::npos) {
        at += 2;
        if (strncasecmp(head.c_str() + at, name.c_str(), name.size()) == 0 &&
            head[at + name.size()] == ':') {
            size_t start = at + name.size() + 1;
            while (start < head.size() && head[start] == ' ') {
                ++start;
            }
            return head.substr(start, head.find("\r\n", start) - start);
        }
    }
    return std::string();
}

bool bindTo(int fd, const std::string& address, int port) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    ::inet_pton(AF_INET, address.c_str(), &addr.sin_addr);
    return ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
}

int localPort(int fd) {
    sockaddr_in addr{};
    socklen_t length = sizeof addr;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &length);
    return ntohs(addr.sin_port);
}

// The control URL of each media section of an SDP, made absolute against base.
std::vector<std::string> trackUrls(const std::string& sdp, const std::string& base) {
    std::vector<std::string> urls;
    size_t at = 0;
    bool inMedia = false;
    while (at < sdp.size()) {
        size_t end = sdp.find('\n', at);
        end = end == std::string::npos ? sdp.size() : end;
        std::string line = sdp.substr(at, end - at);
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        at = end + 1;
        if (line.compare(0, 2, "m=") == 0) {
            inMedia = true;
            urls.push_back(base);
        } else if (inMedia && line.compare(0, 10, "a=control:") == 0) {
            const std::string control = line.substr(10);
            urls.back() = control.compare(0, 7, "rtsp://") == 0
                              ? control
                              : base + (base.back() == '/' ? "" : "/") + control;
        }
    }
    return urls;
}

}  // namespace

RtspDrain::~RtspDrain() {
    for (Client& client : m_clients) {
        ::close(client.fd);
        for (int fd : client.udp) {
            ::close(fd);
        }
    }
}

bool RtspDrain::request(Client& client, const std::string& method, const std::string& uri,
                        const std::string& extra, std::string& answer, std::string& error) {
    const std::string text = method + " " + uri + " RTSP/1.0\r\nCSeq: " + std::to_string(++m_cseq) +
                             "\r\nUser-Agent: bench-sink\r\n" +
                             (client.session.empty() ? "" : "Session: " + client.session + "\r\n") +
                             extra + "\r\n";
    if (::send(client.fd, text.data(), text.size(), MSG_NOSIGNAL) !=
        static_cast<ssize_t>(text.size())) {
        error = method + ": " + std::strerror(errno);
        return false;
    }
    std::string buffer;
    for (;;) {
        // Interleaved frames may come before the answer to PLAY: keep them for the drain.
        while (buffer.size() >= 4 && buffer[0] == '$') {
            const size_t size =
                static_cast<uint8_t>(buffer[2]) << 8 | static_cast<uint8_t>(buffer[3]);
            if (buffer.size() < 4 + size) {
                break;
            }
            client.pending.append(buffer, 0, 4 + size);
            buffer.erase(0, 4 + size);
        }
        const size_t headEnd = buffer[0] == '$' ? std::string::npos : buffer.find("\r\n\r\n");
        if (headEnd != std::string::npos) {
            const std::string head = buffer.substr(0, headEnd + 2);
            const size_t length =
                std::strtoul(headerValue(head, "Content-Length").c_str(), nullptr, 10);
            if (buffer.size() >= headEnd + 4 + length) {
                if (head.compare(0, 12, "RTSP/1.0 200") != 0) {
                    error = method + " " + uri + ": " + head.substr(0, head.find('\r'));
                    return false;
                }
                answer = buffer.substr(0, headEnd + 4 + length);
                client.pending.append(buffer, headEnd + 4 + length, std::string::npos);
                return true;
            }
        }
        if (buffer.size() > kMaxAnswerBytes) {
            error = method + ": answer too long";
            return false;
        }
        char bytes[16384];
        const ssize_t n = ::recv(client.fd, bytes, sizeof bytes, 0);
        if (n <= 0) {
            error = method + ": " + (n == 0 ? "connection closed" : std::strerror(errno));
            return false;
        }
        buffer.append(bytes, static_cast<size_t>(n));
    }
}

bool RtspDrain::open(const std::string& host, int port, int count, bool tcp, int receiveBuffer,
                     DrainStats& stats, std::string& error) {
    m_tcp = tcp;
    stats.bytes.assign(count, 0);
    sockaddr_in server{};
    server.sin_family = AF_INET;
    server.sin_port = htons(static_cast<uint16_t>(port));
    if (::inet_pton(AF_INET, host.c_str(), &server.sin_addr) != 1) {
        error = "not an IPv4 address: " + host;
        return false;
    }
    const std::string url = "rtsp://" + host + ":" + std::to_string(port) + "/";
    m_clients.resize(count);
    std::vector<std::string> playUrls(count);
    for (int i = 0; i < count; ++i) {
        Client& client = m_clients[i];
        client.address = "127.0.0." + std::to_string(2 + i % 250);
        client.fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const timeval timeout{kAnswerTimeoutS, 0};
        ::setsockopt(client.fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
        // The connection's receive buffer is left to the kernel's autotuning.
        if (client.fd < 0 || !bindTo(client.fd, client.address, 0) ||
            ::connect(client.fd, reinterpret_cast<sockaddr*>(&server), sizeof server) != 0) {
            error = "connect from " + client.address + ": " + std::strerror(errno);
            return false;
        }
        std::string answer;
        if (!request(client, "DESCRIBE", url, "Accept: application/sdp\r\n", answer, error)) {
            return false;
        }
        std::string base = headerValue(answer, "Content-Base");
        base = base.empty() ? url : base;
        const std::vector<std::string> tracks =
            trackUrls(answer.substr(answer.find("\r\n\r\n") + 4), base);
        if (tracks.empty()) {
            error = "DESCRIBE: no media in the SDP";
            return false;
        }
        client.tracks.resize(tracks.size());
        for (size_t t = 0; t < tracks.size(); ++t) {
            std::string transport;
            if (tcp) {
                transport = "RTP/AVP/TCP;unicast;interleaved=" + std::to_string(2 * t) + "-" +
                            std::to_string(2 * t + 1);
            } else {
                // RTP on a port of the system's choice, RTCP on the next one.
                int rtp = -1;
                int rtcp = -1;
                for (int attempt = 0; attempt < 64 && rtcp < 0; ++attempt) {
                    rtp = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
                    rtcp = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
                    // Deep enough for a whole clip, so loss means the sender lost it.
                    if (::setsockopt(rtp, SOL_SOCKET, SO_RCVBUFFORCE, &receiveBuffer,
                                     sizeof receiveBuffer) != 0) {
                        ::setsockopt(rtp, SOL_SOCKET, SO_RCVBUF, &receiveBuffer,
                                     sizeof receiveBuffer);
                    }
                    if (!bindTo(rtp, client.address, 0) ||
                        !bindTo(rtcp, client.address, localPort(rtp) + 1)) {
                        ::close(rtp);
                        ::close(rtcp);
                        rtp = rtcp = -1;
                    }
                }
                if (rtcp < 0) {
                    error = "no UDP port pair on " + client.address;
                    return false;
                }
                client.udp.push_back(rtp);
                client.udp.push_back(rtcp);
                m_watched.push_back({rtp, static_cast<size_t>(i), static_cast<int>(t)});
                m_watched.push_back({rtcp, static_cast<size_t>(i), -2});
                transport = "RTP/AVP;unicast;client_port=" + std::to_string(localPort(rtp)) + "-" +
                            std::to_string(localPort(rtcp));
            }
            if (!request(client, "SETUP", tracks[t], "Transport: " + transport + "\r\n", answer,
                         error)) {
                return false;
            }
            const std::string session = headerValue(answer, "Session");
            client.session = session.substr(0, session.find(';'));
        }
        playUrls[i] = base;
    }
    // Every PLAY at once; the answers (and the media after them) come through onReadable.
    for (int i = 0; i < count; ++i) {
        Client& client = m_clients[i];
        ::fcntl(client.fd, F_SETFL, ::fcntl(client.fd, F_GETFL) | O_NONBLOCK);
        m_watched.push_back({client.fd, static_cast<size_t>(i), -1});
        const std::string text = "PLAY " + playUrls[i] +
                                 " RTSP/1.0\r\nCSeq: " + std::to_string(++m_cseq) +
                                 "\r\nSession: " + client.session + "\r\nRange: npt=0.000-\r\n\r\n";
        if (::send(client.fd, text.data(), text.size(), MSG_NOSIGNAL) !=
            static_cast<ssize_t>(text.size())) {
            error = std::string("PLAY: ") + std::strerror(errno);
            return false;
        }
    }
    return true;
}

void RtspDrain::onPacket(size_t client, int track, const uint8_t* data, size_t size,
                         DrainStats& stats) {
    Client& c = m_clients[client];
    if (size < 12 || track < 0 || static_cast<size_t>(track) >= c.tracks.size()) {
        return;
    }
    Track& t = c.tracks[track];
    const uint16_t seq = static_cast<uint16_t>(data[2] << 8 | data[3]);
    if (!t.seen) {
        t.seen = true;
        t.firstExt = t.lastExt = seq;
    } else {
        t.lastExt += static_cast<int16_t>(seq - t.lastSeq);
        t.firstExt = std::min(t.firstExt, t.lastExt);
    }
    t.lastSeq = seq;
    ++t.packets;
    stats.arrived(client, size, size, monotonicNs());
}

bool RtspDrain::onReadable(size_t tag, DrainStats& stats) {
    const Watched& watched = m_watched[tag];
    if (watched.track == -2) {
        char buffer[kSlotBytes];
        while (::recv(watched.fd, buffer, sizeof buffer, MSG_DONTWAIT) > 0) {
        }
        return true;  // RTCP: not counted
    }
    if (watched.track >= 0) {
        static uint8_t buffers[kBatch][kSlotBytes];
        mmsghdr messages[kBatch];
        iovec vectors[kBatch];
        for (;;) {
            for (int i = 0; i < kBatch; ++i) {
                vectors[i] = {buffers[i], kSlotBytes};
                messages[i] = {};
                messages[i].msg_hdr.msg_iov = &vectors[i];
                messages[i].msg_hdr.msg_iovlen = 1;
            }
            const int n = ::recvmmsg(watched.fd, messages, kBatch, MSG_DONTWAIT, nullptr);
            if (n <= 0) {
                return true;
            }
            stats.datagrams += static_cast<uint64_t>(n);
            for (int i = 0; i < n; ++i) {
                onPacket(watched.client, watched.track, buffers[i], messages[i].msg_len, stats);
            }
            if (n < kBatch) {
                return true;
            }
        }
    }
    Client& client = m_clients[watched.client];
    static char bytes[kReadBytes];
    for (;;) {
        const ssize_t n = ::recv(watched.fd, bytes, sizeof bytes, MSG_DONTWAIT);
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)) {
            ++stats.closed;
            return false;
        }
        if (n < 0) {
            return true;
        }
        client.pending.append(bytes, static_cast<size_t>(n));
        size_t at = 0;
        std::string& held = client.pending;
        while (held.size() - at >= 4) {
            if (held[at] != '$') {
                // The answer to PLAY (no body), or a message of the server: only its head.
                const size_t end = held.find("\r\n\r\n", at);
                if (end == std::string::npos) {
                    break;
                }
                if (held.compare(at, 9, "RTSP/1.0 ") == 0 && !client.played) {
                    client.played = true;
                    ++m_played;
                    stats.errors += held.compare(at, 12, "RTSP/1.0 200") != 0;
                }
                at = end + 4;
                continue;
            }
            const size_t size =
                static_cast<uint8_t>(held[at + 2]) << 8 | static_cast<uint8_t>(held[at + 3]);
            if (held.size() - at < 4 + size) {
                break;
            }
            const int channel = static_cast<uint8_t>(held[at + 1]);
            if (channel % 2 == 0) {
                onPacket(watched.client, channel / 2,
                         reinterpret_cast<const uint8_t*>(held.data() + at + 4), size, stats);
            }
            at += 4 + size;
        }
        held.erase(0, at);
    }
}

void RtspDrain::finish(DrainStats& stats) const {
    stats.packets.assign(m_clients.size(), 0);
    stats.expectedPackets.assign(m_clients.size(), 0);
    for (size_t i = 0; i < m_clients.size(); ++i) {
        for (const Track& t : m_clients[i].tracks) {
            stats.packets[i] += t.packets;
            stats.expectedPackets[i] +=
                t.seen ? static_cast<uint64_t>(t.lastExt - t.firstExt + 1) : 0;
        }
    }
}
