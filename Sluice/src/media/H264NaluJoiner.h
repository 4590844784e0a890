#pragma once

#include "NaluJoiner.h"

namespace av {

/// Holds back H.264 SEI (6), SPS (7) and PPS (8).
class H264NaluJoiner : public NaluJoiner {
public:
    bool isComplete(int nalType) const override {
        return nalType != 6 && nalType != 7 && nalType != 8;
    }
};

}  // namespace av
