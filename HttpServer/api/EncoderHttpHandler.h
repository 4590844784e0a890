#pragma once

#include <string>
#include <string_view>

#include "DeviceOperations.h"
#include "HttpHandler.h"

namespace enc {

/// The "/api" dispatcher: selects the device operation by path and method, reads the stream
/// index from the query, decodes request bodies into fresh records and encodes the records
/// of read operations (JsonCast). The operations themselves are the device's
/// (DeviceOperations), which must outlive the dispatcher.
///
/// The dispatcher answers kApiWrongMethod for a wrong method where a path distinguishes GET and
/// POST, HttpHandler::kMethodNotAllowed for GET, HEAD or OPTIONS on "/update", "/reboot" and
/// "/reset" (which act on every other method), kApiFailed with the text "unknown api" for a path
/// it does not know, and kBadRequest, with an error document and no operation called, for a
/// body nested deeper than JsonDepth::kLimit or with a control character in a string
/// (JsonStringCheck); otherwise the operation's result.
class EncoderHttpHandler : public HttpHandler {
public:
    /// The result for a request refused before any operation ran (the body's form); the
    /// front end answers it with HTTP 400.
    static constexpr ApiResult kBadRequest = HttpHandler::kBadRequest;

    explicit EncoderHttpHandler(DeviceOperations& device) : m_device(device) {}
    ~EncoderHttpHandler() override = default;

    ApiResult handleApi(std::string_view method, std::string_view apiPath,
                        std::string_view queryString, std::string_view body,
                        std::string& response) override;
    /// The remote version check ("/httpdetect") and the remote upgrade (a POST of
    /// "/httpupgrade"): they wait on another server and use only the board's upgrade
    /// script and files.
    bool runsLong(std::string_view method, std::string_view apiPath) const override;
    /// Remembers the stored path of the last upload (see uploadedFilePath()), then hands the
    /// file to the device.
    void handleUpload(const std::string& name, const std::string& filePath) override;
    void handleRtspInfo(const std::string& user, const std::string& password) override;

    /// The stored path of the last upload ("" before the first); "/api/update" installs it.
    const std::string& uploadedFilePath() const { return m_uploadedFilePath; }

private:
    DeviceOperations& m_device;
    std::string m_uploadedFilePath;
};

}  // namespace enc
