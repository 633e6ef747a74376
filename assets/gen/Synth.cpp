#include "assets/gen/Synth.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace assets {

float Noise::Next() {
  state_ ^= state_ << 13;
  state_ ^= state_ >> 17;
  state_ ^= state_ << 5;
  return static_cast<float>(state_ >> 8) / 8388608.0f - 1.0f;
}

namespace {

constexpr double kTwoPi = 2 * std::numbers::pi;

// Second-order band-pass section (constant peak gain), run in place.
void BandPass(Mono& x, int rate, double freq, double q) {
  const double w = kTwoPi * freq / rate, alpha = std::sin(w) / (2 * q), c = std::cos(w);
  const double a0 = 1 + alpha;
  const double b0 = alpha / a0, b2 = -alpha / a0, a1 = -2 * c / a0, a2 = (1 - alpha) / a0;
  double x1 = 0, x2 = 0, y1 = 0, y2 = 0;
  for (float& s : x) {
    double in = s, out = b0 * in + b2 * x2 - a1 * y1 - a2 * y2;
    x2 = x1, x1 = in, y2 = y1, y1 = out;
    s = static_cast<float>(out);
  }
}

void HighPass(Mono& x, int rate, double freq) {
  const double rc = 1 / (kTwoPi * freq), dt = 1.0 / rate, a = rc / (rc + dt);
  double prevIn = 0, prevOut = 0;
  for (float& s : x) {
    double out = a * (prevOut + s - prevIn);
    prevIn = s, prevOut = out;
    s = static_cast<float>(out);
  }
}

void LowPass(Mono& x, int rate, double freq) {
  const double dt = 1.0 / rate, rc = 1 / (kTwoPi * freq), a = dt / (rc + dt);
  double y = 0;
  for (float& s : x) s = static_cast<float>(y += a * (s - y));
}

Mono Make(int rate, double seconds) { return Mono(static_cast<size_t>(rate * seconds), 0.0f); }

// A falling-pitch sine: the body of kicks and toms.
void Sweep(Mono& out, int rate, double f0, double f1, double fallTime, double decay, double gain) {
  double phase = 0;
  for (size_t i = 0; i < out.size(); ++i) {
    double t = static_cast<double>(i) / rate;
    double f = f1 + (f0 - f1) * std::exp(-t / fallTime);
    phase += kTwoPi * f / rate;
    out[i] += static_cast<float>(gain * std::sin(phase) * std::exp(-t / decay));
  }
}

void NoiseBurst(Mono& out, int rate, std::uint32_t seed, double decay, double gain) {
  Noise n(seed);
  for (size_t i = 0; i < out.size(); ++i)
    out[i] +=
        static_cast<float>(gain * n.Next() * std::exp(-static_cast<double>(i) / rate / decay));
}

// Six detuned square waves: the metallic ring of hi-hats, cymbals and cowbells.
Mono Metal(int rate, size_t n, const std::vector<double>& freqs) {
  Mono m(n, 0.0f);
  for (double f : freqs)
    for (size_t i = 0; i < n; ++i) m[i] += std::fmod(f * i / rate, 1.0) < 0.5 ? 0.15f : -0.15f;
  return m;
}

void Envelope(Mono& x, int rate, double decay) {
  for (size_t i = 0; i < x.size(); ++i)
    x[i] *= static_cast<float>(std::exp(-static_cast<double>(i) / rate / decay));
}

void Add(Mono& to, const Mono& from, double gain) {
  for (size_t i = 0; i < to.size() && i < from.size(); ++i)
    to[i] += static_cast<float>(gain * from[i]);
}

// A short noise click laid over a drum's body: the stick on the head, so low drums cut through.
void AddClick(Mono& out, int rate, double seconds, std::uint32_t seed, double decay, double gain) {
  Mono click = Make(rate, seconds);
  NoiseBurst(click, rate, seed, decay, gain);
  Add(out, click, 1.0);
}

void Normalise(Mono& x) {
  float peak = 0;
  for (float s : x) peak = std::max(peak, std::fabs(s));
  if (peak > 0)
    for (float& s : x) s *= 0.9f / peak;
  // Fade the last 5 ms so the tail ends without a click.
  const size_t fade = std::min<size_t>(x.size(), 220);
  for (size_t i = 0; i < fade; ++i) x[x.size() - 1 - i] *= static_cast<float>(i) / fade;
}

const std::vector<double> kMetal = {205.3, 304.4, 369.6, 522.7, 540.0, 800.0};

// A cymbal: the hi-hat's metal a fifth lower under a long wash of noise, `seconds` long and
// dying away by `decay`.
Mono StruckCymbal(int rate, double seconds, double decay) {
  Mono out = Make(rate, seconds);
  Mono metal =
      Metal(rate, out.size(),
            {205.3 * 1.5, 304.4 * 1.5, 369.6 * 1.5, 522.7 * 1.5, 540.0 * 1.5, 800.0 * 1.5});
  NoiseBurst(metal, rate, 51, 10.0, 0.6);
  HighPass(metal, rate, 3500);
  Envelope(metal, rate, decay);
  Add(out, metal, 1.0);
  return out;
}

}  // namespace

