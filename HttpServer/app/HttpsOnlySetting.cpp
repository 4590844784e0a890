#include "HttpsOnlySetting.h"

#include <sys/stat.h>

#include "IniFile.h"
#include "SettingsKeys.h"

bool HttpsOnlySetting::enabled() {
    struct stat st {};
    std::lock_guard<std::mutex> lock(m_mutex);
    if (::stat(m_file.c_str(), &st) != 0) {
        m_read = false;
        m_value = false;
        return false;
    }
    const bool same = m_read && st.st_mtim.tv_sec == m_mtime.tv_sec &&
                      st.st_mtim.tv_nsec == m_mtime.tv_nsec && st.st_size == m_size &&
                      st.st_ino == m_inode;
    if (!same) {
        comn::IniFile ini;
        int value = 0;
        m_value = ini.load(m_file) &&
                  ini.getValue(enc::keys::kSecuritySection, enc::keys::kHttpsOnly, value) &&
                  value == 1;
        m_read = true;
        m_mtime = st.st_mtim;
        m_size = st.st_size;
        m_inode = st.st_ino;
    }
    return m_value;
}
