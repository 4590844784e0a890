// The device handler's settings operations against a sandbox board: clamps, what is saved,
// change codes, board commands and the index rules.

#include <gtest/gtest.h>

#include "DeviceFixture.h"
#include "MediaMessage.h"

namespace {

using testsupport::fileExists;
using testsupport::readFile;
using testsupport::writeFile;

enc::VideoSettings video(int framerate, int gop = 30, int bitrate = 2048, int minQp = 20,
                         int maxQp = 30) {
    return enc::VideoSettings{"H.264", "main", framerate, 0, 0, gop, "", bitrate, 0, minQp, maxQp};
}

enc::NetworkSettings wired() {
    enc::NetworkSettings n;
    n.ip = "10.0.0.5";
    n.mask = "255.255.255.0";
    n.gate = "10.0.0.1";
    n.dnsFirst = "10.0.0.1";
    return n;
}

TEST_F(DeviceTest, SetVideoClampsEveryFieldByStreamAndInputRate) {
    struct Case {
        int inputFps;  // 0: the media process has not reported yet
        int index;
        enc::VideoSettings in;
        int framerate, gop, bitrate, minQp, maxQp;
    };
    const Case cases[] = {
        // The main stream follows the input rate up to 2 above it; only the default is safe
        // before the first report.
        {0, 0, video(25), 30, 30, 2048, 20, 30},
        {50, 0, video(50), 50, 30, 2048, 20, 30},
        {50, 0, video(52), 52, 30, 2048, 20, 30},
        {50, 0, video(53), 30, 30, 2048, 20, 30},
        {50, 0, video(15), 15, 30, 2048, 20, 30},
        {50, 0, video(14), 30, 30, 2048, 20, 30},
        {50, 0, video(-1), 30, 30, 2048, 20, 30},
        {50, 1, video(15), 15, 30, 2048, 20, 30},
        {50, 1, video(30), 30, 30, 2048, 20, 30},
        {50, 1, video(31), 30, 30, 2048, 20, 30},
        {50, 1, video(14), 30, 30, 2048, 20, 30},
        {30, 0, video(25, 1), 25, 30, 2048, 20, 30},
        {30, 0, video(25, 2), 25, 2, 2048, 20, 30},
        {30, 0, video(25, 200), 25, 200, 2048, 20, 30},
        {30, 0, video(25, 201), 25, 30, 2048, 20, 30},
        {30, 0, video(25, 30, 255), 25, 30, 2500, 20, 30},
        {30, 1, video(25, 30, 255), 25, 30, 1000, 20, 30},
        {30, 0, video(25, 30, 256), 25, 30, 256, 20, 30},
        {30, 1, video(25, 30, 12000), 25, 30, 12000, 20, 30},
        {30, 1, video(25, 30, 12001), 25, 30, 1000, 20, 30},
        {30, 0, video(25, 30, 2048, 11, 52), 25, 30, 2048, 12, 40},
        {30, 0, video(25, 30, 2048, 12, 51), 25, 30, 2048, 12, 51},
        // A lower limit above the upper one meets it there.
        {30, 0, video(25, 30, 2048, 45, 30), 25, 30, 2048, 30, 30},
        {30, 0, video(25, 30, 2048, 50, 60), 25, 30, 2048, 40, 40},
    };
    auto handler = makeHandler();
    for (const auto& c : cases) {
        enc::SystemStatusRecord system{};
        system.inputFps = c.inputFps;
        media.setSystemStatus(system);
        ASSERT_EQ(writeDoc<enc::VideoSettings>(*handler, c.index, c.in, response), 0);
        const enc::VideoSettings s = savedSettings().video[c.index];
        EXPECT_EQ(std::vector<int>({s.framerate, s.gop, s.bitrate, s.minQp, s.maxQp}),
                  std::vector<int>({c.framerate, c.gop, c.bitrate, c.minQp, c.maxQp}))
            << "input " << c.inputFps << " index " << c.index << " framerate " << c.in.framerate
            << " gop " << c.in.gop << " bitrate " << c.in.bitrate << " qp " << c.in.minQp << "-"
            << c.in.maxQp;
        EXPECT_EQ(s.codec, "H.264");
    }
}

// The save itself syncs the settings file and its folder: no sync command per setter.
TEST_F(DeviceTest, SettersSendTheirChangeCodeWithoutSyncCommand) {
    auto handler = makeHandler();
    struct Step {
        const char* what;
        std::function<int()> call;
        int code;
    };
    const std::vector<Step> steps = {
        {"video 0", [&] { return writeDoc<enc::VideoSettings>(*handler, 0, video(25), response); },
         enc::kCodeMainVideo},
        {"video 1", [&] { return writeDoc<enc::VideoSettings>(*handler, 1, video(25), response); },
         enc::kCodeSubVideo},
        {"protocol 0", [&] { return writeDoc<enc::ProtocolSettings>(*handler, 0, {}, response); },
         enc::kCodeMainProtocol},
        {"protocol 1", [&] { return writeDoc<enc::ProtocolSettings>(*handler, 1, {}, response); },
         enc::kCodeSubProtocol},
        {"osd 0", [&] { return writeOverlays(*handler, 0, {}, {}, response); },
         enc::kCodeMainOverlay},
        {"osd 1", [&] { return writeOverlays(*handler, 1, {}, {}, response); },
         enc::kCodeSubOverlay},
        {"logo 0", [&] { return writeDoc<enc::LogoSettings>(*handler, 0, {}, response); },
         enc::kCodeMainOverlay},
        {"logo 1", [&] { return writeDoc<enc::LogoSettings>(*handler, 1, {}, response); },
         enc::kCodeSubOverlay},
        {"chroma 0", [&] { return writeDoc<enc::ChromaSettings>(*handler, 0, {}, response); },
         enc::kCodeMainChroma},
        {"chroma 1", [&] { return writeDoc<enc::ChromaSettings>(*handler, 1, {}, response); },
         enc::kCodeSubChroma},
        {"chroma 2", [&] { return writeDoc<enc::ChromaSettings>(*handler, 2, {}, response); },
         enc::kCodeSubChroma},
        {"audio", [&] { return writeDoc<enc::AudioSettings>(*handler, 0, {}, response); },
         enc::kCodeAudioChanged},
        {"output", [&] { return writeDoc<enc::OutputSettings>(*handler, 0, {}, response); },
         enc::kCodeOutputChanged},
        {"sysinfo", [&] { return writeDoc<enc::SysInfo>(*handler, 0, {}, response); },
         enc::kCodeAudioChanged},
    };
    for (const auto& step : steps) {
        standIn->clear();
        board.clearBoardLog();
        ASSERT_EQ(step.call(), 0) << step.what;
        ASSERT_TRUE(standIn->waitForCount(1)) << step.what;
        EXPECT_EQ(standIn->codes(), std::vector<int>{step.code}) << step.what;
        EXPECT_EQ(board.boardLog(), std::vector<std::string>{}) << step.what;
    }
}

// Network and Wi-Fi also write the board's own files: those two run the sync command.
TEST_F(DeviceTest, SettersWithoutChangeCodeStillSave) {
    auto handler = makeHandler();
    enc::WifiSettings wifi;
    wifi.essid = "office";
    enc::FtpSettings ftp;
    ftp.ftpserverIP = "10.0.0.9";
    ASSERT_EQ(handler->setNetwork(wired(), response), 0);
    ASSERT_EQ(handler->setWifiParam(wifi, response), 0);
    ASSERT_EQ(writeDoc<enc::FtpSettings>(*handler, 0, ftp, response), 0);
    ASSERT_EQ(writeDoc<enc::UpgradeServerSettings>(*handler, 0, {"10.0.0.7", ""}, response), 0);
    const auto log = board.boardLog();
    EXPECT_EQ(std::count(log.begin(), log.end(), "/bin/sync"), 2);
    const auto saved = savedSettings();
    EXPECT_EQ(saved.network.ip, "10.0.0.5");
    EXPECT_EQ(saved.wifi.essid, "office");
    EXPECT_EQ(saved.ftp.ftpserverIP, "10.0.0.9");
    EXPECT_EQ(saved.upgradeServer.serverIP, "10.0.0.7");
    // A sentinel change code proves that none of the above sent one.
    ASSERT_EQ(writeDoc<enc::AudioSettings>(*handler, 0, {}, response), 0);
    ASSERT_TRUE(standIn->waitForCode(enc::kCodeAudioChanged));
    EXPECT_EQ(standIn->codes(), std::vector<int>{enc::kCodeAudioChanged});
}

TEST_F(DeviceTest, BadIndexAnswersMinusOneAndChangesNothing) {
    auto handler = makeHandler();
    ASSERT_EQ(writeDoc<enc::AudioSettings>(*handler, 0, {}, response),
              0);  // a settings file to compare against
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
        EXPECT_EQ(writeDoc<enc::VideoSettings>(*handler, index, video(25), response), -1);
        EXPECT_EQ(writeDoc<enc::ProtocolSettings>(*handler, index, p, response), -1);
        EXPECT_EQ(writeOverlays(*handler, index, o1, o2, response), -1);
        EXPECT_EQ(writeDoc<enc::LogoSettings>(*handler, index, l, response), -1);
        EXPECT_EQ(readDoc(*handler, index, v), -1);
        EXPECT_EQ(handler->getProtocol(index, p), -1);
        EXPECT_EQ(readOverlays(*handler, index, o1, o2), -1);
        EXPECT_EQ(readDoc(*handler, index, l), -1);
        EXPECT_EQ(handler->getStreamStatus(index, s), -1);
        EXPECT_EQ(handler->getStreamUrl(index, u), -1);
    }
    EXPECT_EQ(settingsText(), before);
    EXPECT_TRUE(board.boardLog().empty());
    ASSERT_EQ(writeDoc<enc::OutputSettings>(*handler, 0, {}, response), 0);  // the sentinel again
    ASSERT_TRUE(standIn->waitForCount(1));
    EXPECT_EQ(standIn->codes(), std::vector<int>{enc::kCodeOutputChanged});
}

