#pragma once

/// The result of one "/api" call, from the device operation through the dispatcher to the HTTP
/// front end, which answers it. An integer at every boundary, named so that no layer spells a
/// bare number.
enum ApiResult : int {
    kApiOk = 0,                  // HTTP 200
    kApiFailed = -1,             // refused or failed (the response may say why): HTTP 500
    kApiWrongMethod = 22,        // EINVAL: the path tells GET from POST and got neither: HTTP 500
    kApiBadRequest = 400,        // the body was refused before it was parsed: HTTP 400
    kApiMethodNotAllowed = 405,  // a safe method on a path that changes state: HTTP 405
};

/// kApiOk for true, kApiFailed for false.
constexpr ApiResult apiResult(bool ok) {
    return ok ? kApiOk : kApiFailed;
}
