#include "HttpsOnlySetting.h"

#include "IniFile.h"
#include "SettingsKeys.h"

bool HttpsOnlySetting::enabled() {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_stamp.unchanged(m_file)) {
        // Noted before the reading, so that a change during it shows next time.
        m_stamp.take(m_file);
        comn::IniFile ini;
        int value = 0;
        m_value = ini.load(m_file) &&
                  ini.getValue(enc::keys::kSecuritySection, enc::keys::kHttpsOnly, value) &&
                  value == 1;
    }
    return m_value;
}
