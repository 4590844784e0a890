#include "JsonDepth.h"

namespace enc {

bool JsonDepth::within(std::string_view text, size_t limit) {
    size_t depth = 0;
    bool inString = false;
    bool escaped = false;
    for (const char c : text) {
        if (inString) {
            if (escaped) {
                escaped = false;
            } else if (c == '\\') {
                escaped = true;
            } else if (c == '"') {
                inString = false;
            }
            continue;
        }
        switch (c) {
            case '"':
                inString = true;
                break;
            case '[':
            case '{':
                if (++depth > limit) {
                    return false;
                }
                break;
            case ']':
            case '}':
                // Unbalanced closers are the parser's to refuse; they never deepen anything.
                if (depth > 0) {
                    --depth;
                }
                break;
            default:
                break;
        }
    }
    return true;
}

}  // namespace enc
