#pragma once

#include <string>
#include <vector>

#include "sluice.h"

/// The per-destination counters of one caster as a text table, one line per destination
/// (what sluice-cast --stats prints).
namespace StatsTable {

/// Reads the caster's destinations through sluice_get_destination_stats; false when the
/// library refused (unknown handle).
bool read(int handle, std::vector<sluice_destination_stats>& records);
/// The header line and one line per record, each ending in a newline.
std::string format(const std::vector<sluice_destination_stats>& records);

}  // namespace StatsTable
