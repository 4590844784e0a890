// What an integrator gets: exactly the functions sluice.h declares (the eleven first ones and the
// later additions), a plain C header with the appliance's 32-bit layout, and install rules with
// a pkg-config file.
#include <gtest/gtest.h>

#include <set>
#include <sstream>
#include <string>

#include "TestSupport.h"

using testsupport::shell;

namespace {

std::string header() {
    return testsupport::sourceRoot() + "/Sluice/include";
}

bool haveClang() {
    return shell("command -v clang >/dev/null 2>&1") == 0;
}

std::string sanitizeFlags() {
    const std::string sanitize = SLUICE_TEST_SANITIZE;
    return sanitize.empty() ? "" : " -fsanitize=" + sanitize;
}

}  // namespace

// Every function the header declares: the name before the "(" of each SLUICE_API line.
std::set<std::string> declaredFunctions() {
    std::set<std::string> names;
    for (const std::string& line :
         testsupport::splitLines(testsupport::readFile(header() + "/sluice.h"))) {
        const size_t paren = line.find('(');
        const size_t name = line.rfind("sluice_", paren);
        if (line.rfind("SLUICE_API ", 0) == 0 && paren != std::string::npos &&
            name != std::string::npos) {
            names.insert(line.substr(name, paren - name));
        }
    }
    return names;
}

TEST(SluiceExports, ExactlyTheFunctionsTheHeaderDeclares) {
    std::string out;
    ASSERT_EQ(
        shell("nm -D --defined-only '" + testsupport::binaryRoot() + "/lib/libSluice.so' 2>&1",
              &out),
        0)
        << out;
    std::set<std::string> names;
    std::istringstream lines(out);
    std::string address, kind, name;
    while (lines >> address >> kind >> name) {
        names.insert(name);
    }
    const std::set<std::string> expected = {
        "sluice_init",
        "sluice_quit",
        "sluice_open",
        "sluice_close",
        "sluice_add_target",
        "sluice_remove_target",
        "sluice_remove_all_target",
        "sluice_write",
        "sluice_setQueueDuration",
        "sluice_setSendBufSize",
        "sluice_set_stack_size",
        "sluice_get_destination_stats",
        "sluice_set_option",
        "sluice_get_local_port",
        "sluice_get_output_status",
    };
    EXPECT_EQ(declaredFunctions(), expected);
    EXPECT_EQ(names, expected) << out;
}

TEST(SluiceHeader, IsPlainC99) {
    std::string out;
    const std::string cmd = "echo '#include \"sluice.h\"' | " SLUICE_TEST_C_COMPILER
                            " -std=c99 -pedantic -Wall -Wextra -Werror -fsyntax-only -x c -I'" +
                            header() + "' - 2>&1";
    EXPECT_EQ(shell(cmd, &out), 0) << out;
}

TEST(SluiceHeader, LayoutOfThe32BitAbisIsCheckedAtCompileTime) {
    if (!haveClang()) {
        GTEST_SKIP() << "clang is needed to compile for 32-bit targets";
    }
    for (const char* target : {"armv7a-linux-gnueabihf", "i386-linux-gnu"}) {
        for (const char* lang : {"-x c -std=c11", "-x c++ -std=c++11"}) {
            std::string out;
            const std::string cmd = std::string("echo '#include \"sluice.h\"' | clang --target=") +
                                    target + " -ffreestanding -fsyntax-only " + lang + " -I'" +
                                    header() + "' - 2>&1";
            EXPECT_EQ(shell(cmd, &out), 0) << target << " " << lang << ": " << out;
        }
    }
    // The check has teeth: a layout without the padding word fails on i386.
    testsupport::TempDir dir;
    std::string out;
    ASSERT_EQ(shell("sed 's/int32_t reserved;//' '" + header() + "/sluice.h' > '" +
                    dir.file("sluice.h") + "'"),
              0);
    EXPECT_NE(shell("echo '#include \"sluice.h\"' | clang --target=i386-linux-gnu "
                    "-ffreestanding -fsyntax-only -x c -std=c11 -I'" +
                        dir.path() + "' - 2>&1",
                    &out),
              0);
    EXPECT_NE(out.find("pts at 16"), std::string::npos) << out;
}

TEST(SluiceInstall, InstalledLibraryBuildsAProgramThroughPkgConfig) {
    testsupport::TempDir dir;
    const std::string prefix = dir.file("prefix");
    std::string out;
    // The runtime package's files and the development package's, as an integrator has them.
    for (const char* component : {"libsluice1", "libsluicedev"}) {
        ASSERT_EQ(shell("cmake --install '" + testsupport::binaryRoot() + "' --component " +
                            component + " --prefix '" + prefix + "' 2>&1",
                        &out),
                  0)
            << out;
    }
    // A C program that casts a frame, built from the installed files only.
    testsupport::writeFile(dir.file("example.c"), R"(
#include <sluice.h>
#include <stdio.h>
int main(void) {
    static const uint8_t frame[64] = {0x21};
    sluice_media_format format = {0};
    sluice_media_packet packet = {0};
    int handle = -1;
    format.audio_codec = SLUICE_CODEC_AAC;
    format.channels = 2;
    format.sample_rate = 48000;
    format.audio_profile = 1;
    packet.type = SLUICE_PACKET_AUDIO;
    packet.data = frame;
    packet.size = sizeof frame;
    sluice_init();
    int port = 0;
    if (sluice_open(&handle, SLUICE_PROTOCOL_UDP, 0, &format) != 0 || handle < 0 ||
        sluice_get_local_port(handle, &port) != 0 || port == 0 ||
        sluice_add_target(handle, "127.0.0.1", 9) != 0 || sluice_write(handle, &packet) != 0) {
        return 1;
    }
    sluice_close(handle);
    sluice_quit();
    printf("ok\n");
    return 0;
}
)");

    out.clear();
    const std::string pc =
        "PKG_CONFIG_PATH=$(dirname $(find '" + prefix + "' -name sluice.pc)) pkg-config";
    const std::string build = SLUICE_TEST_C_COMPILER " -std=c99 -Wall -Werror" + sanitizeFlags() +
                              " '" + dir.file("example.c") + "' -o '" + dir.file("example") +
                              "' $(" + pc + " --cflags --libs sluice) -Wl,-rpath,$(" + pc +
                              " --variable=libdir sluice) 2>&1";
    ASSERT_EQ(shell(build, &out), 0) << build << "\n" << out;
    out.clear();
    EXPECT_EQ(shell(SLUICE_TEST_EMULATOR " '" + dir.file("example") + "' 2>&1", &out), 0) << out;
    EXPECT_EQ(out, "ok\n");
}
