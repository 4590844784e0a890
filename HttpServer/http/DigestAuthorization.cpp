#include "DigestAuthorization.h"

#include <cctype>

#include "Md5.h"

namespace http {

namespace {

bool startsWithNoCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) {
        return false;
    }
    for (size_t i = 0; i < prefix.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(text[i])) !=
            std::tolower(static_cast<unsigned char>(prefix[i]))) {
            return false;
        }
    }
    return true;
}

std::string lower(std::string_view text) {
    std::string out;
    for (const char c : text) {
        out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return out;
}

void skipBlanks(std::string_view text, size_t& pos) {
    while (pos < text.size() && (text[pos] == ' ' || text[pos] == '\t' || text[pos] == ',')) {
        ++pos;
    }
}

}  // namespace

std::optional<DigestAuthorization> DigestAuthorization::parse(std::string_view header) {
    if (!startsWithNoCase(header, "Digest ")) {
        return std::nullopt;
    }
    DigestAuthorization d;
    size_t pos = 7;
    for (;;) {
        skipBlanks(header, pos);
        if (pos >= header.size()) {
            break;
        }
        const size_t eq = header.find('=', pos);
        if (eq == std::string_view::npos) {
            return std::nullopt;
        }
        const std::string key = lower(header.substr(pos, eq - pos));
        pos = eq + 1;
        std::string value;
        if (pos < header.size() && header[pos] == '"') {
            ++pos;
            while (pos < header.size() && header[pos] != '"') {
                if (header[pos] == '\\' && pos + 1 < header.size()) {
                    ++pos;
                }
                value += header[pos++];
            }
            if (pos >= header.size()) {
                return std::nullopt;  // unterminated quote
            }
            ++pos;
        } else {
            while (pos < header.size() && header[pos] != ',' && header[pos] != ' ') {
                value += header[pos++];
            }
        }
        if (key == "username") {
            d.username = value;
        } else if (key == "realm") {
            d.realm = value;
        } else if (key == "nonce") {
            d.nonce = value;
        } else if (key == "uri") {
            d.uri = value;
        } else if (key == "qop") {
            d.qop = value;
        } else if (key == "nc") {
            d.nc = value;
        } else if (key == "cnonce") {
            d.cnonce = value;
        } else if (key == "response") {
            d.response = lower(value);
        }
    }
    if (d.username.empty() || d.nonce.empty() || d.uri.empty() || d.response.empty()) {
        return std::nullopt;
    }
    return d;
}

bool DigestAuthorization::responseMatches(std::string_view ha1, std::string_view method) const {
    const std::string ha2 = Md5::hex(std::string(method) + ":" + uri);
    std::string text(ha1);
    text += ":" + nonce + ":";
    if (!qop.empty()) {
        text += nc + ":" + cnonce + ":" + qop + ":";
    }
    text += ha2;
    return Md5::hex(text) == response;
}

}  // namespace http
