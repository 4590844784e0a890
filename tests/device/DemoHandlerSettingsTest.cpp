// The device handler's settings operations against a sandbox board: clamps, what is saved,
// change codes, board commands and the index rules.

#include <gtest/gtest.h>

#include "DeviceFixture.h"
#include "MediaMessage.h"

namespace {

using testsupport::fileExists;
using testsupport::readFile;
using testsupport::writeFile;

enc::SystemStatusRecord systemWithInputFps(int fps) {
    enc::SystemStatusRecord system{};
    system.inputFps = fps;
    return system;
}

enc::VideoSettings video(int framerate, int gop, int bitrate, int minQp = 20, int maxQp = 30) {
    enc::VideoSettings v;
    v.codec = "H.264";
    v.profile = "main";
    v.framerate = framerate;
    v.gop = gop;
    v.bitrate = bitrate;
    v.minQp = minQp;
    v.maxQp = maxQp;
    return v;
}

TEST_F(DeviceTest, SetVideoFramerateFollowsTheInputForTheMainStream) {
    media.setSystemStatus(systemWithInputFps(50));
    auto handler = makeHandler();
    struct Case {
        int index;
        int requested;
        int stored;
    };
    const Case cases[] = {
        {0, 50, 50}, {0, 52, 52}, {0, 53, 30}, {0, 15, 15}, {0, 14, 30}, {0, -1, 30},
        {1, 15, 15}, {1, 30, 30}, {1, 31, 30}, {1, 60, 30}, {1, 14, 30},
    };
    for (const auto& c : cases) {
        ASSERT_EQ(handler->setVideo(c.index, video(c.requested, 30, 2048), response), 0);
        EXPECT_EQ(savedSettings().video[c.index].framerate, c.stored)
            << "index " << c.index << " framerate " << c.requested;
    }
}

TEST_F(DeviceTest, SetVideoWithoutInputReportKeepsNoMainFramerate) {
    // Until the media process reports, the input rate is 0: only the default is safe.
    auto handler = makeHandler();
    ASSERT_EQ(handler->setVideo(0, video(25, 30, 2048), response), 0);
    EXPECT_EQ(savedSettings().video[0].framerate, 30);
}

TEST_F(DeviceTest, SetVideoClampsGopBitrateAndQuantisers) {
    media.setSystemStatus(systemWithInputFps(30));
    auto handler = makeHandler();
    struct Case {
        int index;
        enc::VideoSettings in;
        int gop, bitrate, minQp, maxQp;
    };
    const Case cases[] = {
        {0, video(25, 1, 2048), 30, 2048, 20, 30},
        {0, video(25, 2, 2048), 2, 2048, 20, 30},
        {0, video(25, 200, 2048), 200, 2048, 20, 30},
        {0, video(25, 201, 2048), 30, 2048, 20, 30},
        {0, video(25, 30, 100), 30, 2500, 20, 30},
        {1, video(25, 30, 100), 30, 1000, 20, 30},
        {0, video(25, 30, 256), 30, 256, 20, 30},
        {1, video(25, 30, 12000), 30, 12000, 20, 30},
        {1, video(25, 30, 12001), 30, 1000, 20, 30},
        {0, video(25, 30, 2048, 11, 52), 30, 2048, 12, 40},
        {0, video(25, 30, 2048, 12, 51), 30, 2048, 12, 51},
        // A lower limit above the upper one meets it there.
        {0, video(25, 30, 2048, 45, 30), 30, 2048, 30, 30},
        {0, video(25, 30, 2048, 50, 60), 30, 2048, 40, 40},
    };
    for (const auto& c : cases) {
        ASSERT_EQ(handler->setVideo(c.index, c.in, response), 0);
        const enc::VideoSettings saved = savedSettings().video[c.index];
        EXPECT_EQ(saved.gop, c.gop) << "gop " << c.in.gop;
        EXPECT_EQ(saved.bitrate, c.bitrate) << "bitrate " << c.in.bitrate;
        EXPECT_EQ(saved.minQp, c.minQp) << "minQp " << c.in.minQp << " maxQp " << c.in.maxQp;
        EXPECT_EQ(saved.maxQp, c.maxQp) << "minQp " << c.in.minQp << " maxQp " << c.in.maxQp;
        EXPECT_EQ(saved.codec, "H.264");
    }
}

TEST_F(DeviceTest, SettersSendTheirChangeCodeAndSync) {
    auto handler = makeHandler();
    struct Step {
        const char* what;
        std::function<int()> call;
        int code;
    };
    const std::vector<Step> steps = {
        {"video 0", [&] { return handler->setVideo(0, video(25, 30, 2048), response); },
         enc::kCodeMainVideo},
        {"video 1", [&] { return handler->setVideo(1, video(25, 30, 2048), response); },
         enc::kCodeSubVideo},
        {"protocol 0", [&] { return handler->setProtocol(0, {}, response); },
         enc::kCodeMainProtocol},
        {"protocol 1", [&] { return handler->setProtocol(1, {}, response); },
         enc::kCodeSubProtocol},
        {"osd 0", [&] { return handler->setOsd(0, {}, {}, response); }, enc::kCodeMainOverlay},
        {"osd 1", [&] { return handler->setOsd(1, {}, {}, response); }, enc::kCodeSubOverlay},
        {"logo 0", [&] { return handler->setLogo(0, {}, response); }, enc::kCodeMainOverlay},
        {"logo 1", [&] { return handler->setLogo(1, {}, response); }, enc::kCodeSubOverlay},
        {"chroma 0", [&] { return handler->setChroma(0, {}, response); }, enc::kCodeMainChroma},
        {"chroma 1", [&] { return handler->setChroma(1, {}, response); }, enc::kCodeSubChroma},
        {"chroma 2", [&] { return handler->setChroma(2, {}, response); }, enc::kCodeSubChroma},
        {"audio", [&] { return handler->setAudio({}, response); }, enc::kCodeAudioChanged},
        {"output", [&] { return handler->setOutput({}, response); }, enc::kCodeOutputChanged},
        {"sysinfo", [&] { return handler->setSysInfo({}, response); }, enc::kCodeAudioChanged},
    };
    for (const auto& step : steps) {
        standIn->clear();
        board.clearBoardLog();
        ASSERT_EQ(step.call(), 0) << step.what;
        ASSERT_TRUE(standIn->waitForCount(1)) << step.what;
        EXPECT_EQ(standIn->codes(), std::vector<int>{step.code}) << step.what;
        EXPECT_EQ(board.boardLog(), std::vector<std::string>{"/bin/sync"}) << step.what;
    }
}

TEST_F(DeviceTest, SettersWithoutChangeCodeStillSaveAndSync) {
    auto handler = makeHandler();
    enc::NetworkSettings net;
    net.ip = "10.0.0.5";
    net.mask = "255.255.255.0";
    net.gate = "10.0.0.1";
    net.dnsFirst = "10.0.0.1";
    enc::WifiSettings wifi;
    wifi.essid = "office";
    enc::FtpSettings ftp;
    ftp.ftpserverIP = "10.0.0.9";
    enc::UpgradeServerSettings server;
    server.serverIP = "10.0.0.7";
    ASSERT_EQ(handler->setNetwork(net, response), 0);
    ASSERT_EQ(handler->setWifiParam(wifi, response), 0);
    ASSERT_EQ(handler->setFtpServer(ftp, response), 0);
    ASSERT_EQ(handler->setHttpSet(server, response), 0);
    const auto log = board.boardLog();
    EXPECT_EQ(std::count(log.begin(), log.end(), "/bin/sync"), 4);
    const auto saved = savedSettings();
    EXPECT_EQ(saved.network.ip, "10.0.0.5");
    EXPECT_EQ(saved.wifi.essid, "office");
    EXPECT_EQ(saved.ftp.ftpserverIP, "10.0.0.9");
    EXPECT_EQ(saved.upgradeServer.serverIP, "10.0.0.7");

    // A sentinel change code proves that none of the above sent one.
    ASSERT_EQ(handler->setAudio({}, response), 0);
    ASSERT_TRUE(standIn->waitForCode(enc::kCodeAudioChanged));
    EXPECT_EQ(standIn->codes(), std::vector<int>{enc::kCodeAudioChanged});
}

TEST_F(DeviceTest, BadIndexAnswersMinusOneAndChangesNothing) {
    auto handler = makeHandler();
    ASSERT_EQ(handler->setAudio({}, response), 0);  // a settings file to compare against
    ASSERT_TRUE(standIn->waitForCount(1));
    standIn->clear();
    board.clearBoardLog();
    const std::string before = settingsText();

    enc::VideoSettings v;
    enc::ProtocolSettings p;
    enc::OsdSettings o1, o2;
    enc::LogoSettings l;
    enc::StreamStatus s;
    enc::StreamUrl u;
    for (int index : {-1, 2, 100}) {
        EXPECT_EQ(handler->setVideo(index, video(25, 30, 2048), response), -1);
        EXPECT_EQ(handler->setProtocol(index, p, response), -1);
        EXPECT_EQ(handler->setOsd(index, o1, o2, response), -1);
        EXPECT_EQ(handler->setLogo(index, l, response), -1);
        EXPECT_EQ(handler->getVideo(index, v), -1);
        EXPECT_EQ(handler->getProtocol(index, p), -1);
        EXPECT_EQ(handler->getOsd(index, o1, o2), -1);
        EXPECT_EQ(handler->getLogo(index, l), -1);
        EXPECT_EQ(handler->getStreamStatus(index, s), -1);
        EXPECT_EQ(handler->getStreamUrl(index, u), -1);
    }
    EXPECT_EQ(settingsText(), before);
    EXPECT_TRUE(board.boardLog().empty());
    ASSERT_EQ(handler->setOutput({}, response), 0);
    ASSERT_TRUE(standIn->waitForCount(1));
    EXPECT_EQ(standIn->codes(), std::vector<int>{enc::kCodeOutputChanged});
}

TEST_F(DeviceTest, ChromaIndexZeroIsMainAndAnyOtherIsSub) {
    auto handler = makeHandler();
    enc::ChromaSettings c;
    c.brightness = 61;
    c.contrast = 62;
    c.hue = 63;
    c.saturation = 64;
    ASSERT_EQ(handler->setChroma(2, c, response), 0);
    const auto text = settingsText();
    EXPECT_NE(text.find("brightness_s=61"), std::string::npos);
    EXPECT_NE(text.find("saturation_s=64"), std::string::npos);
    EXPECT_NE(text.find("brightness=50"), std::string::npos);  // main unchanged
    enc::ChromaSettings out;
    ASSERT_EQ(handler->getChroma(7, out), 0);
    EXPECT_EQ(out.hue, 63);
    ASSERT_EQ(handler->getChroma(0, out), 0);
    EXPECT_EQ(out.hue, 50);
}

TEST_F(DeviceTest, SetProtocolReplacesPortsOutsideTheirRange) {
    auto handler = makeHandler();
    enc::ProtocolSettings p;
    p.httpPort = 0;
    p.rtspPort = 65536;
    p.multicastPort = -5;
    p.rtmpPort = 0;
    p.tsPort = 0;
    p.tsHttpPort = 0;
    p.tsAddr = "239.1.1.1";
    ASSERT_EQ(handler->setProtocol(1, p, response), 0);
    auto saved = savedSettings().protocol[1];
    EXPECT_EQ(saved.httpPort, 80);
    EXPECT_EQ(saved.rtspPort, 554);
    EXPECT_EQ(saved.multicastPort, 5000);
    EXPECT_EQ(saved.rtmpPort, 1935);
    EXPECT_EQ(saved.tsPort, 20001);
    EXPECT_EQ(saved.tsHttpPort, 8082);
    EXPECT_EQ(savedSettings().streamStatus[1].ts, "239.1.1.1");
    ASSERT_TRUE(standIn->waitForCode(enc::kCodeSubProtocol));

    ASSERT_EQ(handler->setProtocol(0, p, response), 0);
    saved = savedSettings().protocol[0];
    EXPECT_EQ(saved.tsPort, 20000);
    EXPECT_EQ(saved.tsHttpPort, 8081);

    p.httpPort = 1;
    p.rtspPort = 65535;
    ASSERT_EQ(handler->setProtocol(0, p, response), 0);
    saved = savedSettings().protocol[0];
    EXPECT_EQ(saved.httpPort, 1);
    EXPECT_EQ(saved.rtspPort, 65535);
}

TEST_F(DeviceTest, SetOsdClampsEachOverlayByItsOwnLimits) {
    auto handler = makeHandler();
    enc::OsdSettings first;
    first.x = 1921;
    first.y = -1;
    first.fontSize = 0;
    first.opacity = 129;
    enc::OsdSettings second;
    second.x = 8193;
    second.y = 8193;
    second.fontSize = 0;
    second.opacity = -1;
    ASSERT_EQ(handler->setOsd(0, first, second, response), 0);
    enc::OsdSettings a, b;
    ASSERT_EQ(handler->getOsd(0, a, b), 0);
    EXPECT_EQ(a.x, 10);
    EXPECT_EQ(a.y, 10);
    EXPECT_EQ(a.fontSize, 2);
    EXPECT_EQ(a.opacity, 5);
    EXPECT_EQ(b.x, 10);
    EXPECT_EQ(b.y, 500);
    EXPECT_EQ(b.fontSize, 1);
    EXPECT_EQ(b.opacity, 5);

    first = {};
    first.x = 1920;
    first.y = 1080;
    first.fontSize = 7;
    first.opacity = 128;
    second = {};
    second.x = 8192;
    second.y = 8192;
    second.fontSize = 1;
    second.opacity = 0;
    ASSERT_EQ(handler->setOsd(1, first, second, response), 0);
    ASSERT_EQ(handler->getOsd(1, a, b), 0);
    EXPECT_EQ(a.x, 1920);
    EXPECT_EQ(a.y, 1080);
    EXPECT_EQ(a.fontSize, 7);
    EXPECT_EQ(a.opacity, 128);
    EXPECT_EQ(b.x, 8192);
    EXPECT_EQ(b.y, 8192);
    EXPECT_EQ(b.opacity, 0);
}

TEST_F(DeviceTest, SetFtpServerClampsTimeZoneAndCycle) {
    auto handler = makeHandler();
    struct Case {
        int zone, cycle, storedZone, storedCycle;
    };
    const Case cases[] = {
        {12, 25, 8, 1}, {-13, -1, 8, 1}, {-12, 0, -12, 0}, {11, 24, 11, 24}, {0, 4, 0, 4},
    };
    for (const auto& c : cases) {
        enc::FtpSettings f;
        f.localtimezone = c.zone;
        f.ftptime = c.cycle;
        f.timeServer = "ntp.example";
        ASSERT_EQ(handler->setFtpServer(f, response), 0);
        enc::FtpSettings out;
        ASSERT_EQ(handler->getFtpServer(out), 0);
        EXPECT_EQ(out.localtimezone, c.storedZone) << c.zone;
        EXPECT_EQ(out.ftptime, c.storedCycle) << c.cycle;
        EXPECT_EQ(out.timeServer, "ntp.example");
    }
    const auto text = settingsText();
    EXPECT_NE(text.find("cycle=4"), std::string::npos);
    EXPECT_NE(text.find("localtimezone=0"), std::string::npos);
}

TEST_F(DeviceTest, IrcutAndLteLiveInMemoryOnly) {
    auto handler = makeHandler();
    enc::IrcutSettings ircut;
    ircut.gpsInterval = 5;
    ircut.devIme = "imei-1";
    ASSERT_EQ(handler->setIrcutConf(ircut, response), 0);
    enc::IrcutSettings out;
    ASSERT_EQ(handler->getIrcutConf(out), 0);  // reloads the file, keeps the record
    EXPECT_EQ(out.gpsInterval, 20);
    EXPECT_EQ(out.devIme, "imei-1");
    ircut.gpsInterval = 20;
    ASSERT_EQ(handler->setIrcutConf(ircut, response), 0);
    ASSERT_EQ(handler->getIrcutConf(out), 0);
    EXPECT_EQ(out.gpsInterval, 20);
    EXPECT_EQ(settingsText().find("imei-1"), std::string::npos);
    EXPECT_TRUE(board.boardLog().empty());  // no sync

    enc::LteStatus lte;
    lte.server = "operator";
    const std::string before = settingsText();
    board.clearBoardLog();
    ASSERT_EQ(handler->setLte(lte, response), 0);
    EXPECT_EQ(settingsText(), before);
    EXPECT_TRUE(board.boardLog().empty());
}

TEST_F(DeviceTest, SetIrcutConfReportsAFailedSave) {
    media.setSystemStatus(systemWithInputFps(30));
    DemoHandler handler(link, media, board.path("/mnt/no-such-dir/encoder.ini"));
    enc::IrcutSettings ircut;
    testing::internal::CaptureStdout();
    EXPECT_EQ(handler.setIrcutConf(ircut, response), -1);
    // Setters whose result ignores the save still print the failure.
    EXPECT_EQ(handler.setVideo(0, video(25, 30, 2048), response), 0);
    const std::string out = testing::internal::GetCapturedStdout();
    const auto lines = testsupport::splitLines(out);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "save settings failed"), 2) << out;
}

