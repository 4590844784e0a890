#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "EncoderConfigFile.h"
#include "FileStamp.h"
#include "SettledFiles.h"
#include "TestSupport.h"

namespace {

using enc::EncoderConfigFile;
using testsupport::readFile;
using testsupport::TempDir;
using testsupport::writeFile;

std::string savedText(EncoderConfigFile cfg, const std::string& path) {
    EXPECT_TRUE(cfg.save(path));
    return readFile(path);
}

// Whatever was changed in memory since, reload() of an unchanged file leaves the record as
// a full load() of it would.
TEST(SettingsReload, AnUnchangedFileGivesWhatLoadingItAgainGives) {
    TempDir dir;
    struct Case {
        const char* name;
        const char* file;
        std::function<void(EncoderConfigFile&)> change;
        std::function<void(const EncoderConfigFile&)> check;
    };
    const std::vector<Case> cases = {
        {"stored fields come back from the file",
         "[master_video]\nbitrate=4096\n[network]\nip=10.0.0.5\n",
         [](EncoderConfigFile& c) {
             c.video[0].bitrate = 1;
             c.network.ip = "changed";
         },
         [](const EncoderConfigFile& c) {
             EXPECT_EQ(c.video[0].bitrate, 4096);
             EXPECT_EQ(c.network.ip, "10.0.0.5");
         }},
        {"fields without a key in the file keep their value", "[master_video]\nbitrate=4096\n",
         [](EncoderConfigFile& c) {
             c.video[1].bitrate = 777;
             c.ircut.gpsInterval = 3;
         },
         [](const EncoderConfigFile& c) {
             EXPECT_EQ(c.video[1].bitrate, 777);
             EXPECT_EQ(c.ircut.gpsInterval, 3);
         }},
        {"a blank number leaves the field, a non-number reads 0",
         "[master_video]\nbitrate=  \ngop=abc\n",
         [](EncoderConfigFile& c) {
             c.video[0].bitrate = 555;
             c.video[0].gop = 9;
         },
         [](const EncoderConfigFile& c) {
             EXPECT_EQ(c.video[0].bitrate, 555);
             EXPECT_EQ(c.video[0].gop, 0);
         }},
        {"an empty text empties the field", "[network]\nip=\r\n",
         [](EncoderConfigFile& c) { c.network.ip = "changed"; },
         [](const EncoderConfigFile& c) { EXPECT_EQ(c.network.ip, ""); }},
    };
    std::vector<std::string> paths;
    for (size_t i = 0; i < cases.size(); ++i) {
        paths.push_back(dir.file("e" + std::to_string(i) + ".ini"));
        writeFile(paths.back(), cases[i].file);
    }
    ASSERT_TRUE(testsupport::waitSettled(paths));
    for (size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(cases[i].name);
        EncoderConfigFile reloaded;
        EncoderConfigFile loaded;
        ASSERT_TRUE(reloaded.load(paths[i]));
        ASSERT_TRUE(loaded.load(paths[i]));
        for (int round = 0; round < 2; ++round) {
            cases[i].change(reloaded);
            cases[i].change(loaded);
            ASSERT_TRUE(reloaded.reload(paths[i]));
            ASSERT_TRUE(loaded.load(paths[i]));
            cases[i].check(reloaded);
            EXPECT_EQ(savedText(reloaded, dir.file("a.ini")), savedText(loaded, dir.file("b.ini")));
        }
        EXPECT_EQ(readFile(paths[i]), cases[i].file) << "reload never writes";
    }
}

TEST(SettingsReload, ReadsTheFileAgainWhenItOrTheModelChanged) {
    TempDir dir;
    const char* kFile = "[master_video]\nbitrate=4096\n[custom]\nkey=1\n";
    struct Case {
        const char* name;
        std::function<void(EncoderConfigFile&, const std::string& path)> between;
        int bitrate;  // expected after reload()
        bool found;   // reload()'s result
    };
    const std::vector<Case> cases = {
        {"rewritten in place, same size",
         [](EncoderConfigFile&, const std::string& p) {
             writeFile(p, "[master_video]\nbitrate=2048\n[custom]\nkey=1\n");
         },
         2048, true},
        {"saved elsewhere: the model holds the record now",
         [&dir](EncoderConfigFile& c, const std::string&) {
             c.video[0].bitrate = 9;
             ASSERT_TRUE(c.save(dir.file("elsewhere.ini")));
         },
         4096, true},
        {"removed: nothing changes, as for load()",
         [](EncoderConfigFile& c, const std::string& p) {
             c.video[0].bitrate = 9;
             ASSERT_EQ(::unlink(p.c_str()), 0);
         },
         9, false},
    };
    std::vector<std::string> paths;
    for (size_t i = 0; i < cases.size(); ++i) {
        paths.push_back(dir.file("e" + std::to_string(i) + ".ini"));
        writeFile(paths.back(), kFile);
    }
    const std::string modelChanged = dir.file("model.ini");
    writeFile(modelChanged, kFile);
    paths.push_back(modelChanged);
    ASSERT_TRUE(testsupport::waitSettled(paths));
    for (size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(cases[i].name);
        EncoderConfigFile cfg;
        ASSERT_TRUE(cfg.load(paths[i]));
        cases[i].between(cfg, paths[i]);
        EXPECT_EQ(cfg.reload(paths[i]), cases[i].found);
        EXPECT_EQ(cfg.video[0].bitrate, cases[i].bitrate);
    }

    // A change to the model through ini() is undone by the next reload, as by load().
    EncoderConfigFile cfg;
    ASSERT_TRUE(cfg.load(modelChanged));
    cfg.ini().setValue("master_video", "bitrate", "1234");
    ASSERT_TRUE(cfg.reload(modelChanged));
    const EncoderConfigFile& view = cfg;
    EXPECT_EQ(view.ini().getValue("master_video", "bitrate", ""), "4096");

    // A missing file changes nothing until it appears, as for load().
    const std::string later = dir.file("later.ini");
    EncoderConfigFile fresh;
    EXPECT_FALSE(fresh.load(later));
    fresh.video[0].bitrate = 9;
    EXPECT_FALSE(fresh.reload(later));
    EXPECT_EQ(fresh.video[0].bitrate, 9);
    writeFile(later, kFile);
    EXPECT_TRUE(fresh.reload(later));
    EXPECT_EQ(fresh.video[0].bitrate, 4096);
}

}  // namespace
