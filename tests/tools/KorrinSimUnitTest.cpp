// korrin-sim's decisions without a process: input settings, the encoding parameters a
// stream gets from its settings, which outputs may run, the status records and the picture.
#include <gtest/gtest.h>

#include <vector>

#include "BitmapFont.h"
#include "EncodeParams.h"
#include "InputState.h"
#include "OutputPlan.h"
#include "SimOptions.h"
#include "StatusRecords.h"
#include "TestPicture.h"
#include "TestSupport.h"
#include "VideoEncoder.h"
#include "sluice.h"

using namespace ksim;

namespace {

enc::VideoSettings video(const std::string& codec, const std::string& resolution, int fps = 30,
                         int gop = 30, int kbps = 2000, int bitmode = 0) {
    enc::VideoSettings v;
    v.codec = codec;
    v.resolution = resolution;
    v.framerate = fps;
    v.gop = gop;
    v.bitrate = kbps;
    v.bitmode = bitmode;
    return v;
}

enc::SrtSettings srtListener(int port, const std::string& passphrase = std::string()) {
    enc::SrtSettings s;
    s.enabled = 1;
    s.mode = "listener";
    s.port = port;
    s.latency = 120;
    s.passphrase = passphrase;
    s.keyLength = 16;
    return s;
}

std::vector<std::string> optionNames(const CasterPlan& plan) {
    std::vector<std::string> names;
    for (const CasterOption& option : plan.options) {
        names.push_back(option.name);
    }
    return names;
}

/// Encodes `seconds` of the live test picture with these parameters; the bit rate of the
/// encoded bytes in kbit/s (0 when the encoder did not open).
double encodedKbps(const EncodeParams& params, int seconds) {
    VideoEncoder encoder;
    std::string note;
    std::string why;
    if (!encoder.open(params, note, why)) {
        ADD_FAILURE() << why;
        return 0;
    }
    int64_t bytes = 0;
    const int frames = seconds * params.fps;
    for (int i = 0; i < frames; ++i) {
        TestPicture::render(encoder.picture(), double(i) / params.fps, {"KORRIN-SIM", "RATE"},
                            false);
        EXPECT_TRUE(
            encoder.encode(i, i == 0, [&](const VideoEncoder::Unit& u) { bytes += u.size; }));
    }
    return double(bytes) * 8 / 1000 / seconds;
}

}  // namespace

TEST(KorrinInput, SettingsAcceptTheDocumentedValuesAndRejectGarbageUnchanged) {
    InputState s;
    std::string why;
    EXPECT_TRUE(applyInputSetting(s, "size", "1280x720", why));
    EXPECT_TRUE(applyInputSetting(s, "rate", "50", why));
    EXPECT_TRUE(applyInputSetting(s, "scan", "I", why));
    EXPECT_TRUE(applyInputSetting(s, "signal", "0", why));
    EXPECT_TRUE(applyInputSetting(s, "linein", "1", why));
    EXPECT_EQ(s.width, 1280);
    EXPECT_EQ(s.height, 720);
    EXPECT_EQ(s.frameRate(), 25);  // two fields per frame
    EXPECT_FALSE(s.signal);
    EXPECT_TRUE(s.lineIn);

    const InputState before = s;
    struct Bad {
        const char* key;
        const char* value;
    };
    for (const Bad& bad : std::vector<Bad>{{"size", "1280"},
                                           {"size", "0x720"},
                                           {"size", "8193x100"},
                                           {"size", "12a0x720"},
                                           {"rate", "0"},
                                           {"rate", "241"},
                                           {"rate", "-5"},
                                           {"scan", "X"},
                                           {"scan", "PI"},
                                           {"signal", "2"},
                                           {"colour", "1"}}) {
        EXPECT_FALSE(applyInputSetting(s, bad.key, bad.value, why)) << bad.key << "=" << bad.value;
        EXPECT_FALSE(why.empty());
    }
    EXPECT_TRUE(s == before);
    EXPECT_TRUE(applyInputSetting(s, "size", "8192*8192", why));  // the largest accepted
}

