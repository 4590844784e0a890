#pragma once
// Which casters a stream's publishing settings ask for, and which of them may run here.

#include <string>
#include <vector>

#include "EncoderRecords.h"

namespace ksim {

/// One caster to open through libSluice.
struct CasterPlan {
    int protocol = 0;   // SLUICE_PROTOCOL_UDP or SLUICE_PROTOCOL_HTTP
    int localPort = 0;  // HTTP: the listening port; UDP: 0 (any)
    std::string host;   // UDP: the target address; HTTP: empty
    int port = 0;       // UDP: the target port
    std::string label;  // "HTTP-TS on port 8081", "UDP TS to 127.0.0.1:20000", ...

    bool operator==(const CasterPlan& o) const {
        return protocol == o.protocol && localPort == o.localPort && host == o.host &&
               port == o.port;
    }
};

struct OutputPlan {
    std::vector<CasterPlan> casters;
    std::vector<std::string> skipped;  // one line per output left out, with the reason
};

/// The casters of one stream, in this order: HTTP-TS on tsHttpPort when tsHttpEnabled, UDP
/// TS to tsAddr:tsPort when tsEnabled, multicast to multicastAddr:multicastPort when
/// multicastEnabled. An output with a port outside 1-65535 or an empty address is skipped;
/// so is one whose address is not loopback, unless allowNetwork.
OutputPlan planOutputs(const enc::ProtocolSettings& protocol, bool allowNetwork);

/// True for a dotted IPv4 address in 127.0.0.0/8 and for "localhost". Everything else
/// (other addresses, multicast groups, host names) could leave the machine.
bool isLoopback(const std::string& host);

}  // namespace ksim
