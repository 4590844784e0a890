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

// The boundaries themselves are checked through the device handler (tests/device).
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

}  // namespace
