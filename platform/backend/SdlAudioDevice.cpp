#include "platform/backend/SdlAudioDevice.h"

#include <SDL.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/backend/PlayClock.h"

namespace backend {

namespace {

constexpr int kAudioFrames = 512;  // about 11.6 ms per buffer keeps the latency near 20 ms
constexpr int kFrameBytes = 4;     // stereo, 16 bits

class SdlAudioDevice : public AudioDevice {
 public:
  SdlAudioDevice(int rate, AudioRenderFn render) : rate_(rate), render_(std::move(render)) {}
  ~SdlAudioDevice() override {
    if (id_ != 0) SDL_CloseAudioDevice(id_);
  }
  bool Open(int& period) {
    SDL_AudioSpec want{}, have{};
    want.freq = rate_;
    want.format = AUDIO_S16SYS;
    want.channels = 2;
    want.samples = kAudioFrames;
    want.callback = &SdlAudioDevice::Callback;
    want.userdata = this;
    // SDL converts rate and format to whatever the hardware wants, but the block size is the
    // driver's own: SDL then keeps no buffer of its own between us and the driver, and what it
    // obtained tells what the driver holds.
    id_ = SDL_OpenAudioDevice(nullptr, 0, &want, &have, SDL_AUDIO_ALLOW_SAMPLES_CHANGE);
    if (id_ == 0) return false;
    period = have.size >= kFrameBytes ? static_cast<int>(have.size / kFrameBytes) : have.samples;
    if (period <= 0) period = kAudioFrames;
    // The device stays paused, and calls nothing back, until the clock is there.
    clock_ = std::make_unique<PlayClock>(rate_, HeldFrames(period));
    SDL_PauseAudioDevice(id_, 0);
    return true;
  }
  int Rate() const override { return rate_; }
  void Lock() override { SDL_LockAudioDevice(id_); }
  void Unlock() override { SDL_UnlockAudioDevice(id_); }
  // Not under the device's lock: its thread holds that while it waits for the mixer, and the
  // mixer's users ask for this with the mixer locked.
  std::uint64_t FramesPlayed() const override {
    return clock_ ? clock_->Played(std::chrono::steady_clock::now()) : 0;
  }

 private:
  static void Callback(void* self, Uint8* stream, int len) {
    auto* dev = static_cast<SdlAudioDevice*>(self);
    std::memset(stream, 0, static_cast<std::size_t>(len));
    const int frames = len / kFrameBytes;
    if (dev->render_) dev->render_(reinterpret_cast<std::int16_t*>(stream), frames);
    // The block goes to the driver now, when it is ready: mixing may have waited for the
    // mixer's lock, and the driver's queue has run down meanwhile.
    dev->clock_->Handed(static_cast<std::uint64_t>(frames), std::chrono::steady_clock::now());
  }
  // Frames still to be played when a callback has just handed its block over. SDL tells neither
  // the driver's nor the server's latency; its drivers keep one period besides the block being
  // filled (ALSA's ring of two periods, a server's stream of one buffer and its sink's period).
  static std::uint64_t HeldFrames(int period) { return 2 * static_cast<std::uint64_t>(period); }

  const int rate_;
  AudioRenderFn render_;
  SDL_AudioDeviceID id_ = 0;
  std::unique_ptr<PlayClock> clock_;
};

class NullAudioDevice : public AudioDevice {
 public:
  NullAudioDevice(int rate, AudioRenderFn render)
      : rate_(rate), render_(std::move(render)), clock_(rate, kAudioFrames) {
    thread_ = std::thread([this] { Run(); });
  }
  ~NullAudioDevice() override {
    {
      std::lock_guard<std::mutex> lock(stopMutex_);
      stop_ = true;
    }
    stopCv_.notify_all();
    thread_.join();
  }
  int Rate() const override { return rate_; }
  void Lock() override { mutex_.lock(); }
  void Unlock() override { mutex_.unlock(); }
  std::uint64_t FramesPlayed() const override {
    return clock_.Played(std::chrono::steady_clock::now());
  }

