#pragma once

namespace enc {

/// Restores the factory settings: removes the customer copies of the settings and the
/// active-SIM marker, syncs and reboots. Prints "restore to factory mode.".
void resetToFactory();

}  // namespace enc
