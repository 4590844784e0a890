#include "Md5.h"

#include <gnutls/crypto.h>

namespace http {

std::string Md5::hex(std::string_view text) {
    static const char kHex[] = "0123456789abcdef";
    unsigned char digest[16] = {};
    gnutls_hash_fast(GNUTLS_DIG_MD5, text.data(), text.size(), digest);
    std::string out;
    out.reserve(32);
    for (const unsigned char b : digest) {
        out += kHex[b >> 4];
        out += kHex[b & 0xf];
    }
    return out;
}

}  // namespace http