TEST_F(DeviceTest, UnknownKeysAndCommentsSurviveASetter) {
    writeSettings(
        "; written by hand\n"
        "[master_video]\n"
        "# the main encoder\n"
        "bitrate=1000\n"
        "vendorKey=7\n"
        "\n"
        "[custom]\n"
        "; keep this section\n"
        "answer=42\n");
    auto handler = makeHandler();
    ASSERT_EQ(handler->setVideo(1, video(25, 30, 3000), response), 0);
    const auto text = settingsText();
    EXPECT_NE(text.find("; written by hand\n"), std::string::npos);
    EXPECT_NE(text.find("# the main encoder\nbitrate=1000\n"), std::string::npos);
    EXPECT_NE(text.find("vendorKey=7\n"), std::string::npos);
    EXPECT_NE(text.find("[custom]\n; keep this section\nanswer=42\n"), std::string::npos);
    EXPECT_EQ(savedSettings().video[1].bitrate, 3000);
}

TEST_F(DeviceTest, GettersReloadTheSettingsFile) {
    auto handler = makeHandler();
    enc::VideoSettings v;
    ASSERT_EQ(handler->getVideo(0, v), 0);
    EXPECT_EQ(v.codec, "H.265");
    writeSettings(
        "[master_video]\ncodec=H.264\nbitrate=4096\n[audio]\ncodec=G.711\n"
        "[network]\ns_port=4001\n[server]\nHttpServer=10.9.9.9\n");
    ASSERT_EQ(handler->getVideo(0, v), 0);
    EXPECT_EQ(v.codec, "H.264");
    EXPECT_EQ(v.bitrate, 4096);
    enc::AudioSettings a;
    ASSERT_EQ(handler->getAudio(a), 0);
    EXPECT_EQ(a.codec, "G.711");
    enc::Rs485Settings r;
    ASSERT_EQ(handler->getRs485(r), 0);
    EXPECT_EQ(r.port, 4001);
    enc::UpgradeServerSettings u;
    ASSERT_EQ(handler->getHttpSet(u), 0);
    EXPECT_EQ(u.serverIP, "10.9.9.9");
}