TEST_F(DeviceTest, SetProtocolReplacesPortsOutsideTheirRangeByTheStreamsDefault) {
    auto handler = makeHandler();
    enc::ProtocolSettings p;
    p.rtspPort = 65536;
    p.multicastPort = 0;
    p.tsAddr = "239.1.1.1";
    ASSERT_EQ(writeDoc<enc::ProtocolSettings>(*handler, 1, p, response), 0);
    auto saved = savedSettings().protocol[1];
    EXPECT_EQ(std::vector<int>({saved.httpPort, saved.rtspPort, saved.multicastPort, saved.rtmpPort,
                                saved.tsPort, saved.tsHttpPort}),
              std::vector<int>({80, 554, 5000, 1935, 20001, 8082}));
    EXPECT_EQ(savedSettings().streamStatus[1].ts, "239.1.1.1");
    ASSERT_EQ(writeDoc<enc::ProtocolSettings>(*handler, 0, p, response), 0);
    saved = savedSettings().protocol[0];
    EXPECT_EQ(saved.tsPort, 20000);
    EXPECT_EQ(saved.tsHttpPort, 8081);
    p.httpPort = 1;
    p.rtspPort = 65535;
    ASSERT_EQ(writeDoc<enc::ProtocolSettings>(*handler, 0, p, response), 0);
    saved = savedSettings().protocol[0];
    EXPECT_EQ(saved.httpPort, 1);
    EXPECT_EQ(saved.rtspPort, 65535);
}

