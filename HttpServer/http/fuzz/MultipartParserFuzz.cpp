// libFuzzer target for the multipart parser. Input: one byte choosing how the body is cut
// into pieces, a Content-Type line ending in '\n', then the body. The body is parsed whole
// and in pieces; both runs must report the same parts, data and outcome, no part's data
// may hold the delimiter, and no piece of data may be empty.

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "MultipartParser.h"

namespace {

struct Recorder : http::MultipartParser::Listener {
    std::string log;
    std::vector<std::string> parts;  // the data of each part
    bool onPartBegin(const http::MultipartPart& p) override {
        log += "begin[" + p.name + "|" + p.fileName + "|" + (p.hasFileName ? "1" : "0") + "]";
        parts.emplace_back();
        return true;
    }
    bool onPartData(const char* data, size_t size) override {
        if (size == 0 || parts.empty()) {
            std::abort();
        }
        parts.back().append(data, size);
        return true;
    }
    bool onPartEnd() override {
        log += "end(" + std::to_string(parts.size()) + ")";
        return true;
    }
};

std::string run(std::string_view boundary, std::string_view body, size_t piece, Recorder& rec) {
    http::MultipartParser parser(boundary, rec);
    for (size_t pos = 0; pos < body.size(); pos += piece) {
        const size_t n = std::min(piece, body.size() - pos);
        if (!parser.feed(body.data() + pos, n)) {
            break;
        }
    }
    const bool done = parser.finish();
    return std::string(done ? "done" : "failed") + std::to_string(static_cast<int>(parser.error()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) {
        return 0;
    }
    const size_t piece = 1 + data[0] % 17;
    std::string_view rest(reinterpret_cast<const char*>(data + 1), size - 1);
    std::string boundary = "fuzzBoundary";
    const size_t eol = rest.find('\n');
    if (eol != std::string_view::npos) {
        if (auto b = http::MultipartParser::boundaryOf(rest.substr(0, eol))) {
            boundary = *b;
        }
        rest.remove_prefix(eol + 1);
    }

    Recorder whole;
    Recorder pieces;
    const std::string a = run(boundary, rest, rest.size() + 1, whole);
    const std::string b = run(boundary, rest, piece, pieces);
    if (a != b || whole.log != pieces.log || whole.parts != pieces.parts) {
        std::abort();
    }
    const std::string delimiter = "\r\n--" + boundary;
    size_t total = 0;
    for (const std::string& part : whole.parts) {
        if (part.find(delimiter) != std::string::npos) {
            std::abort();
        }
        total += part.size();
    }
    if (total > rest.size()) {
        std::abort();
    }
    return 0;
}
