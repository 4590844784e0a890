#include "FfmpegHandles.h"

extern "C" {
#include <libavutil/error.h>
}

namespace ksim {

std::string ffmpegError(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {0};
    av_strerror(code, text, sizeof text);
    return text;
}

}  // namespace ksim