TEST_F(DeviceTest, SetOsdClampsEachOverlayByItsOwnLimits) {
    auto handler = makeHandler();
    struct Case {
        int index;
        enc::OsdSettings first, second;  // x, y, font size, opacity
        std::vector<int> stored;         // the same four of both overlays
    };
    const Case cases[] = {
        {0, {1921, -1, 0, 129}, {8193, 8193, 0, -1}, {10, 10, 2, 5, 10, 500, 1, 5}},
        {1, {1920, 1080, 7, 128}, {8192, 8192, 1, 0}, {1920, 1080, 7, 128, 8192, 8192, 1, 0}},
    };
    for (const auto& c : cases) {
        ASSERT_EQ(writeOverlays(*handler, c.index, c.first, c.second, response), 0);
        enc::OsdSettings a, b;
        ASSERT_EQ(readOverlays(*handler, c.index, a, b), 0);
        EXPECT_EQ(
            std::vector<int>({a.x, a.y, a.fontSize, a.opacity, b.x, b.y, b.fontSize, b.opacity}),
            c.stored)
            << c.index;
    }
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
        ASSERT_EQ(writeDoc<enc::FtpSettings>(
                      *handler, 0, {"", "", "", c.cycle, 0, "ntp.example", c.zone}, response),
                  0);
        enc::FtpSettings out;
        ASSERT_EQ(readDoc(*handler, 0, out), 0);
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
    ircut.gpsInterval = 19;
    ircut.devIme = "imei-1";
    ASSERT_EQ(writeDoc<enc::IrcutSettings>(*handler, 0, ircut, response), 0);
    enc::IrcutSettings out;
    ASSERT_EQ(readDoc(*handler, 0, out), 0);  // reloads the file, keeps the record
    EXPECT_EQ(out.gpsInterval, 20);
    EXPECT_EQ(out.devIme, "imei-1");
    EXPECT_EQ(settingsText().find("imei-1"), std::string::npos);
    EXPECT_TRUE(board.boardLog().empty());  // no sync

    enc::LteStatus lte;
    lte.server = "operator";
    const std::string before = settingsText();
    ASSERT_EQ(handler->setLte(lte, response), 0);
    EXPECT_EQ(settingsText(), before);
    EXPECT_TRUE(board.boardLog().empty());
}

