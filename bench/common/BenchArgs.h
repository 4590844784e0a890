#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

/// The command line of a benchmark program: "--name value" options (repeatable), "--name"
/// flags and positional arguments. Every program prints its results as one JSON line, so a
/// bad command line is a programming error of the runner: it is reported and ends the run.
class BenchArgs {
public:
    /// flags: option names that take no value. Any other "--name" takes the next argument.
    BenchArgs(int argc, char** argv, const std::set<std::string>& flags);

    bool ok() const { return m_error.empty(); }
    const std::string& error() const { return m_error; }

    bool has(const std::string& name) const { return m_values.count(name) != 0; }
    /// The last value given for name, or fallback.
    std::string text(const std::string& name, const std::string& fallback = "") const;
    /// The last value as a number; fallback when absent. A value that is not a whole number
    /// in [low, high] makes ok() false.
    long number(const std::string& name, long fallback, long low, long high);
    /// Every value given for name, in order.
    std::vector<std::string> all(const std::string& name) const;
    const std::vector<std::string>& positional() const { return m_positional; }

private:
    std::map<std::string, std::vector<std::string>> m_values;
    std::vector<std::string> m_positional;
    std::string m_error;
};

/// "HOST:PORT" split into its parts; false when either is missing or the port is not 0-65535.
bool splitHostPort(const std::string& text, std::string& host, int& port);

/// Reads "HOST:PORT" lines (blank lines skipped) and appends them to out.
bool readTargetFile(const std::string& path, std::vector<std::string>& out);
