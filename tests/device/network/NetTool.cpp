// Runs one network helper or boot mode and prints its result, so that tests can run it in
// a child process inside a private network namespace.
//
//   device-nettool active            prints "active=[NAME]"
//   device-nettool iface NAME        prints "addr=A mask=M mac=X"
//   device-nettool gateway           prints "gateway=G"
//   device-nettool setnet SETTINGS   SetNetInterface; exit status 0 or 1

#include <cstdio>
#include <string>

#include "NetModes.h"
#include "NetQuery.h"

int main(int argc, char** argv) {
    const std::string command = argc > 1 ? argv[1] : "";
    const std::string arg = argc > 2 ? argv[2] : "";
    if (command == "active") {
        std::string name;
        const int rc = enc::getActiveInterface(name);
        std::printf("active=[%s]\n", name.c_str());
        return rc == 0 ? 0 : 1;
    }
    if (command == "iface" && !arg.empty()) {
        std::string mac;
        enc::getInterfaceMac(arg, mac);
        std::printf("addr=%s mask=%s mac=%s\n",
                    enc::ipv4Text(enc::getInterfaceAddress(arg)).c_str(),
                    enc::ipv4Text(enc::getInterfaceNetmask(arg)).c_str(), mac.c_str());
        return 0;
    }
    if (command == "gateway") {
        std::printf("gateway=%s\n", enc::ipv4Text(enc::getDefaultGateway()).c_str());
        return 0;
    }
    if (command == "setnet" && !arg.empty()) {
        return enc::SetNetInterface(arg) == 0 ? 0 : 1;
    }
    std::fprintf(stderr, "usage: %s active | iface NAME | gateway | setnet FILE\n", argv[0]);
    return 2;
}
