#pragma once

#include <string>
#include <string_view>

namespace enc {

/// The bearer token that opens "/metrics" to a monitoring system, which cannot answer digest
/// challenges. Kept apart from the settings file in a file only its owner reads (0600), so
/// that a copy of the settings never carries it. Every call reads the file again: the web
/// pages set it while the server checks it.
class MetricsToken {
public:
    /// The token file's name, in the settings file's directory ("/mnt/config").
    static constexpr const char* kFileName = "metrics.token";
    /// Tokens are 16 to 128 letters, digits or "-._~+/=" (what token generators and base64
    /// give): long enough that the login throttle makes guessing hopeless, short enough for
    /// one header line, and nothing a settings line or a header could misread.
    static constexpr size_t kMinLength = 16;
    static constexpr size_t kMaxLength = 128;

    /// path is a real path.
    explicit MetricsToken(std::string path) : m_path(std::move(path)) {}

    /// "" for a token that may be stored, otherwise the reason why not.
    static std::string refused(const std::string& token);
    bool isSet() const;
    /// Replaces the file atomically with mode 0600. False (printed once) when it cannot.
    bool store(const std::string& token) const;
    /// Whether given is the stored token; false when none is set. The comparison takes the
    /// same time whatever prefix of given is right.
    bool matches(std::string_view given) const;

private:
    std::string read() const;

    std::string m_path;
};

}  // namespace enc
