#include "EncoderHttpHandler.h"

namespace enc {

// The dispatcher proper arrives with the web front end; until then every path is unknown.
int EncoderHttpHandler::handleApi(std::string_view /*method*/, std::string_view apiPath,
                                  std::string_view queryString, std::string_view body,
                                  std::string& response) {
    return unknownApi(apiPath, queryString, body, response);
}

void EncoderHttpHandler::handleUpload(const std::string& /*name*/, const std::string& filePath) {
    m_uploadedFilePath = filePath;
}

int EncoderHttpHandler::unknownApi(std::string_view /*apiPath*/, std::string_view /*queryString*/,
                                   std::string_view /*body*/, std::string& response) {
    response = "unknown api";
    return -1;
}

}  // namespace enc
