#include "ProgramMode.h"

#include <cstdlib>

ProgramMode programMode(const char* argument) {
    if (argument == nullptr) {
        return ProgramMode::SetNetwork;
    }
    // strtol rather than atoi: an out-of-range number must not wrap into a mode.
    const long value = std::strtol(argument, nullptr, 10);
    if (value == 1) {
        return ProgramMode::WebServer;
    }
    if (value == 2) {
        return ProgramMode::WifiFile;
    }
    return ProgramMode::SetNetwork;
}
