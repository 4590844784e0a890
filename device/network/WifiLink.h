#pragma once

namespace enc {

/// Whether wlan0 is associated with an access point, by the first line of "iwconfig wlan0"
/// (no answer at all, as without a Wi-Fi tool or interface, is no association). Prints
/// "already connect an AP" or "no connected". -1 ("can not open" printed) when the tool
/// cannot be started, else 1 or 0.
int wifiAssociation();

}  // namespace enc
