// The stream configuration built from the exported format, and the library-wide settings.
#include <gtest/gtest.h>

#include "LibrarySettings.h"
#include "MediaCasterConfig.h"
#include "TsApplication.h"
#include "sluice.h"

namespace LibrarySettings = av::LibrarySettings;
using av::MediaCasterConfig;
using av::TsApplication;

TEST(MediaCasterConfig, BuiltFieldByFieldFromTheExportedFormat) {
    const uint8_t sps[] = {0, 0, 0, 1, 0x67};
    const uint8_t asc[] = {0x11, 0x90};
    // Distinct values everywhere, so a field taken from the wrong place shows.
    const sluice_media_format f = {
        SLUICE_CODEC_H264, 1280, 720, 3, 100, 90000, SLUICE_CODEC_AAC, 2, 44100, 1, 1000, 5, sps,
        sizeof asc,        asc,  15,  16};
    const MediaCasterConfig c = TsApplication::makeConfig(f);
    EXPECT_EQ(c.videoCodec, SLUICE_CODEC_H264);
    EXPECT_EQ(c.width, 1280);
    EXPECT_EQ(c.height, 720);
    EXPECT_EQ(c.videoParam, 3);
    EXPECT_EQ(c.videoProfile, 100);
    EXPECT_EQ(c.videoClock, 90000);
    EXPECT_EQ(c.audioCodec, SLUICE_CODEC_AAC);
    EXPECT_EQ(c.channels, 2);
    EXPECT_EQ(c.sampleRate, 44100);
    EXPECT_EQ(c.audioProfile, 1);
    EXPECT_EQ(c.audioClock, 1000);
    EXPECT_EQ(c.formatParam15, 15);
    EXPECT_EQ(c.formatParam16, 16);
    EXPECT_EQ(c.configParam12, 16);
    EXPECT_EQ(c.configParam13, 1024);
    EXPECT_EQ(c.videoConfig, std::string("\x00\x00\x00\x01\x67", 5));
    EXPECT_EQ(c.audioConfig, "\x11\x90");
}

TEST(MediaCasterConfig, ConfigurationBlocksNeedAPointerAndAPositiveSize) {
    const uint8_t bytes[] = {1, 2, 3};
    sluice_media_format f = {};
    f.video_config_size = 3;  // without a pointer
    f.audio_config = bytes;
    for (int size : {0, -4}) {
        f.audio_config_size = size;
        const MediaCasterConfig c = TsApplication::makeConfig(f);
        EXPECT_TRUE(c.videoConfig.empty());
        EXPECT_TRUE(c.audioConfig.empty()) << size;
    }
}

TEST(LibrarySettings, SettersIgnoreValuesOutOfTheirRange) {
    EXPECT_EQ(LibrarySettings::sendBufferSize(), 2097152);
    LibrarySettings::setSendBufferSize(0);
    LibrarySettings::setSendBufferSize(-1);
    EXPECT_EQ(LibrarySettings::sendBufferSize(), 2097152);
    LibrarySettings::setStackSize(262144);
    LibrarySettings::setStackSize(-1);
    EXPECT_EQ(LibrarySettings::stackSize(), 262144);
    LibrarySettings::setStackSize(0);
    EXPECT_EQ(LibrarySettings::stackSize(), 0);
    LibrarySettings::setQueueDuration(-7);
    EXPECT_EQ(LibrarySettings::queueDuration(), -7);
    LibrarySettings::setQueueDuration(3000);
}
