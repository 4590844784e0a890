#pragma once

#include <memory>
#include <string>

#include "MediaCasterConfig.h"
#include "Mutex.h"
#include "TsMediaCaster.h"
#include "sluice.h"

namespace av {

/// The process-wide application object behind the exported functions: library start-up and
/// shut-down and the table of open casters with its 64 handles.
///
/// The table's recursive mutex is held only to register, look up, remove and clear slots,
/// never while a caster runs: callers use a caster through a shared reference taken under
/// the mutex, so a caster closed on one thread is destroyed only when a concurrent write
/// on another thread has let go of it.
class TsApplication {
public:
    static constexpr int kMaxCasters = 64;
    static constexpr const char* kLogConfigFile = "SluiceLog.ini";

    /// The one instance (created on first use, destroyed at process exit).
    static TsApplication& instance();

    /// Logging from "SluiceLog.ini" (a silent sink when the file is missing), SIGPIPE
    /// handling, FFmpeg (network layer, warning level, log forwarding) and the event
    /// library's thread support. Always 0.
    int init();
    /// Empties the table without closing the casters (each goes with its last reference)
    /// and undoes the SIGPIPE handling. Always 0.
    int quit();

    /// Creates, opens and registers a caster (see sluice_open). The handle is -1 when the
    /// table is full (the caster is then discarded and 0 returned).
    int open(int& handle, int protocol, int port, const MediaCasterConfig& config);
    /// Removes the handle's caster from the table and closes it. 0, or ENOENT when the handle
    /// names no caster.
    int close(int handle);

    /// -1 for an empty reference or a full table; else the handle of the new slot. The
    /// search for a free slot starts at the slot handed out last.
    int registerCaster(std::shared_ptr<TsMediaCaster> caster);
    /// The caster of a handle, or an empty reference.
    std::shared_ptr<TsMediaCaster> find(int handle);
    /// Takes the caster out of its slot; empty when the handle names none.
    std::shared_ptr<TsMediaCaster> remove(int handle);
    /// Releases every slot.
    void clear();
    int count();

    /// The caster for a protocol number: 1 UDP, 2 TCP, 3 RTP, 4 HTTP, 5 SRT, 6 RTSP, 7 RTMP,
    /// anything else UDP.
    static std::shared_ptr<TsMediaCaster> createCaster(int protocol);
    /// The configuration for an exported format; the configuration blocks are copied only
    /// when their pointer is set and their size is at least 1.
    static MediaCasterConfig makeConfig(const sluice_media_format& format);

protected:
    TsApplication() = default;
    ~TsApplication() = default;

private:
    struct Slot {
        std::shared_ptr<TsMediaCaster> caster;
        bool used = false;
    };

    Slot m_slots[kMaxCasters];
    int m_count = 0;
    int m_nextSlot = 0;
    comn::Mutex m_mutex;
};

}  // namespace av
