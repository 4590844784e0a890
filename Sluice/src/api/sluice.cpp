// The exported C interface: each function checks its arguments and calls the application.
#include "sluice.h"

#include <cerrno>
#include <new>

#include "CLog.h"
#include "LibrarySettings.h"
#include "TsApplication.h"

using av::TsApplication;

namespace {

// No C++ exception may cross into the caller's C code.
template <class F>
int guarded(F body) {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return ENOMEM;
    } catch (...) {
        return EINVAL;
    }
}

}  // namespace

extern "C" {

int sluice_init(void) {
    return guarded([] { return TsApplication::instance().init(); });
}

int sluice_quit(void) {
    return guarded([] { return TsApplication::instance().quit(); });
}

int sluice_open(int* handle, int protocol, int port, const sluice_media_format* format) {
    CLog::debug("sluice_open protocol:%d, port:%d\n", protocol, port);
    if (handle == nullptr || format == nullptr) {
        return EINVAL;
    }
    return guarded([&] {
        return TsApplication::instance().open(*handle, protocol, port,
                                              TsApplication::makeConfig(*format));
    });
}

int sluice_close(int handle) {
    return guarded([&] { return TsApplication::instance().close(handle); });
}

int sluice_add_target(int handle, const char* ip, int port) {
    if (ip == nullptr || ip[0] == '\0') {
        return EINVAL;
    }
    return guarded([&] {
        auto caster = TsApplication::instance().find(handle);
        if (caster == nullptr) {
            return ENOENT;
        }
        return caster->addTarget(ip, static_cast<uint16_t>(port)) ? 0 : EACCES;
    });
}

int sluice_remove_target(int handle, const char* ip, int port) {
    if (ip == nullptr || ip[0] == '\0') {
        return EINVAL;
    }
    return guarded([&] {
        auto caster = TsApplication::instance().find(handle);
        if (caster == nullptr) {
            return ENOENT;
        }
        caster->removeTarget(ip, static_cast<uint16_t>(port));
        return 0;
    });
}

int sluice_remove_all_target(int handle) {
    return guarded([&] {
        auto caster = TsApplication::instance().find(handle);
        if (caster == nullptr) {
            return ENOENT;
        }
        caster->removeAllTarget();
        return 0;
    });
}

int sluice_write(int handle, const sluice_media_packet* packet) {
    if (packet == nullptr || packet->data == nullptr) {
        return EINVAL;
    }
    return guarded([&] {
        auto caster = TsApplication::instance().find(handle);
        if (caster == nullptr) {
            return ENOENT;
        }
        caster->write(packet->type, packet->data, packet->size, packet->pts, packet->duration,
                      packet->flags);
        return 0;
    });
}

void sluice_setQueueDuration(int value) {
    av::LibrarySettings::setQueueDuration(value);
}

void sluice_setSendBufSize(int bytes) {
    av::LibrarySettings::setSendBufferSize(bytes);
}

void sluice_set_stack_size(int bytes) {
    av::LibrarySettings::setStackSize(bytes);
}

}  // extern "C"
