#pragma once
// The command line of korrin-sim.

#include <string>

#include "InputState.h"

namespace ksim {

struct SimOptions {
    InputState input;           // the input at start
    std::string controlFile;    // re-read every status period; empty: none
    bool allowNetwork = false;  // send to destinations other than loopback
    int statusIntervalMs = 1000;
    bool help = false;
};

/// Parses argv. False with a reason for an unknown option or a bad value.
bool parseOptions(int argc, char** argv, SimOptions& options, std::string& why);

/// The usage text.
const char* usageText();

}  // namespace ksim
