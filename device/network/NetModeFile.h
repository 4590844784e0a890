#pragma once

namespace enc {

/// Writes the connection type (0 wired, 1 Wi-Fi, 2 LTE) to "/mnt/config/net_mode.ini", where
/// the boot scripts read it before the settings file. Other values are not written (true,
/// nothing done). False, with the error printed, when the file cannot be written.
bool writeNetModeFile(int connectionType);

}  // namespace enc
