#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "DrainStats.h"
#include "HttpConnection.h"

/// HLS players on 127.0.0.1 for one epoll loop: each client keeps one connection alive,
/// fetches the playlist every half target duration (the clients spread over that interval)
/// and every segment it lists once, in order, one request at a time. Payload (DrainStats::
/// bytes) is every body byte, playlists and segments; packets are the segments fetched.
/// A segment that left the window before a client fetched it (a gap in the media sequence
/// numbers it saw, or a 404) is missed. Per media sequence number it also keeps its duration
/// and when a client first had the whole segment, for the latency from the writer to the
/// players.
class HlsDrain {
public:
    HlsDrain() = default;
    HlsDrain(const HlsDrain&) = delete;
    HlsDrain& operator=(const HlsDrain&) = delete;

    /// Starts connecting count clients to host:port; playlist is the path of the playlist.
    bool open(const std::string& host, int port, const std::string& playlist, int count,
              DrainStats& stats, std::string& error);
    size_t size() const { return m_clients.size(); }
    int descriptor(size_t index) const { return m_clients[index]->connection.fd(); }

    /// Handles epoll events of client index; returns the events it wants next (0: ended).
    unsigned onEvent(size_t index, unsigned events, DrainStats& stats);
    /// Sends the playlist requests that are due.
    void tick(int64_t nowNs, DrainStats& stats);

    /// Every client is connected and has had its first answer.
    bool ready() const;
    /// Every client still connected has, after sinceNs, fetched the playlist and every
    /// segment it listed.
    bool settled(int64_t sinceNs) const;
    /// The per-client counts into stats (packets, extra fields).
    void finish(DrainStats& stats) const;

private:
    enum class Waiting { kNothing, kPlaylist, kSegment };
    struct Client {
        explicit Client(size_t index)
            : index(index), connection(true, [this](const char* data, size_t n) {
                  body += n;
                  if (waiting == Waiting::kPlaylist) {
                      playlist.append(data, n);
                  }
              }) {}
        size_t index;
        bool ended = false;
        bool answered = false;
        Waiting waiting = Waiting::kNothing;
        int64_t pollSentNs = 0;
        int64_t nextPollNs = 0;
        int64_t settledPollNs = 0;  // sent time of the last poll whose segments all came
        uint64_t body = 0;          // body bytes of the current response
        std::string playlist;
        std::deque<std::pair<uint64_t, std::string>> queue;  // sequence, path
        int64_t lastQueued = -1;
        uint64_t firstSequence = UINT64_MAX;
        uint64_t segments = 0;
        uint64_t missed = 0;
        uint64_t playlistBytes = 0;
        uint64_t segmentBytes = 0;
        HttpConnection connection;
    };

    unsigned request(Client& client, Waiting what, const std::string& path, int64_t nowNs,
                     DrainStats& stats);
    unsigned onAnswer(Client& client, int64_t nowNs, DrainStats& stats);
    /// Queues the segments of the playlist the client has not queued before.
    void readPlaylist(Client& client);
    unsigned next(Client& client, int64_t nowNs, DrainStats& stats);
    unsigned end(Client& client, DrainStats& stats);

    std::vector<std::unique_ptr<Client>> m_clients;
    std::string m_host;
    std::string m_playlistPath;
    std::string m_directory;  // of the playlist, with its trailing "/"
    int64_t m_pollNs = 500000000;
    uint64_t m_firstSequence = UINT64_MAX;  // the lowest and highest any playlist listed
    int64_t m_lastSequence = -1;
    std::vector<int64_t> m_fetchedNs;    // per media sequence number: first whole fetch, or 0
    std::vector<uint64_t> m_durationMs;  // per media sequence number: its #EXTINF
};