TEST(KorrinInput, ControlFileAppliesLinesAndStopsAtTheFirstBadOne) {
    testsupport::TempDir dir;
    InputState s;
    std::string why;
    EXPECT_TRUE(applyInputFile(s, dir.file("missing"), why));
    EXPECT_TRUE(s == InputState());

    testsupport::writeFile(
        dir.file("control"),
        "# the input\n  signal = 0  \n\nsize=720*576 # PAL\nrate=oops\nscan=L\n");
    EXPECT_FALSE(applyInputFile(s, dir.file("control"), why));
    EXPECT_NE(why.find("rate"), std::string::npos) << why;
    EXPECT_FALSE(s.signal);
    EXPECT_EQ(s.width, 720);
    EXPECT_EQ(s.scanType, 'P');  // after the bad line: not applied
}

TEST(KorrinOptions, CommandLine) {
    auto parse = [](std::vector<std::string> args, SimOptions& o, std::string& why) {
        args.insert(args.begin(), "korrin-sim");
        std::vector<char*> argv;
        for (auto& a : args) {
            argv.push_back(a.data());
        }
        return parseOptions(int(argv.size()), argv.data(), o, why);
    };
    SimOptions o;
    std::string why;
    ASSERT_TRUE(parse({"--no-signal", "--interlaced", "--input-size", "1280x720", "--input-rate",
                       "50", "--line-in", "--allow-network", "--status-interval", "200"},
                      o, why))
        << why;
    EXPECT_FALSE(o.input.signal);
    EXPECT_EQ(o.input.scanType, 'I');
    EXPECT_EQ(o.input.width, 1280);
    EXPECT_EQ(o.input.rate, 50);
    EXPECT_TRUE(o.input.lineIn);
    EXPECT_TRUE(o.allowNetwork);
    EXPECT_EQ(o.statusIntervalMs, 200);

    for (const auto& bad : std::vector<std::vector<std::string>>{
             {"--input-size"}, {"--status-interval", "10"}, {"--status-interval", "1s"}}) {
        SimOptions fresh;
        EXPECT_FALSE(parse(bad, fresh, why)) << bad[0];
    }
}

// Explicit sizes are clamped and made even; "0*0" takes the input's size scaled to the demo's
// bound (by the tighter side), and the picture of a 1080p input when there is no signal.
TEST(KorrinEncodeParams, SizesAreClampedOrTakenFromTheInput) {
    InputState pal;  // fits unscaled
    pal.width = 720;
    pal.height = 576;
    InputState noSignal;
    noSignal.signal = false;
    const struct {
        int index;
        const char* resolution;
        InputState input;
        int width, height;
    } cases[] = {
        {0, "1280*720", InputState(), 1280, 720},
        {0, "1280x720", InputState(), 1280, 720},
        {0, "641*361", InputState(), 640, 360},
        {0, "32*32", InputState(), 64, 64},
        {0, "5000*3000", InputState(), 3840, 2160},
        {0, "0*0", InputState(), 1280, 720},
        {1, "0*0", InputState(), 640, 360},
        {0, "0*0", pal, 720, 576},
        {1, "0*0", pal, 450, 360},
        {0, "0*0", noSignal, 1280, 720},
    };
    for (const auto& c : cases) {
        const EncodeParams p = encodeParamsFor(c.index, video("H.264", c.resolution), c.input);
        EXPECT_EQ(std::vector<int>({p.width, p.height}), std::vector<int>({c.width, c.height}))
            << c.index << " " << c.resolution << " " << c.input.width;
    }
    std::string note;
    const EncodeParams p = encodeParamsFor(0, video("H.264", "wide"), InputState(), &note);
    EXPECT_EQ(p.width, 1280);
    EXPECT_NE(note.find("'wide'"), std::string::npos) << note;
}