Mono Render(Voice v, int rate) {
  Mono out;
  switch (v) {
    case Voice::Kick:
      out = Make(rate, 0.45);
      Sweep(out, rate, 160, 48, 0.035, 0.16, 1.0);
      AddClick(out, rate, 0.01, 11, 0.0015, 0.6);
      break;
    case Voice::DeepBass:
      out = Make(rate, 0.7);
      Sweep(out, rate, 120, 38, 0.06, 0.3, 1.0);
      AddClick(out, rate, 0.01, 12, 0.002, 0.5);
      break;
    case Voice::Snare: {
      out = Make(rate, 0.35);
      Sweep(out, rate, 240, 180, 0.02, 0.06, 0.5);
      Mono noise = Make(rate, 0.35);
      NoiseBurst(noise, rate, 21, 0.11, 1.0);
      HighPass(noise, rate, 1200);
      Add(out, noise, 0.9);
      break;
    }
    case Voice::Tom:
      out = Make(rate, 0.6);
      Sweep(out, rate, 200, 95, 0.08, 0.22, 1.0);
      AddClick(out, rate, 0.012, 31, 0.003, 0.8);
      break;
    case Voice::HiHat: {
      out = Make(rate, 0.15);
      Mono metal = Metal(rate, out.size(), kMetal);
      NoiseBurst(metal, rate, 41, 1.0, 0.5);
      HighPass(metal, rate, std::min(7000.0, rate * 0.3));
      Envelope(metal, rate, 0.035);
      Add(out, metal, 1.0);
      break;
    }
    case Voice::Cymbal:
      out = StruckCymbal(rate, 1.8, 0.55);
      break;
    case Voice::ChokedCymbal:
      // Gone within a fifth of a second, so that the next hit of the music stands clear of it.
      out = StruckCymbal(rate, 0.25, 0.06);
      break;
    case Voice::Hit: {
      out = Make(rate, 0.5);
      for (double f : {220.0, 277.2, 329.6, 440.0, 659.3})
        for (size_t i = 0; i < out.size(); ++i) {
          double t = static_cast<double>(i) / rate;
          out[i] += static_cast<float>(0.3 * (2 * std::fmod(f * t, 1.0) - 1) * std::exp(-t / 0.14));
        }
      LowPass(out, rate, 3000);
      Mono noise = Make(rate, 0.05);
      NoiseBurst(noise, rate, 61, 0.015, 0.8);
      Add(out, noise, 1.0);
      break;
    }
    case Voice::Clap: {
      out = Make(rate, 0.35);
      Noise n(71);
      for (size_t i = 0; i < out.size(); ++i) {
        double t = static_cast<double>(i) / rate;
        double env = 0;
        for (double start : {0.0, 0.011, 0.022})
          if (t >= start) env = std::max(env, std::exp(-(t - start) / 0.004));
        if (t >= 0.03) env = std::max(env, 0.6 * std::exp(-(t - 0.03) / 0.09));
        out[i] = static_cast<float>(n.Next() * env);
      }
      BandPass(out, rate, 1100, 1.2);
      break;
    }
    case Voice::Kan: {
      out = Make(rate, 0.4);
      Mono metal = Metal(rate, out.size(), {587.0, 845.0});
      BandPass(metal, rate, 850, 1.5);
      for (size_t i = 0; i < metal.size(); ++i) {
        double t = static_cast<double>(i) / rate;
        metal[i] *= static_cast<float>(0.6 * std::exp(-t / 0.015) + 0.4 * std::exp(-t / 0.12));
      }
      Add(out, metal, 1.0);
      break;
    }
    case Voice::SmallHit:
      out = Make(rate, 0.12);
      for (size_t i = 0; i < out.size(); ++i) {
        double t = static_cast<double>(i) / rate;
        out[i] = static_cast<float>(std::sin(kTwoPi * 1300 * t) * std::exp(-t / 0.025));
      }
      {
        Mono noise = Make(rate, 0.12);
        NoiseBurst(noise, rate, 81, 0.01, 0.7);
        HighPass(noise, rate, 2000);
        Add(out, noise, 1.0);
      }
      break;
    case Voice::BigHit: {
      out = Make(rate, 0.9);
      Sweep(out, rate, 140, 45, 0.05, 0.25, 1.0);
      Mono crash = Make(rate, 0.9);
      NoiseBurst(crash, rate, 91, 0.3, 0.7);
      HighPass(crash, rate, 2500);
      Add(out, crash, 1.0);
      Mono hit = Render(Voice::Hit, rate);
      Add(out, hit, 0.6);
      break;
    }
    case Voice::End: {
      out = Make(rate, 1.8);
      Mono rumble = Make(rate, 1.8);
      NoiseBurst(rumble, rate, 101, 0.6, 1.0);
      LowPass(rumble, rate, 600);
      Add(out, rumble, 1.5);
      double phase = 0;
      for (size_t i = 0; i < out.size(); ++i) {
        double t = static_cast<double>(i) / rate;
        phase += kTwoPi * (40 + 360 * std::exp(-t / 0.4)) / rate;
        out[i] += static_cast<float>(0.6 * std::sin(phase) * std::exp(-t / 0.7));
      }
      break;
    }
  }
  Normalise(out);
  return out;
}

