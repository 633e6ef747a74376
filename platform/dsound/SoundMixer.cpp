#include "platform/dsound/SoundMixer.h"

#include <algorithm>
#include <cstring>

namespace dsound {

namespace {

constexpr int kBlock = 512;  // frames mixed at a time
constexpr std::uint64_t kOne = std::uint64_t{1} << 32;

inline float Fetch(const SampleStore& s, std::uint32_t frame, int channel) {
  const std::uint8_t* p = s.bytes.data() + std::size_t(frame) * s.blockAlign;
  if (s.bits == 16) {
    std::int16_t v;
    std::memcpy(&v, p + 2 * channel, 2);
    return float(v);
  }
  return float((int(p[channel]) - 128) * 256);
}

}  // namespace

SoundMixer& SoundMixer::Instance() {
  // Never destroyed: the device thread may ask for audio during static destruction.
  static SoundMixer* mixer = new SoundMixer();
  return *mixer;
}

void SoundMixer::Lock() { mutex_.lock(); }
void SoundMixer::Unlock() { mutex_.unlock(); }

void SoundMixer::EnsureDevice() {
  backend::Backend& b = backend::Backend::Current();
  {
    std::lock_guard<std::recursive_mutex> g(mutex_);
    if (backend_ == &b && backendSerial_ == b.Serial) return;
  }
  OpenOn(b);
}

void SoundMixer::OpenOn(backend::Backend& b) {
  std::shared_ptr<backend::AudioDevice> old;
  std::uint64_t generation;
  {
    std::lock_guard<std::recursive_mutex> g(mutex_);
    old = std::move(device_);
    device_.reset();
    // From here on the old device's callbacks render silence: a block it still asks for while
    // it closes must not move the voices or count as a frame of the new device.
    generation = ++generation_;
    backend_ = &b;
    backendSerial_ = b.Serial;
    headless_ = b.IsHeadless();
    framesMixed_ = 0;
    nullDevice_ = false;
  }
  // The old device may wait for its thread, which may be waiting for our lock: drop it unlocked.
  old.reset();

  std::shared_ptr<backend::AudioDevice> dev;
  try {
    dev = b.OpenAudio(
        [this, generation](std::int16_t* out, int frames) { RenderFor(generation, out, frames); });
  } catch (...) {
    dev.reset();
  }
  std::lock_guard<std::recursive_mutex> g(mutex_);
  device_ = std::move(dev);
  if (!device_) {
    nullDevice_ = true;
    nullStartMs_ = b.Milliseconds();
    nullRendered_ = 0;
  }
}

void SoundMixer::RenderFor(std::uint64_t generation, std::int16_t* out, int frames) {
  if (generation_.load() == generation) {
    std::lock_guard<std::recursive_mutex> g(mutex_);
    if (generation_.load() == generation) {
      Render(out, frames);
      return;
    }
  }
  std::fill(out, out + std::size_t(frames) * kMixChannels, std::int16_t{0});
}

void SoundMixer::Pump() {
  // The backend we opened on may have been replaced, and freed, since.
  EnsureDevice();
  std::lock_guard<std::recursive_mutex> g(mutex_);
  if (!nullDevice_ || backend_ == nullptr) return;
  const std::uint32_t elapsed = backend_->Milliseconds() - nullStartMs_;
  const std::uint64_t due = std::uint64_t(elapsed) * kMixRate / 1000;
  if (due <= nullRendered_) return;
  std::uint64_t todo = due - nullRendered_;
  std::int16_t scratch[kBlock * kMixChannels];
  while (todo > 0) {
    const int n = int(std::min<std::uint64_t>(todo, kBlock));
    Render(scratch, n);
    todo -= n;
  }
  nullRendered_ = due;
}

void SoundMixer::AddSource(StreamSource* source) {
  EnsureDevice();
  std::lock_guard<std::recursive_mutex> g(mutex_);
  if (std::find(sources_.begin(), sources_.end(), source) == sources_.end())
    sources_.push_back(source);
}

void SoundMixer::RemoveSource(StreamSource* source) {
  std::lock_guard<std::recursive_mutex> g(mutex_);
  sources_.erase(std::remove(sources_.begin(), sources_.end(), source), sources_.end());
}

void SoundMixer::AddVoice(MixerVoice* voice) {
  std::lock_guard<std::recursive_mutex> g(mutex_);
  voices_.push_back(voice);
}

void SoundMixer::RemoveVoice(MixerVoice* voice) {
  std::lock_guard<std::recursive_mutex> g(mutex_);
  voices_.erase(std::remove(voices_.begin(), voices_.end(), voice), voices_.end());
}

void SoundMixer::AddFocus(const std::shared_ptr<FocusState>& focus) {
  std::lock_guard<std::recursive_mutex> g(mutex_);
  focuses_.erase(std::remove_if(focuses_.begin(), focuses_.end(),
                                [](const std::weak_ptr<FocusState>& w) { return w.expired(); }),
                 focuses_.end());
  focuses_.push_back(focus);
}

std::uint64_t SoundMixer::FramesPlayed() {
  EnsureDevice();
  std::shared_ptr<backend::AudioDevice> dev;
  {
    std::lock_guard<std::recursive_mutex> g(mutex_);
    if (nullDevice_ && backend_ != nullptr)
      return std::uint64_t(backend_->Milliseconds() - nullStartMs_) * kMixRate / 1000;
    if (!device_) return framesMixed_;
    dev = device_;
  }
  // The device takes its own lock, which its thread holds while it waits for ours.
  return dev->FramesPlayed();
}

std::uint64_t SoundMixer::FramesMixed() { return framesMixed_; }

void SoundMixer::RefreshFocus() {
  std::lock_guard<std::recursive_mutex> g(mutex_);
  UpdateFocus(false);
}

// Asking the backend is only safe on the window's thread; a headless device renders there.
void SoundMixer::UpdateFocus(bool fromRender) {
  if (backend_ == nullptr || (fromRender && !headless_)) return;
  if (backend_ != &backend::Backend::Current() || backendSerial_ != backend_->Serial) return;
  for (auto& w : focuses_) {
    if (auto f = w.lock()) {
      const std::uintptr_t win = f->window.load();
      f->focused = win == 0 || backend_->HasFocus(backend::WindowId(win));
    }
  }
}

void SoundMixer::MixVoice(MixerVoice& v, float* acc, int n, bool audible) {
  const SampleStore& s = *v.store;
  if (s.frames == 0 || s.lost) {
    v.playing = false;
    v.position = 0;
    return;
  }
  const std::uint64_t end = std::uint64_t(s.frames) << 32;
  const std::uint32_t freq = v.frequency ? v.frequency : std::uint32_t(s.rate);
  const std::uint64_t step = (std::uint64_t(freq) << 32) / kMixRate;
  std::uint64_t pos = v.position;
  if (pos >= end) pos = v.looping ? pos % end : end;

  if (!audible || (v.gainLeft == 0.0f && v.gainRight == 0.0f)) {
    // Muted, not stopped: time goes on.
    pos += step * std::uint64_t(n);
    if (pos >= end) {
      if (v.looping) {
        pos %= end;
      } else {
        v.playing = false;
        pos = 0;
      }
    }
    v.position = pos;
    return;
  }

  const float gl = v.gainLeft, gr = v.gainRight;
  int i = 0;
  if (step == kOne && s.bits == 16) {
    // Same rate as the output: whole frames, no interpolation.
    while (i < n) {
      if (pos >= end) {
        if (!v.looping) break;
        pos -= end;
      }
      const std::uint32_t idx = std::uint32_t(pos >> 32);
      const int run = int(std::min<std::uint64_t>(std::uint64_t(n - i), s.frames - idx));
      const std::int16_t* src =
          reinterpret_cast<const std::int16_t*>(s.bytes.data()) + std::size_t(idx) * s.channels;
      float* a = acc + 2 * i;
      if (s.channels == 1) {
        for (int k = 0; k < run; ++k) {
          const float x = float(src[k]);
          a[2 * k] += x * gl;
          a[2 * k + 1] += x * gr;
        }
      } else {
        for (int k = 0; k < run; ++k) {
          a[2 * k] += float(src[2 * k]) * gl;
          a[2 * k + 1] += float(src[2 * k + 1]) * gr;
        }
      }
      i += run;
      pos += std::uint64_t(run) << 32;
    }
  } else {
    const bool stereo = s.channels == 2;
    constexpr float kFrac = 1.0f / 4294967296.0f;
    while (i < n) {
      if (pos >= end) {
        if (!v.looping) break;
        pos %= end;
      }
      const std::uint32_t idx = std::uint32_t(pos >> 32);
      const float frac = float(std::uint32_t(pos)) * kFrac;
      const float l0 = Fetch(s, idx, 0);
      const float r0 = stereo ? Fetch(s, idx, 1) : l0;
      float l1 = 0.0f, r1 = 0.0f;
      if (idx + 1 < s.frames || v.looping) {
        const std::uint32_t nx = idx + 1 < s.frames ? idx + 1 : 0;
        l1 = Fetch(s, nx, 0);
        r1 = stereo ? Fetch(s, nx, 1) : l1;
      }
      acc[2 * i] += (l0 + (l1 - l0) * frac) * gl;
      acc[2 * i + 1] += (r0 + (r1 - r0) * frac) * gr;
      ++i;
      pos += step;
    }
  }
  // A one-shot that has reached its end stops now, so its status turns at once.
  if (pos >= end) {
    if (v.looping) {
      pos %= end;
    } else {
      v.playing = false;
      pos = 0;
    }
  }
  v.position = pos;
}

void SoundMixer::Render(std::int16_t* out, int frames) {
  std::lock_guard<std::recursive_mutex> g(mutex_);
  UpdateFocus(true);
  acc_.resize(kBlock * kMixChannels);
  while (frames > 0) {
    const int n = std::min(frames, kBlock);
    float* acc = acc_.data();
    std::fill(acc, acc + n * kMixChannels, 0.0f);
    for (MixerVoice* v : voices_) {
      if (!v->playing) continue;
      const bool audible = !v->plainFocus || !v->focus || v->focus->focused;
      MixVoice(*v, acc, n, audible);
    }
    if (!sources_.empty()) {
      sourceBlock_.resize(kBlock * kMixChannels);
      // A source may remove itself while rendering: walk a copy.
      const std::vector<StreamSource*> sources = sources_;
      for (StreamSource* src : sources) {
        if (std::find(sources_.begin(), sources_.end(), src) == sources_.end()) continue;
        const int got = std::clamp(src->Render(sourceBlock_.data(), n, framesMixed_), 0, n);
        const std::int16_t* sb = sourceBlock_.data();
        for (int k = 0; k < got * kMixChannels; ++k) acc[k] += float(sb[k]);
      }
    }
    for (int k = 0; k < n * kMixChannels; ++k) {
      float x = std::clamp(acc[k], -32768.0f, 32767.0f);
      x += x < 0.0f ? -0.5f : 0.5f;
      out[k] = std::int16_t(int(x));
    }
    out += n * kMixChannels;
    frames -= n;
    framesMixed_ += std::uint64_t(n);
  }
}

}  // namespace dsound
