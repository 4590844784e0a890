#pragma once
// The command line of Quillon: "Quillon <mode>".

/// What the program does, chosen by its first argument.
enum class ProgramMode {
    SetNetwork = 0,  // configure the network interface from the settings file and exit
    WebServer = 1,   // run the configuration web server until a signal
    WifiFile = 2,    // install the Wi-Fi client configuration and exit
};

/// The argument as a decimal integer (leading blanks and a sign allowed, conversion stops
/// at the first other character); 1 and 2 select their modes, every other value (a
/// negative number, a number above 2, text, an empty argument) selects SetNetwork.
ProgramMode programMode(const char* argument);
