#pragma once
// The LTE monitor's waits. The defaults are the device's real timings; tests shorten them.

#include <chrono>

namespace enc {

struct LteTimings {
    /// Between attempts of the start-up checks for the port, AT and the ICCID.
    std::chrono::milliseconds startupRetry{1000};
    /// Between attempts of the module (IMEI) check.
    std::chrono::milliseconds imeiRetry{2000};
    /// After a failed step of the monitoring cycle: shortSteps steps of shortStep (10 s).
    std::chrono::milliseconds shortStep{100};
    int shortSteps = 100;
    /// Between two monitoring cycles: longSteps steps of longStep (20 s).
    std::chrono::milliseconds longStep{1000};
    int longSteps = 20;
    /// Between "AT+CFUN=0" and "AT+CFUN=1" of a radio reset.
    std::chrono::milliseconds radioPause{1000};
    /// After a command has been written, before its answer is read.
    std::chrono::milliseconds answerWait{300};
    /// Between two bytes of a command.
    std::chrono::microseconds byteGap{100};
    /// Longest wait for one byte of an answer.
    std::chrono::milliseconds readTimeout{1000};
};

}  // namespace enc