// Every setter that saves stops at a failed save: an error, printed once, and no change code,
// board file, sync or reboot after it.
TEST_F(DeviceTest, FailedSaveIsPrintedAndAnErrorInEverySetter) {
    DemoHandler handler(link, media, board.path("/mnt/no-such-dir/encoder.ini"));
    enc::NetworkSettings network;
    network.ip = network.mask = network.gate = network.dnsFirst = "10.0.0.1";
    enc::WifiSettings wifi;
    wifi.essid = "lab";
    enc::SrtSettings srt = handler.settings().srt[0];
    const std::vector<std::pair<const char*, std::function<int()>>> setters = {
        {"ircut", [&] { return writeDoc<enc::IrcutSettings>(handler, 0, {}, response); }},
        {"video", [&] { return writeDoc<enc::VideoSettings>(handler, 0, video(25), response); }},
        {"protocol", [&] { return writeDoc<enc::ProtocolSettings>(handler, 1, {}, response); }},
        {"osd", [&] { return writeOverlays(handler, 0, {}, {}, response); }},
        {"logo", [&] { return writeDoc<enc::LogoSettings>(handler, 1, {}, response); }},
        {"chroma", [&] { return writeDoc<enc::ChromaSettings>(handler, 0, {}, response); }},
        {"audio", [&] { return writeDoc<enc::AudioSettings>(handler, 0, {}, response); }},
        {"output", [&] { return writeDoc<enc::OutputSettings>(handler, 0, {}, response); }},
        {"sysinfo", [&] { return writeDoc<enc::SysInfo>(handler, 0, {}, response); }},
        {"httpset", [&] { return writeDoc<enc::UpgradeServerSettings>(handler, 0, {}, response); }},
        {"ftp", [&] { return writeDoc<enc::FtpSettings>(handler, 0, {}, response); }},
        {"security", [&] { return handler.setSecurity({}, response); }},
        {"srt", [&] { return writeDoc<enc::SrtSettings>(handler, 0, srt, response); }},
        {"network", [&] { return handler.setNetwork(network, response); }},
        {"wifi", [&] { return handler.setWifiParam(wifi, response); }},
        {"rs485", [&] { return handler.setRs485({}, response); }},
    };
    standIn->clear();
    for (const auto& [what, set] : setters) {
        board.clearBoardLog();
        testing::internal::CaptureStdout();
        EXPECT_EQ(set(), kApiFailed) << what;
        const std::string out = testing::internal::GetCapturedStdout();
        const auto lines = testsupport::splitLines(out);
        EXPECT_EQ(std::count(lines.begin(), lines.end(), "save settings failed"), 1) << what << out;
        EXPECT_EQ(board.boardLog(), std::vector<std::string>{}) << what;
    }
    EXPECT_FALSE(testsupport::fileExists(board.path("/mnt/config/net_mode.ini")));
    // The link keeps the order of its datagrams: a code sent above would come before this one.
    ASSERT_EQ(writeDoc<enc::AudioSettings>(*makeHandler(), 0, {}, response), kApiOk);
    ASSERT_TRUE(standIn->waitForCode(enc::kCodeAudioChanged));
    EXPECT_EQ(standIn->codes(), std::vector<int>{enc::kCodeAudioChanged});
}

