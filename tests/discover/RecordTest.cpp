// The device record and the packets on the wire: offsets, byte order, truncation.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "DeviceRecord.h"
#include "DiscoveryPacket.h"
#include "DiscoveryResponder.h"

using namespace discover;

namespace {

DeviceFacts sampleFacts() {
    DeviceFacts f;
    f.deviceName = "Encoder-A";
    f.ip = "192.168.1.230";
    f.httpPort = 8080;
    f.deviceType = "1080P";
    f.webVersion = "2.1.0.1";
    f.hardware = "2.0.1.1";
    f.mask = "255.255.255.0";
    f.gateway = "192.168.1.1";
    f.dns = "114.114.114.114";
    f.mac = "44:03:2c:56:79:40";
    f.dhcp = "0";
    f.uid = "UID-0001";
    return f;
}

std::string bytesAt(const void* base, size_t offset, size_t n) {
    return std::string(static_cast<const char*>(base) + offset, n);
}

}  // namespace

TEST(DeviceRecord, FieldsSitAtTheirOffsetsWithLittleEndianPort) {
    const deviceInfoStruct r = DeviceRecord::toRecord(sampleFacts());
    EXPECT_EQ(bytesAt(&r, 0, 10), std::string("Encoder-A\0", 10));
    EXPECT_EQ(bytesAt(&r, 20, 14), std::string("192.168.1.230\0", 14));
    EXPECT_EQ(bytesAt(&r, 40, 4), std::string("\x90\x1f\x00\x00", 4));  // 8080
    EXPECT_EQ(bytesAt(&r, 44, 6), std::string("1080P\0", 6));
    EXPECT_EQ(bytesAt(&r, 54, 8), std::string("2.1.0.1\0", 8));
    EXPECT_EQ(bytesAt(&r, 68, 8), std::string("2.0.1.1\0", 8));
    EXPECT_EQ(bytesAt(&r, 80, 14), std::string("255.255.255.0\0", 14));
    EXPECT_EQ(bytesAt(&r, 97, 12), std::string("192.168.1.1\0", 12));
    EXPECT_EQ(bytesAt(&r, 114, 16), std::string("114.114.114.114\0", 16));
    EXPECT_EQ(bytesAt(&r, 131, 18), std::string("44:03:2c:56:79:40\0", 18));
    EXPECT_EQ(bytesAt(&r, 150, 2), std::string("0\0", 2));
    EXPECT_EQ(bytesAt(&r, 152, 9), std::string("UID-0001\0", 9));
    EXPECT_EQ(bytesAt(&r, 185, 3), std::string(3, '\0'));
}

TEST(DeviceRecord, TextsAreCutToTheirFieldSizeMinusOne) {
    DeviceFacts f = sampleFacts();
    f.deviceName = std::string(25, 'N');
    f.deviceType = "ABCDEFGHIJKLMNOP";
    f.dhcp = "10";
    const deviceInfoStruct r = DeviceRecord::toRecord(f);
    EXPECT_EQ(fieldText(r.deviceName), std::string(19, 'N'));
    EXPECT_EQ(r.deviceName[19], '\0');
    EXPECT_EQ(fieldText(r.deviceType), "ABCDEFGHI");
    EXPECT_EQ(fieldText(r.dhcp), "1");
    EXPECT_EQ(fieldText(r.webVersion), "2.1.0.1");  // neighbours untouched
}

TEST(DiscoveryReply, HeaderAndFirst176BytesOfTheRecord) {
    const DiscoveryPacket p = DeviceRecord::discoveryReply(DeviceRecord::toRecord(sampleFacts()));
    static_assert(sizeof p == 200, "one datagram");
    EXPECT_EQ(bytesAt(&p, 0, 4), "MO_I");
    EXPECT_EQ(bytesAt(&p, 4, 2), std::string("\x01\x00", 2));
    EXPECT_EQ(p.ack, 0);
    EXPECT_EQ(bytesAt(&p, 7, 9), std::string(9, '\0'));
    EXPECT_EQ(bytesAt(&p, 16, 4), std::string("\xbc\x00\x00\x00", 4));  // 188
    EXPECT_EQ(bytesAt(&p, 20, 4), std::string(4, '\0'));
    EXPECT_EQ(bytesAt(&p, 24, 9), std::string("Encoder-A", 9));
}

// The uid field starts at record offset 152, packet offset 176, and the packet ends at 200:
// a long UID travels as its first 24 bytes without terminator, one of 20 arrives whole.
TEST(DiscoveryReply, UidIsCutAtThePacketEnd) {
    DeviceFacts f = sampleFacts();
    f.uid = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123";
    DiscoveryPacket p = DeviceRecord::discoveryReply(DeviceRecord::toRecord(f));
    EXPECT_EQ(bytesAt(&p, 176, 24), "ABCDEFGHIJKLMNOPQRSTUVWX");
    f.uid = DeviceRecord::kPlaceholderUid;
    p = DeviceRecord::discoveryReply(DeviceRecord::toRecord(f));
    EXPECT_EQ(bytesAt(&p, 176, 21), std::string("01234567890123456789\0", 21));
}

TEST(DiscoveryPacketAccessors, CodesAndLengthsAreLittleEndian) {
    DiscoveryPacket p = makePacket(DEVICE_BROAD_SET_IP_REPLY, 1, 86);
    EXPECT_EQ(bytesAt(&p, 4, 3), std::string("\xe9\x03\x01", 3));
    EXPECT_EQ(bytesAt(&p, 16, 4), std::string("\x56\x00\x00\x00", 4));
    EXPECT_EQ(packetCommand(p), 1001);
    EXPECT_EQ(packetLength(p), 86);
    setPacketCommand(p, -2);
    EXPECT_EQ(bytesAt(&p, 4, 2), "\xfe\xff");
    EXPECT_EQ(packetCommand(p), -2);
}

TEST(DiscoveryPacketAccessors, PayloadTextStopsAtThePayloadEnd) {
    DiscoveryPacket p = makePacket(DEVICE_NEW_SET_UID_REBOOT, 0, 1000000);
    std::memset(p.payload, 'A', sizeof p.payload);
    EXPECT_EQ(payloadText(p), std::string(176, 'A'));
    p.payload[5] = '\0';
    EXPECT_EQ(payloadText(p), "AAAAA");
}

TEST(InterfaceChoice, WiredUnlessUnpluggedOnWifiAndLteIsFlagged) {
    struct Case {
        int connectionType;
        bool linkUp;
        const char* ifname;
        bool lte;
    };
    const Case cases[] = {
        {0, true, "eth0", false},   {0, false, "eth0", false}, {1, true, "eth0", false},
        {1, false, "wlan0", false}, {2, true, "eth0", true},   {2, false, "eth0", true},
        {7, false, "eth0", false},
    };
    for (const auto& c : cases) {
        const auto choice = DiscoveryResponder::chooseInterface(c.connectionType, c.linkUp);
        EXPECT_EQ(choice.ifname, c.ifname) << c.connectionType << " " << c.linkUp;
        EXPECT_EQ(choice.lteMode, c.lte) << c.connectionType;
    }
}
