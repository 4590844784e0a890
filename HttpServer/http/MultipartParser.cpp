#include "MultipartParser.h"

#include "TextCase.h"

#include <cctype>
#include <cstring>
#include <utility>
#include <vector>

namespace http {

namespace {

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) {
        s.remove_prefix(1);
    }
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) {
        s.remove_suffix(1);
    }
    return s;
}

using Parameters = std::vector<std::pair<std::string, std::string>>;

// The value before the first ';' and the parameters after it. A quoted value may escape
// '"' and '\\' with a backslash; any other backslash is kept, because browsers send
// Windows paths ("C:\dir\a.png") without escaping them.
std::string_view splitParameters(std::string_view value, Parameters& params) {
    const size_t semi = value.find(';');
    const std::string_view head = trim(value.substr(0, semi));
    size_t i = semi == std::string_view::npos ? value.size() : semi;
    while (i < value.size()) {
        while (i < value.size() && (value[i] == ';' || value[i] == ' ' || value[i] == '\t')) {
            ++i;
        }
        const size_t nameStart = i;
        while (i < value.size() && value[i] != '=' && value[i] != ';') {
            ++i;
        }
        const std::string_view name = trim(value.substr(nameStart, i - nameStart));
        std::string text;
        if (i < value.size() && value[i] == '=') {
            ++i;
            while (i < value.size() && (value[i] == ' ' || value[i] == '\t')) {
                ++i;
            }
            if (i < value.size() && value[i] == '"') {
                for (++i; i < value.size() && value[i] != '"'; ++i) {
                    if (value[i] == '\\' && i + 1 < value.size() &&
                        (value[i + 1] == '"' || value[i + 1] == '\\')) {
                        ++i;
                    }
                    text += value[i];
                }
                while (i < value.size() && value[i] != ';') {
                    ++i;  // skip the closing quote and anything up to the next parameter
                }
            } else {
                const size_t start = i;
                while (i < value.size() && value[i] != ';') {
                    ++i;
                }
                text = std::string(trim(value.substr(start, i - start)));
            }
        }
        if (!name.empty()) {
            params.emplace_back(std::string(name), std::move(text));
        }
    }
    return head;
}

const std::string* findParameter(const Parameters& params, std::string_view name) {
    for (const auto& [key, value] : params) {
        if (equalsNoCase(key, name)) {
            return &value;
        }
    }
    return nullptr;
}

bool usableBoundary(std::string_view b) {
    if (b.empty() || b.size() > MultipartParser::kMaxBoundary) {
        return false;
    }
    for (const char c : b) {
        if (c < 0x20 || c > 0x7e) {
            return false;
        }
    }
    return true;
}

}  // namespace

MultipartParser::MultipartParser(std::string_view boundary, Listener& listener)
    : m_listener(listener), m_delimiter("\r\n--" + std::string(boundary)) {
    if (!usableBoundary(boundary)) {
        fail(Error::BadBoundary);
    }
    // The first delimiter may open the body without a line break before it.
    m_matched = 2;
}

std::optional<std::string> MultipartParser::boundaryOf(std::string_view contentType) {
    Parameters params;
    if (!equalsNoCase(splitParameters(contentType, params), "multipart/form-data")) {
        return std::nullopt;
    }
    const std::string* boundary = findParameter(params, "boundary");
    if (boundary == nullptr || !usableBoundary(*boundary)) {
        return std::nullopt;
    }
    return *boundary;
}

MultipartPart MultipartParser::parseHeaders(std::string_view headers) {
    MultipartPart part;
    while (!headers.empty()) {
        const size_t end = headers.find("\r\n");
        const std::string_view line = headers.substr(0, end);
        headers.remove_prefix(end == std::string_view::npos ? headers.size() : end + 2);
        const size_t colon = line.find(':');
        if (colon == std::string_view::npos ||
            !equalsNoCase(trim(line.substr(0, colon)), "content-disposition")) {
            continue;
        }
        Parameters params;
        splitParameters(line.substr(colon + 1), params);
        if (const std::string* name = findParameter(params, "name")) {
            part.name = *name;
        }
        if (const std::string* file = findParameter(params, "filename")) {
            part.fileName = *file;
            part.hasFileName = true;
        }
        break;
    }
    return part;
}

