#include "JsonCast.h"

#include <cJSON.h>

#include <cassert>
#include <cstdio>
#include <memory>
#include <variant>

#include "JsonDepth.h"
#include "JsonFormat.h"
#include "SettingsDocument.h"

namespace enc {

namespace {

using JsonTree = std::unique_ptr<cJSON, void (*)(cJSON*)>;

// A body nested too deeply is not parsed at all: the parser's recursion stays bounded.
JsonTree parse(std::string_view body) {
    if (!JsonDepth::within(body)) {
        return JsonTree(nullptr, cJSON_Delete);
    }
    return JsonTree(cJSON_ParseWithLength(body.data(), body.size()), cJSON_Delete);
}

}  // namespace

void JsonCast::cut(std::string printed, std::string& text) {
    if (printed.size() > JsonFormat::kMaxText) {
        printed.resize(JsonFormat::kMaxText);
    }
    text = std::move(printed);
}

void JsonCast::scanBody(const char* format, std::string_view body, const JsonFields& fields) {
    assert(format != nullptr && "this document is never read");
    const JsonTree tree = parse(body);
    JsonFormat::scan(format, tree.get(), fields);
}

void JsonCast::toJson(const StreamUrl& r, std::string& t) {
    StreamUrl copy = r;
    const SettingsDocument<StreamUrl>& doc = documentOf<StreamUrl>();
    cut(JsonFormat::print(r.srt.empty() ? doc.encode : doc.encodeAlt, fieldsOf(copy, nullptr)), t);
}

void JsonCast::toJson(const OsdSettings& first, const OsdSettings& second, std::string& text) {
    const SettingsDocument<OsdSettings>& doc = documentOf<OsdSettings>();
    OsdSettings a = first;
    OsdSettings b = second;
    cut("[" + JsonFormat::print(doc.encode, fieldsOf(a, nullptr)) + "," +
            JsonFormat::print(doc.encodeAlt, fieldsOf(b, nullptr)) + "]",
        text);
}

bool JsonCast::fromJson(SysInfo& r, std::string_view body) {
    fromJson<SysInfo>(r, body);
    std::printf("storage infor:%s, %s, %d\n", r.serverIP.c_str(), r.path.c_str(), r.place);
    return true;
}

bool JsonCast::fromJson(FtpSettings& r, std::string_view body) {
    fromJson<FtpSettings>(r, body);
    // The log is readable by anyone on the console or in a bug report: the password stays out.
    std::printf("FTP: %s, %s, %s, %d\n", r.ftpserverIP.c_str(), r.username.c_str(),
                r.fpassword.empty() ? "" : "********", r.ftptime);
    std::printf("timeServer:%s, timeZone:%d\n", r.timeServer.c_str(), r.localtimezone);
    return true;
}

bool JsonCast::fromJson(UpgradeServerSettings& r, std::string_view body) {
    fromJson<UpgradeServerSettings>(r, body);
    std::printf("HttpServer : %s\n", r.serverIP.c_str());
    return true;
}

bool JsonCast::fromJson(OsdSettings& first, OsdSettings& second, std::string_view body) {
    const char* format = documentOf<OsdSettings>().decode;
    const JsonTree tree = parse(body);
    if (!cJSON_IsArray(tree.get())) {
        return true;
    }
    JsonFormat::scan(format, cJSON_GetArrayItem(tree.get(), 0), fieldsOf(first, nullptr));
    JsonFormat::scan(format, cJSON_GetArrayItem(tree.get(), 1), fieldsOf(second, nullptr));
    return true;
}

namespace {

constexpr const char* kRtmpEncode =
    "{rtmpEnabled:%B,rtmpAddr:%Q,rtmpPort:%d,rtmpUser:%Q,passwordSet:%B}";
constexpr const char* kRtmpDecode =
    "{rtmpEnabled:%B,rtmpAddr:%Q,rtmpPort:%d,rtmpUser:%Q,rtmpPassword:%Q}";

JsonFields rtmpFields(ProtocolSettings& r) {
    return {{"rtmpEnabled", r.rtmpEnabled},
            {"rtmpAddr", r.rtmpAddr},
            {"rtmpPort", r.rtmpPort},
            {"rtmpUser", r.rtmpUser},
            {"rtmpPassword", r.rtmpPassword}};
}

}  // namespace

void JsonCast::toRtmpJson(const ProtocolSettings& r, std::string& t) {
    ProtocolSettings copy = r;
    int passwordSet = r.rtmpPassword.empty() ? 0 : 1;
    JsonFields fields = rtmpFields(copy);
    fields.emplace_back("passwordSet", passwordSet);
    cut(JsonFormat::print(kRtmpEncode, fields), t);
}

bool JsonCast::fromRtmpJson(ProtocolSettings& r, std::string_view b) {
    const JsonTree tree = parse(b);
    JsonFormat::scan(kRtmpDecode, tree.get(), rtmpFields(r));
    return tree != nullptr;
}

}  // namespace enc
