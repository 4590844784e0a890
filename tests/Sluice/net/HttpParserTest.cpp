// HttpParser and HttpMessageParser on Debian's http_parser: canonical header names, messages
// in any number of pieces, one message per call, and how much of a huge body is kept.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "HttpMessageParser.h"

using av::HttpMessage;
using av::HttpMessageParser;
using av::HttpParser;

namespace {

struct Parsed {
    std::vector<HttpMessage> messages;
    std::vector<std::string> raw;
};

/// Feeds text in pieces of `piece` bytes (0: all at once), each piece fed until consumed
/// the way a caller keeps the rest of a read; returns what was reported.
Parsed parseInPieces(HttpMessageParser& parser, const std::string& text, size_t piece = 0) {
    Parsed parsed;
    const auto callback = [&](const HttpMessage& m, const std::string& raw) {
        parsed.messages.push_back(m);
        parsed.raw.push_back(raw);
    };
    size_t at = 0;
    while (at < text.size()) {
        const size_t length = piece == 0 ? text.size() - at : std::min(piece, text.size() - at);
        const size_t consumed = parser.parse(text.data() + at, length, callback);
        if (consumed == 0) {
            break;
        }
        at += consumed;
    }
    return parsed;
}

}  // namespace

TEST(HttpParserNames, CanonicalHeaderNames) {
    const struct {
        const char* in;
        const char* out;
    } cases[] = {
        {"content-type", "Content-Type"},
        {"CONTENT-TYPE", "Content-Type"},
        {"ETag", "Etag"},
        {"-leading", "-Leading"},
        {"double--dash", "Double--Dash"},
        {"", ""},
        {"x_y-z1", "X_y-Z1"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(HttpParser::canonical(c.in), c.out) << c.in;
    }
}

// Whatever the read sizes, the same message: canonical header names (the last of a repeated
// header wins), the body and the raw text.
TEST(HttpMessageParsing, TheSameMessageWhateverTheReadSizes) {
    const std::string text =
        "POST /live?x=1 HTTP/1.1\r\nhost: cam\r\ncontent-length: 11\r\nUSER-AGENT: b\r\n"
        "x-dup: first\r\nX-Dup: second\r\n\r\nhello world";
    const std::map<std::string, std::string> headers = {
        {"Host", "cam"}, {"Content-Length", "11"}, {"User-Agent", "b"}, {"X-Dup", "second"}};
    for (size_t piece : {0u, 1u, 2u, 3u, 7u, 16u}) {
        HttpMessageParser parser;
        const Parsed parsed = parseInPieces(parser, text, piece);
        ASSERT_EQ(parsed.messages.size(), 1u) << piece;
        const HttpMessage& m = parsed.messages[0];
        EXPECT_EQ(m.method, "POST");
        EXPECT_EQ(m.url, "/live?x=1");
        EXPECT_EQ(m.version, "HTTP/1.1");
        EXPECT_EQ(m.status, 0);
        EXPECT_EQ(m.headers, headers) << piece;
        EXPECT_EQ(m.body, "hello world");
        EXPECT_EQ(parsed.raw[0], text) << piece;
    }
}

TEST(HttpMessageParsing, ParsingStopsAfterEachCompleteMessage) {
    HttpMessageParser parser;
    const std::string first = "GET /1 HTTP/1.1\r\n\r\n";
    const std::string second = "GET /2 HTTP/1.1\r\nA: b\r\n\r\n";
    const std::string both = first + second;
    int calls = 0;
    const auto count = [&](const HttpMessage&, const std::string&) { ++calls; };
    EXPECT_EQ(parser.parse(both.data(), both.size(), count), first.size());
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(parser.message().url, "/1");
    EXPECT_EQ(parser.parse(both.data() + first.size(), second.size(), count), second.size());
    EXPECT_EQ(calls, 2);
    EXPECT_EQ(parser.message().url, "/2");
    EXPECT_EQ(parser.message().headers.size(), 1u);  // nothing left of the first message
}

TEST(HttpMessageParsing, AHugeBodyIsParsedButOnlyItsStartIsKept) {
    HttpMessageParser parser;
    const size_t size = 4 * HttpMessageParser::kMaxKept;
    const std::string head =
        "POST / HTTP/1.1\r\nContent-Length: " + std::to_string(size) + "\r\n\r\n";
    const std::string text = head + std::string(size, 'b');
    const Parsed parsed = parseInPieces(parser, text, 4096);
    ASSERT_EQ(parsed.messages.size(), 1u);
    EXPECT_EQ(parsed.messages[0].body, std::string(HttpMessageParser::kMaxKept, 'b'));
    EXPECT_EQ(parsed.raw[0], text.substr(0, HttpMessageParser::kMaxKept));
}
