#pragma once

#include <cstdint>
#include <memory>

#include "TsMuxer.h"

namespace av {

/// Decides where segments end; told of each frame before it is multiplexed.
class SegmentPolicy {
public:
    /// Whether a new segment starts with this frame (ptsUs in microseconds; key: a video key
    /// frame, or any audio frame of a stream without video).
    virtual bool startsSegment(int64_t ptsUs, bool key) = 0;
    /// Everything before the frame has reached the sink: the segment is complete.
    virtual void onSegmentEnd(int64_t ptsUs, bool key) = 0;

protected:
    ~SegmentPolicy() = default;
};

/// A multiplexer that cuts its output into independent pieces: where the policy asks, the
/// inner multiplexer is closed (flushing every waiting frame) and opened again, so that each
/// segment starts with its own tables and a key frame and can be played alone.
class SegmentingTsMuxer : public TsMuxer {
public:
    SegmentingTsMuxer(std::shared_ptr<TsMuxer> inner, SegmentPolicy& policy)
        : m_inner(std::move(inner)), m_policy(policy) {}

    int open(const MediaCasterConfig& config) override;
    void close() override { m_inner->close(); }
    bool isOpen() override { return m_inner->isOpen(); }
    bool write(int type, const uint8_t* data, int size, int64_t pts, int duration,
               int flags) override;
    void setSink(TsMuxerSink* sink) override { m_inner->setSink(sink); }

private:
    std::shared_ptr<TsMuxer> m_inner;
    SegmentPolicy& m_policy;
    MediaCasterConfig m_config;
};

}  // namespace av