TEST(KorrinEncodeParams, RatesFollowTheSettingsWithinLimitsAndTheInput) {
    InputState input;  // 60 fps
    std::string note;
    EncodeParams p = encodeParamsFor(0, video("H.265", "640*360", 25, 50, 4096), input, &note);
    EXPECT_EQ(p.codec, "H.265");
    EXPECT_EQ(p.fps, 25);
    EXPECT_EQ(p.gop, 50);
    EXPECT_EQ(p.bitrateKbps, 4096);
    EXPECT_TRUE(note.empty()) << note;

    p = encodeParamsFor(0, video("MJPEG", "640*360", 0, 0, 30), input, &note);
    EXPECT_EQ(p.codec, "H.264");
    EXPECT_EQ(p.fps, 30);
    EXPECT_EQ(p.gop, 30);  // the frame rate: one key frame a second
    EXPECT_EQ(p.bitrateKbps, 2000);
    EXPECT_NE(note.find("MJPEG"), std::string::npos);
    EXPECT_NE(note.find("bit rate 30"), std::string::npos);

    EXPECT_EQ(encodeParamsFor(0, video("H.264", "640*360", 61), input).fps, 30);
    EXPECT_EQ(encodeParamsFor(0, video("H.264", "640*360", 60), input).fps, 60);
    EXPECT_EQ(encodeParamsFor(0, video("H.264", "640*360", 30, 601), input).gop, 30);
    EXPECT_EQ(encodeParamsFor(0, video("H.264", "640*360", 30, 30, 20001), input).bitrateKbps,
              2000);
    EXPECT_EQ(encodeParamsFor(0, video("H.264", "640*360", 30, 30, 64), input).bitrateKbps, 64);

    input.scanType = 'I';  // 1080i60: 30 frames a second at most
    EXPECT_EQ(encodeParamsFor(0, video("H.264", "640*360", 60), input).fps, 30);
    input.signal = false;  // no input to follow
    EXPECT_EQ(encodeParamsFor(0, video("H.264", "640*360", 60), input).fps, 60);
}

TEST(KorrinEncodeParams, BitmodeZeroIsConstantOneVariableAndOthersConstantWithANote) {
    struct Case {
        int bitmode;
        bool cbr;
        bool noted;
    };
    for (const Case& c : std::vector<Case>{
             {0, true, false}, {1, false, false}, {2, true, true}, {-1, true, true}}) {
        std::string note;
        const EncodeParams p = encodeParamsFor(
            0, video("H.264", "640*360", 30, 30, 2000, c.bitmode), InputState(), &note);
        EXPECT_EQ(p.cbr, c.cbr) << c.bitmode;
        EXPECT_EQ(note.find("bit rate mode") != std::string::npos, c.noted) << note;
    }
    EncodeParams a = encodeParamsFor(0, video("H.264", "640*360"), InputState());
    EncodeParams b = encodeParamsFor(0, video("H.264", "640*360", 30, 30, 2000, 1), InputState());
    EXPECT_NE(a, b);  // a new mode restarts the encoder
    EXPECT_NE(a.describe().find("2000kbit/s CBR"), std::string::npos) << a.describe();
    EXPECT_NE(b.describe().find("2000kbit/s VBR"), std::string::npos) << b.describe();
}

