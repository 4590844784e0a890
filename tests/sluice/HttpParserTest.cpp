// HttpParser and HttpMessageParser on Debian's http_parser: canonical header names,
// messages in any number of pieces, responses, bodies, errors and what is kept.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "HttpMessageParser.h"
#include "LogCapture.h"

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
        {"Content-Type", "Content-Type"},
        {"host", "Host"},
        {"x-forwarded-for", "X-Forwarded-For"},
        {"ETag", "Etag"},
        {"-leading", "-Leading"},
        {"double--dash", "Double--Dash"},
        {"trailing-", "Trailing-"},
        {"", ""},
        {"a", "A"},
        {"x_y-z1", "X_y-Z1"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(HttpParser::canonical(c.in), c.out) << c.in;
    }
}

TEST(HttpMessageParsing, ARequestWithHeadersInLowerCase) {
    HttpMessageParser parser;
    const std::string text =
        "GET /live?x=1 HTTP/1.1\r\nhost: cam\r\ncontent-type: a\r\nUSER-AGENT: b\r\n"
        "x-dup: first\r\nX-Dup: second\r\n\r\n";
    const Parsed parsed = parseInPieces(parser, text);
    ASSERT_EQ(parsed.messages.size(), 1u);
    const HttpMessage& m = parsed.messages[0];
    EXPECT_EQ(m.method, "GET");
    EXPECT_EQ(m.url, "/live?x=1");
    EXPECT_EQ(m.version, "HTTP/1.1");
    EXPECT_EQ(m.status, 0);
    const std::map<std::string, std::string> expected = {
        {"Host", "cam"}, {"Content-Type", "a"}, {"User-Agent", "b"}, {"X-Dup", "second"}};
    EXPECT_EQ(m.headers, expected);
    EXPECT_EQ(parsed.raw[0], text);
}

TEST(HttpMessageParsing, TheSameMessageWhateverTheReadSizes) {
    const std::string text =
        "POST /upload HTTP/1.1\r\nContent-Length: 11\r\nX-Long-Header-Name: some value\r\n\r\n"
        "hello world";
    for (size_t piece : {1u, 2u, 3u, 7u, 16u, 1000u}) {
        HttpMessageParser parser;
        const Parsed parsed = parseInPieces(parser, text, piece);
        ASSERT_EQ(parsed.messages.size(), 1u) << piece;
        EXPECT_EQ(parsed.messages[0].method, "POST");
        EXPECT_EQ(parsed.messages[0].url, "/upload");
        EXPECT_EQ(parsed.messages[0].body, "hello world");
        EXPECT_EQ(parsed.messages[0].headers.at("X-Long-Header-Name"), "some value") << piece;
        EXPECT_EQ(parsed.raw[0], text) << piece;
    }
}

TEST(HttpMessageParsing, AResponseCarriesItsStatusAndNoUrl) {
    HttpMessageParser parser;
    const Parsed parsed =
        parseInPieces(parser, "HTTP/1.1 404 Not Found\r\nContent-Length: 2\r\n\r\nno");
    ASSERT_EQ(parsed.messages.size(), 1u);
    EXPECT_EQ(parsed.messages[0].status, 404);
    EXPECT_EQ(parsed.messages[0].url, "");
    EXPECT_EQ(parsed.messages[0].method, "");
    EXPECT_EQ(parsed.messages[0].body, "no");
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

TEST(HttpMessageParsing, GarbageIsReportedAndTheParserStartsOver) {
    sluicetest::LogCapture log;
    HttpMessageParser parser;
    const std::string garbage = "\x01garbage";
    EXPECT_EQ(parser.parse(garbage.data(), garbage.size(), nullptr), 0u);
    EXPECT_EQ(log.count("parse return 0. buffer size: 8\n"), 1u);
    EXPECT_EQ(parser.parse(nullptr, 5, nullptr), 0u);
    EXPECT_EQ(parser.parse("x", 0, nullptr), 0u);
    EXPECT_EQ(log.all().size(), 1u);  // empty input is not an error
    const Parsed parsed = parseInPieces(parser, "GET / HTTP/1.1\r\n\r\n");
    EXPECT_EQ(parsed.messages.size(), 1u);
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
