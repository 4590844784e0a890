#pragma once
// The names and addresses this device answers to, for the cross-site check.

#include <chrono>
#include <set>
#include <string>
#include <vector>

namespace http {

/// "localhost", the host name (and "<name>.local"), every address of every interface
/// (IPv6 in brackets), and names added by the program. Interface addresses change (DHCP,
/// Wi-Fi); they are read again when the last reading is older than kRefresh. Not thread
/// safe: one object belongs to the server's event loop.
class OwnHosts {
public:
    static constexpr std::chrono::seconds kRefresh{5};

    /// Names that also count as the device's own (lower-cased on use).
    void setExtraNames(const std::vector<std::string>& names);

    /// Whether host (lower case) is one of the device's own.
    bool contains(const std::string& host);

private:
    void refresh();

    std::vector<std::string> m_extra;
    std::set<std::string> m_hosts;
    std::chrono::steady_clock::time_point m_readAt{};
    bool m_read = false;
};

}  // namespace http
