#include "MetricsToken.h"

#include <cctype>
#include <cstring>

#include "Console.h"
#include "IniFile.h"

namespace enc {
namespace {

constexpr const char* kSection = "metrics";
constexpr const char* kKey = "token";
constexpr unsigned kOwnerOnly = 0600;

}  // namespace

std::string MetricsToken::refused(const std::string& token) {
    if (token.size() < kMinLength || token.size() > kMaxLength) {
        return "metricsToken must have " + std::to_string(kMinLength) + " to " +
               std::to_string(kMaxLength) + " characters";
    }
    for (char c : token) {
        if (std::isalnum(static_cast<unsigned char>(c)) == 0 &&
            std::strchr("-._~+/=", c) == nullptr) {
            return "metricsToken may hold letters, digits and - . _ ~ + / = only";
        }
    }
    return std::string();
}

std::string MetricsToken::read() const {
    comn::IniFile file;
    std::string token;
    if (file.load(m_path)) {
        file.getValue(kSection, kKey, token);
    }
    return refused(token).empty() ? token : std::string();
}

bool MetricsToken::isSet() const {
    return !read().empty();
}

bool MetricsToken::store(const std::string& token) const {
    comn::IniFile file;
    file.setValue(kSection, kKey, token);
    if (!file.save(m_path, kOwnerOnly)) {
        sayError("save metrics token failed: %s\n", m_path.c_str());
        return false;
    }
    return true;
}

bool MetricsToken::matches(std::string_view given) const {
    const std::string stored = read();
    if (stored.empty()) {
        return false;
    }
    // Every byte of given is looked at, whether or not an earlier one differed.
    unsigned diff = stored.size() == given.size() ? 0 : 1;
    for (size_t i = 0; i < given.size(); ++i) {
        diff |= unsigned(uint8_t(given[i]) ^ uint8_t(stored[i % stored.size()]));
    }
    return diff == 0;
}

}  // namespace enc
