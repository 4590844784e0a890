// The RTSP server's readers of what clients send: requests (whole, in pieces, at the size
// limit and past it), Transport headers and digest Authorization headers, from tables.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "RtspDigestAuth.h"
#include "RtspRequest.h"
#include "RtspTransport.h"

using av::RtspDigestAuth;
using av::RtspRequest;
using av::RtspRequestParser;
using av::RtspTransport;
using Result = RtspRequestParser::Result;

TEST(RtspRequestParser, ReadsWholeRequestsAndRefusesBadOnes) {
    struct Case {
        std::string bytes;
        Result result;
        size_t consumed;
    };
    const std::string options = "OPTIONS * RTSP/1.0\r\nCSeq: 1\r\n\r\n";
    const std::string withBody = "SET_PARAMETER / RTSP/1.0\nCSeq: 2\nContent-Length: 3\n\nabcXYZ";
    const std::string atLimit = "GET_PARAMETER / RTSP/1.0\r\nX: " +
                                std::string(RtspRequestParser::kMaxRequestSize - 33, 'a') +
                                "\r\n\r\n";
    ASSERT_EQ(atLimit.size(), RtspRequestParser::kMaxRequestSize);
    const Case cases[] = {
        {options, Result::Complete, options.size()},
        {"\r\n\r\n" + options, Result::Complete, options.size() + 4},  // blank lines first
        {withBody, Result::Complete, withBody.size() - 3},  // LF only; the rest is the next
        {options.substr(0, options.size() - 1), Result::NeedMore, 0},
        {"\r\n\r\nOPT", Result::NeedMore, 4},  // the blank lines may go
        {"SET_PARAMETER / RTSP/1.0\r\nContent-Length: 5\r\n\r\nab", Result::NeedMore, 0},
        {atLimit, Result::Complete, atLimit.size()},
        {atLimit.substr(0, atLimit.size() - 2) + "a\r\n\r\n", Result::TooLarge, 0},
        {std::string(9000, 'a'), Result::TooLarge, 0},
        {"OPTIONS / RTSP/1.0\r\nContent-Length: 99999\r\n\r\n", Result::TooLarge, 0},
        {"OPTIONS / RTSP/1.0\r\nContent-Length: -1\r\n\r\n", Result::Bad, 0},
        {"OPTIONS /  RTSP/1.0\r\n\r\n", Result::Bad, 0},  // two spaces
        {"OPTIONS / HTTP/1.1\r\n\r\n", Result::Bad, 0},
        {"OPTIONS / RTSP/1.0\r\nno colon\r\n\r\n", Result::Bad, 0},
        {"OPTIONS / RTSP/1.0\r\nX: a\x01z\r\n\r\n", Result::Bad, 0},
        {"OPT\x7fIONS / RTSP/1.0\r\n\r\n", Result::Bad, 0},
    };
    for (const Case& c : cases) {
        RtspRequest request;
        size_t consumed = 99;
        EXPECT_EQ(RtspRequestParser::parse(c.bytes.data(), c.bytes.size(), request, consumed),
                  c.result)
            << c.bytes.substr(0, 60);
        EXPECT_EQ(consumed, c.consumed) << c.bytes.substr(0, 60);
    }
    RtspRequest request;
    size_t consumed = 0;
    ASSERT_EQ(RtspRequestParser::parse(withBody.data(), withBody.size(), request, consumed),
              Result::Complete);
    EXPECT_EQ(request.method, "SET_PARAMETER");
    EXPECT_EQ(request.body, "abc");
    EXPECT_EQ(request.header("content-length"), "3");
    EXPECT_EQ(request.cseq(), 2);
}

TEST(RtspRequest, CseqIsADecimalOrNothing) {
    const std::pair<std::string, long> cases[] = {{"7", 7},   {"0", 0},   {"", -1},
                                                  {"-1", -1}, {"1x", -1}, {"1234567890", -1}};
    for (const auto& [text, value] : cases) {
        RtspRequest request;
        request.headers.emplace_back("CSeq", text);
        EXPECT_EQ(request.cseq(), value) << text;
    }
}

