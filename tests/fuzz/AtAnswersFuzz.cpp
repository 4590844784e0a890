// libFuzzer target for the readers of the LTE modem's AT answers: whatever the serial port
// delivers. Input: the answer's bytes.
// Invariants: an IMEI or ICCID is 15 to 20 decimal digits; an operator name is one of the
// table's names.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "AtAnswers.h"

namespace {

void expectDigits(const std::optional<std::string>& id) {
    if (!id) {
        return;
    }
    if (id->size() < 15 || id->size() > 20 ||
        id->find_first_not_of("0123456789") != std::string::npos) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string answer(reinterpret_cast<const char*>(data), size);
    expectDigits(enc::parseImei(answer));
    expectDigits(enc::parseIccid(answer));
    (void)enc::parseSignal(answer);
    if (const auto name = enc::parseOperator(answer)) {
        bool known = false;
        for (const auto& op : enc::operatorTable()) {
            known = known || *name == op.name;
        }
        if (!known) {
            std::abort();
        }
    }
    return 0;
}