// A rate check on the encoded bytes (the encoder runs as fast as it can, not in real time):
// in constant-bit-rate mode the easy test picture is padded up to the set rate; in variable
// mode it takes far less.
TEST(KorrinVideoEncoder, ConstantBitRateCarriesTheSetRateAndVariableStaysBelowIt) {
    struct Case {
        const char* resolution;
        int kbps;
        int bitmode;
        double lowest;  // share of the set rate
        double highest;
    };
    for (const Case& c : std::vector<Case>{{"640*360", 2000, 0, 0.8, 1.2},
                                           {"1280*720", 4000, 0, 0.8, 1.2},
                                           {"640*360", 2000, 1, 0.0, 0.8}}) {
        const EncodeParams p = encodeParamsFor(
            0, video("H.264", c.resolution, 30, 30, c.kbps, c.bitmode), InputState());
        const double kbps = encodedKbps(p, 4);
        EXPECT_GE(kbps, c.kbps * c.lowest) << p.describe() << ": " << kbps << " kbit/s";
        EXPECT_LE(kbps, c.kbps * c.highest) << p.describe() << ": " << kbps << " kbit/s";
        std::printf("%s: %.0f kbit/s\n", p.describe().c_str(), kbps);
    }
}

TEST(KorrinOutputs, LoopbackIsTheOnlyDestinationWithoutPermission) {
    for (const char* host : {"127.0.0.1", "127.1.2.3", "127.255.255.255", "localhost"}) {
        EXPECT_TRUE(isLoopback(host)) << host;
    }
    for (const char* host : {"192.168.1.98", "235.250.42.42", "0.0.0.0", "128.0.0.1", "", "127.0.0",
                             "127.0.0.1.5", "example.com", "localhost.evil", "::1"}) {
        EXPECT_FALSE(isLoopback(host)) << host;
    }
}

TEST(KorrinOutputs, PlanFollowsTheEnabledFlagsAndSkipsWithReasons) {
    enc::ProtocolSettings p;
    p.tsHttpEnabled = 1;
    p.tsHttpPort = 8081;
    p.tsEnabled = 1;
    p.tsAddr = "127.0.0.1";
    p.tsPort = 20000;
    p.multicastEnabled = 1;
    p.multicastAddr = "235.250.42.42";
    p.multicastPort = 5000;

    OutputPlan plan = planOutputs(p, false);
    ASSERT_EQ(plan.casters.size(), 2u);
    EXPECT_EQ(plan.casters[0].protocol, SLUICE_PROTOCOL_HTTP);
    EXPECT_EQ(plan.casters[0].localPort, 8081);
    EXPECT_EQ(plan.casters[1].protocol, SLUICE_PROTOCOL_UDP);
    EXPECT_EQ(plan.casters[1].host, "127.0.0.1");
    EXPECT_EQ(plan.casters[1].port, 20000);
    ASSERT_EQ(plan.skipped.size(), 1u);
    EXPECT_NE(plan.skipped[0].find("235.250.42.42:5000 skipped"), std::string::npos);
    EXPECT_NE(plan.skipped[0].find("--allow-network"), std::string::npos);

    plan = planOutputs(p, true);
    ASSERT_EQ(plan.casters.size(), 3u);
    EXPECT_EQ(plan.casters[2].host, "235.250.42.42");
    EXPECT_TRUE(plan.skipped.empty());

    p.tsHttpPort = 65536;
    p.tsPort = 65536;
    p.multicastAddr = "";
    plan = planOutputs(p, true);
    EXPECT_TRUE(plan.casters.empty());
    EXPECT_EQ(plan.skipped.size(), 3u);

    EXPECT_TRUE(planOutputs(enc::ProtocolSettings(), false).casters.empty());
}

// Constant bit rate: every TS caster gets "muxrate" first (video + audio + 10 % + 100 kbit/s);
// RTSP, which carries no transport stream of its own, gets none.
TEST(KorrinOutputs, ConstantRateSetsTheMuxRateOnTransportStreamCastersOnly) {
    enc::ProtocolSettings p;
    p.tsHttpEnabled = 1;
    p.tsHttpPort = 8081;
    p.rtspEnabled = 1;
    p.rtspPort = 8554;
    enc::SrtSettings srt;
    srt.enabled = 1;
    srt.mode = "listener";
    srt.port = 9000;
    OutputPlan plan = planOutputs(p, srt, false);
    planRtsp(plan, p, "");
    planMuxRate(plan, 2000, 64000);
    EXPECT_EQ(muxRate(2000, 64000), 2'370'400);
    ASSERT_EQ(plan.casters.size(), 3u);
    for (const CasterPlan& caster : plan.casters) {
        const bool rtsp = caster.protocol == SLUICE_PROTOCOL_RTSP;
        ASSERT_EQ(!caster.options.empty() && caster.options[0].name == "muxrate", !rtsp)
            << caster.label;
        if (!rtsp) {
            EXPECT_EQ(caster.options[0].value, "2370400") << caster.label;
        }
    }
}

