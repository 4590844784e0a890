#include "KorrinSimProcess.h"

#include <algorithm>

#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <sstream>

namespace toolstest {
namespace {

constexpr size_t kHeaderSize = 36;
// Records kept per code for waitFor: one burst of every stream's outputs status parts.
constexpr size_t kRecent = 8;

}  // namespace

int32_t i32(const std::vector<uint8_t>& record, size_t offset) {
    if (record.size() < offset + 4) {
        return 0;
    }
    return int32_t(uint32_t(record[offset]) | uint32_t(record[offset + 1]) << 8 |
                   uint32_t(record[offset + 2]) << 16 | uint32_t(record[offset + 3]) << 24);
}

uint16_t u16(const std::vector<uint8_t>& record, size_t offset) {
    if (record.size() < offset + 2) {
        return 0;
    }
    return uint16_t(record[offset] | record[offset + 1] << 8);
}

std::string text(const std::vector<uint8_t>& record, size_t offset, size_t size) {
    if (record.size() < offset + size) {
        return std::string();
    }
    const char* start = reinterpret_cast<const char*>(record.data() + offset);
    return std::string(start, strnlen(start, size));
}

LinkClient::LinkClient(const std::string& boardRoot)
    : m_server(boardRoot + "/tmp/server.socket"),
      m_socket(boardRoot + "/tmp/client.socket",
               [this](const uint8_t* data, size_t size) { receive(data, size); }) {}

void LinkClient::receive(const uint8_t* data, size_t size) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (size < kHeaderSize) {
        m_wellFormed = false;
        return;
    }
    const std::vector<uint8_t> header(data, data + kHeaderSize);
    const int32_t code = i32(header, 8);
    const int32_t length = i32(header, 12);
    m_wellFormed = m_wellFormed && std::memcmp(data, "HT_V", 4) == 0 && length == i32(header, 16) &&
                   size_t(length) == size - kHeaderSize;
    m_last[code].assign(data + kHeaderSize, data + size);
    auto& recent = m_recent[code];
    recent.push_back(m_last[code]);
    if (recent.size() > kRecent) {
        recent.pop_front();
    }
    ++m_counts[code];
}

std::vector<uint8_t> LinkClient::last(int code) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto it = m_last.find(code);
    return it == m_last.end() ? std::vector<uint8_t>() : it->second;
}

size_t LinkClient::count(int code) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto it = m_counts.find(code);
    return it == m_counts.end() ? 0 : it->second;
}

bool LinkClient::headersWellFormed() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_wellFormed;
}

void LinkClient::clear() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_last.clear();
    m_recent.clear();
    m_counts.clear();
}

bool LinkClient::waitFor(int code,
                         const std::function<bool(const std::vector<uint8_t>&)>& predicate,
                         std::chrono::milliseconds timeout) {
    return testsupport::waitFor(
        [&] {
            std::deque<std::vector<uint8_t>> recent;
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                recent = m_recent[code];
            }
            return std::any_of(recent.rbegin(), recent.rend(), predicate);
        },
        timeout, std::chrono::milliseconds(20));
}

bool LinkClient::sendCode(int code) {
    uint8_t message[kHeaderSize] = {'H', 'T', '_', 'O'};
    std::memcpy(message + 8, &code, 4);
    return m_socket.sendTo(m_server, message, sizeof message);
}

KorrinSimProcess::KorrinSimProcess(const std::string& boardRoot,
                                   const std::vector<std::string>& options,
                                   const std::string& execPrefix) {
    std::vector<std::string> argv;
    std::istringstream prefix(execPrefix);
    for (std::string word; prefix >> word;) {
        argv.push_back(word);
    }
    argv.push_back(testsupport::programPath("korrin-sim"));
    argv.insert(argv.end(), options.begin(), options.end());
    const std::string server = boardRoot + "/tmp/server.socket";
    ::unlink(server.c_str());
    m_ready = m_child.start(argv) && testsupport::waitFor([&] {
                  struct stat st {};
                  return ::stat(server.c_str(), &st) == 0 && S_ISSOCK(st.st_mode);
              });
}

std::string probe(const std::string& url, std::string* details, const std::string& prefix) {
    std::string out;
    testsupport::shell(prefix +
                           "timeout 30 ffprobe -v error -show_entries "
                           "stream=codec_type,codec_name,width,height -of compact '" +
                           url + "' 2>&1",
                       &out);
    if (details != nullptr) {
        *details = out;
    }
    std::string video;
    bool aac = false;
    for (const std::string& line : testsupport::splitLines(out)) {
        std::map<std::string, std::string> fields;
        std::istringstream in(line);
        for (std::string item; std::getline(in, item, '|');) {
            const size_t eq = item.find('=');
            if (eq != std::string::npos) {
                fields[item.substr(0, eq)] = item.substr(eq + 1);
            }
        }
        if (fields["codec_type"] == "video" && video.empty()) {
            video = fields["codec_name"] + " " + fields["width"] + "x" + fields["height"];
        } else if (fields["codec_type"] == "audio" && fields["codec_name"] == "aac") {
            aac = true;
        }
    }
    return video.empty() ? std::string() : video + (aac ? ",aac" : "");
}

std::string probeReceived(sluicetest::UdpReceiver& receiver, std::string* details, size_t from) {
    testsupport::waitFor([&] { return receiver.joined().size() >= from + 150000; },
                         std::chrono::seconds(20));
    testsupport::TempDir dir;
    const std::string bytes = receiver.joined();
    testsupport::writeFile(dir.file("received.ts"), bytes.substr(std::min(from, bytes.size())));
    return probe(dir.file("received.ts"), details);
}

}  // namespace toolstest