TEST_F(DeviceTest, SetNetworkValidatesEveryAddressFirst) {
    auto handler = makeHandler();
    enc::NetworkSettings good;
    good.ip = "10.0.0.5";
    good.mask = "255.255.255.0";
    good.gate = "10.0.0.1";
    good.dnsFirst = "8.8.8.8";
    ASSERT_EQ(handler->setNetwork(good, response), 0);
    const std::string before = settingsText();
    const std::string modeBefore = readFile(board.path("/mnt/config/net_mode.ini"));
    board.clearBoardLog();

    for (auto bad : {&enc::NetworkSettings::ip, &enc::NetworkSettings::mask,
                     &enc::NetworkSettings::gate, &enc::NetworkSettings::dnsFirst}) {
        enc::NetworkSettings n = good;
        n.connectionType = 1;
        n.*bad = "255.255.255";
        EXPECT_EQ(handler->setNetwork(n, response), -1);
        n.*bad = "";
        EXPECT_EQ(handler->setNetwork(n, response), -1);
    }
    EXPECT_EQ(settingsText(), before);
    EXPECT_EQ(readFile(board.path("/mnt/config/net_mode.ini")), modeBefore);
    EXPECT_TRUE(board.boardLog().empty());
}

TEST_F(DeviceTest, NetModeFileOnlyForWiredWifiAndLte) {
    auto handler = makeHandler();
    enc::NetworkSettings n;
    n.ip = "10.0.0.5";
    n.mask = "255.255.255.0";
    n.gate = "10.0.0.1";
    n.dnsFirst = "10.0.0.1";
    const std::string modeFile = board.path("/mnt/config/net_mode.ini");
    for (int type : {0, 1, 2}) {
        n.connectionType = type;
        ASSERT_EQ(handler->setNetwork(n, response), 0);
        EXPECT_EQ(readFile(modeFile), std::to_string(type));  // no newline
    }
    for (int type : {3, -1}) {
        n.connectionType = type;
        ASSERT_EQ(handler->setNetwork(n, response), 0);
        EXPECT_EQ(savedSettings().network.connectionType, type);
        EXPECT_EQ(readFile(modeFile), "2");
    }
}