TEST_F(DeviceTest, GettersReloadTheSettingsFile) {
    auto handler = makeHandler();
    enc::VideoSettings v;
    ASSERT_EQ(readDoc(*handler, 0, v), 0);
    EXPECT_EQ(v.codec, "H.265");
    writeSettings(
        "[master_video]\ncodec=H.264\nbitrate=4096\n[audio]\ncodec=G.711\n"
        "[network]\ns_port=4001\n[server]\nHttpServer=10.9.9.9\n");
    ASSERT_EQ(readDoc(*handler, 0, v), 0);
    EXPECT_EQ(v.codec, "H.264");
    EXPECT_EQ(v.bitrate, 4096);
    enc::AudioSettings a;
    ASSERT_EQ(readDoc(*handler, 0, a), 0);
    EXPECT_EQ(a.codec, "G.711");
    enc::Rs485Settings r;
    ASSERT_EQ(readDoc(*handler, 0, r), 0);
    EXPECT_EQ(r.port, 4001);
    enc::UpgradeServerSettings u;
    ASSERT_EQ(readDoc(*handler, 0, u), 0);
    EXPECT_EQ(u.serverIP, "10.9.9.9");
}

TEST_F(DeviceTest, NetModeFileOnlyForWiredWifiAndLte) {
    auto handler = makeHandler();
    enc::NetworkSettings n = wired();
    const std::string modeFile = board.path("/mnt/config/net_mode.ini");
    for (const auto& [type, mode] :
         {std::pair<int, const char*>{0, "0"}, {1, "1"}, {2, "2"}, {3, "2"}, {-1, "2"}}) {
        n.connectionType = type;
        ASSERT_EQ(handler->setNetwork(n, response), 0);
        EXPECT_EQ(savedSettings().network.connectionType, type);
        EXPECT_EQ(readFile(modeFile), mode) << type;  // no newline; others keep the file
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

// The credentials are checked through /sys/password end to end.
TEST_F(DeviceTest, StorageIsSavedWithoutThePicturePaths) {
    auto handler = makeHandler();
    const enc::SysInfo s{"", "",         "",      "", 77, 1, "/not/from/the/request.jpg",
                         "", "10.1.1.1", "/logs", 3};
    ASSERT_EQ(writeDoc<enc::SysInfo>(*handler, 0, s, response), 0);
    const auto saved = savedSettings();
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
    EXPECT_EQ(writeDoc<enc::VideoSettings>(*handler, 1, video(25), response), 0);
    EXPECT_EQ(writeDoc<enc::AudioSettings>(*handler, 0, {}, response), 0);
    EXPECT_EQ(savedSettings().video[1].framerate, 25);
}

}  // namespace

// A setter changes only its own document's keys, in the file as it is now: neither the live
// values a getter showed nor a stale copy of what another program wrote reaches the file.
TEST_F(DeviceTest, SettersChangeOnlyTheirOwnKeysOfTheFileAsItIsNow) {
    writeFile(board.path("/etc/resolv.conf"), "nameserver 9.9.9.9\nnameserver 9.9.9.8\n");
    const std::string audio =
        "\n[audio]\ncheckRate=0\ncodec=AAC\ngain=0\ninputMode=0\nonvifCodec=G.711\n"
        "resample=48000\nsampleRate=64000\nonvifG711=0\n";
    enc::AudioSettings posted;
    posted.codec = "AAC";
    posted.onvifCodec = "G.711";
    posted.resample = 48000;
    posted.sampleRate = 64000;
    posted.gain = 3;
    {
        SCOPED_TRACE("a file without network keys gets no live address");
        writeSettings("# hand kept\n" + audio);
        auto handler = makeHandler();
        enc::NetworkSettings live;
        ASSERT_EQ(handler->getNetwork(live), 0);
        ASSERT_EQ(live.dnsFirst, "9.9.9.9");
        ASSERT_EQ(writeDoc<enc::AudioSettings>(*handler, 0, posted, response), 0);
        EXPECT_EQ(settingsText(),
                  "# hand kept\n" + std::string(audio).replace(audio.find("gain=0"), 6, "gain=3"));
    }
    {
        SCOPED_TRACE("another program's change after the last reload survives");
        writeSettings("\n[network]\ndhcp=0\nip=10.0.0.5\n" + audio);
        auto handler = makeHandler();
        enc::AudioSettings before;
        ASSERT_EQ(readDoc(*handler, 0, before), 0);
        // As peerlo's set-IP writes it, between two requests to the web server.
        const std::string peerlo = "\n[network]\ndhcp=1\nip=10.0.0.9\n; vendor\nx=1\n" + audio;
        writeSettings(peerlo);
        ASSERT_EQ(writeDoc<enc::AudioSettings>(*handler, 0, posted, response), 0);
        EXPECT_EQ(settingsText(), std::string(peerlo).replace(peerlo.find("gain=0"), 6, "gain=3"));
    }
}