TEST(KorrinOutputs, SrtListenerComesLastWithItsOptionsInOrder) {
    enc::ProtocolSettings p;
    p.tsHttpEnabled = 1;
    p.tsHttpPort = 8081;
    enc::SrtSettings srt = srtListener(9000, "correct horse battery");
    srt.streamId = "studio/main";
    srt.keyLength = 32;

    OutputPlan plan = planOutputs(p, srt, false);
    ASSERT_EQ(plan.casters.size(), 2u);
    const CasterPlan& c = plan.casters[1];
    EXPECT_EQ(c.protocol, SLUICE_PROTOCOL_SRT);
    EXPECT_EQ(c.localPort, 9000);
    EXPECT_TRUE(c.host.empty());
    EXPECT_EQ(c.label, "SRT listener on port 9000");
    const std::vector<CasterOption> expected{{"latency", "120"},
                                             {"passphrase", "correct horse battery"},
                                             {"pbkeylen", "32"},
                                             {"streamid", "studio/main"}};
    EXPECT_TRUE(c.options == expected);

    // Neither passphrase nor stream ID is set when empty; the rest stays.
    srt = srtListener(9000);
    srt.latency = 400;
    plan = planOutputs(p, srt, false);
    ASSERT_EQ(plan.casters.size(), 2u);
    EXPECT_EQ(optionNames(plan.casters[1]), (std::vector<std::string>{"latency", "pbkeylen"}));
    EXPECT_EQ(plan.casters[1].options[0].value, "400");

    srt.enabled = 0;
    EXPECT_EQ(planOutputs(p, srt, true).casters.size(), 1u);
}

TEST(KorrinOutputs, SrtCallerFollowsTheLoopbackRuleAndBadRecordsAreSkipped) {
    enc::SrtSettings srt = srtListener(9000, "0123456789");
    srt.mode = "caller";
    srt.callerAddr = "127.0.0.1";
    srt.callerPort = 9100;
    OutputPlan plan = planOutputs(enc::ProtocolSettings(), srt, false);
    ASSERT_EQ(plan.casters.size(), 1u);
    EXPECT_EQ(plan.casters[0].protocol, SLUICE_PROTOCOL_SRT);
    EXPECT_EQ(plan.casters[0].localPort, 0);  // calls out, listens nowhere
    EXPECT_EQ(plan.casters[0].host, "127.0.0.1");
    EXPECT_EQ(plan.casters[0].port, 9100);
    EXPECT_EQ(plan.casters[0].label, "SRT caller to 127.0.0.1:9100");
    EXPECT_EQ(optionNames(plan.casters[0]),
              (std::vector<std::string>{"latency", "passphrase", "pbkeylen"}));

    struct Case {
        const char* mode;
        int port;
        const char* address;
        int callerPort;
        bool allowNetwork;
        const char* reason;  // empty: planned
    };
    for (const Case& c : std::vector<Case>{
             {"caller", 9000, "192.168.1.98", 9100, false, "is not loopback"},
             {"caller", 9000, "192.168.1.98", 9100, true, ""},
             {"caller", 9000, "encoder.example", 9100, false, "is not loopback"},
             {"caller", 9000, "", 9100, true, "needs an address"},
             {"caller", 9000, "127.0.0.1", 0, true, "port 1-65535"},
             {"caller", 9000, "127.0.0.1", 65536, true, "port 1-65535"},
             {"caller", 0, "127.0.0.1", 65535, false, ""},  // the listener port is not used
             {"listener", 0, "", 0, false, ""},             // a port of the system's choice
             {"listener", -1, "", 0, false, "outside 0-65535"},
             {"listener", 65536, "", 0, false, "outside 0-65535"},
             {"listener", 65535, "", 0, false, ""},
             {"Listener", 9000, "", 0, true, "neither listener nor caller"},
             {"", 9000, "", 0, true, "neither listener nor caller"}}) {
        srt.mode = c.mode;
        srt.port = c.port;
        srt.callerAddr = c.address;
        srt.callerPort = c.callerPort;
        plan = planOutputs(enc::ProtocolSettings(), srt, c.allowNetwork);
        const std::string what = std::string(c.mode) + " " + c.address;
        if (*c.reason == 0) {
            EXPECT_EQ(plan.casters.size(), 1u) << what;
            EXPECT_TRUE(plan.skipped.empty()) << what;
            continue;
        }
        EXPECT_TRUE(plan.casters.empty()) << what;
        ASSERT_EQ(plan.skipped.size(), 1u) << what;
        EXPECT_NE(plan.skipped[0].find(c.reason), std::string::npos) << plan.skipped[0];
        EXPECT_EQ(plan.skipped[0].find("0123456789"), std::string::npos) << plan.skipped[0];
    }
}

