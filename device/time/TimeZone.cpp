#include "TimeZone.h"

#include <fstream>

#include "Console.h"
#include "board/Board.h"

namespace enc {
namespace {

// Position i stands for zone hour i - 12.
constexpr int kFirstZoneHour = -12;

}  // namespace

const std::array<const char*, 24>& zoneTable() {
    static const std::array<const char*, 24> table = {
        "CST-12", "CST-13", "CST-14", "CST-15", "CST-16", "CST-17", "CST-18", "CST-19",
        "CST-20", "CST-21", "CST-22", "CST-23", "CST-0",  "CST-1",  "CST-2",  "CST-3",
        "CST-4",  "CST-5",  "CST-6",  "CST-7",  "CST-8",  "CST-9",  "CST-10", "CST-11"};
    return table;
}

int zoneOffset(const std::string& name) {
    const auto& table = zoneTable();
    for (size_t i = 0; i < table.size(); ++i) {
        if (name == table[i]) {
            const int hour = static_cast<int>(i) + kFirstZoneHour;
            sayError("%s, tz_index:%d\n", name.c_str(), hour);
            return -hour * 3600;
        }
    }
    return 0;
}

std::string boardZoneName() {
    std::ifstream in(board::path("/etc/TZ"));
    std::string word;
    in >> word;
    return word;
}

int boardZoneOffset() {
    const std::string name = boardZoneName();
    return name.empty() ? 0 : zoneOffset(name);
}

}  // namespace enc
