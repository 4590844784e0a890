#pragma once
// Servers we did not write for the RTMP push tests, on loopback: Debian's nginx with its RTMP
// module (a configuration written here), stunnel in front of it for RTMPS with a test CA
// made by certtool, and a one-answer HTTP endpoint for nginx's on_publish.

#include <atomic>
#include <memory>
#include <string>
#include <thread>

#include "ChildProcess.h"

namespace sluicetest {

/// A loopback port that was free a moment ago. nginx and stunnel cannot be told to listen on
/// port 0 and report the port, so the test binds port 0, reads the port and closes the socket.
int pickFreePort();

/// nginx with one RTMP application "live" on 127.0.0.1:port(), in the foreground, one process.
class NginxRtmp {
public:
    /// onPublish: an on_publish URL, or "".
    explicit NginxRtmp(const std::string& onPublish = "");
    ~NginxRtmp() { stop(); }
    /// Starts nginx (on the same port again after stop) and waits until it accepts.
    bool start();
    void stop();
    int port() const { return m_port; }
    std::string url(const std::string& stream = "stream") const;
    std::string errorLog() const;

private:
    std::unique_ptr<testsupport::ChildProcess> m_process;
    testsupport::TempDir m_dir;
    std::string m_onPublish;
    int m_port = 0;
};

/// A test CA and a server certificate for 127.0.0.1 and localhost signed by it, made by
/// certtool in dir: ca.pem, server.pem, server.key.
bool makeTestCa(const std::string& dir, const std::string& name, std::string& error);

/// stunnel accepting TLS on 127.0.0.1:port() and forwarding to 127.0.0.1:backendPort.
class TlsFront {
public:
    TlsFront(int backendPort, const std::string& certFile, const std::string& keyFile);
    ~TlsFront() { m_process.stop(); }
    bool start();
    int port() const { return m_port; }

private:
    testsupport::ChildProcess m_process;
    int m_backendPort;
    std::string m_certFile;
    std::string m_keyFile;
    int m_port = 0;
};

/// Answers every HTTP request with one fixed status line and counts the requests.
class HttpAnswerer {
public:
    explicit HttpAnswerer(int status);
    ~HttpAnswerer();
    int port() const { return m_port; }
    int requests() const { return m_requests.load(); }

private:
    int m_fd = -1;
    int m_port = 0;
    int m_status;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_requests{0};
    std::thread m_thread;
};

/// Accepts TCP connections on 127.0.0.1 and never reads from them (a server that hangs).
class SilentServer {
public:
    SilentServer();
    ~SilentServer();
    int port() const { return m_port; }
    int accepted() const { return m_accepted.load(); }

private:
    int m_fd = -1;
    int m_port = 0;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_accepted{0};
    std::thread m_thread;
};

}  // namespace sluicetest