 private:
  void Run() {
    std::vector<std::int16_t> scratch(kAudioFrames * 2);
    auto next = std::chrono::steady_clock::now();
    const auto period = std::chrono::microseconds(1000000LL * kAudioFrames / rate_);
    std::unique_lock<std::mutex> stopLock(stopMutex_);
    while (!stop_) {
      stopLock.unlock();
      {
        std::lock_guard<std::recursive_mutex> lock(mutex_);
        std::fill(scratch.begin(), scratch.end(), 0);
        if (render_) render_(scratch.data(), kAudioFrames);
        // Taken when it was due: a late wake-up of this thread is no gap in the sound.
        clock_.Handed(kAudioFrames, next);
      }
      next += period;
      stopLock.lock();
      stopCv_.wait_until(stopLock, next, [this] { return stop_; });
    }
  }
  const int rate_;
  AudioRenderFn render_;
  mutable std::recursive_mutex mutex_;
  // A block is due when it is handed over and plays from then on: nothing is queued ahead.
  mutable PlayClock clock_;
  std::mutex stopMutex_;
  std::condition_variable stopCv_;
  bool stop_ = false;
  std::thread thread_;
};

// SDL's native PipeWire driver (SDL 2.26) hands the graph one SDL buffer per cycle whatever the
// quantum: at a quantum of 1024 frames or more most of every cycle is silence and the music runs
// at half speed or less, and the quantum is the desktop's to change at any time. Where SDL would
// pick it, the next driver that opens plays instead (on such a desktop ALSA's default device
// goes to PipeWire through its own plugin, which follows the quantum).
bool Refused(const char* driver) { return driver && std::strcmp(driver, "pipewire") == 0; }

bool InitDriver(const char* driver) {
  if (driver) SDL_SetHintWithPriority(SDL_HINT_AUDIODRIVER, driver, SDL_HINT_OVERRIDE);
  const bool ok = SDL_InitSubSystem(SDL_INIT_AUDIO) == 0;
  if (driver) SDL_ResetHint(SDL_HINT_AUDIODRIVER);
  return ok;
}

}  // namespace

std::shared_ptr<AudioDevice> OpenSdlAudio(int rate, AudioRenderFn render, std::string& why) {
  std::vector<std::string> failed;
  bool passedOver = false;
  auto attempt = [&](const char* driver) -> std::shared_ptr<AudioDevice> {
    if (!InitDriver(driver)) {
      failed.push_back(std::string(driver ? driver : "default") + ": " + SDL_GetError());
      return nullptr;
    }
    const char* current = SDL_GetCurrentAudioDriver();
    const std::string name = current ? current : "?";
    if (Refused(current)) {
      passedOver = true;
      SDL_QuitSubSystem(SDL_INIT_AUDIO);
      return nullptr;
    }
    auto dev = std::make_shared<SdlAudioDevice>(rate, render);
    int period = 0;
    if (dev->Open(period)) {
      why = "SDL (" + name + ", " + std::to_string(period) + " frames a block" +
            (passedOver ? "; its pipewire driver passed over, it cuts the sound at quanta of 1024 "
                          "and more"
                        : "") +
            ")";
      return dev;
    }
    failed.push_back(name + ": " + SDL_GetError());
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
    return nullptr;
  };
  if (auto dev = attempt(nullptr)) return dev;
  if (passedOver) {
    for (int i = 0; i < SDL_GetNumAudioDrivers(); ++i) {
      const char* driver = SDL_GetAudioDriver(i);
      if (!driver || Refused(driver) || std::strcmp(driver, "disk") == 0 ||
          std::strcmp(driver, "dummy") == 0)
        continue;
      if (auto dev = attempt(driver)) return dev;
    }
  }
  why = "no SDL audio driver opened";
  if (passedOver) why += " (its pipewire driver passed over)";
  for (std::size_t i = 0; i < failed.size(); ++i) why += (i ? "; " : ": ") + failed[i];
  return nullptr;
}

std::shared_ptr<AudioDevice> OpenNullAudio(int rate, AudioRenderFn render) {
  return std::make_shared<NullAudioDevice>(rate, std::move(render));
}

}  // namespace backend
