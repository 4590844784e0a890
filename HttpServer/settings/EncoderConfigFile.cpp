#include "EncoderConfigFile.h"

#include <algorithm>
#include <string>
#include <variant>

#include "FileLock.h"

#include "SettingsDocument.h"
#include "SettingsKeys.h"
#include "SettingsLimits.h"

namespace enc {
namespace {

// The stored rows of a document: its INI keys (with the instance's key suffix) and fields.
template <class R>
struct StoredKeys {
    const SettingsDocument<R>& doc;
    const char* suffix;

    template <class Fn>
    void each(Fn&& fn) const {
        for (const DocumentField<R>& f : doc.fields) {
            if (f.iniKey != nullptr) {
                fn(std::string(f.iniKey) + suffix, f.member);
            }
        }
    }
};

// Reads every key of a table that exists in the section; missing keys keep their field.
struct Loader {
    const comn::IniFile& ini;

    template <class R>
    void operator()(const std::string& sectionName, R& record, const StoredKeys<R>& keys) const {
        if (!ini.hasSection(sectionName)) {
            return;
        }
        keys.each([&](const std::string& key, const FieldMember<R>& field) {
            if (!ini.hasEntry(sectionName, key)) {
                return;
            }
            std::visit(
                [&](auto member) {
                    using Field = std::decay_t<decltype(record.*member)>;
                    if constexpr (std::is_same_v<Field, std::string>) {
                        // Texts keep their inner blanks ("Camera one").
                        record.*member = ini.getValue(sectionName, key, "");
                    } else {
                        ini.getValue(sectionName, key, record.*member);
                    }
                },
                field);
        });
    }
};

// Notes, key by key in visiting order, the value a load has just set (the Loader's result),
// or nothing where it left the field alone: a missing key, or a number without digits.
struct LoadRecorder {
    const comn::IniFile& ini;
    std::vector<std::optional<std::variant<int, unsigned int, std::string>>>& loaded;

    template <class R>
    void operator()(const std::string& sectionName, R& record, const StoredKeys<R>& keys) const {
        const bool section = ini.hasSection(sectionName);
        keys.each([&](const std::string& key, const FieldMember<R>& field) {
            if (!section || !ini.hasEntry(sectionName, key)) {
                loaded.emplace_back();
                return;
            }
            std::visit(
                [&](auto member) {
                    using Field = std::decay_t<decltype(record.*member)>;
                    const bool blank =
                        !std::is_same_v<Field, std::string> &&
                        ini.getValue(sectionName, key, "").find_first_not_of(" \t\r\n\f\v") ==
                            std::string::npos;
                    if (blank) {
                        loaded.emplace_back();  // the typed read keeps the field's value
                    } else {
                        loaded.emplace_back(record.*member);
                    }
                },
                field);
        });
    }
};

// Sets the values a LoadRecorder noted, in the same visiting order.
struct LoadReplayer {
    const std::vector<std::optional<std::variant<int, unsigned int, std::string>>>& loaded;
    size_t& next;

    template <class R>
    void operator()(const std::string&, R& record, const StoredKeys<R>& keys) const {
        keys.each([&](const std::string&, const FieldMember<R>& field) {
            const auto& value = loaded[next++];
            if (!value) {
                return;
            }
            std::visit(
                [&](auto member) {
                    using Field = std::decay_t<decltype(record.*member)>;
                    record.*member = std::get<Field>(*value);
                },
                field);
        });
    }
};

// Writes every key of a table into the model, in table order.
struct Saver {
    comn::IniFile& ini;

    template <class R>
    void operator()(const std::string& sectionName, R& record, const StoredKeys<R>& keys) const {
        keys.each([&](const std::string& key, const FieldMember<R>& field) {
            std::visit([&](auto member) { ini.setValue(sectionName, key, record.*member); }, field);
        });
    }
};

// Writes the keys of the tables whose record is one of owned; every other key of the model
// stays as the file had it.
struct OwnedSaver {
    comn::IniFile& ini;
    const std::vector<const void*>& owned;

