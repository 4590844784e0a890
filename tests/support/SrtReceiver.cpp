#include "SrtReceiver.h"

#include <arpa/inet.h>

namespace sluicetest {
namespace {

sockaddr_in loopback(uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    return address;
}

}  // namespace

SrtReceiver::SrtReceiver() {
    srt_startup();  // libsrt's logging is the library's to set (the casters route it)
}

SrtReceiver::~SrtReceiver() {
    close();
    srt_cleanup();
}

bool SrtReceiver::prepare(SRTSOCKET socket, const std::string& passphrase) {
    const int timeoutMs = 100;  // so the thread sees the stop flag
    const bool dropLate = false;
    bool ok = srt_setsockflag(socket, SRTO_RCVTIMEO, &timeoutMs, sizeof timeoutMs) == 0 &&
              srt_setsockflag(socket, SRTO_TLPKTDROP, &dropLate, sizeof dropLate) == 0;
    if (!passphrase.empty()) {
        ok = ok && srt_setsockflag(socket, SRTO_PASSPHRASE, passphrase.data(),
                                   static_cast<int>(passphrase.size())) == 0;
    }
    return ok;
}

bool SrtReceiver::call(uint16_t port, const std::string& passphrase, const char* from) {
    close();
    m_stop = false;
    m_socket = srt_create_socket();
    const sockaddr_in address = loopback(port);
    sockaddr_in local = loopback(0);
    if (from != nullptr) {
        local.sin_addr.s_addr = inet_addr(from);
    }
    if (!prepare(m_socket, passphrase) ||
        (from != nullptr &&
         srt_bind(m_socket, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) ||
        srt_connect(m_socket, reinterpret_cast<const sockaddr*>(&address), sizeof address) ==
            SRT_ERROR) {
        srt_close(m_socket);
        m_socket = SRT_INVALID_SOCK;
        return false;
    }
    const SRTSOCKET socket = m_socket;
    m_thread = std::thread([this, socket] { receive(socket); });
    return true;
}

bool SrtReceiver::listen(uint16_t port, const std::string& passphrase) {
    close();
    m_stop = false;
    m_accepted = false;
    m_listener = srt_create_socket();
    sockaddr_in address = loopback(port);
    int length = sizeof address;
    if (!prepare(m_listener, passphrase) ||
        srt_bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        srt_listen(m_listener, 1) != 0 ||
        srt_getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        srt_close(m_listener);
        m_listener = SRT_INVALID_SOCK;
        return false;
    }
    m_port = ntohs(address.sin_port);
    m_thread = std::thread([this] { acceptLoop(); });
    return true;
}

void SrtReceiver::acceptLoop() {
    while (!m_stop) {
        // Blocks until a caller comes or close() closes the listener.
        const SRTSOCKET socket = srt_accept(m_listener, nullptr, nullptr);
        if (socket == SRT_INVALID_SOCK) {
            return;
        }
        m_accepted = true;
        receive(socket);
        srt_close(socket);
    }
}

void SrtReceiver::receive(SRTSOCKET socket) {
    char buffer[1500];
    while (!m_stop) {
        SRT_MSGCTRL control = srt_msgctrl_default;
        const int got = srt_recvmsg2(socket, buffer, sizeof buffer, &control);
        if (got > 0) {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_bytes.append(buffer, static_cast<size_t>(got));
            m_sourceTimesUs.push_back(control.srctime);
        } else if (srt_getlasterror(nullptr) != SRT_ETIMEOUT) {
            return;  // the link ended
        }
    }
}

void SrtReceiver::close() {
    m_stop = true;
    if (m_listener != SRT_INVALID_SOCK) {
        srt_close(m_listener);  // ends a waiting accept
        m_listener = SRT_INVALID_SOCK;
    }
    if (m_thread.joinable()) {
        m_thread.join();
    }
    if (m_socket != SRT_INVALID_SOCK) {
        srt_close(m_socket);
        m_socket = SRT_INVALID_SOCK;
    }
}

std::string SrtReceiver::received() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_bytes;
}

std::vector<int64_t> SrtReceiver::sourceTimesUs() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_sourceTimesUs;
}

size_t SrtReceiver::receivedSize() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_bytes.size();
}

}  // namespace sluicetest
