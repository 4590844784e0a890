#pragma once

#include "NaluJoiner.h"

namespace av {

/// Holds back H.265 VPS (32), SPS (33), PPS (34) and prefix/suffix SEI (39, 40).
class H265NaluJoiner : public NaluJoiner {
public:
    bool isComplete(int nalType) const override {
        return nalType != 32 && nalType != 33 && nalType != 34 && nalType != 39 && nalType != 40;
    }
};

}  // namespace av
