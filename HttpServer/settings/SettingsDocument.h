#pragma once
// One descriptor per settings document: the record, where it lives in the settings file, its
// JSON formats, and one row per field with its INI key, JSON key and limits. The settings
// file's load and save (EncoderConfigFile), the JSON documents (JsonCast) and the clamps
// (SettingsLimits) all read these rows, so a field is named in one place.

#include <climits>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>
#include <vector>

#include "EncoderRecords.h"

namespace enc {

/// A record field: an int, an unsigned int or a text member of R.
template <class R>
using FieldMember = std::variant<int R::*, unsigned int R::*, std::string R::*>;

/// In Clamp::high: the input's measured frame rate plus kInputFpsTolerance.
constexpr int kFollowsInput = INT_MIN;
/// The main stream may follow the input up to this many fps above its measured rate.
constexpr int kInputFpsTolerance = 2;

/// The limits of an int field per instance of its record (the stream, or the overlay of the
/// overlay document): a value outside [low, high[i]] becomes replacement[i].
struct Clamp {
    int low;
    int high[2];
    int replacement[2];
};

/// The values an int field may take; a request with any other is refused with a reason.
struct Allowed {
    int low;
    int high;
};
/// A switch: 0 or 1.
constexpr Allowed kSwitch{0, 1};

/// One field of a document.
template <class R>
struct DocumentField {
    FieldMember<R> member;
    const char* iniKey;   // its key in the settings file; nullptr: live only, never stored
    const char* jsonKey;  // its key in the JSON formats; nullptr: in no document
    std::optional<Clamp> clamp = std::nullopt;      // int fields only: replaced outside
    std::optional<Allowed> allowed = std::nullopt;  // int fields only: refused outside
    /// A text that never leaves the device: the key the replies carry in its place, whether
    /// it is set (a request without the field's own key keeps it: SettingsDocument::merges).
    const char* secret = nullptr;
};

/// Where a document's records are stored in the settings file.
struct DocumentSection {
    /// The section, or for a per-stream record its name after the stream prefix ("video":
    /// "master_video", "sub_video"); nullptr: the record is not stored.
    const char* name;
    bool perStream;
    /// Appended to every INI key of instance 0 and 1 (the sub stream's "brightness_s").
    const char* keySuffix[2];
};

class EncoderConfigFile;

/// What a POST of the document does once the dispatcher has decoded it: the device's one
/// setter path runs these steps in this order, and stops at the first that fails.
///   check        the rows' Allowed ranges, then check; a reason refuses the request
///   apply        the rows' clamps (per instance), then adjust; trace is printed
///   save         the records go to place (or through store), and only their keys (and those of
///                alsoWrites) are written to the file as it is now (EncoderConfigFile::update)
///   change code  changeCode[instance] goes to the media process
///   sync         the board's sync, for documents whose files the boot scripts read
/// A setter with its own board work (the network mode file, the Wi-Fi client file, a reboot)
/// runs it between the save and the change code.
template <class R>
struct SetterSteps {
    /// Where a document's records live in the settings for the request's index: `count`
    /// records from the one returned; nullptr refuses the index (the setter then answers
    /// kApiFailed and changes nothing). A per-stream document takes 0 and 1 only.
    R* (*place)(EncoderConfigFile& settings, int index) = nullptr;
    /// Records in one request (the overlay document's two); each is clamped as instance k.
    int count = 1;
    std::string (*check)(const R& record) = nullptr;
    void (*adjust)(R& record) = nullptr;
    /// Instead of copying the records to place: the document's own rule (only some fields, or
    /// a copy of one into another record, named by alsoWrites so that its keys are saved too).
    void (*store)(EncoderConfigFile& settings, int index, const R& record) = nullptr;
    const void* (*alsoWrites)(EncoderConfigFile& settings, int index) = nullptr;
    /// Printed after the check, as a printf format with the index.
    const char* trace = nullptr;
    int changeCode[2] = {0, 0};  // per instance (stream); 0: the media process is not told
    bool sync = false;
};

template <class R>
struct SettingsDocument {
    /// Its path under "/api" ("/video"); nullptr: not a document of the API.
    const char* path;
    DocumentSection section;
    /// The JSON formats of Frozen's printer and scanner ("%d" an int, "%B" a boolean from an
    /// int, "%Q" a quoted text), byte for byte as the pages parse them; nullptr: none. The
    /// alternative reply is the overlay document's second object, or the stream URL's
    /// document while its SRT output is on.
    const char* encode;
    const char* encodeAlt;
    const char* decode;
    /// In the order their keys are set on save (which places keys new to the file).
    std::vector<DocumentField<R>> fields;
    /// The setter path of a document the API writes (place nullptr: none, unless the record
    /// is one of StoredDocuments, which live in EncoderConfigFile's document store).
    SetterSteps<R> set = {};
    /// A POST changes the keys its body names and keeps the stored value of every other one;
    /// otherwise it starts from a fresh record, as the first release's documents always did.
    bool merges = false;
};

/// Calls fn with a null R* for every record type R of the list, in order.
template <class... Rs, class Fn>
void forEachType(DocumentTypes<Rs...>, Fn&& fn) {
    (fn(static_cast<Rs*>(nullptr)), ...);
}

/// Whether R is one of the list's types.
template <class R, class... Rs>
constexpr bool isOneOf(DocumentTypes<Rs...>) {
    return (std::is_same_v<R, Rs> || ...);
}

/// The descriptor of the document of record type R; one per record (SettingsDocuments.cpp).
template <class R>
const SettingsDocument<R>& documentOf();

/// "" when every int field of record lies within its Allowed range, otherwise the reason for
/// the first that does not ("<JSON key> must be 0 or 1", "... must be from L to H").
template <class R>
std::string refusedValue(const R& record) {
    for (const DocumentField<R>& f : documentOf<R>().fields) {
        if (!f.allowed) {
            continue;
        }
        const int value = record.*std::get<int R::*>(f.member);
        if (value < f.allowed->low || value > f.allowed->high) {
            const bool flag = f.allowed->low == 0 && f.allowed->high == 1;
            return std::string(f.jsonKey) +
                   (flag ? " must be 0 or 1"
                         : " must be from " + std::to_string(f.allowed->low) + " to " +
                               std::to_string(f.allowed->high));
        }
    }
    return std::string();
}

/// The clamp instance of record k of a request for index: the stream for a per-stream record,
/// the element for a document of several records, 0 otherwise.
template <class R>
int clampInstance(int index, int k) {
    const SettingsDocument<R>& doc = documentOf<R>();
    if (doc.set.count > 1) {
        return k;
    }
    return doc.section.perStream && index != 0 ? 1 : 0;
}

/// Whether a document holds one record per stream: in a section per stream, or with the sub
/// stream's keys suffixed (the request's index then picks the stream).
template <class R>
bool perStreamDocument() {
    const DocumentSection& s = documentOf<R>().section;
    return s.perStream || std::string_view(s.keySuffix[0]) != s.keySuffix[1];
}

/// The section of instance (stream) index of a document: the stream prefix ("master_",
/// "sub_") for a per-stream record.
std::string sectionOf(const DocumentSection& section, int index);

}  // namespace enc
