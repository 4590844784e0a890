#include "RtspRequest.h"

#include <strings.h>

#include <cstdlib>
#include <cstring>

namespace av {

namespace {

std::string trim(const std::string& text) {
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && (text[begin] == ' ' || text[begin] == '\t')) {
        ++begin;
    }
    while (end > begin && (text[end - 1] == ' ' || text[end - 1] == '\t')) {
        --end;
    }
    return text.substr(begin, end - begin);
}

// Tokens of the request line and header names: visible ASCII without separators we split on.
bool isToken(const std::string& text) {
    if (text.empty()) {
        return false;
    }
    for (unsigned char c : text) {
        if (c <= 0x20 || c >= 0x7F || c == ':') {
            return false;
        }
    }
    return true;
}

// Header values may hold any byte but the control characters (tab allowed).
bool isValue(const std::string& text) {
    for (unsigned char c : text) {
        if ((c < 0x20 && c != '\t') || c == 0x7F) {
            return false;
        }
    }
    return true;
}

// The end of the head (index after the blank line) or npos.
size_t headEnd(const char* data, size_t n) {
    for (size_t i = 0; i + 1 < n; ++i) {
        if (data[i] != '\n') {
            continue;
        }
        if (data[i + 1] == '\n') {
            return i + 2;
        }
        if (data[i + 1] == '\r' && i + 2 < n && data[i + 2] == '\n') {
            return i + 3;
        }
    }
    return std::string::npos;
}

std::vector<std::string> splitLines(const std::string& head) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < head.size()) {
        size_t end = head.find('\n', start);
        if (end == std::string::npos) {
            end = head.size();
        }
        std::string line = head.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        lines.push_back(std::move(line));
        start = end + 1;
    }
    return lines;
}

}  // namespace

std::string RtspRequest::header(const std::string& name) const {
    for (const auto& [key, value] : headers) {
        if (strcasecmp(key.c_str(), name.c_str()) == 0) {
            return value;
        }
    }
    return std::string();
}

bool RtspRequest::hasHeader(const std::string& name) const {
    for (const auto& entry : headers) {
        if (strcasecmp(entry.first.c_str(), name.c_str()) == 0) {
            return true;
        }
    }
    return false;
}

long RtspRequest::cseq() const {
    const std::string text = header("CSeq");
    if (text.empty() || text.size() > 9) {
        return -1;
    }
    for (char c : text) {
        if (c < '0' || c > '9') {
            return -1;
        }
    }
    return std::strtol(text.c_str(), nullptr, 10);
}

RtspRequestParser::Result RtspRequestParser::parse(const char* data, size_t n, RtspRequest& request,
                                                   size_t& consumed) {
    consumed = 0;
    // Blank lines between requests are allowed (RFC 2326 keeps HTTP's leniency).
    size_t skip = 0;
    while (skip < n && (data[skip] == '\r' || data[skip] == '\n')) {
        ++skip;
    }
    const size_t window = std::min(n - skip, kMaxRequestSize);
    const size_t end = headEnd(data + skip, window);
    if (end == std::string::npos) {
        consumed = skip;  // blank lines may go at once: they never become part of a request
        return n - skip >= kMaxRequestSize ? Result::TooLarge : Result::NeedMore;
    }
    const std::vector<std::string> lines = splitLines(std::string(data + skip, end));
    if (lines.empty()) {
        return Result::Bad;
    }
    RtspRequest parsed;
    const std::string& first = lines[0];
    const size_t sp1 = first.find(' ');
    const size_t sp2 = sp1 == std::string::npos ? sp1 : first.find(' ', sp1 + 1);
    if (sp2 == std::string::npos || first.find(' ', sp2 + 1) != std::string::npos) {
        return Result::Bad;
    }
    parsed.method = first.substr(0, sp1);
    parsed.uri = first.substr(sp1 + 1, sp2 - sp1 - 1);
    parsed.version = first.substr(sp2 + 1);
    if (!isToken(parsed.method) || !isValue(parsed.uri) || parsed.uri.empty() ||
        parsed.version.compare(0, 5, "RTSP/") != 0) {
        return Result::Bad;
    }
    for (size_t i = 1; i < lines.size(); ++i) {
        if (lines[i].empty()) {
            continue;
        }
        const size_t colon = lines[i].find(':');
        if (colon == std::string::npos) {
            return Result::Bad;
        }
        std::string name = lines[i].substr(0, colon);
        std::string value = trim(lines[i].substr(colon + 1));
        if (!isToken(name) || !isValue(value)) {
            return Result::Bad;
        }
        parsed.headers.emplace_back(std::move(name), std::move(value));
    }
    size_t bodyLength = 0;
    if (parsed.hasHeader("Content-Length")) {
        const std::string text = parsed.header("Content-Length");
        if (text.empty() || text.size() > 5 || text.find_first_not_of("0123456789") != text.npos) {
            return text.size() > 5 && text.find_first_not_of("0123456789") == text.npos
                       ? Result::TooLarge
                       : Result::Bad;
        }
        bodyLength = std::strtoul(text.c_str(), nullptr, 10);
    }
    if (skip + end + bodyLength > skip + kMaxRequestSize) {
        return Result::TooLarge;
    }
    if (n - skip - end < bodyLength) {
        consumed = skip;
        return Result::NeedMore;
    }
    parsed.body.assign(data + skip + end, bodyLength);
    request = std::move(parsed);
    consumed = skip + end + bodyLength;
    return Result::Complete;
}

}  // namespace av
