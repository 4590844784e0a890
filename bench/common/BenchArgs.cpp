#include "BenchArgs.h"

#include <cstdlib>
#include <fstream>

BenchArgs::BenchArgs(int argc, char** argv, const std::set<std::string>& flags) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg.rfind("--", 0) != 0) {
            m_positional.push_back(arg);
            continue;
        }
        if (flags.count(arg) != 0) {
            m_values[arg].push_back("1");
            continue;
        }
        if (i + 1 >= argc) {
            m_error = arg + " needs a value";
            return;
        }
        m_values[arg].push_back(argv[++i]);
    }
}

std::string BenchArgs::text(const std::string& name, const std::string& fallback) const {
    auto it = m_values.find(name);
    return it == m_values.end() ? fallback : it->second.back();
}

long BenchArgs::number(const std::string& name, long fallback, long low, long high) {
    auto it = m_values.find(name);
    if (it == m_values.end()) {
        return fallback;
    }
    const std::string& value = it->second.back();
    char* end = nullptr;
    const long parsed = std::strtol(value.c_str(), &end, 10);
    if (value.empty() || *end != '\0' || parsed < low || parsed > high) {
        m_error = name + ": not a number in " + std::to_string(low) + ".." + std::to_string(high);
        return fallback;
    }
    return parsed;
}

std::vector<std::string> BenchArgs::all(const std::string& name) const {
    auto it = m_values.find(name);
    return it == m_values.end() ? std::vector<std::string>() : it->second;
}

bool splitHostPort(const std::string& text, std::string& host, int& port) {
    const size_t colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 == text.size()) {
        return false;
    }
    char* end = nullptr;
    const long value = std::strtol(text.c_str() + colon + 1, &end, 10);
    if (*end != '\0' || value < 0 || value > 65535) {
        return false;
    }
    host = text.substr(0, colon);
    port = static_cast<int>(value);
    return true;
}

bool readTargetFile(const std::string& path, std::vector<std::string>& out) {
    std::ifstream in(path);
    if (!in) {
        return false;
    }
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty()) {
            out.push_back(line);
        }
    }
    return true;
}
