#include <gtest/gtest.h>

#include <sys/stat.h>

#include <climits>

#include "EncoderConfigFile.h"
#include "TestSupport.h"

namespace {

using enc::EncoderConfigFile;
using testsupport::readFile;
using testsupport::TempDir;
using testsupport::writeFile;

// A never-loaded model's file (the factory settings, checked byte for byte in tests/deploy).
std::string defaultsText(const TempDir& dir) {
    EXPECT_TRUE(EncoderConfigFile().save(dir.file("defaults.ini")));
    return readFile(dir.file("defaults.ini"));
}

TEST(EncoderConfigFile, AFileWithOneKeyChangesOnlyThatField) {
    TempDir dir;
    writeFile(dir.file("e.ini"), "[network]\nip=10.0.0.5\n");
    EncoderConfigFile cfg;
    ASSERT_TRUE(cfg.load(dir.file("e.ini")));
    EXPECT_EQ(cfg.network.ip, "10.0.0.5");
    EncoderConfigFile defaults;
    EXPECT_EQ(cfg.network.mask, defaults.network.mask);
    EXPECT_EQ(cfg.network.gate, defaults.network.gate);
    EXPECT_EQ(cfg.video[0].bitrate, defaults.video[0].bitrate);
    EXPECT_EQ(cfg.protocol[1].tsAddr, defaults.protocol[1].tsAddr);
    EXPECT_FALSE(cfg.load(dir.file("gone.ini")));  // a failed load keeps what was read
    EXPECT_EQ(cfg.network.ip, "10.0.0.5");
}

// Fields whose keys could clash (chroma and logo share the overlay and network sections),
// texts with blanks, the largest unsigned colour and the secrets survive a save and reload.
TEST(EncoderConfigFile, FieldsRoundTrip) {
    TempDir dir;
    EncoderConfigFile cfg;
    cfg.osd[0][0].text = "Camera one";
    cfg.osd[0][0].bkColor = UINT_MAX;
    cfg.osd[1][0].opacity = 99;
    cfg.chroma[0].hue = 11;
    cfg.chroma[1].hue = 22;
    cfg.logo[1].name = "sub.bmp";
    cfg.ftp = {"10.1.1.1", "u", "p", 6, 1, "pool.ntp.org", -5};
    cfg.upgradeServer.serverIP = "10.2.2.2";
    cfg.sysInfo.serverIP = "10.3.3.3";
    cfg.sysInfo.path = "/mnt/a b";
    cfg.sysInfo.place = 2;
    cfg.sysInfo.add_pict_1 = "/mnt/param/add_1.jpg";
    cfg.author = "admin";
    cfg.pwd = "secret";
    ASSERT_TRUE(cfg.save(dir.file("e.ini")));
    EXPECT_NE(readFile(dir.file("e.ini")).find("bkColor=4294967295\n"), std::string::npos);

    EncoderConfigFile back;
    ASSERT_TRUE(back.load(dir.file("e.ini")));
    EXPECT_EQ(back.osd[0][0].text, "Camera one");
    EXPECT_EQ(back.osd[0][0].bkColor, UINT_MAX);
    EXPECT_EQ(back.osd[1][0].opacity, 99);
    EXPECT_EQ(std::vector<int>({back.chroma[0].hue, back.chroma[1].hue}),
              std::vector<int>({11, 22}));
    EXPECT_EQ(back.logo[1].name, "sub.bmp");
    EXPECT_EQ(back.ini().getValue("network", "hue_s", "?"), "22");
    EXPECT_EQ(back.ini().getValue("sub_osd_0", "logo_name", "?"), "sub.bmp");
    EXPECT_EQ(back.ftp.ftpserverIP + back.ftp.username + back.ftp.fpassword + back.ftp.timeServer,
              "10.1.1.1uppool.ntp.org");
    EXPECT_EQ(std::vector<int>({back.ftp.ftptime, back.ftp.timeMode, back.ftp.localtimezone}),
              std::vector<int>({6, 1, -5}));
    EXPECT_EQ(back.upgradeServer.serverIP, "10.2.2.2");
    EXPECT_EQ(back.sysInfo.serverIP, "10.3.3.3");
    EXPECT_EQ(back.sysInfo.path, "/mnt/a b");
    EXPECT_EQ(back.sysInfo.place, 2);
    EXPECT_EQ(back.sysInfo.add_pict_1, "/mnt/param/add_1.jpg");
    EXPECT_EQ(back.author + ":" + back.pwd, "admin:secret");
}

TEST(EncoderConfigFile, CrLfFileGivesTextsWithoutTheCarriageReturn) {
    TempDir dir;
    writeFile(dir.file("e.ini"),
              "[master_video]\r\ncodec=H.264\r\nbitrate=900\r\n"
              "[master_osd_0]\r\ntext=Camera one\r\n");
    EncoderConfigFile cfg;
    ASSERT_TRUE(cfg.load(dir.file("e.ini")));
    EXPECT_EQ(cfg.video[0].codec, "H.264");
    EXPECT_EQ(cfg.video[0].bitrate, 900);
    EXPECT_EQ(cfg.osd[0][0].text, "Camera one");
}

TEST(EncoderConfigFile, UnknownSectionsKeysAndCommentsSurviveAndOnlyTheChangeDiffers) {
    TempDir dir;
    // A complete file, edited by hand: comments, an unknown key, an unknown section.
    std::string text = defaultsText(dir);
    text = "# encoder settings\n# edited by hand\n" + text;
    const std::string ipLine = "ip=192.168.1.230\n";
    text.insert(text.find(ipLine), "; the wired address\n");
    text.insert(text.find("[wifi]"), "\n");  // an extra blank line is not kept, see below
    text += "\n[custom]\n# vendor data\nvendorKey=some value\n";
    text.insert(text.find("bitrate=2048\n") + 13, "vendorVideoKey=1\n");
    writeFile(dir.file("e.ini"), text);

    EncoderConfigFile cfg;
    ASSERT_TRUE(cfg.load(dir.file("e.ini")));
    cfg.video[0].bitrate = 4096;
    ASSERT_TRUE(cfg.save(dir.file("e.ini")));

    std::string expected = text;
    expected.replace(expected.find("\n\n[wifi]"), 2, "\n");
    expected.replace(expected.find("bitrate=2048\n"), 13, "bitrate=4096\n");
    EXPECT_EQ(readFile(dir.file("e.ini")), expected);
}

// Each stream's SRT output has its own section; a file without them reads a disabled listener
// on the stream's default port, and a passphrase with blanks and '=' survives a round trip.
TEST(EncoderConfigFile, SrtSectionsRoundTripPerStream) {
    TempDir dir;
    writeFile(dir.file("e.ini"), "[sub_srt]\n; keep me\nlatency=300\nextra=1\n");
    EncoderConfigFile cfg;
    ASSERT_TRUE(cfg.load(dir.file("e.ini")));
    EXPECT_EQ(cfg.srt[0].mode, "listener");
    EXPECT_EQ(std::vector<int>({cfg.srt[0].enabled, cfg.srt[0].port, cfg.srt[0].latency,
                                cfg.srt[0].keyLength, cfg.srt[1].port, cfg.srt[1].latency}),
              std::vector<int>({0, 9000, 120, 16, 9001, 300}));

    cfg.srt[1].enabled = 1;
    cfg.srt[1].mode = "caller";
    cfg.srt[1].callerAddr = "relay.example.net";
    cfg.srt[1].callerPort = 7001;
    cfg.srt[1].passphrase = "a b=c d e f g";
    cfg.srt[1].streamId = "#!::r=live/sub";
    ASSERT_TRUE(cfg.save(dir.file("e.ini")));
    const std::string text = readFile(dir.file("e.ini"));
    EXPECT_NE(text.find("; keep me"), std::string::npos);
    EXPECT_NE(text.find("extra=1"), std::string::npos);
    EXPECT_NE(text.find("\n[master_srt]\nenabled=0\nmode=listener\nport=9000\n"),
              std::string::npos);

    EncoderConfigFile back;
    ASSERT_TRUE(back.load(dir.file("e.ini")));
    const enc::SrtSettings& sub = back.srt[1];
    EXPECT_EQ(sub.mode + "|" + sub.callerAddr + "|" + sub.passphrase + "|" + sub.streamId,
              "caller|relay.example.net|a b=c d e f g|#!::r=live/sub");
    EXPECT_EQ(std::vector<int>({sub.enabled, sub.callerPort, sub.latency, back.srt[0].enabled}),
              std::vector<int>({1, 7001, 300, 0}));
}

// The file holds the web password: only its owner may read it, also after a file that
// was more open (an older release wrote 0644) has been replaced.
TEST(EncoderConfigFile, SavedFileIsReadableByItsOwnerOnly) {
    TempDir dir;
    for (const bool existed : {false, true}) {
        const std::string path = dir.file(existed ? "old.ini" : "new.ini");
        if (existed) {
            writeFile(path, "[input]\npwd=secret\n");
            ASSERT_EQ(::chmod(path.c_str(), 0644), 0);
        }
        EncoderConfigFile cfg;
        cfg.load(path);
        ASSERT_TRUE(cfg.save(path));
        struct stat st {};
        ASSERT_EQ(::stat(path.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0600u) << path;
    }
}

}  // namespace
