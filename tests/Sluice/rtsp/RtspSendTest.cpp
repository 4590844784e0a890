// The RTSP server's batched sends: a frame's datagrams in one sendmmsg (runs of one size cut
// by the kernel), and a frame's interleaved packets written straight to the socket.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <event2/event.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <iterator>
#include <string>
#include <vector>

#include "DatagramBatch.h"
#include "RtspConnection.h"

using av::DatagramBatch;

namespace {

// A connected pair of loopback UDP sockets: [0] sends, [1] receives.
struct UdpPair {
    int fds[2] = {-1, -1};
    UdpPair() {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        fds[1] = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK, 0);
        const int big = 8 << 20;
        ::setsockopt(fds[1], SOL_SOCKET, SO_RCVBUFFORCE, &big, sizeof big);
        ::bind(fds[1], reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::getsockname(fds[1], reinterpret_cast<sockaddr*>(&address), &length);
        fds[0] = ::socket(AF_INET, SOCK_DGRAM, 0);
        ::connect(fds[0], reinterpret_cast<sockaddr*>(&address), sizeof address);
    }
    ~UdpPair() {
        ::close(fds[0]);
        ::close(fds[1]);
    }
    std::vector<std::string> received() const {
        std::vector<std::string> out;
        std::vector<char> buffer(70000);
        for (;;) {
            const ssize_t n = ::recv(fds[1], buffer.data(), buffer.size(), 0);
            if (n < 0) {
                return out;
            }
            out.emplace_back(buffer.data(), static_cast<size_t>(n));
        }
    }
};

}  // namespace

TEST(RtspSend, DatagramBatchKeepsEveryDatagramAndItsOrder) {
    // Runs the kernel can cut (equal sizes, a shorter last one), runs broken by a larger
    // datagram, a run longer than one message may hold, a run over 64 KiB, and single ones.
    std::vector<size_t> sizes = {12, 1412, 1412, 1412, 700, 1412, 1412, 1500, 1412, 40, 40};
    sizes.insert(sizes.end(), 70, 1412);  // more segments than one message takes
    sizes.insert(sizes.end(), 40, 1000);  // exactly at the byte limit
    while (sizes.size() < DatagramBatch::kMaxDatagrams + 9) {
        sizes.push_back(300);  // the caller sends a full batch and goes on
    }
    std::vector<std::string> sent;
    for (size_t i = 0; i < sizes.size(); ++i) {
        sent.push_back(std::string(sizes[i], static_cast<char>('a' + i % 26)));
        sent.back().replace(0, 4, std::to_string(1000 + i));  // the head: a sequence number
    }
    UdpPair pair;
    DatagramBatch batch;
    size_t total = 0;
    for (const std::string& datagram : sent) {
        if (!batch.add(datagram.data(), 4, datagram.data() + 4, datagram.size() - 4)) {
            total += batch.send(pair.fds[0]).sent;
            ASSERT_TRUE(batch.add(datagram.data(), 4, datagram.data() + 4, datagram.size() - 4));
        }
    }
    const DatagramBatch::Result last = batch.send(pair.fds[0]);
    total += last.sent;
    EXPECT_EQ(last.lost, 0u);
    EXPECT_EQ(total, sent.size());
    EXPECT_EQ(pair.received(), sent);
    EXPECT_EQ(batch.size(), 0u);
}

// The paced caster's use: one unconnected socket, every datagram with its destination. Runs
// are cut per destination; a destination that takes nothing (port 0) loses only its own, and
// segmentation stays on for the others.
TEST(RtspSend, DatagramBatchSendsEachRunToItsOwnDestination) {
    UdpPair a;
    UdpPair b;
    sockaddr_in to[3] = {};
    for (int i = 0; i < 2; ++i) {
        socklen_t length = sizeof to[i];
        ::getsockname((i == 0 ? a : b).fds[1], reinterpret_cast<sockaddr*>(&to[i]), &length);
    }
    to[2] = to[0];
    to[2].sin_port = 0;
    const struct {
        int to;
        size_t size;
    } plan[] = {{0, 1316}, {0, 1316}, {0, 1316}, {1, 1316}, {1, 1316}, {2, 1316},
                {2, 1316}, {0, 1316}, {0, 1316}, {1, 400},  {0, 1316}};
    const int sender = ::socket(AF_INET, SOCK_DGRAM, 0);
    DatagramBatch batch;
    std::vector<std::string> bytes;
    std::vector<std::string> expected[2];
    for (size_t i = 0; i < std::size(plan); ++i) {
        bytes.push_back(std::string(plan[i].size, static_cast<char>('a' + i)));
        if (plan[i].to < 2) {
            expected[plan[i].to].push_back(bytes.back());
        }
    }
    for (size_t i = 0; i < bytes.size(); ++i) {
        ASSERT_TRUE(batch.add(nullptr, 0, bytes[i].data(), bytes[i].size(), &to[plan[i].to]));
    }
    const DatagramBatch::Result result = batch.send(sender);
    ::close(sender);
    EXPECT_EQ(result.sent, bytes.size() - 2);
    EXPECT_EQ(result.lost, 2u);
    for (size_t i = 0; i < bytes.size(); ++i) {
        EXPECT_EQ(batch.error(i), plan[i].to == 2 ? EINVAL : 0) << i;
    }
    EXPECT_TRUE(batch.segmenting());
    EXPECT_EQ(a.received(), expected[0]);
    EXPECT_EQ(b.received(), expected[1]);
}

