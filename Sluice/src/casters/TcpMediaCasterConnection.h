#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>

#include "DestinationStats.h"
#include "LogEpisode.h"
#include "MediaCasterConfig.h"
#include "MediaPacketQueue.h"
#include "MediaSink.h"
#include "TcpConnection.h"

namespace av {

/// A client of the TCP caster: every transport-stream block handed to onMediaPacket is
/// written to its bufferevent, with flow control. A client whose unsent backlog passes
/// 1,024,000 bytes is "jammed" and loses whole blocks until the backlog has fallen to
/// 256,000 bytes. Bytes the client sends are discarded unread.
///
/// Memory: the bufferevent holds at most kHandOver bytes of references to the shared blocks;
/// the rest of the backlog waits as a queue of pointers to them and is handed over as the
/// socket drains. Each libevent reference costs a chain of about 1 KiB of its own, so a
/// stalled client that referenced its whole backlog there would hold nearly a copy of it.
///
/// Threads: onOpen, onRead, onWrite and onEvent run on the server's loop; onMediaPacket runs
/// on the thread that feeds the caster, with the server's table lock held (which keeps the
/// bufferevent from being freed meanwhile).
class TcpMediaCasterConnection : public TcpConnection,
                                 public MediaSink,
                                 public std::enable_shared_from_this<TcpMediaCasterConnection> {
public:
    /// Unsent bytes above which the client counts as jammed. About 2.7 s of a 3 Mbit/s
    /// stream: a client that falls that far behind has stalled rather than slowed.
    static constexpr uint32_t kMaxBuffered = 1024000;
    /// A jammed client resumes once it has drained to a quarter of the limit.
    static constexpr uint32_t kResumeBuffered = kMaxBuffered / 4;
    /// Write low watermark: the write callback fires once the backlog falls below 16 KiB.
    static constexpr size_t kLowWatermark = 16384;
    /// Bytes of blocks referenced from the bufferevent at most; the rest of the backlog waits
    /// in the queue.
    static constexpr size_t kHandOver = 65536;
    /// A block that takes longer than this to hand over (about half a frame interval at
    /// 25 fps) is worth a warning.
    static constexpr int64_t kSlowSendMs = 21;

    TcpMediaCasterConnection() = default;
    ~TcpMediaCasterConnection() override;

    /// Write watermarks, non-blocking socket, the library-wide send buffer size (when
    /// above 0) and the peer name ("address:port"). Always 0.
    int onOpen(int fd) override;
    /// Logs "<class>(<peer>) onClose stream<stream name>" at debug level, and the blocks lost
    /// when the client leaves jammed.
    void onClose() override;
    /// Hands waiting blocks to the bufferevent as it drains.
    void onWrite(bufferevent* bev) override;
    /// Discards whatever the client sent, unread, so that it cannot fill the memory.
    void onRead(bufferevent* bev) override;
    /// Counts a connection error (with its errno), then as TcpConnection.
    void onEvent(bufferevent* bev, short events) override;

    /// Keeps a copy of the caster's configuration.
    void onMediaFormat(const MediaCasterConfig& config) override;
    /// Sends the packet's bytes subject to flow control; warns when that took 21 ms or more.
    /// A jam is logged when it starts ("is jamming", then "evbuffer cache is too much" once)
    /// and when it ends, with the number of blocks it cost; never once per block.
    void onMediaPacket(std::shared_ptr<MediaPacket> packet) override;
    /// As onMediaPacket, but a block the flow control accepts only joins the queue: the
    /// caster hands a whole frame's blocks over at once (handOverWaiting), so the loop is
    /// woken and the socket's write event armed once per frame instead of once per block.
    void queueMediaPacket(const std::shared_ptr<MediaPacket>& packet);
    /// Hands queued blocks to the bufferevent (up to kHandOver bytes); table lock held.
    void handOverWaiting();
    void onMediaEvent(int event) override;

    const std::string& peerName() const { return m_peerName; }
    /// This client's counters (protocol left 0 for the caster to fill); table lock held.
    DestinationStats destinationStats();
    bool isJammed() const { return m_jammed.load(); }

protected:
    /// The class name the log messages start with.
    virtual const char* className() const { return "TcpMediaCasterConnection"; }
    /// Whether blocks may be sent yet (the HTTP connection waits for the request).
    virtual bool readyToSend() const { return true; }
    /// The flow-controlled write of one packet, by reference to the shared block; table
    /// lock held. handOverNow false: the block waits for handOverWaiting.
    void send(const std::shared_ptr<MediaPacket>& packet, bool handOverNow = true);

    /// 0 until the HTTP connection has written its response header (then 2). Written by the
    /// loop thread, read by the feeding thread.
    std::atomic<int> m_state{0};

private:
    std::string m_peerName;
    std::string m_peerAddress;
    uint16_t m_peerPort = 0;
    int64_t m_connectedSinceUs = 0;  // set before the connection enters the table
    // Written by the feeding thread (blocks) and the loop (errors); read by any.
    std::atomic<uint64_t> m_blocks{0};
    std::atomic<uint64_t> m_bytes{0};
    std::atomic<uint64_t> m_dropped{0};
    std::atomic<uint64_t> m_jams{0};
    std::atomic<uint64_t> m_errors{0};
    std::atomic<int> m_lastErrno{0};
    std::string m_streamName;
    MediaCasterConfig m_config;
    std::atomic<bool> m_jammed{false};
    uint32_t m_maxBuffered = kMaxBuffered;
    // Never filled on this path; a jammed client's drop count comes from it (always 0).
    MediaPacketQueue m_queue;
    // Blocks accepted but not yet referenced from the bufferevent; guarded by the
    // bufferevent's lock (held by libevent around onWrite, taken by send and onClose).
    std::deque<std::shared_ptr<const MediaPacket>> m_waiting;
    size_t m_waitingBytes = 0;
    // The current jam's dropped blocks, and those dropped above the limit; bufferevent lock.
    LogEpisode m_jamDrops;
    LogEpisode m_overLimit;

    /// Unsent bytes: the bufferevent's and the queue's; bufferevent lock held.
    size_t backlog(bufferevent* bev) const;
    /// Moves waiting blocks into the bufferevent up to kHandOver; bufferevent lock held.
    void handOver(bufferevent* bev);
    /// Adds a reference to the shared block to the bufferevent; false when libevent failed.
    static bool reference(bufferevent* bev, const std::shared_ptr<const MediaPacket>& packet);
    /// Ends the jam episode: logs how many blocks it cost; bufferevent lock held.
    void endJamEpisode();
    /// send's flow control and hand-over; bufferevent lock held.
    void sendLocked(bufferevent* bev, const std::shared_ptr<MediaPacket>& packet, bool handOverNow);
    /// onMediaPacket and queueMediaPacket: readiness, send and the 21 ms report.
    void deliver(const std::shared_ptr<MediaPacket>& packet, bool handOverNow);
};

}  // namespace av
