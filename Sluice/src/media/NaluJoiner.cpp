#include "NaluJoiner.h"

#include "H264NaluJoiner.h"
#include "H264PropDetector.h"
#include "H265NaluJoiner.h"

namespace av {

NaluJoiner::NaluJoiner() {
    m_buffers[0].ensure(kInitialSize);
    m_buffers[1].ensure(kInitialSize);
}

std::shared_ptr<NaluJoiner> NaluJoiner::create(int codec) {
    switch (codec) {
        case H264PropDetector::kH264:
            return std::make_shared<H264NaluJoiner>();
        case H264PropDetector::kH265:
            return std::make_shared<H265NaluJoiner>();
        default:
            return std::make_shared<NaluJoiner>();
    }
}

bool NaluJoiner::isComplete(int) const {
    return true;
}

bool NaluJoiner::join(const MediaFrame& in, int nalType, MediaFrame& out) {
    ByteBuffer& current = m_buffers[m_current];
    const size_t inSize = in.size > 0 ? static_cast<size_t>(in.size) : 0;
    if (!isComplete(nalType)) {
        current.write(in.data, inSize);
        return false;
    }
    if (current.empty()) {
        out = in;
        return true;
    }
    current.write(in.data, inSize);
    out = in;
    out.data = current.data();
    out.size = static_cast<int32_t>(current.size());
    m_current = 1 - m_current;
    m_buffers[m_current].clear();
    return true;
}

}  // namespace av
