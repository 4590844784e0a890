#include "HttpMessage.h"

void HttpMessage::clear() {
    headers.clear();
    body.clear();
    method.clear();
    url.clear();
    status = 0;
}
