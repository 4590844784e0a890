#pragma once

#include <string>
#include <string_view>

#include "ApiResult.h"

/// The web server's callback interface. Every call arrives on the server's worker side,
/// one request at a time (the server serialises them), except the long ones (runsLong).
class HttpHandler {
public:
    /// A handleApi result: the route exists but never acts on this method (a safe method
    /// on a route that changes state); the server answers 405 with kAllowForStateChanges.
    static constexpr ApiResult kMethodNotAllowed = kApiMethodNotAllowed;
    /// A handleApi result: the body was refused before it was parsed; the server answers 400
    /// with the response as it stands.
    static constexpr ApiResult kBadRequest = kApiBadRequest;
    /// The Allow header of that answer: the methods that may change state.
    static constexpr const char* kAllowForStateChanges = "POST, PUT, DELETE, PATCH";

    virtual ~HttpHandler() = default;

    /// One request under "/api". method, apiPath ("/video" for "/api/video"), queryString and
    /// body are byte ranges of the request (not terminated). response is preset to "{}" and
    /// may be replaced. kApiOk means success (HTTP 200), kMethodNotAllowed HTTP 405,
    /// kBadRequest HTTP 400, anything else a failure (HTTP 500).
    virtual ApiResult handleApi(std::string_view method, std::string_view apiPath,
                                std::string_view queryString, std::string_view body,
                                std::string& response) = 0;

    /// Whether this "/api" request does slow board work (it fetches from another server) and
    /// touches nothing the other calls use. The server then makes its handleApi call on a
    /// thread of its own, beside the other calls, so that it keeps no one else waiting; at
    /// most one such call runs at a time. Called on the server's side; it must be quick.
    virtual bool runsLong(std::string_view method, std::string_view apiPath) const {
        (void)method;
        (void)apiPath;
        return false;
    }

    /// A file was uploaded and stored at filePath; name is the form field name of the part.
    virtual void handleUpload(const std::string& name, const std::string& filePath) = 0;

    /// The web credentials were changed through "/sys/password".
    virtual void handleRtspInfo(const std::string& user, const std::string& password) = 0;
};
