#include "ClockTime.h"

#include <time.h>

namespace comn {

int64_t ClockTime::getTime() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

}  // namespace comn
