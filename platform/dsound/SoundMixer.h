// The one process-wide software mixer. It opens the backend's single audio device (44.1 kHz,
// interleaved stereo, signed 16 bits) and, every time the device asks for more, adds up every
// playing DirectSound buffer and every stream source (the media player's music) into it.
//
// Threads: the device calls Render from its own thread (SDL) or from the virtual clock
// (headless). Everything the window's thread changes that Render reads is changed under the
// mixer's lock, which Render holds for the whole block. The lock is recursive, so a stream
// source may hold it across a group of changes and still add or remove itself.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/backend/Backend.h"

namespace dsound {

constexpr int kMixRate = 44100;  // frames per second of everything mixed
constexpr int kMixChannels = 2;  // output frames are interleaved left, right

// Something that plays continuously through the mixer, such as music. Render is called with the
// mixer locked, on the device's thread.
class StreamSource {
 public:
  virtual ~StreamSource() = default;
  // Writes up to `frames` interleaved stereo frames at kMixRate into `out` and returns how many
  // it produced (0..frames); the rest of the block gets nothing from this source. `deviceFrame`
  // is the index, counted since the device was opened, of the first of these frames: a frame
  // has reached the speaker once SoundMixer::FramesPlayed() has passed its index.
  virtual int Render(std::int16_t* out, int frames, std::uint64_t deviceFrame) = 0;
};

// Samples of one DirectSound buffer, shared by the buffer and all its duplicates.
struct SampleStore {
  std::vector<std::uint8_t> bytes;
  int channels = 1;     // 1 or 2
  int bits = 16;        // 8 (unsigned) or 16 (signed)
  int rate = kMixRate;  // frames per second as stored
  int blockAlign = 2;   // bytes per frame
  std::uint32_t frames = 0;
  // Set when the buffer memory is "lost"; every buffer sharing it then answers the loss.
  std::atomic<bool> lost{false};
};

// Whether the window a DirectSound object is bound to has the focus; shared by its buffers.
struct FocusState {
  std::atomic<std::uintptr_t> window{0};  // 0: no window given, always audible
  std::atomic<bool> focused{true};        // last known state, refreshed from the window's thread
};

// The playing state of one secondary buffer as the mixer sees it. Owned by the buffer, linked
// into the mixer while the buffer exists; every field is read and written under the lock.
struct MixerVoice {
  std::shared_ptr<SampleStore> store;
  std::shared_ptr<FocusState> focus;
  bool playing = false;
  bool looping = false;
  bool plainFocus = true;       // muted while the window is inactive (no global/sticky focus)
  std::uint64_t position = 0;   // play position in frames, 32.32 fixed point
  std::uint32_t frequency = 0;  // Hz; the store's rate until set
  float gainLeft = 1.0f;
  float gainRight = 1.0f;
};

class SoundMixer {
 public:
  // The process-wide mixer; it lives until the process ends (the device thread may still ask
  // for audio while static objects are being destroyed).
  static SoundMixer& Instance();

  // Opens the audio device of the backend in use, or opens it again when a test has installed
  // another backend since. With no usable device, mixing advances on the backend's clock into
  // nothing, so sounds still end on time.
  void EnsureDevice();

  void Lock();
  void Unlock();

  // A source added here is rendered from the next block on; once RemoveSource has returned it is
  // never called again.
  void AddSource(StreamSource* source);
  void RemoveSource(StreamSource* source);

  // Frames that have left the speaker since the device was opened, and frames mixed so far
  // (handed to the device). Both restart at 0 when the device is opened again. Called on the
  // window's thread.
  std::uint64_t FramesPlayed();
  std::uint64_t FramesMixed();
  int Rate() const { return kMixRate; }

  // Mixes `frames` frames into `out`. Called by the device; tests and benchmarks may call it
  // directly.
  void Render(std::int16_t* out, int frames);

  // Reads the focus of every window that DirectSound objects are bound to. Called from the
  // window's thread on every DirectSound call and by the application loop on every change of
  // focus; a device rendering on its own thread never asks.
  void RefreshFocus();

  // Used by the DirectSound stand-in.
  void AddVoice(MixerVoice* voice);
  void RemoveVoice(MixerVoice* voice);
  void AddFocus(const std::shared_ptr<FocusState>& focus);
  // Catches up a device that has no thread of its own, first moving to the backend in use.
  // Called on the window's thread.
  void Pump();

 private:
  SoundMixer() = default;
  void MixVoice(MixerVoice& v, float* acc, int frames, bool audible);
  void OpenOn(backend::Backend& b);
  // The render callback of the device opened as `generation`.
  void RenderFor(std::uint64_t generation, std::int16_t* out, int frames);
  void UpdateFocus(bool fromRender);

  std::recursive_mutex mutex_;
  std::vector<MixerVoice*> voices_;
  std::vector<StreamSource*> sources_;
  std::vector<std::weak_ptr<FocusState>> focuses_;
  std::shared_ptr<backend::AudioDevice> device_;
  backend::Backend* backend_ = nullptr;
  std::uint64_t backendSerial_ = 0;
  std::atomic<std::uint64_t> generation_{0};  // bumped whenever the device is dropped
  bool headless_ = false;
  bool nullDevice_ = false;  // no device: Pump renders into nothing on the clock
  std::uint32_t nullStartMs_ = 0;
  std::uint64_t nullRendered_ = 0;
  std::atomic<std::uint64_t> framesMixed_{0};
  std::vector<float> acc_;
  std::vector<std::int16_t> sourceBlock_;
};

// Guard for SoundMixer::Lock/Unlock.
class MixerLock {
 public:
  MixerLock() : m_(SoundMixer::Instance()) { m_.Lock(); }
  ~MixerLock() { m_.Unlock(); }
  MixerLock(const MixerLock&) = delete;
  MixerLock& operator=(const MixerLock&) = delete;

 private:
  SoundMixer& m_;
};

}  // namespace dsound
