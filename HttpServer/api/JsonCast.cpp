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

// The fields a document's JSON formats name, bound to one record (SettingsDocument rows
// with a JSON key).
template <class Record>
JsonFields fieldsOf(Record& r) {
    JsonFields fields;
    for (const DocumentField<Record>& f : documentOf<Record>().fields) {
        if (f.jsonKey != nullptr) {
            std::visit([&](auto member) { fields.emplace_back(f.jsonKey, r.*member); }, f.member);
        }
    }
    return fields;
}

using JsonTree = std::unique_ptr<cJSON, void (*)(cJSON*)>;

// A body nested too deeply is not parsed at all: the parser's recursion stays bounded.
JsonTree parse(std::string_view body) {
    if (!JsonDepth::within(body)) {
        return JsonTree(nullptr, cJSON_Delete);
    }
    return JsonTree(cJSON_ParseWithLength(body.data(), body.size()), cJSON_Delete);
}

void setCut(std::string printed, std::string& text) {
    if (printed.size() > JsonFormat::kMaxText) {
        printed.resize(JsonFormat::kMaxText);
    }
    text = std::move(printed);
}

template <class Record>
void encode(const Record& record, std::string& text, const char* format = nullptr) {
    Record copy = record;  // the fields bind to a mutable record
    setCut(
        JsonFormat::print(format != nullptr ? format : documentOf<Record>().encode, fieldsOf(copy)),
        text);
}

template <class Record>
bool decode(Record& record, std::string_view body) {
    const char* format = documentOf<Record>().decode;
    assert(format != nullptr && "this document is never read");
    const JsonTree tree = parse(body);
    JsonFormat::scan(format, tree.get(), fieldsOf(record));
    return true;
}

}  // namespace

void JsonCast::toJson(const InputStatus& r, std::string& t) {
    encode(r, t);
}
void JsonCast::toJson(const StreamStatus& r, std::string& t) {
    encode(r, t);
}
void JsonCast::toJson(const StreamUrl& r, std::string& t) {
    if (r.srt.empty()) {
        encode(r, t);
        return;
    }
    encode(r, t, documentOf<StreamUrl>().encodeAlt);
}
void JsonCast::toJson(const NetworkSettings& r, std::string& t) {
    encode(r, t);
}
void JsonCast::toJson(const WifiSettings& r, std::string& t) {
    encode(r, t);
}
void JsonCast::toJson(const VideoSettings& r, std::string& t) {
    encode(r, t);
}
void JsonCast::toJson(const ProtocolSettings& r, std::string& t) {
    encode(r, t);
}
void JsonCast::toJson(const ChromaSettings& r, std::string& t) {
    encode(r, t);
}
void JsonCast::toJson(const AudioSettings& r, std::string& t) {
    encode(r, t);
}
void JsonCast::toJson(const SysInfo& r, std::string& t) {
    encode(r, t);
}
void JsonCast::toJson(const StreamFormat& r, std::string& t) {
    encode(r, t);
}
void JsonCast::toJson(const OutputSettings& r, std::string& t) {
    encode(r, t);
}
void JsonCast::toJson(const LteStatus& r, std::string& t) {
    encode(r, t);
}
void JsonCast::toJson(const Rs485Settings& r, std::string& t) {
    encode(r, t);
}
void JsonCast::toJson(const LogoSettings& r, std::string& t) {
    encode(r, t);
}
void JsonCast::toJson(const TimeSettings& r, std::string& t) {
    encode(r, t);
}
void JsonCast::toJson(const FtpSettings& r, std::string& t) {
    encode(r, t);
}
void JsonCast::toJson(const UpgradeServerSettings& r, std::string& t) {
    encode(r, t);
}
void JsonCast::toJson(const IrcutSettings& r, std::string& t) {
    encode(r, t);
}
void JsonCast::toJson(const SecuritySettings& r, std::string& t) {
    encode(r, t);
}
// The reply tells whether a passphrase is set; the passphrase itself never leaves the device.
void JsonCast::toJson(const SrtSettings& r, std::string& t) {
    SrtSettings copy = r;
    int passphraseSet = r.passphrase.empty() ? 0 : 1;
    JsonFields fields = fieldsOf(copy);
    fields.emplace_back("passphraseSet", passphraseSet);
    t = JsonFormat::print(documentOf<SrtSettings>().encode, fields);
}

