// Synthesised drums and hits for the programs' sounds and for the stage music, and the RIFF
// WAVE writer. Everything is computed from fixed seeds, so every run gives the same bytes.
#pragma once

#include <cstdint>
#include <vector>

namespace assets {

using Mono = std::vector<float>;

enum class Voice {
  Kick,
  Snare,
  Tom,
  HiHat,
  Cymbal,
  ChokedCymbal,  // the same metal, damped by hand soon after the hit
  Hit,
  Clap,
  Kan,
  DeepBass,  // the game's "Bass": a kick with a long, low tail
  SmallHit,
  BigHit,
  End,
};

// One hit of a voice at `rate` samples a second, peaking at 0.9 and starting on its first sample.
Mono Render(Voice v, int rate);

// `m` scaled so that its largest sample is `peak` (silence stays silent).
Mono WithPeak(Mono m, double peak);

// A complete RIFF WAVE file: PCM, mono, 16 bits, with a 16- or 18-byte format chunk.
std::vector<std::uint8_t> WaveFile(const Mono& samples, int rate, int formatSize);

// A small deterministic noise source.
class Noise {
 public:
  explicit Noise(std::uint32_t seed) : state_(seed ? seed : 1) {}
  float Next();  // uniform in [-1, 1)

 private:
  std::uint32_t state_;
};

}  // namespace assets
