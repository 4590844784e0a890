#include "OwnPorts.h"

#include <dirent.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>

namespace {

// The inodes of this process's sockets ("socket:[12345]" links in /proc/self/fd).
std::set<std::string> ownSocketInodes() {
    std::set<std::string> inodes;
    DIR* fds = ::opendir("/proc/self/fd");
    if (fds == nullptr) {
        return inodes;
    }
    while (const dirent* entry = ::readdir(fds)) {
        char target[64] = {0};
        const std::string link = std::string("/proc/self/fd/") + entry->d_name;
        const ssize_t n = ::readlink(link.c_str(), target, sizeof target - 1);
        const std::string text(target, n > 0 ? static_cast<size_t>(n) : 0);
        if (text.rfind("socket:[", 0) == 0 && text.back() == ']') {
            inodes.insert(text.substr(8, text.size() - 9));
        }
    }
    ::closedir(fds);
    return inodes;
}

}  // namespace

std::set<int> ownUdpPorts() {
    const std::set<std::string> inodes = ownSocketInodes();
    std::set<int> ports;
    std::ifstream table("/proc/net/udp");
    std::string line;
    std::getline(table, line);  // the column names
    while (std::getline(table, line)) {
        // sl local_address rem_address st tx_queue:rx_queue tr:tm->when retrnsmt uid timeout inode
        std::istringstream fields(line);
        std::string slot, local, remote, state, queues, timer, retransmits, uid, timeout, inode;
        fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid >>
            timeout >> inode;
        const size_t colon = local.find(':');
        if (colon != std::string::npos && inodes.count(inode) != 0) {
            ports.insert(std::stoi(local.substr(colon + 1), nullptr, 16));
        }
    }
    return ports;
}
