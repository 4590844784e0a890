#pragma once
// The device's HTTPS key and certificate: generated at first start (ECDSA P-256, a
// self-signed certificate unique to the device) and reused afterwards.

#include <string>

namespace http {

class TlsIdentity {
public:
    virtual ~TlsIdentity() = default;

    std::string keyPem;
    std::string certPem;

    /// Loads the key and certificate from their files (a key file others may read is made
    /// 0600, and said so); when either is missing or unusable, generates a new pair with
    /// library calls and writes both (mode 0600, written next to the target and renamed over
    /// it). False, with a message in error, when neither works.
    bool loadOrCreate(const std::string& keyPath, const std::string& certPath, std::string& error);

private:
    bool load(const std::string& keyPath, const std::string& certPath);
    bool generate(std::string& error);
};

}  // namespace http
