// libFuzzer target for what crosses the LAN in the discovery protocol: peerlo's reading of
// requests (the set-IP fields, the UID check, the command and length fields) and the
// management tool's reading of the replies it collects. Input: one byte choosing the
// number of datagrams, then datagrams of up to 200 bytes each.
// Invariants: request fields stay within their bytes; an accepted UID is plain and never
// an option; the tool's JSON listing is valid JSON and its table holds no control bytes.
#include <cJSON.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "DeviceList.h"
#include "DiscoveryPacket.h"
#include "FuzzInput.h"
#include "Ipv4.h"
#include "RequestParser.h"

using namespace discover;

namespace {

constexpr size_t kFieldBytes = 17;  // each dotted address of the set-IP payload

DiscoveryPacket packetOf(std::string_view bytes) {
    DiscoveryPacket p;
    std::memset(&p, 0, sizeof p);  // as peerlo zero-fills before each read
    std::memcpy(&p, bytes.data(), std::min(bytes.size(), sizeof p));
    return p;
}

void checkRequest(const DiscoveryPacket& p) {
    const RequestParser::SetIp req = RequestParser::parseSetIp(p);
    for (const std::string* f : {&req.origIp, &req.newIp, &req.mask, &req.gate, &req.dns}) {
        if (f->size() >= kFieldBytes + 1 || f->find('\0') != std::string::npos) {
            std::abort();
        }
        comn::isValidIpv4(*f);
    }
    const std::string uid = payloadText(p);
    if (RequestParser::isPlainUid(uid) &&
        (uid.empty() || uid[0] == '-' || uid.size() > RequestParser::kMaxUidLength ||
         uid.find_first_of(" \t\n;|&$`'\"\\/<>") != std::string::npos)) {
        std::abort();
    }
    (void)packetCommand(p);
    (void)packetLength(p);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::FuzzInput in(data, size);
    const size_t count = 1 + in.byte() % 8;
    std::vector<peerlo_client::Reply> replies;
    for (size_t i = 0; i < count && (i == 0 || in.remaining() > 0); ++i) {
        const size_t length = in.byte();  // a datagram may be short, never longer than 200
        const std::string_view bytes = in.take(std::min<size_t>(length, sizeof(DiscoveryPacket)));
        const DiscoveryPacket p = packetOf(bytes);
        checkRequest(p);
        peerlo_client::Reply r;
        r.packet = p;
        r.size = bytes.size();
        r.from = "192.168.1." + std::to_string(1 + i % 3);  // a sender may answer often
        r.to = "255.255.255.255";
        replies.push_back(r);
    }

    const auto devices = peerlo_client::DeviceList::fromReplies(replies);
    const std::string json = peerlo_client::DeviceList::json(devices);
    cJSON* tree = cJSON_ParseWithLength(json.data(), json.size());
    if (tree == nullptr) {
        std::abort();
    }
    cJSON_Delete(tree);
    for (const char c : peerlo_client::DeviceList::table(devices)) {
        const auto u = static_cast<unsigned char>(c);
        if ((u < 0x20 && c != '\n') || u == 0x7f) {
            std::abort();
        }
    }
    return 0;
}
