#include <gtest/gtest.h>

#include "MultipartParser.h"
#include "UploadReceiver.h"

namespace {

using http::MultipartParser;
using http::MultipartPart;
using Error = MultipartParser::Error;

struct Recorder : MultipartParser::Listener {
    std::vector<MultipartPart> parts;
    std::vector<std::string> data;
    int ends = 0;
    int stopAfterBegins = -1;  // returns false from this many begins on
    bool onPartBegin(const MultipartPart& p) override {
        parts.push_back(p);
        data.emplace_back();
        return stopAfterBegins < 0 || static_cast<int>(parts.size()) <= stopAfterBegins;
    }
    bool onPartData(const char* d, size_t n) override {
        EXPECT_GT(n, 0u);
        data.back().append(d, n);
        return true;
    }
    bool onPartEnd() override {
        ++ends;
        return true;
    }
};

struct Outcome {
    bool done;
    Error error;
};

Outcome parse(std::string_view body, Recorder& rec, std::string_view boundary = "XyZ",
              size_t piece = 0) {
    MultipartParser parser(boundary, rec);
    if (piece == 0) {
        parser.feed(body.data(), body.size());
    } else {
        for (size_t pos = 0; pos < body.size(); pos += piece) {
            parser.feed(body.data() + pos, std::min(piece, body.size() - pos));
        }
    }
    const bool done = parser.finish();
    return {done, parser.error()};
}

const std::string kTwoParts =
    "preamble to ignore\r\n"
    "--XyZ\r\n"
    "Content-Disposition: form-data; name=\"file\"; filename=\"logo.png\"\r\n"
    "Content-Type: image/png\r\n"
    "\r\n"
    "\x89PNG\r\n--XyX\r\n--Xy\rmore\r\n\r\n"
    "\r\n--XyZ\r\n"
    "content-disposition: form-data; name=note\r\n"
    "\r\n"
    "hello\r\n"
    "--XyZ--\r\n"
    "epilogue --XyZ\r\n";

TEST(MultipartParser, TwoPartsWholeBody) {
    Recorder rec;
    const Outcome out = parse(kTwoParts, rec);
    ASSERT_TRUE(out.done);
    ASSERT_EQ(rec.parts.size(), 2u);
    EXPECT_EQ(rec.parts[0].name, "file");
    EXPECT_EQ(rec.parts[0].fileName, "logo.png");
    EXPECT_TRUE(rec.parts[0].hasFileName);
    EXPECT_EQ(rec.data[0], "\x89PNG\r\n--XyX\r\n--Xy\rmore\r\n\r\n");
    EXPECT_EQ(rec.parts[1].name, "note");
    EXPECT_FALSE(rec.parts[1].hasFileName);
    EXPECT_EQ(rec.data[1], "hello");
    EXPECT_EQ(rec.ends, 2);
}

TEST(MultipartParser, SameResultForEverySplitPoint) {
    Recorder whole;
    parse(kTwoParts, whole);
    for (size_t cut = 0; cut <= kTwoParts.size(); ++cut) {
        Recorder rec;
        MultipartParser parser("XyZ", rec);
        parser.feed(kTwoParts.data(), cut);
        parser.feed(kTwoParts.data() + cut, kTwoParts.size() - cut);
        ASSERT_TRUE(parser.finish()) << "cut at " << cut;
        EXPECT_EQ(rec.data, whole.data) << "cut at " << cut;
        EXPECT_EQ(rec.ends, 2) << "cut at " << cut;
    }
    for (size_t piece = 1; piece <= 7; ++piece) {
        Recorder rec;
        EXPECT_TRUE(parse(kTwoParts, rec, "XyZ", piece).done) << "pieces of " << piece;
        EXPECT_EQ(rec.data, whole.data) << "pieces of " << piece;
    }
}

TEST(MultipartParser, BrokenBodiesFailWithTheirReason) {
    struct Case {
        std::string body;
        Error error;
        int ends;  // parts completed before the failure
    };
    const Case cases[] = {
        {"no delimiter at all", Error::Truncated, 0},
        {"--XyZ\r\nContent-Disposition: form-data; na", Error::Truncated, 0},
        {"--XyZ\r\n\r\nx\r\n--XyZ-", Error::Truncated, 1},  // the closing "--" never comes
        {"--XyZ\r\n\r\nx\r\n--XyZabc\r\n", Error::BadDelimiter, 1},
        {"--XyZ\r\n\r\nx\r\n--XyZ-x", Error::BadDelimiter, 1},
        {"--XyZ\r\nX-Filler: " + std::string(MultipartParser::kMaxHeaderBytes, 'a') + "\r\n\r\n",
         Error::HeaderTooLong, 0},
    };
    for (const auto& c : cases) {
        Recorder rec;
        const Outcome out = parse(c.body, rec);
        EXPECT_FALSE(out.done) << c.body;
        EXPECT_EQ(out.error, c.error) << c.body;
        EXPECT_EQ(rec.ends, c.ends) << c.body;
    }
    Recorder rec;
    parse(
        "--XyZ\r\nContent-Disposition: form-data; name=\"f\"; filename=\"a\"\r\n\r\ndata "
        "without end\r\n--Xy",
        rec);
    EXPECT_EQ(rec.data[0], "data without end") << "the held back bytes may still be the delimiter";
}

TEST(MultipartParser, PartWithoutHeadersOrContent) {
    Recorder missing;  // a part without any header is a part without a name
    ASSERT_TRUE(parse("--XyZ\r\n\r\nbare\r\n--XyZ--", missing).done);
    ASSERT_EQ(missing.parts.size(), 1u);
    EXPECT_EQ(missing.parts[0].name, "");
    EXPECT_FALSE(missing.parts[0].hasFileName);
    EXPECT_EQ(missing.data[0], "bare");
    Recorder padded;  // transport padding before the line end is allowed
    EXPECT_TRUE(parse("--XyZ \t\r\n\r\nx\r\n--XyZ--", padded).done);
}

TEST(MultipartParser, EmptyPartAndZeroByteFile) {
    Recorder rec;
    ASSERT_TRUE(parse("--XyZ\r\n"
                      "Content-Disposition: form-data; name=\"f\"; filename=\"empty.bin\"\r\n"
                      "\r\n"
                      "\r\n--XyZ\r\n"
                      "\r\n"
                      "\r\n--XyZ--",
                      rec)
                    .done);
    ASSERT_EQ(rec.parts.size(), 2u);
    EXPECT_EQ(rec.data[0], "");
    EXPECT_EQ(rec.parts[0].fileName, "empty.bin");
    EXPECT_EQ(rec.data[1], "");
    EXPECT_EQ(rec.ends, 2);

    Recorder noParts;
    EXPECT_TRUE(parse("--XyZ--\r\n", noParts).done);
    EXPECT_TRUE(noParts.parts.empty());
}

TEST(MultipartParser, ListenerCanStopTheParser) {
    Recorder rec;
    rec.stopAfterBegins = 0;
    const Outcome out = parse(kTwoParts, rec);
    EXPECT_EQ(out.error, Error::Stopped);
    EXPECT_EQ(rec.parts.size(), 1u);
    EXPECT_EQ(rec.data[0], "") << "nothing after a refusal";
}

TEST(MultipartParser, UnusableBoundaryFailsAtOnce) {
    for (const std::string& b : {std::string(), std::string(71, 'b'), std::string("a\r\nb")}) {
        Recorder rec;
        EXPECT_EQ(parse("--" + b + "\r\n\r\nx\r\n--" + b + "--", rec, b).error, Error::BadBoundary);
        EXPECT_TRUE(rec.parts.empty());
    }
}

TEST(MultipartParser, BoundaryFromContentType) {
    using http::MultipartParser;
    EXPECT_EQ(MultipartParser::boundaryOf("multipart/form-data; boundary=abc"), "abc");
    EXPECT_EQ(MultipartParser::boundaryOf("Multipart/Form-Data;BOUNDARY=\"a b;c\""), "a b;c");
    EXPECT_EQ(MultipartParser::boundaryOf("multipart/form-data; charset=x; boundary=z "), "z");
    EXPECT_EQ(MultipartParser::boundaryOf("multipart/form-data"), std::nullopt);
    EXPECT_EQ(MultipartParser::boundaryOf("multipart/form-data; boundary="), std::nullopt);
    EXPECT_EQ(MultipartParser::boundaryOf("multipart/mixed; boundary=abc"), std::nullopt);
    EXPECT_EQ(MultipartParser::boundaryOf("application/x-www-form-urlencoded"), std::nullopt);
    EXPECT_EQ(MultipartParser::boundaryOf("multipart/form-data; boundary=" + std::string(71, 'x')),
              std::nullopt);
}

TEST(MultipartParser, DispositionParameters) {
    const auto p = MultipartParser::parseHeaders(
        "Content-Type: text/plain\r\n"
        "Content-Disposition: form-data; filename=\"C:\\dir\\a \\\"q\\\".png\"; NAME=up\r\n");
    EXPECT_EQ(p.name, "up");
    EXPECT_EQ(p.fileName, "C:\\dir\\a \"q\".png");
    EXPECT_TRUE(p.hasFileName);
    const auto empty = MultipartParser::parseHeaders(
        "Content-Disposition: form-data; name=\"f\"; filename=\"\"\r\n");
    EXPECT_TRUE(empty.hasFileName);
    EXPECT_EQ(empty.fileName, "");
}

TEST(UploadReceiver, StoredNameIsTheLastPathComponent) {
    using http::UploadReceiver;
    const std::pair<const char*, const char*> cases[] = {
        {"logo.png", "logo.png"},
        {"../../etc/passwd", "passwd"},
        {"C:\\dir\\fw.bin", "fw.bin"},
        {"/abs/path/x", "x"},
        {"a/b\\c", "c"},
        {"..hidden", "..hidden"},
    };
    for (const auto& [sent, stored] : cases) {
        EXPECT_EQ(UploadReceiver::storedName(sent), std::optional<std::string>(stored)) << sent;
    }
    for (const char* refused : {"", ".", "..", "dir/", "dir/..", "x\\.", "/", "a\nb.jpg", "x.jpg\r",
                                "\x1b[31m.jpg", "\x7f"}) {
        EXPECT_EQ(UploadReceiver::storedName(refused), std::nullopt) << refused;
    }
}

}  // namespace