void MultipartParser::fail(Error error) {
    m_state = State::Failed;
    m_error = error;
}

bool MultipartParser::emitData(const char* data, size_t size) {
    if (size == 0 || m_state != State::Body) {
        return true;  // preamble bytes are dropped
    }
    if (!m_listener.onPartData(data, size)) {
        fail(Error::Stopped);
        return false;
    }
    return true;
}

// Looks for the delimiter from pos, handing the bytes before it to the listener. The
// delimiter starts with CR and holds no other CR, so after a mismatch the bytes matched so
// far are plain data and matching restarts at the current byte.
size_t MultipartParser::scanForDelimiter(const char* data, size_t size, size_t pos) {
    size_t run = pos;  // start of the data not yet handed on
    while (pos < size) {
        if (m_matched == 0) {
            const void* cr = std::memchr(data + pos, '\r', size - pos);
            if (cr == nullptr) {
                pos = size;
                break;
            }
            pos = static_cast<size_t>(static_cast<const char*>(cr) - data);
            if (!emitData(data + run, pos - run)) {
                return size;
            }
            run = pos;
        }
        if (data[pos] == m_delimiter[m_matched]) {
            ++pos;
            if (++m_matched == m_delimiter.size()) {
                m_matched = 0;
                if (m_state == State::Body && !m_listener.onPartEnd()) {
                    fail(Error::Stopped);
                    return size;
                }
                m_state = State::AfterDelimiter;
                return pos;
            }
            run = pos;
        } else {
            if (!emitData(m_delimiter.data(), m_matched)) {
                return size;
            }
            m_matched = 0;
            run = pos;
        }
    }
    if (m_matched == 0) {
        emitData(data + run, pos - run);
    }
    return size;
}

void MultipartParser::headerByte(char c) {
    m_header += c;
    if (m_header.size() > kMaxHeaderBytes) {
        fail(Error::HeaderTooLong);
        return;
    }
    const size_t n = m_header.size();
    const bool end = m_header == "\r\n" || (n >= 4 && m_header.compare(n - 4, 4, "\r\n\r\n") == 0);
    if (!end) {
        return;
    }
    const MultipartPart part = parseHeaders(m_header);
    m_header.clear();
    m_state = State::Body;
    if (!m_listener.onPartBegin(part)) {
        fail(Error::Stopped);
    }
}

bool MultipartParser::feed(const char* data, size_t size) {
    size_t pos = 0;
    while (pos < size) {
        switch (m_state) {
            case State::Preamble:
            case State::Body:
                pos = scanForDelimiter(data, size, pos);
                break;
            case State::AfterDelimiter: {
                const char c = data[pos++];
                if (c == '-') {
                    m_state = State::AfterDash;
                } else if (c == '\r') {
                    m_state = State::AfterCr;
                } else if (c != ' ' && c != '\t') {  // transport padding is allowed
                    fail(Error::BadDelimiter);
                }
                break;
            }
            case State::AfterDash:
                if (data[pos++] == '-') {
                    m_state = State::Done;
                } else {
                    fail(Error::BadDelimiter);
                }
                break;
            case State::AfterCr:
                if (data[pos++] == '\n') {
                    m_state = State::Headers;
                } else {
                    fail(Error::BadDelimiter);
                }
                break;
            case State::Headers:
                headerByte(data[pos++]);
                break;
            case State::Done:
                return true;
            case State::Failed:
                return false;
        }
    }
    return m_state != State::Failed;
}

bool MultipartParser::finish() {
    if (m_state != State::Done && m_state != State::Failed) {
        fail(Error::Truncated);
    }
    return m_state == State::Done;
}

}  // namespace http
