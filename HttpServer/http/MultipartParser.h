#pragma once
// A streaming parser for multipart/form-data request bodies. It keeps no part data: bytes
// are handed to the listener as they arrive, in pieces of any size, so a file of any length
// passes through a fixed buffer. Only the headers of one part (at most kMaxHeaderBytes) are
// held at a time.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace http {

/// What the headers of one part say (from its Content-Disposition).
struct MultipartPart {
    std::string name;          ///< the form field name; "" when absent
    std::string fileName;      ///< the file name as sent, unquoted; "" when absent
    bool hasFileName = false;  ///< whether a filename parameter was present (even empty)
};

class MultipartParser {
public:
    /// Receives the parts in order. Any callback may return false to stop the parser; it
    /// then fails with Error::Stopped and calls nothing more.
    class Listener {
    public:
        virtual ~Listener() = default;
        virtual bool onPartBegin(const MultipartPart& part) = 0;
        /// A piece of the part's content (never empty).
        virtual bool onPartData(const char* data, size_t size) = 0;
        /// The part's content is complete (its closing delimiter was seen).
        virtual bool onPartEnd() = 0;
    };

    enum class Error {
        None,
        BadBoundary,    ///< the boundary given to the constructor is empty, too long or not text
        HeaderTooLong,  ///< a part's headers exceed kMaxHeaderBytes
        BadDelimiter,   ///< a delimiter line is followed by something other than CRLF or "--"
        Truncated,      ///< finish() came before the closing delimiter
        Stopped,        ///< a listener callback returned false
    };

    /// Headers of one part larger than this are refused (they are a few hundred bytes).
    static constexpr size_t kMaxHeaderBytes = 8192;
    /// The longest boundary the media type allows.
    static constexpr size_t kMaxBoundary = 70;

    /// The listener must outlive the parser.
    MultipartParser(std::string_view boundary, Listener& listener);

    /// Parses the next bytes of the body. False once the parser has failed; bytes after the
    /// closing delimiter are ignored.
    bool feed(const char* data, size_t size);

    /// The body has ended. True when the closing delimiter was seen; otherwise the parser
    /// fails with Error::Truncated (unless it failed before).
    bool finish();

    bool done() const { return m_state == State::Done; }
    bool failed() const { return m_state == State::Failed; }
    Error error() const { return m_error; }

    /// The boundary of a "multipart/form-data" Content-Type value; nothing for any other
    /// media type or for a missing or unusable boundary.
    static std::optional<std::string> boundaryOf(std::string_view contentType);

    /// The part description from a block of header lines (CRLF separated).
    static MultipartPart parseHeaders(std::string_view headers);

private:
    enum class State { Preamble, AfterDelimiter, AfterDash, AfterCr, Headers, Body, Done, Failed };

    size_t scanForDelimiter(const char* data, size_t size, size_t pos);
    void headerByte(char c);
    bool emitData(const char* data, size_t size);
    void fail(Error error);

    Listener& m_listener;
    std::string m_delimiter;  // CRLF "--" boundary
    size_t m_matched = 0;     // bytes of m_delimiter matched so far
    std::string m_header;
    State m_state = State::Preamble;
    Error m_error = Error::None;
};

}  // namespace http
