// libFuzzer target for the media link's record reader: the datagrams the media process
// sends, which Quillon copies into its status records. Input: datagrams, each preceded by
// a two-byte length.
// Invariants: a datagram is accepted only for a known status code, and the record it
// replaces holds its payload's bytes (zeros past the datagram's end).
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "FuzzInput.h"
#include "MediaMessage.h"
#include "MediaState.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::FuzzInput in(data, size);
    enc::MediaState state;
    while (in.remaining() > 0) {
        const size_t length = (static_cast<size_t>(in.byte()) << 8) | in.byte();
        const std::string datagram(in.take(length));
        const auto* bytes = reinterpret_cast<const uint8_t*>(datagram.data());
        const bool known = state.applyMessage(bytes, datagram.size());
        (void)known;
        (void)state.inputSignal();
        (void)state.audioInput();
        (void)state.encodeStatus();
        (void)state.activeStream();
        (void)state.systemStatus();
        (void)state.rtmpStatus();
    }
    return 0;
}
