// libFuzzer target for the HTTP caster's request reader (libSluice), which reads whatever a
// TCP client sends to the stream port. Input: one byte choosing how the bytes are cut into
// reads, then the bytes. The caster feeds each read and feeds again what a complete message
// left unconsumed.
// Invariants: a parse never reports more bytes than it was given, every message and its raw
// text stay within the kept limit, and header names are canonical.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "FuzzInput.h"
#include "HttpMessageParser.h"

using av::HttpMessage;
using av::HttpMessageParser;
using av::HttpParser;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::FuzzInput in(data, size);
    const size_t piece = 1 + in.byte() % 64;
    const std::string_view bytes = in.rest();

    HttpMessageParser parser;
    size_t messages = 0;
    const auto onMessage = [&](const HttpMessage& m, const std::string& raw) {
        ++messages;
        if (raw.size() > HttpMessageParser::kMaxKept ||
            m.body.size() > HttpMessageParser::kMaxKept) {
            std::abort();
        }
        for (const auto& [name, value] : m.headers) {
            if (name != HttpParser::canonical(name)) {
                std::abort();
            }
        }
    };
    for (size_t pos = 0; pos < bytes.size();) {
        const size_t n = std::min(piece, bytes.size() - pos);
        size_t fed = 0;
        while (fed < n) {
            const size_t used = parser.parse(bytes.data() + pos + fed, n - fed, onMessage);
            if (used > n - fed) {
                std::abort();
            }
            if (used == 0) {
                break;  // refused: the parser starts over with the next read
            }
            fed += used;
        }
        pos += n;
    }
    (void)messages;
    return 0;
}
