#include "JsonFormat.h"

#include <cJSON.h>

#include <algorithm>
#include <cassert>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <memory>

namespace enc {

namespace {

bool isKeyStart(char c) {
    return c == '_' || std::isalpha(static_cast<unsigned char>(c)) != 0;
}
bool isKeyChar(char c) {
    return isKeyStart(c) || std::isdigit(static_cast<unsigned char>(c)) != 0;
}

const JsonField* findField(const JsonFields& fields, std::string_view key) {
    for (const JsonField& f : fields) {
        if (key == f.key) {
            return &f;
        }
    }
    return nullptr;
}

int fieldAsInt(const JsonField& f) {
    if (f.unsignedNumber != nullptr) {
        // The colours are printed as signed 32-bit numbers, as the pages have always seen them.
        return static_cast<int>(*f.unsignedNumber);
    }
    assert(f.number != nullptr);
    return *f.number;
}

// Integer fields take the value clamped to their range. Unsigned fields (the overlay
// colours) also take the negative numbers they are printed as, so that a reply read back
// gives the same colour.
void storeInteger(const JsonField& f, long long value) {
    if (f.unsignedNumber != nullptr) {
        const long long v = std::clamp<long long>(value, INT_MIN, UINT_MAX);
        *f.unsignedNumber = static_cast<unsigned int>(v);
    } else if (f.number != nullptr) {
        *f.number = static_cast<int>(std::clamp<long long>(value, INT_MIN, INT_MAX));
    }
}

void readInteger(const JsonField& f, const cJSON* item) {
    if (cJSON_IsNumber(item)) {
        const double d = item->valuedouble;
        if (std::isfinite(d)) {
            storeInteger(f, static_cast<long long>(std::clamp(std::trunc(d), -1e18, 1e18)));
        }
    } else if (cJSON_IsString(item) && item->valuestring != nullptr) {
        char* end = nullptr;
        errno = 0;
        const long long v = std::strtoll(item->valuestring, &end, 10);
        if (end != item->valuestring) {
            storeInteger(f, v);
        }
    }
}

void readFlag(const JsonField& f, const cJSON* item) {
    storeInteger(f, cJSON_IsTrue(item) ? 1 : 0);
}

void readText(const JsonField& f, const cJSON* item) {
    if (f.text == nullptr) {
        return;
    }
    if (cJSON_IsString(item)) {
        *f.text = item->valuestring != nullptr ? item->valuestring : "";
        return;
    }
    std::unique_ptr<char, void (*)(void*)> literal(cJSON_PrintUnformatted(item), cJSON_free);
    if (literal) {
        *f.text = literal.get();
    }
}

}  // namespace

std::string JsonFormat::quote(std::string_view text) {
    static const char kHex[] = "0123456789abcdef";
    std::string out;
    out.reserve(text.size() + 2);
    out += '"';
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\b':
                out += "\\b";
                break;
            case '\f':
                out += "\\f";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (u < 0x20 || u == 0x7f) {
                    out += "\\u00";
                    out += kHex[u >> 4];
                    out += kHex[u & 0xf];
                } else {
                    out += c;  // bytes of UTF-8 sequences pass unchanged
                }
        }
    }
    out += '"';
    return out;
}

std::string JsonFormat::print(std::string_view format, const JsonFields& fields) {
    std::string out;
    std::string_view key;
    for (size_t i = 0; i < format.size();) {
        const char c = format[i];
        if (c == '%' && i + 1 < format.size()) {
            const char conv = format[i + 1];
            i += 2;
            const JsonField* f = findField(fields, key);
            assert(f != nullptr && "format key without a field");
            if (conv == 'd') {
                out += std::to_string(fieldAsInt(*f));
            } else if (conv == 'B') {
                out += fieldAsInt(*f) != 0 ? "true" : "false";
            } else {
                assert(conv == 'Q' && f->text != nullptr);
                out += quote(*f->text);
            }
        } else if (isKeyStart(c)) {
            const size_t start = i;
            while (i < format.size() && isKeyChar(format[i])) {
                ++i;
            }
            key = format.substr(start, i - start);
            out += '"';
            out += key;
            out += '"';
        } else {
            out += c;
            ++i;
        }
    }
    return out;
}

std::vector<std::pair<std::string, char>> JsonFormat::conversions(std::string_view format) {
    std::vector<std::pair<std::string, char>> result;
    std::string_view key;
    for (size_t i = 0; i < format.size();) {
        if (format[i] == '%' && i + 1 < format.size()) {
            result.emplace_back(std::string(key), format[i + 1]);
            i += 2;
        } else if (isKeyStart(format[i])) {
            const size_t start = i;
            while (i < format.size() && isKeyChar(format[i])) {
                ++i;
            }
            key = format.substr(start, i - start);
        } else {
            ++i;
        }
    }
    return result;
}

void JsonFormat::scan(std::string_view format, const cJSON* object, const JsonFields& fields) {
    if (!cJSON_IsObject(object)) {
        return;
    }
    for (const auto& [key, conv] : conversions(format)) {
        const JsonField* f = findField(fields, key);
        assert(f != nullptr && "format key without a field");
        const cJSON* item = cJSON_GetObjectItemCaseSensitive(object, key.c_str());
        if (item == nullptr) {
            continue;
        }
        switch (conv) {
            case 'd':
                readInteger(*f, item);
                break;
            case 'B':
                readFlag(*f, item);
                break;
            default:
                readText(*f, item);
                break;
        }
    }
}

}  // namespace enc
