#pragma once
// The JSON documents of the web API: one encoding per settings record for the replies of
// read operations, and a decoding for the bodies of write operations. The key names and the
// spacing of the encodings are what the device's web pages parse; keep them byte for byte.

#include <deque>
#include <string>
#include <string_view>
#include <variant>

#include "EncoderRecords.h"
#include "JsonFormat.h"
#include "SettingsDocument.h"

namespace enc {

/// Stateless conversions between the settings records and their JSON documents, by each
/// record's descriptor (SettingsDocuments.cpp): its encode format for replies, its decode
/// format for requests.
///
/// toJson replaces text with the record's document (cut at 1023 characters, as the device
/// always did); a secret text shows only as whether it is set. fromJson reads the keys its
/// document names from a JSON body: keys missing from the body leave their fields unchanged,
/// and a body that is not a JSON object (an array for the overlays), or one nested deeper than
/// JsonDepth::kLimit, changes nothing; it always returns true. Safe to call from any thread.
class JsonCast {
public:
    virtual ~JsonCast() = default;

    template <class R>
    static void toJson(const R& record, std::string& text) {
        R copy = record;  // the fields bind to a mutable record
        std::deque<int> secretsSet;
        cut(JsonFormat::print(documentOf<R>().encode, fieldsOf(copy, &secretsSet)), text);
    }
    template <class R>
    static bool fromJson(R& record, std::string_view body) {
        scanBody(documentOf<R>().decode, body, fieldsOf(record, nullptr));
        return true;
    }

    // The documents with a rule of their own.

    /// {"http":"...", "rtsp":"..."}; while the stream's SRT output is on (srt not empty) the
    /// keys "srt" and "srtMode" follow, in the same spacing.
    static void toJson(const StreamUrl& record, std::string& text);
    /// The overlay document: an array of two objects, the second without textMode.
    static void toJson(const OsdSettings& first, const OsdSettings& second, std::string& text);
    /// Array element 0 fills first, element 1 second; a missing element leaves its record.
    static bool fromJson(OsdSettings& first, OsdSettings& second, std::string_view body);
    /// Prints "storage infor:<serverIP>, <path>, <place>" on standard output afterwards.
    static bool fromJson(SysInfo& record, std::string_view body);
    /// Prints the FTP and time server settings on standard output afterwards.
    static bool fromJson(FtpSettings& record, std::string_view body);
    /// Prints "HttpServer : <serverIP>" on standard output afterwards.
    static bool fromJson(UpgradeServerSettings& record, std::string_view body);

    /// The RTMP push of a stream ("/api/rtmp", beside the protocol document, whose bytes stay
    /// as they are): {"rtmpEnabled":false,"rtmpAddr":"","rtmpPort":1935,"rtmpUser":"",
    /// "passwordSet":false}; the password itself never leaves the device.
    static void toRtmpJson(const ProtocolSettings& record, std::string& text);
    /// Those keys with "rtmpPassword" in place of "passwordSet": missing keys keep the
    /// record's values (a body without "rtmpPassword" keeps the stored password, "" clears it).
    static bool fromRtmpJson(ProtocolSettings& record, std::string_view body);

private:
    /// The fields of the descriptor's rows with a JSON key, bound to record; with secretsSet,
    /// each secret text adds its "set" key, bound to an int kept there.
    template <class R>
    static JsonFields fieldsOf(R& record, std::deque<int>* secretsSet) {
        JsonFields fields;
        for (const DocumentField<R>& f : documentOf<R>().fields) {
            if (f.jsonKey != nullptr) {
                std::visit([&](auto member) { fields.emplace_back(f.jsonKey, record.*member); },
                           f.member);
            }
            if (f.secret != nullptr && secretsSet != nullptr) {
                secretsSet->push_back((record.*std::get<std::string R::*>(f.member)).empty() ? 0
                                                                                             : 1);
                fields.emplace_back(f.secret, secretsSet->back());
            }
        }
        return fields;
    }
    /// Parses body (a body nested too deeply is not parsed) and scans it by format.
    static void scanBody(const char* format, std::string_view body, const JsonFields& fields);
    /// text = printed, cut at JsonFormat::kMaxText.
    static void cut(std::string printed, std::string& text);
};

}  // namespace enc
