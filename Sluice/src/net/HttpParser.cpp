#include "HttpParser.h"

#include <cctype>

namespace av {

namespace {

HttpParser& self(http_parser* p) {
    return *static_cast<HttpParser*>(p->data);
}

}  // namespace

// One table for every parser; the chunk callbacks are not needed.
const http_parser_settings HttpParser::s_settings = {
    &HttpParser::messageBegin,
    &HttpParser::url,
    &HttpParser::status,
    &HttpParser::headerField,
    &HttpParser::headerValue,
    &HttpParser::headersComplete,
    &HttpParser::body,
    &HttpParser::messageComplete,
    nullptr,
    nullptr,
};

HttpParser::HttpParser(http_parser_type type) : m_type(type) {
    resetParser();
}

HttpParser::~HttpParser() = default;

int HttpParser::onMessageBegin() {
    return 0;
}

int HttpParser::onUrl(const char*, size_t) {
    return 0;
}

int HttpParser::onHeader(const std::string&, const std::string&) {
    return 0;
}

int HttpParser::onHeadersComplete() {
    return 0;
}

int HttpParser::onBody(const char*, size_t) {
    return 0;
}

int HttpParser::onMessageComplete() {
    return 0;
}

std::string HttpParser::canonical(const std::string& name) {
    std::string result(name);
    bool startOfWord = true;
    for (char& c : result) {
        const auto u = static_cast<unsigned char>(c);
        c = static_cast<char>(startOfWord ? std::toupper(u) : std::tolower(u));
        startOfWord = c == '-';
    }
    return result;
}

size_t HttpParser::execute(const char* data, size_t length) {
    return http_parser_execute(&m_parser, &s_settings, data, length);
}

void HttpParser::resetParser() {
    http_parser_init(&m_parser, m_type);
    m_parser.data = this;
    m_field.clear();
    m_value.clear();
    m_valueLast = true;
}

int HttpParser::messageBegin(http_parser* p) {
    HttpParser& parser = self(p);
    parser.m_field.clear();
    parser.m_value.clear();
    parser.m_valueLast = true;
    parser.onMessageBegin();
    return 0;
}

int HttpParser::url(http_parser* p, const char* at, size_t length) {
    self(p).onUrl(at, length);
    return 0;
}

int HttpParser::status(http_parser*, const char*, size_t) {
    return 0;
}

int HttpParser::headerField(http_parser* p, const char* at, size_t length) {
    HttpParser& parser = self(p);
    if (parser.m_valueLast && !parser.m_field.empty()) {
        parser.onHeader(canonical(parser.m_field), parser.m_value);
        parser.m_field.clear();
        parser.m_value.clear();
    }
    parser.m_field.append(at, length);
    parser.m_valueLast = false;
    return 0;
}

int HttpParser::headerValue(http_parser* p, const char* at, size_t length) {
    HttpParser& parser = self(p);
    parser.m_value.append(at, length);
    parser.m_valueLast = true;
    return 0;
}

int HttpParser::headersComplete(http_parser* p) {
    HttpParser& parser = self(p);
    if (!parser.m_field.empty()) {
        parser.onHeader(canonical(parser.m_field), parser.m_value);
        // Trailers of a chunked body would otherwise report the last header again.
        parser.m_field.clear();
        parser.m_value.clear();
    }
    parser.onHeadersComplete();
    return 0;
}

int HttpParser::body(http_parser* p, const char* at, size_t length) {
    self(p).onBody(at, length);
    return 0;
}

int HttpParser::messageComplete(http_parser* p) {
    return self(p).onMessageComplete();
}

}  // namespace av
