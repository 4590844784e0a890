#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "FileStamp.h"
#include "SettledFiles.h"
#include "TestSupport.h"

namespace {

using comn::FileStamp;
using testsupport::TempDir;
using testsupport::writeFile;

TEST(FileStamp, NotesOnlySettledFilesAndSeesEveryKindOfChange) {
    TempDir dir;
    struct Case {
        const char* name;
        std::function<void(const std::string& path)> change;  // after take()
        bool unchanged;
    };
    const std::vector<Case> cases = {
        {"untouched", [](const std::string&) {}, true},
        {"rewritten in place, same size", [](const std::string& p) { writeFile(p, "b=2\n"); },
         false},
        {"replaced by rename, same size",
         [](const std::string& p) {
             writeFile(p + ".new", "b=2\n");
             ASSERT_EQ(::rename((p + ".new").c_str(), p.c_str()), 0);
         },
         false},
        {"mode changed", [](const std::string& p) { ASSERT_EQ(::chmod(p.c_str(), 0600), 0); },
         false},
        {"removed", [](const std::string& p) { ASSERT_EQ(::unlink(p.c_str()), 0); }, false},
    };
    std::vector<std::string> paths;
    for (size_t i = 0; i < cases.size(); ++i) {
        paths.push_back(dir.file("f" + std::to_string(i)));
        writeFile(paths.back(), "a=1\n");
        ASSERT_EQ(::chmod(paths.back().c_str(), 0644), 0);
    }
    // Just written: not noted, or a second write within the same tick could go unseen.
    FileStamp fresh;
    fresh.take(paths[0]);
    EXPECT_FALSE(fresh.unchanged(paths[0]));
    ASSERT_TRUE(testsupport::waitSettled(paths));

    for (size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(cases[i].name);
        FileStamp s;
        s.take(paths[i]);
        cases[i].change(paths[i]);
        EXPECT_EQ(s.unchanged(paths[i]), cases[i].unchanged);
    }

    FileStamp s;
    EXPECT_FALSE(s.unchanged(paths[0])) << "nothing noted yet";
    s.take(paths[0]);
    EXPECT_FALSE(s.unchanged(paths[1])) << "another file";
    s.clear();
    EXPECT_FALSE(s.unchanged(paths[0])) << "cleared";
    // A missing file stays noted as missing until it appears.
    const std::string later = dir.file("later");
    s.take(later);
    EXPECT_TRUE(s.absent());
    EXPECT_TRUE(s.unchanged(later)) << "still missing";
    writeFile(later, "a=1\n");
    EXPECT_FALSE(s.unchanged(later)) << "created";
    s.take(dir.file("no-such-dir/file"));
    EXPECT_TRUE(s.unchanged(dir.file("no-such-dir/file")));
}

}  // namespace