TEST(RtspTransport, PicksTheFirstAlternativeWeServe) {
    using Kind = RtspTransport::Kind;
    struct Case {
        std::string header;
        bool ok;
        Kind kind;
        int first;   // client RTP port or RTP channel
        int second;  // client RTCP port or RTCP channel
    };
    const Case cases[] = {
        {"RTP/AVP;unicast;client_port=5000-5001", true, Kind::UdpUnicast, 5000, 5001},
        {"RTP/AVP/UDP;unicast;client_port=5000", true, Kind::UdpUnicast, 5000, 5001},
        {"RTP/AVP/TCP;unicast;interleaved=2-3", true, Kind::TcpInterleaved, 2, 3},
        {"RTP/AVP/TCP;unicast", true, Kind::TcpInterleaved, -1, -1},  // the server picks
        {"RTP/AVP;multicast", true, Kind::UdpMulticast, 0, 0},
        {"RTP/SAVP;unicast;client_port=1-2,RTP/AVP/TCP;interleaved=0-1", true, Kind::TcpInterleaved,
         0, 1},
        {"rtp/avp;unicast;client_port=6000-6001;mode=\"PLAY\"", true, Kind::UdpUnicast, 6000, 6001},
        {"RTP/AVP;unicast;client_port=5000-5001;destination=10.0.0.9", true, Kind::UdpUnicast, 5000,
         5001},  // a destination is ignored: packets go to the client only
        {"RTP/AVP;unicast", false, Kind::UdpUnicast, 0, 0},  // no ports
        {"RTP/AVP;unicast;client_port=0-1", false, Kind::UdpUnicast, 0, 0},
        {"RTP/AVP;unicast;client_port=65535", false, Kind::UdpUnicast, 0, 0},  // no room for RTCP
        {"RTP/AVP;unicast;client_port=70000-70001", false, Kind::UdpUnicast, 0, 0},
        {"RTP/AVP/TCP;interleaved=255-256", false, Kind::UdpUnicast, 0, 0},
        {"RTP/AVP;unicast;client_port=5000-5001;mode=record", false, Kind::UdpUnicast, 0, 0},
        {"", false, Kind::UdpUnicast, 0, 0},
    };
    for (const Case& c : cases) {
        RtspTransport t;
        ASSERT_EQ(RtspTransport::parse(c.header, t), c.ok) << c.header;
        if (!c.ok) {
            continue;
        }
        EXPECT_EQ(t.kind, c.kind) << c.header;
        if (c.kind == Kind::TcpInterleaved) {
            EXPECT_EQ(t.rtpChannel, c.first) << c.header;
            EXPECT_EQ(t.rtcpChannel, c.second) << c.header;
        } else if (c.kind == Kind::UdpUnicast) {
            EXPECT_EQ(t.clientRtpPort, c.first) << c.header;
            EXPECT_EQ(t.clientRtcpPort, c.second) << c.header;
        }
    }
}

TEST(RtspDigestAuth, HeaderParameters) {
    std::map<std::string, std::string> p;
    ASSERT_TRUE(RtspDigestAuth::parseHeader(
        "Digest username=\"ad\\\"min\", Realm=\"HttpServer\",nc=00000001, qop=auth", p));
    EXPECT_EQ(p["username"], "ad\"min");
    EXPECT_EQ(p["realm"], "HttpServer");
    EXPECT_EQ(p["nc"], "00000001");
    EXPECT_EQ(p["qop"], "auth");
    for (const char* bad : {"Basic YWRtaW46eA==", "Digest", "Digest a=\"open", "Digest a=1, a=2",
                            "Digest =x", "Digestive a=1"}) {
        EXPECT_FALSE(RtspDigestAuth::parseHeader(bad, p)) << bad;
    }
    EXPECT_EQ(RtspDigestAuth::md5Hex("admin:HttpServer:740163").size(), 32u);
}
