#pragma once
// Feeds a caster with a clip's frames at their own pace, for the tests of serving casters.

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "MediaClip.h"
#include "TsMediaCaster.h"

namespace sluicetest {

/// Writes a clip's frames to a caster at their own pace, over and over, on its own thread.
class Feeder {
public:
    Feeder(av::TsMediaCaster& caster, const std::vector<TestFrame>& frames)
        : m_thread([this, &caster, &frames] {
              const int64_t length = frames.back().ptsUs + 40000;
              const auto start = std::chrono::steady_clock::now();
              for (int64_t offset = 0; !m_stop; offset += length) {
                  for (const auto& f : frames) {
                      const auto due = start + std::chrono::microseconds(offset + f.ptsUs);
                      while (!m_stop && std::chrono::steady_clock::now() < due) {
                          std::this_thread::sleep_for(std::chrono::milliseconds(2));
                      }
                      if (m_stop) {
                          return;
                      }
                      caster.write(f.type, reinterpret_cast<const uint8_t*>(f.bytes.data()),
                                   static_cast<int>(f.bytes.size()), f.ptsUs + offset, 0, 0);
                  }
              }
          }) {}
    ~Feeder() {
        m_stop = true;
        m_thread.join();
    }

private:
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

}  // namespace sluicetest