TEST(KorrinStatus, RecordsDescribeTheInputAndWhatEachStreamEncodes) {
    InputState input;
    const StreamReport main{true, "H.264", 1280, 720, 30, 2000};
    const StreamReport sub{true, "H.265", 640, 360, 25, 800};
    const AudioReport audio{true, 48000, 2, 64000};
    // The byte layout and the records with a signal are checked on the running program;
    // here, the choices without a signal or a main stream.
    StatusRecords r = buildStatusRecords(input, main, sub, audio);
    EXPECT_STREQ(r.active.audioFormat, "AAC 48000Hz 2ch 64000bps");

    input.signal = false;
    input.lineIn = true;
    r = buildStatusRecords(input, StreamReport(), sub, audio);
    EXPECT_EQ(r.input.signalFlags, 0);
    EXPECT_EQ(r.input.width, 0);
    EXPECT_EQ(r.audio.bits, 100);
    EXPECT_STREQ(r.system.mainVideoText, "No Signal");
    EXPECT_STREQ(r.system.audioText, "No Signal");
    EXPECT_EQ(r.system.inputFps, 0);
    EXPECT_EQ(r.encode.stream[0].width, 0);  // the main stream is off
    EXPECT_EQ(r.encode.stream[1].rtspFailedPort, 0);
    EXPECT_EQ(r.active.activeStream, 1u);
    EXPECT_STREQ(r.active.videoFormat, "H.265 640*360@25 800kbps");

    // A port its RTSP server could not open shows even while the stream does not encode.
    StreamReport failed;
    failed.rtspFailedPort = 554;
    r = buildStatusRecords(input, failed, StreamReport(), AudioReport());
    EXPECT_EQ(r.encode.stream[0].rtspFailedPort, 554);
    EXPECT_EQ(r.active.activeStream, 2u);
    EXPECT_STREQ(r.active.videoFormat, "");
}