    template <class R>
    void operator()(const std::string& sectionName, R& record, const StoredKeys<R>& keys) const {
        if (std::find(owned.begin(), owned.end(), static_cast<const void*>(&record)) !=
            owned.end()) {
            Saver{ini}(sectionName, record, keys);
        }
    }
};

}  // namespace

EncoderConfigFile::EncoderConfigFile() {
    input.type = "HDMI";
    input.video = "1920*1080@60";
    input.audio = "(16 bits PCM) 44.1K";

    network.ip = "192.168.1.230";
    network.mask = "255.255.255.0";
    network.gate = "192.168.1.1";
    network.dnsFirst = "114.114.114.114";
    network.dnsSecond = "192.168.1.1";
    network.mac = "44:03:2c:56:79:40";

    wifi.ip = "192.168.1.231";
    wifi.mask = "255.255.255.0";
    wifi.gate = "192.168.1.1";

    for (int i = 0; i < 2; ++i) {
        const bool main = i == 0;
        const std::string name = main ? "main" : "sub";

        streamStatus[i].video = "1920*1080@60";
        streamStatus[i].audio = "16k";
        streamStatus[i].addr = "232.255.42.42";

        // Example URLs on the default wired address.
        streamUrl[i].rtsp = "rtsp://192.168.1.230:554/" + name;
        streamUrl[i].http = "http://192.168.1.230:80/" + name;

        video[i].codec = main ? "H.265" : "H.264";
        video[i].profile = "main";
        video[i].framerate = defaults::kFramerate;
        video[i].gop = defaults::kGop;
        video[i].resolution = "0*0";
        video[i].bitrate = 2048;

        ProtocolSettings& p = protocol[i];
        p.httpName = "/" + name;
        p.httpPort = defaults::kHttpPort;
        p.rtspName = "/" + name;
        p.rtspEnabled = 1;
        p.rtspPort = defaults::kRtspPort;
        p.multicastAddr = "235.250.42.42";
        p.multicastPort = defaults::kMulticastPort[i];
        p.tsAddr = "192.168.1.98";
        p.tsPort = defaults::kTsPort[i];
        p.rtmpAddr = "192.168.1.75";
        p.rtmpPort = defaults::kRtmpPort;
        p.rtmpDir = "live";
        p.rtmpNode = name;

        for (int k = 0; k < 2; ++k) {
            OsdSettings& o = osd[i][k];
            o.x = k == 0 ? 10 : 4000;
            o.y = k == 0 ? 10 : 4000;
            o.fontSize = 1;
            o.opacity = 128;
            o.textColor = 255;
            o.bkColor = 0xFFFFEE;
        }

        const int level = main ? 50 : 0;
        chroma[i] = ChromaSettings{level, level, level, level};

        srt[i].mode = keys::kSrtModeListener;
        srt[i].port = defaults::kSrtPort[i];
        srt[i].latency = defaults::kSrtLatencyMs;
        srt[i].keyLength = defaults::kSrtKeyLength;
    }

    audio.sampleRate = 64000;
    audio.codec = "AAC";
    audio.resample = 48000;
    audio.onvifCodec = "G.711";
}

// Every stored record in the order its keys are set on save (which places keys new to the
// file): the documents' own sections, main stream before sub stream, overlay 0 before 1.
template <class Visitor>
void EncoderConfigFile::forEachGroup(Visitor&& visit) {
    const auto group = [&](auto& record, int index = 0) {
        using R = std::decay_t<decltype(record)>;
        const SettingsDocument<R>& doc = documentOf<R>();
        visit(sectionOf(doc.section, index), record,
              StoredKeys<R>{doc, doc.section.keySuffix[index]});
    };
    const auto perStream = [&](auto(&records)[2]) {
        for (int i = 0; i < 2; ++i) {
            group(records[i], i);
        }
    };
    group(*this);
    group(input);
    group(output);
    perStream(streamStatus);
    perStream(streamUrl);
    group(network);
    group(rs485);
    group(wifi);
    perStream(video);
    perStream(protocol);
    const SettingsDocument<OsdSettings>& overlays = documentOf<OsdSettings>();
    for (int i = 0; i < 2; ++i) {
        for (int k = 0; k < 2; ++k) {
            visit(sectionOf(overlays.section, i) + std::to_string(k), osd[i][k],
                  StoredKeys<OsdSettings>{overlays, ""});
        }
    }
    perStream(logo);
    perStream(chroma);
    group(audio);
    group(upgradeServer);
    group(ftp);
    group(sysInfo);
    group(security);
    perStream(srt);
    forEachType(StoredDocuments{}, [&](auto* type) {
        using R = std::remove_pointer_t<decltype(type)>;
        const bool twice = documentOf<R>().section.perStream;
        for (int i = 0; i < (twice ? 2 : 1); ++i) {
            group(*stored<R>(i), i);
        }
    });
}

bool EncoderConfigFile::load(const std::string& path) {
    // Noted before the reading, so that a change during it shows at the next reload.
    m_loadedStamp.take(path);
    m_loaded.clear();
    if (!m_ini.load(path)) {
        if (!m_loadedStamp.absent()) {
            m_loadedStamp.clear();  // there but unreadable: tried again next time
        }
        return false;
    }
    forEachGroup(Loader{m_ini});
    forEachGroup(LoadRecorder{m_ini, m_loaded});
    return true;
}

bool EncoderConfigFile::reload(const std::string& path) {
    if (!m_loadedStamp.unchanged(path)) {
        return load(path);
    }
    if (m_loadedStamp.absent()) {
        return false;  // still missing: load() would change nothing either
    }
    size_t next = 0;
    forEachGroup(LoadReplayer{m_loaded, next});
    return true;
}

bool EncoderConfigFile::save(const std::string& path) {
    // The model now holds this record's fields, whatever the file holds after the save.
    m_loadedStamp.clear();
    forEachGroup(Saver{m_ini});
    return m_ini.save(path, kFileMode);
}

bool EncoderConfigFile::update(const std::string& path, const std::vector<const void*>& owned,
                               const std::function<void()>& change, std::string* error) {
    const comn::FileLock lock(lockPath(path));
    if (!lock.held()) {
        if (error != nullptr) {
            *error = lock.error();
        }
        return false;
    }
    const bool present = reload(path);
    if (!present && !m_loadedStamp.absent()) {
        // There but unreadable: a file of our keys alone would lose all the others.
        if (error != nullptr) {
            *error = path + ": cannot be read";
        }
        return false;
    }
    change();
    m_loadedStamp.clear();  // the model is about to differ from the file
    if (present) {
        forEachGroup(OwnedSaver{m_ini, owned});
    } else {
        m_ini.clear();
        forEachGroup(Saver{m_ini});
    }
    if (!m_ini.save(path, kFileMode)) {
        if (error != nullptr) {
            *error = path + ": cannot be saved";
        }
        return false;
    }
    return true;
}

}  // namespace enc
