#include "EncoderHttpHandler.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "FormBody.h"
#include "JsonCast.h"
#include "JsonDepth.h"
#include "JsonStringCheck.h"
#include "LimitsDocument.h"
#include "SettingsCheck.h"

namespace enc {

namespace {

enum class Method { Get, Post, Other };

// The methods a link, an image or a prefetch may send: they must never change state.
bool isSafe(std::string_view method) {
    return method.substr(0, 3) == "GET" || method == "HEAD" || method == "OPTIONS";
}

// Methods are told apart by their beginning, as the device always did.
Method methodOf(std::string_view method) {
    if (method.substr(0, 3) == "GET") {
        return Method::Get;
    }
    if (method.substr(0, 4) == "POST") {
        return Method::Post;
    }
    return Method::Other;
}

// The query variable "index" (name in any case) as a decimal number; 0 when it is absent
// or does not begin with a number. The value is passed on unchecked.
int indexOf(std::string_view query) {
    // Values of 64 bytes and more count as absent, as the device's form reader always did.
    constexpr std::size_t kValueLimit = 64;
    const std::optional<std::string> value = http::FormBody::value(query, "index");
    if (!value || value->size() >= kValueLimit) {
        return 0;
    }
    const long long v = std::strtoll(value->c_str(), nullptr, 10);
    return static_cast<int>(std::clamp<long long>(v, INT_MIN, INT_MAX));
}

struct Request {
    DeviceOperations& device;
    const std::string& uploadedFilePath;
    Method method;
    bool safeMethod;  // GET, HEAD or OPTIONS: never acts on a route that changes state
    int index;
    std::string_view body;
    std::string& response;
};

// A read fills a fresh record and answers it encoded, also when the operation failed.
template <class Record, class Read>
ApiResult readOp(Request& rq, Read read) {
    Record record;
    const ApiResult result = read(record);
    JsonCast::toJson(record, rq.response);
    return result;
}

// A write decodes the body into a fresh record; the operation may set the response.
template <class Record, class Write>
ApiResult writeOp(Request& rq, Write write) {
    Record record;
    JsonCast::fromJson(record, rq.body);
    return write(record);
}

template <class Record, class Read, class Write>
ApiResult readOrWrite(Request& rq, Read read, Write write) {
    switch (rq.method) {
        case Method::Get:
            return readOp<Record>(rq, read);
        case Method::Post:
            return writeOp<Record>(rq, write);
        default:
            return kApiWrongMethod;
    }
}

// A document's records in one reply or request: one record, or the overlay pair.
template <class R>
void encode(const R* records, std::string& text) {
    JsonCast::toJson(records[0], text);
}
void encode(const OsdSettings* pair, std::string& text) {
    JsonCast::toJson(pair[0], pair[1], text);
}
template <class R>
void decode(R* records, std::string_view body) {
    JsonCast::fromJson(records[0], body);
}
void decode(OsdSettings* pair, std::string_view body) {
    JsonCast::fromJson(pair[0], pair[1], body);
}

// A plain settings document by its descriptor: GET answers the stored records (also when the
// read failed), POST decodes the body into fresh records (or into the stored ones for a
// document that merges) and writes them by the document's setter steps.
template <class R>
ApiResult documentRoute(Request& rq) {
    const SettingsDocument<R>& doc = documentOf<R>();
    R records[2];
    switch (rq.method) {
        case Method::Get: {
            const ApiResult result = rq.device.readDocument(rq.index, records);
            encode(records, rq.response);
            return result;
        }
        case Method::Post:
            if (doc.merges && rq.device.readDocument(rq.index, records) != kApiOk) {
                return kApiFailed;
            }
            decode(records, rq.body);
            return rq.device.writeDocument(rq.index, records, rq.response);
        default:
            return kApiWrongMethod;
    }
}

using RouteFn = ApiResult (*)(Request&);

struct Route {
    std::string_view path;
    bool indexed;  // reads the stream index from the query
    RouteFn run;
};

// The documents served by their descriptors alone (path, per stream or not, setter steps),
// besides StoredDocuments.
using PlainDocuments =
    DocumentTypes<VideoSettings, OsdSettings, LogoSettings, ChromaSettings, UpgradeServerSettings,
                  FtpSettings, AudioSettings, IrcutSettings, SrtSettings>;

template <class... Rs>
std::vector<Route> documentRoutes(DocumentTypes<Rs...>) {
    return {Route{documentOf<Rs>().path, perStreamDocument<Rs>(), documentRoute<Rs>}...};
}

// The API paths, matched exactly (same length, same bytes): the documents with a rule of their
// own first, then every plain document.
const std::vector<Route>& routes() {
    static const std::vector<Route> table = [] {
        std::vector<Route> all = {
            {"/input-status", true,
             [](Request& rq) {
                 return readOp<InputStatus>(
                     rq, [&](auto& r) { return rq.device.getInputStatus(rq.index, r); });
             }},
            {"/stream-status", true,
             [](Request& rq) {
                 return readOp<StreamStatus>(
                     rq, [&](auto& r) { return rq.device.getStreamStatus(rq.index, r); });
             }},
            {"/outputs-status", true,
             [](Request& rq) {
                 return rq.method == Method::Get ? rq.device.getOutputsStatus(rq.index, rq.response)
                                                 : kApiWrongMethod;
             }},
            {"/stream-url", true,
             [](Request& rq) {
                 return readOp<StreamUrl>(
                     rq, [&](auto& r) { return rq.device.getStreamUrl(rq.index, r); });
             }},
            {"/network", false,
             [](Request& rq) {
                 return readOrWrite<NetworkSettings>(
                     rq, [&](auto& r) { return rq.device.getNetwork(r); },
                     [&](const auto& r) { return rq.device.setNetwork(r, rq.response); });
             }},
            {"/wifi", false,
             [](Request& rq) {
                 return readOrWrite<WifiSettings>(
                     rq, [&](auto& r) { return rq.device.getWifiParam(r); },
                     [&](const auto& r) { return rq.device.setWifiParam(r, rq.response); });
             }},
            // Read with the device's own address; written as a plain document.
            {"/protocol", true,
             [](Request& rq) {
                 return readOrWrite<ProtocolSettings>(
                     rq, [&](auto& r) { return rq.device.getProtocol(rq.index, r); },
                     [&](const auto& r) {
                         return rq.device.writeDocument(rq.index, &r, rq.response);
                     });
             }},
            {"/lte", false,
             [](Request& rq) {
                 return readOrWrite<LteStatus>(
                     rq, [&](auto& r) { return rq.device.getLte(r); },
                     [&](const auto& r) { return rq.device.setLte(r, rq.response); });
             }},
            // The serial bridge reads its settings only at boot: its setter restarts the board.
            {"/rs485", false,
             [](Request& rq) {
                 return readOrWrite<Rs485Settings>(
                     rq, [&](auto& r) { return rq.device.readDocument(0, &r); },
                     [&](const auto& r) { return rq.device.setRs485(r, rq.response); });
             }},
            {"/adjusttime", false,
             [](Request& rq) {
                 return readOrWrite<TimeSettings>(
                     rq, [&](auto& r) { return rq.device.getTime(r); },
                     [&](const auto& r) { return rq.device.setTime(r, rq.response); });
             }},
            // The time server settings' second name.
            {"/clockSet", false, documentRoute<FtpSettings>},
            // Read with the live status fields; written as plain documents.
            {"/output", false,
             [](Request& rq) {
                 return readOrWrite<OutputSettings>(
                     rq, [&](auto& r) { return rq.device.getOutput(r); },
                     [&](const auto& r) { return rq.device.writeDocument(0, &r, rq.response); });
             }},
            {"/storage", false,
             [](Request& rq) {
                 return readOrWrite<SysInfo>(
                     rq, [&](auto& r) { return rq.device.getSysInfo(r); },
                     [&](const auto& r) { return rq.device.writeDocument(0, &r, rq.response); });
             }},
            {"/streamformat", false,
             [](Request& rq) {
                 if (rq.method == Method::Get) {
                     return readOp<StreamFormat>(
                         rq, [&](auto& r) { return rq.device.getStreamFormat(r); });
                 }
                 return rq.method == Method::Post ? kApiOk : kApiWrongMethod;  // read-only: a POST
                                                                               // changes nothing
             }},
            {"/sysinfo", false,
             [](Request& rq) {
                 return readOp<SysInfo>(rq, [&](auto& r) { return rq.device.getSysInfo(r); });
             }},
            {"/httpdetect", false,
             [](Request& rq) {
                 if (rq.method == Method::Other) {
                     return kApiWrongMethod;
                 }
                 UpgradeServerSettings record;
                 if (rq.method == Method::Post) {
                     JsonCast::fromJson(record, rq.body);
                 }
                 const ApiResult result = rq.device.httpDetect(record);
                 JsonCast::toJson(record, rq.response);
                 return result;
             }},
            {"/httpupgrade", false,
             [](Request& rq) {
                 return readOrWrite<UpgradeServerSettings>(
                     rq, [&](auto& r) { return rq.device.readDocument(0, &r); },
                     [&](const auto& r) { return rq.device.httpUpgrade(r, rq.response); });
             }},
            {"/security", false,
             [](Request& rq) {
                 return readOrWrite<SecuritySettings>(
                     rq, [&](auto& r) { return rq.device.getSecurity(r); },
                     [&](const auto& r) { return rq.device.setSecurity(r, rq.response); });
             }},
            // Read only: the pages check their forms by the device's own limits.
            {"/limits", false,
             [](Request& rq) {
                 if (rq.method != Method::Get) {
                     return kApiWrongMethod;
                 }
                 rq.response = LimitsDocument::text();
                 return kApiOk;
             }},
            // The RTMP keys of the protocol section with the password write-only, by the rules
            // of "/srt": a body without "rtmpPassword" keeps it, "" clears it.
            {"/rtmp", true,
             [](Request& rq) {
                 ProtocolSettings record;
                 if (rq.method != Method::Get && rq.method != Method::Post) {
                     return kApiWrongMethod;
                 }
                 const ApiResult result = rq.device.getProtocol(rq.index, record);
                 if (rq.method == Method::Get || result != kApiOk) {
                     JsonCast::toRtmpJson(record, rq.response);
                     return result;
                 }
                 JsonCast::fromRtmpJson(record, rq.body);
                 if (SettingsCheck::refused(SettingsCheck::rtmpAddress(record.rtmpAddr),
                                            rq.response)) {
                     return kApiFailed;
                 }
                 return rq.device.writeDocument(rq.index, &record, rq.response);
             }},
            // Any method but the safe ones: a plain link must not install, restart or reset.
            {"/update", false,
             [](Request& rq) {
                 return rq.safeMethod ? HttpHandler::kMethodNotAllowed
                                      : rq.device.handleUpdate(rq.uploadedFilePath, rq.response);
             }},
            {"/update-status", false,
             [](Request& rq) { return rq.device.getUpdateStatus(rq.response); }},
            {"/reboot", false,
             [](Request& rq) {
                 return rq.safeMethod ? HttpHandler::kMethodNotAllowed
                                      : rq.device.reboot(rq.response);
             }},
            {"/reset", false,
             [](Request& rq) {
                 return rq.safeMethod ? HttpHandler::kMethodNotAllowed
                                      : rq.device.resetFactory(rq.response);
             }},
        };
        for (const std::vector<Route>& documents :
             {documentRoutes(PlainDocuments{}), documentRoutes(StoredDocuments{})}) {
            all.insert(all.end(), documents.begin(), documents.end());
        }
        return all;
    }();
    return table;
}

}  // namespace

ApiResult EncoderHttpHandler::handleApi(std::string_view method, std::string_view apiPath,
                                        std::string_view queryString, std::string_view body,
                                        std::string& response) {
    for (const Route& route : routes()) {
        if (route.path == apiPath) {
            if (!JsonDepth::within(body)) {
                response = "{\"error\":\"JSON nested deeper than " +
                           std::to_string(JsonDepth::kLimit) + " levels\"}";
                return kBadRequest;
            }
            if (JsonStringCheck::hasControlCharacter(body)) {
                response = "{\"error\":\"texts may not hold control characters\"}";
                return kBadRequest;
            }
            Request rq{m_device,
                       m_uploadedFilePath,
                       methodOf(method),
                       isSafe(method),
                       route.indexed ? indexOf(queryString) : 0,
                       body,
                       response};
            return route.run(rq);
        }
    }
    response = "unknown api";
    return kApiFailed;
}

bool EncoderHttpHandler::runsLong(std::string_view method, std::string_view apiPath) const {
    return apiPath == "/httpdetect" ||
           (apiPath == "/httpupgrade" && methodOf(method) == Method::Post);
}

void EncoderHttpHandler::handleUpload(const std::string& name, const std::string& filePath) {
    m_uploadedFilePath = filePath;
    m_device.handleUpload(name, filePath);
}

void EncoderHttpHandler::handleRtspInfo(const std::string& user, const std::string& password) {
    m_device.handleRtspInfo(user, password);
}

}  // namespace enc
