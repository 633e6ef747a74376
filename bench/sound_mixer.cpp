// The mixer against a plain reference loop over the same samples: 32 looping mono voices mixed
// into one second of 44.1 kHz stereo output. The rate counter "xRealTime" is how many seconds
// of output are mixed per second of work.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include "platform/backend/HeadlessBackend.h"
#include "platform/dsound/DSound.h"
#include "platform/dsound/SoundMixer.h"

namespace {

constexpr int kVoices = 32;
constexpr int kFrames = 44100;       // one second of output
constexpr int kSoundFrames = 22050;  // each sound half a second, looping

std::vector<std::vector<std::int16_t>> MakeSounds() {
  std::mt19937 rng(1234);
  std::uniform_int_distribution<int> d(-3000, 3000);
  std::vector<std::vector<std::int16_t>> sounds(kVoices);
  for (auto& s : sounds) {
    s.resize(kSoundFrames);
    for (auto& x : s) x = std::int16_t(d(rng));
  }
  return sounds;
}

struct Voices {
  explicit Voices(int rate) {
    backend::HeadlessBackend::InstallFresh();
    DirectSoundCreate(nullptr, &ds, nullptr);
    for (auto& s : MakeSounds()) {
      WAVEFORMATEX f{WAVE_FORMAT_PCM, 1, DWORD(rate), DWORD(rate * 2), 2, 16, 0};
      DSBUFFERDESC d{};
      d.dwSize = DSBUFFERDESC_SIZE;
      d.dwFlags = DSBCAPS_CTRLFREQUENCY | DSBCAPS_CTRLPAN | DSBCAPS_CTRLVOLUME;
      d.dwBufferBytes = DWORD(s.size() * 2);
      d.lpwfxFormat = &f;
      IDirectSoundBuffer* b = nullptr;
      ds->CreateSoundBuffer(&d, &b, nullptr);
      void *p1, *p2;
      DWORD s1, s2;
      b->Lock(0, d.dwBufferBytes, &p1, &s1, &p2, &s2, 0);
      std::memcpy(p1, s.data(), s1);
      b->Unlock(p1, s1, p2, s2);
      b->SetVolume(-300);
      b->Play(0, 0, DSBPLAY_LOOPING);
      buffers.push_back(b);
    }
  }
  ~Voices() {
    for (auto* b : buffers) b->Release();
    ds->Release();
  }
  IDirectSound* ds = nullptr;
  std::vector<IDirectSoundBuffer*> buffers;
};

// Renders blocks of the 32 voices at their rate.
void RenderVoices(benchmark::State& state, int rate) {
  Voices v(rate);
  std::vector<std::int16_t> out(kFrames * 2);
  auto& mixer = dsound::SoundMixer::Instance();
  for (auto _ : state) {
    mixer.Render(out.data(), kFrames);
    benchmark::DoNotOptimize(out.data());
  }
  state.counters["xRealTime"] =
      benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_Mixer32Voices(benchmark::State& state) { RenderVoices(state, 44100); }
BENCHMARK(BM_Mixer32Voices)->Unit(benchmark::kMicrosecond);

// Voices at 22050 Hz: every frame interpolated.
void BM_Mixer32VoicesResampled(benchmark::State& state) { RenderVoices(state, 22050); }
BENCHMARK(BM_Mixer32VoicesResampled)->Unit(benchmark::kMicrosecond);

// The baseline: the same samples summed in integers and clipped, no gains, no bookkeeping.
void BM_ReferenceLoop(benchmark::State& state) {
  const auto sounds = MakeSounds();
  std::vector<std::int32_t> acc(kFrames);
  std::vector<std::int16_t> out(kFrames * 2);
  for (auto _ : state) {
    std::fill(acc.begin(), acc.end(), 0);
    for (const auto& s : sounds)
      for (int i = 0; i < kFrames; ++i) acc[std::size_t(i)] += s[std::size_t(i % kSoundFrames)];
    for (int i = 0; i < kFrames; ++i) {
      const auto x = std::int16_t(std::clamp(acc[std::size_t(i)], -32768, 32767));
      out[2 * std::size_t(i)] = x;
      out[2 * std::size_t(i) + 1] = x;
    }
    benchmark::DoNotOptimize(out.data());
  }
  state.counters["xRealTime"] =
      benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ReferenceLoop)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
