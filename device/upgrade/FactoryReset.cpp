#include "FactoryReset.h"

#include <unistd.h>

#include "Console.h"
#include "board/Board.h"
#include "board/Command.h"

namespace enc {

void resetToFactory() {
    say("restore to factory mode.\n");
    ::unlink(board::path("/customer/encoder.ini").c_str());
    ::unlink(board::path("/customer/active_sim").c_str());
    board::syncStorage(board::SyncSpelling::Bare);
    board::reboot();
}

}  // namespace enc