Mono WithPeak(Mono m, double peak) {
  float largest = 0;
  for (float s : m) largest = std::max(largest, std::fabs(s));
  if (largest > 0)
    for (float& s : m) s = static_cast<float>(s * (peak / largest));
  return m;
}

std::vector<std::uint8_t> WaveFile(const Mono& samples, int rate, int formatSize) {
  std::vector<std::uint8_t> v;
  auto put16 = [&v](std::uint32_t x) {
    v.push_back(x & 0xFF);
    v.push_back((x >> 8) & 0xFF);
  };
  auto put32 = [&](std::uint32_t x) {
    put16(x & 0xFFFF);
    put16(x >> 16);
  };
  auto tag = [&v](const char* s) {
    for (int i = 0; i < 4; ++i) v.push_back(static_cast<std::uint8_t>(s[i]));
  };
  const std::uint32_t dataSize = static_cast<std::uint32_t>(samples.size() * 2);
  v.reserve(28 + formatSize + dataSize);
  tag("RIFF");
  put32(4 + 8 + formatSize + 8 + dataSize);
  tag("WAVE");
  tag("fmt ");
  put32(formatSize);
  put16(1);  // PCM
  put16(1);  // mono
  put32(rate);
  put32(rate * 2);
  put16(2);
  put16(16);
  if (formatSize >= 18) put16(0);  // no extra format bytes
  tag("data");
  put32(dataSize);
  for (float s : samples) {
    long q = std::lround(std::clamp(s, -1.0f, 1.0f) * 32767.0f);
    put16(static_cast<std::uint32_t>(static_cast<std::int16_t>(q)) & 0xFFFF);
  }
  return v;
}

}  // namespace assets
