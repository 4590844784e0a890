#pragma once

#include <array>
#include <functional>
#include <optional>
#include <string>
#include <tuple>
#include <variant>
#include <vector>

#include "EncoderRecords.h"
#include "FileStamp.h"
#include "IniFile.h"
#include "SettingsDocument.h"

namespace enc {

/// The settings record of the device ("/mnt/config/encoder.ini"): plain records plus the
/// INI model of the file as last loaded. Index 0 of the stream-indexed arrays is the main
/// stream (sections "master_..."), index 1 the sub stream ("sub_...").
///
/// save() writes every stored field into the model and saves it, so sections, keys and
/// comments this record does not know survive unchanged. Not thread-safe.
class EncoderConfigFile {
public:
    /// All records empty, then the documented defaults.
    EncoderConfigFile();
    virtual ~EncoderConfigFile() = default;

    /// Loads the file and reads every stored key that exists into its field: numbers by the
    /// INI typed read, texts as the whole stored value. False (nothing changes) when the
    /// file cannot be opened.
    bool load(const std::string& path);
    /// The same result as load(path), for callers that load before every use: when path is
    /// still the file the last load read (comn::FileStamp) and the model was neither saved
    /// nor handed out since, the fields that load set are set again to the values it read,
    /// without reading the file; a file that was missing then and still is gives false.
    bool reload(const std::string& path);

    /// Stores every field in the model and saves the file atomically with mode 0600 (it holds
    /// the web password); false on any error (the previous file then stays intact).
    bool save(const std::string& path);

    /// Changes the stored keys of the records named in owned and no other key, so that
    /// neither a value a getter filled from live state nor a stale copy of another record
    /// reaches the file: under the settings file's lock (lockPath), reads the file as it is
    /// now (reload), calls change, sets only the owned records' keys in the model and saves
    /// it. A missing file is written whole, as save() does. False, with the reason in *error
    /// when given, when the lock could not be taken, the file exists but cannot be read, or
    /// the save failed: the file then stays as it was.
    bool update(const std::string& path, const std::vector<const void*>& owned,
                const std::function<void()>& change, std::string* error = nullptr);

    /// The lock file every writer of the settings file at path takes (comn::FileLock), Quillon
    /// and peerlo alike: the same name with ".lock" appended, in the same folder.
    static std::string lockPath(const std::string& path) { return path + ".lock"; }

    /// Mode of the saved file: owner read and write only.
    static constexpr unsigned kFileMode = 0600;

    /// The section prefix of a stream: "master_" for 0, "sub_" for 1.
    static const char* streamPrefix(int index) { return index == 0 ? "master_" : "sub_"; }

    /// The model for changes: the next reload() reads the file again.
    comn::IniFile& ini() {
        m_loadedStamp.clear();
        return m_ini;
    }
    const comn::IniFile& ini() const { return m_ini; }

    InputStatus input;
    StreamStatus streamStatus[2];
    StreamUrl streamUrl[2];
    NetworkSettings network;
    WifiSettings wifi;
    VideoSettings video[2];
    ProtocolSettings protocol[2];
    OsdSettings osd[2][2];  // [stream][overlay]
    ChromaSettings chroma[2];
    AudioSettings audio;
    Rs485Settings rs485;
    LogoSettings logo[2];
    UpgradeServerSettings upgradeServer;
    FtpSettings ftp;
    SysInfo sysInfo;
    StreamFormat streamFormat;  // not stored
    OutputSettings output;
    IrcutSettings ircut;  // not stored
    LteStatus lte;        // not stored
    SecuritySettings security;
    SrtSettings srt[2];
    std::string author;  // web user name ("input" key "author")
    std::string pwd;     // web password ("input" key "pwd")

    /// The record of a document of StoredDocuments for index (the stream of a per-stream
    /// document: 0 or 1, nullptr for any other); a document of one record ignores index.
    template <class R>
    R* stored(int index) {
        std::array<R, 2>& records = std::get<std::array<R, 2>>(m_store);
        if (!documentOf<R>().section.perStream) {
            return &records[0];
        }
        return index == 0 || index == 1 ? &records[index] : nullptr;
    }

private:
    template <class List>
    struct StoreOf;
    template <class... Rs>
    struct StoreOf<DocumentTypes<Rs...>> {
        using type = std::tuple<std::array<Rs, 2>...>;
    };
    /// The records of StoredDocuments, two of each (one per stream where it is per stream).
    StoreOf<StoredDocuments>::type m_store;

    template <class Visitor>
    void forEachGroup(Visitor&& visit);

    comn::IniFile m_ini;
    /// What the last load set, one item per stored key in visiting order (nothing where the
    /// file has no value for the key), and the file it read.
    using StoredValue = std::variant<int, unsigned int, std::string>;
    std::vector<std::optional<StoredValue>> m_loaded;
    comn::FileStamp m_loadedStamp;
};

}  // namespace enc
