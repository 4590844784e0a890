#include "HttpReply.h"

namespace http {

namespace {

struct Reason {
    int status;
    std::string_view text;
};

// The device's reason texts, RTSP codes and the odd trailing blanks included: clients have
// always seen exactly these status lines.
constexpr Reason kReasons[] = {
    {200, "OK"},
    {400, "Bad Request"},
    {401, "Unauthorized"},
    {402, "Payment Required"},
    {403, "Forbidden   "},
    {404, "Not Found   "},
    {405, "Method Not Allowed"},
    {406, "Not Acceptable"},
    {407, "Proxy Authentication Required"},
    {408, "Request Timeout"},
    {410, "Gone        "},
    {411, "Length Required"},
    {412, "Precondition Failed"},
    {413, "Request Entity Too Large"},
    {414, "Request-URI Too Long"},
    {415, "Unsupported Media Type"},
    {451, "Invalid parameter"},
    {452, "Illegal Conference Identifier"},
    {453, "Not Enough Bandwidth"},
    {454, "Session Not Found"},
    {455, "Method Not Valid In This State"},
    {456, "Header Field Not Valid"},
    {457, "Invalid Range   PLAY"},
    {458, "Parameter Is Read-Only"},
    {459, "Aggregate Operation Not Allowed"},
    {460, "Only Aggregate Operation Allowed"},
    {461, "Unsupported Transport"},
    {462, "Destination Unreachable"},
    {500, "Internal Server Error"},
    {501, "Not Implemented"},
    {502, "Bad Gateway "},
    {503, "Service Unavailable"},
    {504, "Gateway Timeout"},
    {505, "RTSP Version Not Supported"},
    {551, "Option not support"},
};

}  // namespace

std::string_view HttpReply::reason(int status) {
    for (const Reason& r : kReasons) {
        if (r.status == status) {
            return r.text;
        }
    }
    return {};
}

std::string HttpReply::json(int status, std::string_view body) {
    std::string reply = "HTTP/1.1 " + std::to_string(status) + " ";
    reply += reason(status);
    reply +=
        "\r\nCache-Control: no-cache\r\nContent-Type: application/json\r\n"
        "Access-Control-Allow-Origin: *\r\nContent-Length: ";
    reply += std::to_string(body.size());
    reply += "\r\n\r\n";
    reply += body;
    return reply;
}

std::string HttpReply::uploadStored(long long size, std::string_view path) {
    std::string reply =
        "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nConnection: close\r\n\r\nWritten ";
    reply += std::to_string(size);
    reply += " of POST data to file:";
    reply += path;
    reply += "\n\n";
    return reply;
}

std::string HttpReply::uploadRefused(int status, std::string_view reason) {
    std::string reply = "HTTP/1.1 " + std::to_string(status) + " ";
    reply += reason;
    reply += "\r\nContent-Length: 0\r\n\r\n";
    return reply;
}

}  // namespace http
