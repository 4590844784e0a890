#include "UploadReceiver.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace http {

UploadReceiver::UploadReceiver(std::string directory, long long maxFileBytes)
    : m_dir(std::move(directory)), m_maxFileBytes(maxFileBytes) {}

UploadReceiver::~UploadReceiver() {
    closeFile();
    for (const File& f : m_files) {
        if (!f.temp.empty()) {
            ::unlink(f.temp.c_str());
        }
    }
}

std::optional<std::string> UploadReceiver::storedName(std::string_view fileName) {
    // A NUL would cut the name short in the file system; a line end or an escape sequence
    // would forge lines and colours wherever the name is printed.
    for (const char c : fileName) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7f) {
            return std::nullopt;
        }
    }
    const size_t slash = fileName.find_last_of("/\\");
    const std::string_view name =
        slash == std::string_view::npos ? fileName : fileName.substr(slash + 1);
    if (name.empty() || name == "." || name == "..") {
        return std::nullopt;
    }
    return std::string(name);
}

bool UploadReceiver::refuse(Failure failure) {
    m_failure = failure;
    closeFile();
    return false;
}

void UploadReceiver::closeFile() {
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}

bool UploadReceiver::onPartBegin(const MultipartPart& part) {
    if (!part.hasFileName) {
        return true;  // a plain form field: its value is not stored
    }
    const std::optional<std::string> name = storedName(part.fileName);
    if (!name) {
        return refuse(Failure::BadName);
    }
    File file;
    file.field = part.name;
    file.path = m_dir + "/" + *name;
    std::string temp = m_dir + "/.upload-XXXXXX";
    m_fd = ::mkstemp(temp.data());
    if (m_fd < 0) {
        std::printf("upload: cannot create a file in %s: %s\n", m_dir.c_str(),
                    std::strerror(errno));
        return refuse(Failure::OpenFailed);
    }
    // mkstemp makes the file private; an uploaded file is an ordinary file of the device.
    ::fchmod(m_fd, 0644);
    file.temp = std::move(temp);
    m_files.push_back(std::move(file));
    return true;
}

bool UploadReceiver::onPartData(const char* data, size_t size) {
    if (m_fd < 0) {
        return true;
    }
    File& file = m_files.back();
    if (static_cast<long long>(size) > m_maxFileBytes - file.size) {
        return refuse(Failure::TooLarge);
    }
    while (size > 0) {
        const ssize_t n = ::write(m_fd, data, size);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            std::printf("upload: cannot write %s: %s\n", file.path.c_str(), std::strerror(errno));
            return refuse(Failure::WriteFailed);
        }
        data += n;
        size -= static_cast<size_t>(n);
        file.size += n;
    }
    return true;
}

bool UploadReceiver::onPartEnd() {
    if (m_fd >= 0) {
        const int rc = ::close(m_fd);
        m_fd = -1;
        if (rc != 0) {
            return refuse(Failure::WriteFailed);
        }
    }
    return true;
}

bool UploadReceiver::commit() {
    for (File& f : m_files) {
        if (::rename(f.temp.c_str(), f.path.c_str()) != 0) {
            std::printf("upload: cannot store %s: %s\n", f.path.c_str(), std::strerror(errno));
            m_failure = Failure::WriteFailed;
            return false;
        }
        f.temp.clear();
    }
    return true;
}

}  // namespace http
