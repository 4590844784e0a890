#pragma once

#include <cstdint>

/// One kind of trouble that may repeat many times in a row (a client's unparsable reads, the
/// blocks a jammed client loses): the first occurrence is worth a log line, the rest only a
/// count, logged once when the episode ends. Keeps a flood of the same event from flooding
/// the log. Not thread-safe: the owner's lock guards it.
class LogEpisode {
public:
    /// Counts one occurrence; true when it opens the episode (the caller logs it).
    bool occur() { return m_count++ == 0; }
    /// Closes the episode: how many occurrences it had (0 when none was open).
    uint64_t end() {
        const uint64_t count = m_count;
        m_count = 0;
        return count;
    }
    bool open() const { return m_count > 0; }

private:
    uint64_t m_count = 0;
};
