#include "LimitsDocument.h"

#include <cstring>

#include "SettingsLimits.h"

namespace enc {

namespace {

std::string high(int value) {
    return value == kFollowsInput ? "null" : std::to_string(value);
}

}  // namespace

std::string LimitsDocument::text() {
    // Paths and keys are plain identifiers: nothing to escape.
    std::string out = "{";
    const char* open = nullptr;
    for (const PublishedLimit& l : publishedLimits()) {
        if (open == nullptr || std::strcmp(open, l.path) != 0) {
            out += open == nullptr ? "\"" : "},\"";
            out += l.path + 1;  // without the leading '/'
            out += "\":{";
            open = l.path;
        } else {
            out += ',';
        }
        out += '"' + std::string(l.jsonKey) + "\":{\"min\":" + std::to_string(l.low) +
               ",\"max\":[" + high(l.high[0]) + ',' + high(l.high[1]) + ']';
        if (l.high[0] == kFollowsInput || l.high[1] == kFollowsInput) {
            out += ",\"aboveInput\":" + std::to_string(kInputFpsTolerance);
        }
        out += '}';
    }
    out += open == nullptr ? "}" : "}}";
    return out;
}

}  // namespace enc
