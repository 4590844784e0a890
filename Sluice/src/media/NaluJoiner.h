#pragma once

#include <memory>

#include "ByteBuffer.h"
#include "MediaFrame.h"

namespace av {

/// Holds back NAL units that arrive as frames of their own (parameter sets, SEI) and puts
/// them in front of the next picture, so that every frame given to the multiplexer is a
/// whole access unit. The base class holds back nothing. Single-threaded.
class NaluJoiner {
public:
    NaluJoiner();
    virtual ~NaluJoiner() = default;
    NaluJoiner(const NaluJoiner&) = delete;
    NaluJoiner& operator=(const NaluJoiner&) = delete;

    /// The joiner for an exported codec number: H.264 (28), H.265 (174), else the base.
    static std::shared_ptr<NaluJoiner> create(int codec);

    /// Takes one frame whose last NAL unit has type nalType. Returns false when the frame
    /// was held back (nothing to write now); true when out is a frame to write: in itself,
    /// or the held-back bytes followed by in's bytes with in's timestamps and flags. The
    /// bytes out points to stay valid until the joiner is used twice more.
    bool join(const MediaFrame& in, int nalType, MediaFrame& out);

    /// False for the NAL types this joiner holds back.
    virtual bool isComplete(int nalType) const;

private:
    // 300 KiB each: ordinary frames never make the joiner allocate.
    static constexpr size_t kInitialSize = 307200;

    ByteBuffer m_buffers[2];
    int m_current = 0;
};

}  // namespace av
