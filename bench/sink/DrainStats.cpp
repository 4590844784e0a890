#include "DrainStats.h"

std::string jsonList(const std::vector<uint64_t>& values) {
    std::string text = "[";
    for (size_t i = 0; i < values.size(); ++i) {
        text += (i == 0 ? "" : ",") + std::to_string(values[i]);
    }
    return text + "]";
}

namespace {

void printList(const char* name, const std::vector<uint64_t>& values) {
    std::printf("\"%s\":%s", name, jsonList(values).c_str());
}

}  // namespace

void DrainStats::print(const char* kind, bool timedOut) const {
    std::printf("{\"kind\":\"%s\",", kind);
    printList("bytes", bytes);
    std::printf(",");
    printList("stalled_bytes", stalledBytes);
    if (!packets.empty()) {
        std::printf(",");
        printList("packets", packets);
    }
    if (!expectedPackets.empty()) {
        std::printf(",");
        printList("expected_packets", expectedPackets);
    }
    std::printf("%s", extra.c_str());
    std::printf(
        ",\"wire_bytes\":%llu,\"kernel_drops\":%llu,\"datagrams\":%llu,\"first_ns\":%lld,"
        "\"last_ns\":%lld,"
        "\"closed\":%d,\"errors\":%d,\"timed_out\":%s}\n",
        static_cast<unsigned long long>(wireBytes), static_cast<unsigned long long>(kernelDrops),
        static_cast<unsigned long long>(datagrams), static_cast<long long>(firstNs),
        static_cast<long long>(lastNs), closed, errors, timedOut ? "true" : "false");
    std::fflush(stdout);
}
