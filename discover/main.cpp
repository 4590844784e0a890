// peerlo: the discovery and provisioning daemon.
//   peerlo 0     do nothing and exit
//   peerlo 1|2   answer the management tool on UDP 9002
#include <cstdio>
#include <cstdlib>

#include "DiscoveryResponder.h"

int main(int argc, char** argv) {
    // Whole lines reach a log file or pipe as they are printed.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    if (argc < 2) {
        std::printf("usage ./peerlo 0 or 1\n");
        return -1;
    }
    int mode = std::atoi(argv[1]);
    if (mode > 2) {
        mode = 0;
    }
    if (mode != 1 && mode != 2) {
        return 0;
    }
    discover::DiscoveryResponder responder;
    const int rc = responder.start();
    if (rc != 0) {
        return rc;
    }
    return responder.run();
}