TEST_F(DeviceTest, RebootResetAndSerialBridgeRunTheBoardCommands) {
    auto handler = makeHandler();
    ASSERT_EQ(handler->reboot(response), 0);
    EXPECT_EQ(board.boardLog(), std::vector<std::string>{"/sbin/reboot"});

    board.clearBoardLog();
    enc::Rs485Settings r;
    r.baudrate = 115200;
    ASSERT_EQ(handler->setRs485(r, response), 0);
    EXPECT_EQ(board.boardLog(), (std::vector<std::string>{"/bin/sync", "/sbin/reboot"}));
    EXPECT_EQ(savedSettings().rs485.baudrate, 115200);

    board.clearBoardLog();
    writeFile(board.path("/customer/encoder.ini"), "[input]\n");
    writeFile(board.path("/customer/active_sim"), "861234567890123");
    ASSERT_EQ(handler->resetFactory(response), 0);
    EXPECT_FALSE(fileExists(board.path("/customer/encoder.ini")));
    EXPECT_FALSE(fileExists(board.path("/customer/active_sim")));
    EXPECT_EQ(board.boardLog(), (std::vector<std::string>{"sync", "/sbin/reboot"}));
}

TEST_F(DeviceTest, CredentialsAndStorageAreSaved) {
    auto handler = makeHandler();
    handler->handleRtspInfo("operator", "s3cret");
    auto saved = savedSettings();
    EXPECT_EQ(saved.author, "operator");
    EXPECT_EQ(saved.pwd, "s3cret");

    enc::SysInfo s;
    s.serverIP = "10.1.1.1";
    s.path = "/logs";
    s.place = 3;
    s.show = 1;
    s.opacity = 77;
    s.add_pict_1 = "/not/from/the/request.jpg";
    ASSERT_EQ(handler->setSysInfo(s, response), 0);
    saved = savedSettings();
    EXPECT_EQ(saved.sysInfo.serverIP, "10.1.1.1");
    EXPECT_EQ(saved.sysInfo.path, "/logs");
    EXPECT_EQ(saved.sysInfo.place, 3);
    EXPECT_EQ(saved.sysInfo.show, 1);
    EXPECT_EQ(saved.sysInfo.opacity, 77);
    EXPECT_EQ(saved.sysInfo.add_pict_1, "");
}

