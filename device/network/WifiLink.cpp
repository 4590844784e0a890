#include "WifiLink.h"

#include <string>

#include "Console.h"
#include "board/Command.h"

namespace enc {

int wifiAssociation() {
    std::string output;
    board::RunOptions options;
    options.capture = &output;
    if (board::run({"iwconfig", "wlan0"}, options) == -1) {
        say("can not open\n");
        return -1;
    }
    const std::string firstLine = output.substr(0, output.find('\n'));
    if (firstLine.empty() || firstLine.find("unassociated") != std::string::npos) {
        say("no connected\n");
        return 0;
    }
    say("already connect an AP\n");
    return 1;
}

}  // namespace enc
