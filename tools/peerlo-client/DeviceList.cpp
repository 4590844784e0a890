#include "DeviceList.h"

#include <cjson/cJSON.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>

namespace peerlo_client {
namespace {

using discover::fieldText;

// Device texts come from the network: keep the table to printable characters.
std::string printable(std::string text) {
    for (char& c : text) {
        if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7f) {
            c = '?';
        }
    }
    return text;
}

constexpr size_t kColumns = 12;
using Row = std::array<std::string, kColumns>;

Row rowOf(const discover::deviceInfoStruct& r) {
    return {fieldText(r.deviceName), fieldText(r.ip),
            fieldText(r.mask),       fieldText(r.gateway),
            fieldText(r.dns),        fieldText(r.mac),
            fieldText(r.uid),        std::to_string(discover::recordHttpPort(r)),
            fieldText(r.deviceType), fieldText(r.webVersion),
            fieldText(r.hardware),   fieldText(r.dhcp)};
}

}  // namespace

std::vector<FoundDevice> DeviceList::fromReplies(const std::vector<Reply>& replies) {
    std::vector<FoundDevice> devices;
    for (const Reply& reply : replies) {
        const auto& p = reply.packet;
        if (reply.size != sizeof p || std::memcmp(p.magic, "MO_I", sizeof p.magic) != 0 ||
            discover::packetCommand(p) != discover::DEVICE_SEARCH_REPLY) {
            continue;
        }
        auto it = std::find_if(devices.begin(), devices.end(),
                               [&](const FoundDevice& d) { return d.from == reply.from; });
        if (it == devices.end()) {
            FoundDevice device;
            device.from = reply.from;
            std::memset(&device.record, 0, sizeof device.record);
            // Only the first 176 bytes of the record travel; the rest stays zero.
            std::memcpy(&device.record, p.payload, sizeof p.payload);
            devices.push_back(device);
            it = devices.end() - 1;
        }
        it->to.push_back(reply.to);
    }
    return devices;
}

std::string DeviceList::table(const std::vector<FoundDevice>& devices) {
    const Row header{"NAME", "IP",   "MASK", "GATEWAY", "DNS", "MAC",
                     "UID",  "HTTP", "TYPE", "WEB",     "HW",  "DHCP"};
    std::vector<Row> rows{header};
    for (const auto& d : devices) {
        Row row = rowOf(d.record);
        for (auto& cell : row) {
            cell = printable(cell.empty() ? "-" : cell);
        }
        rows.push_back(row);
    }
    std::array<size_t, kColumns> width{};
    for (const auto& row : rows) {
        for (size_t i = 0; i < kColumns; ++i) {
            width[i] = std::max(width[i], row[i].size());
        }
    }
    std::string out;
    for (const auto& row : rows) {
        std::string line;
        for (size_t i = 0; i < kColumns; ++i) {
            line += row[i];
            if (i + 1 < kColumns) {
                line += std::string(width[i] - row[i].size() + 2, ' ');
            }
        }
        out += line + "\n";
    }
    return out;
}

std::string DeviceList::json(const std::vector<FoundDevice>& devices) {
    std::unique_ptr<cJSON, decltype(&cJSON_Delete)> array(cJSON_CreateArray(), cJSON_Delete);
    for (const auto& d : devices) {
        const Row row = rowOf(d.record);
        cJSON* obj = cJSON_CreateObject();
        cJSON_AddStringToObject(obj, "from", d.from.c_str());
        cJSON_AddStringToObject(obj, "name", row[0].c_str());
        cJSON_AddStringToObject(obj, "ip", row[1].c_str());
        cJSON_AddStringToObject(obj, "mask", row[2].c_str());
        cJSON_AddStringToObject(obj, "gateway", row[3].c_str());
        cJSON_AddStringToObject(obj, "dns", row[4].c_str());
        cJSON_AddStringToObject(obj, "mac", row[5].c_str());
        cJSON_AddStringToObject(obj, "uid", row[6].c_str());
        cJSON_AddNumberToObject(obj, "httpPort", discover::recordHttpPort(d.record));
        cJSON_AddStringToObject(obj, "type", row[8].c_str());
        cJSON_AddStringToObject(obj, "webVersion", row[9].c_str());
        cJSON_AddStringToObject(obj, "hardware", row[10].c_str());
        cJSON_AddStringToObject(obj, "dhcp", row[11].c_str());
        cJSON* to = cJSON_AddArrayToObject(obj, "to");
        for (const auto& dest : d.to) {
            cJSON_AddItemToArray(to, cJSON_CreateString(dest.c_str()));
        }
        cJSON_AddItemToArray(array.get(), obj);
    }
    std::unique_ptr<char, decltype(&cJSON_free)> text(cJSON_Print(array.get()), cJSON_free);
    return text ? std::string(text.get()) + "\n" : std::string("[]\n");
}

}  // namespace peerlo_client
