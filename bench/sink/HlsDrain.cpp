#include "HlsDrain.h"

#include <sys/epoll.h>

#include <algorithm>
#include <cstdlib>

#include "BenchClock.h"

namespace {

constexpr unsigned kRead = EPOLLIN;
// A poll at least this often, whatever the playlist says.
constexpr int64_t kShortestPollNs = 100000000;

bool startsWith(const std::string& line, const char* prefix, std::string& rest) {
    const std::string head(prefix);
    if (line.compare(0, head.size(), head) != 0) {
        return false;
    }
    rest = line.substr(head.size());
    return true;
}

}  // namespace

bool HlsDrain::open(const std::string& host, int port, const std::string& playlist, int count,
                    DrainStats& stats, std::string& error) {
    m_host = host + ":" + std::to_string(port);
    m_playlistPath = playlist;
    m_directory = playlist.substr(0, playlist.rfind('/') + 1);
    stats.bytes.assign(count, 0);
    sockaddr_in addr{};
    if (!loopbackAddress(host, port, addr, error)) {
        return false;
    }
    for (int i = 0; i < count; ++i) {
        auto client = std::make_unique<Client>(static_cast<size_t>(i));
        if (!client->connection.connect(addr, error)) {
            return false;
        }
        m_clients.push_back(std::move(client));
    }
    return true;
}

unsigned HlsDrain::onEvent(size_t index, unsigned events, DrainStats& stats) {
    Client& client = *m_clients[index];
    const int64_t now = monotonicNs();
    if (!client.connection.connected()) {
        if (!client.connection.finishConnect()) {
            ++stats.errors;
            return end(client, stats);
        }
        return request(client, Waiting::kPlaylist, m_playlistPath, now, stats);
    }
    if ((events & (EPOLLIN | EPOLLHUP | EPOLLERR)) == 0) {
        return kRead;
    }
    uint64_t wire = 0;
    const uint64_t before = client.body;
    const HttpConnection::Read read = client.connection.read(wire);
    if (read != HttpConnection::Read::kMore) {
        // Players keep their connection: the server closing it is a fault too.
        ++stats.errors;
        return end(client, stats);
    }
    if (wire == 0) {
        return kRead;
    }
    stats.arrived(client.index, client.body - before, wire, now);
    return client.connection.takeCompleted() > 0 ? onAnswer(client, now, stats) : kRead;
}

unsigned HlsDrain::request(Client& client, Waiting what, const std::string& path, int64_t nowNs,
                           DrainStats& stats) {
    client.waiting = what;
    client.body = 0;
    client.playlist.clear();
    if (what == Waiting::kPlaylist) {
        client.pollSentNs = nowNs;
    }
    const std::string text =
        "GET " + path + " HTTP/1.1\r\nHost: " + m_host + "\r\nUser-Agent: bench-sink\r\n\r\n";
    if (!client.connection.send(text)) {
        ++stats.errors;
        return end(client, stats);
    }
    return kRead;
}

unsigned HlsDrain::onAnswer(Client& client, int64_t nowNs, DrainStats& stats) {
    const bool found = client.connection.status() == 200;
    if (client.waiting == Waiting::kPlaylist) {
        client.playlistBytes += client.body;
        if (!client.answered) {
            // Spread the clients over the poll interval, as independent players are.
            client.answered = true;
            client.pollSentNs += m_pollNs * static_cast<int64_t>(client.index + 1) /
                                     static_cast<int64_t>(m_clients.size()) -
                                 m_pollNs;
        }
        if (found) {
            readPlaylist(client);
        }
    } else if (client.waiting == Waiting::kSegment) {
        const uint64_t sequence = client.queue.front().first;
        client.queue.pop_front();
        if (found) {
            ++client.segments;
            client.segmentBytes += client.body;
            if (m_fetchedNs.size() <= sequence) {
                m_fetchedNs.resize(sequence + 1, 0);
            }
            if (m_fetchedNs[sequence] == 0) {
                m_fetchedNs[sequence] = nowNs;
            }
        } else {
            ++client.missed;  // gone from the server between the playlist and the request
        }
    }
    return next(client, nowNs, stats);
}