TEST(KorrinPicture, TextIsClippedAtThePlaneEdges) {
    // A plane inside a larger buffer: drawing beyond the plane must leave the guard bytes.
    constexpr int kW = 40;
    constexpr int kH = 12;
    constexpr int kStride = 48;
    std::vector<uint8_t> buffer(kStride * (kH + 2), 7);
    uint8_t* plane = buffer.data() + kStride;
    BitmapFont::draw(plane, kStride, kW, kH, -8, -3, 2, "W@_", 200);
    BitmapFont::draw(plane, kStride, kW, kH, kW - 5, kH - 4, 3, "MM", 200);
    for (int x = 0; x < kStride; ++x) {
        EXPECT_EQ(buffer[x], 7) << x;                       // row above
        EXPECT_EQ(buffer[kStride * (kH + 1) + x], 7) << x;  // row below
    }
    for (int y = 0; y < kH; ++y) {
        for (int x = kW; x < kStride; ++x) {
            EXPECT_EQ(plane[y * kStride + x], 7) << x << "," << y;
        }
    }
    EXPECT_EQ(plane[(kH - 1) * kStride + kW - 1], 200);  // 'M' reaches the corner
}

TEST(KorrinPicture, RenderStaysInsideTheSmallestPicture) {
    // 64x64 with long lines: scale 1, text cut at the edge, the box still moving.
    const int w = 64;
    const int h = 64;
    std::vector<uint8_t> y(w * h), u(w * h / 4), v(w * h / 4);
    PicturePlanes p;
    p.data[0] = y.data();
    p.data[1] = u.data();
    p.data[2] = v.data();
    p.stride[0] = w;
    p.stride[1] = p.stride[2] = w / 2;
    p.width = w;
    p.height = h;
    const std::vector<std::string> lines(9, std::string(80, 'W'));
    for (double t : {0.0, 1.3, 2.99, 3.0, 7.9, 1e6}) {
        TestPicture::render(p, t, lines, false);
        TestPicture::render(p, t, lines, true);
    }
    EXPECT_EQ(TestPicture::textScale(w, h, 80), 1);
    EXPECT_EQ(TestPicture::textScale(1280, 720, 23), 4);
    EXPECT_EQ(TestPicture::textScale(640, 360, 23), 2);
}

TEST(KorrinOutputs, RtspFollowsItsSettingsWithPathAndPasswordFile) {
    struct Case {
        int enabled;
        int port;
        std::string name;
        std::string passwordFile;
        size_t casters;
        std::vector<CasterOption> options;
    };
    const Case cases[] = {
        {1,
         554,
         "/main",
         "/mnt/config/user.htpasswd",
         1,
         {{"path", "/main"}, {"auth_file", "/mnt/config/user.htpasswd"}}},
        {1, 8554, "sub", "", 1, {{"path", "/sub"}}},  // anonymous; a "/" is put in front
        {1, 8554, "", "", 1, {{"path", "/"}}},
        {0, 554, "/main", "", 0, {}},
        {1, 0, "/main", "", 0, {}},  // skipped with a reason
        {1, 65536, "/main", "", 0, {}},
    };
    for (const Case& c : cases) {
        enc::ProtocolSettings p;
        p.rtspEnabled = c.enabled;
        p.rtspPort = c.port;
        p.rtspName = c.name;
        OutputPlan plan;
        planRtsp(plan, p, c.passwordFile);
        ASSERT_EQ(plan.casters.size(), c.casters) << c.port << c.name;
        EXPECT_EQ(plan.skipped.size(), c.enabled != 0 && c.casters == 0 ? 1u : 0u);
        if (c.casters == 1) {
            EXPECT_EQ(plan.casters[0].protocol, SLUICE_PROTOCOL_RTSP);
            EXPECT_EQ(plan.casters[0].localPort, c.port);
            EXPECT_TRUE(plan.casters[0].options == c.options) << c.name;
        }
    }
}