TEST(RtspSend, DatagramBatchCountsWhatNoOneTakes) {
    // A connected socket whose peer is gone: the kernel reports the refusal on a later send.
    UdpPair pair;
    ::close(pair.fds[1]);
    pair.fds[1] = ::socket(AF_INET, SOCK_DGRAM, 0);
    DatagramBatch batch;
    const std::string bytes(1000, 'x');
    size_t sent = 0;
    size_t lost = 0;
    for (int frame = 0; frame < 4; ++frame) {
        for (int i = 0; i < 10; ++i) {
            batch.add(bytes.data(), 12, bytes.data() + 12, bytes.size() - 12);
        }
        const DatagramBatch::Result result = batch.send(pair.fds[0]);
        sent += result.sent;
        lost += result.lost;
        if (result.lost > 0) {
            EXPECT_EQ(result.error, ECONNREFUSED);
        }
    }
    EXPECT_EQ(sent + lost, 40u);
    EXPECT_GT(lost, 0u);
}

TEST(RtspSend, InterleavedPartsArriveWholeAndInOrder) {
    // A small socket buffer, so that writes are taken whole, in part and not at all; bytes
    // already waiting in the connection's buffer must stay ahead of the parts.
    int fds[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
    const int small = 4096;
    ::setsockopt(fds[0], SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
    ::fcntl(fds[0], F_SETFL, O_NONBLOCK);
    event_base* base = event_base_new();
    bufferevent* bev = bufferevent_socket_new(base, fds[0], BEV_OPT_CLOSE_ON_FREE);
    bufferevent_enable(bev, EV_WRITE);
    std::string expected;
    std::string received;
    {
        av::RtspConnection connection(nullptr, 1, bev, "127.0.0.1", 1, "127.0.0.1", 0);
        std::vector<std::string> pieces;
        for (int frame = 0; frame < 40; ++frame) {
            if (frame % 7 == 3) {
                const std::string answer = "RTSP/1.0 200 OK " + std::to_string(frame) + "\r\n";
                connection.writeBytes(answer.data(), answer.size());
                expected += answer;
            }
            pieces.clear();
            for (int part = 0; part < 2 + frame % 5; ++part) {
                pieces.push_back(std::string(16 + (frame * 977 + part * 131) % 3000,
                                             static_cast<char>('A' + (frame + part) % 26)));
            }
            std::vector<iovec> parts;
            for (std::string& piece : pieces) {
                parts.push_back({piece.data(), piece.size()});
                expected += piece;
            }
            connection.writeParts(parts.data(), parts.size());
            // The reader drains now and then, and the loop sends what waits.
            if (frame % 3 == 0) {
                char buffer[65536];
                ssize_t n;
                while ((n = ::recv(fds[1], buffer, sizeof buffer, MSG_DONTWAIT)) > 0) {
                    received.append(buffer, static_cast<size_t>(n));
                }
                event_base_loop(base, EVLOOP_NONBLOCK);
            }
        }
        while (received.size() < expected.size()) {
            event_base_loop(base, EVLOOP_NONBLOCK);
            char buffer[65536];
            const ssize_t n = ::recv(fds[1], buffer, sizeof buffer, MSG_DONTWAIT);
            if (n > 0) {
                received.append(buffer, static_cast<size_t>(n));
            } else if (connection.backlog() == 0 && n < 0) {
                break;
            }
        }
    }
    ::close(fds[1]);
    event_base_free(base);
    EXPECT_EQ(received.size(), expected.size());
    EXPECT_TRUE(received == expected);
}
