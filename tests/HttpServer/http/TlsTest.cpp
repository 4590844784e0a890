// HTTPS: what a waiting handshake costs, which protocol versions are served, and the key
// file's mode.

#include <fcntl.h>
#include <gnutls/gnutls.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <cerrno>
#include <thread>

#include "ServerFixture.h"

namespace {

using httptest::HttpClient;
using httptest::ScriptedHandler;

double processCpuSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    const timeval& u = usage.ru_utime;
    const timeval& s = usage.ru_stime;
    return static_cast<double>(u.tv_sec + s.tv_sec) +
           static_cast<double>(u.tv_usec + s.tv_usec) / 1e6;
}

/// A GnuTLS client on a loopback connection, offering what the priority string allows. The
/// server's certificate is not checked: only the handshake matters here.
class TlsClient {
public:
    TlsClient(int port, const std::string& priority) : m_tcp(port) {
        gnutls_certificate_allocate_credentials(&m_creds);
        gnutls_init(&m_session, GNUTLS_CLIENT);
        gnutls_priority_set_direct(m_session, priority.c_str(), nullptr);
        gnutls_credentials_set(m_session, GNUTLS_CRD_CERTIFICATE, m_creds);
        gnutls_transport_set_int(m_session, m_tcp.fd());
        gnutls_handshake_set_timeout(m_session, 10000);
    }
    ~TlsClient() {
        gnutls_deinit(m_session);
        gnutls_certificate_free_credentials(m_creds);
    }
    TlsClient(const TlsClient&) = delete;
    TlsClient& operator=(const TlsClient&) = delete;

    /// 0 when the whole handshake succeeds, else GnuTLS's error.
    int handshake() { return gnutls_handshake(m_session); }
    /// Sends the ClientHello and stops there: the server's answer is never read, also when
    /// it is already there (a fast server would otherwise let the handshake finish).
    int helloOnly() {
        ::fcntl(m_tcp.fd(), F_SETFL, O_NONBLOCK);
        gnutls_handshake_set_timeout(m_session, 0);
        gnutls_transport_set_pull_function(m_session,
                                           [](gnutls_transport_ptr_t, void*, size_t) -> ssize_t {
                                               errno = EAGAIN;
                                               return -1;
                                           });
        return gnutls_handshake(m_session);
    }

private:
    HttpClient m_tcp;
    gnutls_certificate_credentials_t m_creds = nullptr;
    gnutls_session_t m_session = nullptr;
};

class Tls : public httptest::ServerTest {
protected:
    void SetUp() override { https = true; }
};

// A client that stops in the middle of a handshake (after the first bytes of a record, or
// after its ClientHello) is waited for without a busy loop: it costs nothing until its data
// comes. The bound is generous; a spinning event loop takes a whole core.
TEST_F(Tls, StalledHandshakesCostNothingWhileTheyWait) {
    ScriptedHandler handler;
    startServer(handler, false);
    std::vector<std::unique_ptr<HttpClient>> partial;
    std::vector<std::unique_ptr<TlsClient>> hellos;
    for (int i = 0; i < 3; ++i) {
        partial.push_back(std::make_unique<HttpClient>(httpsPort));
        ASSERT_TRUE(partial.back()->send("\x16\x03\x01"));
        hellos.push_back(std::make_unique<TlsClient>(httpsPort, "NORMAL"));
        ASSERT_EQ(hellos.back()->helloOnly(), GNUTLS_E_AGAIN);
    }
    const double cpuBefore = processCpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(3));  // the window measured
    const double cpu = processCpuSeconds() - cpuBefore;
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_LT(cpu, 0.05 * wall) << cpu << " s of CPU in " << wall << " s";
    TlsClient good(httpsPort, "NORMAL");
    EXPECT_EQ(good.handshake(), 0) << "a handshake that goes on still succeeds";
}

TEST_F(Tls, OnlyTls12AndTls13AreServed) {
    ScriptedHandler handler;
    startServer(handler, false);
    const struct {
        const char* version;
        bool served;
    } cases[] = {{"TLS1.0", false}, {"TLS1.1", false}, {"TLS1.2", true}, {"TLS1.3", true}};
    for (const auto& c : cases) {
        TlsClient client(httpsPort, std::string("NORMAL:-VERS-ALL:+VERS-") + c.version +
                                        ":%VERIFY_ALLOW_SIGN_WITH_SHA1");
        EXPECT_EQ(client.handshake() == 0, c.served) << c.version;
    }
}

// A key file others may read is made private (and said so) rather than refused: refusing
// it would replace the device's certificate, which every browser has learnt to trust.
TEST(TlsIdentityFiles, AKeyReadableByOthersIsMadePrivate) {
    testsupport::TempDir dir;
    const std::string key = dir.file("key.pem");
    const std::string cert = dir.file("cert.pem");
    http::TlsIdentity first;
    std::string error;
    ASSERT_TRUE(first.loadOrCreate(key, cert, error)) << error;
    ASSERT_EQ(::chmod(key.c_str(), 0644), 0);
    http::TlsIdentity again;
    ASSERT_TRUE(again.loadOrCreate(key, cert, error)) << error;
    EXPECT_EQ(again.keyPem, first.keyPem) << "the same identity";
    struct stat st {};
    ASSERT_EQ(::stat(key.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

}  // namespace
