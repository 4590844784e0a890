// Adding a target whose name the resolver cannot answer: the writer keeps its pace. Runs in a
// child process with private network and mount namespaces, whose resolv.conf (bind-mounted in
// that namespace only) names a loopback name server that never answers.
#include <gtest/gtest.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

#include "MediaClip.h"
#include "TestSupport.h"
#include "UdpTsMediaCaster.h"

namespace {

using Clock = std::chrono::steady_clock;

// Exit codes of the child beyond 0 (the writer kept its pace).
constexpr int kNoNamespace = 77;
constexpr int kResolverAnswered = 78;  // the lookup did not hang: the test proves nothing
constexpr int kWriterStalled = 79;
constexpr int kSetupFailed = 80;

bool bringLoopbackUp() {
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    ifreq request{};
    std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
    bool up = fd >= 0 && ::ioctl(fd, SIOCGIFFLAGS, &request) == 0;
    request.ifr_flags = static_cast<short>(request.ifr_flags | IFF_UP);
    up = up && ::ioctl(fd, SIOCSIFFLAGS, &request) == 0;
    if (fd >= 0) {
        ::close(fd);
    }
    return up;
}

// A name server on 127.0.0.1:53 that reads nothing and answers nothing.
int silentNameServer() {
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(53);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        return -1;
    }
    return fd;
}

int runInChild(const std::string& dir, const std::vector<sluicetest::TestFrame>& frames,
               const sluicetest::ClipInfo& info) {
    if (::unshare(CLONE_NEWNET | CLONE_NEWNS) != 0) {
        return kNoNamespace;
    }
    const std::string resolvConf = dir + "/resolv.conf";
    testsupport::writeFile(resolvConf, "nameserver 127.0.0.1\noptions timeout:2 attempts:1\n");
    // Private propagation first, so that the bind mount never reaches the host's /etc.
    if (::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        ::mount(resolvConf.c_str(), "/etc/resolv.conf", nullptr, MS_BIND, nullptr) != 0 ||
        !bringLoopbackUp() || silentNameServer() < 0) {
        return kSetupFailed;
    }
    av::UdpTsMediaCaster caster;
    if (caster.open("127.0.0.1", 0, sluicetest::clipConfig(info)) != 0 ||
        !caster.addTarget("127.0.0.1", 9)) {
        return kSetupFailed;
    }
    std::atomic<bool> stop{false};
    std::atomic<uint64_t> written{0};
    int64_t spanUs = 0;
    for (const sluicetest::TestFrame& f : frames) {
        spanUs = std::max(spanUs, f.ptsUs + 100'000);
    }
    std::thread writer([&] {
        // About real time: one frame every 5 ms, the clip over and over, timestamps running on.
        for (int64_t round = 0; !stop; ++round) {
            for (const sluicetest::TestFrame& f : frames) {
                if (stop) {
                    break;
                }
                caster.write(f.type, reinterpret_cast<const uint8_t*>(f.bytes.data()),
                             static_cast<int>(f.bytes.size()), f.ptsUs + round * spanUs, 0,
                             f.key ? 1 : 0);
                ++written;
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
        }
    });
    const auto start = Clock::now();
    const uint64_t before = written;
    caster.addTarget("stalled.test.", 5000);  // trailing dot: no search domains
    const uint64_t during = written - before;
    const auto lookup = Clock::now() - start;
    stop = true;
    writer.join();
    caster.close();
    if (lookup < std::chrono::milliseconds(1000)) {
        return kResolverAnswered;
    }
    // Held up by the lookup the writer would manage one frame; at its pace some 200 and more.
    return during >= 50 ? 0 : kWriterStalled;
}

TEST(TargetResolve, WriterKeepsItsPaceWhileANameServerHangs) {
    testsupport::TempDir dir;
    std::vector<sluicetest::TestFrame> frames;
    sluicetest::ClipInfo info;
    std::string error;
    ASSERT_TRUE(sluicetest::smallClipFrames(dir.path(), frames, info, error)) << error;

    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::_exit(runInChild(dir.path(), frames, info));
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << "child ended by signal " << WTERMSIG(status);
    const int code = WEXITSTATUS(status);
    if (code == kNoNamespace) {
        GTEST_SKIP() << "no private namespaces here (needs root)";
    }
    EXPECT_NE(code, kSetupFailed) << "namespace, resolver or caster set-up failed";
    EXPECT_NE(code, kResolverAnswered) << "the name lookup did not hang";
    EXPECT_NE(code, kWriterStalled) << "sluice_write waited for the name lookup";
    EXPECT_EQ(code, 0);
}

}  // namespace