TEST(KorrinOutputs, RtmpPushUrlComesFromTheAddressOrItsPartsAndFollowsTheLoopbackRule) {
    struct Case {
        const char* addr;
        const char* user;
        bool allowNetwork;
        const char* url;  // "" when skipped
        const char* label;
    };
    const Case cases[] = {
        {"127.0.0.1", "", false, "rtmp://127.0.0.1:1935/live/cam",
         "rtmp://127.0.0.1:1935/live/cam"},
        {"127.0.0.1", "u", false, "rtmp://u:pw@127.0.0.1:1935/live/cam",
         "rtmp://127.0.0.1:1935/live/cam"},
        {"rtmps://live.example.com/app/key", "u", true, "rtmps://u:pw@live.example.com/app/key",
         "rtmps://live.example.com/app/key"},
        {"rtmp://a:b@127.0.0.1:99/x/y", "u", false, "rtmp://a:b@127.0.0.1:99/x/y",
         "rtmp://127.0.0.1:99/x/y"},
        {"rtmps://live.example.com/app/key", "", false, "", ""},
        {"192.168.1.75", "", false, "", ""},
        {"", "", true, "", ""},
        {"rtmp://127.0.0.1:0/x/y", "", false, "", ""},
    };
    for (const Case& c : cases) {
        enc::ProtocolSettings p;
        p.rtmpEnabled = 1;
        p.rtmpAddr = c.addr;
        p.rtmpPort = 1935;
        p.rtmpDir = "live";
        p.rtmpNode = "cam";
        p.rtmpUser = c.user;
        p.rtmpPassword = "pw";
        OutputPlan plan;
        planRtmp(plan, p, c.allowNetwork);
        if (*c.url == 0) {
            EXPECT_TRUE(plan.casters.empty()) << c.addr;
            EXPECT_EQ(plan.skipped.size(), 1u) << c.addr;
            continue;
        }
        ASSERT_EQ(plan.casters.size(), 1u) << c.addr;
        EXPECT_EQ(plan.casters[0].protocol, SLUICE_PROTOCOL_RTMP);
        EXPECT_EQ(plan.casters[0].options, (std::vector<CasterOption>{{"url", c.url}})) << c.addr;
        EXPECT_EQ(plan.casters[0].label, std::string("RTMP push to ") + c.label);
    }
    OutputPlan none;
    planRtmp(none, enc::ProtocolSettings(), true);
    EXPECT_TRUE(none.casters.empty() && none.skipped.empty());
}

TEST(KorrinOutputs, HlsAndFlvFollowTheirSettingsWithTheStreamName) {
    struct Case {
        int hls, hlsPort;
        std::string hlsAddr;
        int flv, flvPort;
        std::string flvAddr;
        std::vector<std::pair<int, std::string>> casters;  // protocol, path
        size_t skipped;
    };
    const Case cases[] = {
        {1,
         8080,
         "hls/main",
         1,
         8080,
         "/live/main",
         {{SLUICE_PROTOCOL_HLS, "/hls/main"}, {SLUICE_PROTOCOL_FLV, "/live/main"}},
         0},
        {1, 0, "", 0, 8080, "x", {{SLUICE_PROTOCOL_HLS, "/sub"}}, 0},  // the stream's name
        {1, 65536, "a", 1, -1, "b", {}, 2},
        {0, 8080, "a", 0, 8080, "b", {}, 0},
    };
    for (const Case& c : cases) {
        enc::ProtocolSettings p;
        p.hlsEnabled = c.hls;
        p.hlsPort = c.hlsPort;
        p.hlsAddr = c.hlsAddr;
        p.flvEnabled = c.flv;
        p.flvPort = c.flvPort;
        p.flvAddr = c.flvAddr;
        OutputPlan plan;
        planHttpOutputs(plan, p, "sub");
        ASSERT_EQ(plan.casters.size(), c.casters.size()) << c.hlsAddr;
        EXPECT_EQ(plan.skipped.size(), c.skipped);
        for (size_t i = 0; i < c.casters.size(); ++i) {
            EXPECT_EQ(plan.casters[i].protocol, c.casters[i].first);
            EXPECT_TRUE(plan.casters[i].listens());
            const std::vector<CasterOption> path{{"path", c.casters[i].second}};
            EXPECT_TRUE(plan.casters[i].options == path);
        }
    }
}
