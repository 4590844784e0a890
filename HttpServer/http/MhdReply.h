#pragma once
// The replies of the web server, queued on a libmicrohttpd connection. The library writes
// the status line (with the standard reason phrase), Content-Length and Date itself.

#include <string>
#include <string_view>

struct MHD_Connection;

namespace http {

class MhdReply {
public:
    virtual ~MhdReply() = default;

    /// The JSON reply of "/api" and "/sys/": no-cache, JSON content type, any origin.
    /// close ends the connection after it (a request whose body was not read).
    static bool json(MHD_Connection* conn, int status, std::string_view body, bool close = false,
                     const char* extraName = nullptr, const char* extraValue = nullptr);

    /// A plain text reply.
    static bool text(MHD_Connection* conn, int status, std::string_view body, bool close,
                     const char* extraName = nullptr, const char* extraValue = nullptr);

    /// A reply of this content type (no-cache, like the JSON reply).
    static bool typed(MHD_Connection* conn, int status, std::string_view body,
                      const char* contentType);

    /// A file of the document root, with the content type of its extension; 404 when it
    /// cannot be opened.
    static bool file(MHD_Connection* conn, const std::string& path);

    /// A redirect (301) to location, which the caller has made safe for a header.
    static bool redirect(MHD_Connection* conn, const std::string& location);

    /// 401 with a digest challenge: MD5, qop "auth", this nonce and opaque, and
    /// "stale=true" when the client's nonce was refused but its password was right.
    static bool challenge(MHD_Connection* conn, const char* realm, const std::string& nonce,
                          const std::string& opaque, bool stale);

    /// The content type of a file name's extension ("application/octet-stream" for others).
    static const char* contentType(std::string_view fileName);
};

}  // namespace http
