#pragma once
// Whether plain HTTP is to be redirected to HTTPS: key "httpsOnly" (0/1, default 0) of
// section "[security]" in the settings file. The web pages change it through the API, so it
// is read again whenever the file changes.

#include <mutex>
#include <string>

#include "FileStamp.h"

class HttpsOnlySetting {
public:
    /// settingsFile: the settings file's path (a board path, already resolved).
    explicit HttpsOnlySetting(std::string settingsFile) : m_file(std::move(settingsFile)) {}

    /// The current value: a stat() per call, the file is read only when comn::FileStamp
    /// does not vouch for it. A missing or unreadable file, section or key reads 0. Thread
    /// safe.
    bool enabled();

private:
    std::string m_file;
    std::mutex m_mutex;
    bool m_value = false;
    comn::FileStamp m_stamp;
};
