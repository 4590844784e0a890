// Disconnect storms on the TCP and HTTP casters: clients connect and drop in every way
// while blocks are written and everyone is disconnected now and then. Nothing may crash,
// leak or race (the sanitizer builds run this too), each connection closes exactly once
// and the table ends empty.
#include <dirent.h>
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "HttpTsMediaCaster.h"
#include "LogCapture.h"
#include "StreamBlocks.h"
#include "TcpClient.h"
#include "TcpTsMediaCaster.h"
#include "TestSupport.h"

using sluicetest::TcpClient;
using testsupport::waitFor;

namespace {

class DisconnectStorm : public ::testing::TestWithParam<bool> {};  // true: HTTP

/// Descriptors this process has open.
size_t openDescriptors() {
    size_t n = 0;
    if (DIR* dir = ::opendir("/proc/self/fd")) {
        while (::readdir(dir) != nullptr) {
            ++n;
        }
        ::closedir(dir);
    }
    return n;
}

constexpr int kRounds = 4;
constexpr int kClientsPerRound = 50;

}  // namespace

TEST_P(DisconnectStorm, ClientsComeAndGoWhileBlocksAreWritten) {
    const bool http = GetParam();
    sluicetest::LogCapture log;
    const size_t descriptorsBefore = openDescriptors();
    std::unique_ptr<av::TcpTsMediaCaster> caster;
    if (http) {
        caster = std::make_unique<av::HttpTsMediaCaster>();
    } else {
        caster = std::make_unique<av::TcpTsMediaCaster>();
    }
    ASSERT_EQ(caster->open("127.0.0.1", 0, sluicetest::audioOnlyConfig()), 0);
    ASSERT_EQ(caster->setOption("maxperaddress", std::to_string(kClientsPerRound)), 0);
    const uint16_t port = caster->port();

    std::atomic<bool> stop{false};
    std::thread writer([&] {
        const std::string aac(200, '\x21');  // raw AAC frames: the multiplexer adds ADTS
        for (uint32_t n = 0; !stop; ++n) {
            // Frames through the caster's lock and multiplexer, and blocks straight in.
            caster->write(1, reinterpret_cast<const uint8_t*>(aac.data()),
                          static_cast<int>(aac.size()), int64_t{n} * 1024, 0, 0);
            const std::string block = sluicetest::numberedBlock(n);
            caster->onMuxData(reinterpret_cast<const uint8_t*>(block.data()), block.size(), 0, 0);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    std::thread disconnecter([&] {
        while (!stop) {
            caster->removeAllTarget();
            std::this_thread::sleep_for(std::chrono::milliseconds(7));
        }
    });

    int total = 0;
    for (int round = 0; round < kRounds; ++round) {
        std::vector<std::unique_ptr<TcpClient>> clients;
        for (int i = 0; i < kClientsPerRound; ++i) {
            clients.push_back(std::make_unique<TcpClient>(port, 0, i % 3 != 0));
            ASSERT_TRUE(clients.back()->connected());
            if (http && i % 2 == 0) {
                clients.back()->send("GET / HTTP/1.1\r\n\r\n");
            }
            ++total;
        }
        for (int i = 0; i < kClientsPerRound; ++i) {
            if (i % 5 == 0) {
                clients[i]->waitForSize(1, std::chrono::milliseconds(50));
            }
            clients[i]->close(i % 2 == 0);  // half of them by reset
        }
    }
    stop = true;
    writer.join();
    disconnecter.join();

    // Every connection leaves the table once its peer has gone, and closes exactly once.
    const std::string closeLine = http ? "HttpMediaCasterConnection(" : "TcpMediaCasterConnection(";
    auto closes = [&] {
        size_t n = 0;
        for (const std::string& line : log.starting(closeLine)) {
            n += line.find(") onClose stream") != std::string::npos ? 1 : 0;
        }
        return n;
    };
    EXPECT_TRUE(waitFor([&] { return closes() >= static_cast<size_t>(total); }));
    EXPECT_TRUE(waitFor([&] { return caster->connectionCount() == 0; }));
    EXPECT_EQ(closes(), static_cast<size_t>(total));

    // And the caster still serves.
    TcpClient fresh(port);
    ASSERT_TRUE(fresh.connected());
    if (http) {
        fresh.send("GET / HTTP/1.1\r\n\r\n");
    }
    ASSERT_TRUE(waitFor([&] { return caster->connectionCount() == 1; }));
    uint32_t n = 1000000;
    EXPECT_TRUE(waitFor([&] {
        const std::string block = sluicetest::numberedBlock(n++);
        caster->onMuxData(reinterpret_cast<const uint8_t*>(block.data()), block.size(), 0, 0);
        return fresh.receivedSize() > 0;
    }));
    caster.reset();
    EXPECT_TRUE(fresh.waitForClose());
    fresh.close();
    // Every socket, and the event loop's own descriptors, went with the caster.
    EXPECT_EQ(openDescriptors(), descriptorsBefore);
}

INSTANTIATE_TEST_SUITE_P(Casters, DisconnectStorm, ::testing::Values(false, true),
                         [](const auto& test) { return std::string(test.param ? "Http" : "Tcp"); });
