// SDL's audio device with a mixer that now and then waits long before it fills a block, as it
// does when the game holds the mixer's lock. The block reaches the driver only when it is filled,
// so the position may count on from then, not from when the device asked for it.
#include <SDL.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <limits>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "platform/backend/Backend.h"
#include "platform/backend/SdlAudioDevice.h"

namespace {

using Clock = std::chrono::steady_clock;

// Sets an environment variable for a test and puts back what was there.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    setenv(name, value, 1);
  }
  ~ScopedEnv() {
    if (old_)
      setenv(name_, old_->c_str(), 1);
    else
      unsetenv(name_);
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

// The last block whose mixing has finished: the frames handed over before it, and when its
// mixing returned. The block is handed over after that instant, never before.
struct Mixed {
  std::uint64_t before = 0;
  Clock::time_point returned{};
  bool any = false;
};

TEST(SdlAudioDevice, PositionIsNotAheadOfABlockThatWaitedForTheMixer) {
  ScopedEnv driver("SDL_AUDIODRIVER", "dummy");  // as in ctest, when started by hand too
  // SDL's dummy driver opens one device at a time, and a backend left by another test may hold
  // it for the game's mixer: that backend, and SDL with it, goes first.
  backend::Backend::Install(nullptr);
  constexpr int kRate = 44100;
  // Longer than the two blocks the device is taken to hold: a clock that counted from before
  // the wait would show the whole block played the moment it is handed over.
  constexpr auto kMixerWait = std::chrono::milliseconds(30);
  constexpr int kSlowBlocks = 8;

  std::mutex mutex;
  Mixed last;
  std::uint64_t handed = 0;  // the device's thread only
  int blocks = 0;
  std::atomic<int> slowDone{0};
  std::string why;
  auto dev = backend::OpenSdlAudio(
      kRate,
      [&](std::int16_t*, int frames) {
        const bool slow = blocks++ % 3 == 2;
        if (slow) std::this_thread::sleep_for(kMixerWait);
        const auto returned = Clock::now();
        {
          std::lock_guard<std::mutex> lock(mutex);
          last = {handed, returned, true};
        }
        handed += static_cast<std::uint64_t>(frames);
        if (slow) ++slowDone;
      },
      why);
  ASSERT_NE(dev, nullptr) << why;
  EXPECT_NE(why.find("dummy"), std::string::npos) << why;

  // Whatever the device holds, it cannot have played more than it had been handed before a
  // block, plus the time since that block was handed over at its rate (and a device plays at
  // most a tenth of a percent fast). Lateness of this thread or of the device's only lowers the
  // position against that, so the check is one-sided and holds however the machine schedules.
  double worstLeadMs = -std::numeric_limits<double>::infinity();
  const auto deadline = Clock::now() + std::chrono::seconds(20);
  while (slowDone < kSlowBlocks && Clock::now() < deadline) {
    Mixed m;
    {
      std::lock_guard<std::mutex> lock(mutex);
      m = last;
    }
    if (m.any) {
      const std::uint64_t played = dev->FramesPlayed();
      const double since = std::chrono::duration<double>(Clock::now() - m.returned).count();
      const double most = static_cast<double>(m.before) + 1.001 * kRate * std::max(0.0, since);
      worstLeadMs = std::max(worstLeadMs, (static_cast<double>(played) - most) * 1000.0 / kRate);
    }
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  dev.reset();
  SDL_QuitSubSystem(SDL_INIT_AUDIO);
  ASSERT_GE(slowDone, kSlowBlocks) << "the device stopped calling back";
  // Counted from before the wait, the position runs a whole block (11.6 ms) ahead right after
  // a slow one; the margin covers only rounding.
  EXPECT_LT(worstLeadMs, 2.0) << "the position ran " << worstLeadMs
                              << " ms ahead of what the device can have played";
}

}  // namespace
