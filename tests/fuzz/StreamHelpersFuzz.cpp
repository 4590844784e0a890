// libFuzzer target for the elementary stream helpers of libSluice, which read every frame
// the media process hands over: start codes and NAL types of H.264/H.265 frames, ADTS
// headers of AAC frames, and the joining of parameter sets to the next picture.
// Input: one byte of choices, then frames, each preceded by a length byte.
// Invariants: start codes are found inside the frame; a joined frame is the held-back bytes
// followed by the frame; an ADTS header made for a frame reads back as one.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "AacHelper.h"
#include "FuzzInput.h"
#include "H264PropDetector.h"
#include "NaluJoiner.h"

using namespace av;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::FuzzInput in(data, size);
    const uint8_t choice = in.byte();
    const int codec = choice & 1 ? H264PropDetector::kH265 : H264PropDetector::kH264;
    H264PropDetector detector;
    detector.setCodec(codec);
    // One joiner per codec for the whole run (each holds 600 KiB of buffers); a picture
    // (NAL type 1 in both codecs) first empties whatever an earlier input left held back.
    static const auto h264 = NaluJoiner::create(H264PropDetector::kH264);
    static const auto h265 = NaluJoiner::create(H264PropDetector::kH265);
    NaluJoiner* joiner = codec == H264PropDetector::kH264 ? h264.get() : h265.get();
    constexpr int kPicture = 1;
    MediaFrame flushed;
    if (!joiner->join(MediaFrame{}, kPicture, flushed)) {
        std::abort();
    }
    std::string held;  // what the joiner should be holding back

    while (in.remaining() > 0) {
        const size_t length = in.byte() * (choice & 2 ? 4 : 1);
        const std::string frame(in.take(length));
        const auto* bytes = reinterpret_cast<const uint8_t*>(frame.data());

        const long at = findStartCode(bytes, frame.size(), 0);
        if (at >= 0 && (static_cast<size_t>(at) + 4 > frame.size() ||
                        !isStartCode(bytes + at, frame.size() - at))) {
            std::abort();
        }
        bool isKey = false;
        int nalType = -1;
        detector.parse(bytes, frame.size(), isKey, nalType);

        MediaFrame mf;
        mf.data = bytes;
        mf.size = static_cast<int32_t>(frame.size());
        MediaFrame out;
        if (joiner->join(mf, nalType, out)) {
            const std::string joined(reinterpret_cast<const char*>(out.data), out.size);
            if (joined != held + frame) {
                std::abort();
            }
            held.clear();
        } else {
            held += frame;
        }

        AacHelper::hasAdtsHeader(bytes, frame.size());
        uint8_t header[AacHelper::kAdtsHeaderSize];
        const int hz = (choice >> 2) * 1500;
        const int frameLength = static_cast<int>(frame.size() + sizeof header);
        if (AacHelper::makeAdtsHeader(1, hz, 1 + (choice >> 6), frameLength, header,
                                      sizeof header)) {
            if (!AacHelper::hasAdtsHeader(header, sizeof header)) {
                std::abort();
            }
            const int stored = ((header[3] & 3) << 11) | (header[4] << 3) | (header[5] >> 5);
            if (frameLength < (1 << 13) && stored != frameLength) {
                std::abort();
            }
        }
        AacHelper::samplingIndex(hz);
    }
    return 0;
}
