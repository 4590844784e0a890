#pragma once

#include <memory>
#include <string>

#include "BasicTsMediaCaster.h"
#include "HttpOutMount.h"
#include "HttpOutServer.h"

namespace av {

/// What the HLS and HTTP-FLV casters share: the HTTP output server of their port (one per
/// port, shared by path with the outputs of other streams), their mount on it, the "path"
/// option and the port's client limits, and the output's state (failed when the path is taken
/// or the multiplexer refuses the stream). open() serves the stream at its default name when
/// no other output of the port has it, else once "path" names one. Targets are kept but not
/// used.
class HttpOutTsMediaCaster : public BasicTsMediaCaster {
public:
    ~HttpOutTsMediaCaster() override;

    /// 0 (also when the multiplexer refuses the stream, which leaves the output failed), or
    /// ENOENT when the port cannot be listened on.
    int open(const std::string& ip, uint16_t port, const MediaCasterConfig& config) override;
    void close() override;
    bool isOpen() override;
    uint16_t localPort() override;
    /// "path" (EINVAL for a bad name, EEXIST when taken on the port), "maxclients",
    /// "maxperaddress".
    int setOption(const std::string& name, const std::string& value) override;
    OutputStatus outputStatus() override;

    /// The server's (tests shorten its time-outs); null when closed.
    std::shared_ptr<HttpOutServer> server();

protected:
    /// label: the protocol's name in the log; failure: the state's text when the
    /// multiplexer refuses the stream.
    HttpOutTsMediaCaster(const char* label, const char* failure,
                         std::shared_ptr<HttpOutMount> mount);
    /// The server while the stream is served there (mutex held); null otherwise.
    HttpOutServer* serving() const { return m_mounted ? m_server.get() : nullptr; }
    const std::shared_ptr<HttpOutMount>& mount() const { return m_mount; }
    /// After the mount left the server (mutex held).
    virtual void onClosed() {}

private:
    const char* const m_label;
    const char* const m_muxFailure;
    const std::shared_ptr<HttpOutMount> m_mount;
    std::shared_ptr<HttpOutServer> m_server;
    bool m_mounted = false;
    std::string m_failure;  // why the output does not serve; empty when it does
};

}  // namespace av
