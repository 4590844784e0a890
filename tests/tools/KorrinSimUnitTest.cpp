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
#include "sluice.h"

using namespace ksim;

namespace {

enc::VideoSettings video(const std::string& codec, const std::string& resolution, int fps = 30,
                         int gop = 30, int kbps = 2000) {
    enc::VideoSettings v;
    v.codec = codec;
    v.resolution = resolution;
    v.framerate = fps;
    v.gop = gop;
    v.bitrate = kbps;
    return v;
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

TEST(KorrinInput, DescriptionsNameTheInput) {
    InputState s;
    EXPECT_EQ(s.describe(), "1920*1080P60");
    s.scanType = 'N';
    s.width = 720;
    s.height = 480;
    EXPECT_EQ(s.describe(), "720*480I60");
    EXPECT_STREQ(s.kindName(), "CVBS");
    s.signal = false;
    EXPECT_EQ(s.describe(), "No Signal");
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

    for (const auto& bad : std::vector<std::vector<std::string>>{{"--input-size"},
                                                                 {"--input-size", "big"},
                                                                 {"--status-interval", "10"},
                                                                 {"--status-interval", "1s"},
                                                                 {"--colour"}}) {
        SimOptions fresh;
        EXPECT_FALSE(parse(bad, fresh, why)) << bad[0];
    }
}

TEST(KorrinEncodeParams, ExplicitSizesAreClampedAndMadeEven) {
    const InputState input;
    struct Case {
        const char* resolution;
        int width;
        int height;
    };
    for (const Case& c : std::vector<Case>{{"1280*720", 1280, 720},
                                           {"1280x720", 1280, 720},
                                           {"641*361", 640, 360},
                                           {"32*32", 64, 64},
                                           {"5000*3000", 3840, 2160}}) {
        const EncodeParams p = encodeParamsFor(0, video("H.264", c.resolution), input);
        EXPECT_EQ(p.width, c.width) << c.resolution;
        EXPECT_EQ(p.height, c.height) << c.resolution;
    }
}

TEST(KorrinEncodeParams, ZeroSizeTakesTheInputScaledToTheDemoBound) {
    InputState input;  // 1920x1080
    EncodeParams p = encodeParamsFor(0, video("H.264", "0*0"), input);
    EXPECT_EQ(p.width, 1280);
    EXPECT_EQ(p.height, 720);
    p = encodeParamsFor(1, video("H.264", "0*0"), input);
    EXPECT_EQ(p.width, 640);
    EXPECT_EQ(p.height, 360);

    input.width = 720;  // PAL fits unscaled
    input.height = 576;
    p = encodeParamsFor(0, video("H.264", "0*0"), input);
    EXPECT_EQ(p.width, 720);
    EXPECT_EQ(p.height, 576);
    p = encodeParamsFor(1, video("H.264", "0*0"), input);  // by the height: 360/576
    EXPECT_EQ(p.width, 450);
    EXPECT_EQ(p.height, 360);

    input.signal = false;  // the picture of a 1080p input
    p = encodeParamsFor(0, video("H.264", "0*0"), input);
    EXPECT_EQ(p.width, 1280);

    std::string note;
    p = encodeParamsFor(0, video("H.264", "wide"), InputState(), &note);
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

    p.tsHttpPort = 0;
    p.tsPort = 65536;
    p.multicastAddr = "";
    plan = planOutputs(p, true);
    EXPECT_TRUE(plan.casters.empty());
    EXPECT_EQ(plan.skipped.size(), 3u);

    EXPECT_TRUE(planOutputs(enc::ProtocolSettings(), false).casters.empty());
}

TEST(KorrinStatus, RecordsDescribeTheInputAndWhatEachStreamEncodes) {
    InputState input;
    const StreamReport main{true, "H.264", 1280, 720, 30, 2000};
    const StreamReport sub{true, "H.265", 640, 360, 25, 800};
    const AudioReport audio{true, 48000, 2, 64000};
    StatusRecords r = buildStatusRecords(input, main, sub, audio);
    EXPECT_EQ(r.input.signalFlags, 1);
    EXPECT_EQ(r.input.scanType, 'P');
    EXPECT_EQ(r.input.width, 1920);
    EXPECT_EQ(r.input.height, 1080);
    EXPECT_EQ(r.input.rate, 60);
    EXPECT_STREQ(r.audio.format, "PCM");
    EXPECT_EQ(r.audio.sampleRate, 48000u);
    EXPECT_EQ(r.audio.bits, 16);
    EXPECT_EQ(r.encode.stream[0].width, 1280);
    EXPECT_EQ(r.encode.stream[1].fps, 25);
    EXPECT_GT(r.system.textCount, 0);
    EXPECT_STREQ(r.system.mainInputName, "HDMI");
    EXPECT_EQ(r.system.mainWidth, 1280);
    EXPECT_EQ(r.system.mainFps, 30);
    EXPECT_EQ(r.system.subHeight, 360);
    EXPECT_EQ(r.system.inputFps, 60);
    EXPECT_EQ(r.active.activeStream, 0u);
    EXPECT_STREQ(r.active.videoFormat, "H.264 1280*720@30 2000kbps");
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
    EXPECT_EQ(r.active.activeStream, 1u);
    EXPECT_STREQ(r.active.videoFormat, "H.265 640*360@25 800kbps");

    r = buildStatusRecords(input, StreamReport(), StreamReport(), AudioReport());
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

TEST(KorrinPicture, GlyphsAreThereAndUnknownCharactersShowAQuestionMark) {
    auto dots = [](char c) {
        int n = 0;
        for (int x = 0; x < BitmapFont::kGlyphWidth; ++x) {
            for (int y = 0; y < BitmapFont::kGlyphHeight; ++y) {
                n += BitmapFont::dot(c, x, y) ? 1 : 0;
            }
        }
        return n;
    };
    EXPECT_EQ(dots(' '), 0);
    for (char c = '!'; c <= '_'; ++c) {
        EXPECT_GT(dots(c), 0) << c;
    }
    EXPECT_EQ(dots('a'), dots('A'));
    for (int x = 0; x < 5; ++x) {
        for (int y = 0; y < 7; ++y) {
            EXPECT_EQ(BitmapFont::dot('~', x, y), BitmapFont::dot('?', x, y));
            EXPECT_EQ(BitmapFont::dot('\n', x, y), BitmapFont::dot('?', x, y));
        }
    }
    EXPECT_FALSE(BitmapFont::dot('H', 5, 0));
    EXPECT_FALSE(BitmapFont::dot('H', 0, -1));
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
