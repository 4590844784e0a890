// Writes the settings model's defaults to the given file: the factory settings the board
// image ships (board/rootfs/customer/encoder.ini).
#include <cstdio>

#include "EncoderConfigFile.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FILE\n", argv[0]);
        return 2;
    }
    enc::EncoderConfigFile defaults;
    return defaults.save(argv[1]) ? 0 : 1;
}
