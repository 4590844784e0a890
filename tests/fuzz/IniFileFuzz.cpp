// libFuzzer target for the INI reader and the two settings models over it (Quillon's
// EncoderConfigFile, peerlo's DeviceSettings). Input: the file's bytes.
// Invariants: a loaded file saved and loaded again saves to the same text (the model is
// stable after one round), and every typed read of every key returns. The first round may
// change the text (blank lines and trailing comments are not kept).
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "DeviceSettings.h"
#include "EncoderConfigFile.h"
#include "IniFile.h"

namespace {

// The readers take a path: the input goes to an in-memory file named by /proc/self/fd.
class MemoryFile {
public:
    MemoryFile() : m_fd(::memfd_create("ini-fuzz", 0)) {
        if (m_fd < 0) {
            std::abort();
        }
        m_path = "/proc/self/fd/" + std::to_string(m_fd);
    }
    const std::string& write(const std::string& text) {
        if (::ftruncate(m_fd, 0) != 0 ||
            ::pwrite(m_fd, text.data(), text.size(), 0) != static_cast<ssize_t>(text.size())) {
            std::abort();
        }
        return m_path;
    }

private:
    int m_fd;
    std::string m_path;
};

MemoryFile& file() {
    static MemoryFile f;
    return f;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    for (const bool trimCr : {false, true}) {
        comn::IniFile ini;
        if (!ini.load(file().write(text), trimCr)) {
            std::abort();
        }
        // Only the untrimmed load is saved by anyone (the logger's CR trimming only reads).
        const std::string once = ini.toText();
        comn::IniFile again;
        if (!trimCr && (!again.load(file().write(once)) || again.toText() != once)) {
            std::abort();
        }
        for (size_t s = 0; s < ini.getSectionCount(); ++s) {
            const auto& section = ini.getSection(s);
            for (const auto& entry : section.entries) {
                int i = 0;
                unsigned u = 0;
                std::string t;
                ini.getValue(section.name, entry.key, i);
                ini.getValue(section.name, entry.key, u);
                ini.getValue(section.name, entry.key, t);
            }
        }
    }

    enc::EncoderConfigFile settings;
    settings.load(file().write(text));
    discover::DeviceSettings peerlo;
    peerlo.load(file().write(text));
    (void)peerlo.connectionType();
    (void)peerlo.httpPort();
    (void)peerlo.provisionLock();
    (void)peerlo.deviceName();
    return 0;
}