TEST_F(DeviceTest, WithoutMediaProcessEveryOperationStillAnswers) {
    standIn.reset();  // nobody bound to the server socket
    auto handler = makeHandler();
    EXPECT_FALSE(link.sendMediaCode(enc::kCodeAudioChanged));
    EXPECT_EQ(handler->setVideo(1, video(25, 30, 2048), response), 0);
    EXPECT_EQ(handler->setAudio({}, response), 0);
    EXPECT_EQ(savedSettings().video[1].framerate, 25);
}

TEST_F(DeviceTest, GetTimeReportsLocalTimeWithMonthsFromOne) {
    auto handler = makeHandler();
    enc::TimeSettings t;
    const time_t before = std::time(nullptr);
    ASSERT_EQ(handler->getTime(t), 0);
    const time_t after = std::time(nullptr);
    std::tm first{};
    std::tm last{};
    localtime_r(&before, &first);
    localtime_r(&after, &last);
    // The two readings differ only when the call straddled midnight.
    EXPECT_TRUE(t.year == first.tm_year + 1900 || t.year == last.tm_year + 1900);
    EXPECT_TRUE(t.month == first.tm_mon + 1 || t.month == last.tm_mon + 1);
    EXPECT_TRUE(t.date == first.tm_mday || t.date == last.tm_mday);
    EXPECT_TRUE(t.day == first.tm_wday || t.day == last.tm_wday);
}

}  // namespace
