// The clamp tables: a replacement outside its own limits, or a never-loaded file whose
// defaults a save through the web API would rewrite, is a fault in the table.

#include <gtest/gtest.h>

#include "EncoderConfigFile.h"
#include "SettingsLimits.h"

namespace {

using namespace enc;

template <class R>
void expectReplacementsWithinLimits(const std::vector<FieldLimit<R>>& limits) {
    ASSERT_FALSE(limits.empty());
    for (const FieldLimit<R>& l : limits) {
        EXPECT_LE(l.low, l.high);
        EXPECT_GE(l.replacement, l.low);
        EXPECT_LE(l.replacement, l.high);
    }
}

template <class R>
R clamped(R record, const std::vector<FieldLimit<R>>& limits) {
    applyLimits(record, limits);
    return record;
}

TEST(SettingsLimits, EveryReplacementLiesWithinItsOwnLimits) {
    for (int index : {0, 1}) {
        SCOPED_TRACE(index);
        expectReplacementsWithinLimits(videoLimits(index, 60));
        expectReplacementsWithinLimits(protocolLimits(index));
        expectReplacementsWithinLimits(overlayLimits(index));
    }
    expectReplacementsWithinLimits(clockLimits());
    expectReplacementsWithinLimits(ircutLimits());
}

TEST(SettingsLimits, NeverLoadedDefaultsPassTheirOwnClamps) {
    const EncoderConfigFile defaults;
    for (int i : {0, 1}) {
        SCOPED_TRACE(i);
        const VideoSettings v = clamped(defaults.video[i], videoLimits(i, 60));
        EXPECT_EQ(v.framerate, defaults.video[i].framerate);
        EXPECT_EQ(v.gop, defaults.video[i].gop);
        EXPECT_EQ(v.bitrate, defaults.video[i].bitrate);
        const ProtocolSettings& p = defaults.protocol[i];
        const ProtocolSettings c = clamped(p, protocolLimits(i));
        EXPECT_EQ(c.httpPort, p.httpPort);
        EXPECT_EQ(c.rtspPort, p.rtspPort);
        EXPECT_EQ(c.multicastPort, p.multicastPort);
        EXPECT_EQ(c.rtmpPort, p.rtmpPort);
        EXPECT_EQ(c.tsPort, p.tsPort);
    }
}

TEST(SettingsLimits, BoundariesAreKeptAndOnePastThemReplaced) {
    VideoSettings v;
    v.framerate = 62;  // input 60 + 2
    v.gop = 200;
    v.bitrate = 256;
    v.minQp = 12;
    v.maxQp = 51;
    EXPECT_EQ(clamped(v, videoLimits(0, 60)).framerate, 62);
    EXPECT_EQ(clamped(v, videoLimits(0, 60)).gop, 200);
    EXPECT_EQ(clamped(v, videoLimits(0, 60)).bitrate, 256);
    v.framerate = 63;
    v.gop = 201;
    v.bitrate = 255;
    v.minQp = 11;
    v.maxQp = 52;
    const VideoSettings main = clamped(v, videoLimits(0, 60));
    EXPECT_EQ(main.framerate, 30);
    EXPECT_EQ(main.gop, 30);
    EXPECT_EQ(main.bitrate, 2500);
    EXPECT_EQ(main.minQp, 12);
    EXPECT_EQ(main.maxQp, 40);
    EXPECT_EQ(clamped(v, videoLimits(1, 60)).bitrate, 1000);

    ProtocolSettings p;
    p.multicastPort = 0;
    p.tsHttpPort = 65536;
    EXPECT_EQ(clamped(p, protocolLimits(1)).multicastPort, 5000);
    EXPECT_EQ(clamped(p, protocolLimits(1)).tsHttpPort, 8082);
    EXPECT_EQ(clamped(p, protocolLimits(0)).tsPort, 20000);
    EXPECT_EQ(clamped(p, protocolLimits(1)).tsPort, 20001);

    IrcutSettings ir;
    ir.gpsInterval = 19;
    EXPECT_EQ(clamped(ir, ircutLimits()).gpsInterval, 20);
    ir.gpsInterval = 100000;
    EXPECT_EQ(clamped(ir, ircutLimits()).gpsInterval, 100000);
}

}  // namespace
