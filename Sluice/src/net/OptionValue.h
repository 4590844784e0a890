#pragma once

#include <cstdint>
#include <string>

/// The number in an option's text (sluice_set_option): a whole decimal number and nothing
/// else (no spaces, no sign but a leading minus). False for anything else.
bool parseOptionInteger(const std::string& text, int64_t& out);
