#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <csignal>

#include "IniFile.h"
#include "TestSupport.h"

namespace {

using comn::IniFile;
using testsupport::readFile;
using testsupport::TempDir;
using testsupport::writeFile;

IniFile loadText(const TempDir& dir, const std::string& text, bool trimCr = false) {
    writeFile(dir.file("in.ini"), text);
    IniFile ini;
    EXPECT_TRUE(ini.load(dir.file("in.ini"), trimCr));
    return ini;
}

std::string roundTrip(const TempDir& dir, const std::string& text) {
    IniFile ini = loadText(dir, text);
    EXPECT_TRUE(ini.save(dir.file("out.ini")));
    return readFile(dir.file("out.ini"));
}

// A save writes the model as read: a blank line before each section, comments before their
// entry, trailing comments and blank lines dropped, a CR inside a line kept.
TEST(IniFileLoad, SaveWritesTheModelAsRead) {
    const struct {
        const char* in;
        const char* out;
    } cases[] = {
        {"", ""},
        {"[a]\nk=v\n", "\n[a]\nk=v\n"},
        {"top=1\n[a]\nk=v\n", "\n[]\ntop=1\n\n[a]\nk=v\n"},
        {"[net]\nip=1\n[net]\nip=2\n", "\n[net]\nip=1\n\n[net]\nip=2\n"},
        {"[a]\nk=v\r\n", "\n[a]\nk=v\r\n"},
        {"# header one\n; header two\n\n[a]\nk1=1\n# between\n; entries\nk2=2\n"
         "# before section\n[b]\ngarbage line\nk3=3\n# trailing, lost\n",
         "# header one\n; header two\n\n[a]\nk1=1\n# between\n; entries\nk2=2\n\n[b]\n"
         "# before section\ngarbage line\nk3=3\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.in);
        TempDir dir;
        EXPECT_EQ(roundTrip(dir, c.in), c.out);
    }
}

TEST(IniFileLoad, LookupsSeeTheFileAsWritten) {
    TempDir dir;
    IniFile ini = loadText(dir,
                           "# header\ntop=1\n   [net]   \nkey = value\na=b=c\n# between\nk2=2\n"
                           "[a] x ]\ny=2\n[open\nz=3\n[net]\na=second\n");
    ASSERT_EQ(ini.getSectionCount(), 5u);
    EXPECT_EQ(ini.getSection(0).name, "");  // keys before the first header
    EXPECT_EQ(ini.getValue("", "top", "?"), "1");
    EXPECT_EQ(ini.getSection(2).name, "a] x ");  // names run to the last bracket
    EXPECT_EQ(ini.getSection(3).name, "open");
    EXPECT_EQ(ini.getValue("net", "key ", "?"), " value");  // untrimmed
    EXPECT_EQ(ini.getValue("net", "key", "missing"), "missing");
    EXPECT_EQ(ini.getValue("net", "a", "?"), "b=c");  // the first duplicate section wins
    EXPECT_EQ(ini.getHeaderComment(), "# header\n");
    EXPECT_EQ(ini.getComment("net", "k2"), "# between\n");
    EXPECT_FALSE(ini.load(dir.file("missing.ini")));  // keeps the model
    EXPECT_EQ(ini.getValue("net", "a", "?"), "b=c");

    const std::string crlf = "[a]\r\nk=v w\r\nn=7\r\n";
    EXPECT_EQ(loadText(dir, crlf).getValue("a", "k", "?"), "v w");
    EXPECT_EQ(loadText(dir, crlf, true).getValue("a", "k", "?"), "v w");
    int n = 0;
    EXPECT_TRUE(loadText(dir, crlf).getValue("a", "n", n));
    EXPECT_EQ(n, 7);
    // Only a final CR is a line end; one inside the value is the value's.
    EXPECT_EQ(loadText(dir, "[a]\nk=v\rw\n").getValue("a", "k", "?"), "v\rw");
}

TEST(IniFileTypedRead, FollowsStreamExtraction) {
    TempDir dir;
    IniFile ini = loadText(dir,
                           "[t]\nnum=12abc\nword=abc\nempty=\nblank=   \nbig=99999999999\n"
                           "neg=-5\ntext=Camera one\n");
    int v = 42;
    EXPECT_TRUE(ini.getValue("t", "num", v));
    EXPECT_EQ(v, 12);
    EXPECT_TRUE(ini.getValue("t", "word", v));
    EXPECT_EQ(v, 0);
    v = 42;
    EXPECT_TRUE(ini.getValue("t", "empty", v));
    EXPECT_EQ(v, 42);
    EXPECT_TRUE(ini.getValue("t", "blank", v));
    EXPECT_EQ(v, 42);
    EXPECT_TRUE(ini.getValue("t", "big", v));
    EXPECT_EQ(v, INT_MAX);
    EXPECT_TRUE(ini.getValue("t", "neg", v));
    EXPECT_EQ(v, -5);
    EXPECT_FALSE(ini.getValue("t", "missing", v));
    EXPECT_FALSE(ini.getValue("nosection", "num", v));
    EXPECT_EQ(v, -5);

    unsigned int u = 0;
    EXPECT_TRUE(ini.getValue("t", "big", u));
    EXPECT_EQ(u, UINT_MAX);

    std::string s = "old";
    EXPECT_TRUE(ini.getValue("t", "text", s));
    EXPECT_EQ(s, "Camera");
    s = "old";
    EXPECT_TRUE(ini.getValue("t", "empty", s));
    EXPECT_EQ(s, "old");
}

TEST(IniFileEdit, SetValueAppendsMissingSectionsAndKeys) {
    TempDir dir;
    IniFile ini = loadText(dir, "# top\n[a]\n# c1\nk=v\n[b]\nx=1\n");
    ini.setValue("a", "k", "changed");
    ini.setValue("a", "new", 5);
    ini.setValue("c", "n", 4294967295u);
    EXPECT_EQ(ini.getComment("a", "k"), "# c1\n");
    ASSERT_TRUE(ini.save(dir.file("out.ini")));
    EXPECT_EQ(readFile(dir.file("out.ini")),
              "# top\n\n[a]\n# c1\nk=changed\nnew=5\n\n[b]\nx=1\n\n[c]\nn=4294967295\n");
}

TEST(IniFileEdit, LineBreaksInKeysAndValuesCannotInjectLines) {
    TempDir dir;
    IniFile ini;
    ini.setValue("net", "ip", "1.2.3.4\n[evil]\nkey=x\r");
    ini.setValue("net", "bad\nkey", "v");
    ini.setComment("net", "c\rk", "# fine\n");
    ASSERT_TRUE(ini.save(dir.file("out.ini")));
    IniFile back;
    ASSERT_TRUE(back.load(dir.file("out.ini")));
    EXPECT_EQ(back.getSectionCount(), 1u);
    EXPECT_FALSE(back.hasSection("evil"));
    EXPECT_EQ(back.getValue("net", "ip", "?"), "1.2.3.4 [evil] key=x ");
    EXPECT_EQ(back.getValue("net", "bad key", "?"), "v");
    EXPECT_EQ(back.getComment("net", "c k"), "# fine\n");
}

TEST(IniFileEdit, SectionAndEntryOperations) {
    IniFile ini;
    EXPECT_TRUE(ini.addSection("a"));
    EXPECT_FALSE(ini.addSection("a"));
    EXPECT_EQ(ini.getEntryCount("a"), 0u);
    EXPECT_EQ(ini.getEntryCount("missing"), 0u);
    ini.setValue("a", "k", "v");
    ini.setComment("a", "k", "# c\n");
    EXPECT_TRUE(ini.hasEntry("a", "k"));
    ini.removeAllComments();
    EXPECT_EQ(ini.getComment("a", "k"), "");
    EXPECT_TRUE(ini.removeEntry("a", "k"));
    EXPECT_FALSE(ini.removeEntry("a", "k"));
    EXPECT_FALSE(ini.removeEntry("missing", "k"));
    EXPECT_TRUE(ini.removeSection("a"));
    EXPECT_FALSE(ini.removeSection("a"));
    EXPECT_EQ(&ini.getOrAddSection("z"), &ini.getOrAddSection("z"));
    ini.clear();
    EXPECT_EQ(ini.getSectionCount(), 0u);
}

TEST(IniFileDeathTest, OutOfRangeSectionIndexStopsTheProcess) {
    IniFile ini;
    EXPECT_DEATH(ini.getSection(0), "idx < m_sections.elements.size\\(\\)");
}

// ---- atomic save ----

// Without a mode the replaced file's permissions stay; a given mode replaces them.
TEST(IniFileSave, PermissionsOfTheReplacedFileOrTheGivenMode) {
    TempDir dir;
    const struct {
        const char* name;
        mode_t before;  // 0: no old file
        mode_t given;   // 0: none
        mode_t after;
    } cases[] = {
        {"keep.ini", 0640, 0, 0640}, {"old.ini", 0666, 0600, 0600}, {"new.ini", 0, 0600, 0600}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        IniFile ini;
        if (c.before != 0) {
            writeFile(dir.file(c.name), "[a]\nk=v\n");
            ::chmod(dir.file(c.name).c_str(), c.before);
            ASSERT_TRUE(ini.load(dir.file(c.name)));
        }
        ASSERT_TRUE(c.given != 0 ? ini.save(dir.file(c.name), c.given)
                                 : ini.save(dir.file(c.name)));
        struct stat st {};
        ASSERT_EQ(::stat(dir.file(c.name).c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, c.after);
    }
}

TEST(IniFileSave, UnwritableDirectoryFailsAndKeepsTheOldFile) {
    TempDir dir;
    const std::string original = "[a]\nk=old\n";
    writeFile(dir.file("s.ini"), original);

    // The child makes the directory unwritable: by its mode for a normal user, by a
    // read-only bind mount in a private mount namespace for root (which ignores modes).
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        const char* d = dir.path().c_str();
        if (::geteuid() == 0) {
            if (::unshare(CLONE_NEWNS) != 0 ||
                ::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
                ::mount(d, d, nullptr, MS_BIND, nullptr) != 0 ||
                ::mount(nullptr, d, nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) != 0) {
                ::_exit(2);
            }
        } else {
            ::chmod(d, 0555);
        }
        IniFile ini;
        ini.setValue("a", "k", "new");
        const bool saved = ini.save(dir.file("s.ini"));
        if (::geteuid() != 0) {
            ::chmod(d, 0755);
        }
        ::_exit(saved ? 1 : 0);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 2) {
        GTEST_SKIP() << "no private mount namespace here";
    }
    EXPECT_EQ(WEXITSTATUS(status), 0) << "save reported success in a read-only directory";
    EXPECT_EQ(readFile(dir.file("s.ini")), original);
}

TEST(IniFileSave, AWriteThatFailsPartWayKeepsTheOldFileIntact) {
    TempDir dir;
    const std::string original = "[a]\nk=old\n";
    writeFile(dir.file("s.ini"), original);

    // In a child process, limit the file size so that the write fails half-way (EFBIG),
    // as on a full flash.
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        ::signal(SIGXFSZ, SIG_IGN);
        rlimit limit{4096, 4096};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        IniFile ini;
        ini.load(dir.file("s.ini"));
        ini.setValue("a", "k", std::string(100000, 'x'));
        ::_exit(ini.save(dir.file("s.ini")) ? 1 : 0);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "save reported success for a torn write";
    EXPECT_EQ(readFile(dir.file("s.ini")), original);

    std::string listing;
    testsupport::shell("ls -A '" + dir.path() + "'", &listing);
    EXPECT_EQ(listing, "s.ini\n") << "the temporary file was left behind";
}

TEST(IniFileSave, ReplacesTheFileWhole) {
    TempDir dir;
    writeFile(dir.file("s.ini"), std::string(50000, '#') + "\n[a]\nk=1\n");
    IniFile ini;
    ini.setValue("b", "x", "1");
    ASSERT_TRUE(ini.save(dir.file("s.ini")));
    EXPECT_EQ(readFile(dir.file("s.ini")), "\n[b]\nx=1\n");
}

}  // namespace
