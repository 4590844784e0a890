#include "MhdReply.h"

#include <fcntl.h>
#include <microhttpd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdint>

namespace http {

namespace {

struct Type {
    std::string_view extension;
    const char* type;
};

// The types of what the web pages are made of.
constexpr Type kTypes[] = {
    {"html", "text/html"},        {"htm", "text/html"},
    {"css", "text/css"},          {"js", "application/javascript"},
    {"json", "application/json"}, {"png", "image/png"},
    {"jpg", "image/jpeg"},        {"jpeg", "image/jpeg"},
    {"gif", "image/gif"},         {"ico", "image/x-icon"},
    {"svg", "image/svg+xml"},     {"txt", "text/plain"},
    {"woff", "font/woff"},        {"woff2", "font/woff2"},
    {"ttf", "font/ttf"},          {"xml", "text/xml"},
    {"bmp", "image/bmp"},         {"mp4", "video/mp4"},
};

bool queue(MHD_Connection* conn, int status, MHD_Response* response) {
    if (response == nullptr) {
        return false;
    }
    const bool ok = MHD_queue_response(conn, static_cast<unsigned>(status), response) == MHD_YES;
    MHD_destroy_response(response);
    return ok;
}

MHD_Response* fromText(std::string_view body) {
    return MHD_create_response_from_buffer(body.size(), const_cast<char*>(body.data()),
                                           MHD_RESPMEM_MUST_COPY);
}

void addCommon(MHD_Response* r, bool close, const char* extraName, const char* extraValue) {
    if (extraName != nullptr && extraValue != nullptr) {
        MHD_add_response_header(r, extraName, extraValue);
    }
    if (close) {
        MHD_add_response_header(r, MHD_HTTP_HEADER_CONNECTION, "close");
    }
}

}  // namespace

bool MhdReply::json(MHD_Connection* conn, int status, std::string_view body, bool close,
                    const char* extraName, const char* extraValue) {
    MHD_Response* r = fromText(body);
    if (r == nullptr) {
        return false;
    }
    MHD_add_response_header(r, MHD_HTTP_HEADER_CACHE_CONTROL, "no-cache");
    MHD_add_response_header(r, MHD_HTTP_HEADER_CONTENT_TYPE, "application/json");
    MHD_add_response_header(r, MHD_HTTP_HEADER_ACCESS_CONTROL_ALLOW_ORIGIN, "*");
    addCommon(r, close, extraName, extraValue);
    return queue(conn, status, r);
}

bool MhdReply::text(MHD_Connection* conn, int status, std::string_view body, bool close,
                    const char* extraName, const char* extraValue) {
    MHD_Response* r = fromText(body);
    if (r == nullptr) {
        return false;
    }
    MHD_add_response_header(r, MHD_HTTP_HEADER_CONTENT_TYPE, "text/plain");
    addCommon(r, close, extraName, extraValue);
    return queue(conn, status, r);
}

bool MhdReply::typed(MHD_Connection* conn, int status, std::string_view body,
                     const char* contentType) {
    MHD_Response* r = fromText(body);
    if (r == nullptr) {
        return false;
    }
    MHD_add_response_header(r, MHD_HTTP_HEADER_CONTENT_TYPE, contentType);
    MHD_add_response_header(r, MHD_HTTP_HEADER_CACHE_CONTROL, "no-cache");
    addCommon(r, false, nullptr, nullptr);
    return queue(conn, status, r);
}

bool MhdReply::file(MHD_Connection* conn, const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0) {
        if (fd >= 0) {
            ::close(fd);
        }
        return text(conn, MHD_HTTP_NOT_FOUND, "Not Found", false);
    }
    // The library sends the file with sendfile() and closes fd with the response.
    MHD_Response* r = MHD_create_response_from_fd64(static_cast<uint64_t>(st.st_size), fd);
    if (r == nullptr) {
        ::close(fd);
        return false;
    }
    MHD_add_response_header(r, MHD_HTTP_HEADER_CONTENT_TYPE, contentType(path));
    // Pages change with firmware updates; the browser asks again each time.
    MHD_add_response_header(r, MHD_HTTP_HEADER_CACHE_CONTROL, "no-cache");
    return queue(conn, MHD_HTTP_OK, r);
}

bool MhdReply::redirect(MHD_Connection* conn, const std::string& location) {
    MHD_Response* r = fromText("");
    if (r == nullptr) {
        return false;
    }
    MHD_add_response_header(r, MHD_HTTP_HEADER_LOCATION, location.c_str());
    return queue(conn, MHD_HTTP_MOVED_PERMANENTLY, r);
}

bool MhdReply::challenge(MHD_Connection* conn, const char* realm, const std::string& nonce,
                         const std::string& opaque, bool stale) {
    MHD_Response* r = fromText("Unauthorized");
    if (r == nullptr) {
        return false;
    }
    MHD_add_response_header(r, MHD_HTTP_HEADER_CONTENT_TYPE, "text/plain");
    std::string value = std::string("Digest realm=\"") + realm + "\", qop=\"auth\", nonce=\"" +
                        nonce + "\", opaque=\"" + opaque + "\", algorithm=MD5";
    if (stale) {
        value += ", stale=true";
    }
    MHD_add_response_header(r, MHD_HTTP_HEADER_WWW_AUTHENTICATE, value.c_str());
    return queue(conn, MHD_HTTP_UNAUTHORIZED, r);
}

const char* MhdReply::contentType(std::string_view fileName) {
    const size_t dot = fileName.rfind('.');
    if (dot == std::string_view::npos) {
        return "application/octet-stream";
    }
    std::string ext;
    for (const char c : fileName.substr(dot + 1)) {
        ext += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    for (const Type& t : kTypes) {
        if (t.extension == ext) {
            return t.type;
        }
    }
    return "application/octet-stream";
}

}  // namespace http
