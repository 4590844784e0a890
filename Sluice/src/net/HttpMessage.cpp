#include "HttpMessage.h"

namespace av {

void HttpMessage::clear() {
    headers.clear();
    body.clear();
    method.clear();
    url.clear();
    status = 0;
}

}  // namespace av
