#pragma once
// Figures from ts-check's JSON report, for the tests that check a stream with it.
#include <gtest/gtest.h>

#include <string>

namespace sluicetest {

// A number from the report ("key":value).
// (std::regex trips the sanitizer build's -Werror=maybe-uninitialized in libstdc++.)
inline double reportField(const std::string& json, const std::string& key) {
    const std::string label = "\"" + key + "\":";
    const size_t at = json.find(label);
    const size_t value = at == std::string::npos ? at : at + label.size();
    if (value == std::string::npos || value >= json.size() ||
        json.find_first_of("-0123456789.", value) != value) {
        ADD_FAILURE() << key << " not in " << json;
        return -1;
    }
    return std::stod(json.substr(value));
}

// The count of one indicator inside the priority1 or priority2 object.
inline double reportIndicator(const std::string& json, const std::string& priority,
                              const std::string& key) {
    const size_t start = json.find("\"" + priority + "\":{");
    return reportField(json.substr(start, json.find('}', start) - start), key);
}

}  // namespace sluicetest