void HlsDrain::readPlaylist(Client& client) {
    uint64_t sequence = 0;
    uint64_t durationMs = 0;
    size_t at = 0;
    const std::string& text = client.playlist;
    while (at < text.size()) {
        size_t stop = text.find('\n', at);
        stop = stop == std::string::npos ? text.size() : stop;
        std::string line = text.substr(at, stop - at);
        at = stop + 1;
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        std::string rest;
        if (startsWith(line, "#EXT-X-TARGETDURATION:", rest)) {
            m_pollNs =
                std::max<int64_t>(kShortestPollNs, std::atoll(rest.c_str()) * 1000000000 / 2);
        } else if (startsWith(line, "#EXT-X-MEDIA-SEQUENCE:", rest)) {
            sequence = std::strtoull(rest.c_str(), nullptr, 10);
        } else if (startsWith(line, "#EXTINF:", rest)) {
            durationMs = static_cast<uint64_t>(std::atof(rest.c_str()) * 1000 + 0.5);
        } else if (!line.empty() && line[0] != '#') {
            if (m_durationMs.size() <= sequence) {
                m_durationMs.resize(sequence + 1, 0);
            }
            m_durationMs[sequence] = durationMs;
            const int64_t number = static_cast<int64_t>(sequence);
            if (number > client.lastQueued) {
                if (client.lastQueued >= 0 && number > client.lastQueued + 1) {
                    client.missed += static_cast<uint64_t>(number - client.lastQueued - 1);
                }
                std::string path = line;
                const size_t scheme = path.find("://");
                if (scheme != std::string::npos) {
                    path = path.substr(path.find('/', scheme + 3));
                } else if (path[0] != '/') {
                    path = m_directory + path;
                }
                client.queue.emplace_back(sequence, path);
                client.lastQueued = number;
                client.firstSequence = std::min(client.firstSequence, sequence);
            }
            m_firstSequence = std::min(m_firstSequence, sequence);
            m_lastSequence = std::max(m_lastSequence, number);
            ++sequence;
        }
    }
}

unsigned HlsDrain::next(Client& client, int64_t nowNs, DrainStats& stats) {
    if (!client.queue.empty()) {
        return request(client, Waiting::kSegment, client.queue.front().second, nowNs, stats);
    }
    client.waiting = Waiting::kNothing;
    client.settledPollNs = client.pollSentNs;
    client.nextPollNs = client.pollSentNs + m_pollNs;
    return kRead;
}

void HlsDrain::tick(int64_t nowNs, DrainStats& stats) {
    for (auto& client : m_clients) {
        if (!client->ended && client->connection.connected() &&
            client->waiting == Waiting::kNothing && nowNs >= client->nextPollNs) {
            request(*client, Waiting::kPlaylist, m_playlistPath, nowNs, stats);
        }
    }
}

unsigned HlsDrain::end(Client& client, DrainStats& stats) {
    if (!client.ended) {
        client.ended = true;
        ++stats.closed;
    }
    return 0;
}

bool HlsDrain::ready() const {
    for (const auto& client : m_clients) {
        if (!client->answered && !client->ended) {
            return false;
        }
    }
    return true;
}

bool HlsDrain::settled(int64_t sinceNs) const {
    for (const auto& client : m_clients) {
        if (!client->ended &&
            (client->waiting != Waiting::kNothing || client->settledPollNs < sinceNs)) {
            return false;
        }
    }
    return true;
}

void HlsDrain::finish(DrainStats& stats) const {
    std::vector<uint64_t> missed;
    std::vector<uint64_t> playlistBytes;
    std::vector<uint64_t> segmentBytes;
    std::vector<uint64_t> complete;
    stats.packets.clear();
    const uint64_t produced =
        m_lastSequence < 0 ? 0 : static_cast<uint64_t>(m_lastSequence) + 1 - m_firstSequence;
    for (const auto& client : m_clients) {
        // Segments before the first one this client saw listed are missed too.
        const uint64_t late = client->firstSequence == UINT64_MAX || produced == 0
                                  ? produced
                                  : client->firstSequence - m_firstSequence;
        stats.packets.push_back(client->segments);
        missed.push_back(client->missed + late);
        playlistBytes.push_back(client->playlistBytes);
        segmentBytes.push_back(client->segmentBytes);
        complete.push_back(produced > 0 && client->segments == produced ? 1 : 0);
    }
    std::vector<uint64_t> fetched;
    std::vector<uint64_t> durations;
    for (uint64_t s = m_firstSequence; produced > 0 && s < m_durationMs.size(); ++s) {
        fetched.push_back(s < m_fetchedNs.size() ? static_cast<uint64_t>(m_fetchedNs[s]) : 0);
        durations.push_back(m_durationMs[s]);
    }
    stats.extra =
        ",\"first_sequence\":" + std::to_string(produced == 0 ? 0 : m_firstSequence) +
        ",\"produced\":" + std::to_string(produced) + ",\"missed\":" + jsonList(missed) +
        ",\"complete\":" + jsonList(complete) + ",\"playlist_bytes\":" + jsonList(playlistBytes) +
        ",\"segment_bytes\":" + jsonList(segmentBytes) + ",\"segment_ms\":" + jsonList(durations) +
        ",\"segment_fetched_ns\":" + jsonList(fetched);
}
