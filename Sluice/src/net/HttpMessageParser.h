#pragma once

#include <cstddef>
#include <functional>
#include <string>

#include "HttpMessage.h"
#include "HttpParser.h"
#include "LogEpisode.h"

namespace av {

/// Reads HTTP messages (requests or responses) from bytes arriving in any number of
/// pieces, and reports each complete one. Parsing stops right after a complete message:
/// bytes after it in the same call are not consumed. Single owner, one thread at a time.
class HttpMessageParser : public HttpParser {
public:
    /// At most this much of a message's body, and of its raw text, is kept; the rest is
    /// parsed but dropped, so that a client announcing a huge body cannot fill the memory.
    static constexpr size_t kMaxKept = 64 * 1024;

    /// Called once per complete message with the message and its raw bytes as consumed
    /// (both cut at kMaxKept).
    using Callback = std::function<void(const HttpMessage& message, const std::string& raw)>;

    HttpMessageParser() = default;

    /// Feeds bytes; returns how many were consumed. 0 for null or empty input, and when
    /// http_parser accepts nothing: the parser starts over, waiting for a new message. Such a
    /// failure is logged ("parse return 0. ...") only when it opens an episode of failures;
    /// the owner ends the episode (endFailures) and logs its count.
    size_t parse(const char* data, size_t length, const Callback& callback);
    /// Ends the episode of failed parse calls: how many there were (0 when none).
    uint64_t endFailures() { return m_failures.end(); }
    /// Forgets any partial message and parser error.
    void reset();

    /// The message read so far (complete when the callback ran).
    const HttpMessage& message() const { return m_message; }

    int onMessageBegin() override;
    int onUrl(const char* at, size_t length) override;
    int onHeader(const std::string& name, const std::string& value) override;
    int onHeadersComplete() override;
    int onBody(const char* at, size_t length) override;
    /// Records a response's status; returns 1 so that http_parser stops after the message.
    int onMessageComplete() override;

private:
    std::string m_raw;
    HttpMessage m_message;
    bool m_complete = false;
    LogEpisode m_failures;
};

}  // namespace av
