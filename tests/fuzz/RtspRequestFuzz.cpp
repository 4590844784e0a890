// libFuzzer target for what an RTSP client sends libSluice's RTSP server: the request reader
// (fed the bytes as a connection receives them), the Transport header of SETUP and the
// digest Authorization header. Input: one byte choosing how the bytes are cut into reads,
// then the bytes; every request read is also handed to the header parsers.
// Invariants: a parse never uses more bytes than it was given, a complete request has a
// method, a URI and at most 8 KiB, and a transport that parses names sane ports and channels.
#include <cstdint>
#include <cstdlib>
#include <map>
#include <string>

#include "FuzzInput.h"
#include "RtspDigestAuth.h"
#include "RtspRequest.h"
#include "RtspTransport.h"

namespace {

void checkHeaders(const av::RtspRequest& request) {
    av::RtspTransport transport;
    if (av::RtspTransport::parse(request.header("Transport"), transport)) {
        const bool tcp = transport.kind == av::RtspTransport::Kind::TcpInterleaved;
        if ((tcp && (transport.rtpChannel > 255 || transport.rtcpChannel > 255)) ||
            (transport.kind == av::RtspTransport::Kind::UdpUnicast &&
             (transport.clientRtpPort < 1 || transport.clientRtpPort > 65535 ||
              transport.clientRtcpPort < 1 || transport.clientRtcpPort > 65535))) {
            std::abort();
        }
    }
    std::map<std::string, std::string> digest;
    av::RtspDigestAuth::parseHeader(request.header("Authorization"), digest);
    (void)request.cseq();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::FuzzInput in(data, size);
    const size_t piece = 1 + in.byte() % 128;
    const std::string_view bytes = in.rest();
    // The connection's input buffer: reads are appended, complete requests taken off.
    std::string buffer;
    for (size_t pos = 0; pos < bytes.size(); pos += piece) {
        buffer.append(bytes.substr(pos, piece));
        while (!buffer.empty()) {
            av::RtspRequest request;
            size_t consumed = 0;
            const auto result =
                av::RtspRequestParser::parse(buffer.data(), buffer.size(), request, consumed);
            if (consumed > buffer.size()) {
                std::abort();
            }
            if (result == av::RtspRequestParser::Result::Complete) {
                if (consumed == 0 || request.method.empty() || request.uri.empty() ||
                    request.body.size() > av::RtspRequestParser::kMaxRequestSize) {
                    std::abort();
                }
                checkHeaders(request);
                buffer.erase(0, consumed);
                continue;
            }
            if (result != av::RtspRequestParser::Result::NeedMore) {
                return 0;  // the server answers and closes the connection
            }
            buffer.erase(0, consumed);
            break;
        }
    }
    // Header parsers on the raw bytes as well, beyond what a request line would let through.
    av::RtspTransport transport;
    av::RtspTransport::parse(std::string(bytes), transport);
    std::map<std::string, std::string> digest;
    av::RtspDigestAuth::parseHeader(std::string(bytes), digest);
    return 0;
}
