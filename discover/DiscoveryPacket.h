#pragma once
// The discovery protocol's wire records, shared by peerlo and the tools that talk to it.
// Header only, with no dependency beyond the C library, so a peer tool can include it.
//
// Every datagram peerlo sends is exactly one DiscoveryPacket (200 bytes). Integers are
// little-endian on the wire; use the accessors below instead of the raw fields.

#include <endian.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

namespace discover {

/// UDP port peerlo listens on, and the group it joins.
constexpr uint16_t kDiscoveryPort = 9002;
constexpr const char* kDiscoveryGroup = "225.192.168.225";

/// Command and reply codes (offset 4 of the packet).
enum Command : int16_t {
    DEVICE_SEARCH_REQ = 0,
    DEVICE_SEARCH_REPLY = 1,
    DEVICE_SYS_REBOOT_CMD = 20,
    DEVICE_SYS_RESTORE_CMD = 40,
    DEVICE_RANDOM_MAC_CMD = 52,
    DEVICE_NEW_SET_UID_REBOOT = 155,
    DEVICE_NEW_SET_UID_REPLY = 156,
    DEVICE_NEW_SET_MAC = 157,
    DEVICE_NEW_SET_MAC_REPLY = 159,
    QUERY_NEW_SET_MACUID = 162,
    DEVICE_ALIVE_REQ = 165,
    DEVICE_ALIVE_REPLY = 166,
    DEVICE_BROAD_SET_IP_REQ = 1000,
    DEVICE_BROAD_SET_IP_REPLY = 1001,
};

#pragma pack(push, 1)

/// The datagram of both directions.
struct DiscoveryPacket {
    char magic[4];  // "MO_I" in the discovery reply, zero otherwise
    int16_t command;
    uint8_t ack;  // 1 in replies to provisioning commands
    uint8_t reserved1[9];
    int32_t length;  // payload length
    uint8_t reserved2[4];
    uint8_t payload[176];
};

/// The device record carried by the discovery reply. Texts are zero-terminated within their
/// field when they are shorter than it.
struct deviceInfoStruct {
    char deviceName[20];
    char ip[20];
    int32_t httpPort;
    char deviceType[10];
    char webVersion[14];
    char hardware[12];
    char mask[17];
    char gateway[17];
    char dns[17];
    char mac[19];
    char dhcp[2];
    char uid[33];
    uint8_t padding[3];
};

/// Payload of DEVICE_BROAD_SET_IP_REQ.
struct SetIpRequest {
    char origIp[17];
    char newIp[17];
    char mask[17];
    char gate[17];
    char dns[17];
    uint8_t dhcp;
};

#pragma pack(pop)

static_assert(sizeof(DiscoveryPacket) == 200, "every discovery datagram is 200 bytes");
static_assert(offsetof(DiscoveryPacket, command) == 4, "command at offset 4");
static_assert(offsetof(DiscoveryPacket, ack) == 6, "ack at offset 6");
static_assert(offsetof(DiscoveryPacket, length) == 16, "length at offset 16");
static_assert(offsetof(DiscoveryPacket, payload) == 24, "payload at offset 24");

static_assert(sizeof(deviceInfoStruct) == 188, "the device record is 188 bytes");
static_assert(offsetof(deviceInfoStruct, ip) == 20, "ip at 20");
static_assert(offsetof(deviceInfoStruct, httpPort) == 40, "httpPort at 40");
static_assert(offsetof(deviceInfoStruct, deviceType) == 44, "deviceType at 44");
static_assert(offsetof(deviceInfoStruct, webVersion) == 54, "webVersion at 54");
static_assert(offsetof(deviceInfoStruct, hardware) == 68, "hardware at 68");
static_assert(offsetof(deviceInfoStruct, mask) == 80, "mask at 80");
static_assert(offsetof(deviceInfoStruct, gateway) == 97, "gateway at 97");
static_assert(offsetof(deviceInfoStruct, dns) == 114, "dns at 114");
static_assert(offsetof(deviceInfoStruct, mac) == 131, "mac at 131");
static_assert(offsetof(deviceInfoStruct, dhcp) == 150, "dhcp at 150");
static_assert(offsetof(deviceInfoStruct, uid) == 152, "uid at 152");
static_assert(offsetof(deviceInfoStruct, padding) == 185, "padding at 185");

static_assert(sizeof(SetIpRequest) == 86, "the set-IP payload is 86 bytes");
static_assert(sizeof(SetIpRequest) <= sizeof(DiscoveryPacket::payload), "fits the payload");

// ---- accessors: the wire is little-endian whatever the host is ----

inline int16_t packetCommand(const DiscoveryPacket& p) {
    return static_cast<int16_t>(le16toh(static_cast<uint16_t>(p.command)));
}
inline void setPacketCommand(DiscoveryPacket& p, int16_t command) {
    p.command = static_cast<int16_t>(htole16(static_cast<uint16_t>(command)));
}
inline int32_t packetLength(const DiscoveryPacket& p) {
    return static_cast<int32_t>(le32toh(static_cast<uint32_t>(p.length)));
}
inline void setPacketLength(DiscoveryPacket& p, int32_t length) {
    p.length = static_cast<int32_t>(htole32(static_cast<uint32_t>(length)));
}
inline int32_t recordHttpPort(const deviceInfoStruct& r) {
    return static_cast<int32_t>(le32toh(static_cast<uint32_t>(r.httpPort)));
}
inline void setRecordHttpPort(deviceInfoStruct& r, int32_t port) {
    r.httpPort = static_cast<int32_t>(htole32(static_cast<uint32_t>(port)));
}

/// A zeroed packet with the given command, ack and length.
inline DiscoveryPacket makePacket(int16_t command, uint8_t ack = 0, int32_t length = 0) {
    DiscoveryPacket p;
    std::memset(&p, 0, sizeof p);
    setPacketCommand(p, command);
    p.ack = ack;
    setPacketLength(p, length);
    return p;
}

/// The text of a fixed-size field: up to its first zero byte, never past its end (a field
/// filled to the brim has no terminator).
inline std::string fieldText(const char* field, size_t size) {
    return std::string(field, strnlen(field, size));
}
template <size_t N>
std::string fieldText(const char (&field)[N]) {
    return fieldText(field, N);
}

/// The payload as text, read within its 176 bytes whatever the length field says.
inline std::string payloadText(const DiscoveryPacket& p) {
    return fieldText(reinterpret_cast<const char*>(p.payload), sizeof p.payload);
}

/// Copies text into a field, cut to the field size minus one and zero-terminated.
template <size_t N>
void setFieldText(char (&field)[N], const std::string& text) {
    static_assert(N > 0, "field has room for the terminator");
    const size_t n = text.size() < N - 1 ? text.size() : N - 1;
    std::memcpy(field, text.data(), n);
    std::memset(field + n, 0, N - n);
}

}  // namespace discover
