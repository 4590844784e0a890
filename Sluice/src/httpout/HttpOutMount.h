#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace av {

/// What a mount answers to one request: a whole response (head plus a shared body), or the
/// head of a never-ending FLV body whose tags the mount's caster sends afterwards.
struct HttpOutReply {
    std::string head;
    std::shared_ptr<const std::string> body;  // null: no body (HEAD, errors, FLV)
    const void* flvStream = nullptr;          // set: the client joins this FLV stream
};

/// One stream served under a path of an HttpOutServer (an HLS playlist with its segments,
/// or an FLV stream). serve runs on the server's loop with a connection's lock held, so an
/// implementation takes only locks of its own (leaves).
class HttpOutMount {
public:
    virtual ~HttpOutMount() = default;
    /// The name that must be unique on a port ("/sub.m3u8", "/sub.flv").
    virtual std::string key() const = 0;
    /// The path the key is made of ("/sub"), as the "path" option sets it.
    virtual std::string name() const = 0;
    virtual void setName(const std::string& name) = 0;
    /// True when path (without query) is this mount's; reply is then filled. peer: the
    /// client's IPv4 address (network order); head: a HEAD request (no body wanted).
    virtual bool serve(const std::string& path, uint32_t peer, bool head, HttpOutReply& reply) = 0;
};

/// Response heads shared by the mounts: every answer allows any origin (the device's pages
/// come from another port) and says how long it may be cached.
struct HttpOutHead {
    static std::string ok(const char* contentType, size_t length, const char* cacheControl);
    static std::string stream(const char* contentType);
    static std::string error(int status, const char* reason);
};

}  // namespace av
