#include "TlsIdentity.h"

#include <fcntl.h>
#include <gnutls/crypto.h>
#include <gnutls/gnutls.h>
#include <gnutls/x509.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>

#include "PrivateFile.h"

namespace http {

namespace {

// Long enough that a device never meets its certificate's end in service.
constexpr time_t kValidity = 20L * 365 * 24 * 3600;
// Browsers reject certificates dated in the future; the device clock may be behind.
constexpr time_t kBackdate = 24 * 3600;

bool readWhole(const std::string& path, std::string& out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return false;
    }
    std::ostringstream text;
    text << in.rdbuf();
    out = text.str();
    return !out.empty();
}

bool writePrivate(const std::string& path, const std::string& text, std::string& error) {
    return comn::writePrivateFile(path, text, &error);
}

// A key others can read is no secret: it is made private, not replaced, so that the
// certificate browsers have learnt to accept stays the device's.
void makePrivate(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0 || (st.st_mode & 077) == 0) {
        if (fd >= 0) {
            ::close(fd);
        }
        return;
    }
    const unsigned mode = st.st_mode & 07777;
    if (::fchmod(fd, 0600) == 0) {
        std::printf("https: the key %s could be read by others (mode %04o); now 0600\n",
                    path.c_str(), mode);
    } else {
        std::printf("https: the key %s can be read by others (mode %04o) and stays so: %s\n",
                    path.c_str(), mode, std::strerror(errno));
    }
    ::close(fd);
}

std::string exportPem(int (*fn)(void*, gnutls_x509_crt_fmt_t, gnutls_datum_t*), void* obj) {
    gnutls_datum_t out{};
    if (fn(obj, GNUTLS_X509_FMT_PEM, &out) != 0) {
        return {};
    }
    std::string pem(reinterpret_cast<const char*>(out.data), out.size);
    gnutls_free(out.data);
    return pem;
}

}  // namespace

bool TlsIdentity::load(const std::string& keyPath, const std::string& certPath) {
    std::string key;
    std::string cert;
    if (!readWhole(keyPath, key) || !readWhole(certPath, cert)) {
        return false;
    }
    // Both must parse and belong together, else the server could not start with them.
    gnutls_certificate_credentials_t creds = nullptr;
    if (gnutls_certificate_allocate_credentials(&creds) != 0) {
        return false;
    }
    const gnutls_datum_t k{reinterpret_cast<unsigned char*>(key.data()),
                           static_cast<unsigned>(key.size())};
    const gnutls_datum_t c{reinterpret_cast<unsigned char*>(cert.data()),
                           static_cast<unsigned>(cert.size())};
    const int rc = gnutls_certificate_set_x509_key_mem(creds, &c, &k, GNUTLS_X509_FMT_PEM);
    gnutls_certificate_free_credentials(creds);
    if (rc < 0) {
        return false;
    }
    makePrivate(keyPath);
    keyPem = std::move(key);
    certPem = std::move(cert);
    return true;
}

bool TlsIdentity::generate(std::string& error) {
    gnutls_x509_privkey_t key = nullptr;
    gnutls_x509_crt_t crt = nullptr;
    bool ok = false;
    do {
        if (gnutls_x509_privkey_init(&key) != 0 ||
            gnutls_x509_privkey_generate(
                key, GNUTLS_PK_ECDSA, GNUTLS_CURVE_TO_BITS(GNUTLS_ECC_CURVE_SECP256R1), 0) != 0) {
            error = "cannot generate the key";
            break;
        }
        if (gnutls_x509_crt_init(&crt) != 0) {
            error = "cannot create the certificate";
            break;
        }
        unsigned char serial[16];
        gnutls_rnd(GNUTLS_RND_NONCE, serial, sizeof serial);
        serial[0] &= 0x7f;  // a positive number
        char host[256] = {};
        ::gethostname(host, sizeof host - 1);
        const std::string cn = std::string("Quillon ") + (host[0] != '\0' ? host : "device");
        const time_t now = std::time(nullptr);
        const unsigned char loopback[4] = {127, 0, 0, 1};
        if (gnutls_x509_crt_set_version(crt, 3) != 0 ||
            gnutls_x509_crt_set_serial(crt, serial, sizeof serial) != 0 ||
            gnutls_x509_crt_set_activation_time(crt, now - kBackdate) != 0 ||
            gnutls_x509_crt_set_expiration_time(crt, now + kValidity) != 0 ||
            gnutls_x509_crt_set_dn_by_oid(crt, GNUTLS_OID_X520_COMMON_NAME, 0, cn.data(),
                                          static_cast<unsigned>(cn.size())) != 0 ||
            gnutls_x509_crt_set_key(crt, key) != 0 ||
            gnutls_x509_crt_set_subject_alt_name(crt, GNUTLS_SAN_DNSNAME, "localhost", 9,
                                                 GNUTLS_FSAN_APPEND) != 0 ||
            gnutls_x509_crt_set_subject_alt_name(crt, GNUTLS_SAN_IPADDRESS, loopback,
                                                 sizeof loopback, GNUTLS_FSAN_APPEND) != 0 ||
            (host[0] != '\0' &&
             gnutls_x509_crt_set_subject_alt_name(crt, GNUTLS_SAN_DNSNAME, host,
                                                  static_cast<unsigned>(std::strlen(host)),
                                                  GNUTLS_FSAN_APPEND) != 0) ||
            gnutls_x509_crt_set_basic_constraints(crt, 0, -1) != 0 ||
            gnutls_x509_crt_set_key_usage(crt, GNUTLS_KEY_DIGITAL_SIGNATURE) != 0 ||
            gnutls_x509_crt_set_key_purpose_oid(crt, GNUTLS_KP_TLS_WWW_SERVER, 0) != 0 ||
            gnutls_x509_crt_sign2(crt, crt, key, GNUTLS_DIG_SHA256, 0) != 0) {
            error = "cannot build the certificate";
            break;
        }
        keyPem = exportPem(
            [](void* o, gnutls_x509_crt_fmt_t f, gnutls_datum_t* d) {
                return gnutls_x509_privkey_export2(static_cast<gnutls_x509_privkey_t>(o), f, d);
            },
            key);
        certPem = exportPem(
            [](void* o, gnutls_x509_crt_fmt_t f, gnutls_datum_t* d) {
                return gnutls_x509_crt_export2(static_cast<gnutls_x509_crt_t>(o), f, d);
            },
            crt);
        ok = !keyPem.empty() && !certPem.empty();
        if (!ok) {
            error = "cannot export the key or certificate";
        }
    } while (false);
    if (crt != nullptr) {
        gnutls_x509_crt_deinit(crt);
    }
    if (key != nullptr) {
        gnutls_x509_privkey_deinit(key);
    }
    return ok;
}

bool TlsIdentity::loadOrCreate(const std::string& keyPath, const std::string& certPath,
                               std::string& error) {
    if (load(keyPath, certPath)) {
        return true;
    }
    // The key goes first: a certificate without its key would be useless.
    return generate(error) && writePrivate(keyPath, keyPem, error) &&
           writePrivate(certPath, certPem, error);
}

}  // namespace http
