#include "HttpMessageParser.h"

#include <algorithm>

#include "CLog.h"

namespace av {

size_t HttpMessageParser::parse(const char* data, size_t length, const Callback& callback) {
    if (data == nullptr || length == 0) {
        return 0;
    }
    const size_t consumed = execute(data, length);
    if (consumed == 0) {
        if (m_failures.occur()) {
            CLog::warning("parse return 0. buffer size: %d\n", static_cast<int>(length));
        }
        reset();
        return 0;
    }
    m_raw.append(data, std::min(consumed, kMaxKept - std::min(kMaxKept, m_raw.size())));
    if (m_complete) {
        m_complete = false;
        // onMessageComplete stopped the parser on purpose; the next call starts the next
        // message. (http_errno shares its word with the upgrade bit, which stays.)
        parser().http_errno = HPE_OK;
        if (callback) {
            callback(m_message, m_raw);
        }
    }
    return consumed;
}

void HttpMessageParser::reset() {
    resetParser();
    m_raw.clear();
    m_message.clear();
    m_complete = false;
}

int HttpMessageParser::onMessageBegin() {
    m_raw.clear();
    m_message.clear();
    m_complete = false;
    return 0;
}

int HttpMessageParser::onUrl(const char* at, size_t length) {
    m_message.url.append(at, length);
    m_message.method = http_method_str(static_cast<http_method>(parser().method));
    return 0;
}

int HttpMessageParser::onHeader(const std::string& name, const std::string& value) {
    m_message.headers[name] = value;
    return 0;
}

int HttpMessageParser::onHeadersComplete() {
    return 0;
}

int HttpMessageParser::onBody(const char* at, size_t length) {
    const size_t room = kMaxKept - std::min(kMaxKept, m_message.body.size());
    m_message.body.append(at, std::min(length, room));
    return 0;
}

int HttpMessageParser::onMessageComplete() {
    if (m_message.url.empty()) {
        m_message.status = static_cast<int>(parser().status_code);
    }
    m_complete = true;
    return 1;
}

}  // namespace av
