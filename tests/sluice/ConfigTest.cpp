// The stream configuration, the library-wide settings and the handle table.
#include <gtest/gtest.h>

#include "HttpTsMediaCaster.h"
#include "LibrarySettings.h"
#include "MediaCasterConfig.h"
#include "RtpTsMediaCaster.h"
#include "TcpTsMediaCaster.h"
#include "TsApplication.h"
#include "UdpTsMediaCaster.h"

using av::LibrarySettings;
using av::MediaCasterConfig;
using av::TsApplication;

TEST(MediaCasterConfig, FreshRecordHoldsOnlyTheTwoDefaults) {
    const MediaCasterConfig c;
    EXPECT_EQ(c.configParam12, 16);
    EXPECT_EQ(c.configParam13, 1024);
    for (int v : {c.videoCodec, c.width, c.height, c.videoParam, c.formatParam15, c.videoProfile,
                  c.videoClock, c.audioCodec, c.audioProfile, c.channels, c.sampleRate,
                  c.formatParam16, c.audioClock}) {
        EXPECT_EQ(v, 0);
    }
    EXPECT_TRUE(c.videoConfig.empty());
    EXPECT_TRUE(c.audioConfig.empty());
}

TEST(MediaCasterConfig, BuiltFieldByFieldFromTheExportedFormat) {
    const uint8_t sps[] = {0, 0, 0, 1, 0x67};
    const uint8_t asc[] = {0x11, 0x90};
    sluice_media_format f = {};
    f.video_codec = 28;
    f.width = 1280;
    f.height = 720;
    f.video_param = 3;
    f.video_profile = 100;
    f.video_clock = 90000;
    f.audio_codec = 86018;
    f.channels = 2;
    f.sample_rate = 44100;
    f.audio_profile = 1;
    f.audio_clock = 1000;
    f.video_config_size = sizeof sps;
    f.video_config = sps;
    f.audio_config_size = sizeof asc;
    f.audio_config = asc;
    f.format_param15 = 15;
    f.format_param16 = 16;
    const MediaCasterConfig c = TsApplication::makeConfig(f);
    EXPECT_EQ(c.videoCodec, 28);
    EXPECT_EQ(c.width, 1280);
    EXPECT_EQ(c.height, 720);
    EXPECT_EQ(c.videoParam, 3);
    EXPECT_EQ(c.videoProfile, 100);
    EXPECT_EQ(c.videoClock, 90000);
    EXPECT_EQ(c.audioCodec, 86018);
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

TEST(MediaCasterConfig, ConfigurationBlocksNeedAPointerAndASize) {
    const uint8_t bytes[] = {1, 2, 3};
    sluice_media_format f = {};
    f.video_config = nullptr;
    f.video_config_size = 3;
    f.audio_config = bytes;
    f.audio_config_size = 0;
    MediaCasterConfig c = TsApplication::makeConfig(f);
    EXPECT_TRUE(c.videoConfig.empty());
    EXPECT_TRUE(c.audioConfig.empty());
    f.audio_config_size = -4;
    c = TsApplication::makeConfig(f);
    EXPECT_TRUE(c.audioConfig.empty());
}

TEST(LibrarySettings, SettersIgnoreValuesOutOfTheirRange) {
    EXPECT_EQ(LibrarySettings::queueDuration(), 3000);
    EXPECT_EQ(LibrarySettings::sendBufferSize(), 2097152);
    EXPECT_EQ(LibrarySettings::stackSize(), 0);
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
    LibrarySettings::setSendBufferSize(2097152);
}

TEST(TsApplication, AnEmptyReferenceIsNeverRegistered) {
    TsApplication& app = TsApplication::instance();
    app.clear();
    EXPECT_EQ(app.registerCaster(nullptr), -1);
    EXPECT_EQ(app.count(), 0);
    EXPECT_EQ(app.find(-1), nullptr);
    EXPECT_EQ(app.find(64), nullptr);
    EXPECT_EQ(app.remove(64), nullptr);
}

TEST(TsApplication, ProtocolNumbersChooseTheCaster) {
    EXPECT_NE(dynamic_cast<av::RtpTsMediaCaster*>(TsApplication::createCaster(3).get()), nullptr);
    for (int protocol : {0, 1, 5, 7, -1}) {
        auto caster = TsApplication::createCaster(protocol);
        EXPECT_NE(dynamic_cast<av::UdpTsMediaCaster*>(caster.get()), nullptr) << protocol;
        EXPECT_EQ(dynamic_cast<av::RtpTsMediaCaster*>(caster.get()), nullptr) << protocol;
    }
    auto tcp = TsApplication::createCaster(2);
    EXPECT_NE(dynamic_cast<av::TcpTsMediaCaster*>(tcp.get()), nullptr);
    EXPECT_EQ(dynamic_cast<av::HttpTsMediaCaster*>(tcp.get()), nullptr);
    EXPECT_NE(dynamic_cast<av::HttpTsMediaCaster*>(TsApplication::createCaster(4).get()), nullptr);
}
