// The device handler's live status operations: which media records, settings and board files
// feed each answer. The texts themselves are checked on StatusReport.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>

#include "DeviceFixture.h"
#include "NetQuery.h"

namespace {

using testsupport::writeFile;

std::string liveAddress() {
    std::string name;
    enc::getActiveInterface(name);
    return enc::ipv4Text(enc::getInterfaceAddress(name));
}

template <size_t N>
void put(char (&field)[N], const char* text) {
    std::memset(field, 0, N);
    std::strncpy(field, text, N - 1);
}

TEST_F(DeviceTest, InputStatusFromRecordsUnlessTheMediaStateFileExists) {
    enc::InputSignalRecord signal{};
    signal.signalFlags = 1;
    signal.scanType = 'P';
    signal.width = 1920;
    signal.height = 1080;
    signal.rate = 60;
    media.setInputSignal(signal);
    enc::SystemStatusRecord sys{};
    put(sys.mainInputName, "HDMI");
    media.setSystemStatus(sys);
    enc::AudioInputRecord audio{};
    put(audio.format, "PCM");
    audio.sampleRate = 44100;
    audio.bits = 16;
    media.setAudioInput(audio);
    auto handler = makeHandler();

    enc::InputStatus in;
    ASSERT_EQ(handler->getInputStatus(0, in), 0);
    EXPECT_EQ(in.type, "HDMI");
    EXPECT_EQ(in.video, "1920 * 1080 P @ 60");
    EXPECT_EQ(in.audio, "16 bits PCM 44100");

    writeFile(board.path("/tmp/media_state"), "720*576@50\nLine\n");
    ASSERT_EQ(handler->getInputStatus(0, in), 0);
    EXPECT_EQ(in.video, "720*576@50\n");
    EXPECT_EQ(in.audio, "Line\n");
    EXPECT_EQ(in.type, "HDMI");  // kept from the previous answer
    writeFile(board.path("/tmp/media_state"), "720*576@25");
    ASSERT_EQ(handler->getInputStatus(0, in), 0);
    EXPECT_EQ(in.video, "720*576@25");
    EXPECT_EQ(in.audio, "");
}

TEST_F(DeviceTest, StreamStatusFromRecordsAndSettings) {
    writeSettings(
        "[master_video]\ncodec=H.265\n[sub_video]\ncodec=H.264\n"
        "[master_protocol]\nmulticastEnabled=1\nmulticastAddr=235.1.1.1\nmulticastPort=5000\n"
        "tsHttpEnabled=1\ntsHttpPort=8081\n"
        "[audio]\ncodec=AAC\nresample=48000\nsampleRate=128000\ncheckRate=0\n");
    enc::SystemStatusRecord sys{};
    sys.mainWidth = 1920;
    sys.mainHeight = 1080;
    sys.mainFps = 60;
    sys.subWidth = 640;
    sys.subHeight = 360;
    sys.subFps = 30;
    media.setSystemStatus(sys);
    auto handler = makeHandler();

    enc::StreamStatus s;
    ASSERT_EQ(handler->getStreamStatus(0, s), 0);
    EXPECT_EQ(s.video, "(H.265) 1920 * 1080 @ 60 fps");
    EXPECT_EQ(s.audio, "(AAC) 2 ch, 16 bits, 48000HZ @ 128000 bps");
    EXPECT_EQ(s.addr, "udp://235.1.1.1:5000");
    EXPECT_EQ(s.tsHttp, "http://" + liveAddress() + ":8081");
    EXPECT_EQ(s.ts, "");
    ASSERT_EQ(handler->getStreamStatus(1, s), 0);
    EXPECT_EQ(s.video, "disabled");
    EXPECT_EQ(s.addr, "");  // the sub stream's multicast is off

    sys.mainFps = 30;  // the sub stream runs up to a main rate of 30
    media.setSystemStatus(sys);
    ASSERT_EQ(handler->getStreamStatus(1, s), 0);
    EXPECT_EQ(s.video, "(H.264) 640 * 360 @ 30 fps");
}

TEST_F(DeviceTest, StreamUrlsUseTheDeviceAddress) {
    writeSettings(
        "[master_protocol]\nrtspEnabled=1\nrtspPort=8554\nrtspName=/live\nrtmpEnabled=1\n"
        "rtmpAddr=rtmp://10.0.0.9/app\n[master_video]\ncodec=H.264\n"
        "[sub_protocol]\nrtspEnabled=0\nrtmpEnabled=1\n[sub_video]\ncodec=H.265\n");
    auto handler = makeHandler();
    enc::StreamUrl url;
    ASSERT_EQ(handler->getStreamUrl(0, url), 0);
    EXPECT_EQ(url.rtsp, "rtsp://" + liveAddress() + ":8554/live");
    EXPECT_EQ(url.http, "rtmp://10.0.0.9/app");
    ASSERT_EQ(handler->getStreamUrl(1, url), 0);
    EXPECT_EQ(url.rtsp, "");
    EXPECT_EQ(url.http, "");

    // The media process could not open the RTSP port: the text says so, for that port only
    // (a report about another port is stale), and never for a stream with RTSP off.
    enc::EncodeStatusRecord encode{};
    encode.stream[1].rtspFailedPort = 554;
    for (int port : {8554, 554, 0}) {
        encode.stream[0].rtspFailedPort = port;
        media.setEncodeStatus(encode);
        ASSERT_EQ(handler->getStreamUrl(0, url), 0);
        EXPECT_EQ(url.rtsp, port == 8554 ? "not served: port 8554 cannot be opened"
                                         : "rtsp://" + liveAddress() + ":8554/live");
    }
    ASSERT_EQ(handler->getStreamUrl(1, url), 0);
    EXPECT_EQ(url.rtsp, "");
}

TEST_F(DeviceTest, ProtocolAnswerCarriesTheDeviceAddressWithoutSavingIt) {
    auto handler = makeHandler();
    enc::ProtocolSettings p;
    ASSERT_EQ(handler->getProtocol(1, p), 0);
    EXPECT_EQ(p.tsHttpAddr, liveAddress());
    EXPECT_EQ(p.rtspName, "/sub");
    EXPECT_FALSE(testsupport::fileExists(settingsPath()));
}

TEST_F(DeviceTest, SysInfoFromBoardFiles) {
    writeSettings("[storage]\nserverIP=10.2.2.2\npath=/rec\nplace=2\nshow=1\nopacity=40\n");
    auto handler = makeHandler();
    enc::SysInfo s;
    ASSERT_EQ(handler->getSysInfo(s), 0);
    EXPECT_EQ(s.softVersion, "1.0.0-sandbox\n");
    ASSERT_GE(s.uptime.size(), 15u) << s.uptime;
    EXPECT_EQ(s.uptime.substr(s.uptime.size() - 13, 2), "D-") << s.uptime;
    EXPECT_EQ(s.serverIP + s.path, "10.2.2.2/rec");
    EXPECT_EQ(std::vector<int>({s.place, s.show, s.opacity}), std::vector<int>({2, 1, 40}));

    ::unlink(board.path("/tmp/uid.txt").c_str());
    ::unlink(board.path("/etc/fs-version").c_str());
    ASSERT_EQ(handler->getSysInfo(s), 0);
    EXPECT_EQ(s.devSeq, "");
    EXPECT_EQ(s.softVersion, "");
}

TEST_F(DeviceTest, OutputTypeWithoutReload) {
    auto handler = makeHandler();
    enc::OutputSettings o;
    o.videoRes = "3840*2160";
    ASSERT_EQ(writeDoc<enc::OutputSettings>(*handler, 0, o, response), 0);
    writeSettings("[output]\nvideoRes=1280*720\n");  // not reread by getOutput
    enc::OutputSettings out;
    ASSERT_EQ(handler->getOutput(out), 0);
    EXPECT_EQ(out.typeStr, "HDMI");
    EXPECT_EQ(out.resStr, "3840*2160");
}

TEST_F(DeviceTest, LteReportsLinkAddressesAndTheActiveSimFile) {
    auto handler = makeHandler();
    enc::LteStatus lte;
    ASSERT_EQ(handler->getLte(lte), 0);
    EXPECT_EQ(lte.mask, "255.255.255.255");
    EXPECT_EQ(lte.ip, "255.255.255.255");  // no ppp0 here
    EXPECT_EQ(lte.gate, enc::ipv4Text(enc::getDefaultGateway()));
    EXPECT_EQ(lte.esimActive, 0);
    writeFile(board.path("/mnt/config/active_sim"), "861234567890123");
    ASSERT_EQ(handler->getLte(lte), 0);
    EXPECT_EQ(lte.esimActive, 1);
}

TEST_F(DeviceTest, NetworkAnswerTakesNameServersFromTheResolverFile) {
    writeFile(board.path("/etc/resolv.conf"), "nameserver 10.0.0.53\nnameserver 10.0.0.54\n");
    auto handler = makeHandler();
    enc::NetworkSettings n;
    ASSERT_EQ(handler->getNetwork(n), 0);
    EXPECT_EQ(n.dnsFirst, "10.0.0.53");
    EXPECT_EQ(n.dnsSecond, "10.0.0.54");
    std::string name;
    enc::getActiveInterface(name);
    if (name == "eth0") {
        EXPECT_EQ(n.ip, liveAddress());
    } else {
        EXPECT_EQ(n.ip, "192.168.1.230");  // the default stays
    }
    ::unlink(board.path("/etc/resolv.conf").c_str());
    ASSERT_EQ(handler->getNetwork(n), 0);
    EXPECT_EQ(n.dnsFirst, "");
    EXPECT_EQ(n.dnsSecond, "");
}

TEST_F(DeviceTest, WifiStateFromTheWirelessTool) {
    auto handler = makeHandler();
    enc::WifiSettings w;
    ASSERT_EQ(handler->getWifiParam(w), 0);
    EXPECT_EQ(w.state, 0);  // the sandbox's iwconfig reports "unassociated"
    EXPECT_TRUE(logHas("iwconfig wlan0"));

    ::mkdir(board.path("/var/sandbox").c_str(), 0755);
    writeFile(board.path("/var/sandbox/iwconfig.out"), "wlan0     IEEE 802.11  ESSID:\"office\"\n");
    writeFile(board.path("/var/sandbox/iwconfig.exit"), "0\n");
    ASSERT_EQ(handler->getWifiParam(w), 0);
    EXPECT_EQ(w.state, 1);

    // Without the tool nothing says the Wi-Fi is associated.
    ::unlink(board.path("/sbin/iwconfig").c_str());
    ASSERT_EQ(handler->getWifiParam(w), 0);
    EXPECT_EQ(w.state, 0);
    EXPECT_FALSE(testsupport::fileExists(settingsPath()));  // live state is not saved
}

}  // namespace
