#pragma once

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

namespace av {

/// One RTSP request as a client sent it: request line, headers in arrival order, body.
/// Plain record.
struct RtspRequest {
    std::string method;
    std::string uri;
    std::string version;  // "RTSP/1.0"
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;

    /// The value of the first header of that name (case-insensitive), empty when absent.
    std::string header(const std::string& name) const;
    bool hasHeader(const std::string& name) const;
    /// CSeq as a number; -1 when absent or not a decimal number.
    long cseq() const;
};

/// Reads requests from the bytes a connection has received so far.
class RtspRequestParser {
public:
    /// A request, head and body together, is at most this long: a player's request is a few
    /// hundred bytes, and the limit bounds what a client can make the server keep.
    static constexpr size_t kMaxRequestSize = 8192;

    enum class Result {
        NeedMore,  // no complete request yet (and nothing wrong so far); `consumed` blank
                   // bytes before it may be dropped
        Complete,  // request filled, `consumed` bytes used
        Bad,       // not an RTSP request: answer 400 and close
        TooLarge,  // longer than kMaxRequestSize: answer 413 and close
    };

    /// Parses the request at the start of data[0..n). Lines may end in CRLF or a bare LF.
    static Result parse(const char* data, size_t n, RtspRequest& request, size_t& consumed);
};

}  // namespace av
