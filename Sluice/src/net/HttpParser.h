#pragma once

#include <http_parser.h>

#include <cstddef>
#include <string>

namespace av {

/// A wrapper of one http_parser (Debian's http_parser 2.9) that turns its callbacks into
/// virtual operations, with each header delivered whole as a (canonical name, value) pair
/// however the bytes were split across reads. All operations return 0 in this class; a
/// non-zero result of onMessageComplete stops the parser right after the message.
/// Single owner, one thread at a time.
class HttpParser {
public:
    /// HTTP_BOTH reads requests and responses alike.
    explicit HttpParser(http_parser_type type = HTTP_BOTH);
    virtual ~HttpParser();
    HttpParser(const HttpParser&) = delete;
    HttpParser& operator=(const HttpParser&) = delete;

    virtual int onMessageBegin();
    virtual int onUrl(const char* at, size_t length);
    virtual int onHeader(const std::string& name, const std::string& value);
    virtual int onHeadersComplete();
    virtual int onBody(const char* at, size_t length);
    virtual int onMessageComplete();

    /// The name in lower case with its first letter and every letter after a '-' in upper
    /// case: "content-TYPE" gives "Content-Type".
    static std::string canonical(const std::string& name);

protected:
    /// Feeds bytes to http_parser; the number it consumed.
    size_t execute(const char* data, size_t length);
    /// Starts over as if new: parser state, collected header and error.
    void resetParser();
    http_parser& parser() { return m_parser; }

private:
    static int messageBegin(http_parser* p);
    static int url(http_parser* p, const char* at, size_t length);
    static int status(http_parser* p, const char* at, size_t length);
    static int headerField(http_parser* p, const char* at, size_t length);
    static int headerValue(http_parser* p, const char* at, size_t length);
    static int headersComplete(http_parser* p);
    static int body(http_parser* p, const char* at, size_t length);
    static int messageComplete(http_parser* p);
    static const http_parser_settings s_settings;

    http_parser m_parser;
    http_parser_type m_type;
    std::string m_field;
    std::string m_value;
    bool m_valueLast = true;  // the last header callback delivered value bytes
};

}  // namespace av
