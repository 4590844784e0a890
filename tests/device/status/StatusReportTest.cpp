// Status texts formed from crafted media records and settings.

#include "StatusReport.h"

#include <gtest/gtest.h>

#include <cstring>

#include "TestSupport.h"

namespace {

using enc::StatusReport;

enc::InputSignalRecord signal(char scan, int width, int height, int rate, int flags = 1) {
    enc::InputSignalRecord s{};
    s.signalFlags = static_cast<uint16_t>(flags);
    s.scanType = static_cast<uint16_t>(scan);
    s.width = static_cast<uint16_t>(width);
    s.height = static_cast<uint16_t>(height);
    s.rate = static_cast<uint16_t>(rate);
    return s;
}

template <size_t N>
void put(char (&field)[N], const char* text) {
    std::memset(field, 0, N);
    std::strncpy(field, text, N - 1);
}

enc::SystemStatusRecord systemTexts(int textCount) {
    enc::SystemStatusRecord s{};
    s.textCount = textCount;
    put(s.mainInputName, "HDMI");
    put(s.subInputName, "SDI");
    put(s.mainVideoText, "No Signal");
    put(s.subVideoText, "No Sub Signal");
    put(s.audioText, "No Audio");
    return s;
}

enc::AudioInputRecord audioInput(const char* format, unsigned rate, int bits) {
    enc::AudioInputRecord a{};
    put(a.format, format);
    a.sampleRate = rate;
    a.bits = static_cast<uint16_t>(bits);
    return a;
}

TEST(StatusScanTypes, EveryScanTypeHasItsText) {
    struct Case {
        char scan;
        const char* text;
    };
    const Case cases[] = {
        {'P', "1920 * 1080 P @ 60"},
        {'I', "1920 * 1080 I @ 60"},
        {'L', "1920 * 1080 PAL @ 60"},
        {'N', "1920 * 1080 NTSC @ 60"},
        {'D', "1920 * 1080 @ 60"},
        {'V', "1920 * 1080 @ 60"},
        {'S', "1920 * 1080 @ 60"},
        {'X', ""},
        {'p', ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(StatusReport::scanText(signal(c.scan, 1920, 1080, 60)), c.text) << c.scan;
    }
}

TEST(StatusInput, SignalFlagsBitsZeroAndOneMeanSignal) {
    for (const auto& [flags, on] :
         {std::pair<int, bool>{0, false}, {1, true}, {2, true}, {4, false}}) {
        EXPECT_EQ(StatusReport::hasSignal(signal('P', 1, 1, 1, flags)), on) << flags;
    }
    // With a signal, the sub stream shows no video text.
    const auto in1 =
        StatusReport::inputStatus(1, signal('P', 1920, 1080, 60), {}, systemTexts(1), {});
    EXPECT_EQ(in1.type, "SDI");
    EXPECT_EQ(in1.video, "");
}

TEST(StatusInput, WithoutSignalTheRecordTextsCountOnlyWhenPresent) {
    const auto none = signal('P', 1920, 1080, 60, 0);
    auto in0 = StatusReport::inputStatus(0, none, {}, systemTexts(1), {});
    EXPECT_EQ(in0.video, "No Signal");
    EXPECT_EQ(in0.audio, "No Audio");
    auto in1 = StatusReport::inputStatus(1, none, {}, systemTexts(2), {});
    EXPECT_EQ(in1.video, "No Sub Signal");
    EXPECT_EQ(in1.type, "SDI");

    in0 = StatusReport::inputStatus(0, none, {}, systemTexts(0), {});
    EXPECT_EQ(in0.type, "HDMI");
    EXPECT_EQ(in0.video, "");
    EXPECT_EQ(in0.audio, "");
}

TEST(StatusInput, UnterminatedRecordTextsStopAtTheirField) {
    enc::SystemStatusRecord sys{};
    sys.textCount = 1;
    std::memset(sys.mainInputName, 'N', sizeof sys.mainInputName);
    std::memset(sys.mainVideoText, 'V', sizeof sys.mainVideoText);
    std::memset(sys.audioText, 'A', sizeof sys.audioText);
    const auto in = StatusReport::inputStatus(0, signal('P', 0, 0, 0, 0), {}, sys, {});
    EXPECT_EQ(in.type, std::string(64, 'N'));
    EXPECT_EQ(in.video, std::string(63, 'V'));  // status texts stop at 63 characters
    EXPECT_EQ(in.audio, std::string(64, 'A'));
}

TEST(StatusInput, AudioTexts) {
    const auto on = signal('P', 1920, 1080, 60);
    enc::AudioSettings settings;
    auto in = StatusReport::inputStatus(0, on, audioInput("PCM", 48000, 16), {}, settings);
    EXPECT_EQ(in.audio, "16 bits PCM 48000");
    in = StatusReport::inputStatus(0, on, audioInput("PCM", 48000, 100), {}, settings);
    EXPECT_EQ(in.audio, "Line In");
    settings.inputMode = 1;
    in = StatusReport::inputStatus(0, on, audioInput("PCM", 48000, 16), {}, settings);
    EXPECT_EQ(in.audio, "Line In");
}

TEST(StatusStream, InterlacedInputHalvesTheRate) {
    enc::VideoSettings v;
    v.codec = "H.264";
    enc::SystemStatusRecord sys{};
    sys.mainWidth = 1920;
    sys.mainHeight = 1080;
    sys.mainFps = 30;
    sys.subFps = 30;
    EXPECT_EQ(StatusReport::streamVideoText(0, v, sys, signal('I', 1920, 1080, 50)),
              "(H.264) 1920 * 1080 @ 25 fps");
    EXPECT_EQ(StatusReport::streamVideoText(0, v, sys, signal('I', 1920, 1080, 59)),
              "(H.264) 1920 * 1080 @ 29 fps");
}

TEST(StatusStream, AudioTextsByCodec) {
    enc::AudioSettings a;
    a.resample = 48000;
    a.sampleRate = 64000;
    enc::ProtocolSettings main;
    a.codec = "AAC";
    EXPECT_EQ(StatusReport::streamAudioText(a, main), "(AAC) 2 ch, 16 bits, 48000HZ @ 64000 bps");
    main.onvifEnabled = 1;
    EXPECT_EQ(StatusReport::streamAudioText(a, main), "(AAC) 1 ch, 16 bits, 48000HZ @ 64000 bps");
    a.codec = "G.711";
    EXPECT_EQ(StatusReport::streamAudioText(a, main), "(G711A) 1 ch, 16 bits, 48000HZ");
    a.codec = "MP3";
    EXPECT_EQ(StatusReport::streamAudioText(a, main), "");
    a.codec = "AAC";
    a.checkRate = 1;
    EXPECT_EQ(StatusReport::streamAudioText(a, main), "disabled");
}

TEST(StatusStream, AddressFormsAndDisabledOutputs) {
    enc::ProtocolSettings p;
    p.multicastAddr = "235.250.42.42";
    p.multicastPort = 5000;
    p.tsAddr = "192.168.1.98";
    p.tsPort = 20000;
    p.tsHttpPort = 8081;
    p.flvAddr = "live/main";
    p.flvPort = 8080;
    p.hlsAddr = "hls/main";
    p.hlsPort = 8088;
    enc::StreamStatus s;
    s.addr = s.ts = s.tsHttp = s.flv = s.hls = "stale";
    StatusReport::streamAddresses(p, "10.0.0.5", s);
    EXPECT_EQ(s.addr, "");
    EXPECT_EQ(s.ts, "");
    EXPECT_EQ(s.tsHttp, "");
    EXPECT_EQ(s.flv, "");
    EXPECT_EQ(s.hls, "");
    p.multicastEnabled = p.tsEnabled = p.tsHttpEnabled = p.flvEnabled = p.hlsEnabled = 1;
    StatusReport::streamAddresses(p, "10.0.0.5", s);
    EXPECT_EQ(s.addr, "udp://235.250.42.42:5000");
    EXPECT_EQ(s.ts, "udp://192.168.1.98:20000");
    EXPECT_EQ(s.tsHttp, "http://10.0.0.5:8081");
    EXPECT_EQ(s.flv, "http://10.0.0.5:8080/live/main.flv");
    EXPECT_EQ(s.hls, "http://10.0.0.5:8088/hls/main.m3u8");
}

TEST(StatusSystem, UptimeFormat) {
    EXPECT_EQ(StatusReport::uptimeText(0), "00D-00H-00M-00S");
    EXPECT_EQ(StatusReport::uptimeText(90061), "01D-01H-01M-01S");
    EXPECT_EQ(StatusReport::uptimeText(86399), "00D-23H-59M-59S");
    EXPECT_EQ(StatusReport::uptimeText(100L * 86400 + 59), "100D-00H-00M-59S");
}

TEST(StatusSystem, IdentityFiles) {
    testsupport::TempDir dir;
    EXPECT_EQ(StatusReport::firstWord(dir.file("missing")), "");
    testsupport::writeFile(dir.file("uid"), "  ABC-123 trailing words\n");
    EXPECT_EQ(StatusReport::firstWord(dir.file("uid")), "ABC-123");
    testsupport::writeFile(dir.file("long"), std::string(200, 'U'));
    EXPECT_EQ(StatusReport::firstWord(dir.file("long")), std::string(127, 'U'));

    EXPECT_EQ(StatusReport::softVersion(dir.file("missing")), "");
    testsupport::writeFile(dir.file("v1"), "version=2.3.4\n");
    EXPECT_EQ(StatusReport::softVersion(dir.file("v1")), "2.3.4\n");
    testsupport::writeFile(dir.file("v2"), "no equals sign\n");
    EXPECT_EQ(StatusReport::softVersion(dir.file("v2")), "");
    testsupport::writeFile(dir.file("v3"), "v=" + std::string(100, '9'));
    EXPECT_EQ(StatusReport::softVersion(dir.file("v3")), std::string(62, '9'));
}

TEST(StatusFormat, ActiveStreamSelectsTheRtspName) {
    enc::ActiveStreamRecord active{};
    put(active.videoFormat, "H.264 1080p60");
    put(active.audioFormat, "AAC 48k");
    for (const auto& [stream, url] : {std::pair<uint32_t, const char*>{0, "/main"}, {1, "/sub"}}) {
        active.activeStream = stream;
        const auto f = StatusReport::streamFormat(active, "/main", "/sub");
        EXPECT_EQ(f.streamURL, url);
        EXPECT_EQ(f.videoFormat, "H.264 1080p60");
        EXPECT_EQ(f.audioFormat, "AAC 48k");
    }
    active.activeStream = 5;
    const auto f = StatusReport::streamFormat(active, "/main", "/sub");
    EXPECT_EQ(f.streamURL + f.videoFormat + f.audioFormat, "");
}

TEST(StatusOutput, TypeByResolution) {
    enc::OutputSettings o;
    o.videoRes = "3840x2160";
    EXPECT_EQ(StatusReport::output(o).typeStr, "HDMI");
    o.videoRes = "2048*1080";
    EXPECT_EQ(StatusReport::output(o).typeStr, "HDMI");
    o.videoRes = "1920*1080";
    EXPECT_EQ(StatusReport::output(o).typeStr, "HDMI + VGA");
    EXPECT_EQ(StatusReport::output(o).resStr, "1920*1080");
}

}  // namespace