void JsonCast::toJson(const OsdSettings& first, const OsdSettings& second, std::string& text) {
    const SettingsDocument<OsdSettings>& doc = documentOf<OsdSettings>();
    OsdSettings a = first;
    OsdSettings b = second;
    setCut("[" + JsonFormat::print(doc.encode, fieldsOf(a)) + "," +
               JsonFormat::print(doc.encodeAlt, fieldsOf(b)) + "]",
           text);
}

bool JsonCast::fromJson(NetworkSettings& r, std::string_view b) {
    return decode(r, b);
}
bool JsonCast::fromJson(WifiSettings& r, std::string_view b) {
    return decode(r, b);
}
bool JsonCast::fromJson(VideoSettings& r, std::string_view b) {
    return decode(r, b);
}
bool JsonCast::fromJson(ProtocolSettings& r, std::string_view b) {
    return decode(r, b);
}
bool JsonCast::fromJson(ChromaSettings& r, std::string_view b) {
    return decode(r, b);
}
bool JsonCast::fromJson(AudioSettings& r, std::string_view b) {
    return decode(r, b);
}
bool JsonCast::fromJson(OutputSettings& r, std::string_view b) {
    return decode(r, b);
}
bool JsonCast::fromJson(LteStatus& r, std::string_view b) {
    return decode(r, b);
}
bool JsonCast::fromJson(Rs485Settings& r, std::string_view b) {
    return decode(r, b);
}
bool JsonCast::fromJson(LogoSettings& r, std::string_view b) {
    return decode(r, b);
}
bool JsonCast::fromJson(TimeSettings& r, std::string_view b) {
    return decode(r, b);
}
bool JsonCast::fromJson(IrcutSettings& r, std::string_view b) {
    return decode(r, b);
}
bool JsonCast::fromJson(SecuritySettings& r, std::string_view b) {
    return decode(r, b);
}
bool JsonCast::fromJson(SrtSettings& r, std::string_view b) {
    return decode(r, b);
}

bool JsonCast::fromJson(SysInfo& r, std::string_view body) {
    decode(r, body);
    std::printf("storage infor:%s, %s, %d\n", r.serverIP.c_str(), r.path.c_str(), r.place);
    return true;
}

bool JsonCast::fromJson(FtpSettings& r, std::string_view body) {
    decode(r, body);
    // The log is readable by anyone on the console or in a bug report: the password stays out.
    std::printf("FTP: %s, %s, %s, %d\n", r.ftpserverIP.c_str(), r.username.c_str(),
                r.fpassword.empty() ? "" : "********", r.ftptime);
    std::printf("timeServer:%s, timeZone:%d\n", r.timeServer.c_str(), r.localtimezone);
    return true;
}

bool JsonCast::fromJson(UpgradeServerSettings& r, std::string_view body) {
    decode(r, body);
    std::printf("HttpServer : %s\n", r.serverIP.c_str());
    return true;
}

bool JsonCast::fromJson(OsdSettings& first, OsdSettings& second, std::string_view body) {
    const char* format = documentOf<OsdSettings>().decode;
    const JsonTree tree = parse(body);
    if (!cJSON_IsArray(tree.get())) {
        return true;
    }
    JsonFormat::scan(format, cJSON_GetArrayItem(tree.get(), 0), fieldsOf(first));
    JsonFormat::scan(format, cJSON_GetArrayItem(tree.get(), 1), fieldsOf(second));
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
    setCut(JsonFormat::print(kRtmpEncode, fields), t);
}

bool JsonCast::fromRtmpJson(ProtocolSettings& r, std::string_view b) {
    const JsonTree tree = parse(b);
    JsonFormat::scan(kRtmpDecode, tree.get(), rtmpFields(r));
    return tree != nullptr;
}

}  // namespace enc
